#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

namespace velora::qrx::experimental::data_fitting::detail {

// Maps the recorded hints and the accumulated boundary-condition kind of one
// spline onto one instantiation of gpu_construct_1d_linear or
// gpu_construct_1d_cubic_hermite and submits it on `queue`, after
// `dependencies`. Refuses values without a kernel (invalid_argument,
// function "construct") and launch ranges of 2^31 work-items or more
// (sycl::errc::nd_range) on the calling thread, before submitting anything.
// bc_values points at the left and the right boundary value, read now.
// Defined for the four (FpType, SplineType) instantiations.
template <typename FpType, typename SplineType>
sycl::event dispatch_construct(sycl::queue& queue, std::int64_t nx, std::int64_t ny, FpType* partitions,
                               FpType** functions, FpType** coeffs, const std::vector<sycl::event>& dependencies,
                               std::int64_t coeff_hint, std::int64_t func_hint, std::int64_t part_hint,
                               FpType* internal_conditions, std::int64_t ic_type, FpType* bc_values,
                               std::int64_t bc_type);

}  // namespace velora::qrx::experimental::data_fitting::detail
