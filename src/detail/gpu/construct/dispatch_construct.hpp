#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "detail/gpu/backend/kept_until_complete.hpp"
#include "detail/spline_description.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Where the work of a fitting construction (smoothing, least squares)
// reports and keeps what it needs: `fault`, one flag of host memory that
// the work sets to the fitting_fault bits it finds; `kept`, which holds the
// work's scratch memory until the work has completed.
struct fitting_outcome {
  std::int32_t* fault = nullptr;
  kept_until_complete* kept = nullptr;
};

// Maps the layouts and the boundary conditions of the described spline onto
// one instantiation of the construction kernels of its kind (linear, cubic
// Hermite, C2 natural or Hyman, local Akima or Bessel) and submits it on
// `queue`, after `dependencies`. Refuses values without a kernel
// (invalid_argument, function "construct") and launch ranges of 2^31
// work-items or more (sycl::errc::nd_range) on the calling thread, before
// submitting anything. Everything the kernels need is copied from `spline`
// now, except the arrays behind its pointers. periodic_flags (periodic
// natural, Hyman and Hermite splines only, else null): ny entries of host
// memory that the kernels set to 1 for each function whose end values
// differ, else to 0. partition_faults (or null): partition_check_items
// entries of host memory that the work sets to the faults it finds in each
// run of breakpoints (partition_fault bits). fitting: for the fitting kinds
// only. The fitting kinds' kernels throw host_bad_alloc before submitting
// anything when their scratch memory cannot be had.
// Defined for float and double and every spline kind.
template <typename FpType, typename SplineType>
sycl::event dispatch_construct(sycl::queue& queue, const spline_description<FpType>& spline,
                               const std::vector<sycl::event>& dependencies, std::int32_t* periodic_flags = nullptr,
                               std::int32_t* partition_faults = nullptr, fitting_outcome fitting = {});

}  // namespace velora::qrx::experimental::data_fitting::detail
