#pragma once

// The penalised normal equations of a smoothing spline on the basis of
// smoothing_tables.hpp:
//   (G + lambda Omega) c = B^T W y,
// symmetric positive definite with half-bandwidth 3 when lambda > 0 and at
// least two weights are positive. Zero weights only drop terms from G, so
// nothing divides by a weight.
//
// - factor_penalised: M = L D L^T in O(n), one work-item, shared by every
//   function solved with the same lambda.
// - solve_penalised: one function's fit, c from the factor, then the fitted
//   values and second derivatives at the sites from the last site down.
// - residual_sum, influence_trace: what the cross-validation score needs.

#include <cstdint>
#include <limits>

#include "detail/gpu/calculus/compensated_sum.hpp"
#include "detail/gpu/fitting/banded_factor.hpp"
#include "detail/gpu/fitting/smoothing_tables.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// G + lambda_u Omega as a band: m(d, a) = M(a, a - d). Captured by kernels.
struct penalised_matrix {
  smoothing_tables t;
  double lambda_u;
  double operator()(int d, std::int64_t a) const { return t.g(d, a) + lambda_u * t.omega(d, a); }
};

// The matrix for lambda in units of x, on the scaled partition [0, 1]:
// lambda integral f_xx^2 dx = lambda / L^3 * integral f_uu^2 du.
inline penalised_matrix penalised_matrix_of(const smoothing_tables& t, double lambda_x) {
  return {t, lambda_x / t.length() / t.length() / t.length()};
}

// Factors G + lambda_u Omega into `rows` (banded_factor_doubles(size())
// entries). False when a pivot is not positive and finite: lambda too large
// for the matrix to be formed, or rounding beyond repair (NaN data fail here
// too, and stop nothing else).
inline bool factor_penalised(const smoothing_tables& t, double lambda_u, double* rows) {
  return factor_band(t.size(), penalised_matrix{t, lambda_u}, 0.0, rows);
}

// Row a of B^T W y, the sites' terms added in the order solve_penalised
// adds them: site p reaches rows p..p+3, and the last site is taken with
// site n - 2.
template <typename Y>
double penalised_right_side(const smoothing_tables& t, Y y, std::int64_t a) {
  const std::int64_t n = t.sites();
  double r = 0.0;
  auto add_site = [&](std::int64_t i, std::int64_t k) { r += t.weight(i) * static_cast<double>(y(i)) * t.values(i)[k]; };
  for (int k = 3; k >= 0; --k) {
    const std::int64_t p = a - k;
    if (p < 0 || p > n - 2) continue;
    add_site(p, k);
    if (p == n - 2) add_site(n - 1, k);
  }
  return r;
}

// The fitted value and second derivative at site i from the coefficients c,
// as solve_penalised hands them over.
struct site_fit {
  double f, f2;
};

inline site_fit penalised_site_fit(const smoothing_tables& t, const double* c, std::int64_t i) {
  const std::int64_t a = i < t.sites() - 1 ? i : t.sites() - 2;
  const double* v = t.values(i);
  const double* s = t.seconds(i);
  return {v[0] * c[a] + v[1] * c[a + 1] + v[2] * c[a + 2] + v[3] * c[a + 3],
          s[0] * c[a] + s[1] * c[a + 1] + s[2] * c[a + 2] + s[3] * c[a + 3]};
}

