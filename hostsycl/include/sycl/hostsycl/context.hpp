#pragma once

#include <memory>
#include <vector>

#include "sycl/hostsycl/device.hpp"
#include "sycl/hostsycl/exception.hpp"
#include "sycl/hostsycl/property.hpp"

namespace sycl {

namespace detail {
struct context_impl;
}

class context {
 public:
  explicit context(const property_list& propList = {});
  explicit context(async_handler asyncHandler, const property_list& propList = {});
  explicit context(const device& dev, const property_list& propList = {});
  explicit context(const device& dev, async_handler asyncHandler, const property_list& propList = {});
  explicit context(const platform& plt, const property_list& propList = {});
  explicit context(const std::vector<device>& deviceList, const property_list& propList = {});
  explicit context(const std::vector<device>& deviceList, async_handler asyncHandler,
                   const property_list& propList = {});

  platform get_platform() const;
  std::vector<device> get_devices() const;

  friend bool operator==(const context& a, const context& b) { return a.impl_ == b.impl_; }
  friend bool operator!=(const context& a, const context& b) { return a.impl_ != b.impl_; }

 private:
  friend struct detail::impl_access;
  explicit context(std::shared_ptr<detail::context_impl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<detail::context_impl> impl_;
};

}  // namespace sycl
