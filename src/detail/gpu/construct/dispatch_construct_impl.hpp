#pragma once

// Definition of dispatch_construct; included only by the translation units
// that instantiate it, one per (FpType, SplineType).

#include <type_traits>

#include "data_fitting/spline_types.hpp"
#include "detail/gpu/construct/construct_args.hpp"
#include "detail/construct_hints.hpp"
#include "detail/gpu/construct/dispatch_construct.hpp"
#include "detail/gpu/construct/gpu_construct_1d_c2_spline.hpp"
#include "detail/gpu/construct/gpu_construct_1d_cubic_hermite.hpp"
#include "detail/gpu/construct/gpu_construct_1d_linear.hpp"
#include "detail/gpu/construct/gpu_construct_1d_local_slopes.hpp"
#include "detail/gpu/construct/partition_check.hpp"
#include "detail/gpu/fitting/gpu_construct_1d_least_squares.hpp"
#include "detail/gpu/fitting/gpu_construct_1d_smoothing.hpp"
#include "detail/spline_kind.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// What one construct call hands to the kernels of its kind.
template <typename T>
struct construct_call {
  sycl::queue& queue;
  const spline_description<T>& spline;
  construct_args<T> args;
  const std::vector<sycl::event>& dependencies;
  std::int32_t* periodic_flags;
  fitting_outcome fitting;
};

// The kernel family of each spline kind: launch<T, P, F> submits the
// instantiation for the layouts. Only
// what changes a kernel's shape is a template argument; the ends are values.
template <typename SplineType>
struct construct_family;

template <>
struct construct_family<linear_spline::default_type> {
  template <typename T, partition_hint P, function_hint F>
  static sycl::event launch(const construct_call<T>& c) {
    return gpu_construct_1d_linear<T, P, F>(c.queue, c.args, c.dependencies);
  }
};

template <>
struct construct_family<cubic_spline::hermite> {
  template <typename T, partition_hint P, function_hint F>
  static sycl::event launch(const construct_call<T>& c) {
    if (c.spline.has_first_derivatives()) {
      return gpu_construct_1d_hermite_own_slopes<T, P, F>(c.queue, c.args, c.dependencies);
    }
    construct_args<T> args = c.args;
    // Periodic: one slope, the left value, at both ends.
    if (c.spline.boundary == boundary_sum::periodic) args.right_value = args.left_value;
    return gpu_construct_1d_cubic_hermite<T, P, F>(c.queue, args, hermite_end_rules(c.spline.boundary),
                                                   c.periodic_flags, c.dependencies);
  }
};

template <local_slope_rule Rule, typename SplineType>
struct local_slopes_family {
  template <typename T, partition_hint P, function_hint F>
  static sycl::event launch(const construct_call<T>& c) {
    const bool given_ends = c.spline.boundary == boundary_sum::first_derivatives;
    return gpu_construct_1d_local_slopes<T, P, F, Rule>(c.queue, c.args, given_ends, c.dependencies);
  }
};

// Only periodicity changes the shape of the C2 solve; the other ends change
// the two end rows and are passed as values.
template <bool Hyman, typename SplineType>
struct c2_family {
  template <typename T, partition_hint P, function_hint F>
  static sycl::event launch(const construct_call<T>& c) {
    const c2_ends<T> ends = c2_ends_of(c.spline.boundary, c.args.left_value, c.args.right_value);
    if (c.spline.boundary == boundary_sum::periodic) {
      return gpu_construct_1d_c2_spline<T, P, F, Hyman, true>(c.queue, c.args, ends, c.periodic_flags,
                                                             c.dependencies);
    }
    return gpu_construct_1d_c2_spline<T, P, F, Hyman, false>(c.queue, c.args, ends, nullptr, c.dependencies);
  }
};

template <>
struct construct_family<cubic_spline::natural> : c2_family<false, cubic_spline::natural> {};
template <>
struct construct_family<cubic_spline::hyman> : c2_family<true, cubic_spline::hyman> {};
template <>
struct construct_family<cubic_spline::akima> : local_slopes_family<local_slope_rule::akima, cubic_spline::akima> {};
template <>
struct construct_family<cubic_spline::bessel> : local_slopes_family<local_slope_rule::bessel, cubic_spline::bessel> {};
template <>
struct construct_family<cubic_spline::pchip> : local_slopes_family<local_slope_rule::pchip, cubic_spline::pchip> {};
template <>
struct construct_family<cubic_spline::makima> : local_slopes_family<local_slope_rule::makima, cubic_spline::makima> {};
template <>
struct construct_family<cubic_spline::steffen>
    : local_slopes_family<local_slope_rule::steffen, cubic_spline::steffen> {};

// The fitting kinds: the ends are always natural, so only the layouts
// shape the kernels. Least squares reads the data in place of function
// values (F is the layout of the data).
template <>
struct construct_family<cubic_spline::smoothing> {
  template <typename T, partition_hint P, function_hint F>
  static sycl::event launch(const construct_call<T>& c) {
    const fit_description<T>& fit = c.spline.fit;
    // A negative lambda asks the kernels to choose each function's own.
    const T lambda = fit.smoothing == smoothing_rule::by_gcv ? T(-1) : fit.lambda;
    return gpu_construct_1d_smoothing<T, P, F>(c.queue, c.args, fit.weights, lambda, fit.chosen, c.fitting.fault,
                                               *c.fitting.kept, c.dependencies);
  }
};

template <>
struct construct_family<cubic_spline::least_squares> {
  template <typename T, partition_hint P, function_hint F>
  static sycl::event launch(const construct_call<T>& c) {
    const fit_description<T>& fit = c.spline.fit;
    return gpu_construct_1d_least_squares<T, P, F>(c.queue, c.args, fit.sites, fit.values, fit.ndata, fit.weights,
                                                   c.fitting.fault, *c.fitting.kept, c.dependencies);
  }
};

template <typename FpType, typename SplineType>
sycl::event dispatch_construct(sycl::queue& queue, const spline_description<FpType>& spline,
                               const std::vector<sycl::event>& dependencies, std::int32_t* periodic_flags,
                               std::int32_t* partition_faults, fitting_outcome fitting) {
  using family = construct_family<SplineType>;
  validate_construct_hints<typename spline_kind<SplineType>::boundary_kinds>(spline);
  const construct_call<FpType> call{queue,        spline, construct_args_of(spline), dependencies, periodic_flags,
                                    fitting};
  // The layout of the values the kernels read: the data's for least squares.
  const function_hint values_layout =
      spline_kind<SplineType>::fit == fit_kind::least_squares ? spline.fit.values_layout : spline.function_layout;

  // Every accepted pair of layouts has its own instantiation: the run-time
  // values are mapped one to one onto template arguments. The coefficient
  // layout and the internal-condition type select nothing: each has one
  // layout of the arrays.
  sycl::event event;
  select(construct_partition_hints{}, spline.partition_layout, [&](auto part) {
    select(construct_function_hints{}, values_layout, [&](auto func) {
      event = family::template launch<FpType, decltype(part)::value, decltype(func)::value>(call);
    });
  });
  // The partition check follows the kernels, once they were all accepted
  // (nothing may be left running behind a refusal), and finds the
  // breakpoints they have just read still in the caches. A pass of its own
  // reads each breakpoint once however many functions there are; checking
  // each cell's pair inside the cell kernels (with a reduction) measured as
  // slow with one function and grows with the functions.
  if (partition_faults == nullptr) return event;
  return gpu_check_partition(queue, spline.partition, spline.nx, spline.partition_layout, partition_faults, {event});
}

}  // namespace velora::qrx::experimental::data_fitting::detail
