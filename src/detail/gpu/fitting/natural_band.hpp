#pragma once

// The smoothing spline at lambda = 0 (natural_limit.hpp) as a band that
// partitioned_band solves by blocks. With the positive sites listed
// (positive_sites.hpp), entry k's second derivative M_k, k = 1..count-2,
// solves the symmetric form of the natural spline's rows,
//   H_l M_{k-1} + 2 (H_l + H_r) M_k + H_r M_{k+1} = 6 (S_r - S_l),
// M_0 = M_{count-1} = 0; row a of the band is entry k = a + 1. Rows past
// count - 2 (the band has one per site, as the count is only known on the
// device) are the identity, apart from the rest. Diagonally dominant, so
// positive definite.

#include <cstdint>

#include "detail/gpu/fitting/curvature_cells.hpp"
#include "detail/gpu/fitting/penalised_band.hpp"
#include "detail/gpu/fitting/positive_sites.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// m(d, a) = M(a, a - d); captured by kernels.
struct natural_band {
  positive_sites p;

  double operator()(int d, std::int64_t a) const {
    if (a >= p.count() - 2) return d == 0 ? 1.0 : 0.0;
    if (d == 0) return 2.0 * (p.span(a) + p.span(a + 1));
    return d == 1 ? p.span(a) : 0.0;
  }

  // Row a of the right side for the values y(i).
  template <typename Y>
  double right_side(Y y, std::int64_t a) const {
    if (a >= p.count() - 2) return 0.0;
    const double y0 = static_cast<double>(y(p.site(a))), y1 = static_cast<double>(y(p.site(a + 1))),
                 y2 = static_cast<double>(y(p.site(a + 2)));
    return 6.0 * ((y2 - y1) / p.span(a + 1) - (y1 - y0) / p.span(a));
  }

  // Second derivative at positive entry k from the solved band m.
  double curvature(const double* m, std::int64_t k) const {
    return k <= 0 || k >= p.count() - 1 ? 0.0 : m[k - 1];
  }

  // The fit and second derivative (scaled partition) at site i: the cubic
  // of the positive interval holding it, straight outside the first and
  // last positive sites, as natural_limit::fit computes them.
  template <typename Y>
  site_fit at(Y y, const double* m, std::int64_t i) const {
    auto value = [&](std::int64_t k) { return static_cast<double>(y(p.site(k))); };
    const std::int64_t k = p.rank(i), last = p.count() - 1;
    const double u = p.offset(i);
    if (k < 0) {
      const double h = p.span(0);
      const double slope = (value(1) - value(0)) / h - h * curvature(m, 1) / 6.0;
      return {value(0) - (p.lead() - u) * slope, 0.0};
    }
    if (k == last) {
      if (p.site(k) == i) return {value(k), 0.0};
      const double h = p.span(k - 1);
      const double slope = (value(k) - value(k - 1)) / h + h * curvature(m, k - 1) / 6.0;
      return {value(k) + u * slope, 0.0};
    }
    const double h = p.span(k), ml = curvature(m, k), mr = curvature(m, k + 1);
    const double s = (value(k + 1) - value(k)) / h;
    const double f = p.site(k) == i ? value(k)
                                    : value(k) + u * (s - h * (2.0 * ml + mr) / 6.0) +
                                          u * u * (0.5 * ml + u * (mr - ml) / (6.0 * h));
    return {f, ml + (mr - ml) * u / h};
  }

  // The cells first .. end - 1 of one function into coeffs.
  template <typename T, typename Y>
  void write_cells(Y y, const double* m, T* coeffs, std::int64_t first, std::int64_t end) const {
    const double scale = 1.0 / p.t.length() / p.t.length();
    site_fit left = at(y, m, first);
    for (std::int64_t i = first + 1; i <= end; ++i) {
      const site_fit right = at(y, m, i);
      curvature_cell(coeffs + 4 * (i - 1), left.f, right.f, left.f2 * scale, right.f2 * scale, p.t.reciprocal(i - 1));
      left = right;
    }
  }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
