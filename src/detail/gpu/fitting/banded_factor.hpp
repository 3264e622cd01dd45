#pragma once

// Symmetric band matrices of half-bandwidth 3, as both fits' normal
// equations are (the smoothing spline's penalised ones and the least-squares
// spline's): factored once as L D L^T in O(size) and shared by every
// function's solve.

#include <cstdint>
#include <limits>

namespace velora::qrx::experimental::data_fitting::detail {

// Doubles of a factor of `size` rows: row a holds L(a, a-1), L(a, a-2),
// L(a, a-3) and 1/D(a); three zero rows follow the last, so the back
// substitution needs no bounds.
inline std::int64_t banded_factor_doubles(std::int64_t size) { return 4 * (size + 3); }

// Factors the band m(d, a) = M(a, a - d), d = 0..3 (read only for a >= d),
// into rows. False when a pivot is not positive and finite, or not above
// min_ratio * M(a, a): not positive definite, or so close to singular that
// the pivot is rounding left over from the diagonal.
template <typename Band>
bool factor_band(std::int64_t size, Band m, double min_ratio, double* rows) {
  double d1 = 0.0, d2 = 0.0, d3 = 0.0;  // D(a-1), D(a-2), D(a-3)
  for (std::int64_t a = 0; a < size; ++a) {
    double* r = rows + 4 * a;
    const double m0 = m(0, a);
    const double m1 = a >= 1 ? m(1, a) : 0.0;
    const double m2 = a >= 2 ? m(2, a) : 0.0;
    const double m3 = a >= 3 ? m(3, a) : 0.0;
    // u_d = L(a, a-d) D(a-d)
    const double u3 = m3;
    const double l3 = a >= 3 ? u3 / d3 : 0.0;
    const double u2 = a >= 2 ? m2 - u3 * rows[4 * (a - 2)] : 0.0;
    const double l2 = a >= 2 ? u2 / d2 : 0.0;
    const double u1 = a >= 1 ? m1 - u3 * rows[4 * (a - 1) + 1] - u2 * rows[4 * (a - 1)] : 0.0;
    const double l1 = a >= 1 ? u1 / d1 : 0.0;
    const double d = m0 - u3 * l3 - u2 * l2 - u1 * l1;
    if (!(d > 0.0) || !(d > min_ratio * m0) || !(d <= std::numeric_limits<double>::max())) {
      return false;
    }
    r[0] = l1;
    r[1] = l2;
    r[2] = l3;
    r[3] = 1.0 / d;
    d3 = d2;
    d2 = d1;
    d1 = d;
  }
  for (std::int64_t e = 4 * size; e < 4 * (size + 3); ++e) rows[e] = 0.0;
  return true;
}

// Solves M c = r in place from the factor's rows.
inline void solve_banded(std::int64_t size, const double* rows, double* r) {
  for (std::int64_t a = 1; a < size; ++a) {
    const double* l = rows + 4 * a;
    double v = r[a] - l[0] * r[a - 1];
    if (a >= 2) v -= l[1] * r[a - 2];
    if (a >= 3) v -= l[2] * r[a - 3];
    r[a] = v;
  }
  for (std::int64_t a = size - 1; a >= 0; --a) {
    const double d = rows[4 * a + 3], l1 = rows[4 * (a + 1)], l2 = rows[4 * (a + 2) + 1], l3 = rows[4 * (a + 3) + 2];
    double v = r[a] * d;
    if (a + 1 < size) v -= l1 * r[a + 1];
    if (a + 2 < size) v -= l2 * r[a + 2];
    if (a + 3 < size) v -= l3 * r[a + 3];
    r[a] = v;
  }
}

}  // namespace velora::qrx::experimental::data_fitting::detail
