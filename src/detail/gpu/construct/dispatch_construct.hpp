#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

namespace velora::qrx::experimental::data_fitting::detail {

// Maps the recorded hints and the accumulated boundary-condition kind of one
// spline onto one instantiation of the construction kernels of its kind
// (linear, cubic Hermite, C2 natural or Hyman, local Akima or Bessel) and
// submits it on `queue`, after `dependencies`. Refuses values without a
// kernel (invalid_argument, function "construct") and launch ranges of 2^31
// work-items or more (sycl::errc::nd_range) on the calling thread, before
// submitting anything. bc_values points at the left and the right boundary
// value, read now. periodic_flags (periodic natural and Hyman splines only,
// else null): ny entries of host memory that the kernels set to 1 for each
// function whose end values differ, else to 0.
// Defined for float and double and every spline kind.
template <typename FpType, typename SplineType>
sycl::event dispatch_construct(sycl::queue& queue, std::int64_t nx, std::int64_t ny, FpType* partitions,
                               FpType** functions, FpType** coeffs, const std::vector<sycl::event>& dependencies,
                               std::int64_t coeff_hint, std::int64_t func_hint, std::int64_t part_hint,
                               FpType* internal_conditions, std::int64_t ic_type, FpType* bc_values,
                               std::int64_t bc_type, std::int32_t* periodic_flags = nullptr);

}  // namespace velora::qrx::experimental::data_fitting::detail
