#pragma once

// Definition of dispatch_construct; included only by the translation units
// that instantiate it, one per (FpType, SplineType).

#include <type_traits>

#include "data_fitting/spline_types.hpp"
#include "detail/gpu/construct/construct_hints.hpp"
#include "detail/gpu/construct/dispatch_construct.hpp"
#include "detail/gpu/construct/gpu_construct_1d_cubic_hermite.hpp"
#include "detail/gpu/construct/gpu_construct_1d_linear.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename FpType, typename SplineType>
sycl::event dispatch_construct(sycl::queue& queue, std::int64_t nx, std::int64_t ny, FpType* partitions,
                               FpType** functions, FpType** coeffs, const std::vector<sycl::event>& dependencies,
                               std::int64_t coeff_hint, std::int64_t func_hint, std::int64_t part_hint,
                               FpType* internal_conditions, std::int64_t ic_type, FpType* bc_values,
                               std::int64_t bc_type) {
  validate_construct_hints(coeff_hint, func_hint, part_hint, ic_type, bc_type);

  // Every accepted combination has its own instantiation: the run-time
  // values are mapped one to one onto template arguments. ic_type selects
  // nothing: both values read the same internal conditions.
  sycl::event event;
  select(construct_partition_hints{}, static_cast<partition_hint>(part_hint), [&](auto part) {
    select(construct_function_hints{}, static_cast<function_hint>(func_hint), [&](auto func) {
      select(construct_coefficient_hints{}, static_cast<coefficient_hint>(coeff_hint), [&](auto coeff) {
        constexpr partition_hint P = decltype(part)::value;
        constexpr function_hint F = decltype(func)::value;
        constexpr coefficient_hint C = decltype(coeff)::value;
        if constexpr (std::is_same_v<SplineType, linear_spline::default_type>) {
          event = gpu_construct_1d_linear<FpType, P, F, C>(queue, nx, ny, partitions, functions, coeffs,
                                                           dependencies);
        } else {
          select(construct_boundary_condition_kinds{}, static_cast<long long>(bc_type), [&](auto bc) {
            event = gpu_construct_1d_cubic_hermite<FpType, P, F, C, decltype(bc)::value>(
                queue, nx, ny, partitions, functions, coeffs, dependencies, internal_conditions, bc_values[0],
                bc_values[1]);
          });
        }
      });
    });
  });
  return event;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
