#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "detail/gpu/calculus/dispatch_solve.hpp"
#include "detail/gpu/calculus/range_tree.hpp"
#include "detail/gpu/calculus/solve_kernel.hpp"
#include "detail/interpolate_hints.hpp"
#include "detail/value_list.hpp"

// Definitions of the solve dispatchers; included only by the translation
// units that instantiate them.

namespace velora::qrx::experimental::data_fitting::detail {

template <typename FpType>
sycl::event dispatch_range_tree(sycl::queue& queue, const calculus_spline<FpType>& spline, partition_hint layout,
                                FpType* tree, const std::vector<sycl::event>& dependencies) {
  sycl::event event;
  select(partition_hint_list{}, layout, [&](auto ph) {
    event = build_range_tree<FpType, decltype(ph)::value>(queue, spline, tree, dependencies);
  });
  return event;
}

template <typename FpType>
sycl::event dispatch_solve(sycl::queue& queue, const calculus_spline<FpType>& spline, partition_hint layout,
                           const FpType* tree, const FpType* levels, std::int64_t n, FpType* roots,
                           std::int64_t* counts, std::int64_t max_roots, const std::vector<sycl::event>& dependencies) {
  if (n == 0) return queue.submit([&](sycl::handler& cgh) { cgh.depends_on(dependencies); });
  const range_tree_view<FpType> view{const_cast<FpType*>(tree), range_tree_shape::of(spline.cells()).leaves};
  const solve_args<FpType> args{spline, view, levels, n, roots, counts, max_roots};
  sycl::event event;
  select(partition_hint_list{}, layout,
         [&](auto ph) { event = submit_solve<FpType, decltype(ph)::value>(queue, args, dependencies); });
  return event;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
