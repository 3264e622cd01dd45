#pragma once

// The tables a smoothing spline's kernels share, in one device array: for
// the n sites their weights, cell widths and the values and second
// derivatives of the cubic B-spline basis (knots at the sites, the end
// sites four-fold, n + 2 functions; cell k carries B_k..B_{k+3}), the
// bands of G = B^T W B and of Omega (integrals of products of second
// derivatives), and a summary (length, traces, positive weights, whether
// the weights are sound). Everything is computed in double on the
// partition scaled to [0, 1], so that the penalty of a cell does not depend
// on the units of x. Both matrices are symmetric with half-bandwidth 3;
// band d of row a is the entry (a, a - d). Each entry is gathered from the
// few sites and cells that touch it, in a fixed order.

#include <cstdint>
#include <limits>

#include "data_fitting/hints.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Breakpoint widths on [0, 1] and reciprocal widths in units of x, from the
// nx listed breakpoints or, for a uniform partition, its two ends.
template <typename T, partition_hint PartHint>
struct scaled_partition {
  const T* x;
  std::int64_t n;

  static constexpr bool uniform = PartHint == partition_hint::uniform;

  double length() const { return static_cast<double>(uniform ? x[1] : x[n - 1]) - static_cast<double>(x[0]); }
  double width(std::int64_t k) const {
    if constexpr (uniform) {
      return 1.0 / static_cast<double>(n - 1);
    } else {
      return (static_cast<double>(x[k + 1]) - static_cast<double>(x[k])) / length();
    }
  }
  double reciprocal(std::int64_t k) const {
    if constexpr (uniform) {
      return static_cast<double>(n - 1) / length();
    } else {
      return 1.0 / (static_cast<double>(x[k + 1]) - static_cast<double>(x[k]));
    }
  }
  // Width of cell k, 0 outside the partition (the repeated end knots).
  double knot_step(std::int64_t k) const { return k >= 0 && k + 1 < n ? width(k) : 0.0; }
};

// The four basis functions B_k..B_{k+3} of a cell at offset s from its left
// end; o holds the knots t_{k+q} - x_k, q = 0..7. Cox-de Boor's recurrence
// for the values, the derivative formula twice for the second derivatives;
// a knot difference of zero (the four-fold ends) drops its term.
struct cell_basis {
  double value[4];
  double second[4];
};

inline double knot_ratio(double a, double d) { return d > 0 ? a / d : 0.0; }

inline cell_basis cubic_basis_on_cell(const double* o, double s) {
  double b[4][5] = {};  // b[p][q]: B_{k+q} of degree p
  b[0][3] = 1.0;
  for (int p = 1; p <= 3; ++p) {
    for (int q = 3 - p; q <= 3; ++q) {
      b[p][q] = knot_ratio(s - o[q], o[q + p] - o[q]) * b[p - 1][q] +
                knot_ratio(o[q + p + 1] - s, o[q + p + 1] - o[q + 1]) * b[p - 1][q + 1];
    }
  }
  double slope2[5] = {};  // first derivatives of degree 2, q = 1..3
  for (int q = 1; q <= 3; ++q) {
    slope2[q] = 2.0 * (knot_ratio(b[1][q], o[q + 2] - o[q]) - knot_ratio(b[1][q + 1], o[q + 3] - o[q + 1]));
  }
  cell_basis r{};
  for (int q = 0; q < 4; ++q) {
    r.value[q] = b[3][q];
    r.second[q] = 3.0 * (knot_ratio(slope2[q], o[q + 3] - o[q]) - knot_ratio(slope2[q + 1], o[q + 4] - o[q + 1]));
  }
  return r;
}

// A weight the fit accepts: finite and not negative (false for NaN).
inline bool sound_weight(double w) { return w >= 0.0 && w <= std::numeric_limits<double>::max(); }

// A view of the tables in `data` (doubles(n) entries); trivially copyable,
// so kernels capture it.
struct smoothing_tables {
  double* data;
  std::int64_t n;

  static std::int64_t doubles(std::int64_t n) { return 11 * n + 8 * (n + 2) + summary_size; }

  std::int64_t sites() const { return n; }
  std::int64_t size() const { return n + 2; }  // number of basis functions
  // Site i is evaluated on cell min(i, n - 2): B_base..B_{base+3}.
  std::int64_t base(std::int64_t i) const { return i < n - 1 ? i : n - 2; }

  double* weights() const { return data; }
  double* widths() const { return data + n; }           // on [0, 1]
  double* reciprocals() const { return data + 2 * n; }  // 1/h in units of x
  double* values(std::int64_t i) const { return data + 3 * n + 4 * i; }
  double* seconds(std::int64_t i) const { return data + 7 * n + 4 * i; }
  double* g_band(int d) const { return data + 11 * n + 2 * d * size(); }
  double* omega_band(int d) const { return data + 11 * n + (2 * d + 1) * size(); }
  double* summary() const { return data + 11 * n + 8 * size(); }

