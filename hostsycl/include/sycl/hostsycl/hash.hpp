#pragma once

#include <functional>
#include <memory>

#include "sycl/hostsycl/context.hpp"
#include "sycl/hostsycl/device.hpp"
#include "sycl/hostsycl/event.hpp"
#include "sycl/hostsycl/queue.hpp"

namespace sycl::detail {
// Reaches the shared implementation behind a reference-semantics object.
struct impl_access {
  template <typename T>
  static const auto& get(const T& object) {
    return object.impl_;
  }
  template <typename T, typename Impl>
  static T make(std::shared_ptr<Impl> impl) {
    return T(std::move(impl));
  }
};
}  // namespace sycl::detail

#define HOSTSYCL_HASH(type)                                               \
  template <>                                                             \
  struct std::hash<sycl::type> {                                          \
    std::size_t operator()(const sycl::type& object) const noexcept {     \
      return std::hash<const void*>()(sycl::detail::impl_access::get(object).get()); \
    }                                                                     \
  };
HOSTSYCL_HASH(device)
HOSTSYCL_HASH(platform)
HOSTSYCL_HASH(context)
HOSTSYCL_HASH(queue)
HOSTSYCL_HASH(event)
#undef HOSTSYCL_HASH
