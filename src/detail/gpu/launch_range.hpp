#pragma once

#include <cstdint>
#include <string>

#include <sycl/sycl.hpp>

namespace velora::qrx::experimental::data_fitting::detail {

// Kernels use 32-bit work-item ids. Refusing larger launches here, before
// submission, gives the same behaviour on every SYCL implementation.
inline constexpr std::int64_t max_work_items = (std::int64_t{1} << 31) - 1;

// Returns the launch size a*b as sycl::range<1>, or throws sycl::exception
// with errc::nd_range when the product reaches 2^31 work-items.
inline sycl::range<1> checked_launch_range(std::int64_t a, std::int64_t b) {
  if (a < 0 || b < 0 || (a != 0 && b > max_work_items / a)) {
    throw sycl::exception(sycl::make_error_code(sycl::errc::nd_range),
                          "launch range of " + std::to_string(a) + " x " + std::to_string(b) +
                              " work-items reaches 2^31");
  }
  return sycl::range<1>(static_cast<std::size_t>(a * b));
}

}  // namespace velora::qrx::experimental::data_fitting::detail
