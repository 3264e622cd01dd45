#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/construct/hermite_cell.hpp"
#include "detail/gpu/construct/hermite_end_slopes.hpp"
#include "detail/gpu/construct/value_index.hpp"
#include "detail/gpu/launch_range.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename T, partition_hint PartHint, function_hint FuncHint, coefficient_hint CoeffHint, long long BC>
class cubic_hermite_construct_kernel;

// Computes the cubic Hermite coefficients of all ny functions: one work-item
// per (function j, cell k). The slopes at interior breakpoints come from
// internal_conditions (shared by every function), those at x[0] and
// x[nx - 1] from the boundary rule of BC; each cell is the cubic with the
// cell's two values and these two slopes (store_hermite_cell).
// The boundary values are taken now; everything else is read when the
// kernel runs.
template <typename T, partition_hint PartHint, function_hint FuncHint, coefficient_hint CoeffHint, long long BC>
sycl::event gpu_construct_1d_cubic_hermite(sycl::queue& queue, std::int64_t nx, std::int64_t ny, T* partitions,
                                           T** functions, T** coeffs, const std::vector<sycl::event>& dependencies,
                                           T* internal_conditions, T left_value, T right_value) {
  static_assert(CoeffHint == coefficient_hint::row_major, "coefficients are laid out row-major only");
  constexpr end_rules rules = hermite_end_rules(BC);
  constexpr end_rule left_rule = rules.left;
  constexpr end_rule right_rule = rules.right;
  const sycl::range<1> range = checked_launch_range(nx - 1, ny);
  const value_index<FuncHint> index{nx, ny};
  const T left = left_value;
  const T right = BC == 64 ? left_value : right_value;  // periodic: one slope for both ends

  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    cgh.parallel_for<cubic_hermite_construct_kernel<T, PartHint, FuncHint, CoeffHint, BC>>(
        range, [=](sycl::item<1> item) {
          const std::int64_t cells = nx - 1;
          const auto g = static_cast<std::int64_t>(item.get_linear_id());
          const std::int64_t j = g / cells;
          const std::int64_t k = g % cells;
          const T* values = *functions;
          const T y0 = values[index(j, k)];
          const T y1 = values[index(j, k + 1)];

          cell_width<PartHint, T> width{};
          if constexpr (PartHint == partition_hint::uniform) {
            width.r = static_cast<T>(nx - 1) / (partitions[1] - partitions[0]);
          } else {
            width.h = partitions[k + 1] - partitions[k];
            width.r = T(1) / width.h;
          }
          const T s = (y1 - y0) * width.r;

          T dl = k >= 1 ? internal_conditions[k - 1] : T(0);
          T dr = k <= nx - 3 ? internal_conditions[k] : T(0);
          if (k == 0) dl = left_end_slope<left_rule>(s, dr, width, left);
          if (k == cells - 1) dr = right_end_slope<right_rule>(s, dl, width, right);

          store_hermite_cell(*coeffs + (j * cells + k) * 4, y0, s, width.r, dl, dr);
        });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
