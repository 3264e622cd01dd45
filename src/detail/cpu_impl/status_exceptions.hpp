#pragma once

#include <cstdint>
#include <string>

#include "data_fitting/exceptions.hpp"
#include "detail/fitting_fault.hpp"
#include "detail/partition_fault.hpp"
#include "detail/periodic_mismatch.hpp"
#include "detail/error_domain.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace velora::qrx::experimental::data_fitting::detail {

// Turns a non-zero status of the CPU kernels into the library's exception,
// naming the public function whose work failed. The only place where
// kernel statuses become exceptions. A status that no public call can
// provoke is reported with its number.
inline void throw_on_failure(std::int32_t status, const char* function) {
  switch (status) {
    case QRX_DF_STATUS_OK:
      return;
    case QRX_DF_STATUS_NOT_PERIODIC:
      throw periodic_mismatch();
    case QRX_DF_STATUS_PARTITION_NOT_FINITE:
      throw partition_refusal(partition_not_finite);
    case QRX_DF_STATUS_PARTITION_NOT_INCREASING:
      throw partition_refusal(partition_not_increasing);
    case QRX_DF_STATUS_DATA_SITE_OUTSIDE:
      throw fitting_refusal(fitting_data_outside);
    case QRX_DF_STATUS_BAD_WEIGHTS:
      throw fitting_refusal(fitting_bad_weights);
    case QRX_DF_STATUS_BAD_LAMBDA:
      throw fitting_refusal(fitting_bad_lambda);
    case QRX_DF_STATUS_DATA_UNDETERMINED:
      throw fitting_refusal(fitting_undetermined);
    case QRX_DF_STATUS_BAD_ALLOC:
      throw velora::qrx::host_bad_alloc(error_domain, "bad alloc");
    default:
      throw velora::qrx::computation_error(error_domain, function,
                                           "internal error: kernel status " + std::to_string(status));
  }
}

}  // namespace velora::qrx::experimental::data_fitting::detail
