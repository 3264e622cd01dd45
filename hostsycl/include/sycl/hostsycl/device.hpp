#pragma once

#include <functional>
#include <memory>
#include <type_traits>
#include <vector>

#include "sycl/hostsycl/info.hpp"

namespace sycl {

class device;
class platform;

namespace detail {
struct device_impl;
struct platform_impl;
struct impl_access;

template <typename S>
inline constexpr bool is_device_selector_v = std::is_invocable_r_v<int, const S&, const device&>;

// Scores every root device with `selector` and returns the best one; throws
// errc::runtime when the best score is negative.
device select_device(const std::function<int(const device&)>& selector);
}  // namespace detail

class device {
 public:
  device();
  template <typename DeviceSelector, typename = std::enable_if_t<detail::is_device_selector_v<DeviceSelector>>>
  explicit device(const DeviceSelector& deviceSelector)
      : device(detail::select_device([&](const device& d) { return static_cast<int>(deviceSelector(d)); })) {}

  bool is_cpu() const;
  bool is_gpu() const;
  bool is_accelerator() const;
  platform get_platform() const;

  template <typename Param>
  typename Param::return_type get_info() const;

  bool has(aspect asp) const;

  static std::vector<device> get_devices(info::device_type type = info::device_type::all);

  friend bool operator==(const device& a, const device& b) { return a.impl_ == b.impl_; }
  friend bool operator!=(const device& a, const device& b) { return a.impl_ != b.impl_; }

 private:
  friend struct detail::impl_access;
  explicit device(std::shared_ptr<detail::device_impl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<detail::device_impl> impl_;
};

template <>
info::device_type device::get_info<info::device::device_type>() const;
template <>
std::string device::get_info<info::device::name>() const;
template <>
std::string device::get_info<info::device::vendor>() const;

class platform {
 public:
  platform();
  template <typename DeviceSelector, typename = std::enable_if_t<detail::is_device_selector_v<DeviceSelector>>>
  explicit platform(const DeviceSelector& deviceSelector) : platform(device(deviceSelector).get_platform()) {}

  std::vector<device> get_devices(info::device_type type = info::device_type::all) const;

  template <typename Param>
  typename Param::return_type get_info() const;

  static std::vector<platform> get_platforms();

  friend bool operator==(const platform& a, const platform& b) { return a.impl_ == b.impl_; }
  friend bool operator!=(const platform& a, const platform& b) { return a.impl_ != b.impl_; }

 private:
  friend struct detail::impl_access;
  explicit platform(std::shared_ptr<detail::platform_impl> impl) : impl_(std::move(impl)) {}
  std::shared_ptr<detail::platform_impl> impl_;
};

template <>
std::string platform::get_info<info::platform::name>() const;
template <>
std::string platform::get_info<info::platform::vendor>() const;

// Device selectors: the GPU-class device is the default.
int default_selector_v(const device& dev);
int gpu_selector_v(const device& dev);
int cpu_selector_v(const device& dev);
int accelerator_selector_v(const device& dev);

}  // namespace sycl
