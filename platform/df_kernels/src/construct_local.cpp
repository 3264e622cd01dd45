// Construction kernels of the cubic kinds whose cells depend only on nearby
// data, so that runs of cells of one function can be built in parallel:
// Akima's, the modified Akima, Bessel's, PCHIP and Steffen's splines (slopes
// from the secants around each breakpoint) and the default cubic (given
// second derivatives).

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "qrx_df/bc_kinds.hpp"
#include "qrx_df/cell_steps.hpp"
#include "qrx_df/construct_setup.hpp"
#include "qrx_df/hermite_cell.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/slope_rules.hpp"
#include "qrx_df/task_record.hpp"

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

// Cells per run of the Akima and Bessel kernels: a run's reciprocal
// widths, secants and slopes stay in the first-level cache, and each of
// them is one loop along the run that vectorises.
inline constexpr std::int64_t slope_run = 256;

// A run of cells [kb, kb + n) of one function: reciprocal widths r[k - kb
// + 2] and secants sec[k - kb + 2] for k in [kb - 2, kb + n + 2) where they
// exist (the kernels fill the secants of the others), slopes d[i - kb] at
// breakpoints [kb, kb + n].
template <typename T, bool Uniform, bool ColMajor>
struct slope_run_data {
  T r[slope_run + 4];
  T sec[slope_run + 4];
  T d[slope_run + 1];
  T mean[slope_run + 1];     // Akima's fallbacks
  T weights[slope_run + 1];  // Akima's weight sums

  // Reciprocal widths and secants of cells [lo, hi), all inside the partition.
  void load(const secants<T, Uniform, ColMajor>& s, std::int64_t kb, std::int64_t lo, std::int64_t hi) {
    for (std::int64_t k = lo; k < hi; ++k) {
      const T rk = s.steps.reciprocal(k);
      r[k - kb + 2] = rk;
      sec[k - kb + 2] = (s.y[k + 1] - s.y[k]) * rk;
    }
  }

  // The cells of the run from their end slopes.
  void write(const secants<T, Uniform, ColMajor>& s, T* c, std::int64_t kb, std::int64_t n) const {
    for (std::int64_t q = 0; q < n; ++q) {
      hermite_cell(c + 4 * (kb + q), s.y[kb + q], sec[q + 2], r[q + 2], d[q], d[q + 1]);
    }
  }
};

// Akima and the modified Akima: each slope from the four secants around its
// breakpoint; kind 12 gives the two end slopes instead.
template <typename T, bool Uniform, bool ColMajor, bool Modified>
struct akima_family_kernel {
  static void cells(const construct_setup<T>& st, std::int64_t j, std::int64_t k0, std::int64_t k1) {
    const secants<T, Uniform, ColMajor> s(st, j);
    T* c = st.coeffs[j];
    const bool given = st.bc == bc_first_both;
    slope_run_data<T, Uniform, ColMajor> run;
    for (std::int64_t kb = k0; kb < k1; kb += slope_run) {
      const std::int64_t n = std::min(slope_run, k1 - kb);
      // Secants kb - 2 .. kb + n + 1, the ones beyond the ends extrapolated.
      const std::int64_t lo = std::max<std::int64_t>(kb - 2, 0);
      const std::int64_t hi = std::min(kb + n + 2, s.m);
      run.load(s, kb, lo, hi);
      for (std::int64_t k = kb - 2; k < lo; ++k) run.sec[k - kb + 2] = s.extended(k);
      for (std::int64_t k = hi; k < kb + n + 2; ++k) run.sec[k - kb + 2] = s.extended(k);
      // The slope at breakpoint i = kb + q from the secants s_{i-2},
      // s_{i-1}, s_i, s_{i+1}: a mean of s_{i-1} and s_i that leans towards
      // the side where the data bend less, weighted by |s_{i+1} - s_i| and
      // |s_{i-1} - s_{i-2}|. The modified rule adds half the magnitude of
      // each pair's sum to its weight, so that a flat pair weighs nothing
      // and a run of equal secants keeps its slope; where both weights are
      // zero Akima takes the plain mean, the modified rule zero (a NaN
      // weight is not zero: the NaN reaches the slope). The weighted mean
      // (its divisor never zero) and the fallback first, then the one that
      // applies: two passes without branches, which vectorise.
      for (std::int64_t q = 0; q <= n; ++q) {
        T w_left = std::fabs(run.sec[q + 3] - run.sec[q + 2]);
        T w_right = std::fabs(run.sec[q + 1] - run.sec[q]);
        if constexpr (Modified) {
          w_left += T(0.5) * std::fabs(run.sec[q + 3] + run.sec[q + 2]);
          w_right += T(0.5) * std::fabs(run.sec[q + 1] + run.sec[q]);
        }
        const T sum = w_left + w_right;
        const T divisor = sum != T(0) ? sum : T(1);
        run.d[q] = (w_left * run.sec[q + 1] + w_right * run.sec[q + 2]) / divisor;
        run.mean[q] = Modified ? T(0) : T(0.5) * (run.sec[q + 1] + run.sec[q + 2]);
        run.weights[q] = sum;
      }
      for (std::int64_t q = 0; q <= n; ++q) run.d[q] = run.weights[q] != T(0) ? run.d[q] : run.mean[q];
      if (given && kb == 0) run.d[0] = st.left;
      if (given && kb + n == s.m) run.d[n] = st.right;
      run.write(s, c, kb, n);
    }
  }
};

