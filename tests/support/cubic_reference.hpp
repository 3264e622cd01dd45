#pragma once

// Reference slopes of the cubic kinds built from values alone, written in
// double precision from the textbook formulations (the C2 spline from its
// second-derivative equations, solved densely with pivoting), independent
// of the library's own formulas. Shared by the kernel-library and the
// back-end suites.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace cubic_reference {

// Spline types and boundary-condition kinds, by the values the kernels and
// the public bc_type use.
constexpr std::int64_t natural = 2, hyman = 9, akima = 5, bessel = 4, default_cubic = 0, pchip = 10, makima = 11,
                       steffen = 12;
constexpr std::int64_t periodic = 64, not_a_knot = 256;


inline std::vector<double> secants_of(const std::vector<double>& x, const std::vector<double>& y) {
  std::vector<double> s(x.size() - 1);
  for (std::size_t k = 0; k < s.size(); ++k) s[k] = (y[k + 1] - y[k]) / (x[k + 1] - x[k]);
  return s;
}

// Slope at t of the parabola through three points (Lagrange form).
inline double parabola_slope(double t, double xa, double ya, double xb, double yb, double xc, double yc) {
  return ya * (2 * t - xb - xc) / ((xa - xb) * (xa - xc)) + yb * (2 * t - xa - xc) / ((xb - xa) * (xb - xc)) +
         yc * (2 * t - xa - xb) / ((xc - xa) * (xc - xb));
}

using sparse_row = std::vector<std::pair<std::size_t, double>>;

// Dense elimination with partial pivoting for small systems; long ones must
// be tridiagonal and get the Thomas algorithm.
inline std::vector<double> solve(const std::vector<sparse_row>& rows, std::vector<double> f) {
  const std::size_t n = rows.size();
  if (n > 80) {
    std::vector<double> a(n), b(n), c(n);
    for (std::size_t i = 0; i < n; ++i) {
      for (auto [col, v] : rows[i]) (col + 1 == i ? a : col == i ? b : c)[i] = v;
    }
    for (std::size_t i = 1; i < n; ++i) {
      const double w = a[i] / b[i - 1];
      b[i] -= w * c[i - 1];
      f[i] -= w * f[i - 1];
    }
    for (std::size_t i = n; i-- > 0;) f[i] = (f[i] - (i + 1 < n ? c[i] * f[i + 1] : 0)) / b[i];
    return f;
  }
  std::vector<std::vector<double>> A(n, std::vector<double>(n, 0.0));
  for (std::size_t i = 0; i < n; ++i) {
    for (auto [col, v] : rows[i]) A[i][col] += v;
  }
  for (std::size_t p = 0; p < n; ++p) {
    std::size_t best = p;
    for (std::size_t i = p + 1; i < n; ++i) best = std::fabs(A[i][p]) > std::fabs(A[best][p]) ? i : best;
    std::swap(A[p], A[best]);
    std::swap(f[p], f[best]);
    for (std::size_t i = p + 1; i < n; ++i) {
      const double w = A[i][p] / A[p][p];
      for (std::size_t q = p; q < n; ++q) A[i][q] -= w * A[p][q];
      f[i] -= w * f[p];
    }
  }
  for (std::size_t i = n; i-- > 0;) {
    for (std::size_t q = i + 1; q < n; ++q) f[i] -= A[i][q] * f[q];
    f[i] /= A[i][i];
  }
  return f;
}

