#pragma once

// The cubic B-spline basis of a smoothing spline: knots at the data sites,
// the end sites four-fold, so its n + 2 functions B_0..B_{n+1} span every C2
// cubic with breakpoints at the n sites. Cell k (sites k, k+1) carries
// B_k..B_{k+3}. Everything is computed on the partition scaled to [0, 1]
// (u = (x - x_0)/L): then the penalty of a cell is of size 1/h^3 in cells of
// width h <= 1 instead of depending on the units of x.
//
// Held here, shared by every function and every lambda: the weights, the
// values and second derivatives of the four basis functions of each site,
// and the bands of G = B^T W B (the weighted Gram matrix of the values at
// the sites) and of Omega (the integrals of products of second derivatives).
// Both are symmetric with half-bandwidth 3; band d of row a is the entry
// (a, a - d). Each band entry is gathered from the few sites and cells that
// touch it, in a fixed order, so the matrices do not depend on the threads.

#include <cmath>
#include <cstdint>

#include "qrx_df/parallel.hpp"
#include "qrx_df/work_buffer.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace qrx_df {

// The four basis functions B_k..B_{k+3} of cell k at offset s from its left
// end. `o` holds the knots t_{k+q} - x_k, q = 0..7. Cox-de Boor's recurrence
// for the values; the second derivative from the derivative formula applied
// twice. A knot difference of zero (the four-fold ends) drops its term.
struct cell_basis {
  double value[4];
  double second[4];
};

inline cell_basis cubic_basis_on_cell(const double* o, double s) {
  auto ratio = [](double a, double d) { return d > 0 ? a / d : 0.0; };
  double b[4][5] = {};  // b[p][q]: B_{k+q} of degree p
  b[0][3] = 1.0;
  for (int p = 1; p <= 3; ++p) {
    for (int q = 3 - p; q <= 3; ++q) {
      b[p][q] = ratio(s - o[q], o[q + p] - o[q]) * b[p - 1][q] +
                ratio(o[q + p + 1] - s, o[q + p + 1] - o[q + 1]) * b[p - 1][q + 1];
    }
  }
  double slope2[5] = {};  // first derivatives of degree 2, q = 1..3
  for (int q = 1; q <= 3; ++q) {
    slope2[q] = 2.0 * (ratio(b[1][q], o[q + 2] - o[q]) - ratio(b[1][q + 1], o[q + 3] - o[q + 1]));
  }
  cell_basis r{};
  for (int q = 0; q < 4; ++q) {
    r.value[q] = b[3][q];
    r.second[q] = 3.0 * (ratio(slope2[q], o[q + 3] - o[q]) - ratio(slope2[q + 1], o[q + 4] - o[q + 1]));
  }
  return r;
}

// Weights: finite, not negative, at least three positive.
template <typename T>
bool weights_sound(std::int64_t n, const T* w) {
  if (w == nullptr) return n >= 3;
  std::int64_t positive = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    if (!std::isfinite(w[i]) || w[i] < T(0)) return false;
    positive += w[i] > T(0) ? 1 : 0;
  }
  return positive >= 3;
}

class smoothing_basis {
 public:
  // n sites: listed (x[0..n-1]) or uniform (x[0], x[1] the ends); weights
  // may be null (all 1). ok() is false when memory ran out.
  template <typename T>
  smoothing_basis(std::int64_t n, const T* x, bool uniform, const T* weights, const qrx_df_threader_block* threader)
      : n_(n), size_(n + 2), buffer_(product_fits(n, 24) ? 11 * n + 8 * (n + 2) : -1) {
    if (!buffer_.ok()) return;
    double* p = buffer_.data();
    w_ = p;
    p += n;
    width_ = p;
    p += n;
    reciprocal_ = p;
    p += n;
    value_ = p;
    p += 4 * n;
    second_ = p;
    p += 4 * n;
    for (int d = 0; d < 4; ++d) {
      g_[d] = p;
      p += size_;
      omega_[d] = p;
      p += size_;
    }
    const double a = static_cast<double>(x[0]);
    const double b = static_cast<double>(uniform ? x[1] : x[n - 1]);
    length_ = b - a;
    const double uniform_r = static_cast<double>(n - 1) / length_;
    for (std::int64_t i = 0; i < n; ++i) {
      w_[i] = weights != nullptr ? static_cast<double>(weights[i]) : 1.0;
      positive_ += w_[i] > 0 ? 1 : 0;
    }
    for (std::int64_t k = 0; k + 1 < n; ++k) {
      if (uniform) {
        width_[k] = 1.0 / static_cast<double>(n - 1);
        reciprocal_[k] = uniform_r;
      } else {
        const double h = static_cast<double>(x[k + 1]) - static_cast<double>(x[k]);
        width_[k] = h / length_;
        reciprocal_[k] = 1.0 / h;
      }
    }
    build_tables(threader);
  }

