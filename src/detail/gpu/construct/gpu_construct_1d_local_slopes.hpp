#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/construct/function_knots.hpp"
#include "detail/gpu/construct/hermite_cell.hpp"
#include "detail/gpu/construct/local_slopes.hpp"
#include "detail/gpu/launch_range.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename T, partition_hint PartHint, function_hint FuncHint, coefficient_hint CoeffHint,
          local_slope_rule Rule, long long BC>
class local_slopes_construct_kernel;

// Computes the coefficients of the Akima or Bessel spline of all ny
// functions: one work-item per (function j, cell k) finds the slopes at both
// ends of its cell from the neighbouring secants and writes the cubic
// Hermite cell. BC 0 takes the rule's own end slopes; BC 12 the boundary
// values (left, right) as the slopes at x[0] and x[nx - 1].
template <typename T, partition_hint PartHint, function_hint FuncHint, coefficient_hint CoeffHint,
          local_slope_rule Rule, long long BC>
sycl::event gpu_construct_1d_local_slopes(sycl::queue& queue, std::int64_t nx, std::int64_t ny, T* partitions,
                                          T** functions, T** coeffs, const std::vector<sycl::event>& dependencies,
                                          T left_value, T right_value) {
  static_assert(CoeffHint == coefficient_hint::row_major, "coefficients are laid out row-major only");
  static_assert(BC == 0 || BC == 12, "local slopes take their own ends or both end slopes");
  const sycl::range<1> range = checked_launch_range(nx - 1, ny);
  const value_index<FuncHint> index{nx, ny};
  const T left = left_value;
  const T right = right_value;

  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    cgh.parallel_for<local_slopes_construct_kernel<T, PartHint, FuncHint, CoeffHint, Rule, BC>>(
        range, [=](sycl::item<1> item) {
          const std::int64_t cells = nx - 1;
          const auto g = static_cast<std::int64_t>(item.get_linear_id());
          const std::int64_t j = g / cells;
          const std::int64_t k = g % cells;
          const function_knots<T, PartHint, FuncHint> f{partitions, *functions, index, j};
          T dl, dr;
          cell_slopes<Rule>(f, k, dl, dr);
          if constexpr (BC == 12) {
            if (k == 0) dl = left;
            if (k == cells - 1) dr = right;
          }
          store_hermite_cell(*coeffs + (j * cells + k) * 4, f.y(k), f.secant(k), f.r(k), dl, dr);
        });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
