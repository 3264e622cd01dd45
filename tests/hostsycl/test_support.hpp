#pragma once

#include <sycl/sycl.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace hostsycl_test {

using sycl::info::device_type;
using status = sycl::info::event_command_status;
using strings = std::vector<std::string>;

inline const device_type root_types[] = {device_type::gpu, device_type::cpu, device_type::accelerator};
inline std::string type_label(const testing::TestParamInfo<device_type>& info) {
  return info.param == device_type::gpu ? "gpu" : info.param == device_type::cpu ? "cpu" : "accelerator";
}
inline sycl::device device_of(device_type type) { return sycl::device::get_devices(type).at(0); }
inline status status_of(const sycl::event& e) { return e.get_info<sycl::info::event::command_execution_status>(); }

// Long enough for a scheduler that ignores an ordering to run the later command first.
inline void pause_briefly() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

// Commands from block() wait until open(); destruction opens, so a failing test leaves no thread blocked.
struct gate {
  std::shared_ptr<std::atomic<bool>> opened = std::make_shared<std::atomic<bool>>(false);
  ~gate() { open(); }
  void open() { *opened = true; }
  sycl::event block(sycl::queue& q) const {
    auto wait = [o = opened] { while (!*o) std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
    return q.submit([&](sycl::handler& h) { h.host_task(wait); });
  }
};

inline sycl::event submit_throwing(sycl::queue& q, const std::string& message) {
  return q.submit([&](sycl::handler& h) { h.host_task([message] { throw std::runtime_error(message); }); });
}

template <class F>
std::error_code thrown_code(F&& f) {
  try { f(); } catch (const sycl::exception& e) { return e.code(); }
  return {};
}
inline const std::error_code invalid = sycl::make_error_code(sycl::errc::invalid);
inline strings sorted(strings s) { std::sort(s.begin(), s.end()); return s; }

// Collects what() of every error its handler receives (" (code)" added for a sycl::exception), from any
// thread. The handler shares the state, so a late call never dangles; read it while no delivery runs.
struct error_sink {
  std::shared_ptr<std::pair<std::mutex, strings>> state = std::make_shared<std::pair<std::mutex, strings>>();
  const strings& messages() const { return state->second; }
  sycl::async_handler handler() const {
    return [s = state](sycl::exception_list errors) {
      std::lock_guard<std::mutex> lock(s->first);
      for (const auto& e : errors) {
        try {
          std::rethrow_exception(e);
        } catch (const sycl::exception& ex) {
          s->second.push_back(std::string(ex.what()) + " (" + ex.code().message() + ")");
        } catch (const std::exception& ex) {
          s->second.emplace_back(ex.what());
        }
      }
    };
  }
};

}  // namespace hostsycl_test
