#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/construct/construct_args.hpp"
#include "detail/gpu/construct/partition_check.hpp"
#include "detail/gpu/launch_range.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename Name>
class checking_partition;

// Submits one command group of a construction whose cells are independent:
// depends_on(dependencies), then one work-item g per (function, cell) of
// args, running cell(g). Name names the kernel; cell captures by value only
// what a kernel may. With args.partition_faults, every work-item also checks
// its cell's pair of breakpoints, which it has just read, and the faults are
// or-ed into *args.partition_faults by a reduction: where a pass of its own
// would read the whole partition again.
template <typename Name, partition_hint PartHint, typename T, typename Cell>
sycl::event submit_per_cell(sycl::queue& queue, const construct_args<T>& args,
                            const std::vector<sycl::event>& dependencies, const Cell& cell) {
  const sycl::range<1> range = checked_launch_range(args.cells(), args.ny);
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    const Cell body = cell;
    if (args.partition_faults == nullptr) {
      cgh.parallel_for<Name>(range, [=](sycl::item<1> item) { body(static_cast<std::int64_t>(item.get_linear_id())); });
      return;
    }
    const T* x = args.partitions;
    const std::int64_t cells = args.cells();
    cgh.parallel_for<checking_partition<Name>>(
        range, sycl::reduction(args.partition_faults, std::int32_t(0), sycl::bit_or<std::int32_t>()),
        [=](sycl::item<1> item, auto& faults) {
          const auto g = static_cast<std::int64_t>(item.get_linear_id());
          body(g);
          faults.combine(cell_pair_faults<PartHint>(x, g % cells));
        });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
