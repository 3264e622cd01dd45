#pragma once

// The runtime's entry points used by the header templates. Not part of the
// SYCL interface.

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

#include "sycl/hostsycl/range.hpp"

namespace sycl {
class event;
class queue;
class handler;

namespace detail {

struct queue_impl;

// Kernels must be device copyable; user code may specialise is_device_copyable.
enum class command_kind { none, kernel, host_task, memory };

// What a command group enqueued: its dependencies, kind and work.
struct command_group {
  std::vector<event> dependencies;
  command_kind kind = command_kind::none;
  std::function<void()> work;
};

// Submits a recorded command group to a queue and returns its event.
event submit_command_group(const std::shared_ptr<queue_impl>& queue, command_group group);

// Runs body(begin, end) over sub-ranges of [0, n) on the runtime's worker
// threads and returns when all are done.
void parallel_for_chunks(std::size_t n, const std::function<void(std::size_t, std::size_t)>& body);


}  // namespace detail
}  // namespace sycl
