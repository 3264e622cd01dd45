#pragma once

#include <cstdint>
#include <limits>

#include "data_fitting/extrapolation.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// What an evaluation gives outside the partition [a, b], per side. Plain
// values: GPU kernels capture it, the CPU back-end's host work copies it.
struct outside_modes {
  extrapolation left = extrapolation::extend;
  extrapolation right = extrapolation::extend;

  bool periodic() const { return left == extrapolation::periodic; }
  // Whether some site outside [a, b] gets anything but the end cell's
  // polynomial.
  bool replace_extension() const { return left != extrapolation::extend || right != extrapolation::extend; }
};

// How one site is evaluated.
enum class site_treatment : std::int32_t {
  polynomial,    // its cell's polynomial at `at`
  end_constant,  // the end's value at `at` (an end), every derivative 0
  end_linear,    // the end's value plus its first derivative times `offset`
  not_a_number,  // NaN in every order
};

template <typename T>
struct site_plan {
  site_treatment how;
  T at;      // where a polynomial is evaluated
  T offset;  // end_linear: the site's distance from the end `at`
};

// Site x written as a + whole*(b - a) + r with r in [a, b) (`moved`, the
// site moved by whole periods into the partition). moved is NaN for a site
// that is not finite or more than 2^52 periods away, where no period count
// is exact. Written without the math library, which kernels may not call on
// every SYCL implementation.
template <typename T>
struct period_split {
  std::int64_t whole;
  T moved;
};

template <typename T>
period_split<T> split_by_period(T x, T a, T b) {
  const T period = b - a;
  const T periods = (x - a) / period;
  if (!(periods < T(4503599627370496.0) && periods > T(-4503599627370496.0))) {
    return {0, std::numeric_limits<T>::quiet_NaN()};
  }
  if (periods >= T(0) && periods < T(1)) return {0, x};
  auto whole = static_cast<std::int64_t>(periods);  // toward zero
  if (static_cast<T>(whole) > periods) whole -= 1;  // toward minus infinity
  T moved = (x - a) - static_cast<T>(whole) * period + a;
  // Rounding may leave the site a hair outside.
  if (moved >= b) {
    moved -= period;
    whole += 1;
  }
  if (moved < a) moved = a;
  return {whole, moved};
}

// Site x moved by whole periods (b - a) into [a, b); NaN where
// split_by_period gives NaN.
template <typename T>
T moved_into_period(T x, T a, T b) {
  return split_by_period(x, a, b).moved;
}

// The plan for site x of a spline on [a, b].
template <typename T>
site_plan<T> plan_site(outside_modes modes, T a, T b, T x) {
  if (x != x) return {site_treatment::not_a_number, x, T(0)};
  if (modes.periodic()) {
    if (x >= a && x < b) return {site_treatment::polynomial, x, T(0)};
    const T moved = moved_into_period(x, a, b);
    return {moved == moved ? site_treatment::polynomial : site_treatment::not_a_number, moved, T(0)};
  }
  const bool left = x < a;
  const bool right = x > b;
  if (!left && !right) return {site_treatment::polynomial, x, T(0)};
  const T end = left ? a : b;
  switch (left ? modes.left : modes.right) {
    case extrapolation::constant: return {site_treatment::end_constant, end, T(0)};
    case extrapolation::linear: return {site_treatment::end_linear, end, x - end};
    case extrapolation::nan: return {site_treatment::not_a_number, x, T(0)};
    default: return {site_treatment::polynomial, x, T(0)};
  }
}

// Order d (0..3) of a site treated as planned, from the cell polynomial's
// value and first derivative at `at` (p0, p1) and its own order d there (pd).
template <typename T>
T treated_order(const site_plan<T>& plan, int d, T p0, T p1, T pd) {
  switch (plan.how) {
    case site_treatment::end_constant: return d == 0 ? p0 : T(0);
    case site_treatment::end_linear: return d == 0 ? p0 + p1 * plan.offset : d == 1 ? p1 : T(0);
    case site_treatment::not_a_number: return std::numeric_limits<T>::quiet_NaN();
    default: return pd;
  }
}

}  // namespace velora::qrx::experimental::data_fitting::detail
