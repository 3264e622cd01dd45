// Construction kernels of the cubic kinds whose cells depend only on nearby
// data, so that runs of cells of one function can be built in parallel:
// Akima's and Bessel's splines (slopes from the secants around each
// breakpoint) and the default cubic (given second derivatives).

#include <cstdint>

#include "bc_kinds.hpp"
#include "cell_steps.hpp"
#include "construct_setup.hpp"
#include "hermite_cell.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "slope_rules.hpp"
#include "task_record.hpp"

namespace qrx_df {
namespace {

// One function's secants s_k = (y_{k+1} - y_k)/h_k, k in [0, m).
template <typename T, bool Uniform, bool ColMajor>
struct secants {
  cell_steps<T, Uniform> steps;
  function_row<T, ColMajor> y;
  std::int64_t m;

  secants(const construct_setup<T>& s, std::int64_t j) : steps(s), y(row_of<T, ColMajor>(s, j)), m(s.nx - 1) {}

  T operator()(std::int64_t k) const { return (y[k + 1] - y[k]) * steps.reciprocal(k); }

  // Akima's secants, extended by two on each side by linear extrapolation:
  // s_{-1} = 2 s_0 - s_1, s_{-2} = 2 s_{-1} - s_0 and their mirror images.
  T extended(std::int64_t k) const {
    if (k >= 0 && k < m) return (*this)(k);
    if (k < 0) {
      const T s0 = (*this)(0);
      const T before = T(2) * s0 - (*this)(1);
      return k == -1 ? before : T(2) * before - s0;
    }
    const T last = (*this)(m - 1);
    const T after = T(2) * last - (*this)(m - 2);
    return k == m ? after : T(2) * after - last;
  }
};

// Akima: each slope from the four secants around its breakpoint; kind 12
// gives the two end slopes instead.
template <typename T, bool Uniform, bool ColMajor>
struct akima_kernel {
  static void cells(const construct_setup<T>& st, std::int64_t j, std::int64_t k0, std::int64_t k1) {
    const secants<T, Uniform, ColMajor> s(st, j);
    T* c = st.coeffs[j];
    const bool given = st.bc == bc_first_both;
    // window[q] = s_{k-2+q} for the cell k at hand.
    T window[5];
    for (int q = 0; q < 4; ++q) window[q + 1] = s.extended(k0 - 2 + q);
    T left = 0;
    for (std::int64_t k = k0; k < k1; ++k) {
      for (int q = 0; q < 4; ++q) window[q] = window[q + 1];
      window[4] = s.extended(k + 2);
      if (k == k0) {
        left = given && k == 0 ? st.left : akima_slope(window[0], window[1], window[2], window[3]);
      }
      const T right = given && k + 1 == s.m ? st.right : akima_slope(window[1], window[2], window[3], window[4]);
      hermite_cell(c + 4 * k, s.y[k], window[2], s.steps.reciprocal(k), left, right);
      left = right;
    }
  }
};

// Bessel: each slope is the parabola's through the breakpoint and its two
// neighbours; at an end, the parabola's through the three end points.
template <typename T, bool Uniform, bool ColMajor>
struct bessel_kernel {
  // The slope at breakpoint i from the secants sl = s_{i-1} and sr = s_i.
  static T interior(const secants<T, Uniform, ColMajor>& s, std::int64_t i, T sl, T sr) {
    return parabola(sl, sr, s.steps.weights(i - 1, i)).middle;
  }

  static void cells(const construct_setup<T>& st, std::int64_t j, std::int64_t k0, std::int64_t k1) {
    const secants<T, Uniform, ColMajor> s(st, j);
    T* c = st.coeffs[j];
    const bool given = st.bc == bc_first_both;
    const std::int64_t m = s.m;
    T here = s(k0);
    T left = 0;
    if (k0 > 0) {
      left = interior(s, k0, s(k0 - 1), here);
    } else {
      left = given ? st.left : parabola(here, s(1), s.steps.weights(0, 1)).left;
    }
    for (std::int64_t k = k0; k < k1; ++k) {
      T right = 0;
      T next = 0;
      if (k + 1 < m) {
        next = s(k + 1);
        right = interior(s, k + 1, here, next);
      } else {
        right = given ? st.right : parabola(s(m - 2), here, s.steps.weights(m - 2, m - 1)).right;
      }
      hermite_cell(c + 4 * k, s.y[k], here, s.steps.reciprocal(k), left, right);
      left = right;
      here = next;
    }
  }
};

// Default cubic: the second derivatives M_1..M_{m-1} at the interior
// breakpoints are given (ic[i-1] = M_i); cell k is
//   y_k + (s_k - h_k (2 M_k + M_{k+1})/6) t + M_k/2 t^2 + (M_{k+1} - M_k)/(6 h_k) t^3.
template <typename T, bool Uniform, bool ColMajor>
struct default_cubic_kernel {
  // M_0 from the boundary kind: zero for a free end, the value for a given
  // second derivative, the first cell's M_0 with slope d at x_0 for a given
  // first derivative (and for periodic, whose left value is the slope at
  // both ends); with no end rule the first cell is a quadratic, M_0 = M_1.
  static T left_moment(const construct_setup<T>& st, const secants<T, Uniform, ColMajor>& s, T m1) {
    switch (st.bc) {
      case QRX_DF_BC_FREE_END:
        return T(0);
      case bc_second_first:
      case bc_second_both:
        return st.left;
      case bc_first_both:
      case bc_first_second:
      case QRX_DF_BC_PERIODIC:
        return T(3) * (s(0) - st.left) * s.steps.reciprocal(0) - T(0.5) * m1;
      default:
        return m1;
    }
  }

