#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/construct/construct_args.hpp"
#include "detail/gpu/construct/function_knots.hpp"
#include "detail/gpu/construct/hermite_cell.hpp"
#include "detail/gpu/construct/hermite_end_slopes.hpp"
#include "detail/gpu/construct/submit_per_cell.hpp"
#include "detail/gpu/construct/value_index.hpp"
#include "detail/gpu/launch_range.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename T, partition_hint PartHint, function_hint FuncHint>
class cubic_hermite_construct_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class hermite_periodic_check_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class hermite_own_slopes_construct_kernel;

// Work-item g of a cubic Hermite construction: function j, cell k. The
// slopes at interior breakpoints come from the internal conditions (shared
// by every function), those at x[0] and x[nx - 1] from the end rules; the
// cell is the cubic with its two values and these two slopes. Only the two
// end cells read the rules, so they are values, not template arguments.
template <partition_hint PartHint, function_hint FuncHint, typename T>
void cubic_hermite_cell(const construct_args<T>& a, end_rules ends, std::int64_t g) {
  const function_and_cell at(g, a.cells());
  const std::int64_t j = at.j, k = at.k, cells = a.cells();
  const value_index<FuncHint> index{a.nx, a.ny};
  const T* values = *a.functions;
  const T y0 = values[index(j, k)];
  const T y1 = values[index(j, k + 1)];

  cell_width<PartHint, T> width{};
  if constexpr (PartHint == partition_hint::uniform) {
    width.r = static_cast<T>(a.nx - 1) / (a.partitions[1] - a.partitions[0]);
  } else {
    width.h = a.partitions[k + 1] - a.partitions[k];
    width.r = T(1) / width.h;
  }
  const T s = (y1 - y0) * width.r;

  T dl = k >= 1 ? a.internal_conditions[k - 1] : T(0);
  T dr = k <= a.nx - 3 ? a.internal_conditions[k] : T(0);
  if (k == 0) dl = left_end_slope(ends.left, s, dr, width, a.left_value);
  if (k == cells - 1) dr = right_end_slope(ends.right, s, dl, width, a.right_value);

  store_hermite_cell(*a.coeffs + (j * cells + k) * 4, y0, s, width.r, dl, dr);
}

// Submits one command group: depends_on(dependencies), then one work-item
// per (function, cell). With periodic_flags (ny entries of host memory), a
// second command group, one work-item per function, sets flag j to 1 when
// the end values of function j differ beyond a few roundings of its largest
// magnitude, else to 0; the event is then the second one's.
template <typename T, partition_hint PartHint, function_hint FuncHint>
sycl::event gpu_construct_1d_cubic_hermite(sycl::queue& queue, const construct_args<T>& args, end_rules ends,
                                           std::int32_t* periodic_flags,
                                           const std::vector<sycl::event>& dependencies) {
  const sycl::event cells = submit_per_cell<cubic_hermite_construct_kernel<T, PartHint, FuncHint>>(
      queue, args, dependencies,
      [a = args, e = ends](std::int64_t g) { cubic_hermite_cell<PartHint, FuncHint>(a, e, g); });
  if (periodic_flags == nullptr) return cells;
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(cells);
    const construct_args<T> a = args;
    std::int32_t* flags = periodic_flags;
    cgh.parallel_for<hermite_periodic_check_kernel<T, PartHint, FuncHint>>(
        checked_launch_range(1, args.ny), [=](sycl::item<1> item) {
          const auto j = static_cast<std::int64_t>(item.get_linear_id());
          const auto f = knots_of<PartHint, FuncHint>(a, j);
          T largest = 0;
          for (std::int64_t i = 0; i < a.nx; ++i) {
            const T v = magnitude(f.y(i));
            largest = largest < v ? v : largest;
          }
          const T tolerance = T(4) * std::numeric_limits<T>::epsilon() * largest;
          flags[j] = magnitude(f.y(0) - f.y(a.nx - 1)) <= tolerance ? 0 : 1;
        });
  });
}

// Work-item g of a cubic Hermite construction from every function's own
// slopes: function j, cell k, the slopes at both ends read from the first
// derivatives, laid out as the function values.
template <partition_hint PartHint, function_hint FuncHint, typename T>
void hermite_own_slopes_cell(const construct_args<T>& a, std::int64_t g) {
  const function_and_cell at(g, a.cells());
  const auto f = knots_of<PartHint, FuncHint>(a, at.j);
  const T dl = a.first_derivatives[f.index(at.j, at.k)];
  const T dr = a.first_derivatives[f.index(at.j, at.k + 1)];
  store_hermite_cell(*a.coeffs + (at.j * a.cells() + at.k) * 4, f.y(at.k), f.secant(at.k), f.r(at.k), dl, dr);
}

// Submits one command group: depends_on(dependencies), then one work-item
// per (function, cell).
template <typename T, partition_hint PartHint, function_hint FuncHint>
sycl::event gpu_construct_1d_hermite_own_slopes(sycl::queue& queue, const construct_args<T>& args,
                                                const std::vector<sycl::event>& dependencies) {
  return submit_per_cell<hermite_own_slopes_construct_kernel<T, PartHint, FuncHint>>(
      queue, args, dependencies, [a = args](std::int64_t g) { hermite_own_slopes_cell<PartHint, FuncHint>(a, g); });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
