// Construction kernels of the least-squares cubic spline on given knots: for
// each function the C2 cubic with breakpoints at the task's partition that
// minimises sum_i w_i (y_i - f(x_i))^2 over data sites shared by all
// functions, in any order. The normal equations are gathered over fixed
// blocks of the data, factored once (banded LDL^T) and solved for blocks of
// functions; the B-spline coefficients become per-cell cubics through the
// values and second derivatives at the knots. Computed in double for both
// precisions.

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>

#include "qrx_df/banded_penalised.hpp"
#include "qrx_df/cell_locator.hpp"
#include "qrx_df/construct_setup.hpp"
#include "qrx_df/curvature_cell.hpp"
#include "qrx_df/knot_basis.hpp"
#include "qrx_df/least_squares_blocks.hpp"
#include "qrx_df/parallel.hpp"
#include "qrx_df/value_select.hpp"
#include "qrx_df/work_buffer.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace qrx_df {
namespace {

// Functions solved together over the shared factor.
constexpr int lanes_per_block = 4;

// A pivot below this share of its diagonal entry is rounding: the data
// leave the spline undetermined.
constexpr double least_squares_min_pivot = 64 * std::numeric_limits<double>::epsilon();

// The ndata data of functions j..j+F-1 as lanes y(l, i).
template <typename T, bool ColMajor>
struct data_lanes {
  const T* y;
  std::int64_t ndata;
  std::int64_t ny;
  std::int64_t j;
  T operator()(std::int64_t l, std::int64_t i) const {
    if constexpr (ColMajor) {
      return y[i * ny + j + l];
    } else {
      return y[(j + l) * ndata + i];
    }
  }
};

// The cells of one function from its B-spline coefficients c.
template <typename T>
void write_cells(const knot_basis& basis, const double* c, T* coeffs) {
  const std::int64_t nx = basis.knots();
  double f_prev = 0.0, m_prev = 0.0;
  for (std::int64_t k = 0; k < nx; ++k) {
    const knot_basis::knot& w = basis.at_knot(k);
    const double f = k + 1 < nx ? w.v0 * c[k] + w.v1 * c[k + 1] + w.v2 * c[k + 2] : c[nx + 1];
    const double d1 = 3.0 * (c[k + 1] - c[k]) * w.rd1;
    const double d2 = 3.0 * (c[k + 2] - c[k + 1]) * w.rd2;
    const double m = 2.0 * (d2 - d1) * w.re;
    if (k > 0) curvature_cell(coeffs + 4 * (k - 1), f_prev, f, m_prev, m, basis.at_knot(k - 1).reciprocal);
    f_prev = f;
    m_prev = m;
  }
}

// Functions j..j+F-1: their right sides summed over the blocks in order,
// solved, written. r and part hold F * size doubles each.
template <int F, typename T, typename Y>
void fit_lanes(const least_squares_blocks& blocks, const knot_basis& basis, const penalised_factor& f,
               std::int64_t j, Y y, T* const* coeffs, double* r, double* part) {
  const std::int64_t entries = F * blocks.size();
  blocks.right_sides<F>(0, j, y, r);
  for (std::int64_t b = 1; b < blocks.blocks(); ++b) {
    blocks.right_sides<F>(b, j, y, part);
    for (std::int64_t e = 0; e < entries; ++e) r[e] += part[e];
  }
  solve_factored<F>(f, r);
  for (int l = 0; l < F; ++l) write_cells(basis, r + l * blocks.size(), coeffs[l]);
}

// Sites finite and in [a, b], weights finite and not negative.
template <typename T>
std::int32_t check_data(const T* x, const T* w, std::int64_t ndata, T a, T b, const qrx_df_threader_block* threader) {
  constexpr std::int64_t chunk = 16384;
  std::atomic<bool> outside{false}, bad_weight{false};
  auto job = [&](std::int64_t begin, std::int64_t end) {
    bool o = false, bw = false;
    for (std::int64_t i = begin * chunk; i < ndata && i < end * chunk; ++i) {
      o |= !(x[i] >= a && x[i] <= b);  // also NaN
      if (w != nullptr) bw |= !(std::isfinite(w[i]) && w[i] >= T(0));
    }
    if (o) outside.store(true, std::memory_order_relaxed);
    if (bw) bad_weight.store(true, std::memory_order_relaxed);
  };
  if (run_units(threader, (ndata + chunk - 1) / chunk, ndata, job) != QRX_DF_STATUS_OK) return QRX_DF_STATUS_BAD_ALLOC;
  if (outside.load()) return QRX_DF_STATUS_DATA_SITE_OUTSIDE;
  return bad_weight.load() ? QRX_DF_STATUS_BAD_WEIGHTS : QRX_DF_STATUS_OK;
}

template <typename T>
std::int32_t check_task(const qrx_df_task* task, const qrx_df_threader_block* threader) {
  if (task == nullptr) return QRX_DF_STATUS_NULL_TASK;
  if (!has_precision<T>(task)) return QRX_DF_STATUS_WRONG_PRECISION;
  if (task->ny > 0 && task->coeff_values == nullptr) return QRX_DF_STATUS_NO_COEFFS;
  if (task->partition == nullptr) return QRX_DF_STATUS_NO_PARTITION;
  if (const std::int32_t status = check_partition<T>(task, threader); status != QRX_DF_STATUS_OK) return status;
  if (task->order != QRX_DF_ORDER_CUBIC) return QRX_DF_STATUS_BAD_ORDER;
  if (task->type != QRX_DF_CUBIC_LEAST_SQUARES) return QRX_DF_STATUS_BAD_SPLINE_TYPE;
  if (task->bc_type != 0) return QRX_DF_STATUS_BAD_BC_TYPE;
  return QRX_DF_STATUS_OK;
}

template <typename T>
std::int32_t construct_least_squares(qrx_df_task* task, const T* x, const T* y, std::int64_t ndata,
                                     std::int64_t y_hint, const T* weights, const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_task<T>(task, threader); status != QRX_DF_STATUS_OK) return status;
  if (ndata < 0) return QRX_DF_STATUS_BAD_NSITES;
  if (ndata > 0 && x == nullptr) return QRX_DF_STATUS_NO_SITES;
  if (y_hint != QRX_DF_FUNCTIONS_DEFAULT && y_hint != QRX_DF_FUNCTIONS_ROW_MAJOR &&
      y_hint != QRX_DF_FUNCTIONS_COL_MAJOR) {
    return QRX_DF_STATUS_BAD_FUNCTION_HINT;
  }
  const std::int64_t ny = task->ny;
  if (!product_fits(ndata, ny, sizeof(T))) return QRX_DF_STATUS_BAD_NY;
  if (ny > 0 && ndata > 0 && y == nullptr) return QRX_DF_STATUS_NO_FUNCTIONS;
  cell_locator<T> locator;
  if (!locator.attach(task, threader)) return QRX_DF_STATUS_BAD_ALLOC;
  if (const std::int32_t status = check_data(x, weights, ndata, locator.a, locator.b, threader);
      status != QRX_DF_STATUS_OK) {
    return status;
  }
  const std::int64_t nx = task->nx;
  const knot_basis basis(nx, [&](std::int64_t k) {
    return static_cast<double>(k + 1 < nx ? locator.origin(k) : locator.b);
  });
  if (!basis.ok()) return QRX_DF_STATUS_BAD_ALLOC;
  least_squares_blocks blocks(basis, ndata, ny);
  const bool col_major = y_hint == QRX_DF_FUNCTIONS_COL_MAJOR;
  if (!blocks.ok()) return QRX_DF_STATUS_BAD_ALLOC;