  // M_m, the mirror image of left_moment.
  static T right_moment(const construct_setup<T>& st, const secants<T, Uniform, ColMajor>& s, T m_before) {
    const std::int64_t k = s.m - 1;
    switch (st.bc) {
      case QRX_DF_BC_FREE_END:
        return T(0);
      case bc_first_second:
      case bc_second_both:
        return st.right;
      case bc_first_both:
      case bc_second_first:
        return T(3) * (st.right - s(k)) * s.steps.reciprocal(k) - T(0.5) * m_before;
      case QRX_DF_BC_PERIODIC:
        return T(3) * (st.left - s(k)) * s.steps.reciprocal(k) - T(0.5) * m_before;
      default:
        return m_before;
    }
  }

  static void cells(const construct_setup<T>& st, std::int64_t j, std::int64_t k0, std::int64_t k1) {
    const secants<T, Uniform, ColMajor> s(st, j);
    T* c = st.coeffs[j];
    const T* ic = st.ic;
    const std::int64_t m = s.m;
    auto moment = [&](std::int64_t i) {
      if (i == 0) return left_moment(st, s, ic[0]);
      if (i == m) return right_moment(st, s, ic[m - 2]);
      return ic[i - 1];
    };
    T ml = moment(k0);
    for (std::int64_t k = k0; k < k1; ++k) {
      const T mr = moment(k + 1);
      const T r = s.steps.reciprocal(k);
      T* ck = c + 4 * k;
      ck[0] = s.y[k];
      ck[1] = s(k) - s.steps.times_width(T(2) * ml + mr, k) / T(6);
      ck[2] = T(0.5) * ml;
      ck[3] = (mr - ml) * r / T(6);
      ml = mr;
    }
  }
};

// Akima and Bessel: kinds 0 and 12 only.
template <typename T, template <typename, bool, bool> class Kernel>
std::int32_t construct_slopes(qrx_df_task* task, std::int64_t format, std::int64_t method, std::int64_t type,
                              const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_cubic<T>(task, format, method, type); status != QRX_DF_STATUS_OK) {
    return status;
  }
  if (!local_bc_kinds::contains(task->bc_type)) return QRX_DF_STATUS_BAD_BC_TYPE;
  if (reads_bc_values(task->bc_type, false) && task->has_bc_values == 0) return QRX_DF_STATUS_NO_BC_VALUES;
  return construct_cells<T, Kernel>(setup_of<T>(task), threader);
}

template <typename T>
std::int32_t construct_default(qrx_df_task* task, std::int64_t format, std::int64_t method,
                               const qrx_df_threader_block* threader) {
  return construct_with_conditions<T, default_cubic_kernel>(task, format, method, QRX_DF_CUBIC_DEFAULT,
                                                            QRX_DF_IC_SECOND_DERIVATIVES, threader);
}

}  // namespace
}  // namespace qrx_df

extern "C" {

std::int32_t qrx_df_kernel_sDFAkimaCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                                 const qrx_df_threader_block* threader) {
  return qrx_df::construct_slopes<float, qrx_df::akima_kernel>(task, format, method, QRX_DF_CUBIC_AKIMA, threader);
}
std::int32_t qrx_df_kernel_dDFAkimaCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                                 const qrx_df_threader_block* threader) {
  return qrx_df::construct_slopes<double, qrx_df::akima_kernel>(task, format, method, QRX_DF_CUBIC_AKIMA, threader);
}
std::int32_t qrx_df_kernel_sDFBesselCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                                  const qrx_df_threader_block* threader) {
  return qrx_df::construct_slopes<float, qrx_df::bessel_kernel>(task, format, method, QRX_DF_CUBIC_BESSEL, threader);
}
std::int32_t qrx_df_kernel_dDFBesselCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                                  const qrx_df_threader_block* threader) {
  return qrx_df::construct_slopes<double, qrx_df::bessel_kernel>(task, format, method, QRX_DF_CUBIC_BESSEL, threader);
}
std::int32_t qrx_df_kernel_sDFDefaultCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                                   const qrx_df_threader_block* threader) {
  return qrx_df::construct_default<float>(task, format, method, threader);
}
std::int32_t qrx_df_kernel_dDFDefaultCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
                                                   const qrx_df_threader_block* threader) {
  return qrx_df::construct_default<double>(task, format, method, threader);
}

}  // extern "C"
