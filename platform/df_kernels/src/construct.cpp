// Construction kernels: linear and cubic Hermite coefficients, and the
// methods this library does not provide.

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>

#include "parallel.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "task_record.hpp"
#include "value_select.hpp"

namespace qrx_df {
namespace {

// Cells per work unit: long enough for the inner loops, short enough to
// spread one long function over all threads.
constexpr std::int64_t cells_per_unit = 4096;

// Boundary-condition kinds of Hermite construction.
using hermite_bc_kinds = value_list<std::int64_t, 0, QRX_DF_BC_1, QRX_DF_BC_FREE_END,
                                    QRX_DF_BC_FIRST_LEFT | QRX_DF_BC_FIRST_RIGHT,
                                    QRX_DF_BC_FIRST_RIGHT | QRX_DF_BC_SECOND_LEFT,
                                    QRX_DF_BC_FIRST_LEFT | QRX_DF_BC_SECOND_RIGHT,
                                    QRX_DF_BC_SECOND_LEFT | QRX_DF_BC_SECOND_RIGHT, QRX_DF_BC_PERIODIC, QRX_DF_BC_128>;

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
  const T* ic;           // first derivatives at the interior breakpoints
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

// Linear: c0 = y0, c1 = (y1 - y0)/(x[k+1] - x[k]), or for a uniform
// partition ((y1 - y0)*(nx - 1))/(b - a).
template <typename T, bool Uniform, bool ColMajor>
void linear_cells(const construct_setup<T>& s, std::int64_t j, std::int64_t k0, std::int64_t k1) {
  const function_row<T, ColMajor> y = row_of<T, ColMajor>(s, j);
  T* c = s.coeffs[j];
  const T* x = s.x;
  const T steps = static_cast<T>(s.nx - 1);
  const T length = x[1] - x[0];
  for (std::int64_t k = k0; k < k1; ++k) {
    const T y0 = y[k];
    const T y1 = y[k + 1];
    c[2 * k] = y0;
    if constexpr (Uniform) {
      c[2 * k + 1] = ((y1 - y0) * steps) / length;
    } else {
      c[2 * k + 1] = (y1 - y0) / (x[k + 1] - x[k]);
    }
  }
}

// The four coefficients of the cubic with values y0, y1 and slopes dl, dr at
// the ends of a cell of reciprocal width r, slope s = (y1 - y0)*r.
template <typename T>
void hermite_cell(T* c, T y0, T s, T r, T dl, T dr) {
  c[0] = y0;
  c[1] = dl;
  c[2] = (T(3) * s - T(2) * dl - dr) * r;
  c[3] = (dl + dr - T(2) * s) * r * r;
}

// h*v/4 for a cell of width h = 1/r; a uniform partition never forms h.
template <typename T, bool Uniform>
T quarter_width_times(T v, T h, T r) {
  if constexpr (Uniform) {
    return (T(0.25) * v) / r;
  } else {
    return T(0.25) * h * v;
  }
}

// Slope at x[0] from the first cell (slope s, right-end slope dr). Kinds 0,
// 1 and 128 make that cell a quadratic.
template <typename T, bool Uniform>
T left_end_slope(const construct_setup<T>& st, T s, T h, T r, T dr) {
  switch (st.bc) {
    case QRX_DF_BC_FREE_END:
      return T(1.5) * s - T(0.5) * dr;
    case QRX_DF_BC_FIRST_LEFT | QRX_DF_BC_FIRST_RIGHT:
    case QRX_DF_BC_FIRST_LEFT | QRX_DF_BC_SECOND_RIGHT:
    case QRX_DF_BC_PERIODIC:
      return st.left;
    case QRX_DF_BC_FIRST_RIGHT | QRX_DF_BC_SECOND_LEFT:
    case QRX_DF_BC_SECOND_LEFT | QRX_DF_BC_SECOND_RIGHT:
      return T(1.5) * s - T(0.5) * dr - quarter_width_times<T, Uniform>(st.left, h, r);
    default:
      return T(2) * s - dr;
  }
}

// Slope at x[nx-1] from the last cell (slope s, left-end slope dl).
template <typename T, bool Uniform>
T right_end_slope(const construct_setup<T>& st, T s, T h, T r, T dl) {
  switch (st.bc) {
    case QRX_DF_BC_FREE_END:
      return T(1.5) * s - T(0.5) * dl;
    case QRX_DF_BC_FIRST_LEFT | QRX_DF_BC_FIRST_RIGHT:
    case QRX_DF_BC_FIRST_RIGHT | QRX_DF_BC_SECOND_LEFT:
      return st.right;
    case QRX_DF_BC_PERIODIC:
      return st.left;
    case QRX_DF_BC_FIRST_LEFT | QRX_DF_BC_SECOND_RIGHT:
    case QRX_DF_BC_SECOND_LEFT | QRX_DF_BC_SECOND_RIGHT:
      return T(1.5) * s - T(0.5) * dl + quarter_width_times<T, Uniform>(st.right, h, r);
    default:
      return T(2) * s - dl;
  }
}

// Hermite: slopes at the interior breakpoints from the internal conditions
// (ic[i-1] at breakpoint i), at the two ends from the boundary conditions.
template <typename T, bool Uniform, bool ColMajor>
void hermite_cells(const construct_setup<T>& s, std::int64_t j, std::int64_t k0, std::int64_t k1) {
  const function_row<T, ColMajor> y = row_of<T, ColMajor>(s, j);
  T* c = s.coeffs[j];
  const T* x = s.x;
  const T* ic = s.ic;
  const std::int64_t last = s.nx - 2;
  const T uniform_r = static_cast<T>(s.nx - 1) / (x[1] - x[0]);
  auto width = [&](std::int64_t k) { return Uniform ? T(0) : x[k + 1] - x[k]; };
  auto reciprocal = [&](std::int64_t k) { return Uniform ? uniform_r : T(1) / (x[k + 1] - x[k]); };

  const std::int64_t inner_begin = k0 > 1 ? k0 : 1;
  const std::int64_t inner_end = k1 < last ? k1 : last;
  for (std::int64_t k = inner_begin; k < inner_end; ++k) {
    const T r = reciprocal(k);
    hermite_cell(c + 4 * k, y[k], (y[k + 1] - y[k]) * r, r, ic[k - 1], ic[k]);
  }
  if (k0 == 0) {
    const T r = reciprocal(0);
    const T sl = (y[1] - y[0]) * r;
    const T dr = ic[0];
    hermite_cell(c, y[0], sl, r, left_end_slope<T, Uniform>(s, sl, width(0), r, dr), dr);
  }
  if (k1 == last + 1) {
    const T r = reciprocal(last);
    const T sl = (y[last + 1] - y[last]) * r;
    const T dl = ic[last - 1];
    hermite_cell(c + 4 * last, y[last], sl, r, dl, right_end_slope<T, Uniform>(s, sl, width(last), r, dl));
  }
}

// Picks the instantiation for the partition and function layouts.
template <typename T, template <typename, bool, bool> class Kernel>
std::int32_t construct_cells(const construct_setup<T>& s, const qrx_df_threader_block* threader) {
  auto run = [&](auto uniform, auto col_major) {
    return for_all_cells(s, threader, [&](std::int64_t j, std::int64_t k0, std::int64_t k1) {
      Kernel<T, decltype(uniform)::value, decltype(col_major)::value>::cells(s, j, k0, k1);
    });
  };
  using flags = value_list<bool, false, true>;
  std::int32_t status = QRX_DF_STATUS_OK;
  select(flags{}, s.uniform, [&](auto uniform) {
    select(flags{}, s.col_major, [&](auto col_major) { status = run(uniform, col_major); });
  });
  return status;
}

template <typename T, bool Uniform, bool ColMajor>
struct linear_kernel {
  static void cells(const construct_setup<T>& s, std::int64_t j, std::int64_t k0, std::int64_t k1) {
    linear_cells<T, Uniform, ColMajor>(s, j, k0, k1);
  }
};

template <typename T, bool Uniform, bool ColMajor>
struct hermite_kernel {
  static void cells(const construct_setup<T>& s, std::int64_t j, std::int64_t k0, std::int64_t k1) {
    hermite_cells<T, Uniform, ColMajor>(s, j, k0, k1);
  }
};

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

// Checks shared by the construction kernels that compute.
template <typename T>
std::int32_t check_construct(const qrx_df_task* task, std::int64_t format, std::int64_t method) {
  if (task == nullptr) return QRX_DF_STATUS_NULL_TASK;
  if (!has_precision<T>(task)) return QRX_DF_STATUS_WRONG_PRECISION;
  if (format != 0 || method != 0) return QRX_DF_STATUS_BAD_METHOD;
  if (task->ny > 0 && task->coeff_values == nullptr) return QRX_DF_STATUS_NO_COEFFS;
  if (task->ny > 0 && task->function_values == nullptr) return QRX_DF_STATUS_NO_FUNCTIONS;
  return QRX_DF_STATUS_OK;
}

template <typename T>
std::int32_t construct_linear(qrx_df_task* task, std::int64_t format, std::int64_t method,
                              const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_construct<T>(task, format, method); status != QRX_DF_STATUS_OK) {
    return status;
  }
  if (task->order != QRX_DF_ORDER_LINEAR) return QRX_DF_STATUS_BAD_ORDER;
  return construct_cells<T, linear_kernel>(setup_of<T>(task), threader);
}

template <typename T>
std::int32_t construct_hermite(qrx_df_task* task, std::int64_t format, std::int64_t method,
                               const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_construct<T>(task, format, method); status != QRX_DF_STATUS_OK) {
    return status;
  }
  if (task->order != QRX_DF_ORDER_CUBIC) return QRX_DF_STATUS_BAD_ORDER;
  if (task->type != QRX_DF_CUBIC_HERMITE) return QRX_DF_STATUS_BAD_SPLINE_TYPE;
  if (task->nx < 3) return QRX_DF_STATUS_BAD_NX;
  if (task->ic_type != QRX_DF_IC_FIRST_DERIVATIVES) return QRX_DF_STATUS_BAD_IC_TYPE;
  if (task->internal_conditions == nullptr) return QRX_DF_STATUS_NO_IC;
  if (!hermite_bc_kinds::contains(task->bc_type)) return QRX_DF_STATUS_BAD_BC_TYPE;
  const bool needs_values = task->bc_type > QRX_DF_BC_FREE_END && task->bc_type != QRX_DF_BC_128;
  if (needs_values && task->has_bc_values == 0) return QRX_DF_STATUS_NO_BC_VALUES;
  const construct_setup<T> s = setup_of<T>(task);
  if (s.bc == QRX_DF_BC_PERIODIC) {
    if (const std::int32_t status = check_periodic(s, threader); status != QRX_DF_STATUS_OK) return status;
  }
  return construct_cells<T, hermite_kernel>(s, threader);
}

