#pragma once

// The penalised normal equations of a smoothing spline on the basis of
// smoothing_basis.hpp:
//   (G + lambda Omega) c = B^T W y,
// symmetric positive definite with half-bandwidth 3 when lambda > 0 and
// at least two weights are positive (only a straight line has no
// curvature, and it cannot vanish at two sites). Zero weights only drop
// terms from G, so nothing divides by a weight.
//
// - penalised_factor: M = L D L^T in O(n), shared by every function.
// - solve_penalised: one function's fit, c from the factor, then the fitted
//   values and second derivatives at the sites from the top down.
// - influence_trace: tr A(lambda) = tr(M^{-1} G), from the band of M^{-1}
//   that Hutchinson and de Hoog's recurrence gets out of the factor.

#include <cmath>
#include <cstdint>

#include "qrx_df/smoothing_basis.hpp"
#include "qrx_df/two_sum.hpp"

namespace qrx_df {

// Row a holds L(a, a-1), L(a, a-2), L(a, a-3) and 1/D(a); three zero rows
// follow the last, so the back substitution needs no bounds.
class penalised_factor {
 public:
  static std::int64_t doubles(std::int64_t size) { return 4 * (size + 3); }

  // Factors G + lambda_u Omega into `work` (doubles(size) entries). False
  // when a pivot is not positive and finite: lambda too large for the
  // matrix to be formed, or rounding beyond repair.
  bool factor(const smoothing_basis& b, double lambda_u, double* work) {
    return factor_band(b.size(), [&](int d, std::int64_t a) { return b.g(d, a) + lambda_u * b.omega(d, a); }, 0.0,
                       work);
  }

  // Factors the symmetric band m(d, a) = M(a, a - d), d = 0..3, read only
  // for a >= d. False when a pivot is not finite or not above
  // min_ratio * M(a, a): the matrix is not positive definite, or so close
  // to singular that the pivot is rounding left over from the diagonal.
  template <typename Band>
  bool factor_band(std::int64_t size, Band m, double min_ratio, double* work) {
    rows_ = work;
    size_ = size;
    double d1 = 0.0, d2 = 0.0, d3 = 0.0;  // D(a-1), D(a-2), D(a-3)
    for (std::int64_t a = 0; a < size_; ++a) {
      double* r = rows_ + 4 * a;
      const double m0 = m(0, a);
      const double m1 = a >= 1 ? m(1, a) : 0.0;
      const double m2 = a >= 2 ? m(2, a) : 0.0;
      const double m3 = a >= 3 ? m(3, a) : 0.0;
      // u_d = L(a, a-d) D(a-d)
      const double u3 = m3;
      const double l3 = a >= 3 ? u3 / d3 : 0.0;
      const double u2 = a >= 2 ? m2 - u3 * rows_[4 * (a - 2)] : 0.0;
      const double l2 = a >= 2 ? u2 / d2 : 0.0;
      const double u1 = a >= 1 ? m1 - u3 * rows_[4 * (a - 1) + 1] - u2 * rows_[4 * (a - 1)] : 0.0;
      const double l1 = a >= 1 ? u1 / d1 : 0.0;
      const double d = m0 - u3 * l3 - u2 * l2 - u1 * l1;
      if (!(d > 0.0) || !(d > min_ratio * m0) || !std::isfinite(d)) return false;
      r[0] = l1;
      r[1] = l2;
      r[2] = l3;
      r[3] = 1.0 / d;
      d3 = d2;
      d2 = d1;
      d1 = d;
    }
    for (std::int64_t a = size_; a < size_ + 3; ++a) {
      for (int q = 0; q < 4; ++q) rows_[4 * a + q] = 0.0;
    }
    return true;
  }

  std::int64_t size() const { return size_; }
  const double* row(std::int64_t a) const { return rows_ + 4 * a; }

