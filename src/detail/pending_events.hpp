#pragma once

#include <algorithm>
#include <mutex>
#include <vector>

#include <sycl/sycl.hpp>

namespace velora::qrx::experimental::data_fitting::detail {

// The events of a spline's submitted work that may still be running. Its
// owner waits for all of them before it releases anything that work reads,
// so no operation outlives the spline, not only the last one. Several
// threads may add events at once.
class pending_events {
 public:
  pending_events() = default;
  pending_events(const pending_events&) = delete;
  pending_events& operator=(const pending_events&) = delete;
  ~pending_events() { wait_all(); }

  // Keeps `event`, and forgets the events that have already completed so
  // that the list stays as short as the work actually in flight.
  void add(const sycl::event& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    events_.erase(std::remove_if(events_.begin(), events_.end(), is_complete), events_.end());
  }

  // The kept events, for work that must run after all of them.
  std::vector<sycl::event> snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

  // Blocks until every kept event has completed, without holding the lock
  // while it waits. A plain wait: asynchronous errors stay with their queue.
  void wait_all() {
    for (;;) {
      std::vector<sycl::event> batch;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        batch.swap(events_);
      }
      if (batch.empty()) return;
      sycl::event::wait(batch);
    }
  }

 private:
  static bool is_complete(const sycl::event& event) {
    return event.get_info<sycl::info::event::command_execution_status>() ==
           sycl::info::event_command_status::complete;
  }

  mutable std::mutex mutex_;
  std::vector<sycl::event> events_;
};

}  // namespace velora::qrx::experimental::data_fitting::detail
