#pragma once

#include <algorithm>
#include <vector>

#include <sycl/sycl.hpp>

namespace velora::qrx::experimental::data_fitting::detail {

// The events of a spline's submitted work that may still be running. Its
// owner waits for all of them before it releases anything that work reads,
// so no operation outlives the spline, not only the last one.
class pending_events {
 public:
  pending_events() = default;
  pending_events(const pending_events&) = delete;
  pending_events& operator=(const pending_events&) = delete;
  ~pending_events() { wait_all(); }

  // Keeps `event`, and forgets the events that have already completed so
  // that the list stays as short as the work actually in flight.
  void add(const sycl::event& event) {
    events_.push_back(event);
    events_.erase(std::remove_if(events_.begin(), events_.end(), is_complete), events_.end());
  }

  // The kept events, for work that must run after all of them.
  const std::vector<sycl::event>& events() const { return events_; }

  // Blocks until every kept event has completed. A plain wait: asynchronous
  // errors stay with their queue.
  void wait_all() {
    sycl::event::wait(events_);
    events_.clear();
  }

 private:
  static bool is_complete(const sycl::event& event) {
    return event.get_info<sycl::info::event::command_execution_status>() ==
           sycl::info::event_command_status::complete;
  }

  std::vector<sycl::event> events_;
};

}  // namespace velora::qrx::experimental::data_fitting::detail
