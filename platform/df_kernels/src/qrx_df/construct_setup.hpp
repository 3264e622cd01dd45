#pragma once

// What a construction kernel reads from its task, the checks every
// computing kernel makes, and the parallel loops over functions and cells.

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>

#include "qrx_df/parallel.hpp"
#include "qrx_df/bc_kinds.hpp"
#include "qrx_df/isa.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/partition_check.hpp"
#include "qrx_df/task_record.hpp"
#include "qrx_df/value_select.hpp"

namespace qrx_df {

// Cells per work unit: long enough for the inner loops, short enough to
// spread one long function over all threads.
inline constexpr std::int64_t cells_per_unit = 4096;

// Values of one function at the breakpoints.
template <typename T, bool ColMajor>
struct function_row {
  const T* p;
  std::int64_t stride;  // ny for column-major values
  T operator[](std::int64_t i) const {
    if constexpr (ColMajor) {
      return p[i * stride];
    } else {
      return p[i];
    }
  }
};

// What the construction of one task reads, copied out of the record.
template <typename T>
struct construct_setup {
  std::int64_t nx;
  std::int64_t ny;
  const T* x;  // breakpoints; for a uniform partition its two ends
  bool uniform;
  bool col_major;
  const T* const* rows;  // row-major function pointers
  const T* values;       // function-value array
  T* const* coeffs;      // per-function coefficient pointers
  const T* ic;           // internal conditions at the interior breakpoints
  std::int64_t bc;
  T left;
  T right;
};

template <typename T>
construct_setup<T> setup_of(const qrx_df_task* task) {
  construct_setup<T> s{};
  s.nx = task->nx;
  s.ny = task->ny;
  s.x = static_cast<const T*>(task->partition);
  s.uniform = task->partition_hint == QRX_DF_PARTITION_UNIFORM;
  s.col_major = task->function_hint == QRX_DF_FUNCTIONS_COL_MAJOR;
  s.rows = reinterpret_cast<const T* const*>(task->functions);
  s.values = static_cast<const T*>(task->function_values);
  s.coeffs = reinterpret_cast<T* const*>(task->coeffs);
  s.ic = static_cast<const T*>(task->internal_conditions);
  s.bc = task->bc_type;
  s.left = static_cast<T>(task->bc_values[0]);
  s.right = static_cast<T>(task->bc_values[1]);
  return s;
}

template <typename T, bool ColMajor>
function_row<T, ColMajor> row_of(const construct_setup<T>& s, std::int64_t j) {
  if constexpr (ColMajor) {
    return {s.values + j, s.ny};
  } else {
    return {s.rows[j], 1};
  }
}

// Runs cells(j, k0, k1) over every function j and its cells in [0, nx - 1),
// cut into units of at most cells_per_unit cells.
template <typename T, typename Cells>
std::int32_t for_all_cells(const construct_setup<T>& s, const qrx_df_threader_block* threader, Cells cells) {
  const std::int64_t ncells = s.nx - 1;
  const std::int64_t chunks = (ncells + cells_per_unit - 1) / cells_per_unit;
  auto job = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t u = begin; u < end; ++u) {
      const std::int64_t j = u / chunks;
      const std::int64_t k0 = (u % chunks) * cells_per_unit;
      cells(j, k0, k0 + cells_per_unit < ncells ? k0 + cells_per_unit : ncells);
    }
  };
  return run_units(threader, s.ny * chunks, s.ny * ncells, job);
}

// Runs function(j) over every function j: for constructions whose
// functions cannot be cut into independent runs of cells.
template <typename T, typename Function>
std::int32_t for_all_functions(const construct_setup<T>& s, const qrx_df_threader_block* threader, Function function) {
  auto job = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t j = begin; j < end; ++j) function(j);
  };
  return run_units(threader, s.ny, s.ny * s.nx, job);
}

// Kernel<T, Uniform, ColMajor>::cells compiled for each instruction set;
// the variants compute the same IEEE operations in the same order.
template <typename T>
using cells_fn = void (*)(const construct_setup<T>&, std::int64_t, std::int64_t, std::int64_t);

template <typename T, template <typename, bool, bool> class Kernel, bool Uniform, bool ColMajor>
void cells_baseline(const construct_setup<T>& s, std::int64_t j, std::int64_t k0, std::int64_t k1) {
  Kernel<T, Uniform, ColMajor>::cells(s, j, k0, k1);
}
#if QRX_DF_HAVE_AVX2_VARIANT
template <typename T, template <typename, bool, bool> class Kernel, bool Uniform, bool ColMajor>
QRX_DF_TARGET_AVX2 void cells_avx2(const construct_setup<T>& s, std::int64_t j, std::int64_t k0, std::int64_t k1) {
  Kernel<T, Uniform, ColMajor>::cells(s, j, k0, k1);
}
#endif

template <typename T, template <typename, bool, bool> class Kernel, bool Uniform, bool ColMajor>
cells_fn<T> cells_variant(isa target) {
#if QRX_DF_HAVE_AVX2_VARIANT
  if (target != isa::baseline) return &cells_avx2<T, Kernel, Uniform, ColMajor>;
#endif
  (void)target;
  return &cells_baseline<T, Kernel, Uniform, ColMajor>;
}

