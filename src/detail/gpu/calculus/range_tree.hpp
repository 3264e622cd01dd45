#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/calculus/calculus_args.hpp"
#include "detail/gpu/calculus/cell_polynomial.hpp"
#include "detail/gpu/calculus/critical_points.hpp"
#include "detail/gpu/calculus/range_tree_shape.hpp"
#include "detail/gpu/interpolate/cell_search.hpp"
#include "detail/gpu/launch_range.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Per function, a complete binary tree of value ranges: leaf l holds
// [min, max] of the function over the cells of block l (range_tree_block
// consecutive cells; the last block may be partial), padding leaves are
// empty (+inf, -inf), and each inner node is the union of its two children.
// Nodes 1 .. 2P-1, node i's children 2i and 2i+1, leaves P .. 2P-1, P the
// smallest power of two not below the number of blocks. Node i of function
// j: min at tree[(j*2P + i)*2], max right after; 2*2P*ny elements.
template <typename FpType>
struct range_tree_view {
  FpType* tree;
  std::int64_t leaves;

  FpType* node(std::int64_t j, std::int64_t i) const { return tree + (j * 2 * leaves + i) * 2; }
};

// A range that grows by values, each widened by its own rounding bound;
// NaN values are left out.
template <typename FpType>
struct value_range {
  FpType min = std::numeric_limits<FpType>::infinity();
  FpType max = -std::numeric_limits<FpType>::infinity();

  void add(FpType v, FpType rounding) {
    if (v != v) return;
    if (v - rounding < min) min = v - rounding;
    if (v + rounding > max) max = v + rounding;
  }
};

// The values a cell's roots are decided from: p at 0 and at the critical
// points (widened by their evaluation's rounding) and the value its right
// end is taken as (the next cell's c0, or p(h) on the last cell).
template <typename FpType>
void add_cell_values(value_range<FpType>& range, const cell_polynomial<FpType>& c, FpType h, FpType end_value) {
  if (c.has_nan()) return;
  const FpType eps = std::numeric_limits<FpType>::epsilon();
  range.add(c.c0, FpType(0));
  range.add(end_value, FpType(0));
  const critical_points<FpType> turns = critical_points_in(c, h);
  for (int i = 0; i < turns.count; ++i) {
    const FpType tc = turns.t[i];
    const FpType terms = sycl::fabs(c.c0) + sycl::fabs(c.c1 * tc) + sycl::fabs(c.c2 * tc * tc) +
                         sycl::fabs(c.c3 * tc * tc * tc);
    range.add(c.value(tc), FpType(4) * eps * terms);
  }
}

// Cell k's polynomial, width and right-end value, as both the tree and the
// root finder take them.
template <partition_hint PH, typename FpType>
struct cell_view {
  cell_polynomial<FpType> poly;
  FpType origin;
  FpType h;
  FpType end_value;

  cell_view(const calculus_spline<FpType>& s, const FpType* coeffs, std::int64_t j, std::int64_t k) {
    poly = read_cell(s, coeffs, j, k);
    origin = cell_origin<PH>(s.partitions, s.nx, k);
    h = breakpoint<PH>(s.partitions, s.nx, k + 1) - origin;
    end_value = k + 1 < s.cells() ? read_cell(s, coeffs, j, k + 1).c0 : poly.value(h);
  }
};

template <typename FpType, partition_hint PH>
class range_tree_leaves_kernel;
template <typename FpType>
class range_tree_level_kernel;

// Submits the leaves, then one kernel per level of inner nodes, after
// `dependencies`; returns the root level's event.
template <typename FpType, partition_hint PH>
sycl::event build_range_tree(sycl::queue& queue, const calculus_spline<FpType>& spline, FpType* tree,
                             const std::vector<sycl::event>& dependencies) {
  const range_tree_shape shape = range_tree_shape::of(spline.cells());
  const range_tree_view<FpType> view{tree, shape.leaves};
  const calculus_spline<FpType> s = spline;
  const std::int64_t leaves = shape.leaves, blocks = shape.blocks;
  sycl::event event = queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    cgh.parallel_for<range_tree_leaves_kernel<FpType, PH>>(
        checked_launch_range(spline.ny, leaves), [=](sycl::item<1> item) {
          if (s.construction_refused()) return;
          const auto w = static_cast<std::int64_t>(item.get_linear_id());
          const std::int64_t j = w / leaves, l = w % leaves;
          value_range<FpType> range;
          if (l < blocks) {
            const FpType* coeffs = *s.coeffs;
            const std::int64_t first = l * range_tree_block;
            const std::int64_t last = first + range_tree_block < s.cells() ? first + range_tree_block : s.cells();
            for (std::int64_t k = first; k < last; ++k) {
              const cell_view<PH, FpType> cell(s, coeffs, j, k);
              add_cell_values(range, cell.poly, cell.h, cell.end_value);
            }
          }
          FpType* node = view.node(j, leaves + l);
          node[0] = range.min;
          node[1] = range.max;
        });
  });
  for (std::int64_t level = leaves / 2; level >= 1; level /= 2) {
    event = queue.submit([&](sycl::handler& cgh) {
      cgh.depends_on(event);
      cgh.parallel_for<range_tree_level_kernel<FpType>>(
          checked_launch_range(spline.ny, level), [=](sycl::item<1> item) {
            if (s.construction_refused()) return;
            const auto w = static_cast<std::int64_t>(item.get_linear_id());
            const std::int64_t j = w / level, i = level + w % level;
            const FpType* left = view.node(j, 2 * i);
            const FpType* right = view.node(j, 2 * i + 1);
            FpType* node = view.node(j, i);
            node[0] = left[0] < right[0] ? left[0] : right[0];
            node[1] = left[1] > right[1] ? left[1] : right[1];
          });
    });
  }
  return event;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
