#pragma once

#include <cstdint>

#include "data_fitting/exceptions.hpp"
#include "detail/error_domain.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// What a construction's check of the partition found, as bits: a listed
// partition must be finite and strictly increasing, a uniform one finite
// with a < b. Any other bit pattern is not produced.
enum partition_fault : std::int32_t {
  partition_sound = 0,
  partition_not_increasing = 1,
  partition_not_finite = 2,
};

// The refusal of a partition with the given faults (not partition_sound),
// the same on both back-ends. A partition that is not finite is named so
// first: its NaN also breaks the order.
inline velora::qrx::invalid_argument partition_refusal(std::int32_t faults) {
  return velora::qrx::invalid_argument(error_domain, "construct",
                                       (faults & partition_not_finite) != 0 ? "partition is not finite"
                                                                            : "partition is not strictly increasing");
}

// Faults of two neighbouring breakpoints x0 < x1. `v - v == 0` holds exactly
// for finite v, without the math library, which kernels may not call on
// every SYCL implementation.
template <typename T>
std::int32_t breakpoint_pair_faults(T x0, T x1) {
  std::int32_t faults = partition_sound;
  if (!(x0 - x0 == T(0)) || !(x1 - x1 == T(0))) faults |= partition_not_finite;
  if (!(x0 < x1)) faults |= partition_not_increasing;
  return faults;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