  std::int32_t gathered = QRX_DF_STATUS_OK;
  select(value_list<bool, false, true>{}, col_major, [&](auto layout) {
    const data_lanes<T, decltype(layout)::value> all{y, ndata, ny, 0};
    auto gather = [&](std::int64_t begin, std::int64_t end) {
      for (std::int64_t b = begin; b < end; ++b) {
        blocks.gather(
            b,
            [&](std::int64_t i, std::int64_t* k, double* s) {
              *k = locator.cell(x[i]);
              *s = static_cast<double>(x[i]) - basis.t(*k);
            },
            [&](std::int64_t i) { return weights != nullptr ? static_cast<double>(weights[i]) : 1.0; }, all);
      }
    };
    gathered = run_units(threader, blocks.blocks(), 16 * ndata, gather);
  });
  if (gathered != QRX_DF_STATUS_OK) return QRX_DF_STATUS_BAD_ALLOC;
  blocks.sum_band(0, basis.size());
  if (!blocks.determine_spline()) return QRX_DF_STATUS_DATA_UNDETERMINED;
  work_buffer factor_work(penalised_factor::doubles(basis.size()));
  if (!factor_work.ok()) return QRX_DF_STATUS_BAD_ALLOC;
  penalised_factor f;
  if (!f.factor_band(
          basis.size(), [&](int d, std::int64_t a) { return blocks.band(d, a); }, least_squares_min_pivot,
          factor_work.data())) {
    return QRX_DF_STATUS_DATA_UNDETERMINED;
  }
  if (ny == 0) return QRX_DF_STATUS_OK;

