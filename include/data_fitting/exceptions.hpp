#pragma once

/// \file
/// The library's exception family. Every exception the library throws on
/// the calling thread, or hands to a queue's asynchronous error handler, is
/// a velora::qrx::exception; SYCL itself may throw sycl::exception (for
/// example errc::nd_range for launches of 2^31 work-items or more).

#include <exception>
#include <string>

#include <sycl/sycl.hpp>

#include "data_fitting/export.hpp"

/// The maker's namespace; the exception family lives here.
namespace velora::qrx {

/// Base of every exception the library throws. what() is
/// "velora::qrx" ["::" domain] ["::" function] [": " detail] (an empty
/// part and its separator are left out), composed once in the constructor;
/// what() never allocates. The library's domain is "data_fitting".
class QRX_DF_EXPORT exception : public std::exception {
 public:
  /// \param domain the library that throws ("data_fitting")
  /// \param function the operation that failed, or a short description
  /// \param detail what went wrong
  exception(const std::string& domain, const std::string& function, const std::string& detail);
  /// Copies the message.
  exception(const exception&) = default;
  /// Copies the message.
  exception& operator=(const exception&) = default;
  ~exception() override;
  /// The composed message.
  const char* what() const noexcept override;

 private:
  std::string message_;
};

/// An argument or the spline's state does not allow the operation. detail:
/// "invalid argument" [": " info].
class QRX_DF_EXPORT invalid_argument : public exception {
 public:
  /// \param domain the library that throws
  /// \param function the operation that failed
  /// \param info why, as the operation's documentation lists it
  invalid_argument(const std::string& domain, const std::string& function, const std::string& info);
};

/// The operation cannot compute what was asked (for example coefficients
/// that were not computed). detail: "computation error" [": " info].
class QRX_DF_EXPORT computation_error : public exception {
 public:
  /// \param domain the library that throws
  /// \param function the operation that failed
  /// \param info why
  computation_error(const std::string& domain, const std::string& function, const std::string& info);
};

/// Host memory could not be had. detail: "cannot allocate memory on host".
class QRX_DF_EXPORT host_bad_alloc : public exception {
 public:
  /// \param domain the library that throws
  /// \param function the operation that failed
  host_bad_alloc(const std::string& domain, const std::string& function);
};

/// A spline was asked for on a device that is neither a CPU nor a GPU.
/// detail: "unsupported device: " followed by the device's name.
class QRX_DF_EXPORT unsupported_device : public exception {
 public:
  /// \param domain the library that throws
  /// \param function the spline kind's name
  /// \param device the device refused
  unsupported_device(const std::string& domain, const std::string& function, const sycl::device& device);
};

}  // namespace velora::qrx
