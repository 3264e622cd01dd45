#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "qrx_df/cell_locator.hpp"
#include "qrx_df/cell_roots.hpp"
#include "qrx_df/isa.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace qrx_df {

// The inverse of one function whose every piece rises (or falls): node 0 of
// its range tree is the direction, 1 or -1. A level's only possible cell is
// the last whose start is not beyond the level (in the direction), found by
// a search down the tree to one leaf and a bisection over the starts of the
// leaf's cells and the next leaf's first (a leaf's range includes that
// start). The searches of a chunk of levels go down in lockstep, one step
// for every level before the next step, so the loads of many levels overlap
// instead of each level waiting on its own chain of loads.
template <typename T>
struct monotone_inverse {
  static constexpr std::int64_t chunk = 64;

  const cell_locator<T>* loc;
  const T* c;  // the function's pieces
  const T* tree;
  std::int64_t nc;  // cells
  std::int64_t leaves;

  // Whether u comes strictly before v along the function's values: below
  // it when rising, above it when falling.
  template <bool Rising>
  static bool before(T u, T v) {
    return Rising ? u < v : u > v;
  }

  // cells[i] for the m <= chunk levels y: the cell that may hold y[i], or -1
  // where no cell can: before the first start (in the direction), NaN or
  // infinite.
  template <int Order, bool Rising>
  void locate(const T* y, std::int64_t m, std::int64_t* cells) const {
    // Down to the leaf whose range is the first to reach y: left while y is
    // not beyond the left child's range (its top when rising, its bottom
    // when falling). The steps are the same for every level, so each step
    // goes over the chunk before the next.
    std::int64_t at[chunk];
    for (std::int64_t i = 0; i < m; ++i) at[i] = 1;
    for (std::int64_t width = 1; width < leaves; width *= 2) {
      for (std::int64_t i = 0; i < m; ++i) {
        const T bound = tree[4 * at[i] + (Rising ? 1 : 0)];  // the left child, node 2 at[i]: [lo, hi]
        at[i] = 2 * at[i] + static_cast<std::int64_t>(before<Rising>(bound, y[i]));
      }
    }
    // Then the last of the leaf's starts and the next leaf's first not
    // beyond y, by halving: six halvings take any length up to 33 to one,
    // and a finished search (length one) halves by zero and stays.
    const std::int64_t blocks = (nc + QRX_DF_RANGE_TREE_BLOCK - 1) / QRX_DF_RANGE_TREE_BLOCK;
    std::int64_t len[chunk];
    for (std::int64_t i = 0; i < m; ++i) {
      const std::int64_t leaf = std::min(at[i] - leaves, blocks - 1);
      at[i] = leaf * QRX_DF_RANGE_TREE_BLOCK;
      len[i] = std::min(nc - at[i], std::int64_t{QRX_DF_RANGE_TREE_BLOCK} + 1);
    }
    for (int step = 0; step < 6; ++step) {
      for (std::int64_t i = 0; i < m; ++i) {
        const std::int64_t half = len[i] >> 1;
        const bool stay = before<Rising>(y[i], c[(at[i] + half) * Order]);
        at[i] += half * static_cast<std::int64_t>(!stay);
        len[i] -= half;
      }
    }
    for (std::int64_t i = 0; i < m; ++i) {
      const bool finite = std::fabs(y[i]) <= std::numeric_limits<T>::max();
      cells[i] = before<Rising>(y[i], c[0]) || !finite ? -1 : at[i];
    }
  }
};

// The pieces of a chunk of levels' cells, one lane a level, as arrays the
// compiler vectorises: g(t) = a0 + a1 t + a2 t^2 + a3 t^3 = p(t) - y (a2 =
// a3 = 0 for a linear piece, which leaves its values and slopes as they
// are), on [0, h], and g at the right end.
template <typename T, std::int64_t N>
struct piece_lanes {
  T a0[N], a1[N], a2[N], a3[N], h[N], right[N];
};

// A lane's flag as an integer of the element's width, so that flags and
// elements share vector lanes: 0 or 1.
template <typename T>
using lane_flag = std::conditional_t<sizeof(T) == 8, std::int64_t, std::int32_t>;

