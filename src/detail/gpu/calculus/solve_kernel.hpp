#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/calculus/calculus_args.hpp"
#include "detail/gpu/calculus/cell_roots.hpp"
#include "detail/gpu/calculus/range_tree.hpp"
#include "detail/gpu/launch_range.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// What the solve kernel captures.
template <typename FpType>
struct solve_args {
  calculus_spline<FpType> spline;
  range_tree_view<FpType> tree;
  const FpType* levels;
  std::int64_t n;
  FpType* roots;
  std::int64_t* counts;
  std::int64_t max_roots;
};

// Whether a node's range, widened by a few roundings of its magnitude, holds
// y. Empty nodes (+inf, -inf) hold nothing.
template <typename FpType>
bool range_holds(const FpType* node, FpType y) {
  const FpType lo = node[0], hi = node[1];
  const FpType magnitude = sycl::fabs(lo) > sycl::fabs(hi) ? sycl::fabs(lo) : sycl::fabs(hi);
  const FpType widen = FpType(8) * std::numeric_limits<FpType>::epsilon() * magnitude;
  return lo - widen <= y && y <= hi + widen;
}

// Function j and level i (w = j*n + i): the tree walked depth-first from the
// root without a stack (down-left while a node's range holds the level,
// else to the next sibling, climbing while at a right child), each leaf
// reached searched cell by cell. Roots come out ascending; the first
// max_roots are stored, all are counted.
template <partition_hint PH, typename FpType>
void solve_at(const solve_args<FpType>& a, std::int64_t w) {
  const calculus_spline<FpType>& s = a.spline;
  if (s.construction_refused()) return;
  const std::int64_t j = w / a.n, i = w % a.n;
  const FpType y = a.levels[i];
  std::int64_t count = 0;
  // A level that is not finite has no root (an infinite one would pass
  // every rounding bound, which grows with the level).
  if (y - y == FpType(0)) {
    const FpType* coeffs = *s.coeffs;
    const std::int64_t leaves = a.tree.leaves, cells = s.cells();
    FpType* const roots = a.roots + w * a.max_roots;
    const std::int64_t max_roots = a.max_roots;
    std::int64_t node = 1;
    while (node != 0) {
      if (range_holds(a.tree.node(j, node), y)) {
        if (node < leaves) {
          node *= 2;
          continue;
        }
        const std::int64_t first = (node - leaves) * range_tree_block;
        const std::int64_t last = first + range_tree_block < cells ? first + range_tree_block : cells;
        bool after_flat = first > 0 && equals_level(read_cell(s, coeffs, j, first - 1), y);
        for (std::int64_t k = first; k < last; ++k) {
          const cell_view<PH, FpType> cell(s, coeffs, j, k);
          const FpType end_gap = cell.end_value - y;
          if (!cannot_reach_level(cell.poly, cell.h, cell.poly.c0 - y, end_gap)) {
            const FpType origin = cell.origin;
            cell_roots(cell.poly, cell.h, y, end_gap, k + 1 == cells, after_flat, [&](FpType t) {
              if (count < max_roots) roots[count] = origin + t;
              ++count;
            });
          }
          after_flat = equals_level(cell.poly, y);
        }
      }
      while ((node & 1) != 0) node >>= 1;
      if (node != 0) node += 1;
    }
  }
  a.counts[w] = count;
}

template <typename FpType, partition_hint PH>
class solve_kernel;

// One work-item per (function, level), after `dependencies` (which hold the
// tree's build).
template <typename FpType, partition_hint PH>
sycl::event submit_solve(sycl::queue& queue, const solve_args<FpType>& args,
                         const std::vector<sycl::event>& dependencies) {
  const sycl::range<1> range = checked_launch_range(args.spline.ny, args.n);
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    const solve_args<FpType> a = args;
    cgh.parallel_for<solve_kernel<FpType, PH>>(range, [=](sycl::item<1> item) {
      solve_at<PH>(a, static_cast<std::int64_t>(item.get_linear_id()));
    });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
