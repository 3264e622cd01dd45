#pragma once

#include <cstdint>

#include "data_fitting/exceptions.hpp"
#include "detail/error_domain.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// What the work of a fitting construction (smoothing or least squares)
// found wrong with its data, as bits. The data may be written by the work
// construct depends on, so they are only read by the construction's own
// work, and its refusal reaches the caller through the queue's handler.
enum fitting_fault : std::int32_t {
  fitting_sound = 0,
  // A weight not finite or negative; for smoothing also fewer than three
  // positive weights.
  fitting_bad_weights = 1,
  // A smoothing parameter so large that the penalised system cannot be
  // formed in double precision.
  fitting_bad_lambda = 2,
  // A least-squares data site that is NaN or outside the partition's [a, b].
  fitting_data_outside = 4,
  // Least-squares data whose sites of positive weight do not determine the
  // spline, or whose normal equations are singular to rounding.
  fitting_undetermined = 8,
};

// The refusal of a fitting construction with the given faults (not
// fitting_sound), the same on both back-ends. One fault is named, in the
// order the CPU kernels check them: sites, weights, then the system.
inline velora::qrx::invalid_argument fitting_refusal(std::int32_t faults) {
  const char* reason = (faults & fitting_data_outside) != 0  ? "data site is outside the partition"
                       : (faults & fitting_bad_weights) != 0 ? "invalid weights"
                       : (faults & fitting_bad_lambda) != 0  ? "smoothing parameter is too large"
                                                             : "data do not determine the spline";
  return velora::qrx::invalid_argument(error_domain, "construct", reason);
}

}  // namespace velora::qrx::experimental::data_fitting::detail
