#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "sycl/hostsycl/event.hpp"
#include "sycl/hostsycl/exception.hpp"
#include "sycl/hostsycl/range.hpp"
#include "sycl/hostsycl/runtime.hpp"

namespace sycl {

template <typename T>
struct is_device_copyable : std::is_trivially_copyable<T> {};
template <typename T>
inline constexpr bool is_device_copyable_v = is_device_copyable<T>::value;

namespace detail {
class unnamed;
struct handler_access;
}  // namespace detail

// Handed to host tasks that accept it; this runtime has no native objects.
class interop_handle {
 private:
  friend class handler;
  interop_handle() = default;
};

class handler {
 public:
  handler() = delete;
  handler(const handler&) = delete;
  handler& operator=(const handler&) = delete;

  void depends_on(event depEvent) { group_.dependencies.push_back(std::move(depEvent)); }
  void depends_on(const std::vector<event>& depEvents) {
    group_.dependencies.insert(group_.dependencies.end(), depEvents.begin(), depEvents.end());
  }

  template <typename KernelName = detail::unnamed, typename KernelType>
  void single_task(const KernelType& kernelFunc) {
    check_kernel<KernelType>();
    set_command(detail::command_kind::kernel, [kernelFunc]() noexcept { kernelFunc(); });
  }

  template <typename KernelName = detail::unnamed, typename KernelType>
  void parallel_for(range<1> numWorkItems, const KernelType& kernelFunc) {
    check_kernel<KernelType>();
    static_assert(std::is_invocable_v<const KernelType&, item<1>>,
                  "a kernel takes sycl::item<1>, sycl::id<1>, std::size_t or a generic parameter");
    set_command(detail::command_kind::kernel, [kernelFunc, numWorkItems]() {
      detail::parallel_for_chunks(numWorkItems.size(), [&kernelFunc, numWorkItems](std::size_t b, std::size_t e) {
        run_items(kernelFunc, numWorkItems, b, e);
      });
    });
  }

  void memcpy(void* dest, const void* src, std::size_t numBytes) {
    set_command(detail::command_kind::memory, [dest, src, numBytes] {
      if (numBytes != 0) std::memcpy(dest, src, numBytes);
    });
  }

  template <typename T>
  void copy(const T* src, T* dest, std::size_t count) {
    memcpy(dest, src, count * sizeof(T));
  }

  void memset(void* ptr, int value, std::size_t numBytes) {
    set_command(detail::command_kind::memory, [ptr, value, numBytes] {
      if (numBytes != 0) std::memset(ptr, value, numBytes);
    });
  }

  template <typename T>
  void fill(void* ptr, const T& pattern, std::size_t count) {
    set_command(detail::command_kind::memory, [ptr, pattern, count] {
      T* out = static_cast<T*>(ptr);
      for (std::size_t i = 0; i < count; ++i) out[i] = pattern;
    });
  }

  // Runs the callable once on a runtime thread after the dependencies; an
  // exception escaping it becomes an asynchronous error of the queue.
  template <typename T>
  void host_task(T&& hostTaskCallable) {
    using callable = std::decay_t<T>;
    set_command(detail::command_kind::host_task,
                [task = callable(std::forward<T>(hostTaskCallable))]() mutable {
                  if constexpr (std::is_invocable_v<callable&, interop_handle>) {
                    task(interop_handle{});
                  } else {
                    task();
                  }
                });
  }

 private:
  friend class queue;
  friend struct detail::handler_access;
  explicit handler(std::shared_ptr<detail::queue_impl> queue) : queue_(std::move(queue)) {}

  template <typename KernelType>
  static void check_kernel() {
    static_assert(is_device_copyable_v<KernelType>,
                  "kernel captures must be device copyable (trivially copyable)");
  }

  template <typename KernelType>
  static void run_items(const KernelType& kernelFunc, range<1> r, std::size_t b, std::size_t e) noexcept {
    for (std::size_t i = b; i < e; ++i) kernelFunc(detail::item_access::make(r, i));
  }

  template <typename F>
  void set_command(detail::command_kind kind, F&& work) {
    if (group_.kind != detail::command_kind::none)
      throw sycl::exception(make_error_code(errc::invalid), "a command group may enqueue only one command");
    group_.kind = kind;
    group_.work = std::forward<F>(work);
  }

  std::shared_ptr<detail::queue_impl> queue_;
  detail::command_group group_;
};

}  // namespace sycl
