#pragma once

#include <utility>
#include <vector>

#include <sycl/sycl.hpp>

namespace velora::qrx::experimental::data_fitting::detail {

// Submits one command group holding one host task that runs `work` after
// `dependencies`. Every host task of the library goes through here, so a
// SYCL implementation without handler::host_task is served in one place.
template <typename Work>
sycl::event submit_host_task(sycl::queue& queue, const std::vector<sycl::event>& dependencies, Work&& work) {
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    cgh.host_task(std::forward<Work>(work));
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
