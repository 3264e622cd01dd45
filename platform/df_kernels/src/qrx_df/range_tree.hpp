#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>

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

// Direction of cell k's piece (width h, end value `end`): 1 when it rises,
// its slope nowhere negative on [0, h] (at both ends and at the slope's own
// turning point) and its end above its start; -1 when it falls; 0 otherwise
// (NaN included). A function whose every piece rises (falls) is strictly
// monotone: each level has at most one root, in the cell a search over the
// cells' starts finds.
template <typename T>
int cell_direction(const T* c, std::int64_t order, T h, T end) {
  const level_piece<T> p{c, order, c[0]};
  auto slopes_keep_sign = [&](T sign) {
    if (!(sign * c[1] >= T(0)) || !(sign * p.slope(h) >= T(0))) return false;
    if (order == 2 || c[3] == T(0)) return true;
    const T turn = -c[2] / (T(3) * c[3]);
    return !(turn > T(0) && turn < h) || sign * p.slope(turn) >= T(0);
  };
  if (c[0] < end && slopes_keep_sign(T(1))) return 1;
  if (c[0] > end && slopes_keep_sign(T(-1))) return -1;
  return 0;
}

template <typename T>
std::int32_t build_range_tree(const cell_locator<T>& loc, T* const* coeffs, std::int64_t ny, std::int64_t order,
                              T* tree, const qrx_df_threader_block* threader) {
  const std::int64_t nc = loc.nx - 1;
  const std::int64_t leaves = qrx_df_range_tree_leaves(loc.nx);
  const std::int64_t blocks = (nc + QRX_DF_RANGE_TREE_BLOCK - 1) / QRX_DF_RANGE_TREE_BLOCK;
  constexpr std::int64_t leaves_per_unit = 64;
  const std::int64_t units_per_function = (leaves + leaves_per_unit - 1) / leaves_per_unit;
  // Each leaf's direction (as cell_direction, 2 for a leaf without cells),
  // combined per function into node 0.
  std::unique_ptr<std::int8_t[]> held(new (std::nothrow) std::int8_t[static_cast<std::size_t>(ny * leaves)]);
  if (!held) return QRX_DF_STATUS_BAD_ALLOC;
  std::int8_t* const directions = held.get();
  auto leaf_ranges = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t u = begin; u < end; ++u) {
      const std::int64_t j = u / units_per_function;
      const std::int64_t l0 = (u % units_per_function) * leaves_per_unit;
      const std::int64_t l1 = std::min(leaves, l0 + leaves_per_unit);
      const T* c = coeffs[j];
      T* node = tree + 2 * j * 2 * leaves;
      for (std::int64_t l = l0; l < l1; ++l) {
        value_range<T> r;
        int direction = 2;  // not yet known: a leaf without cells takes any
        if (l < blocks) {
          const std::int64_t k1 = std::min(nc, (l + 1) * QRX_DF_RANGE_TREE_BLOCK);
          for (std::int64_t k = l * QRX_DF_RANGE_TREE_BLOCK; k < k1; ++k) {
            const T* p = c + k * order;
            const T h = loc.width(k);
            const T* next = k + 1 < nc ? p + order : nullptr;
            r.add(cell_range(p, order, h, next));
            const int d = cell_direction(p, order, h, next != nullptr ? next[0] : level_piece<T>{p, order, p[0]}.value(h));
            direction = direction == 2 || direction == d ? d : 0;
          }
        }
        node[2 * (leaves + l)] = r.lo;
        node[2 * (leaves + l) + 1] = r.hi;
        directions[j * leaves + l] = static_cast<std::int8_t>(direction);
      }
    }
  };
  std::int32_t status = run_units(threader, ny * units_per_function, ny * nc * 4, leaf_ranges);
  auto inner = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t j = begin; j < end; ++j) {
      T* node = tree + 2 * j * 2 * leaves;
      int direction = 2;
      for (std::int64_t l = 0; l < leaves; ++l) {
        const int d = directions[j * leaves + l];
        if (d != 2) direction = direction == 2 || direction == d ? d : 0;
      }
      node[0] = static_cast<T>(direction == 2 ? 0 : direction);
      node[1] = -std::numeric_limits<T>::infinity();  // unused
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