// Second derivatives M_0..M_m of the C2 cubic through the data: continuity
// of the first derivative at interior breakpoints, end rows from the kind.
inline std::vector<double> natural_moments(const std::vector<double>& x, const std::vector<double>& y, std::int64_t bc,
                                    double left, double right) {
  const std::size_t m = x.size() - 1;
  const std::vector<double> s = secants_of(x, y);
  auto h = [&](std::size_t k) { return x[k + 1] - x[k]; };
  std::vector<sparse_row> rows(m + 1);
  std::vector<double> f(m + 1, 0.0);
  for (std::size_t i = 1; i < m; ++i) {
    rows[i] = {{i - 1, h(i - 1)}, {i, 2 * (h(i - 1) + h(i))}, {i + 1, h(i)}};
    f[i] = 6 * (s[i] - s[i - 1]);
  }
  if (bc == periodic) {  // equal slopes and moments at the two ends
    rows[0] = {{0, 2 * h(0)}, {1, h(0)}, {m - 1, h(m - 1)}, {m, 2 * h(m - 1)}};
    f[0] = 6 * (s[0] - s[m - 1]);
    rows[m] = {{m, 1.0}, {0, -1.0}};
    return solve(rows, f);
  }
  if (bc == not_a_knot) {  // equal third derivatives around x_1 and x_{m-1}
    rows[0] = {{0, h(1)}, {1, -(h(0) + h(1))}, {2, h(0)}};
    rows[m] = {{m - 2, h(m - 1)}, {m - 1, -(h(m - 2) + h(m - 1))}, {m, h(m - 2)}};
    return solve(rows, f);
  }
  rows[0] = {{0, 1.0}};
  if (bc & 4) rows[0] = {{0, 2 * h(0)}, {1, h(0)}}, f[0] = 6 * (s[0] - left);
  if (bc & 16) f[0] = left;
  rows[m] = {{m, 1.0}};
  if (bc & 8) rows[m] = {{m - 1, h(m - 1)}, {m, 2 * h(m - 1)}}, f[m] = 6 * (right - s[m - 1]);
  if (bc & 32) f[m] = right;
  return solve(rows, f);
}

// Slopes at the left and the right end of every cell.
using end_slopes = std::vector<std::pair<double, double>>;

inline end_slopes slopes_from_moments(const std::vector<double>& x, const std::vector<double>& y,
                               const std::vector<double>& M) {
  const std::vector<double> s = secants_of(x, y);
  end_slopes d(s.size());
  for (std::size_t k = 0; k < s.size(); ++k) {
    const double h = x[k + 1] - x[k];
    d[k] = {s[k] - h * (2 * M[k] + M[k + 1]) / 6, s[k] + h * (M[k] + 2 * M[k + 1]) / 6};
  }
  return d;
}