template <typename T, bool Uniform, bool ColMajor>
using akima_kernel = akima_family_kernel<T, Uniform, ColMajor, false>;
template <typename T, bool Uniform, bool ColMajor>
using makima_kernel = akima_family_kernel<T, Uniform, ColMajor, true>;

// Bessel: each slope is the parabola's through the breakpoint and its two
// neighbours; at an end, the parabola's through the three end points.
template <typename T, bool Uniform, bool ColMajor>
struct bessel_kernel {
  static void cells(const construct_setup<T>& st, std::int64_t j, std::int64_t k0, std::int64_t k1) {
    const secants<T, Uniform, ColMajor> s(st, j);
    T* c = st.coeffs[j];
    const bool given = st.bc == bc_first_both;
    const std::int64_t m = s.m;
    slope_run_data<T, Uniform, ColMajor> run;
    for (std::int64_t kb = k0; kb < k1; kb += slope_run) {
      const std::int64_t n = std::min(slope_run, k1 - kb);
      // Secants kb - 1 .. kb + n.
      const std::int64_t lo = std::max<std::int64_t>(kb - 1, 0);
      const std::int64_t hi = std::min(kb + n + 1, m);
      run.load(s, kb, lo, hi);
      // Interior slopes at breakpoints max(kb, 1) .. min(kb + n, m - 1).
      const std::int64_t i_begin = std::max<std::int64_t>(kb, 1);
      const std::int64_t i_end = std::min(kb + n, m - 1);
      for (std::int64_t i = i_begin; i <= i_end; ++i) {
        const secant_weights<T> w = s.steps.weights(i - 1, i);
        run.d[i - kb] = parabola(run.sec[i - kb + 1], run.sec[i - kb + 2], w).middle;
      }
      if (kb == 0) run.d[0] = given ? st.left : parabola(run.sec[2], run.sec[3], s.steps.weights(0, 1)).left;
      if (kb + n == m) {
        run.d[n] = given ? st.right : parabola(s(m - 2), run.sec[n + 1], s.steps.weights(m - 2, m - 1)).right;
      }
      run.write(s, c, kb, n);
    }
  }
};

