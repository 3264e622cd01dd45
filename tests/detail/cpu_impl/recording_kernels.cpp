// Test-only kernel library: records each call and returns a chosen status.

#include "recording_kernels.h"

#include <cstdint>
#include <initializer_list>

namespace {

recorded_call last{};
std::int32_t status_to_return = 0;

std::int32_t record(const char* kernel, std::initializer_list<std::int64_t> args,
                    const qrx_df_threader_block* threader = nullptr) {
  const std::int64_t calls = last.calls;
  last = recorded_call{};
  last.kernel = kernel;
  for (std::int64_t a : args) last.args[last.nargs++] = a;
  last.threader = threader;
  last.calls = calls + 1;
  return status_to_return;
}

std::int64_t addr(const void* p) { return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(p)); }

}  // namespace

extern "C" {

QRX_DF_KERNEL_API const recorded_call* recording_last_call() { return &last; }
QRX_DF_KERNEL_API void recording_reset(std::int32_t status) {
  last = recorded_call{};
  status_to_return = status;
}

std::int32_t qrx_df_kernel_DeleteTask(qrx_df_task** task) { return record("DeleteTask", {addr(task)}); }
std::int32_t qrx_df_kernel_iEditVal(qrx_df_task* task, std::int64_t attribute, std::int64_t value) {
  return record("iEditVal", {addr(task), attribute, value});
}

#define QRX_RECORD_PRECISION(p, T)                                                                                    \
  std::int32_t qrx_df_kernel_##p##NewTask1D(qrx_df_task** task, std::int64_t nx, const T* partition,                  \
                                            std::int64_t part_hint, std::int64_t ny, const T* functions,              \
                                            std::int64_t func_hint, std::int64_t version) {                           \
    return record(#p "NewTask1D", {addr(task), nx, addr(partition), part_hint, ny, addr(functions), func_hint,        \
                                   version});                                                                         \
  }                                                                                                                   \
  std::int32_t qrx_df_kernel_##p##EditPPSpline1D(qrx_df_task* task, std::int64_t order, std::int64_t type,            \
                                                 std::int64_t bc_type, const T* bc_values, std::int64_t ic_type,      \
                                                 const T* ic, T* coeffs, std::int64_t coeff_hint) {                   \
    return record(#p "EditPPSpline1D",                                                                                \
                  {addr(task), order, type, bc_type, addr(bc_values), ic_type, addr(ic), addr(coeffs), coeff_hint});  \
  }                                                                                                                   \
  std::int32_t qrx_df_kernel_##p##DFInterpolate1D(                                                                    \
      qrx_df_task* task, std::int64_t type, std::int64_t method, std::int64_t nsites, const T* sites,                 \
      std::int64_t site_hint, std::int64_t der_count, const std::int64_t* der_indicators, std::int64_t data_hint,     \
      T* results, std::int64_t result_hint, std::int64_t* cells, const void* r0, const void* r1, const void* r2,      \
      const void* r3, const void* r4, const void* r5, const void* r6, const void* r7,                                 \
      const qrx_df_threader_block* threader) {                                                                        \
    const std::int32_t s = record(#p "DFInterpolate1D",                                                               \
                                  {addr(task), type, method, nsites, addr(sites), site_hint, der_count,               \
                                   addr(der_indicators), data_hint, addr(results), result_hint, addr(cells)},         \
                                  threader);                                                                          \
    const void* reserved[8] = {r0, r1, r2, r3, r4, r5, r6, r7};                                                       \
    for (int i = 0; i < 8; ++i) last.reserved[i] = reserved[i];                                                       \
    return s;                                                                                                         \
  }                                                                                                                   \
  std::int32_t qrx_df_kernel_##p##DFSearch1D(qrx_df_task* task, std::int64_t method, std::int64_t nsites,             \
                                             const T* sites, std::int64_t site_hint, std::int64_t data_hint,          \
                                             std::int64_t* cells, const void* r0, const void* r1,                     \
                                             const qrx_df_threader_block* threader) {                                 \
    return record(#p "DFSearch1D",                                                                                    \
                  {addr(task), method, nsites, addr(sites), site_hint, data_hint, addr(cells), addr(r0), addr(r1)},   \
                  threader);                                                                                          \
  }

#define QRX_RECORD_CONSTRUCT(name)                                                                          \
  std::int32_t qrx_df_kernel_##name(qrx_df_task* task, std::int64_t format, std::int64_t method,           \
                                    const qrx_df_threader_block* threader) {                                \
    return record(#name, {addr(task), format, method}, threader);                                           \
  }

QRX_RECORD_PRECISION(s, float)
QRX_RECORD_PRECISION(d, double)
QRX_RECORD_CONSTRUCT(sDFLinearSpline1D)
QRX_RECORD_CONSTRUCT(sDFQuadraticSpline1D)
QRX_RECORD_CONSTRUCT(sDFDefaultCubicSpline1D)
QRX_RECORD_CONSTRUCT(sDFNaturalCubicSpline1D)
QRX_RECORD_CONSTRUCT(sDFHermiteCubicSpline1D)
QRX_RECORD_CONSTRUCT(sDFBesselCubicSpline1D)
QRX_RECORD_CONSTRUCT(sDFHymanCubicSpline1D)
QRX_RECORD_CONSTRUCT(sDFAkimaCubicSpline1D)
QRX_RECORD_CONSTRUCT(sDFPchipCubicSpline1D)
QRX_RECORD_CONSTRUCT(sDFMakimaCubicSpline1D)
QRX_RECORD_CONSTRUCT(sDFSteffenCubicSpline1D)
QRX_RECORD_CONSTRUCT(dDFLinearSpline1D)
QRX_RECORD_CONSTRUCT(dDFQuadraticSpline1D)
QRX_RECORD_CONSTRUCT(dDFDefaultCubicSpline1D)
QRX_RECORD_CONSTRUCT(dDFNaturalCubicSpline1D)
QRX_RECORD_CONSTRUCT(dDFHermiteCubicSpline1D)
QRX_RECORD_CONSTRUCT(dDFBesselCubicSpline1D)
QRX_RECORD_CONSTRUCT(dDFHymanCubicSpline1D)
QRX_RECORD_CONSTRUCT(dDFAkimaCubicSpline1D)
QRX_RECORD_CONSTRUCT(dDFPchipCubicSpline1D)
QRX_RECORD_CONSTRUCT(dDFMakimaCubicSpline1D)
QRX_RECORD_CONSTRUCT(dDFSteffenCubicSpline1D)

}  // extern "C"