// plain[i]: whether lane i's piece is free of NaN and has no critical point
// inside (0, h), decided by the operations of critical_points (every case
// computed, then the one critical_points takes picked): such a piece is
// monotone on the whole cell, and cell_roots would not split it.
template <typename T, std::int64_t N>
void plain_lanes(const piece_lanes<T, N>& l, std::int64_t m, lane_flag<T>* plain) {
  for (std::int64_t i = 0; i < m; ++i) {
    const T h = l.h[i];
    auto inside = [h](T r) { return (r > T(0)) & (r < h); };
    const T qa = T(3) * l.a3[i], qb = T(2) * l.a2[i], qc = l.a1[i];
    const bool linear_turn = (qb != T(0)) & inside(-qc / qb);
    const T disc = qb * qb - T(4) * qa * qc;
    const bool double_turn = inside(-qb / (T(2) * qa));
    const T root = std::sqrt(disc > T(0) ? disc : T(0));
    const T q = -(qb + (qb >= T(0) ? root : -root)) * T(0.5);
    const bool two_turns = inside(q / qa) | ((q != T(0)) & inside(qc / q));
    const bool turns = qa == T(0) ? linear_turn : disc == T(0) ? double_turn : ((disc > T(0)) & two_turns);
    const bool nan = (l.a0[i] != l.a0[i]) | (l.a1[i] != l.a1[i]) | (l.a2[i] != l.a2[i]) | (l.a3[i] != l.a3[i]);
    plain[i] = !(turns | nan);
  }
}

// t[i]: level_piece::root_between(0, h, a0, right) of every lane with
// live[i], the lanes stepping together: each step is root_between's step
// with the same operations, and a lane whose root_between would return
// stops there (its t is the root) while the others go on.
template <typename T, std::int64_t N>
void root_lanes(const piece_lanes<T, N>& l, std::int64_t m, lane_flag<T>* live, T* t) {
  T lo[N], hi[N];
  lane_flag<T> negative_lo[N];
  lane_flag<T> running = 0;
  for (std::int64_t i = 0; i < m; ++i) {
    const T ga = l.a0[i], gb = l.right[i], ta = T(0), tb = l.h[i];
    lo[i] = ta;
    hi[i] = tb;
    negative_lo[i] = ga < T(0);
    const T secant = ta + (tb - ta) * (ga / (ga - gb));
    t[i] = ((secant > ta) & (secant < tb)) ? secant : ta + (tb - ta) * T(0.5);
    running |= live[i];
  }
  for (int step = 0; step < 200 && running != 0; ++step) {
    running = 0;
    for (std::int64_t i = 0; i < m; ++i) {
      const T ti = t[i];
      const T gt = ((l.a3[i] * ti + l.a2[i]) * ti + l.a1[i]) * ti + l.a0[i];
      const bool low = static_cast<lane_flag<T>>(gt < T(0)) == negative_lo[i];
      const bool run = live[i] != 0;
      const T nlo = (low & run) ? ti : lo[i];
      const T nhi = (!low & run) ? ti : hi[i];
      const T slope = (T(3) * l.a3[i] * ti + T(2) * l.a2[i]) * ti + l.a1[i];
      const T newton = ti - gt / slope;
      const T mid = nlo + (nhi - nlo) * T(0.5);
      const bool newton_inside = (newton > nlo) & (newton < nhi);
      const bool go_on = run & (gt != T(0)) & (newton_inside | ((mid > nlo) & (mid < nhi)));
      lo[i] = nlo;
      hi[i] = nhi;
      t[i] = go_on ? (newton_inside ? newton : mid) : ti;
      live[i] = go_on;
      running |= live[i];
    }
  }
}

// What invert_chunk found for a level.
enum class inverse_outcome : std::int8_t { none, root, general };

