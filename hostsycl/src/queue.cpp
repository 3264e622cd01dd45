#include <algorithm>
#include <cstdio>
#include <exception>

#include "executor.hpp"
#include "impl.hpp"

namespace sycl {
namespace detail {

struct exception_list_access {
  static exception_list make(std::vector<std::exception_ptr> errors) { return exception_list(std::move(errors)); }
};

void default_async_handler(const exception_list& errors) {
  for (const std::exception_ptr& error : errors) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "hostsycl: unhandled asynchronous error: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "hostsycl: unhandled asynchronous error of unknown type\n");
    }
  }
  std::fflush(stderr);
  std::terminate();
}

void queue_impl::record_error(std::exception_ptr error) {
  std::lock_guard<std::mutex> lock(mutex);
  errors.push_back(std::move(error));
}

void queue_impl::deliver_errors() {
  std::vector<std::exception_ptr> taken;
  {
    std::lock_guard<std::mutex> lock(mutex);
    taken.swap(errors);
  }
  if (taken.empty()) return;
  exception_list list = exception_list_access::make(std::move(taken));
  if (handler) {
    handler(std::move(list));
    return;
  }
  const async_handler& context_handler = impl_access::get(ctx)->handler;
  if (context_handler) {
    context_handler(std::move(list));
    return;
  }
  default_async_handler(list);
}

queue_owner::~queue_owner() {
  // Errors nobody collected are delivered when the last copy of the queue goes.
  try {
    impl->deliver_errors();
  } catch (...) {
    std::terminate();
  }
}

queue_impl::~queue_impl() {
  // Errors raised by work that outlived every copy of its queue are
  // delivered when that work's last event goes, never dropped.
  try {
    deliver_errors();
  } catch (...) {
    std::terminate();
  }
}

event submit_command_group(const std::shared_ptr<queue_impl>& queue, command_group group) {
  auto command = std::make_shared<event_impl>();
  command->kind = group.kind;
  command->work = std::move(group.work);
  command->queue = queue->shared_from_this();  // not the owner: events must not keep the queue's copies alive

  auto add_dependency = [&command](const std::shared_ptr<event_impl>& dependency) {
    if (!dependency || dependency == command) return;
    std::lock_guard<std::mutex> lock(dependency->mutex);
    if (dependency->status == info::event_command_status::complete) return;
    command->pending.fetch_add(1);
    dependency->successors.push_back(command);
    command->predecessors.push_back(dependency);
  };
  for (const event& e : group.dependencies) add_dependency(impl_access::get(e));

  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->in_order) {
      add_dependency(queue->last.lock());
      queue->last = command;
    }
    auto& out = queue->outstanding;
    out.erase(std::remove_if(out.begin(), out.end(), [](const auto& w) { return w.expired(); }), out.end());
    out.push_back(command);
  }

  if (command->pending.fetch_sub(1) == 1) {
    if (command->work) {
      executor::instance().enqueue(command);
    } else {
      complete(command);  // an empty command group finishes with its dependencies
    }
  }
  return impl_access::make<event>(command);
}

}  // namespace detail

namespace {

bool ordered(const property_list& props) { return props.has_property<property::queue::in_order>(); }

void check_context_has(const context& ctx, const device& dev) {
  auto devices = ctx.get_devices();
  if (std::find(devices.begin(), devices.end(), dev) == devices.end())
    throw sycl::exception(make_error_code(errc::invalid), "the context does not contain the device");
}

}  // namespace

queue::queue(const property_list& propList) : queue(device(), propList) {}
queue::queue(const async_handler& asyncHandler, const property_list& propList)
    : queue(device(), asyncHandler, propList) {}
queue::queue(const device& syclDevice, const property_list& propList)
    : queue(detail::default_context(), syclDevice, propList) {}
queue::queue(const device& syclDevice, const async_handler& asyncHandler, const property_list& propList)
    : queue(detail::default_context(), syclDevice, asyncHandler, propList) {}
queue::queue(const context& syclContext, const device& syclDevice, const property_list& propList)
    : queue(syclContext, syclDevice, async_handler{}, propList) {}
queue::queue(const context& syclContext, const device& syclDevice, const async_handler& asyncHandler,
             const property_list& propList) {
  check_context_has(syclContext, syclDevice);
  auto owner = std::make_shared<detail::queue_owner>();
  owner->impl = std::make_shared<detail::queue_impl>(syclContext, syclDevice, asyncHandler, ordered(propList));
  impl_ = std::shared_ptr<detail::queue_impl>(owner, owner->impl.get());
}

context queue::get_context() const { return impl_->ctx; }
device queue::get_device() const { return impl_->dev; }
bool queue::is_in_order() const { return impl_->in_order; }

void queue::wait() {
  std::vector<std::weak_ptr<detail::event_impl>> snapshot;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    snapshot = impl_->outstanding;
  }
  for (auto& weak : snapshot)
    if (auto command = weak.lock()) detail::wait_for(command);
}

void queue::wait_and_throw() {
  wait();
  impl_->deliver_errors();
}

void queue::throw_asynchronous() { impl_->deliver_errors(); }

event::event() : impl_(std::make_shared<detail::event_impl>()) {
  impl_->status = info::event_command_status::complete;
}

void event::wait() { detail::wait_for(impl_); }

void event::wait(const std::vector<event>& eventList) {
  for (const event& e : eventList) detail::wait_for(detail::impl_access::get(e));
}

void event::wait_and_throw() {
  detail::wait_for(impl_);
  if (impl_->queue) impl_->queue->deliver_errors();
}

void event::wait_and_throw(const std::vector<event>& eventList) {
  for (const event& e : eventList) detail::wait_for(detail::impl_access::get(e));
  for (const event& e : eventList) {
    const auto& impl = detail::impl_access::get(e);
    if (impl->queue) impl->queue->deliver_errors();
  }
}

template <>
info::event_command_status event::get_info<info::event::command_execution_status>() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->status;
}

}  // namespace sycl
