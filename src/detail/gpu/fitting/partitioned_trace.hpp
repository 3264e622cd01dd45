#pragma once

// tr(M^{-1} N) for N symmetric with half-bandwidth 3, from M's blocked
// factor (partitioned_band.hpp). Only the band of Sigma = M^{-1} is needed,
// and with the interiors I and separators S it is, exactly,
//   Sigma_SS = S^{-1},  Sigma_IS = -W_b S^{-1},
//   Sigma_II = A_b^{-1} + W_b S66^{-1} W_b^T,
// S66^{-1} the 6x6 of S^{-1} on block b's two separators (within S^{-1}'s
// band of half-bandwidth 5, as the two are neighbours).
//   invert_separators (one work-item): S^{-1} on its band, by the backward
//     recurrence of the band of an inverse from S = L D L^T;
//   trace_block (per block): the block's interior rows, its rows against
//     both separators, and the rows of its first separator;
// the partial traces are then summed in block order.

#include <cstdint>

#include "detail/gpu/calculus/compensated_sum.hpp"
#include "detail/gpu/fitting/partitioned_band.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// The band of S^{-1} in `sigma` (inverse_doubles entries): entry
// (r, r + e) at (separator_width + 1) * r + e. Captured by kernels.
struct partitioned_trace {
  static constexpr int width = partitioned_band::separator_width;
  static constexpr int stride = width + 1;

  partitioned_band band;
  double* sigma;

  static std::int64_t inverse_doubles(const band_partition& p) {
    return stride * (p.separator_rows() > 0 ? p.separator_rows() : 1);
  }

  // After factor_separators succeeded. From L^T Sigma = D^{-1} L^{-1}:
  //   Sigma(a, a+e) = -sum_k L(a+k, a) Sigma(a+k, a+e),  e = 1..width,
  //   Sigma(a, a)   = 1/D(a) - sum_k L(a+k, a) Sigma(a, a+k).
  void invert_separators() const {
    const std::int64_t rows = band.partition().separator_rows();
    const double* f = band.separator_factor();
    auto l = [&](std::int64_t a, int k) { return f[stride * (a + k) + (k - 1)]; };  // L(a+k, a)
    for (std::int64_t a = rows - 1; a >= 0; --a) {
      for (int e = width; e >= 1; --e) {
        double v = 0.0;
        if (a + e < rows) {
          for (int k = 1; k <= width && a + k < rows; ++k) v -= l(a, k) * inverse(a + k, a + e);
        }
        sigma[stride * a + e] = v;
      }
      double v = f[stride * a + width];
      for (int k = 1; k <= width && a + k < rows; ++k) v -= l(a, k) * sigma[stride * a + k];
      sigma[stride * a] = v;
    }
  }

  // Sigma_SS(r, s) for |r - s| <= width.
  double inverse(std::int64_t r, std::int64_t s) const {
    return r <= s ? sigma[stride * r + (s - r)] : sigma[stride * s + (r - s)];
  }

  // Block b's part of tr(M^{-1} N); n(d, a) = N(a, a - d).
  template <typename Band>
  double trace_block(Band n, std::int64_t b) const {
    constexpr int spikes = partitioned_band::spikes;
    const band_partition& parts = band.partition();
    const std::int64_t p = parts.interior(b), q = parts.first(b + 1), len = q - p;
    const std::int64_t r0 = 3 * (b - 1);  // separator row of spike column 0
    double s66[spikes][spikes];
    for (int c = 0; c < spikes; ++c) {
      for (int e = 0; e < spikes; ++e) {
        s66[c][e] = band.has_separator(b, c) && band.has_separator(b, e) ? inverse(r0 + c, r0 + e) : 0.0;
      }
    }
    const double* w[spikes];
    for (int c = 0; c < spikes; ++c) w[c] = band.spike(b, c);
    const double* fr = band.interior_factor(b);
    compensated_sum<double> trace;
    // The first separator's own rows.
    if (b > 0) {
      for (int c = 0; c < 3; ++c) {
        trace.add(n(0, p - 3 + c) * s66[c][c]);
        for (int e = c + 1; e < 3; ++e) trace.add(2.0 * n(e - c, p - 3 + e) * s66[c][e]);
      }
    }
    // The interior from its last row up; a11.. hold A_b^{-1} below row a.
    double a11 = 0.0, a12 = 0.0, a13 = 0.0, a22 = 0.0, a23 = 0.0, a33 = 0.0;
    for (std::int64_t a = len - 1; a >= 0; --a) {
      const std::int64_t i = p + a;
      const double l1 = fr[4 * (a + 1)], l2 = fr[4 * (a + 2) + 1], l3 = fr[4 * (a + 3) + 2];
      const double a01 = -(l1 * a11 + l2 * a12 + l3 * a13);
      const double a02 = -(l1 * a12 + l2 * a22 + l3 * a23);
      const double a03 = -(l1 * a13 + l2 * a23 + l3 * a33);
      const double a00 = fr[4 * a + 3] - (l1 * a01 + l2 * a02 + l3 * a03);
      // v = W(a, :) S66^{-1}: Sigma_IS(a, separator row of column c) = -v[c].
      double v[spikes];
      for (int e = 0; e < spikes; ++e) {
        double sum = 0.0;
        for (int c = 0; c < spikes; ++c) sum += w[c][a] * s66[c][e];
        v[e] = sum;
      }
      const double inverse_row[4] = {a00, a01, a02, a03};
      double term = 0.0;
      for (int e = 0; e <= 3 && a + e < len; ++e) {
        double s = inverse_row[e];
        for (int c = 0; c < spikes; ++c) s += v[c] * w[c][a + e];
        term += (e == 0 ? 1.0 : 2.0) * n(e, i + e) * s;
      }
      // Against the first separator: its row p - 3 + c reaches rows p .. p + c.
      if (b > 0 && a < 3) {
        for (int c = static_cast<int>(a); c < 3; ++c) term -= 2.0 * n(static_cast<int>(3 - c + a), i) * v[c];
      }
      // Against the second: its row q + c - 3 reaches rows q + c - 6 .. q - 1.
      if (b + 1 < parts.blocks) {
        for (int c = 3; c < spikes; ++c) {
          const std::int64_t row = q + c - 3;
          if (row - i <= 3) term -= 2.0 * n(static_cast<int>(row - i), row) * v[c];
        }
      }
      trace.add(term);
      a33 = a22;
      a23 = a12;
      a22 = a11;
      a13 = a02;
      a12 = a01;
      a11 = a00;
    }
    return trace.hi + trace.lo;
  }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
