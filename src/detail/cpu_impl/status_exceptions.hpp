#pragma once

#include <cstdint>

#include "data_fitting/exceptions.hpp"
#include "detail/periodic_mismatch.hpp"
#include "detail/error_domain.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Turns a non-zero status of the CPU kernels into the library's exception.
// The only place where kernel statuses become exceptions.
inline void throw_on_failure(std::int32_t status) {
  switch (status) {
    case 0:
      return;
    case -1018:
      throw periodic_mismatch();
    case -1001:
      throw velora::qrx::host_bad_alloc(error_domain, "bad alloc");
    default:
      throw velora::qrx::computation_error(error_domain, "internal error", "");
  }
}

}  // namespace velora::qrx::experimental::data_fitting::detail
