#pragma once

#include <cstdint>

#include "data_fitting/spline_types.hpp"
#include "detail/spline_conditions.hpp"
#include "detail/value_list.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace velora::qrx::experimental::data_fitting::detail {

// What the rest of the library needs to know about a spline kind:
//   name              how messages name it
//   coeffs_per_cell   coefficients stored per cell and function
//   evaluated_as      the kind whose interpolation kernels evaluate it (every
//                     cubic kind stores the cubic Hermite layout)
//   needs_conditions  whether construct needs internal and boundary
//                     conditions, or every function's first derivatives,
//                     recorded (only Hermite)
//   boundary_kinds    the boundary-condition sums construct accepts,
//                     checked on the calling thread on both back-ends
//   checks_periodic_ends  whether construct refuses periodic conditions on
//                     functions whose end values differ (on both back-ends)
//   fit               interpolation, or a fit to data: smoothing (the
//                     values at the breakpoints and a smoothing parameter)
//                     or least squares (data of their own, no values at
//                     the breakpoints)
//   cpu_order, cpu_type  how the CPU kernels name the kind
// Hermite: no end rule, kind_1 and kind_128 (the end cells are
// quadratics), free ends, one left with one right kind, periodic.
enum class fit_kind { interpolation, smoothing, least_squares };

using hermite_boundary_kinds =
    value_list<boundary_sum, boundary_sum::none, boundary_sum::kind_1, boundary_sum::free_end,
               boundary_sum::first_derivatives, boundary_sum::second_left_first_right,
               boundary_sum::first_left_second_right, boundary_sum::second_derivatives, boundary_sum::periodic,
               boundary_sum::kind_128>;
template <typename SplineType>
struct spline_kind;

template <>
struct spline_kind<linear_spline::default_type> {
  static constexpr const char* name = "linear_spline::default_type";
  static constexpr std::int64_t coeffs_per_cell = 2;
  using evaluated_as = linear_spline::default_type;
  static constexpr bool needs_conditions = false;
  using boundary_kinds = hermite_boundary_kinds;  // what Hermite takes; it has no setter
  static constexpr bool checks_periodic_ends = false;
  static constexpr fit_kind fit = fit_kind::interpolation;
  static constexpr std::int64_t cpu_order = QRX_DF_ORDER_LINEAR;
  static constexpr std::int64_t cpu_type = QRX_DF_LINEAR_DEFAULT;
};

struct cubic_kind {
  static constexpr std::int64_t coeffs_per_cell = 4;
  using evaluated_as = cubic_spline::hermite;
  static constexpr bool needs_conditions = false;
  static constexpr bool checks_periodic_ends = false;
  static constexpr fit_kind fit = fit_kind::interpolation;
  static constexpr std::int64_t cpu_order = QRX_DF_ORDER_CUBIC;
};

// Free ends, one left with one right kind, periodic, not-a-knot.
using c2_boundary_kinds =
    value_list<boundary_sum, boundary_sum::none, boundary_sum::free_end, boundary_sum::first_derivatives,
               boundary_sum::second_left_first_right, boundary_sum::first_left_second_right,
               boundary_sum::second_derivatives, boundary_sum::periodic, boundary_sum::not_a_knot>;
// The kind's own end slopes, or both end slopes given.
using local_boundary_kinds = value_list<boundary_sum, boundary_sum::none, boundary_sum::first_derivatives>;

// The kinds whose slopes follow a rule on the secants near each breakpoint.
struct local_cubic_kind : cubic_kind {
  using boundary_kinds = local_boundary_kinds;
};

template <>
struct spline_kind<cubic_spline::hermite> : cubic_kind {
  static constexpr const char* name = "cubic_spline::hermite";
  static constexpr bool needs_conditions = true;
  using boundary_kinds = hermite_boundary_kinds;
  static constexpr bool checks_periodic_ends = true;
  static constexpr std::int64_t cpu_type = QRX_DF_CUBIC_HERMITE;
};

template <>
struct spline_kind<cubic_spline::natural> : cubic_kind {
  static constexpr const char* name = "cubic_spline::natural";
  using boundary_kinds = c2_boundary_kinds;
  static constexpr bool checks_periodic_ends = true;
  static constexpr std::int64_t cpu_type = QRX_DF_CUBIC_NATURAL;
};

template <>
struct spline_kind<cubic_spline::akima> : local_cubic_kind {
  static constexpr const char* name = "cubic_spline::akima";
  static constexpr std::int64_t cpu_type = QRX_DF_CUBIC_AKIMA;
};

template <>
struct spline_kind<cubic_spline::bessel> : local_cubic_kind {
  static constexpr const char* name = "cubic_spline::bessel";
  static constexpr std::int64_t cpu_type = QRX_DF_CUBIC_BESSEL;
};

template <>
struct spline_kind<cubic_spline::hyman> : cubic_kind {
  static constexpr const char* name = "cubic_spline::hyman";
  using boundary_kinds = c2_boundary_kinds;
  static constexpr bool checks_periodic_ends = true;
  static constexpr std::int64_t cpu_type = QRX_DF_CUBIC_HYMAN;
};

template <>
struct spline_kind<cubic_spline::pchip> : local_cubic_kind {
  static constexpr const char* name = "cubic_spline::pchip";
  static constexpr std::int64_t cpu_type = QRX_DF_CUBIC_PCHIP;
};

template <>
struct spline_kind<cubic_spline::makima> : local_cubic_kind {
  static constexpr const char* name = "cubic_spline::makima";
  static constexpr std::int64_t cpu_type = QRX_DF_CUBIC_MAKIMA;
};

template <>
struct spline_kind<cubic_spline::steffen> : local_cubic_kind {
  static constexpr const char* name = "cubic_spline::steffen";
  static constexpr std::int64_t cpu_type = QRX_DF_CUBIC_STEFFEN;
};

// Natural ends only: none recorded, or free ends (whose values are ignored:
// the second derivative is zero at both ends).
template <>
struct spline_kind<cubic_spline::smoothing> : cubic_kind {
  static constexpr const char* name = "cubic_spline::smoothing";
  using boundary_kinds = value_list<boundary_sum, boundary_sum::none, boundary_sum::free_end>;
  static constexpr fit_kind fit = fit_kind::smoothing;
  static constexpr std::int64_t cpu_type = QRX_DF_CUBIC_SMOOTHING;
};

// The knots and the data determine the spline: no end conditions.
template <>
struct spline_kind<cubic_spline::least_squares> : cubic_kind {
  static constexpr const char* name = "cubic_spline::least_squares";
  using boundary_kinds = value_list<boundary_sum, boundary_sum::none>;
  static constexpr fit_kind fit = fit_kind::least_squares;
  static constexpr std::int64_t cpu_type = QRX_DF_CUBIC_LEAST_SQUARES;
};

}  // namespace velora::qrx::experimental::data_fitting::detail