std::int32_t not_provided(const qrx_df_task* task) {
  return task == nullptr ? QRX_DF_STATUS_NULL_TASK : QRX_DF_STATUS_METHOD_NOT_PROVIDED;
}

}  // namespace
}  // namespace qrx_df

extern "C" {

std::int32_t qrx_df_kernel_sDFLinearSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                             const qrx_df_threader_block* threader) {
  return qrx_df::construct_linear<float>(task, format, method, threader);
}
std::int32_t qrx_df_kernel_dDFLinearSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                             const qrx_df_threader_block* threader) {
  return qrx_df::construct_linear<double>(task, format, method, threader);
}
std::int32_t qrx_df_kernel_sDFHermiteCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                                   const qrx_df_threader_block* threader) {
  return qrx_df::construct_hermite<float>(task, format, method, threader);
}
std::int32_t qrx_df_kernel_dDFHermiteCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                                   const qrx_df_threader_block* threader) {
  return qrx_df::construct_hermite<double>(task, format, method, threader);
}

// Methods of the interface that this library does not compute.
#define QRX_DF_NOT_PROVIDED(name)                                                                      \
  std::int32_t name(qrx_df_task* task, std::int64_t, std::int64_t, const qrx_df_threader_block*) { \
    return qrx_df::not_provided(task);                                                                 \
  }
