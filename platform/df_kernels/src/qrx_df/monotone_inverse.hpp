#pragma once

#include <algorithm>
#include <cstdint>

#include "qrx_df/cell_locator.hpp"
#include "qrx_df/cell_roots.hpp"
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
  std::int64_t order;
  std::int64_t nc;  // cells
  std::int64_t leaves;

  T direction() const { return tree[0]; }

  // cells[i] for the m <= chunk levels y: the cell that may hold y[i], or -1
  // where no cell can: before the first start (in the direction), or NaN.
  void locate(const T* y, std::int64_t m, std::int64_t* cells) const {
    const bool rising = direction() > T(0);
    if (order == 4) {
      rising ? locate<4, true>(y, m, cells) : locate<4, false>(y, m, cells);
    } else {
      rising ? locate<2, true>(y, m, cells) : locate<2, false>(y, m, cells);
    }
  }

  // Whether u comes strictly before v along the function's values: below
  // it when rising, above it when falling.
  template <bool Rising>
  static bool before(T u, T v) {
    return Rising ? u < v : u > v;
  }

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
    for (std::int64_t i = 0; i < m; ++i) cells[i] = before<Rising>(y[i], c[0]) || y[i] != y[i] ? -1 : at[i];
  }

  // Whether cell k's piece (width h) is free of NaN and has no critical
  // point inside the cell, decided as critical_points decides it (the same
  // operations): such a cell is one monotone piece, whose root needs no
  // splitting.
  bool plain(std::int64_t k, T h) const {
    const T* p = c + k * order;
    if (has_nan(p, order)) return false;
    if (order == 2) return true;
    const T qa = T(3) * p[3], qb = T(2) * p[2], qc = p[1];
    auto inside = [h](T r) { return r > T(0) && r < h; };
    if (qa == T(0)) return qb == T(0) || !inside(-qc / qb);
    const T disc = qb * qb - T(4) * qa * qc;
    if (disc < T(0)) return true;
    if (disc == T(0)) return !inside(-qb / (T(2) * qa));
    const T root = std::sqrt(disc);
    const T q = qb >= T(0) ? -(qb + root) * T(0.5) : -(qb - root) * T(0.5);
    return !inside(q / qa) && (q == T(0) || !inside(qc / q));
  }
};

}  // namespace qrx_df
