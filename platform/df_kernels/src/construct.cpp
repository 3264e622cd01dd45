// Construction kernels: linear and cubic Hermite coefficients, and the
// quadratic method this library does not provide. The other cubic kinds are
// in construct_c2.cpp and construct_local.cpp.

#include <cstdint>

#include "qrx_df/bc_kinds.hpp"
#include "qrx_df/cell_steps.hpp"
#include "qrx_df/construct_setup.hpp"
#include "qrx_df/hermite_cell.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/task_record.hpp"

namespace qrx_df {
namespace {

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

// Hermite with every function's own slopes at every breakpoint, ends
// included: the internal conditions laid out as the function values.
template <typename T, bool Uniform, bool ColMajor>
struct hermite_own_slopes_kernel {
  static void cells(const construct_setup<T>& s, std::int64_t j, std::int64_t k0, std::int64_t k1) {
    const function_row<T, ColMajor> y = row_of<T, ColMajor>(s, j);
    const function_row<T, ColMajor> d = ColMajor ? function_row<T, ColMajor>{s.ic + j, s.ny}
                                                 : function_row<T, ColMajor>{s.ic + j * s.nx, 1};
    T* c = s.coeffs[j];
    const cell_steps<T, Uniform> steps(s);
    for (std::int64_t k = k0; k < k1; ++k) {
      const T r = steps.reciprocal(k);
      hermite_cell(c + 4 * k, y[k], (y[k + 1] - y[k]) * r, r, d[k], d[k + 1]);
    }
  }
};

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

template <typename T>
std::int32_t construct_linear(qrx_df_task* task, std::int64_t format, std::int64_t method,
                              const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_construct<T>(task, format, method, threader); status != QRX_DF_STATUS_OK) {
    return status;
  }
  if (task->order != QRX_DF_ORDER_LINEAR) return QRX_DF_STATUS_BAD_ORDER;
  return construct_cells<T, linear_kernel>(setup_of<T>(task), threader);
}

// Hermite takes the slopes shared by all functions at the interior
// breakpoints with end rules, or every function's own slopes everywhere
// with no end rule.
template <typename T>
std::int32_t construct_hermite(qrx_df_task* task, std::int64_t format, std::int64_t method,
                               const qrx_df_threader_block* threader) {
  if (task != nullptr && task->ic_type == QRX_DF_IC_FUNCTION_FIRST_DERIVATIVES) {
    const std::int32_t status = check_cubic<T>(task, format, method, QRX_DF_CUBIC_HERMITE, threader);
    if (status != QRX_DF_STATUS_OK) return status;
    if (task->internal_conditions == nullptr) return QRX_DF_STATUS_NO_IC;
    if (task->bc_type != 0) return QRX_DF_STATUS_BAD_BC_TYPE;
    return construct_cells<T, hermite_own_slopes_kernel>(setup_of<T>(task), threader);
  }
  return construct_with_conditions<T, hermite_kernel>(task, format, method, QRX_DF_CUBIC_HERMITE,
                                                      QRX_DF_IC_FIRST_DERIVATIVES, threader);
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

// The method of the interface that this library does not compute.
#define QRX_DF_NOT_PROVIDED(name)                                                                      \
  std::int32_t name(qrx_df_task* task, std::int64_t, std::int64_t, const qrx_df_threader_block*) { \
    return qrx_df::not_provided(task);                                                                 \
  }
QRX_DF_NOT_PROVIDED(qrx_df_kernel_sDFQuadraticSpline1D)
QRX_DF_NOT_PROVIDED(qrx_df_kernel_dDFQuadraticSpline1D)
#undef QRX_DF_NOT_PROVIDED

}  // extern "C"
