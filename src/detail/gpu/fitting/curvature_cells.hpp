#pragma once

// The cells of a C2 spline known by its values and second derivatives at
// the breakpoints (a smoothing spline), in the piecewise-cubic layout.

#include <cstdint>

namespace velora::qrx::experimental::data_fitting::detail {

// The cubic of a cell from its end values f0, f1 and end second derivatives
// m0, m1 (units of x), r the cell's reciprocal width; computed in double,
// stored in T.
template <typename T>
void curvature_cell(T* c, double f0, double f1, double m0, double m1, double r) {
  c[0] = static_cast<T>(f0);
  c[1] = static_cast<T>((f1 - f0) * r - (2.0 * m0 + m1) / (6.0 * r));
  c[2] = static_cast<T>(0.5 * m0);
  c[3] = static_cast<T>((m1 - m0) * r / 6.0);
}

// Writes one function's cells as its sites are handed over from the last
// down. The curve has natural ends: the second derivative at the end sites
// is zero, not the rounding left by summing four basis terms.
template <typename T>
struct curvature_cell_writer {
  T* coeffs;                  // the function's first cell
  const double* reciprocals;  // per cell, units of x
  std::int64_t sites;
  double curvature_scale;  // from the scaled partition to units of x
  double f_next = 0.0;
  double m_next = 0.0;

  void operator()(std::int64_t i, double f, double f2) {
    const double m = curvature_at(i, f2);
    if (i < sites - 1) curvature_cell(coeffs + 4 * i, f, f_next, m, m_next, reciprocals[i]);
    f_next = f;
    m_next = m;
  }

  // Takes site i as the next one up without writing its cell: the start of
  // a run of sites that ends below the last site.
  void start_at(std::int64_t i, double f, double f2) {
    f_next = f;
    m_next = curvature_at(i, f2);
  }

  double curvature_at(std::int64_t i, double f2) const {
    return (i == 0 || i == sites - 1) ? 0.0 : f2 * curvature_scale;
  }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
