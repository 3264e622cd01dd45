#pragma once

// Small helpers shared by the hostsycl suites.

#include <sycl/sycl.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace hostsycl_test {

using sycl::info::device_type;
using status = sycl::info::event_command_status;

// Root device types in the runtime's order; parameterised suites run on each.
inline const device_type root_types[] = {device_type::gpu, device_type::cpu, device_type::accelerator};
inline const auto type_label = [](const testing::TestParamInfo<device_type>& info) {
  return std::string(info.param == device_type::gpu ? "gpu" : info.param == device_type::cpu ? "cpu" : "accelerator");
};

inline sycl::device device_of(device_type type) { return sycl::device::get_devices(type).at(0); }
inline status status_of(const sycl::event& e) { return e.get_info<sycl::info::event::command_execution_status>(); }

// Gives a scheduler that ignores an ordering time to run the later command
// first, so that a missing dependency shows up as a wrong value.
inline void pause_briefly() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

// Commands block on a gate until the test opens it; it opens itself on
// destruction so that a failing test never leaves a runtime thread blocked.
class gate {
 public:
  ~gate() { open(); }
  void open() { std::call_once(once_, [this] { promise_.set_value(); }); }
  std::shared_future<void> waiter() const { return opened_; }

 private:
  std::promise<void> promise_;
  std::shared_future<void> opened_ = promise_.get_future().share();
  std::once_flag once_;
};

inline sycl::event submit_blocked(sycl::queue& q, const gate& g) {
  return q.submit([&](sycl::handler& h) { h.host_task([w = g.waiter()] { w.wait(); }); });
}

inline sycl::event submit_throwing(sycl::queue& q, const std::string& message) {
  return q.submit([&](sycl::handler& h) { h.host_task([message] { throw std::runtime_error(message); }); });
}

// The code of the sycl::exception that f throws, or an empty code.
template <class F>
std::error_code thrown_code(F&& f) {
  try {
    f();
  } catch (const sycl::exception& e) {
    return e.code();
  }
  return {};
}
inline const std::error_code invalid = sycl::make_error_code(sycl::errc::invalid);

// Collects what an async_handler receives, from any thread. The handler shares
// the collected state, so a late call never dangles.
class error_sink {
 public:
  sycl::async_handler handler() const {
    return [s = state_](sycl::exception_list errors) {
      std::lock_guard<std::mutex> lock(s->mutex);
      ++s->calls;
      for (const auto& e : errors) s->errors.push_back(e);
    };
  }
  int calls() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->calls;
  }
  std::vector<std::exception_ptr> errors() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->errors;
  }
  // what() of every error received, in delivery order.
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const auto& e : errors()) {
      try {
        std::rethrow_exception(e);
      } catch (const std::exception& ex) {
        out.push_back(ex.what());
      } catch (...) {
        out.push_back("?");
      }
    }
    return out;
  }

 private:
  struct state {
    std::mutex mutex;
    std::vector<std::exception_ptr> errors;
    int calls = 0;
  };
  std::shared_ptr<state> state_ = std::make_shared<state>();
};

}  // namespace hostsycl_test
