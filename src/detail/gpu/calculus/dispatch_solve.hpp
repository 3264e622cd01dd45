#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/calculus/calculus_args.hpp"
#include "detail/gpu/calculus/range_tree_shape.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Elements of the range tree of nx breakpoints and ny functions.
inline std::int64_t range_tree_elements(std::int64_t nx, std::int64_t ny) {
  return range_tree_shape::of(nx - 1).elements(ny);
}

// Submits the build of the range tree at `tree` after `dependencies` for
// the partition `layout`; returns its last event. Throws sycl::exception
// (errc::nd_range) for 2^31 work-items or more.
template <typename FpType>
sycl::event dispatch_range_tree(sycl::queue& queue, const calculus_spline<FpType>& spline, partition_hint layout,
                                FpType* tree, const std::vector<sycl::event>& dependencies);

// Submits one work-item per (function, level) writing counts[j*n + i] and
// up to max_roots roots at roots[(j*n + i)*max_roots], after
// `dependencies`, which must include the tree's build. n = 0 submits a
// command group without work.
template <typename FpType>
sycl::event dispatch_solve(sycl::queue& queue, const calculus_spline<FpType>& spline, partition_hint layout,
                           const FpType* tree, const FpType* levels, std::int64_t n, FpType* roots,
                           std::int64_t* counts, std::int64_t max_roots, const std::vector<sycl::event>& dependencies);

}  // namespace velora::qrx::experimental::data_fitting::detail
