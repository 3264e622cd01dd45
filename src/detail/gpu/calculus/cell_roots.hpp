#pragma once

#include <limits>

#include <sycl/sycl.hpp>

#include "detail/gpu/calculus/cell_polynomial.hpp"
#include "detail/gpu/calculus/critical_points.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// g(t) = p(t) - y on one cell, evaluated as the cell's polynomial with c0
// replaced by c0 - y, so that g(0) is exactly c0 - y.
template <typename FpType>
FpType level_gap(const cell_polynomial<FpType>& c, FpType c0y, FpType t) {
  return ((c.c3 * t + c.c2) * t + c.c1) * t + c0y;
}

// Whether the polynomial is the constant y throughout the cell.
template <typename FpType>
bool equals_level(const cell_polynomial<FpType>& c, FpType y) {
  return c.c1 == FpType(0) && c.c2 == FpType(0) && c.c3 == FpType(0) && c.c0 == y;
}

// The root of g in (ta, tb), where g is monotone and g(ta), g(tb) have
// strictly opposite signs (g(ta) = ga): Newton's steps while they stay
// inside the bracket, which shrinks around the root at every step, and
// bisection otherwise, until no step can move the point any more.
template <typename FpType>
FpType bracketed_root(const cell_polynomial<FpType>& c, FpType c0y, FpType ta, FpType tb, FpType ga, FpType gb) {
  FpType lo = ta, hi = tb;
  const bool negative_at_lo = ga < FpType(0);
  FpType t = ta + (tb - ta) * (ga / (ga - gb));
  if (!(t > lo && t < hi)) t = lo + (hi - lo) * FpType(0.5);
  // Bisection alone needs at most the mantissa's and the exponent's bits.
  for (int step = 0; step < 2 * std::numeric_limits<FpType>::digits + 64; ++step) {
    const FpType g = level_gap(c, c0y, t);
    if (g == FpType(0)) return t;
    if ((g < FpType(0)) == negative_at_lo) {
      lo = t;
    } else {
      hi = t;
    }
    FpType next = t - g / c.slope(t);
    if (!(next > lo && next < hi)) next = lo + (hi - lo) * FpType(0.5);
    if (!(next > lo && next < hi) || next == t) return t;
    t = next;
  }
  return t;
}

// Whether the cell cannot give a root, decided without its critical points:
// g(0) and the right end's value have the same sign and |g(0)| exceeds, with
// a margin of a few roundings, how far p can move from c0 across the cell,
// so that cell_roots would find every piece end of that sign and no
// touching point.
template <typename FpType>
bool cannot_reach_level(const cell_polynomial<FpType>& c, FpType h, FpType c0y, FpType end_gap) {
  const FpType reach = sycl::fabs(c.c1) * h + (sycl::fabs(c.c2) + sycl::fabs(c.c3) * h) * (h * h);
  const FpType margin = FpType(16) * std::numeric_limits<FpType>::epsilon() * (sycl::fabs(c0y) + reach);
  const bool same_side = (c0y > FpType(0) && end_gap > FpType(0)) || (c0y < FpType(0) && end_gap < FpType(0));
  return same_side && sycl::fabs(c0y) > reach + margin;
}

// The roots of p(t) = y on one cell [0, h], ascending, each handed to
// report(t). `end_gap` is g at the right end as sign decisions take it (the
// next cell's c0 - y, or p(h) - y on the last cell, which alone reports a
// root at t = h: `closed`). `after_flat`: the left neighbour equals y
// throughout, so the root at t = 0 belongs to the run it ends.
template <typename FpType, typename Report>
void cell_roots(const cell_polynomial<FpType>& c, FpType h, FpType y, FpType end_gap, bool closed, bool after_flat,
                Report&& report) {
  if (c.has_nan()) return;
  const FpType c0y = c.c0 - y;
  if (equals_level(c, y)) {
    if (!after_flat) report(FpType(0));
    return;
  }
  // Piece ends: 0, the critical points, h, with g at each; a critical point
  // where g is within its evaluation's rounding is a touching point, g = 0.
  const critical_points<FpType> turns = critical_points_in(c, h);
  FpType ts[4] = {FpType(0), h, h, h};
  FpType gs[4] = {c0y, end_gap, end_gap, end_gap};
  const FpType eps = std::numeric_limits<FpType>::epsilon();
  for (int i = 0; i < turns.count; ++i) {
    const FpType tc = turns.t[i];
    const FpType g = level_gap(c, c0y, tc);
    const FpType bound = FpType(4) * eps *
                         (sycl::fabs(c0y) + sycl::fabs(c.c1 * tc) + sycl::fabs(c.c2 * tc * tc) +
                          sycl::fabs(c.c3 * tc * tc * tc));
    ts[i + 1] = tc;
    gs[i + 1] = sycl::fabs(g) <= bound ? FpType(0) : g;
  }
  const int pieces = turns.count + 1;
  for (int i = 0; i < pieces; ++i) {
    const FpType ga = gs[i], gb = gs[i + 1];
    if (ga == FpType(0)) {
      if (i > 0 || !after_flat) report(ts[i]);
    } else if ((ga < FpType(0) && gb > FpType(0)) || (ga > FpType(0) && gb < FpType(0))) {
      report(bracketed_root(c, c0y, ts[i], ts[i + 1], ga, gb));
    }
  }
  if (closed && end_gap == FpType(0)) report(h);
}

}  // namespace velora::qrx::experimental::data_fitting::detail
