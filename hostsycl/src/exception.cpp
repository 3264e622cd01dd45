#include <sycl/sycl.hpp>

namespace sycl {
namespace {

class sycl_error_category final : public std::error_category {
 public:
  const char* name() const noexcept override { return "sycl"; }
  std::string message(int value) const override {
    switch (static_cast<errc>(value)) {
      case errc::success: return "success";
      case errc::runtime: return "runtime error";
      case errc::kernel: return "kernel error";
      case errc::accessor: return "accessor error";
      case errc::nd_range: return "nd_range error";
      case errc::event: return "event error";
      case errc::kernel_argument: return "kernel argument error";
      case errc::build: return "build error";
      case errc::invalid: return "invalid";
      case errc::memory_allocation: return "memory allocation error";
      case errc::platform: return "platform error";
      case errc::profiling: return "profiling error";
      case errc::feature_not_supported: return "feature not supported";
      case errc::kernel_not_supported: return "kernel not supported";
      case errc::backend_mismatch: return "backend mismatch";
    }
    return "unknown error";
  }
};

}  // namespace

const std::error_category& sycl_category() noexcept {
  static const sycl_error_category category;
  return category;
}

std::error_code make_error_code(errc e) noexcept { return {static_cast<int>(e), sycl_category()}; }

exception::exception(std::error_code ec, const std::string& what_arg) : code_(ec), what_(what_arg) {}
exception::exception(std::error_code ec, const char* what_arg) : code_(ec), what_(what_arg) {}
exception::exception(std::error_code ec) : code_(ec), what_(ec.message()) {}
exception::~exception() = default;

}  // namespace sycl