// PCHIP and Steffen: each interior slope from the secants and widths of the
// two cells around its breakpoint, each end slope from the end cells; kind
// 12 gives the two end slopes instead. Rule::interior(sl, sr, hl, hr) and
// Rule::end(s_end, s_next, h_end, h_next) give the slopes (widths relative,
// 1 on a uniform partition).
template <typename T, bool Uniform, bool ColMajor, typename Rule>
struct neighbour_slopes_kernel {
  static void cells(const construct_setup<T>& st, std::int64_t j, std::int64_t k0, std::int64_t k1) {
    const secants<T, Uniform, ColMajor> s(st, j);
    T* c = st.coeffs[j];
    const bool given = st.bc == bc_first_both;
    const std::int64_t m = s.m;
    auto h = [&](std::int64_t k) { return s.steps.relative_width(k); };
    slope_run_data<T, Uniform, ColMajor> run;
    for (std::int64_t kb = k0; kb < k1; kb += slope_run) {
      const std::int64_t n = std::min(slope_run, k1 - kb);
      // Secants kb - 1 .. kb + n.
      run.load(s, kb, std::max<std::int64_t>(kb - 1, 0), std::min(kb + n + 1, m));
      const std::int64_t i_begin = std::max<std::int64_t>(kb, 1);
      const std::int64_t i_end = std::min(kb + n, m - 1);
      for (std::int64_t i = i_begin; i <= i_end; ++i) {
        run.d[i - kb] = Rule::interior(run.sec[i - kb + 1], run.sec[i - kb + 2], h(i - 1), h(i));
      }
      if (kb == 0) run.d[0] = given ? st.left : Rule::end(s(0), s(1), h(0), h(1));
      if (kb + n == m) run.d[n] = given ? st.right : Rule::end(s(m - 1), s(m - 2), h(m - 1), h(m - 2));
      run.write(s, c, kb, n);
    }
  }
};

struct pchip_rule {
  template <typename T>
  static T interior(T sl, T sr, T hl, T hr) {
    return pchip_interior(sl, sr, hl, hr);
  }
  template <typename T>
  static T end(T s_end, T s_next, T h_end, T h_next) {
    return pchip_end(s_end, s_next, h_end, h_next);
  }
};

// Steffen's ends are the end secants.
struct steffen_rule {
  template <typename T>
  static T interior(T sl, T sr, T hl, T hr) {
    return steffen_interior(sl, sr, hl, hr);
  }
  template <typename T>
  static T end(T s_end, T, T, T) {
    return s_end;
  }
};

template <typename T, bool Uniform, bool ColMajor>
using pchip_kernel = neighbour_slopes_kernel<T, Uniform, ColMajor, pchip_rule>;
template <typename T, bool Uniform, bool ColMajor>
using steffen_kernel = neighbour_slopes_kernel<T, Uniform, ColMajor, steffen_rule>;

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

// The kinds with their own end slopes: boundary kinds 0 and 12 only.
template <typename T, template <typename, bool, bool> class Kernel>
std::int32_t construct_slopes(qrx_df_task* task, std::int64_t format, std::int64_t method, std::int64_t type,
                              const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_cubic<T>(task, format, method, type, threader); status != QRX_DF_STATUS_OK) {
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
std::int32_t qrx_df_kernel_sDFPchipCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
    const qrx_df_threader_block* threader) {
  return qrx_df::construct_slopes<float, qrx_df::pchip_kernel>(task, format, method, QRX_DF_CUBIC_PCHIP, threader);
}
std::int32_t qrx_df_kernel_dDFPchipCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
    const qrx_df_threader_block* threader) {
  return qrx_df::construct_slopes<double, qrx_df::pchip_kernel>(task, format, method, QRX_DF_CUBIC_PCHIP, threader);
}
std::int32_t qrx_df_kernel_sDFMakimaCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
    const qrx_df_threader_block* threader) {
  return qrx_df::construct_slopes<float, qrx_df::makima_kernel>(task, format, method, QRX_DF_CUBIC_MAKIMA, threader);
}
std::int32_t qrx_df_kernel_dDFMakimaCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
    const qrx_df_threader_block* threader) {
  return qrx_df::construct_slopes<double, qrx_df::makima_kernel>(task, format, method, QRX_DF_CUBIC_MAKIMA, threader);
}
std::int32_t qrx_df_kernel_sDFSteffenCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
    const qrx_df_threader_block* threader) {
  return qrx_df::construct_slopes<float, qrx_df::steffen_kernel>(task, format, method, QRX_DF_CUBIC_STEFFEN, threader);
}
std::int32_t qrx_df_kernel_dDFSteffenCubicSpline1D(qrx_df_task* task, std::int64_t format, std::int64_t method,
    const qrx_df_threader_block* threader) {
  return qrx_df::construct_slopes<double, qrx_df::steffen_kernel>(task, format, method, QRX_DF_CUBIC_STEFFEN, threader);
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
