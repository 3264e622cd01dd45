#include "data_fitting/exceptions.hpp"

namespace velora::qrx {
namespace {

std::string compose(const std::string& domain, const std::string& function, const std::string& detail) {
  std::string text = "velora::qrx";
  if (!domain.empty()) text += "::" + domain;
  if (!function.empty()) text += "::" + function;
  if (!detail.empty()) text += ": " + detail;
  return text;
}

std::string with_info(const char* what, const std::string& info) {
  return info.empty() ? std::string(what) : std::string(what) + ": " + info;
}

}  // namespace

exception::exception(const std::string& domain, const std::string& function, const std::string& detail)
    : std::exception(), message_(compose(domain, function, detail)) {}

exception::~exception() = default;

const char* exception::what() const noexcept { return message_.c_str(); }

invalid_argument::invalid_argument(const std::string& domain, const std::string& function, const std::string& info)
    : exception(domain, function, with_info("invalid argument", info)) {}

computation_error::computation_error(const std::string& domain, const std::string& function, const std::string& info)
    : exception(domain, function, with_info("computation error", info)) {}

host_bad_alloc::host_bad_alloc(const std::string& domain, const std::string& function)
    : exception(domain, function, "cannot allocate memory on host") {}

unsupported_device::unsupported_device(const std::string& domain, const std::string& function, const sycl::device& device)
    : exception(domain, function, "unsupported device: " + device.get_info<sycl::info::device::name>()) {}

}  // namespace velora::qrx
