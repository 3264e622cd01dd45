#pragma once

// Host work submitted by the suites, through the library's own host-task
// helper, so that they run on SYCL implementations without
// handler::host_task too.

#include <future>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "detail/host_task.hpp"

namespace test_support {

// Runs `work` on `q` after `dependencies`.
template <typename Work>
sycl::event host_work(sycl::queue& q, Work work, const std::vector<sycl::event>& dependencies = {}) {
  return velora::qrx::experimental::data_fitting::detail::submit_host_task(q, dependencies, std::move(work));
}

// A command on q that completes only once `open` is set: it holds back
// whatever depends on it.
inline sycl::event held_until(sycl::queue& q, std::shared_future<void> open) {
  return host_work(q, [open] { open.wait(); });
}

}  // namespace test_support

// Skips the current test where host work runs one command at a time per
// device (AdaptiveCpp runs every host task of a device on one runtime
// thread): a command held back by the test would hold back the work under
// test too. The bundled runtime runs host work concurrently, so there the
// check compiles away and such a test always runs.
#ifdef HOSTSYCL
#define QRX_REQUIRE_CONCURRENT_HOST_WORK() static_cast<void>(0)
#else
#define QRX_REQUIRE_CONCURRENT_HOST_WORK()                                                  \
  GTEST_SKIP() << "host work runs one command at a time on this SYCL implementation, so " \
                  "a held-back command would hold back the work under test"
#endif
