#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "detail/outside_modes.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Maps the run-time hints of one interpolate call onto one instantiation of
// gpu_linear_interpolate / gpu_cubic_interpolate and submits it on `queue`:
// one command group that depends on `dependencies`, one work-item per site
// and block of functions: `block` functions, or when block is 0 as many as
// function_block(nsites, ny) picks. Order d is evaluated when d < der_count
// and der_indicators[d] == 1; the flags are copied before the call returns.
// Validates on the calling thread before anything is submitted and throws
// invalid_argument for an unknown interpolate, site or partition hint (in
// that order), a negative nsites, or null sites / results when there is work,
// and sycl::exception (errc::nd_range) for 2^31 (function, site) pairs or more.
// nsites = 0 submits a command group without work and writes nothing.
// With `refused` (host memory the kernels read when they run) non-zero, the
// kernels write nothing. `outside` says what sites outside the partition
// get (and every NaN site gets NaN).
// Defined for float and double, linear_spline::default_type and
// cubic_spline::hermite.
template <typename FpType, typename SplineType>
sycl::event dispatch_interpolate(sycl::queue& queue, std::int64_t nx, std::int64_t ny, FpType* partitions,
                                 FpType** coeffs, FpType* sites, std::int64_t nsites, FpType* results,
                                 std::int32_t der_count, const std::int32_t* der_indicators,
                                 const std::vector<sycl::event>& dependencies, std::int64_t part_hint,
                                 std::int64_t site_hint, std::int64_t interp_hint,
                                 const std::int32_t* refused = nullptr, std::int64_t block = 0,
                                 outside_modes outside = {});

}  // namespace velora::qrx::experimental::data_fitting::detail