QRX_DF_NOT_PROVIDED(qrx_df_kernel_sDFQuadraticSpline1D)
QRX_DF_NOT_PROVIDED(qrx_df_kernel_dDFQuadraticSpline1D)
QRX_DF_NOT_PROVIDED(qrx_df_kernel_sDFDefaultCubicSpline1D)
QRX_DF_NOT_PROVIDED(qrx_df_kernel_dDFDefaultCubicSpline1D)
QRX_DF_NOT_PROVIDED(qrx_df_kernel_sDFNaturalCubicSpline1D)
QRX_DF_NOT_PROVIDED(qrx_df_kernel_dDFNaturalCubicSpline1D)
QRX_DF_NOT_PROVIDED(qrx_df_kernel_sDFBesselCubicSpline1D)
QRX_DF_NOT_PROVIDED(qrx_df_kernel_dDFBesselCubicSpline1D)
QRX_DF_NOT_PROVIDED(qrx_df_kernel_sDFAkimaCubicSpline1D)
QRX_DF_NOT_PROVIDED(qrx_df_kernel_dDFAkimaCubicSpline1D)
QRX_DF_NOT_PROVIDED(qrx_df_kernel_sDFHymanCubicSpline1D)
QRX_DF_NOT_PROVIDED(qrx_df_kernel_dDFHymanCubicSpline1D)
#undef QRX_DF_NOT_PROVIDED

}  // extern "C"
