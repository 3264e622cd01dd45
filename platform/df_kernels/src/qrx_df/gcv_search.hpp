#pragma once

// The smoothing parameter chosen by generalised cross-validation, for each
// function its own:
//   V(lambda) = m RSS_w(lambda) / (m - tr A(lambda))^2,
// m the number of positive weights, RSS_w the weighted residual sum of
// squares at the sites, A the influence matrix (fitted values = A y). V is
// +inf where m - tr A is not positive (the interpolating limit).
//
// lambda is searched as lambda_u = rho * tr(G)/tr(Omega) on the scaled
// partition, over log10 rho in [gcv_first, gcv_last] (16 decades): rho = 1
// weighs curvature like the data on the diagonal, about one cell's worth of
// smoothing; the equivalent kernel widens like rho^(1/4) cells, so the range
// runs from interpolation to a few hundred cells. Beyond it the rounding of
// the matrix (relative size 1e-16 * rho) reaches the straight-line part of
// the fit.
//
// The search: every function's score on a coarse grid of gcv_coarse points,
// one factorisation per grid point shared by all functions; then each
// function's two lowest local minima of the grid refined by golden section
// on log10 rho within their neighbouring grid points, to gcv_tolerance.
// Refining the second minimum too guards against a coarse grid that misjudges
// which of two close basins is lower. Score evaluations per function: at
// most gcv_coarse + 2 * (gcv_golden_steps + 2) = 33 + 2 * 16 = 65.

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>

#include "qrx_df/banded_penalised.hpp"
#include "qrx_df/parallel.hpp"
#include "qrx_df/smoothing_basis.hpp"
#include "qrx_df/work_buffer.hpp"

namespace qrx_df {

inline constexpr double gcv_first = -6.0;
inline constexpr double gcv_last = 10.0;
inline constexpr int gcv_coarse = 33;  // half a decade apart
inline constexpr double gcv_tolerance = 2e-3;  // decades
inline constexpr int gcv_golden_steps = 14;    // 0.618^14 of two grid steps < gcv_tolerance

inline double gcv_grid_point(int g) { return gcv_first + (gcv_last - gcv_first) * g / (gcv_coarse - 1); }

inline double gcv_score(double rss, double trace, double m) {
  const double dof = m - trace;
  return dof > 0.0 ? m * rss / (dof * dof) : std::numeric_limits<double>::infinity();
}

// lambda_u on the scaled partition for log10 rho.
inline double gcv_lambda(const smoothing_basis& b, double log_rho) {
  return std::pow(10.0, log_rho) * b.lambda_scale();
}

// One function's score at log10 rho; factor_work and z as the penalised
// system needs them.
// y(0, i) is the function's value at site i.
template <typename Y>
double gcv_score_at(const smoothing_basis& b, double log_rho, Y y, double* factor_work, double* z) {
  penalised_factor f;
  if (!f.factor(b, gcv_lambda(b, log_rho), factor_work)) return std::numeric_limits<double>::infinity();
  double rss = 0.0;
  residual_sums<1>(b, f, y, z, &rss);
  return gcv_score(rss, influence_trace(b, f), static_cast<double>(b.positive_weights()));
}

struct gcv_choice {
  double log_rho;
  double score;
};

// Golden section for the minimum of score(t) on [lo, hi].
template <typename Score>
gcv_choice golden_section(double lo, double hi, Score score) {
  const double ratio = 0.6180339887498949;
  double a = lo, b = hi;
  double x1 = b - ratio * (b - a), x2 = a + ratio * (b - a);
  double f1 = score(x1), f2 = score(x2);
  for (int step = 0; step < gcv_golden_steps && b - a > gcv_tolerance; ++step) {
    if (f1 <= f2) {
      b = x2;
      x2 = x1;
      f2 = f1;
      x1 = b - ratio * (b - a);
      f1 = score(x1);
    } else {
      a = x1;
      x1 = x2;
      f1 = f2;
      x2 = a + ratio * (b - a);
      f2 = score(x2);
    }
  }
  return f1 <= f2 ? gcv_choice{x1, f1} : gcv_choice{x2, f2};
}

// One function's choice from its coarse scores (gcv_coarse of them, stride
// apart): the best of the grid and of the refined two lowest local minima.
template <typename Score>
gcv_choice gcv_refine(const double* coarse, std::int64_t stride, Score score) {
  int best[2] = {-1, -1};
  for (int g = 0; g < gcv_coarse; ++g) {
    const double v = coarse[g * stride];
    const bool left_ok = g == 0 || v <= coarse[(g - 1) * stride];
    const bool right_ok = g == gcv_coarse - 1 || v < coarse[(g + 1) * stride];
    if (!(left_ok && right_ok) || !(v < std::numeric_limits<double>::infinity())) continue;
    if (best[0] < 0 || v < coarse[best[0] * stride]) {
      best[1] = best[0];
      best[0] = g;
    } else if (best[1] < 0 || v < coarse[best[1] * stride]) {
      best[1] = g;
    }
  }
  gcv_choice choice{gcv_grid_point(0), coarse[0]};
  for (int g = 1; g < gcv_coarse; ++g) {
    if (coarse[g * stride] < choice.score) choice = {gcv_grid_point(g), coarse[g * stride]};
  }
  for (int c : best) {
    if (c < 0) continue;
    const double lo = gcv_grid_point(c > 0 ? c - 1 : 0);
    const double hi = gcv_grid_point(c < gcv_coarse - 1 ? c + 1 : gcv_coarse - 1);
    const gcv_choice refined = golden_section(lo, hi, score);
    if (refined.score < choice.score) choice = refined;
  }
  return choice;
}

// Every function's coarse scores: scores[g * ny + j]. Work units are grid
// points, each factorised once for all functions, which are solved in
// blocks of gcv_block (the rest one by one). lanes(j) gives the values
// y(l, i) of functions j + l. False when memory ran out or the threader
// failed.
inline constexpr int gcv_block = 4;

template <typename Lanes>
bool gcv_coarse_scores(const smoothing_basis& b, std::int64_t ny, Lanes lanes, double* scores,
                       const qrx_df_threader_block* threader) {
  std::atomic<bool> failed{false};
  const std::int64_t factor_size = penalised_factor::doubles(b.size());
  const double m = static_cast<double>(b.positive_weights());
  auto job = [&](std::int64_t begin, std::int64_t end) {
    work_buffer work(factor_size + gcv_block * b.size());
    if (!work.ok()) {
      failed.store(true, std::memory_order_relaxed);
      return;
    }
    double* z = work.data() + factor_size;
    for (std::int64_t g = begin; g < end; ++g) {
      double* row = scores + g * ny;
      penalised_factor f;
      if (!f.factor(b, gcv_lambda(b, gcv_grid_point(static_cast<int>(g))), work.data())) {
        for (std::int64_t j = 0; j < ny; ++j) row[j] = std::numeric_limits<double>::infinity();
        continue;
      }
      const double trace = influence_trace(b, f);
      std::int64_t j = 0;
      for (; j + gcv_block <= ny; j += gcv_block) residual_sums<gcv_block>(b, f, lanes(j), z, row + j);
      for (; j < ny; ++j) residual_sums<1>(b, f, lanes(j), z, row + j);
      for (j = 0; j < ny; ++j) row[j] = gcv_score(row[j], trace, m);
    }
  };
  if (run_units(threader, gcv_coarse, gcv_coarse * ny * b.sites(), job) != QRX_DF_STATUS_OK) return false;
  return !failed.load();
}

}  // namespace qrx_df
