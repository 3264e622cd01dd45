#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/calculus/calculus_args.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Elements of the integral table of nx breakpoints and ny functions.
inline std::int64_t integral_table_elements(std::int64_t nx, std::int64_t ny) { return 2 * nx * ny; }

// Submits the build of the integral table (2*nx*ny elements at `table`)
// after `dependencies` for the partition `layout`; returns its last event.
// Throws sycl::exception (errc::nd_range) for 2^31 work-items or more.
template <typename FpType>
sycl::event dispatch_integral_table(sycl::queue& queue, const calculus_spline<FpType>& spline,
                                    partition_hint layout, FpType* table,
                                    const std::vector<sycl::event>& dependencies);

// Submits one work-item per (function, interval) writing results[j*n + i],
// after `dependencies`, which must include the table's build. n = 0 submits
// a command group without work.
template <typename FpType>
sycl::event dispatch_integrate(sycl::queue& queue, const calculus_spline<FpType>& spline, partition_hint layout,
                               const FpType* table, const FpType* lower, const FpType* upper, std::int64_t n,
                               FpType* results, const std::vector<sycl::event>& dependencies);

}  // namespace velora::qrx::experimental::data_fitting::detail
