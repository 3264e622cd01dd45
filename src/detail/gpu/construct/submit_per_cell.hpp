#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/construct/construct_args.hpp"
#include "detail/gpu/construct/partition_check.hpp"
#include "detail/gpu/launch_range.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Submits one command group of a construction whose cells are independent:
// depends_on(dependencies), then one work-item g per (function, cell) of
// args, running cell(g). Name names the kernel; cell captures by value only
// what a kernel may. With args.partition_faults, the work-items of the first
// function's cells also check the partition: its breakpoints are in the
// caches then, where a pass of its own would read them all again.
template <typename Name, partition_hint PartHint, typename T, typename Cell>
sycl::event submit_per_cell(sycl::queue& queue, const construct_args<T>& args,
                            const std::vector<sycl::event>& dependencies, const Cell& cell) {
  const sycl::range<1> range = checked_launch_range(args.cells(), args.ny);
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    const Cell body = cell;
    const T* x = args.partitions;
    const std::int64_t nx = args.nx;
    std::int32_t* faults = args.partition_faults;
    cgh.parallel_for<Name>(range, [=](sycl::item<1> item) {
      const auto g = static_cast<std::int64_t>(item.get_linear_id());
      body(g);
      if (faults != nullptr && g < nx - 1) check_cell_pair<PartHint>(x, nx, g, faults);
    });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
