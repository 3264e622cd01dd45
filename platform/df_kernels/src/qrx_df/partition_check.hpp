#pragma once

// The check every computing construction makes of its partition: a listed
// partition finite and strictly increasing, a uniform one finite with
// a < b. Cell searches then never meet breakpoints out of order.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/cell_search.hpp"
#include "qrx_df/parallel.hpp"
#include "qrx_df/task_record.hpp"

namespace qrx_df {

// The nx >= 2 listed breakpoints x, in ranges through the threader: one
// comparison per neighbouring pair, without branches so that it vectorises
// (a strictly increasing run between finite ends is finite, and NaN
// compares false). A refused partition is scanned again serially so that
// a breakpoint that is not finite is named first.
template <typename T>
std::int32_t check_listed_partition(const T* x, std::int64_t nx, const qrx_df_threader_block* threader) {
  const std::int64_t units = (nx + table_chunk - 1) / table_chunk;
  std::atomic<bool> out_of_order{false};
  auto pass = [&](std::int64_t begin, std::int64_t end) {
    unsigned increasing = 1;
    for (std::int64_t u = begin; u < end; ++u) {
      const std::int64_t i1 = std::min(nx, (u + 1) * table_chunk);
      for (std::int64_t i = std::max<std::int64_t>(1, u * table_chunk); i < i1; ++i) {
        increasing &= static_cast<unsigned>(x[i - 1] < x[i]);
      }
    }
    if (increasing == 0) out_of_order.store(true, std::memory_order_relaxed);
  };
  if (const std::int32_t status = run_units(threader, units, nx, pass); status != QRX_DF_STATUS_OK) return status;
  if (!out_of_order.load() && std::isfinite(x[0]) && std::isfinite(x[nx - 1])) return QRX_DF_STATUS_OK;
  for (std::int64_t i = 0; i < nx; ++i) {
    if (!std::isfinite(x[i])) return QRX_DF_STATUS_PARTITION_NOT_FINITE;
  }
  return QRX_DF_STATUS_PARTITION_NOT_INCREASING;
}

template <typename T>
std::int32_t check_partition(const qrx_df_task* task, const qrx_df_threader_block* threader) {
  const T* x = static_cast<const T*>(task->partition);
  if (task->partition_hint == QRX_DF_PARTITION_UNIFORM) {
    if (!std::isfinite(x[0]) || !std::isfinite(x[1])) return QRX_DF_STATUS_PARTITION_NOT_FINITE;
    return x[0] < x[1] ? QRX_DF_STATUS_OK : QRX_DF_STATUS_PARTITION_NOT_INCREASING;
  }
  return check_listed_partition(x, task->nx, threader);
}

}  // namespace qrx_df
