#pragma once

#include <cstdint>

#include "detail/gpu/construct/function_knots.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Cubic kinds whose slope at a breakpoint depends only on the secants next
// to it.
enum class local_slope_rule { akima, bessel };

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

// The slopes at both ends of cell k. Akima's two slopes share the five
// secants around the cell.
template <local_slope_rule Rule, typename T, typename Knots>
void cell_slopes(const Knots& f, std::int64_t k, T& left, T& right) {
  if constexpr (Rule == local_slope_rule::akima) {
    T s[5];
    for (int q = 0; q < 5; ++q) s[q] = extended_secant(f, k - 2 + q);
    left = akima_slope(s[0], s[1], s[2], s[3]);
    right = akima_slope(s[1], s[2], s[3], s[4]);
  } else {
    left = bessel_slope(f, k);
    right = bessel_slope(f, k + 1);
  }
}

}  // namespace velora::qrx::experimental::data_fitting::detail
