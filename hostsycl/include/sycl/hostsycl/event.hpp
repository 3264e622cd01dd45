#pragma once

#include <memory>
#include <vector>

#include "sycl/hostsycl/info.hpp"

namespace sycl {

namespace detail {
struct event_impl;
struct impl_access;
}  // namespace detail

class event {
 public:
  // A default-constructed event is already complete.
  event();

  void wait();
  static void wait(const std::vector<event>& eventList);
  // Waits, then delivers the unconsumed asynchronous errors of the queue that
  // submitted the command.
  void wait_and_throw();
  static void wait_and_throw(const std::vector<event>& eventList);

  template <typename Param>
  typename Param::return_type get_info() const;

  friend bool operator==(const event& a, const event& b) { return a.impl_ == b.impl_; }
  friend bool operator!=(const event& a, const event& b) { return a.impl_ != b.impl_; }

 private:
  friend struct detail::impl_access;
  explicit event(std::shared_ptr<detail::event_impl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<detail::event_impl> impl_;
};

template <>
info::event_command_status event::get_info<info::event::command_execution_status>() const;

}  // namespace sycl
