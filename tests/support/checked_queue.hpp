#pragma once

// A queue that keeps its asynchronous errors, for cases that run on both
// devices and so see a refusal thrown at once (GPU back-end) or delivered
// through the queue (CPU back-end host work).

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/exceptions.hpp"
#include "support/async_errors.hpp"
#include "support/devices.hpp"

namespace spline_test {

struct checked_queue {
  explicit checked_queue(const sycl::device& d)
      : q(d, [errors = errors](sycl::exception_list list) {
          for (const auto& e : list) {
            try {
              std::rethrow_exception(e);
            } catch (const std::exception& x) {
              errors->push_back(test_support::async_error_text(x));
            }
          }
        }) {}

  // The what() of the library's refusal of `f`, thrown on the calling thread
  // or delivered once the queue's work has ended; empty when nothing was refused.
  template <typename F>
  std::string refusal(F&& f) {
    try {
      f();
    } catch (const velora::qrx::exception& e) {
      return e.what();
    }
    q.wait_and_throw();
    std::string text = errors->empty() ? "" : errors->front();
    errors->clear();
    return text;
  }

  std::shared_ptr<std::vector<std::string>> errors = std::make_shared<std::vector<std::string>>();
  sycl::queue q;
};

// The devices of both back-ends that this SYCL implementation offers (the
// bundled runtime always has both).
inline std::vector<sycl::device> backend_devices() {
  std::vector<sycl::device> devices{sycl::device(sycl::cpu_selector_v)};
#ifdef HOSTSYCL
  devices.emplace_back(sycl::gpu_selector_v);
#else
  if (test_support::has_gpu_device()) devices.emplace_back(sycl::gpu_selector_v);
#endif
  return devices;
}

}  // namespace spline_test
