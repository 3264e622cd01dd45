#pragma once

// Which devices the SYCL implementation in use offers, for suites that run
// wherever they can and skip only what needs a missing device.

#include <sycl/sycl.hpp>

namespace test_support {

inline bool has_gpu_device() { return !sycl::device::get_devices(sycl::info::device_type::gpu).empty(); }

// A queue for suites that drive the GPU back-end's kernels or dispatchers
// directly: they are plain SYCL kernels, so they run on the GPU device where
// there is one and on the CPU device otherwise. The bundled runtime always
// has its GPU-class device, so there it is always that one.
inline sycl::queue kernel_queue() {
#ifdef HOSTSYCL
  return sycl::queue(sycl::gpu_selector_v);
#else
  if (has_gpu_device()) return sycl::queue(sycl::gpu_selector_v);
  return sycl::queue(sycl::cpu_selector_v);
#endif
}

}  // namespace test_support

// Skips the current GoogleTest test when the SYCL implementation has no GPU device. The
// bundled runtime always has one, so there the check compiles away: a lost
// device fails the test instead of hiding as a skip.
#ifdef HOSTSYCL
#define QRX_REQUIRE_GPU_DEVICE() static_cast<void>(0)
#else
#define QRX_REQUIRE_GPU_DEVICE()                   \
  if (!::test_support::has_gpu_device()) {         \
    GTEST_SKIP() << "no GPU device in this SYCL implementation"; \
  }                                                \
  static_cast<void>(0)
#endif