// Picks Kernel<T, Uniform, ColMajor> for the partition and function layouts
// and the widest instruction set, and runs Kernel::cells(s, j, k0, k1) over
// all cells.
template <typename T, template <typename, bool, bool> class Kernel>
std::int32_t construct_cells(const construct_setup<T>& s, const qrx_df_threader_block* threader) {
  using flags = value_list<bool, false, true>;
  const isa target = best_isa();
  cells_fn<T> cells = nullptr;
  select(flags{}, s.uniform, [&](auto uniform) {
    select(flags{}, s.col_major, [&](auto col_major) {
      cells = cells_variant<T, Kernel, decltype(uniform)::value, decltype(col_major)::value>(target);
    });
  });
  return for_all_cells(s, threader, [&](std::int64_t j, std::int64_t k0, std::int64_t k1) { cells(s, j, k0, k1); });
}

// Periodic splines need equal end values: equal up to a few roundings of the
// function's largest magnitude.
template <typename T>
std::int32_t check_periodic(const construct_setup<T>& s, const qrx_df_threader_block* threader) {
  std::atomic<bool> mismatch{false};
  auto job = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t j = begin; j < end; ++j) {
      T magnitude = 0;
      T first = 0;
      T last = 0;
      auto scan = [&](auto y) {
        for (std::int64_t i = 0; i < s.nx; ++i) magnitude = std::fmax(magnitude, std::fabs(y[i]));
        first = y[0];
        last = y[s.nx - 1];
      };
      if (s.col_major) {
        scan(row_of<T, true>(s, j));
      } else {
        scan(row_of<T, false>(s, j));
      }
      const T tolerance = T(4) * std::numeric_limits<T>::epsilon() * magnitude;
      if (!(std::fabs(first - last) <= tolerance)) mismatch.store(true, std::memory_order_relaxed);
    }
  };
  const std::int32_t status = run_units(threader, s.ny, s.ny * s.nx, job);
  if (status != QRX_DF_STATUS_OK) return status;
  return mismatch.load() ? QRX_DF_STATUS_NOT_PERIODIC : QRX_DF_STATUS_OK;
}

// Checks shared by the construction kernels that compute, the partition's
// order included (through the threader). The partition's search table is
// left to the first search.
template <typename T>
std::int32_t check_construct(const qrx_df_task* task, std::int64_t format, std::int64_t method,
                             const qrx_df_threader_block* threader) {
  if (task == nullptr) return QRX_DF_STATUS_NULL_TASK;
  if (!has_precision<T>(task)) return QRX_DF_STATUS_WRONG_PRECISION;
  if (format != 0 || method != 0) return QRX_DF_STATUS_BAD_METHOD;
  if (task->ny > 0 && task->coeff_values == nullptr) return QRX_DF_STATUS_NO_COEFFS;
  if (task->ny > 0 && task->function_values == nullptr) return QRX_DF_STATUS_NO_FUNCTIONS;
  if (task->partition == nullptr) return QRX_DF_STATUS_NO_PARTITION;
  return check_partition<T>(task, threader);
}

// The checks of a cubic kernel of the given type: order, type, at least
// three breakpoints.
template <typename T>
std::int32_t check_cubic(const qrx_df_task* task, std::int64_t format, std::int64_t method, std::int64_t type,
                         const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_construct<T>(task, format, method, threader); status != QRX_DF_STATUS_OK) {
    return status;
  }
  if (task->order != QRX_DF_ORDER_CUBIC) return QRX_DF_STATUS_BAD_ORDER;
  if (task->type != type) return QRX_DF_STATUS_BAD_SPLINE_TYPE;
  if (task->nx < 3) return QRX_DF_STATUS_BAD_NX;
  return QRX_DF_STATUS_OK;
}

// The cubics built from per-breakpoint internal conditions shared by all
// functions (Hermite: first derivatives; default: second derivatives): the
// checks they share, the periodic end check, then Kernel over every cell.
template <typename T, template <typename, bool, bool> class Kernel>
std::int32_t construct_with_conditions(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                       std::int64_t type, std::int64_t ic_type,
                                       const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_cubic<T>(task, format, method, type, threader); status != QRX_DF_STATUS_OK) {
    return status;
  }
  if (task->ic_type != ic_type) return QRX_DF_STATUS_BAD_IC_TYPE;
  if (task->internal_conditions == nullptr) return QRX_DF_STATUS_NO_IC;
  if (!hermite_bc_kinds::contains(task->bc_type)) return QRX_DF_STATUS_BAD_BC_TYPE;
  if (reads_bc_values(task->bc_type, true) && task->has_bc_values == 0) return QRX_DF_STATUS_NO_BC_VALUES;
  const construct_setup<T> s = setup_of<T>(task);
  if (s.bc == QRX_DF_BC_PERIODIC) {
    if (const std::int32_t status = check_periodic(s, threader); status != QRX_DF_STATUS_OK) return status;
  }
  return construct_cells<T, Kernel>(s, threader);
}

}  // namespace qrx_df