  double weight(std::int64_t i) const { return weights()[i]; }
  double width(std::int64_t k) const { return widths()[k]; }
  double reciprocal(std::int64_t k) const { return reciprocals()[k]; }
  double g(int d, std::int64_t a) const { return g_band(d)[a]; }
  double omega(int d, std::int64_t a) const { return omega_band(d)[a]; }
  double length() const { return summary()[length_slot]; }
  double positive_weights() const { return summary()[positive_slot]; }
  bool sound() const { return summary()[sound_slot] != 0.0; }
  bool factored() const { return summary()[factored_slot] != 0.0; }
  // tr(G)/tr(Omega): the lambda at which the two matrices weigh alike.
  double lambda_scale() const { return summary()[trace_g_slot] / summary()[trace_omega_slot]; }

  static constexpr int length_slot = 0, trace_g_slot = 1, trace_omega_slot = 2, positive_slot = 3, sound_slot = 4,
                       factored_slot = 5, summary_size = 6;
};

// Site i's weight, the width of cell i and the basis at site i (on the left
// end of its cell, the last site on the right end of the last cell). The
// neighbouring widths come from the partition, not from the table other
// work-items are filling.
template <typename T, partition_hint PartHint>
void fill_site(const smoothing_tables& t, const scaled_partition<T, PartHint>& x, const T* weights, std::int64_t i) {
  const std::int64_t n = t.sites();
  t.weights()[i] = weights != nullptr ? static_cast<double>(weights[i]) : 1.0;
  if (i + 1 < n) {
    t.widths()[i] = x.width(i);
    t.reciprocals()[i] = x.reciprocal(i);
  }
  const std::int64_t k = t.base(i);
  double o[8];
  o[3] = 0.0;
  o[4] = x.knot_step(k);
  o[5] = o[4] + x.knot_step(k + 1);
  o[6] = o[5] + x.knot_step(k + 2);
  o[7] = o[6] + x.knot_step(k + 3);
  o[2] = -x.knot_step(k - 1);
  o[1] = o[2] - x.knot_step(k - 2);
  o[0] = o[1] - x.knot_step(k - 3);
  const cell_basis c = cubic_basis_on_cell(o, i == n - 1 ? o[4] : 0.0);
  for (int q = 0; q < 4; ++q) {
    t.values(i)[q] = c.value[q];
    t.seconds(i)[q] = c.second[q];
  }
}

// Second derivative of B_{k+q} at the right end of cell k. Inside the
// partition the basis is C2, so it is that of the next site (B_k ends there
// with zero); the last cell's right end is the last site.
inline double right_second(const smoothing_tables& t, std::int64_t k, int q) {
  if (k + 2 < t.sites()) return q == 0 ? 0.0 : t.seconds(k + 1)[q - 1];
  return t.seconds(t.sites() - 1)[q];
}

// Row a of the four bands of G and Omega, after every site is filled.
inline void gather_band_row(const smoothing_tables& t, std::int64_t a) {
  const std::int64_t n = t.sites();
  for (int d = 0; d < 4; ++d) {
    double gsum = 0.0;
    double osum = 0.0;
    const std::int64_t first = a - 3 > 0 ? a - 3 : 0;
    const std::int64_t last = a - d < n - 2 ? a - d : n - 2;
    for (std::int64_t k = first; k <= last; ++k) {
      const int p = static_cast<int>(a - k);
      const int q = p - d;
      gsum += t.weight(k) * t.values(k)[p] * t.values(k)[q];
      const double lp = t.seconds(k)[p], lq = t.seconds(k)[q];
      const double rp = right_second(t, k, p), rq = right_second(t, k, q);
      osum += t.width(k) / 6.0 * (2.0 * lp * lq + lp * rq + rp * lq + 2.0 * rp * rq);
    }
    if (n - 2 >= a - 3 && n - 2 <= a - d) {  // the last site, on the last cell
      const int p = static_cast<int>(a - (n - 2));
      gsum += t.weight(n - 1) * t.values(n - 1)[p] * t.values(n - 1)[p - d];
    }
    t.g_band(d)[a] = gsum;
    t.omega_band(d)[a] = osum;
  }
}

// The summary, after every band row is gathered: the weights' soundness
// (finite, not negative, at least three positive), the traces summed in
// row order and the partition's length. Returns the soundness.
template <typename T, partition_hint PartHint>
bool summarise(const smoothing_tables& t, const scaled_partition<T, PartHint>& x) {
  std::int64_t positive = 0;
  bool sound = true;
  for (std::int64_t i = 0; i < t.sites(); ++i) {
    sound = sound && sound_weight(t.weight(i));
    positive += t.weight(i) > 0 ? 1 : 0;
  }
  double trace_g = 0.0;
  double trace_omega = 0.0;
  for (std::int64_t a = 0; a < t.size(); ++a) {
    trace_g += t.g(0, a);
    trace_omega += t.omega(0, a);
  }
  double* s = t.summary();
  s[smoothing_tables::length_slot] = x.length();
  s[smoothing_tables::trace_g_slot] = trace_g;
  s[smoothing_tables::trace_omega_slot] = trace_omega;
  s[smoothing_tables::positive_slot] = static_cast<double>(positive);
  s[smoothing_tables::sound_slot] = sound && positive >= 3 ? 1.0 : 0.0;
  s[smoothing_tables::factored_slot] = 0.0;
  return sound && positive >= 3;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
