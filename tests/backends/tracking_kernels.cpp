// Forwards the kernels a double-precision linear spline uses to the real
// kernel library (QRX_REAL_KERNELS) and keeps account of the tasks.

#include "tracking_kernels.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "qrx_df_kernels/df_kernels.h"

namespace {

// Never destroyed, so that deleted tasks stay reachable until the process ends.
std::mutex& mutex = *new std::mutex;
std::set<const qrx_df_task*>& live = *new std::set<const qrx_df_task*>;
std::set<const qrx_df_task*>& deleted = *new std::set<const qrx_df_task*>;  // never freed: addresses stay unique
tracking_counts counts{};
std::atomic<int> hold_interpolation{0};
std::atomic<int> slow_new_task_ms{0};

template <typename F>
F real(const char* name) {
  static void* const module = dlopen(QRX_REAL_KERNELS, RTLD_NOW | RTLD_LOCAL);
  return reinterpret_cast<F>(dlsym(module, name));
}
#define QRX_REAL(name) real<decltype(&name)>(#name)

// Counts a kernel call on a task that is no longer live.
void check_live(const qrx_df_task* task) {
  std::lock_guard<std::mutex> lock(mutex);
  if (deleted.count(task) != 0) ++counts.used_after_delete;
}

}  // namespace

extern "C" {

tracking_counts tracking_counts_now(void) {
  std::lock_guard<std::mutex> lock(mutex);
  return counts;
}

void tracking_hold_interpolation(int32_t hold) { hold_interpolation = hold; }
void tracking_slow_new_task(int32_t milliseconds) { slow_new_task_ms = milliseconds; }

int32_t qrx_df_kernel_dNewTask1D(qrx_df_task** task, int64_t nx, const double* partition, int64_t partition_hint,
                                 int64_t ny, const double* functions, int64_t function_hint, int64_t record_version) {
  std::this_thread::sleep_for(std::chrono::milliseconds(slow_new_task_ms.load()));
  const int32_t status = QRX_REAL(qrx_df_kernel_dNewTask1D)(task, nx, partition, partition_hint, ny, functions,
                                                            function_hint, record_version);
  if (status == 0) {
    std::lock_guard<std::mutex> lock(mutex);
    live.insert(*task);
    ++counts.created;
    ++counts.live;
  }
  return status;
}

int32_t qrx_df_kernel_DeleteTask(qrx_df_task** task) {
  if (task == nullptr || *task == nullptr) return QRX_REAL(qrx_df_kernel_DeleteTask)(task);
  std::lock_guard<std::mutex> lock(mutex);
  if (live.erase(*task) != 0) {
    --counts.live;
    deleted.insert(*task);
  } else {
    ++counts.used_after_delete;
  }
  *task = nullptr;
  return 0;
}

int32_t qrx_df_kernel_iEditVal(qrx_df_task* task, int64_t attribute, int64_t value) {
  check_live(task);
  return QRX_REAL(qrx_df_kernel_iEditVal)(task, attribute, value);
}

int32_t qrx_df_kernel_dEditPPSpline1D(qrx_df_task* task, int64_t order, int64_t type, int64_t bc_type,
                                      const double* bc_values, int64_t ic_type, const double* internal_conditions,
                                      double* coeffs, int64_t coeff_hint) {
  check_live(task);
  return QRX_REAL(qrx_df_kernel_dEditPPSpline1D)(task, order, type, bc_type, bc_values, ic_type,
                                                 internal_conditions, coeffs, coeff_hint);
}

int32_t qrx_df_kernel_dDFLinearSpline1D(qrx_df_task* task, int64_t format, int64_t method,
                                        const qrx_df_threader_block* threader) {
  check_live(task);
  return QRX_REAL(qrx_df_kernel_dDFLinearSpline1D)(task, format, method, threader);
}

// The task is checked after the call: it must stay live while the kernel reads it.
int32_t qrx_df_kernel_dDFInterpolate1D(qrx_df_task* task, int64_t type, int64_t method, int64_t nsites,
                                       const double* sites, int64_t site_hint, int64_t der_count,
                                       const int64_t* der_indicators, int64_t data_hint, double* results,
                                       int64_t result_hint, int64_t* cells, const void* r0, const void* r1,
                                       const void* r2, const void* r3, const void* r4, const void* r5,
                                       const void* r6, const void* r7, const qrx_df_threader_block* threader) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    ++counts.interpolating;
  }
  while (hold_interpolation.load() != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const int32_t status = QRX_REAL(qrx_df_kernel_dDFInterpolate1D)(
      task, type, method, nsites, sites, site_hint, der_count, der_indicators, data_hint, results, result_hint,
      cells, r0, r1, r2, r3, r4, r5, r6, r7, threader);
  check_live(task);
  std::lock_guard<std::mutex> lock(mutex);
  --counts.interpolating;
  return status;
}

}  // extern "C"
