#pragma once

#include <exception>
#include <string>

#include <sycl/sycl.hpp>

#include "data_fitting/export.hpp"

namespace velora::qrx {

// Base of every exception the library throws. what() is
//   "velora::qrx" ["::" domain] ["::" function] [": " detail]
// composed once in the constructor; what() never allocates.
class QRX_DF_EXPORT exception : public std::exception {
 public:
  exception(const std::string& domain, const std::string& function, const std::string& detail);
  exception(const exception&) = default;
  exception& operator=(const exception&) = default;
  ~exception() override;
  const char* what() const noexcept override;

 private:
  std::string message_;
};

// detail: "invalid argument" [": " info]
class QRX_DF_EXPORT invalid_argument : public exception {
 public:
  invalid_argument(const std::string& domain, const std::string& function, const std::string& info);
};

// detail: "computation error" [": " info]
class QRX_DF_EXPORT computation_error : public exception {
 public:
  computation_error(const std::string& domain, const std::string& function, const std::string& info);
};

// detail: "cannot allocate memory on host"
class QRX_DF_EXPORT host_bad_alloc : public exception {
 public:
  host_bad_alloc(const std::string& domain, const std::string& function);
};

// detail: "unsupported device: " followed by the device's name
class QRX_DF_EXPORT unsupported_device : public exception {
 public:
  unsupported_device(const std::string& domain, const std::string& function, const sycl::device& device);
};

}  // namespace velora::qrx
