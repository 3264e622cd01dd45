// Construction kernels of the C2 cubic kinds: the natural cubic spline, whose
// slopes solve a tridiagonal system (c2_system.hpp), and Hyman's monotone
// spline, which limits those slopes. Short partitions are solved function by
// function with the Thomas algorithm; long ones by blocks (c2_blocked.hpp),
// which spreads even a single function over every thread.

#include <cstdint>

#include "qrx_df/bc_kinds.hpp"
#include "qrx_df/c2_blocked.hpp"
#include "qrx_df/c2_system.hpp"
#include "qrx_df/construct_setup.hpp"
#include "qrx_df/isa.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/task_record.hpp"
#include "qrx_df/value_select.hpp"

namespace qrx_df {
namespace {

template <typename T, bool Monotone>
std::int32_t solve_all(const construct_setup<T>& s, const qrx_df_threader_block* threader) {
  using flags = value_list<bool, false, true>;
  const bool blocked = c2_solve_by_blocks(s.nx - 1);
  const isa target = blocked ? best_isa() : isa::baseline;
  std::int32_t status = QRX_DF_STATUS_OK;
  select(flags{}, s.uniform, [&](auto uniform) {
    select(flags{}, s.col_major, [&](auto col_major) {
      constexpr bool Uniform = decltype(uniform)::value;
      constexpr bool ColMajor = decltype(col_major)::value;
      if (blocked) {
        status = c2_solve_blocked<T, Uniform, ColMajor, Monotone>(s, threader, target);
      } else {
        status = for_all_functions(s, threader, [&](std::int64_t j) {
          c2_system<T, Uniform, ColMajor, Monotone>(s, j).solve_serial();
        });
      }
    });
  });
  return status;
}

template <typename T, bool Monotone>
std::int32_t construct_c2(qrx_df_task* task, std::int64_t format, std::int64_t method,
                          const qrx_df_threader_block* threader) {
  const std::int64_t type = Monotone ? QRX_DF_CUBIC_HYMAN : QRX_DF_CUBIC_NATURAL;
  if (const std::int32_t status = check_cubic<T>(task, format, method, type, threader); status != QRX_DF_STATUS_OK) {
    return status;
  }
  if (!c2_bc_kinds::contains(task->bc_type)) return QRX_DF_STATUS_BAD_BC_TYPE;
  if (reads_bc_values(task->bc_type, false) && task->has_bc_values == 0) return QRX_DF_STATUS_NO_BC_VALUES;
  const construct_setup<T> s = setup_of<T>(task);
  if (s.bc == QRX_DF_BC_PERIODIC) {
    if (const std::int32_t status = check_periodic(s, threader); status != QRX_DF_STATUS_OK) return status;
  }
  return solve_all<T, Monotone>(s, threader);
}

}  // namespace
}  // namespace qrx_df

extern "C" {

std::int32_t qrx_df_kernel_sDFNaturalCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                                   const qrx_df_threader_block* threader) {
  return qrx_df::construct_c2<float, false>(task, format, method, threader);
}
std::int32_t qrx_df_kernel_dDFNaturalCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                                   const qrx_df_threader_block* threader) {
  return qrx_df::construct_c2<double, false>(task, format, method, threader);
}
std::int32_t qrx_df_kernel_sDFHymanCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                                 const qrx_df_threader_block* threader) {
  return qrx_df::construct_c2<float, true>(task, format, method, threader);
}
std::int32_t qrx_df_kernel_dDFHymanCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                                 const qrx_df_threader_block* threader) {
  return qrx_df::construct_c2<double, true>(task, format, method, threader);
}

}  // extern "C"
