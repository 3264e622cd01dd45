#pragma once

// The smoothing spline at lambda = 0: the curve of least curvature through
// the values at the sites of positive weight, that is the natural cubic
// spline through those points. Sites of zero weight stay breakpoints, and
// the curve passes them as that spline does (straight beyond the first and
// the last positive site). The system in the second derivatives at the
// positive sites (zero at the outer two) is tridiagonal and depends only on
// the sites and weights: eliminated once, then solved for each function.

#include <cstdint>

#include "qrx_df/curvature_cell.hpp"
#include "qrx_df/smoothing_basis.hpp"

namespace qrx_df {

class natural_limit {
 public:
  // Needs `b` for the weights and widths; `work` holds 3 * sites() doubles.
  natural_limit(const smoothing_basis& b, double* work) : b_(b), span_(work), super_(work + b.sites()),
      inverse_(work + 2 * b.sites()) {
    const std::int64_t n = b.sites();
    // Span from each positive site to the next positive one (0 after the last).
    std::int64_t next = -1;
    double run = 0.0;
    for (std::int64_t i = n - 1; i >= 0; --i) {
      if (i + 1 < n) run += b.width(i);
      if (b.weight(i) > 0) {
        span_[i] = next >= 0 ? run : 0.0;
        next = i;
        run = 0.0;
      } else {
        span_[i] = 0.0;
      }
    }
    // Thomas elimination of the rows at the interior positive sites, each
    // divided by the sum of its two spans: h_l M_l + 2 M + h_r M_r with the
    // weights h_l = H_l/(H_l + H_r), h_r = H_r/(H_l + H_r).
    std::int64_t prev = -1;
    double prev_super = 0.0;
    for (std::int64_t i = 0; i < n; ++i) {
      super_[i] = 0.0;
      inverse_[i] = 0.0;
      if (b.weight(i) <= 0) continue;
      if (prev >= 0 && span_[i] > 0) {  // interior positive site
        const double hl = span_[prev], hr = span_[i], sum = hl + hr;
        const double sub = hl / sum;
        const double pivot = 2.0 - sub * prev_super;
        inverse_[i] = 1.0 / pivot;
        super_[i] = hr / sum / pivot;
        prev_super = super_[i];
      }
      prev = i;
    }
  }

  // Function y's cells into coeffs (cells of four); z holds sites() doubles.
  template <typename T, typename Y>
  void fit(Y y, T* coeffs, double* z) const {
    const std::int64_t n = b_.sites();
    // Forward: z = eliminated right sides 6 (S_r - S_l)/(H_l + H_r).
    std::int64_t prev = -1;
    double prev_z = 0.0;
    for (std::int64_t i = 0; i < n; ++i) {
      z[i] = 0.0;
      if (b_.weight(i) <= 0) continue;
      if (prev >= 0 && span_[i] > 0) {
        const std::int64_t next = next_positive(i);
        const double hl = span_[prev], hr = span_[i], sum = hl + hr;
        const double sl = (value(y, i) - value(y, prev)) / hl;
        const double sr = (value(y, next) - value(y, i)) / hr;
        const double rhs = 6.0 * (sr - sl) / sum;
        z[i] = (rhs - hl / sum * prev_z) * inverse_[i];
        prev_z = z[i];
      }
      prev = i;
    }
    // Back: second derivatives M at the positive sites (z in place).
    double next_m = 0.0;
    for (std::int64_t i = n - 1; i >= 0; --i) {
      if (b_.weight(i) <= 0 || span_[i] <= 0) continue;  // the last positive site keeps 0
      if (inverse_[i] == 0.0) continue;                    // the first positive site keeps 0
      z[i] -= super_[i] * next_m;
      next_m = z[i];
    }
    // Every site's value and second derivative from the cubic of the
    // positive interval holding it, then the cells.
    const double scale = 1.0 / b_.length() / b_.length();
    // Straight before the first positive site, with the curve's slope there.
    const std::int64_t first = next_positive(-1);
    const std::int64_t second = next_positive(first);
    const double first_slope =
        (value(y, second) - value(y, first)) / span_[first] - span_[first] * z[second] / 6.0;
    const double lead = distance(0, first);
    // And after the last one.
    const std::int64_t last = previous_positive(n);
    const std::int64_t before_last = previous_positive(last);
    const double last_slope = (value(y, last) - value(y, before_last)) / span_[before_last] +
                              span_[before_last] * z[before_last] / 6.0;
    double f_prev = 0.0, m_prev = 0.0;
    std::int64_t left = -1;  // the last positive site at or before i
    std::int64_t right = first;
    double offset = 0.0;  // u(i) - u(left), or u(i) - u(0) before the first positive site
    for (std::int64_t i = 0; i < n; ++i) {
      if (i > 0) offset += b_.width(i - 1);
      if (b_.weight(i) > 0) {
        left = i;
        right = next_positive(i);
        offset = 0.0;
      }
      double f = 0.0, m = 0.0;
      if (left < 0) {
        f = value(y, first) - (lead - offset) * first_slope;
      } else if (right < 0) {  // at or after the last positive site: straight
        f = i == left ? value(y, left) : value(y, left) + offset * last_slope;
      } else {
        const double h = span_[left], t = offset;
        const double ml = z[left], mr = z[right];
        const double s = (value(y, right) - value(y, left)) / h;
        f = i == left ? value(y, left)
                      : value(y, left) + t * (s - h * (2.0 * ml + mr) / 6.0) +
                            t * t * (0.5 * ml + t * (mr - ml) / (6.0 * h));
        m = ml + (mr - ml) * t / h;
      }
      m *= scale;
      if (i > 0) curvature_cell(coeffs + 4 * (i - 1), f_prev, f, m_prev, m, b_.reciprocal(i - 1));
      f_prev = f;
      m_prev = m;
    }
  }

 private:
  template <typename Y>
  static double value(Y y, std::int64_t i) {
    return static_cast<double>(y(i));
  }
  std::int64_t next_positive(std::int64_t i) const {
    for (std::int64_t k = i + 1; k < b_.sites(); ++k) {
      if (b_.weight(k) > 0) return k;
    }
    return -1;
  }
  std::int64_t previous_positive(std::int64_t i) const {
    for (std::int64_t k = i - 1; k >= 0; --k) {
      if (b_.weight(k) > 0) return k;
    }
    return -1;
  }
  double distance(std::int64_t i, std::int64_t j) const {
    double d = 0.0;
    for (std::int64_t k = i; k < j; ++k) d += b_.width(k);
    return d;
  }

  const smoothing_basis& b_;
  double* span_;
  double* super_;
  double* inverse_;
};

}  // namespace qrx_df