// The inverse of m <= chunk levels y of one monotone function: for each
// level its cell (cells[i], -1 for none), and either its root x[i] in that
// cell as cell_roots gives it (outcome root), no root (none), or, for a
// cell whose piece turns inside or holds NaN, nothing yet: the caller runs
// the general cell root finder on it (general).
template <typename T, int Order, bool Rising>
void invert_chunk(const monotone_inverse<T>& f, const T* y, std::int64_t m, std::int64_t* cells, T* x,
                  inverse_outcome* outcome) {
  constexpr std::int64_t chunk = monotone_inverse<T>::chunk;
  f.template locate<Order, Rising>(y, m, cells);
  piece_lanes<T, chunk> lanes{};
  T origin[chunk];
  for (std::int64_t i = 0; i < m; ++i) {
    const std::int64_t k = cells[i] >= 0 ? cells[i] : 0;  // a lane without a cell computes what it likes
    const T* p = f.c + k * Order;
    const T h = f.loc->width(k);
    const level_piece<T> g{p, Order, p[0] - y[i]};
    lanes.a0[i] = g.c0y;
    lanes.a1[i] = p[1];
    lanes.a2[i] = Order == 4 ? p[2] : T(0);
    lanes.a3[i] = Order == 4 ? p[3] : T(0);
    lanes.h[i] = h;
    lanes.right[i] = k + 1 < f.nc && p[Order] == p[Order] ? p[Order] - y[i] : g.value(h);
    origin[i] = f.loc->origin(k);
  }
  lane_flag<T> plain[chunk], live[chunk];
  plain_lanes(lanes, m, plain);
  for (std::int64_t i = 0; i < m; ++i) {
    const T a = lanes.a0[i], b = lanes.right[i];
    live[i] = (cells[i] >= 0) & (plain[i] != 0) & (((a < T(0)) & (b > T(0))) | ((a > T(0)) & (b < T(0))));
  }
  T t[chunk];
  root_lanes(lanes, m, live, t);
  // cell_roots on one piece from 0 to h, with no flat cell before it (a
  // monotone function has none): the start, a root inside, or the end of
  // the last cell.
  for (std::int64_t i = 0; i < m; ++i) {
    const T a = lanes.a0[i], b = lanes.right[i];
    const bool crossing = ((a < T(0)) & (b > T(0))) | ((a > T(0)) & (b < T(0)));
    const bool end = (cells[i] + 1 == f.nc) & (b == T(0));
    x[i] = a == T(0) ? origin[i] : origin[i] + (crossing ? t[i] : lanes.h[i]);
    outcome[i] = cells[i] < 0                       ? inverse_outcome::none
                 : plain[i] == 0                    ? inverse_outcome::general
                 : ((a == T(0)) | crossing | end) ? inverse_outcome::root
                                                    : inverse_outcome::none;
  }
}

template <typename T>
using invert_chunk_fn = void (*)(const monotone_inverse<T>&, const T*, std::int64_t, std::int64_t*, T*,
                                 inverse_outcome*);

#if QRX_DF_HAVE_AVX2_VARIANT
template <typename T, int Order, bool Rising>
QRX_DF_TARGET_AVX2 void invert_chunk_avx2(const monotone_inverse<T>& f, const T* y, std::int64_t m,
                                          std::int64_t* cells, T* x, inverse_outcome* outcome) {
  invert_chunk<T, Order, Rising>(f, y, m, cells, x, outcome);
}
#endif
#if QRX_DF_HAVE_AVX512_VARIANT
template <typename T, int Order, bool Rising>
QRX_DF_TARGET_AVX512 void invert_chunk_avx512(const monotone_inverse<T>& f, const T* y, std::int64_t m,
                                              std::int64_t* cells, T* x, inverse_outcome* outcome) {
  invert_chunk<T, Order, Rising>(f, y, m, cells, x, outcome);
}
#endif

template <typename T, int Order, bool Rising>
invert_chunk_fn<T> invert_chunk_variant(isa target) {
  switch (target) {
#if QRX_DF_HAVE_AVX512_VARIANT
    case isa::avx512:
      return &invert_chunk_avx512<T, Order, Rising>;
#endif
#if QRX_DF_HAVE_AVX2_VARIANT
    case isa::avx2:
      return &invert_chunk_avx2<T, Order, Rising>;
#endif
    default:
      return &invert_chunk<T, Order, Rising>;
  }
}

// The variant for a function of the given order and direction.
template <typename T>
invert_chunk_fn<T> choose_invert_chunk(isa target, std::int64_t order, bool rising) {
  if (order == 4) return rising ? invert_chunk_variant<T, 4, true>(target) : invert_chunk_variant<T, 4, false>(target);
  return rising ? invert_chunk_variant<T, 2, true>(target) : invert_chunk_variant<T, 2, false>(target);
}

}  // namespace qrx_df
