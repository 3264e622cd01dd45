// Construction kernels of the smoothing cubic spline: for each function the
// C2 cubic with breakpoints at the sites that minimises
//   sum_i w_i (y_i - f(x_i))^2 + lambda * integral f''(x)^2 dx
// (natural ends), for one given lambda or with each function's lambda
// chosen by generalised cross-validation. The basis, the penalised matrices
// and their factorisation depend only on the sites, weights and lambda, and
// are shared by all functions. Computed in double for both precisions.

#include <atomic>
#include <cmath>
#include <cstdint>

#include "qrx_df/banded_penalised.hpp"
#include "qrx_df/construct_setup.hpp"
#include "qrx_df/curvature_cell.hpp"
#include "qrx_df/gcv_search.hpp"
#include "qrx_df/natural_limit.hpp"
#include "qrx_df/smoothing_basis.hpp"
#include "qrx_df/value_select.hpp"
#include "qrx_df/work_buffer.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace qrx_df {
namespace {

// Writes the cells of one function as solve_penalised hands its sites over,
// from the last down. The curve has natural ends: the second derivative at
// the end sites is zero, not the rounding left by summing four basis terms.
template <typename T>
struct cell_writer {
  const smoothing_basis* b;
  T* coeffs;
  double curvature_scale;  // from the scaled partition to units of x
  double f_next = 0.0;
  double m_next = 0.0;

