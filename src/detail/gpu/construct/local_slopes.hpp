#pragma once

#include <cstdint>

#include "detail/gpu/construct/function_knots.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Cubic kinds whose slope at a breakpoint depends only on the secants next
// to it.
enum class local_slope_rule { akima, makima, bessel, pchip, steffen };

// Secant k of f for k in [-2, cells + 1]: the cells' own secants, and two
// more at each end by linear extrapolation, s[-1] = 2 s[0] - s[1],
// s[-2] = 2 s[-1] - s[0], and the same at the right end.
template <typename Knots>
auto extended_secant(const Knots& f, std::int64_t k) {
  const std::int64_t m = f.cells();
  if (k >= 0 && k < m) return f.secant(k);
  const bool left = k < 0;
  const auto inner = f.secant(left ? 0 : m - 1);
  const auto next = f.secant(left ? 1 : m - 2);
  const auto first_extra = decltype(inner)(2) * inner - next;
  const bool outermost = left ? k == -2 : k == m + 1;
  return outermost ? decltype(inner)(2) * first_extra - inner : first_extra;
}

// Akima's slope between secants s_left and s_right, weighted by how much the
// secants beyond them change, so that a straight run stays straight and an
// outlier bends only the cells next to it.
template <typename T>
T akima_slope(T s_far_left, T s_left, T s_right, T s_far_right) {
  const T w_left = magnitude(s_far_right - s_right);
  const T w_right = magnitude(s_left - s_far_left);
  const T weights = w_left + w_right;
  if (weights == T(0)) return T(0.5) * (s_left + s_right);
  return (w_left * s_left + w_right * s_right) / weights;
}

// The modified Akima slope: Akima's weights plus half the magnitude of each
// pair's sum, so a flat pair weighs nothing and equal secants keep their
// slope; zero where both weights are.
template <typename T>
T makima_slope(T s_far_left, T s_left, T s_right, T s_far_right) {
  const T w_left = magnitude(s_far_right - s_right) + T(0.5) * magnitude(s_far_right + s_right);
  const T w_right = magnitude(s_left - s_far_left) + T(0.5) * magnitude(s_left + s_far_left);
  const T weights = w_left + w_right;
  if (weights == T(0)) return T(0);
  return (w_left * s_left + w_right * s_right) / weights;
}

// PCHIP's slope between the secants sl, sr of cells of widths hl, hr: zero
// where the data turn or stop, otherwise the harmonic mean of the secants
// weighted towards the shorter cell, which keeps the curve monotone.
template <typename T>
T pchip_interior_slope(T sl, T sr, T hl, T hr) {
  if (sign_of(sl) * sign_of(sr) <= T(0)) return T(0);
  const T w_left = T(2) * hr + hl;
  const T w_right = hr + T(2) * hl;
  return (w_left + w_right) / (w_left / sl + w_right / sr);
}

// PCHIP's slope at an end from the end secant s0 (width h0) and the next one
// s1 (width h1): the three-point estimate, zero when it points against s0,
// cut to 3 s0 where the data turn and it is steeper than that.
template <typename T>
T pchip_end_slope(T s0, T s1, T h0, T h1) {
  const T d = ((T(2) * h0 + h1) * s0 - h0 * s1) / (h0 + h1);
  if (d != d) return d;
  if (sign_of(d) != sign_of(s0)) return T(0);
  if (sign_of(s0) != sign_of(s1) && magnitude(d) > T(3) * magnitude(s0)) return T(3) * s0;
  return d;
}

// Steffen's slope between the secants sl, sr of cells of widths hl, hr: the
// parabola's slope, limited to twice the smaller secant and to zero where
// the data turn, so that no cell leaves the range of its end values.
template <typename T>
T steffen_interior_slope(T sl, T sr, T hl, T hr) {
  const T p = (sl * hr + sr * hl) / (hl + hr);
  const T limit = smaller(smaller(magnitude(sl), magnitude(sr)), T(0.5) * magnitude(p));
  return (sign_of(sl) + sign_of(sr)) * limit;
}

// PCHIP's or Steffen's slope at breakpoint i from the two cells around it,
// or at an end from the end cells (Steffen: the end secant). Widths are
// relative: 1 on a uniform partition.
template <local_slope_rule Rule, typename Knots>
auto neighbour_slope(const Knots& f, std::int64_t i) {
  const std::int64_t m = f.cells();
  if (i == 0 || i == m) {
    const std::int64_t end = i == 0 ? 0 : m - 1;
    const std::int64_t next = i == 0 ? 1 : m - 2;
    if constexpr (Rule == local_slope_rule::steffen) {
      return f.secant(end);
    } else {
      return pchip_end_slope(f.secant(end), f.secant(next), f.relative_width(end), f.relative_width(next));
    }
  }
  const auto sl = f.secant(i - 1), sr = f.secant(i), hl = f.relative_width(i - 1), hr = f.relative_width(i);
  if constexpr (Rule == local_slope_rule::steffen) {
    return steffen_interior_slope(sl, sr, hl, hr);
  } else {
    return pchip_interior_slope(sl, sr, hl, hr);
  }
}

// Bessel's slope at breakpoint i: the derivative there of the parabola
// through i and its two neighbours, or at an end through the three end
// breakpoints.
template <typename Knots>
auto bessel_slope(const Knots& f, std::int64_t i) {
  const std::int64_t m = f.cells();
  if (i == 0) {
    const auto r0 = f.r(0);
    const auto r1 = f.r(1);
    const auto s0 = f.secant(0);
    return s0 + (s0 - f.secant(1)) * r1 / (r0 + r1);
  }
  if (i == m) {
    const auto r_last = f.r(m - 1);
    const auto r_before = f.r(m - 2);
    const auto s_last = f.secant(m - 1);
    return s_last + (s_last - f.secant(m - 2)) * r_before / (r_before + r_last);
  }
  const auto r_left = f.r(i - 1);
  const auto r_right = f.r(i);
  return (r_left * f.secant(i - 1) + r_right * f.secant(i)) / (r_left + r_right);
}

// The slopes at both ends of cell k. Akima's two slopes (and the modified
// rule's) share the five secants around the cell.
template <local_slope_rule Rule, typename T, typename Knots>
void cell_slopes(const Knots& f, std::int64_t k, T& left, T& right) {
  if constexpr (Rule == local_slope_rule::akima || Rule == local_slope_rule::makima) {
    T s[5];
    for (int q = 0; q < 5; ++q) s[q] = extended_secant(f, k - 2 + q);
    if constexpr (Rule == local_slope_rule::akima) {
      left = akima_slope(s[0], s[1], s[2], s[3]);
      right = akima_slope(s[1], s[2], s[3], s[4]);
    } else {
      left = makima_slope(s[0], s[1], s[2], s[3]);
      right = makima_slope(s[1], s[2], s[3], s[4]);
    }
  } else if constexpr (Rule == local_slope_rule::bessel) {
    left = bessel_slope(f, k);
    right = bessel_slope(f, k + 1);
  } else {
    left = neighbour_slope<Rule>(f, k);
    right = neighbour_slope<Rule>(f, k + 1);
  }
}

}  // namespace velora::qrx::experimental::data_fitting::detail