// The cells' end slopes the kind gives the data. ic: interior moments of a
// default cubic.
inline end_slopes reference_slopes(std::int64_t type, std::int64_t bc, const std::vector<double>& x,
                            const std::vector<double>& y, double left, double right, const std::vector<double>& ic) {
  const std::size_t m = x.size() - 1;
  const std::vector<double> s = secants_of(x, y);
  auto parabola_at = [&](std::size_t i, std::size_t first) {
    return parabola_slope(x[i], x[first], y[first], x[first + 1], y[first + 1], x[first + 2], y[first + 2]);
  };
  std::vector<double> d(m + 1);
  auto h = [&](std::size_t k) { return x[k + 1] - x[k]; };
  auto sgn = [](double v) { return double((v > 0) - (v < 0)); };
  if (type == akima || type == makima) {
    std::vector<double> e(m + 4);  // e[k + 2] = s_k, k in [-2, m + 1]
    std::copy(s.begin(), s.end(), e.begin() + 2);
    e[1] = 2 * e[2] - e[3], e[0] = 2 * e[1] - e[2];
    e[m + 2] = 2 * e[m + 1] - e[m], e[m + 3] = 2 * e[m + 2] - e[m + 1];
    for (std::size_t i = 0; i <= m; ++i) {
      double wl = std::fabs(e[i + 3] - e[i + 2]), wr = std::fabs(e[i + 1] - e[i]);
      if (type == makima) wl += std::fabs(e[i + 3] + e[i + 2]) / 2, wr += std::fabs(e[i + 1] + e[i]) / 2;
      const double fallback = type == akima ? (e[i + 1] + e[i + 2]) / 2 : 0;
      d[i] = wl + wr == 0 ? fallback : (wl * e[i + 1] + wr * e[i + 2]) / (wl + wr);
    }
  } else if (type == pchip) {  // Fritsch-Butland weighted harmonic means; three-point ends, limited
    for (std::size_t i = 1; i < m; ++i) {
      const double w1 = 2 * h(i) + h(i - 1), w2 = h(i) + 2 * h(i - 1);
      d[i] = s[i - 1] * s[i] <= 0 ? 0 : (w1 + w2) / (w1 / s[i - 1] + w2 / s[i]);
    }
    auto end = [&](double h0, double h1, double m0, double m1) {
      const double e = ((2 * h0 + h1) * m0 - h0 * m1) / (h0 + h1);
      if (sgn(e) != sgn(m0)) return 0.0;
      if (sgn(m0) != sgn(m1) && std::fabs(e) > 3 * std::fabs(m0)) return 3 * m0;
      return e;
    };
    d[0] = end(h(0), h(1), s[0], s[1]);
    d[m] = end(h(m - 1), h(m - 2), s[m - 1], s[m - 2]);
  } else if (type == steffen) {  // the parabola's slope, limited; the end secants at the ends
    for (std::size_t i = 1; i < m; ++i) {
      const double p = (s[i - 1] * h(i) + s[i] * h(i - 1)) / (h(i - 1) + h(i));
      d[i] = (sgn(s[i - 1]) + sgn(s[i])) * std::min({std::fabs(s[i - 1]), std::fabs(s[i]), std::fabs(p) / 2});
    }
    d[0] = s[0];
    d[m] = s[m - 1];
  } else if (type == bessel || (bc == not_a_knot && m == 2)) {
    for (std::size_t i = 0; i <= m; ++i) d[i] = parabola_at(i, std::clamp<std::size_t>(i, 1, m - 1) - 1);
  } else if (type == default_cubic) {
    // End moments: zero (free), given, or the ones that give the end cell
    // the slope asked for (periodic: the left value at both ends); without
    // an end rule the end cell is a quadratic.
    std::vector<double> M(m + 1);
    std::copy(ic.begin(), ic.end(), M.begin() + 1);
    M[0] = M[1];
    M[m] = M[m - 1];
    if (bc == 2) M[0] = M[m] = 0;
    if (bc & 16) M[0] = left;
    if (bc & 32) M[m] = right;
    const double dr = bc == periodic ? left : right, h0 = x[1] - x[0], hm = x[m] - x[m - 1];
    if ((bc & 4) || bc == periodic) M[0] = (6 * (s[0] - left) / h0 - M[1]) / 2;
    if ((bc & 8) || bc == periodic) M[m] = (6 * (dr - s[m - 1]) / hm - M[m - 1]) / 2;
    return slopes_from_moments(x, y, M);
  } else {
    const end_slopes cells = slopes_from_moments(x, y, natural_moments(x, y, bc, left, right));
    for (std::size_t k = 0; k < m; ++k) d[k] = cells[k].first;
    d[m] = cells[m - 1].second;
  }
  if (bc == 12 && type != natural && type != hyman && type != default_cubic) {
    d[0] = left;
    d[m] = right;
  }
  if (type == hyman) {  // zero at extrema, else at most three times the smaller neighbouring secant
    for (std::size_t i = 0; i <= m; ++i) {
      double a = i > 0 ? s[i - 1] : s[0], b = i < m ? s[i] : s[m - 1];  // an end has one secant
      if (bc == periodic && (i == 0 || i == m)) a = s[m - 1], b = s[0];
      const bool same_way = a * b > 0 && d[i] * a > 0;
      d[i] = same_way ? std::copysign(std::min(std::fabs(d[i]), 3 * std::min(std::fabs(a), std::fabs(b))), a) : 0;
    }
  }
  end_slopes cells(m);
  for (std::size_t k = 0; k < m; ++k) cells[k] = {d[k], d[k + 1]};
  return cells;
}

}  // namespace cubic_reference