  void operator()(std::int64_t i, double f, double f2) {
    const double m = (i == 0 || i == b->sites() - 1) ? 0.0 : f2 * curvature_scale;
    if (i < b->sites() - 1) curvature_cell(coeffs + 4 * i, f, f_next, m, m_next, b->reciprocal(i));
    f_next = f;
    m_next = m;
  }
};

// The cells of functions j..j+F-1 from the factor.
template <int F, typename T, typename Y>
void write_fits(const smoothing_basis& b, const penalised_factor& f, Y y, T* const* coeffs, double* z) {
  const double scale = 1.0 / b.length() / b.length();
  cell_writer<T> writers[F];
  for (int l = 0; l < F; ++l) writers[l] = cell_writer<T>{&b, coeffs[l], scale};
  solve_penalised<F>(b, f, y, z, [&](std::int64_t i, const double* fit, const double* f2) {
    for (int l = 0; l < F; ++l) writers[l](i, fit[l], f2[l]);
  });
}

// Functions j..j+F-1 as lanes y(l, i).
template <typename T, bool ColMajor>
struct function_lanes {
  const construct_setup<T>* s;
  std::int64_t j;
  T operator()(int l, std::int64_t i) const {
    if constexpr (ColMajor) {
      return s->values[i * s->ny + j + l];
    } else {
      return s->rows[j + l][i];
    }
  }
};

// Runs job(begin, end, work) over runs of the units [0, units) with
// `doubles` of work space per run.
template <typename Job>
std::int32_t with_work(std::int64_t units, std::int64_t work_size, std::int64_t doubles,
                       const qrx_df_threader_block* threader, Job per_run) {
  std::atomic<bool> failed{false};
  auto job = [&](std::int64_t begin, std::int64_t end) {
    work_buffer work(doubles);
    if (!work.ok()) {
      failed.store(true, std::memory_order_relaxed);
      return;
    }
    per_run(begin, end, work.data());
  };
  const std::int32_t status = run_units(threader, units, work_size, job);
  if (status != QRX_DF_STATUS_OK) return status;
  return failed.load() ? QRX_DF_STATUS_BAD_ALLOC : QRX_DF_STATUS_OK;
}

template <typename T, bool ColMajor>
std::int32_t fit_given(const construct_setup<T>& s, const smoothing_basis& b, double lambda,
                       const qrx_df_threader_block* threader) {
  if (lambda == 0.0) {
    work_buffer shared(3 * b.sites());
    if (!shared.ok()) return QRX_DF_STATUS_BAD_ALLOC;
    const natural_limit limit(b, shared.data());
    return with_work(s.ny, s.ny * s.nx, b.sites(), threader, [&](std::int64_t begin, std::int64_t end, double* z) {
      for (std::int64_t j = begin; j < end; ++j) {
        const function_lanes<T, ColMajor> y{&s, j};
        limit.fit([&](std::int64_t i) { return y(0, i); }, s.coeffs[j], z);
      }
    });
  }
  // lambda integral f_xx^2 dx = lambda / L^3 * integral f_uu^2 du
  const double lambda_u = lambda / b.length() / b.length() / b.length();
  work_buffer factor_work(penalised_factor::doubles(b.size()));
  if (!factor_work.ok()) return QRX_DF_STATUS_BAD_ALLOC;
  penalised_factor f;
  if (!f.factor(b, lambda_u, factor_work.data())) return QRX_DF_STATUS_BAD_LAMBDA;
  // Units: blocks of gcv_block functions, the last one possibly short and
  // then solved one by one.
  const std::int64_t blocks = (s.ny + gcv_block - 1) / gcv_block;
  return with_work(blocks, s.ny * s.nx, gcv_block * b.size(), threader,
                   [&](std::int64_t begin, std::int64_t end, double* z) {
                     for (std::int64_t u = begin; u < end; ++u) {
                       const std::int64_t j = u * gcv_block;
                       if (j + gcv_block <= s.ny) {
                         write_fits<gcv_block>(b, f, function_lanes<T, ColMajor>{&s, j}, s.coeffs + j, z);
                       } else {
                         for (std::int64_t k = j; k < s.ny; ++k) {
                           write_fits<1>(b, f, function_lanes<T, ColMajor>{&s, k}, s.coeffs + k, z);
                         }
                       }
                     }
                   });
}

template <typename T, bool ColMajor>
std::int32_t fit_by_gcv(const construct_setup<T>& s, const smoothing_basis& b, T* chosen,
                        const qrx_df_threader_block* threader) {
  work_buffer scores(product_fits(s.ny, gcv_coarse) ? s.ny * gcv_coarse : -1);
  if (!scores.ok()) return QRX_DF_STATUS_BAD_ALLOC;
  auto lanes = [&](std::int64_t j) { return function_lanes<T, ColMajor>{&s, j}; };
  if (!gcv_coarse_scores(b, s.ny, lanes, scores.data(), threader)) return QRX_DF_STATUS_BAD_ALLOC;
  const std::int64_t factor_size = penalised_factor::doubles(b.size());
  const double cube = b.length() * b.length() * b.length();
  std::atomic<bool> unfactored{false};
  const std::int32_t status = with_work(
      s.ny, s.ny * s.nx, factor_size + b.size(), threader, [&](std::int64_t begin, std::int64_t end, double* work) {
        double* z = work + factor_size;
        for (std::int64_t j = begin; j < end; ++j) {
          const function_lanes<T, ColMajor> y{&s, j};
          const gcv_choice choice = gcv_refine(scores.data() + j, s.ny, [&](double log_rho) {
            return gcv_score_at(b, log_rho, y, work, z);
          });
          const double lambda_u = gcv_lambda(b, choice.log_rho);
          chosen[j] = static_cast<T>(lambda_u * cube);
          penalised_factor f;
          if (!f.factor(b, lambda_u, work)) {
            unfactored.store(true, std::memory_order_relaxed);
            continue;
          }
          write_fits<1>(b, f, y, s.coeffs + j, z);
        }
      });
  if (status != QRX_DF_STATUS_OK) return status;
  // Every grid point failing to factor leaves no score to choose from.
  return unfactored.load() ? QRX_DF_STATUS_BAD_LAMBDA : QRX_DF_STATUS_OK;
}

template <typename T>
std::int32_t construct_smoothing(qrx_df_task* task, const T* weights, T lambda, T* chosen,
                                 const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_cubic<T>(task, 0, 0, QRX_DF_CUBIC_SMOOTHING, threader);
      status != QRX_DF_STATUS_OK) {
    return status;
  }
  if (task->bc_type != 0 && task->bc_type != QRX_DF_BC_FREE_END) return QRX_DF_STATUS_BAD_BC_TYPE;
  const bool choose = lambda < T(0);
  if (!choose && !(std::isfinite(lambda))) return QRX_DF_STATUS_BAD_LAMBDA;
  if (choose && task->ny > 0 && chosen == nullptr) return QRX_DF_STATUS_NO_RESULTS;
  if (!weights_sound(task->nx, weights)) return QRX_DF_STATUS_BAD_WEIGHTS;
  const construct_setup<T> s = setup_of<T>(task);
  if (s.ny == 0) return QRX_DF_STATUS_OK;
  const smoothing_basis b(s.nx, s.x, s.uniform, weights, threader);
  if (!b.ok()) return QRX_DF_STATUS_BAD_ALLOC;
  std::int32_t status = QRX_DF_STATUS_OK;
  select(value_list<bool, false, true>{}, s.col_major, [&](auto col_major) {
    constexpr bool ColMajor = decltype(col_major)::value;
    status = choose ? fit_by_gcv<T, ColMajor>(s, b, chosen, threader)
                    : fit_given<T, ColMajor>(s, b, static_cast<double>(lambda), threader);
  });
  return status;
}

}  // namespace
}  // namespace qrx_df

extern "C" {

std::int32_t qrx_df_kernel_sDFSmoothingCubicSpline1D(qrx_df_task* task, const float* weights, float lambda,
                                                     float* chosen, const qrx_df_threader_block* threader) {
  return qrx_df::construct_smoothing<float>(task, weights, lambda, chosen, threader);
}
std::int32_t qrx_df_kernel_dDFSmoothingCubicSpline1D(qrx_df_task* task, const double* weights, double lambda,
                                                     double* chosen, const qrx_df_threader_block* threader) {
  return qrx_df::construct_smoothing<double>(task, weights, lambda, chosen, threader);
}

}  // extern "C"
