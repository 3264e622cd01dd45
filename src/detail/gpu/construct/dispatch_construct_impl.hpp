#pragma once

// Definition of dispatch_construct; included only by the translation units
// that instantiate it, one per (FpType, SplineType).

#include <type_traits>

#include "data_fitting/spline_types.hpp"
#include "detail/gpu/construct/construct_hints.hpp"
#include "detail/gpu/construct/dispatch_construct.hpp"
#include "detail/gpu/construct/gpu_construct_1d_c2_spline.hpp"
#include "detail/gpu/construct/gpu_construct_1d_cubic_hermite.hpp"
#include "detail/gpu/construct/gpu_construct_1d_linear.hpp"
#include "detail/gpu/construct/gpu_construct_1d_local_slopes.hpp"
#include "detail/spline_base/spline_kind.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// What one construct call hands to the kernels of its kind.
template <typename T>
struct construct_call {
  sycl::queue& queue;
  std::int64_t nx, ny;
  T* partitions;
  T** functions;
  T** coeffs;
  const std::vector<sycl::event>& dependencies;
  T* internal_conditions;
  T left, right;  // boundary values
  long long bc;   // accumulated boundary-condition kind, already validated
  std::int32_t* periodic_flags;
};

// The kernel family of each spline kind, with the boundary-condition kinds
// it accepts. launch<T, P, F, C> submits the instantiation for the hints;
// boundary-condition kinds that change the kernel's shape are template
// arguments too.
template <typename SplineType>
struct construct_family;

template <>
struct construct_family<linear_spline::default_type> {
  using boundary_kinds = construct_boundary_condition_kinds;
  template <typename T, partition_hint P, function_hint F, coefficient_hint C>
  static sycl::event launch(const construct_call<T>& c) {
    return gpu_construct_1d_linear<T, P, F, C>(c.queue, c.nx, c.ny, c.partitions, c.functions, c.coeffs,
                                               c.dependencies);
  }
};

template <>
struct construct_family<cubic_spline::hermite> {
  using boundary_kinds = construct_boundary_condition_kinds;
  template <typename T, partition_hint P, function_hint F, coefficient_hint C>
  static sycl::event launch(const construct_call<T>& c) {
    sycl::event event;
    select(boundary_kinds{}, c.bc, [&](auto bc) {
      event = gpu_construct_1d_cubic_hermite<T, P, F, C, decltype(bc)::value>(
          c.queue, c.nx, c.ny, c.partitions, c.functions, c.coeffs, c.dependencies, c.internal_conditions, c.left,
          c.right);
    });
    return event;
  }
};

template <local_slope_rule Rule, typename SplineType>
struct local_slopes_family {
  using boundary_kinds = typename spline_kind<SplineType>::boundary_kinds;
  template <typename T, partition_hint P, function_hint F, coefficient_hint C>
  static sycl::event launch(const construct_call<T>& c) {
    sycl::event event;
    select(boundary_kinds{}, c.bc, [&](auto bc) {
      event = gpu_construct_1d_local_slopes<T, P, F, C, Rule, decltype(bc)::value>(
          c.queue, c.nx, c.ny, c.partitions, c.functions, c.coeffs, c.dependencies, c.left, c.right);
    });
    return event;
  }
};

// Only periodicity changes the shape of the C2 solve; the other kinds change
// the two end rows and are passed as values.
template <bool Hyman, typename SplineType>
struct c2_family {
  using boundary_kinds = typename spline_kind<SplineType>::boundary_kinds;
  template <typename T, partition_hint P, function_hint F, coefficient_hint C>
  static sycl::event launch(const construct_call<T>& c) {
    const c2_ends<T> ends = c2_ends_of(c.bc, c.left, c.right);
    if (c.bc == 64) {
      return gpu_construct_1d_c2_spline<T, P, F, C, Hyman, true>(c.queue, c.nx, c.ny, c.partitions, c.functions,
                                                                 c.coeffs, c.dependencies, ends, c.periodic_flags);
    }
    return gpu_construct_1d_c2_spline<T, P, F, C, Hyman, false>(c.queue, c.nx, c.ny, c.partitions, c.functions,
                                                                c.coeffs, c.dependencies, ends, nullptr);
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

template <typename FpType, typename SplineType>
sycl::event dispatch_construct(sycl::queue& queue, std::int64_t nx, std::int64_t ny, FpType* partitions,
                               FpType** functions, FpType** coeffs, const std::vector<sycl::event>& dependencies,
                               std::int64_t coeff_hint, std::int64_t func_hint, std::int64_t part_hint,
                               FpType* internal_conditions, std::int64_t ic_type, FpType* bc_values,
                               std::int64_t bc_type, std::int32_t* periodic_flags) {
  using family = construct_family<SplineType>;
  validate_construct_hints<typename family::boundary_kinds>(coeff_hint, func_hint, part_hint, ic_type, bc_type);
  const construct_call<FpType> call{queue,       nx,   ny, partitions, functions, coeffs, dependencies,
                                    internal_conditions, bc_values[0], bc_values[1], static_cast<long long>(bc_type),
                                    periodic_flags};

  // Every accepted combination of hints has its own instantiation: the
  // run-time values are mapped one to one onto template arguments. ic_type
  // selects nothing: both values read the same internal conditions.
  sycl::event event;
  select(construct_partition_hints{}, static_cast<partition_hint>(part_hint), [&](auto part) {
    select(construct_function_hints{}, static_cast<function_hint>(func_hint), [&](auto func) {
      select(construct_coefficient_hints{}, static_cast<coefficient_hint>(coeff_hint), [&](auto coeff) {
        event = family::template launch<FpType, decltype(part)::value, decltype(func)::value, decltype(coeff)::value>(
            call);
      });
    });
  });
  return event;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
