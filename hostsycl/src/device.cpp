#include <memory>
#include <string>
#include <vector>

#include "impl.hpp"

namespace sycl {
namespace detail {

const std::vector<device>& root_devices() {
  static const std::vector<device> devices = [] {
    auto make = [](info::device_type type, const char* name) {
      return impl_access::make<device>(std::make_shared<device_impl>(device_impl{type, name}));
    };
    return std::vector<device>{make(info::device_type::gpu, "hostsycl GPU device"),
                               make(info::device_type::cpu, "hostsycl CPU device"),
                               make(info::device_type::accelerator, "hostsycl accelerator device")};
  }();
  return devices;
}

platform the_platform() {
  static const platform plt = impl_access::make<platform>(std::make_shared<platform_impl>(platform_impl{"hostsycl"}));
  return plt;
}

context default_context() {
  static const context ctx(root_devices());
  return ctx;
}

device select_device(const std::function<int(const device&)>& selector) {
  const device* best = nullptr;
  int best_score = -1;
  for (const device& d : root_devices()) {
    int score = selector(d);
    if (score >= 0 && (best == nullptr || score > best_score)) {
      best = &d;
      best_score = score;
    }
  }
  if (best == nullptr) throw sycl::exception(make_error_code(errc::runtime), "no device satisfies the selector");
  return *best;
}

}  // namespace detail

namespace {
info::device_type type_of(const device& d) { return d.get_info<info::device::device_type>(); }
}  // namespace

int default_selector_v(const device& dev) {
  switch (type_of(dev)) {
    case info::device_type::gpu: return 3;
    case info::device_type::cpu: return 2;
    default: return 1;
  }
}
int gpu_selector_v(const device& dev) { return dev.is_gpu() ? 1 : -1; }
int cpu_selector_v(const device& dev) { return dev.is_cpu() ? 1 : -1; }
int accelerator_selector_v(const device& dev) { return dev.is_accelerator() ? 1 : -1; }

device::device() : device(default_selector_v) {}

bool device::is_cpu() const { return impl_->type == info::device_type::cpu; }
bool device::is_gpu() const { return impl_->type == info::device_type::gpu; }
bool device::is_accelerator() const { return impl_->type == info::device_type::accelerator; }
platform device::get_platform() const { return detail::the_platform(); }
bool device::has(aspect) const { return true; }

template <>
info::device_type device::get_info<info::device::device_type>() const {
  return impl_->type;
}
template <>
std::string device::get_info<info::device::name>() const {
  return impl_->name;
}
template <>
std::string device::get_info<info::device::vendor>() const {
  return "hostsycl";
}

std::vector<device> device::get_devices(info::device_type type) {
  return detail::the_platform().get_devices(type);
}

platform::platform() : platform(detail::the_platform()) {}

std::vector<device> platform::get_devices(info::device_type type) const {
  std::vector<device> result;
  for (const device& d : detail::root_devices())
    if (type == info::device_type::all || d.get_info<info::device::device_type>() == type) result.push_back(d);
  return result;
}

template <>
std::string platform::get_info<info::platform::name>() const {
  return impl_->name;
}
template <>
std::string platform::get_info<info::platform::vendor>() const {
  return "hostsycl";
}

std::vector<platform> platform::get_platforms() { return {detail::the_platform()}; }

namespace {
std::shared_ptr<detail::context_impl> make_context(std::vector<device> devices, async_handler handler) {
  if (devices.empty()) throw sycl::exception(make_error_code(errc::invalid), "a context needs at least one device");
  return std::make_shared<detail::context_impl>(detail::context_impl{std::move(devices), std::move(handler)});
}
}  // namespace

context::context(const property_list&) : impl_(make_context({device()}, {})) {}
context::context(async_handler asyncHandler, const property_list&)
    : impl_(make_context({device()}, std::move(asyncHandler))) {}
context::context(const device& dev, const property_list&) : impl_(make_context({dev}, {})) {}
context::context(const device& dev, async_handler asyncHandler, const property_list&)
    : impl_(make_context({dev}, std::move(asyncHandler))) {}
context::context(const platform& plt, const property_list&) : impl_(make_context(plt.get_devices(), {})) {}
context::context(const std::vector<device>& deviceList, const property_list&) : impl_(make_context(deviceList, {})) {}
context::context(const std::vector<device>& deviceList, async_handler asyncHandler, const property_list&)
    : impl_(make_context(deviceList, std::move(asyncHandler))) {}

platform context::get_platform() const { return detail::the_platform(); }
std::vector<device> context::get_devices() const { return impl_->devices; }

}  // namespace sycl
