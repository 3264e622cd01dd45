#pragma once

// The check every computing construction makes of its partition: a listed
// partition finite and strictly increasing, a uniform one finite with
// a < b. Cell searches then never meet breakpoints out of order.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>

#include "qrx_df/parallel.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/task_record.hpp"

namespace qrx_df {

// Breakpoint pairs per work unit.
inline constexpr std::int64_t partition_check_unit = 16384;

template <typename T>
std::int32_t check_partition(const qrx_df_task* task, const qrx_df_threader_block* threader) {
  const T* x = static_cast<const T*>(task->partition);
  const std::int64_t pairs = task->partition_hint == QRX_DF_PARTITION_UNIFORM ? 1 : task->nx - 1;
  std::atomic<bool> not_finite{false};
  std::atomic<bool> not_increasing{false};
  auto job = [&](std::int64_t begin, std::int64_t end) {
    bool finite = true;
    bool increasing = true;
    const std::int64_t last = std::min(pairs, end * partition_check_unit);
    for (std::int64_t i = begin * partition_check_unit; i < last; ++i) {
      finite = finite && std::isfinite(x[i]) && std::isfinite(x[i + 1]);
      increasing = increasing && x[i] < x[i + 1];
    }
    if (!finite) not_finite.store(true, std::memory_order_relaxed);
    if (!increasing) not_increasing.store(true, std::memory_order_relaxed);
  };
  const std::int64_t units = (pairs + partition_check_unit - 1) / partition_check_unit;
  if (const std::int32_t status = run_units(threader, units, pairs, job); status != QRX_DF_STATUS_OK) return status;
  if (not_finite.load()) return QRX_DF_STATUS_PARTITION_NOT_FINITE;
  if (not_increasing.load()) return QRX_DF_STATUS_PARTITION_NOT_INCREASING;
  return QRX_DF_STATUS_OK;
}

}  // namespace qrx_df