 private:
  double* rows_ = nullptr;
  std::int64_t size_ = 0;
};

// Solves M c = r for F right sides in place: r[l * size + a] is lane l's
// entry a, overwritten by c. Each lane does the operations of a lone one.
template <int F>
void solve_factored(const penalised_factor& f, double* r) {
  const std::int64_t size = f.size();
  for (std::int64_t a = 0; a < size; ++a) {
    const double* lrow = f.row(a);
    for (int l = 0; l < F; ++l) {
      double* z = r + l * size + a;
      double v = z[0];
      if (a >= 1) v -= lrow[0] * z[-1];
      if (a >= 2) v -= lrow[1] * z[-2];
      if (a >= 3) v -= lrow[2] * z[-3];
      z[0] = v;
    }
  }
  for (std::int64_t a = size - 1; a >= 0; --a) {
    const double d = f.row(a)[3], l1 = f.row(a + 1)[0], l2 = f.row(a + 2)[1], l3 = f.row(a + 3)[2];
    for (int l = 0; l < F; ++l) {
      double* c = r + l * size + a;
      double v = c[0] * d;
      if (a + 1 < size) v -= l1 * c[1];
      if (a + 2 < size) v -= l2 * c[2];
      if (a + 3 < size) v -= l3 * c[3];
      c[0] = v;
    }
  }
}

// The fit of F functions at once: the factor and the basis are read once
// for the block, and each lane does exactly the operations of a lone
// function, so a function's result does not depend on its block. y(l, i) is
// lane l's value at site i; z has F * size() entries of work space.
// site(i, fit, f2) receives the F fitted values and second derivatives (on
// the scaled partition) of every site, from the last down. The right side is
// gathered into a window of four running sums while the forward substitution
// passes, so each site is read once per sweep.
template <int F, typename Y, typename Site>
void solve_penalised(const smoothing_basis& b, const penalised_factor& f, Y y, double* z, Site site) {
  const std::int64_t n = b.sites();
  const std::int64_t size = b.size();
  double r0[F] = {}, r1[F] = {}, r2[F] = {}, r3[F] = {};  // B^T W y, entries a..a+3
  double z1[F] = {}, z2[F] = {}, z3[F] = {};              // z(a-1), z(a-2), z(a-3)
  auto add_site = [&](std::int64_t i) {
    const double w = b.weight(i);
    const double* v = b.values(i);
    for (int l = 0; l < F; ++l) {
      const double wy = w * static_cast<double>(y(l, i));
      r0[l] += wy * v[0];
      r1[l] += wy * v[1];
      r2[l] += wy * v[2];
      r3[l] += wy * v[3];
    }
  };
  for (std::int64_t a = 0; a < size; ++a) {
    if (a <= n - 2) add_site(a);
    if (a == n - 2) add_site(n - 1);
    const double* lrow = f.row(a);
    double* za = z + F * a;
    for (int l = 0; l < F; ++l) {
      za[l] = r0[l] - lrow[0] * z1[l] - lrow[1] * z2[l] - lrow[2] * z3[l];
      z3[l] = z2[l];
      z2[l] = z1[l];
      z1[l] = za[l];
      r0[l] = r1[l];
      r1[l] = r2[l];
      r2[l] = r3[l];
      r3[l] = 0.0;
    }
  }
  double c0[F], c1[F] = {}, c2[F] = {}, c3[F] = {};  // c(a), c(a+1), c(a+2), c(a+3)
  double fit[F], f2[F];
  auto emit = [&](std::int64_t i) {
    const double* v = b.values(i);
    const double* s = b.seconds(i);
    for (int l = 0; l < F; ++l) {
      fit[l] = v[0] * c0[l] + v[1] * c1[l] + v[2] * c2[l] + v[3] * c3[l];
      f2[l] = s[0] * c0[l] + s[1] * c1[l] + s[2] * c2[l] + s[3] * c3[l];
    }
    site(i, static_cast<const double*>(fit), static_cast<const double*>(f2));
  };
  for (std::int64_t a = size - 1; a >= 0; --a) {
    const double d = f.row(a)[3], l1 = f.row(a + 1)[0], l2 = f.row(a + 2)[1], l3 = f.row(a + 3)[2];
    const double* za = z + F * a;
    for (int l = 0; l < F; ++l) c0[l] = za[l] * d - l1 * c1[l] - l2 * c2[l] - l3 * c3[l];
    if (a == n - 2) emit(n - 1);
    if (a <= n - 2) emit(a);
    for (int l = 0; l < F; ++l) {
      c3[l] = c2[l];
      c2[l] = c1[l];
      c1[l] = c0[l];
    }
  }
}

// The weighted residual sums of squares of F functions' fits.
template <int F, typename Y>
void residual_sums(const smoothing_basis& b, const penalised_factor& f, Y y, double* z, double* rss) {
  compensated_sum<double> sum[F];
  solve_penalised<F>(b, f, y, z, [&](std::int64_t i, const double* fit, const double*) {
    const double w = b.weight(i);
    for (int l = 0; l < F; ++l) {
      const double e = static_cast<double>(y(l, i)) - fit[l];
      sum[l].add(w * e * e);
    }
  });
  for (int l = 0; l < F; ++l) rss[l] = sum[l].hi + sum[l].lo;
}

// tr(M^{-1} G) with S = M^{-1} = L^{-T} D^{-1} L^{-1}: from L^T S = D^{-1} L^{-1},
//   S(a, a+e) = -sum_{k=1..3} L(a+k, a) S(a+k, a+e),   e = 1..3,
//   S(a, a)   = 1/D(a) - sum_{k=1..3} L(a+k, a) S(a, a+k),
// from the last row up, with only the 3x3 block of S below row a kept.
inline double influence_trace(const smoothing_basis& b, const penalised_factor& f) {
  double s11 = 0.0, s12 = 0.0, s13 = 0.0, s22 = 0.0, s23 = 0.0, s33 = 0.0;
  compensated_sum<double> trace;
  const std::int64_t size = b.size();
  for (std::int64_t a = size - 1; a >= 0; --a) {
    const double l1 = f.row(a + 1)[0], l2 = f.row(a + 2)[1], l3 = f.row(a + 3)[2];
    const double s01 = -(l1 * s11 + l2 * s12 + l3 * s13);
    const double s02 = -(l1 * s12 + l2 * s22 + l3 * s23);
    const double s03 = -(l1 * s13 + l2 * s23 + l3 * s33);
    const double s00 = f.row(a)[3] - (l1 * s01 + l2 * s02 + l3 * s03);
    double t = b.g(0, a) * s00;
    if (a + 1 < size) t += 2.0 * b.g(1, a + 1) * s01;
    if (a + 2 < size) t += 2.0 * b.g(2, a + 2) * s02;
    if (a + 3 < size) t += 2.0 * b.g(3, a + 3) * s03;
    trace.add(t);
    s33 = s22;
    s23 = s12;
    s22 = s11;
    s13 = s02;
    s12 = s01;
    s11 = s00;
  }
  return trace.hi + trace.lo;
}

}  // namespace qrx_df
