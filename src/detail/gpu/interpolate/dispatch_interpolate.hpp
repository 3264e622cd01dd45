#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

namespace velora::qrx::experimental::data_fitting::detail {

// Maps the run-time hints of one interpolate call onto one instantiation of
// gpu_linear_interpolate / gpu_cubic_interpolate and submits it on `queue`.
// Validates on the calling thread before anything is submitted (unknown hint
// values, null arrays, negative nsites, launch ranges of 2^31 work-items or
// more). Defined for the four (FpType, SplineType) instantiations.
template <typename FpType, typename SplineType>
sycl::event dispatch_interpolate(sycl::queue& queue, std::int64_t nx, std::int64_t ny, FpType* partitions,
                                 FpType** coeffs, FpType* sites, std::int64_t nsites, FpType* results,
                                 std::int32_t der_count, const std::int32_t* der_indicators,
                                 const std::vector<sycl::event>& dependencies, std::int64_t part_hint,
                                 std::int64_t site_hint, std::int64_t interp_hint);

}  // namespace velora::qrx::experimental::data_fitting::detail
