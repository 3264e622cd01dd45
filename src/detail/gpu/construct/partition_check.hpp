#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/launch_range.hpp"
#include "detail/partition_fault.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename T>
class partition_check_kernel;

// Breakpoint pairs per work-item of the partition check: enough to make a
// work-item's loop the cost, few enough to spread a long partition.
inline constexpr std::int64_t partition_check_pairs = 4096;

// Work-items of the check of a partition of nx breakpoints: one per run of
// pairs, or one for the two ends of a uniform partition.
inline std::int64_t partition_check_items(std::int64_t nx, partition_hint hint) {
  if (hint == partition_hint::uniform) return 1;
  return (nx - 1 + partition_check_pairs - 1) / partition_check_pairs;
}

// Submits the check of the partition after `dependencies`: work-item b writes the faults of its pairs (x[i], x[i + 1]) to faults[b]
// (partition_check_items entries of host memory).
template <typename T>
sycl::event gpu_check_partition(sycl::queue& queue, const T* partition, std::int64_t nx, partition_hint hint,
                                std::int32_t* faults, const std::vector<sycl::event>& dependencies) {
  const std::int64_t items = partition_check_items(nx, hint);
  const std::int64_t pairs = hint == partition_hint::uniform ? 1 : nx - 1;
  const sycl::range<1> range = checked_launch_range(items, 1);
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    const T* x = partition;
    std::int32_t* out = faults;
    const std::int64_t n = pairs;
    cgh.parallel_for<partition_check_kernel<T>>(range, [=](sycl::item<1> item) {
      const std::int64_t b = static_cast<std::int64_t>(item.get_linear_id());
      const std::int64_t begin = b * partition_check_pairs;
      const std::int64_t end = std::min(n, begin + partition_check_pairs);
      out[b] = run_faults(x, begin, end);
    });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
