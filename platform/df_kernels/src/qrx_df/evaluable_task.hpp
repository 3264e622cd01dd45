#pragma once

#include <cstdint>

#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/task_record.hpp"

namespace qrx_df {

// Whether a task's spline can be integrated or solved in precision T: its
// parameters given, linear or cubic, with coefficients when it has functions.
template <typename T>
std::int32_t check_evaluable(const qrx_df_task* task) {
  if (task == nullptr) return QRX_DF_STATUS_NULL_TASK;
  if (!has_precision<T>(task)) return QRX_DF_STATUS_WRONG_PRECISION;
  if (task->spline_set == 0 || (task->order != QRX_DF_ORDER_LINEAR && task->order != QRX_DF_ORDER_CUBIC)) {
    return QRX_DF_STATUS_BAD_ORDER;
  }
  if (task->ny > 0 && task->coeff_values == nullptr) return QRX_DF_STATUS_NO_COEFFS;
  return QRX_DF_STATUS_OK;
}

}  // namespace qrx_df
