#pragma once

// The check every computing construction makes of its partition: a listed
// partition finite and strictly increasing, a uniform one finite with
// a < b. Cell searches then never meet breakpoints out of order.

#include <cmath>
#include <cstdint>

#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/partition_table.hpp"
#include "qrx_df/task_record.hpp"

namespace qrx_df {

// The listed partition's order is checked while its search table is built
// (the table copies every breakpoint anyway), a uniform partition's two
// ends here. Builds the table when it does not exist yet.
template <typename T>
std::int32_t check_partition(const qrx_df_task* task, const qrx_df_threader_block* threader) {
  const T* x = static_cast<const T*>(task->partition);
  const bool uniform = task->partition_hint == QRX_DF_PARTITION_UNIFORM;
  if (uniform) {
    if (!std::isfinite(x[0]) || !std::isfinite(x[1])) return QRX_DF_STATUS_PARTITION_NOT_FINITE;
    return x[0] < x[1] ? QRX_DF_STATUS_OK : QRX_DF_STATUS_PARTITION_NOT_INCREASING;
  }
  const search_table<T>* table = partition_table<T>(task, threader);
  if (table == nullptr) return QRX_DF_STATUS_BAD_ALLOC;
  if (table->sound) return QRX_DF_STATUS_OK;
  // Refused: a breakpoint that is not finite is named first.
  for (std::int64_t i = 0; i < task->nx; ++i) {
    if (!std::isfinite(x[i])) return QRX_DF_STATUS_PARTITION_NOT_FINITE;
  }
  return QRX_DF_STATUS_PARTITION_NOT_INCREASING;
}

}  // namespace qrx_df
