#pragma once

#include <cstdint>

#include "detail/gpu/construct/function_knots.hpp"
#include "detail/spline_conditions.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// The slopes d[0..m] of the cubic spline with continuous second derivative
// (m = nx - 1 cells) solve a tridiagonal system. Interior row i, with the
// reciprocal widths r and secants s of the cells on either side:
//   r[i-1] d[i-1] + 2 (r[i-1] + r[i]) d[i] + r[i] d[i+1] = 3 (r[i-1] s[i-1] + r[i] s[i])
// Rows 0 and m close the ends; a periodic spline has no end rows and wraps
// around instead (d[m] = d[0]).

// How one end is closed.
enum class end_kind : std::int32_t {
  curvature,   // second derivative given (0: a free end)
  slope,       // first derivative given
  not_a_knot,  // third derivative continuous at the next breakpoint
};

template <typename T>
struct end_condition {
  end_kind kind;
  T value;
};

template <typename T>
struct c2_ends {
  end_condition<T> left;
  end_condition<T> right;
};

// The ends of a boundary-condition sum other than periodic: none and
// free_end free, one left with one right kind, not-a-knot.
template <typename T>
c2_ends<T> c2_ends_of(boundary_sum bc, T left_value, T right_value) {
  if (bc == boundary_sum::not_a_knot) return {{end_kind::not_a_knot, T(0)}, {end_kind::not_a_knot, T(0)}};
  const bool slope_left = holds(bc, bc_type::first_left_der);
  const bool slope_right = holds(bc, bc_type::first_right_der);
  const bool curvature_left = holds(bc, bc_type::second_left_der);
  const bool curvature_right = holds(bc, bc_type::second_right_der);
  c2_ends<T> ends{{end_kind::curvature, T(0)}, {end_kind::curvature, T(0)}};
  if (slope_left || curvature_left) ends.left = {slope_left ? end_kind::slope : end_kind::curvature, left_value};
  if (slope_right || curvature_right) {
    ends.right = {slope_right ? end_kind::slope : end_kind::curvature, right_value};
  }
  return ends;
}

// One row: a d[i-1] + b d[i] + c d[i+1] = rhs.
template <typename T>
struct system_row {
  T a, b, c, rhs;
};

template <typename T, typename Knots>
system_row<T> interior_row(const Knots& f, std::int64_t left_cell, std::int64_t right_cell) {
  const T rl = f.r(left_cell);
  const T rr = f.r(right_cell);
  return {rl, T(2) * (rl + rr), rr, T(3) * (rl * f.secant(left_cell) + rr * f.secant(right_cell))};
}

// Row 0. Not-a-knot with three breakpoints would be singular: the spline is
// then the parabola through them, whose end slope is given instead.
template <typename T, typename Knots>
system_row<T> left_end_row(const Knots& f, const end_condition<T>& end) {
  const T r0 = f.r(0);
  const T s0 = f.secant(0);
  if (end.kind == end_kind::slope) return {T(0), T(1), T(0), end.value};
  if (end.kind == end_kind::curvature) return {T(0), T(2), T(1), T(3) * s0 - T(0.5) * end.value / r0};
  const T r1 = f.r(1);
  const T s1 = f.secant(1);
  if (f.cells() == 2) return {T(0), T(1), T(0), s0 + (s0 - s1) * r1 / (r0 + r1)};
  return {T(0), r0, r0 + r1, ((T(2) * r0 + T(3) * r1) * r0 * s0 + r1 * r1 * s1) / (r0 + r1)};
}

// Row m, the mirror image of row 0.
template <typename T, typename Knots>
system_row<T> right_end_row(const Knots& f, const end_condition<T>& end) {
  const std::int64_t m = f.cells();
  const T r0 = f.r(m - 1);
  const T s0 = f.secant(m - 1);
  if (end.kind == end_kind::slope) return {T(0), T(1), T(0), end.value};
  if (end.kind == end_kind::curvature) return {T(1), T(2), T(0), T(3) * s0 + T(0.5) * end.value / r0};
  const T r1 = f.r(m - 2);
  const T s1 = f.secant(m - 2);
  if (m == 2) return {T(0), T(1), T(0), s0 + (s0 - s1) * r1 / (r0 + r1)};
  return {r0 + r1, r0, T(0), ((T(2) * r0 + T(3) * r1) * r0 * s0 + r1 * r1 * s1) / (r0 + r1)};
}

// Row i of the system (i in [0, m], or [0, m) when periodic).
template <bool Periodic, typename T, typename Knots>
system_row<T> row_of(const Knots& f, const c2_ends<T>& ends, std::int64_t i) {
  const std::int64_t m = f.cells();
  if constexpr (Periodic) {
    return interior_row<T>(f, i == 0 ? m - 1 : i - 1, i);
  } else {
    if (i == 0) return left_end_row(f, ends.left);
    if (i == m) return right_end_row(f, ends.right);
    return interior_row<T>(f, i - 1, i);
  }
}

// Hyman's filter: a slope between secants of one sign keeps that sign and
// is at most 3 times the smaller secant in magnitude; anything else becomes
// 0. Slopes in this range keep every monotone cell monotone. A NaN slope or
// secant stays NaN: the filter never hides a bad value.
template <typename T>
T hyman_limit(T d, T s_left, T s_right) {
  if (d != d || s_left != s_left || s_right != s_right) return d + s_left + s_right;
  if (s_left > T(0) && s_right > T(0)) {
    const T bound = T(3) * (s_left < s_right ? s_left : s_right);
    return d > T(0) ? (d < bound ? d : bound) : T(0);
  }
  if (s_left < T(0) && s_right < T(0)) {
    const T bound = T(3) * (s_left > s_right ? s_left : s_right);
    return d < T(0) ? (d > bound ? d : bound) : T(0);
  }
  return T(0);
}

// The slope written at breakpoint i: as solved, or through Hyman's filter
// against the secants next to it (the one end secant at an end, both
// secants around the joined ends of a periodic spline).
template <bool Hyman, bool Periodic, typename T, typename Knots>
T filtered_slope(const Knots& f, std::int64_t i, T d) {
  if constexpr (!Hyman) {
    return d;
  } else {
    const std::int64_t m = f.cells();
    if (i == 0 || i == m) {
      if constexpr (Periodic) return hyman_limit(d, f.secant(m - 1), f.secant(0));
      const T s = f.secant(i == 0 ? 0 : m - 1);
      return hyman_limit(d, s, s);
    }
    return hyman_limit(d, f.secant(i - 1), f.secant(i));
  }
}

}  // namespace velora::qrx::experimental::data_fitting::detail