  bool ok() const { return buffer_.ok() && tables_ok_; }
  std::int64_t sites() const { return n_; }
  std::int64_t size() const { return size_; }  // number of basis functions
  std::int64_t positive_weights() const { return positive_; }
  double length() const { return length_; }
  double weight(std::int64_t i) const { return w_[i]; }
  double width(std::int64_t k) const { return width_[k]; }  // on [0, 1]
  double reciprocal(std::int64_t k) const { return reciprocal_[k]; }  // 1/h in units of x
  // Site i is evaluated on cell min(i, n - 2): B_base..B_{base+3}.
  std::int64_t base(std::int64_t i) const { return i < n_ - 1 ? i : n_ - 2; }
  const double* values(std::int64_t i) const { return value_ + 4 * i; }
  const double* seconds(std::int64_t i) const { return second_ + 4 * i; }
  double g(int d, std::int64_t a) const { return g_[d][a]; }
  double omega(int d, std::int64_t a) const { return omega_[d][a]; }
  // tr(G)/tr(Omega): the lambda at which the two matrices weigh alike.
  double lambda_scale() const { return trace_g_ / trace_omega_; }

 private:
  double h(std::int64_t k) const { return k >= 0 && k + 1 < n_ ? width_[k] : 0.0; }

  cell_basis on_cell(std::int64_t k, bool right_end) const {
    double o[8];
    o[3] = 0.0;
    o[4] = h(k);
    o[5] = o[4] + h(k + 1);
    o[6] = o[5] + h(k + 2);
    o[7] = o[6] + h(k + 3);
    o[2] = -h(k - 1);
    o[1] = o[2] - h(k - 2);
    o[0] = o[1] - h(k - 3);
    return cubic_basis_on_cell(o, right_end ? o[4] : 0.0);
  }

  // Second derivatives of B_k..B_{k+3} at the right end of cell k. Inside
  // the partition the basis is C2, so they are those of the next site
  // (B_k ends there with a zero second derivative); the last cell's right
  // end is the last site.
  double right_second(std::int64_t k, int q) const {
    if (k + 2 < n_) return q == 0 ? 0.0 : second_[4 * (k + 1) + q - 1];
    return second_[4 * (n_ - 1) + q];
  }

  // Entry (a, a - d) of G and of Omega.
  void gather_row(std::int64_t a, int d) {
    double gsum = 0.0;
    double osum = 0.0;
    const std::int64_t first = a - 3 > 0 ? a - 3 : 0;
    const std::int64_t last = a - d < n_ - 2 ? a - d : n_ - 2;
    for (std::int64_t k = first; k <= last; ++k) {
      const int p = static_cast<int>(a - k);
      const int q = p - d;
      gsum += w_[k] * value_[4 * k + p] * value_[4 * k + q];
      const double lp = second_[4 * k + p], lq = second_[4 * k + q];
      const double rp = right_second(k, p), rq = right_second(k, q);
      osum += width_[k] / 6.0 * (2.0 * lp * lq + lp * rq + rp * lq + 2.0 * rp * rq);
    }
    if (n_ - 2 >= a - 3 && n_ - 2 <= a - d) {  // the last site, on the last cell
      const std::int64_t i = n_ - 1;
      const int p = static_cast<int>(a - (n_ - 2));
      gsum += w_[i] * value_[4 * i + p] * value_[4 * i + p - d];
    }
    g_[d][a] = gsum;
    omega_[d][a] = osum;
  }

  void build_tables(const qrx_df_threader_block* threader) {
    constexpr std::int64_t chunk = 4096;
    auto sites = [&](std::int64_t begin, std::int64_t end) {
      for (std::int64_t u = begin; u < end; ++u) {
        const std::int64_t i_end = (u + 1) * chunk < n_ ? (u + 1) * chunk : n_;
        for (std::int64_t i = u * chunk; i < i_end; ++i) {
          const cell_basis c = on_cell(base(i), i == n_ - 1);
          for (int q = 0; q < 4; ++q) {
            value_[4 * i + q] = c.value[q];
            second_[4 * i + q] = c.second[q];
          }
        }
      }
    };
    if (run_units(threader, (n_ + chunk - 1) / chunk, 16 * n_, sites) != QRX_DF_STATUS_OK) return;
    auto rows = [&](std::int64_t begin, std::int64_t end) {
      for (std::int64_t u = begin; u < end; ++u) {
        const std::int64_t a_end = (u + 1) * chunk < size_ ? (u + 1) * chunk : size_;
        for (std::int64_t a = u * chunk; a < a_end; ++a) {
          for (int d = 0; d < 4; ++d) gather_row(a, d);
        }
      }
    };
    if (run_units(threader, (size_ + chunk - 1) / chunk, 16 * size_, rows) != QRX_DF_STATUS_OK) return;
    for (std::int64_t a = 0; a < size_; ++a) {
      trace_g_ += g_[0][a];
      trace_omega_ += omega_[0][a];
    }
    tables_ok_ = true;
  }

  std::int64_t n_;
  std::int64_t size_;
  work_buffer buffer_;
  double* w_ = nullptr;
  double* width_ = nullptr;
  double* reciprocal_ = nullptr;
  double* value_ = nullptr;
  double* second_ = nullptr;
  double* g_[4] = {};
  double* omega_[4] = {};
  double length_ = 0.0;
  double trace_g_ = 0.0;
  double trace_omega_ = 0.0;
  std::int64_t positive_ = 0;
  bool tables_ok_ = false;
};

}  // namespace qrx_df
