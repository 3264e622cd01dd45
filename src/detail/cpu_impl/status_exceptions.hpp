#pragma once

#include <cstdint>

#include "data_fitting/exceptions.hpp"
#include "detail/periodic_mismatch.hpp"
#include "detail/error_domain.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace velora::qrx::experimental::data_fitting::detail {

// Turns a non-zero status of the CPU kernels into the library's exception.
// The only place where kernel statuses become exceptions.
inline void throw_on_failure(std::int32_t status) {
  switch (status) {
    case QRX_DF_STATUS_OK:
      return;
    case QRX_DF_STATUS_NOT_PERIODIC:
      throw periodic_mismatch();
    case QRX_DF_STATUS_BAD_ALLOC:
      throw velora::qrx::host_bad_alloc(error_domain, "bad alloc");
    default:
      throw velora::qrx::computation_error(error_domain, "internal error", "");
  }
}

}  // namespace velora::qrx::experimental::data_fitting::detail
