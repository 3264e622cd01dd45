#pragma once

#include <algorithm>
#include <cstdint>

#include "qrx_df_kernels/df_kernels.h"

namespace qrx_df {

// Below this many element operations (coefficient cells or site-function
// evaluations) a kernel runs on the calling thread: handing work to the
// threader costs a few microseconds, as much as 4000 to 8000 of the cheapest
// evaluations (uniform partition, about 1.1 ns each) and about 1500 of the
// dearest (random sites on a listed partition, about 4.5 ns). Measured on two
// threads: the threaded call won from 8192 evaluations on the uniform
// partition and from 2048 on the listed one.
inline constexpr std::int64_t serial_threshold = 8192;

template <typename Job>
void run_job_range(void* job, std::int64_t begin, std::int64_t end) {
  (*static_cast<Job*>(job))(begin, end);
}

// Runs job(begin, end) over the work units [0, units), through the threader
// when the work is large enough and one was handed over, else serially.
// `work` is the number of element operations. Returns a status.
template <typename Job>
std::int32_t run_units(const qrx_df_threader_block* threader, std::int64_t units, std::int64_t work, Job& job) {
  if (units <= 0) return QRX_DF_STATUS_OK;
  const qrx_df_threader_entries* e = threader != nullptr ? &threader->entries[0] : nullptr;
  const std::int32_t threads =
      (e != nullptr && e->threader_for != nullptr && e->get_num_threads_limit != nullptr) ? e->get_num_threads_limit()
                                                                                            : 1;
  if (threads <= 1 || units == 1 || work < serial_threshold) {
    job(std::int64_t{0}, units);
    return QRX_DF_STATUS_OK;
  }
  // About eight ranges per thread balance the load without many small calls.
  const std::int64_t grain = std::max<std::int64_t>(1, units / (8 * std::int64_t{threads}));
  const std::int32_t status = e->threader_for(units, grain, &job, &run_job_range<Job>);
  return status == QRX_SERV_THREADER_OK ? QRX_DF_STATUS_OK : QRX_DF_STATUS_BAD_ALLOC;
}

}  // namespace qrx_df