  T* const* coeffs = reinterpret_cast<T* const*>(task->coeffs);
  const std::int64_t size = basis.size();
  const std::int64_t units = (ny + lanes_per_block - 1) / lanes_per_block;
  std::atomic<bool> failed{false};
  std::int32_t status = QRX_DF_STATUS_OK;
  select(value_list<bool, false, true>{}, col_major, [&](auto layout) {
    constexpr bool ColMajor = decltype(layout)::value;
    auto fit = [&](std::int64_t begin, std::int64_t end) {
      work_buffer work(2 * lanes_per_block * size);
      if (!work.ok()) {
        failed.store(true, std::memory_order_relaxed);
        return;
      }
      double* r = work.data();
      double* part = r + lanes_per_block * size;
      for (std::int64_t u = begin; u < end; ++u) {
        const std::int64_t j = u * lanes_per_block;
        if (j + lanes_per_block <= ny) {
          const data_lanes<T, ColMajor> lanes{y, ndata, ny, j};
          fit_lanes<lanes_per_block>(blocks, basis, f, j, lanes, coeffs + j, r, part);
        } else {
          for (std::int64_t k = j; k < ny; ++k) {
            fit_lanes<1>(blocks, basis, f, k, data_lanes<T, ColMajor>{y, ndata, ny, k}, coeffs + k, r, part);
          }
        }
      }
    };
    status = run_units(threader, units, ny * (ndata + nx), fit);
  });
  if (status != QRX_DF_STATUS_OK) return status;
  return failed.load() ? QRX_DF_STATUS_BAD_ALLOC : QRX_DF_STATUS_OK;
}

}  // namespace
}  // namespace qrx_df

extern "C" {

std::int32_t qrx_df_kernel_sDFLeastSquaresCubicSpline1D(qrx_df_task* task, const float* x, const float* y,
                                                        std::int64_t ndata, std::int64_t y_hint, const float* weights,
                                                        const qrx_df_threader_block* threader) {
  return qrx_df::construct_least_squares<float>(task, x, y, ndata, y_hint, weights, threader);
}
std::int32_t qrx_df_kernel_dDFLeastSquaresCubicSpline1D(qrx_df_task* task, const double* x, const double* y,
                                                        std::int64_t ndata, std::int64_t y_hint,
                                                        const double* weights, const qrx_df_threader_block* threader) {
  return qrx_df::construct_least_squares<double>(task, x, y, ndata, y_hint, weights, threader);
}

}  // extern "C"
