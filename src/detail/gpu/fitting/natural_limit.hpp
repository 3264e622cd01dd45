#pragma once

// The smoothing spline at lambda = 0: the curve of least curvature through
// the values at the sites of positive weight, that is the natural cubic
// spline through those points. Sites of zero weight stay breakpoints, and
// the curve passes them as that spline does (straight beyond the first and
// the last positive site). The system in the second derivatives at the
// positive sites (zero at the outer two) is tridiagonal and depends only on
// the sites and weights: eliminated once by one work-item, then solved by
// one work-item per function. Needs at least three positive weights.

#include <cstdint>

#include "detail/gpu/fitting/curvature_cells.hpp"
#include "detail/gpu/fitting/smoothing_tables.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// A view of the elimination in `data` (doubles(n) entries).
struct natural_limit {
  smoothing_tables t;
  double* data;

  static std::int64_t doubles(std::int64_t n) { return 3 * n; }

  double* span() const { return data; }  // from a positive site to the next positive one
  double* super() const { return data + t.sites(); }
  double* inverse() const { return data + 2 * t.sites(); }

  void eliminate() const {
    const std::int64_t n = t.sites();
    std::int64_t next = -1;
    double run = 0.0;
    for (std::int64_t i = n - 1; i >= 0; --i) {
      if (i + 1 < n) run += t.width(i);
      if (t.weight(i) > 0) {
        span()[i] = next >= 0 ? run : 0.0;
        next = i;
        run = 0.0;
      } else {
        span()[i] = 0.0;
      }
    }
    // Thomas elimination of the rows at the interior positive sites, each
    // divided by the sum of its two spans: h_l M_l + 2 M + h_r M_r with the
    // weights h_l = H_l/(H_l + H_r), h_r = H_r/(H_l + H_r).
    std::int64_t prev = -1;
    double prev_super = 0.0;
    for (std::int64_t i = 0; i < n; ++i) {
      super()[i] = 0.0;
      inverse()[i] = 0.0;
      if (t.weight(i) <= 0) continue;
      if (prev >= 0 && span()[i] > 0) {  // interior positive site
        const double hl = span()[prev], hr = span()[i], sum = hl + hr;
        const double sub = hl / sum;
        const double pivot = 2.0 - sub * prev_super;
        inverse()[i] = 1.0 / pivot;
        super()[i] = hr / sum / pivot;
        prev_super = super()[i];
      }
      prev = i;
    }
  }

  // One function's cells into coeffs; y(i) its value at site i; z holds
  // sites() doubles.
  template <typename T, typename Y>
  void fit(Y y, T* coeffs, double* z) const {
    const std::int64_t n = t.sites();
    const double* span_ = span();
    auto value = [&](std::int64_t i) { return static_cast<double>(y(i)); };
    // Forward: z = eliminated right sides 6 (S_r - S_l)/(H_l + H_r).
    std::int64_t prev = -1;
    double prev_z = 0.0;
    for (std::int64_t i = 0; i < n; ++i) {
      z[i] = 0.0;
      if (t.weight(i) <= 0) continue;
      if (prev >= 0 && span_[i] > 0) {
        const std::int64_t next = next_positive(i);
        const double hl = span_[prev], hr = span_[i], sum = hl + hr;
        const double sl = (value(i) - value(prev)) / hl;
        const double sr = (value(next) - value(i)) / hr;
        const double rhs = 6.0 * (sr - sl) / sum;
        z[i] = (rhs - hl / sum * prev_z) * inverse()[i];
        prev_z = z[i];
      }
      prev = i;
    }
    // Back: second derivatives M at the positive sites (z in place).
    double next_m = 0.0;
    for (std::int64_t i = n - 1; i >= 0; --i) {
      if (t.weight(i) <= 0 || span_[i] <= 0) continue;  // the last positive site keeps 0
      if (inverse()[i] == 0.0) continue;                // the first positive site keeps 0
      z[i] -= super()[i] * next_m;
      next_m = z[i];
    }
    // Every site's value and second derivative from the cubic of the
    // positive interval holding it, then the cells.
    const double scale = 1.0 / t.length() / t.length();
    // Straight before the first positive site, with the curve's slope there.
    const std::int64_t first = next_positive(-1);
    const std::int64_t second = next_positive(first);
    const double first_slope = (value(second) - value(first)) / span_[first] - span_[first] * z[second] / 6.0;
    double lead = 0.0;
    for (std::int64_t k = 0; k < first; ++k) lead += t.width(k);
    // And after the last one.
    const std::int64_t last = previous_positive(n);
    const std::int64_t before_last = previous_positive(last);
    const double last_slope =
        (value(last) - value(before_last)) / span_[before_last] + span_[before_last] * z[before_last] / 6.0;
    double f_prev = 0.0, m_prev = 0.0;
    std::int64_t left = -1;  // the last positive site at or before i
    std::int64_t right = first;
    double offset = 0.0;  // u(i) - u(left), or u(i) - u(0) before the first positive site
    for (std::int64_t i = 0; i < n; ++i) {
      if (i > 0) offset += t.width(i - 1);
      if (t.weight(i) > 0) {
        left = i;
        right = next_positive(i);
        offset = 0.0;
      }
      double f = 0.0, m = 0.0;
      if (left < 0) {
        f = value(first) - (lead - offset) * first_slope;
      } else if (right < 0) {  // at or after the last positive site: straight
        f = i == left ? value(left) : value(left) + offset * last_slope;
      } else {
        const double h = span_[left], u = offset;
        const double ml = z[left], mr = z[right];
        const double s = (value(right) - value(left)) / h;
        f = i == left
                ? value(left)
                : value(left) + u * (s - h * (2.0 * ml + mr) / 6.0) + u * u * (0.5 * ml + u * (mr - ml) / (6.0 * h));
        m = ml + (mr - ml) * u / h;
      }
      m *= scale;
      if (i > 0) curvature_cell(coeffs + 4 * (i - 1), f_prev, f, m_prev, m, t.reciprocal(i - 1));
      f_prev = f;
      m_prev = m;
    }
  }

 private:
  std::int64_t next_positive(std::int64_t i) const {
    for (std::int64_t k = i + 1; k < t.sites(); ++k) {
      if (t.weight(k) > 0) return k;
    }
    return -1;
  }
  std::int64_t previous_positive(std::int64_t i) const {
    for (std::int64_t k = i - 1; k >= 0; --k) {
      if (t.weight(k) > 0) return k;
    }
    return -1;
  }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
