#pragma once

// Implementation objects behind the reference-semantics classes.

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

namespace sycl::detail {

struct platform_impl {
  std::string name;
};

struct device_impl {
  info::device_type type;
  std::string name;
};

struct context_impl {
  std::vector<device> devices;
  async_handler handler;  // may be empty
};

struct event_impl;

// Asynchronous errors of a queue wait here until delivered.
struct queue_impl : std::enable_shared_from_this<queue_impl> {
  context ctx;
  device dev;
  async_handler handler;  // may be empty
  bool in_order = false;

  std::mutex mutex;
  std::weak_ptr<event_impl> last;                     // in-order predecessor
  std::vector<std::weak_ptr<event_impl>> outstanding;  // expired = finished
  std::vector<std::exception_ptr> errors;

  queue_impl(context c, device d, async_handler h, bool ordered)
      : ctx(std::move(c)), dev(std::move(d)), handler(std::move(h)), in_order(ordered) {}
  ~queue_impl();

  void record_error(std::exception_ptr error);
  // Hands the kept errors to the queue's handler, else the context's, else
  // the default handler.
  void deliver_errors();
};

// Held by the copies of one sycl::queue and by nobody else: its destruction
// marks the destruction of the queue's last copy.
struct queue_owner {
  std::shared_ptr<queue_impl> impl;
  ~queue_owner();
};

// A command: its state, its work and the commands waiting for it.
struct event_impl {
  std::mutex mutex;
  std::condition_variable done;
  info::event_command_status status = info::event_command_status::submitted;
  std::vector<std::shared_ptr<event_impl>> successors;
  // The dependencies unfinished at submission, written only while the
  // command is submitted: a waiter may run one of them itself.
  std::vector<std::weak_ptr<event_impl>> predecessors;
  std::atomic<int> pending{1};  // unfinished dependencies + 1 while being set up
  command_kind kind = command_kind::none;
  std::function<void()> work;
  std::shared_ptr<queue_impl> queue;  // null for events not made by a queue
};

// The handler of last resort: report every error and terminate.
[[noreturn]] void default_async_handler(const exception_list& errors);

const std::vector<device>& root_devices();
platform the_platform();
context default_context();

}  // namespace sycl::detail