// One function's fit from the factor `rows`: y(i) is its value at site i,
// z holds size() doubles of work space. site(i, fit, f2) receives the fitted
// value and second derivative (on the scaled partition) of every site, from
// the last down. The right side is gathered into a window of four running
// sums while the forward substitution passes, so each site is read once
// per sweep.
template <typename Y, typename Site>
void solve_penalised(const smoothing_tables& t, const double* rows, Y y, double* z, Site site) {
  const std::int64_t n = t.sites();
  const std::int64_t size = t.size();
  double r0 = 0.0, r1 = 0.0, r2 = 0.0, r3 = 0.0;  // B^T W y, entries a..a+3
  double z1 = 0.0, z2 = 0.0, z3 = 0.0;            // z(a-1), z(a-2), z(a-3)
  auto add_site = [&](std::int64_t i) {
    const double wy = t.weight(i) * static_cast<double>(y(i));
    const double* v = t.values(i);
    r0 += wy * v[0];
    r1 += wy * v[1];
    r2 += wy * v[2];
    r3 += wy * v[3];
  };
  for (std::int64_t a = 0; a < size; ++a) {
    if (a <= n - 2) add_site(a);
    if (a == n - 2) add_site(n - 1);
    const double* lrow = rows + 4 * a;
    z[a] = r0 - lrow[0] * z1 - lrow[1] * z2 - lrow[2] * z3;
    z3 = z2;
    z2 = z1;
    z1 = z[a];
    r0 = r1;
    r1 = r2;
    r2 = r3;
    r3 = 0.0;
  }
  double c0 = 0.0, c1 = 0.0, c2 = 0.0, c3 = 0.0;  // c(a), c(a+1), c(a+2), c(a+3)
  auto emit = [&](std::int64_t i) {
    const double* v = t.values(i);
    const double* s = t.seconds(i);
    site(i, v[0] * c0 + v[1] * c1 + v[2] * c2 + v[3] * c3, s[0] * c0 + s[1] * c1 + s[2] * c2 + s[3] * c3);
  };
  for (std::int64_t a = size - 1; a >= 0; --a) {
    const double d = rows[4 * a + 3], l1 = rows[4 * (a + 1)], l2 = rows[4 * (a + 2) + 1], l3 = rows[4 * (a + 3) + 2];
    c0 = z[a] * d - l1 * c1 - l2 * c2 - l3 * c3;
    if (a == n - 2) emit(n - 1);
    if (a <= n - 2) emit(a);
    c3 = c2;
    c2 = c1;
    c1 = c0;
  }
}

// The weighted residual sum of squares of one function's fit.
template <typename Y>
double residual_sum(const smoothing_tables& t, const double* rows, Y y, double* z) {
  compensated_sum<double> sum;
  solve_penalised(t, rows, y, z, [&](std::int64_t i, double fit, double) {
    const double e = static_cast<double>(y(i)) - fit;
    sum.add(t.weight(i) * e * e);
  });
  return sum.hi + sum.lo;
}

// tr(M^{-1} G) with S = M^{-1} = L^{-T} D^{-1} L^{-1}: from L^T S = D^{-1} L^{-1},
//   S(a, a+e) = -sum_{k=1..3} L(a+k, a) S(a+k, a+e),   e = 1..3,
//   S(a, a)   = 1/D(a) - sum_{k=1..3} L(a+k, a) S(a, a+k),
// from the last row up, keeping only the 3x3 block of S below row a.
inline double influence_trace(const smoothing_tables& t, const double* rows) {
  double s11 = 0.0, s12 = 0.0, s13 = 0.0, s22 = 0.0, s23 = 0.0, s33 = 0.0;
  compensated_sum<double> trace;
  const std::int64_t size = t.size();
  for (std::int64_t a = size - 1; a >= 0; --a) {
    const double l1 = rows[4 * (a + 1)], l2 = rows[4 * (a + 2) + 1], l3 = rows[4 * (a + 3) + 2];
    const double s01 = -(l1 * s11 + l2 * s12 + l3 * s13);
    const double s02 = -(l1 * s12 + l2 * s22 + l3 * s23);
    const double s03 = -(l1 * s13 + l2 * s23 + l3 * s33);
    const double s00 = rows[4 * a + 3] - (l1 * s01 + l2 * s02 + l3 * s03);
    double v = t.g(0, a) * s00;
    if (a + 1 < size) v += 2.0 * t.g(1, a + 1) * s01;
    if (a + 2 < size) v += 2.0 * t.g(2, a + 2) * s02;
    if (a + 3 < size) v += 2.0 * t.g(3, a + 3) * s03;
    trace.add(v);
    s33 = s22;
    s23 = s12;
    s22 = s11;
    s13 = s02;
    s12 = s01;
    s11 = s00;
  }
  return trace.hi + trace.lo;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
