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

// Whether v is finite: `v - v == 0` holds exactly for finite v, without
// the math library, which kernels may not call on every SYCL
// implementation.
template <typename T>
bool finite(T v) {
  return v - v == T(0);
}

// Faults of the breakpoints x[begin] .. x[end] (the pairs begin .. end - 1).
// A strictly increasing run between finite ends is finite throughout, so
// the common case is one comparison per pair, in a loop without branches;
// the run is searched for a non-finite breakpoint only once it has failed.
template <typename T>
std::int32_t run_faults(const T* x, std::int64_t begin, std::int64_t end) {
  unsigned out_of_order = 0;
  for (std::int64_t i = begin; i < end; ++i) out_of_order |= static_cast<unsigned>(!(x[i] < x[i + 1]));
  const bool increasing = out_of_order == 0;
  if (increasing && finite(x[begin]) && finite(x[end])) return partition_sound;
  std::int32_t faults = increasing ? partition_sound : partition_not_increasing;
  for (std::int64_t i = begin; i <= end; ++i) {
    if (!finite(x[i])) faults |= partition_not_finite | partition_not_increasing;
  }
  return faults;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
