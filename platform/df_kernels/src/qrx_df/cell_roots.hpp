#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace qrx_df {

// The roots of one cell's piece p(t) = c0 + c1 t (+ c2 t^2 + c3 t^3) at a
// level y, t in [0, h). The cell is split at the critical points of p
// inside (0, h) into monotone pieces; a piece whose ends have strictly
// opposite signs holds one root, found by Newton's method kept inside the
// bracket (bisection where a step leaves it); an end that is exactly a root
// is reported once, as the left end of its piece. A critical point whose
// value is within the rounding of its evaluation counts as a touching
// point (a root). The right end's value is the next cell's c0 - y
// (continuity), or p(h) - y on the last cell, whose right end belongs to it.

template <typename T>
inline constexpr T root_rounding = T(4) * std::numeric_limits<T>::epsilon();

// Critical points of a cubic piece inside (0, h), ascending; their number.
template <typename T>
int critical_points(const T* c, T h, T* out) {
  const T qa = T(3) * c[3], qb = T(2) * c[2], qc = c[1];
  T r[2];
  int n = 0;
  if (qa == T(0)) {
    if (qb != T(0)) r[n++] = -qc / qb;
  } else {
    const T disc = qb * qb - T(4) * qa * qc;
    if (disc == T(0)) {
      r[n++] = -qb / (T(2) * qa);
    } else if (disc > T(0)) {
      const T root = std::sqrt(disc);
      const T q = qb >= T(0) ? -(qb + root) * T(0.5) : -(qb - root) * T(0.5);
      r[n++] = q / qa;
      if (q != T(0)) r[n++] = qc / q;
      if (n == 2 && r[1] < r[0]) {
        const T s = r[0];
        r[0] = r[1];
        r[1] = s;
      }
    }
  }
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    if (r[i] > T(0) && r[i] < h && (kept == 0 || r[i] > out[kept - 1])) out[kept++] = r[i];
  }
  return kept;
}

// g(t) = p(t) - y with c0y = c0 - y, and its rounding bound.
template <typename T>
struct level_piece {
  const T* c;
  std::int64_t order;
  T c0y;

  T value(T t) const {
    if (order == 2) return c[1] * t + c0y;
    return ((c[3] * t + c[2]) * t + c[1]) * t + c0y;
  }
  T slope(T t) const {
    if (order == 2) return c[1];
    return (T(3) * c[3] * t + T(2) * c[2]) * t + c[1];
  }
  T rounding(T t) const {
    T s = std::fabs(c0y) + std::fabs(c[1] * t);
    if (order != 2) s += std::fabs(c[2] * t * t) + std::fabs(c[3] * t * t * t);
    return root_rounding<T> * s;
  }

  // The root in (ta, tb), where g(ta) = ga and g(tb) = gb have strictly
  // opposite signs.
  T root_between(T ta, T tb, T ga, T gb) const {
    T lo = ta, hi = tb;
    const bool negative_lo = ga < T(0);
    T t = ta + (tb - ta) * (ga / (ga - gb));  // secant start
    if (!(t > lo && t < hi)) t = lo + (hi - lo) * T(0.5);
    for (int step = 0; step < 200; ++step) {
      const T gt = value(t);
      if (gt == T(0)) return t;
      if ((gt < T(0)) == negative_lo) {
        lo = t;
      } else {
        hi = t;
      }
      T next = t - gt / slope(t);
      if (!(next > lo && next < hi)) {
        next = lo + (hi - lo) * T(0.5);
        if (!(next > lo && next < hi)) return t;  // the bracket is down to neighbouring numbers
      }
      t = next;
    }
    return t;
  }
};

template <typename T>
bool is_flat(const T* c, std::int64_t order) {
  return c[1] == T(0) && (order == 2 || (c[2] == T(0) && c[3] == T(0)));
}

template <typename T>
bool has_nan(const T* c, std::int64_t order) {
  bool nan = c[0] != c[0] || c[1] != c[1];
  if (order != 2) nan = nan || c[2] != c[2] || c[3] != c[3];
  return nan;
}

// Reports the roots of cell c (width h) at level y through add(t), in
// ascending order. right: g at the right end; last: the cell includes its
// right end; after_flat: the cell on the left equals y throughout (its
// run's root is already reported, so t = 0 is not one more).
template <typename T, typename Add>
void cell_roots(const T* c, std::int64_t order, T h, T right, bool last, bool after_flat, T y, Add&& add) {
  if (has_nan(c, order)) return;
  const level_piece<T> g{c, order, c[0] - y};
  if (is_flat(c, order)) {
    if (g.c0y == T(0) && !after_flat) add(T(0));
    return;
  }
  T at[4];
  T value[4];
  int points = 0;
  at[points] = T(0);
  value[points++] = g.c0y;
  if (order != 2) {
    T tc[2];
    const int critical = critical_points(c, h, tc);
    for (int i = 0; i < critical; ++i) {
      const T v = g.value(tc[i]);
      at[points] = tc[i];
      value[points++] = std::fabs(v) <= g.rounding(tc[i]) ? T(0) : v;  // touching point
    }
  }
  at[points] = h;
  value[points++] = right;
  for (int i = 0; i + 1 < points; ++i) {
    const T ga = value[i], gb = value[i + 1];
    if (ga == T(0)) {
      if (i > 0 || !after_flat) add(at[i]);
    } else if ((ga < T(0) && gb > T(0)) || (ga > T(0) && gb < T(0))) {
      add(g.root_between(at[i], at[i + 1], ga, gb));
    }
  }
  if (last && right == T(0)) add(h);
}

}  // namespace qrx_df
