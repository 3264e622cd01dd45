#pragma once

// The smoothing parameter chosen by generalised cross-validation, for each
// function its own:
//   V(lambda) = m RSS_w(lambda) / (m - tr A(lambda))^2,
// m the number of positive weights, RSS_w the weighted residual sum of
// squares at the sites, A the influence matrix. V is +inf where m - tr A is
// not positive (the interpolating limit) or the system cannot be factored.
//
// lambda is searched as lambda_u = rho * tr(G)/tr(Omega) on the scaled
// partition, over log10 rho in [gcv_first, gcv_last] (16 decades): a coarse
// grid of gcv_coarse points, each factored once for all functions, then
// each function's two lowest local minima of the grid refined by golden
// section on log10 rho within their neighbouring grid points, each score
// with its own factorisation. Every loop has a fixed bound, so NaN scores
// end the search as surely as numbers do.

#include <cstdint>
#include <limits>
#include <sycl/sycl.hpp>

#include "detail/gpu/fitting/penalised_band.hpp"
#include "detail/gpu/fitting/smoothing_tables.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

inline constexpr double gcv_first = -6.0;
inline constexpr double gcv_last = 10.0;
inline constexpr int gcv_coarse = 33;          // half a decade apart
inline constexpr double gcv_tolerance = 2e-3;  // decades
inline constexpr int gcv_golden_steps = 14;    // 0.618^14 of two grid steps < gcv_tolerance

inline double gcv_grid_point(int g) { return gcv_first + (gcv_last - gcv_first) * g / (gcv_coarse - 1); }

inline double gcv_score(double rss, double trace, double m) {
  const double dof = m - trace;
  return dof > 0.0 ? m * rss / (dof * dof) : std::numeric_limits<double>::infinity();
}

// lambda_u on the scaled partition for log10 rho.
inline double gcv_lambda(const smoothing_tables& t, double log_rho) { return sycl::exp10(log_rho) * t.lambda_scale(); }

// One function's score at log10 rho, factoring into `rows`; z as
// solve_penalised needs it.
template <typename Y>
double gcv_score_at(const smoothing_tables& t, double log_rho, Y y, double* rows, double* z) {
  if (!factor_penalised(t, gcv_lambda(t, log_rho), rows)) return std::numeric_limits<double>::infinity();
  const double rss = residual_sum(t, rows, y, z);
  return gcv_score(rss, influence_trace(t, rows), t.positive_weights());
}

struct gcv_choice {
  double log_rho;
  double score;
};

// One function's search as a walk that asks for one score at a time, so
// that many functions can be advanced in lock step, each score computed
// between two steps: the best of the coarse grid, then each of the grid's
// two lowest local minima refined by golden section on log10 rho within
// its neighbouring grid points. Trivially copyable; kept in device memory.
struct gcv_walk {
  double a, b, x1, x2, f1, f2;  // the golden section's bracket and points
  gcv_choice choice;            // the best so far
  int best[2];                  // the grid minima to refine, -1 for none
  int slot;                     // the minimum being refined; 2 when done
  int phase;                    // which score the walk waits for
  int step;

  static constexpr double ratio = 0.6180339887498949;
  enum : int { wants_f1, wants_f2, steps_f1, steps_f2 };

  bool done() const { return slot >= 2; }
  // log10 rho of the score the walk waits for.
  double next() const { return phase == wants_f1 || phase == steps_f1 ? x1 : x2; }

  // From the coarse scores (gcv_coarse of them, stride apart).
  void start(const double* coarse, std::int64_t stride) {
    const double infinity = std::numeric_limits<double>::infinity();
    best[0] = best[1] = -1;
    for (int g = 0; g < gcv_coarse; ++g) {
      const double v = coarse[g * stride];
      const bool left_ok = g == 0 || v <= coarse[(g - 1) * stride];
      const bool right_ok = g == gcv_coarse - 1 || v < coarse[(g + 1) * stride];
      if (!(left_ok && right_ok) || !(v < infinity)) continue;
      if (best[0] < 0 || v < coarse[best[0] * stride]) {
        best[1] = best[0];
        best[0] = g;
      } else if (best[1] < 0 || v < coarse[best[1] * stride]) {
        best[1] = g;
      }
    }
    choice = {gcv_grid_point(0), coarse[0]};
    for (int g = 1; g < gcv_coarse; ++g) {
      if (coarse[g * stride] < choice.score) choice = {gcv_grid_point(g), coarse[g * stride]};
    }
    refine_from(0);
  }

  // Takes the score at next().
  void advance(double score) {
    switch (phase) {
      case wants_f1:
        f1 = score;
        phase = wants_f2;
        return;
      case wants_f2:
        f2 = score;
        step = 0;
        break;
      case steps_f1:
        f1 = score;
        ++step;
        break;
      default:
        f2 = score;
        ++step;
        break;
    }
    if (step < gcv_golden_steps && b - a > gcv_tolerance) {
      if (f1 <= f2) {
        b = x2;
        x2 = x1;
        f2 = f1;
        x1 = b - ratio * (b - a);
        phase = steps_f1;
      } else {
        a = x1;
        x1 = x2;
        f1 = f2;
        x2 = a + ratio * (b - a);
        phase = steps_f2;
      }
      return;
    }
    const gcv_choice refined = f1 <= f2 ? gcv_choice{x1, f1} : gcv_choice{x2, f2};
    if (refined.score < choice.score) choice = refined;
    refine_from(slot + 1);
  }

 private:
  // Opens the golden section of the first minimum from slot s on.
  void refine_from(int s) {
    for (slot = s; slot < 2 && best[slot] < 0; ++slot) {
    }
    if (slot >= 2) return;
    const int c = best[slot];
    a = gcv_grid_point(c > 0 ? c - 1 : 0);
    b = gcv_grid_point(c < gcv_coarse - 1 ? c + 1 : gcv_coarse - 1);
    x1 = b - ratio * (b - a);
    x2 = a + ratio * (b - a);
    phase = wants_f1;
  }
};

// Scores a walk asks for at most: two golden sections of two first scores
// and gcv_golden_steps more.
inline constexpr int gcv_walk_scores = 2 * (2 + gcv_golden_steps);

// One function's choice from its coarse scores (stride apart), its scores
// computed one after another.
template <typename Score>
gcv_choice gcv_refine(const double* coarse, std::int64_t stride, Score score) {
  gcv_walk walk{};
  walk.start(coarse, stride);
  for (int k = 0; k < gcv_walk_scores && !walk.done(); ++k) walk.advance(score(walk.next()));
  return walk.choice;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
