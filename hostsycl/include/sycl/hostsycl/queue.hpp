#pragma once

#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "sycl/hostsycl/context.hpp"
#include "sycl/hostsycl/device.hpp"
#include "sycl/hostsycl/event.hpp"
#include "sycl/hostsycl/handler.hpp"
#include "sycl/hostsycl/property.hpp"

namespace sycl {

class queue {
 public:
  explicit queue(const property_list& propList = {});
  explicit queue(const async_handler& asyncHandler, const property_list& propList = {});
  template <typename DeviceSelector, typename = std::enable_if_t<detail::is_device_selector_v<DeviceSelector>>>
  explicit queue(const DeviceSelector& deviceSelector, const property_list& propList = {})
      : queue(device(deviceSelector), propList) {}
  template <typename DeviceSelector, typename = std::enable_if_t<detail::is_device_selector_v<DeviceSelector>>>
  explicit queue(const DeviceSelector& deviceSelector, const async_handler& asyncHandler,
                 const property_list& propList = {})
      : queue(device(deviceSelector), asyncHandler, propList) {}
  explicit queue(const device& syclDevice, const property_list& propList = {});
  explicit queue(const device& syclDevice, const async_handler& asyncHandler, const property_list& propList = {});
  explicit queue(const context& syclContext, const device& syclDevice, const property_list& propList = {});
  explicit queue(const context& syclContext, const device& syclDevice, const async_handler& asyncHandler,
                 const property_list& propList = {});

  context get_context() const;
  device get_device() const;
  bool is_in_order() const;

  // Calls cgf(handler&) once, on this thread, and enqueues what it recorded.
  template <typename T>
  event submit(T cgf) {
    handler h(impl_);
    cgf(h);
    return detail::submit_command_group(impl_, std::move(h.group_));
  }

  // Blocks until every submitted command is done; delivers no error.
  void wait();
  // Waits, then hands the unconsumed asynchronous errors to the handler.
  void wait_and_throw();
  // Hands the unconsumed asynchronous errors to the handler without waiting.
  void throw_asynchronous();

  template <typename KernelName = detail::unnamed, typename KernelType>
  event single_task(const KernelType& kernelFunc) {
    return single_task<KernelName>(std::vector<event>{}, kernelFunc);
  }
  template <typename KernelName = detail::unnamed, typename KernelType>
  event single_task(event depEvent, const KernelType& kernelFunc) {
    return single_task<KernelName>(std::vector<event>{std::move(depEvent)}, kernelFunc);
  }
  template <typename KernelName = detail::unnamed, typename KernelType>
  event single_task(const std::vector<event>& depEvents, const KernelType& kernelFunc) {
    return submit([&](handler& h) {
      h.depends_on(depEvents);
      h.single_task<KernelName>(kernelFunc);
    });
  }

  template <typename KernelName = detail::unnamed, typename KernelType>
  event parallel_for(range<1> numWorkItems, const KernelType& kernelFunc) {
    return parallel_for<KernelName>(numWorkItems, std::vector<event>{}, kernelFunc);
  }
  template <typename KernelName = detail::unnamed, typename KernelType>
  event parallel_for(range<1> numWorkItems, event depEvent, const KernelType& kernelFunc) {
    return parallel_for<KernelName>(numWorkItems, std::vector<event>{std::move(depEvent)}, kernelFunc);
  }
  template <typename KernelName = detail::unnamed, typename KernelType>
  event parallel_for(range<1> numWorkItems, const std::vector<event>& depEvents, const KernelType& kernelFunc) {
    return submit([&](handler& h) {
      h.depends_on(depEvents);
      h.parallel_for<KernelName>(numWorkItems, kernelFunc);
    });
  }

  event memcpy(void* dest, const void* src, std::size_t numBytes, const std::vector<event>& depEvents = {}) {
    return submit([&](handler& h) {
      h.depends_on(depEvents);
      h.memcpy(dest, src, numBytes);
    });
  }
  event memcpy(void* dest, const void* src, std::size_t numBytes, event depEvent) {
    return memcpy(dest, src, numBytes, std::vector<event>{std::move(depEvent)});
  }
  template <typename T>
  event copy(const T* src, T* dest, std::size_t count, const std::vector<event>& depEvents = {}) {
    return memcpy(dest, src, count * sizeof(T), depEvents);
  }
  template <typename T>
  event copy(const T* src, T* dest, std::size_t count, event depEvent) {
    return copy(src, dest, count, std::vector<event>{std::move(depEvent)});
  }
  event memset(void* ptr, int value, std::size_t numBytes, const std::vector<event>& depEvents = {}) {
    return submit([&](handler& h) {
      h.depends_on(depEvents);
      h.memset(ptr, value, numBytes);
    });
  }
  event memset(void* ptr, int value, std::size_t numBytes, event depEvent) {
    return memset(ptr, value, numBytes, std::vector<event>{std::move(depEvent)});
  }
  template <typename T>
  event fill(void* ptr, const T& pattern, std::size_t count, const std::vector<event>& depEvents = {}) {
    return submit([&](handler& h) {
      h.depends_on(depEvents);
      h.fill(ptr, pattern, count);
    });
  }
  template <typename T>
  event fill(void* ptr, const T& pattern, std::size_t count, event depEvent) {
    return fill(ptr, pattern, count, std::vector<event>{std::move(depEvent)});
  }

  friend bool operator==(const queue& a, const queue& b) { return a.impl_ == b.impl_; }
  friend bool operator!=(const queue& a, const queue& b) { return a.impl_ != b.impl_; }

 private:
  friend struct detail::impl_access;
  // Shares ownership among the copies of this queue only (events keep the
  // implementation alive on their own): when the last copy goes, the
  // errors nobody collected are delivered.
  std::shared_ptr<detail::queue_impl> impl_;
};

}  // namespace sycl
