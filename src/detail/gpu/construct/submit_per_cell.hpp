#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "detail/gpu/construct/construct_args.hpp"
#include "detail/gpu/launch_range.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Submits one command group of a construction whose cells are independent:
// depends_on(dependencies), then one work-item g per (function, cell) of
// args, running cell(g). Name names the kernel; cell captures by value only
// what a kernel may.
template <typename Name, typename T, typename Cell>
sycl::event submit_per_cell(sycl::queue& queue, const construct_args<T>& args,
                            const std::vector<sycl::event>& dependencies, const Cell& cell) {
  const sycl::range<1> range = checked_launch_range(args.cells(), args.ny);
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    const Cell body = cell;
    cgh.parallel_for<Name>(range, [=](sycl::item<1> item) { body(static_cast<std::int64_t>(item.get_linear_id())); });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
