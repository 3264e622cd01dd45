#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "qrx_df/cell_locator.hpp"
#include "qrx_df/cell_roots.hpp"
#include "qrx_df/parallel.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace qrx_df {

// The range tree of the solve kernels (layout in df_kernels.h): per
// function, leaves of QRX_DF_RANGE_TREE_BLOCK cells holding the range of
// the pieces' values (at the cell ends, the next cell's start and the
// interior critical points, each widened by the rounding bound of its
// evaluation, NaN ignored), and above them the union of the children.

template <typename T>
struct value_range {
  T lo = std::numeric_limits<T>::infinity();
  T hi = -std::numeric_limits<T>::infinity();

  void add(T v, T rounding) {
    if (v != v) return;
    lo = std::min(lo, v - rounding);
    hi = std::max(hi, v + rounding);
  }
  void add(const value_range& r) {
    lo = std::min(lo, r.lo);
    hi = std::max(hi, r.hi);
  }
  // Whether the level may be reached: the range widened by a few roundings
  // of its magnitude and of the level's.
  bool holds(T y) const {
    if (!(lo <= hi)) return false;
    const T w = T(2) * root_rounding<T> * (std::max(std::fabs(lo), std::fabs(hi)) + std::fabs(y));
    return y >= lo - w && y <= hi + w;
  }
};

// Values of cell k of one function's pieces c, with the next cell's start.
template <typename T>
value_range<T> cell_range(const T* c, std::int64_t order, T h, const T* next) {
  value_range<T> r;
  const level_piece<T> p{c, order, c[0]};
  r.add(c[0], T(0));
  r.add(p.value(h), p.rounding(h));
  if (next != nullptr) r.add(next[0], T(0));
  if (order != 2) {
    T tc[2];
    const int critical = critical_points(c, h, tc);
    for (int i = 0; i < critical; ++i) r.add(p.value(tc[i]), p.rounding(tc[i]));
  }
  return r;
}

template <typename T>
std::int32_t build_range_tree(const cell_locator<T>& loc, T* const* coeffs, std::int64_t ny, std::int64_t order,
                              T* tree, const qrx_df_threader_block* threader) {
  const std::int64_t nc = loc.nx - 1;
  const std::int64_t leaves = qrx_df_range_tree_leaves(loc.nx);
  const std::int64_t blocks = (nc + QRX_DF_RANGE_TREE_BLOCK - 1) / QRX_DF_RANGE_TREE_BLOCK;
  constexpr std::int64_t leaves_per_unit = 64;
  const std::int64_t units_per_function = (leaves + leaves_per_unit - 1) / leaves_per_unit;
  auto leaf_ranges = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t u = begin; u < end; ++u) {
      const std::int64_t j = u / units_per_function;
      const std::int64_t l0 = (u % units_per_function) * leaves_per_unit;
      const std::int64_t l1 = std::min(leaves, l0 + leaves_per_unit);
      const T* c = coeffs[j];
      T* node = tree + 2 * j * 2 * leaves;
      for (std::int64_t l = l0; l < l1; ++l) {
        value_range<T> r;
        if (l < blocks) {
          const std::int64_t k1 = std::min(nc, (l + 1) * QRX_DF_RANGE_TREE_BLOCK);
          for (std::int64_t k = l * QRX_DF_RANGE_TREE_BLOCK; k < k1; ++k) {
            r.add(cell_range(c + k * order, order, loc.width(k), k + 1 < nc ? c + (k + 1) * order : nullptr));
          }
        }
        node[2 * (leaves + l)] = r.lo;
        node[2 * (leaves + l) + 1] = r.hi;
      }
    }
  };
  std::int32_t status = run_units(threader, ny * units_per_function, ny * nc * 4, leaf_ranges);
  auto inner = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t j = begin; j < end; ++j) {
      T* node = tree + 2 * j * 2 * leaves;
      node[0] = std::numeric_limits<T>::infinity();  // unused
      node[1] = -std::numeric_limits<T>::infinity();
      for (std::int64_t i = leaves - 1; i >= 1; --i) {
        node[2 * i] = std::min(node[4 * i], node[4 * i + 2]);
        node[2 * i + 1] = std::max(node[4 * i + 1], node[4 * i + 3]);
      }
    }
  };
  if (status == QRX_DF_STATUS_OK) status = run_units(threader, ny, ny * leaves, inner);
  return status;
}

// Visits, for level y, every leaf of one function's tree whose range holds
// y, left to right: depth first from the root, without a stack (down-left
// while the range holds y, else on to the next sibling, climbing while at a
// right child).
template <typename T, typename Leaf>
void leaves_holding(const T* node, std::int64_t leaves, T y, Leaf&& leaf) {
  std::int64_t i = 1;
  for (;;) {
    const value_range<T> r{node[2 * i], node[2 * i + 1]};
    if (r.holds(y)) {
      if (i < leaves) {
        i *= 2;
        continue;
      }
      leaf(i - leaves);
    }
    while ((i & 1) != 0) i >>= 1;  // the root, 1, climbs to 0: done
    if (i == 0) return;
    ++i;
  }
}

}  // namespace qrx_df
