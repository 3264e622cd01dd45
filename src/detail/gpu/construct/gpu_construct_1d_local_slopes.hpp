#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/construct/construct_args.hpp"
#include "detail/gpu/construct/function_knots.hpp"
#include "detail/gpu/construct/hermite_cell.hpp"
#include "detail/gpu/construct/local_slopes.hpp"
#include "detail/gpu/construct/submit_per_cell.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename T, partition_hint PartHint, function_hint FuncHint, local_slope_rule Rule>
class local_slopes_construct_kernel;

// Work-item g of a construction whose slopes follow a local rule:
// function j finds the slopes at both ends of cell k from the neighbouring
// secants and writes the cubic Hermite cell. With given_ends the boundary
// values (left, right) are the slopes at x[0] and x[nx - 1] instead of the
// rule's own.
template <partition_hint PartHint, function_hint FuncHint, local_slope_rule Rule, typename T>
void local_slopes_cell(const construct_args<T>& a, bool given_ends, std::int64_t g) {
  const function_and_cell at(g, a.cells());
  const std::int64_t k = at.k;
  const auto f = knots_of<PartHint, FuncHint>(a, at.j);
  T dl, dr;
  cell_slopes<Rule>(f, k, dl, dr);
  if (given_ends) {
    if (k == 0) dl = a.left_value;
    if (k == a.cells() - 1) dr = a.right_value;
  }
  store_hermite_cell(*a.coeffs + (at.j * a.cells() + k) * 4, f.y(k), f.secant(k), f.r(k), dl, dr);
}

// One work-item per (function, cell).
template <typename T, partition_hint PartHint, function_hint FuncHint, local_slope_rule Rule>
sycl::event gpu_construct_1d_local_slopes(sycl::queue& queue, const construct_args<T>& args, bool given_ends,
                                          const std::vector<sycl::event>& dependencies) {
  return submit_per_cell<local_slopes_construct_kernel<T, PartHint, FuncHint, Rule>>(
      queue, args, dependencies,
      [a = args, given = given_ends](std::int64_t g) { local_slopes_cell<PartHint, FuncHint, Rule>(a, given, g); });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
