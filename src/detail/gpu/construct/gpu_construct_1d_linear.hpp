#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/construct/value_index.hpp"
#include "detail/gpu/launch_range.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename T, partition_hint PartHint, function_hint FuncHint, coefficient_hint CoeffHint>
class linear_construct_kernel;

// Computes the linear coefficients of all ny functions: one work-item per
// (function j, cell k), writing c0 = y[k] and c1 = the cell's slope to
// coeffs[(j*(nx - 1) + k)*2 + {0, 1}]. The pointer cells `functions` and
// `coeffs` are read when the kernel runs. Launch sizes of 2^31 work-items or
// more are refused before submission.
template <typename T, partition_hint PartHint, function_hint FuncHint, coefficient_hint CoeffHint>
sycl::event gpu_construct_1d_linear(sycl::queue& queue, std::int64_t nx, std::int64_t ny, T* partitions,
                                    T** functions, T** coeffs, const std::vector<sycl::event>& dependencies) {
  static_assert(CoeffHint == coefficient_hint::row_major, "coefficients are laid out row-major only");
  const sycl::range<1> range = checked_launch_range(nx - 1, ny);
  const value_index<FuncHint> index{nx, ny};

  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    cgh.parallel_for<linear_construct_kernel<T, PartHint, FuncHint, CoeffHint>>(range, [=](sycl::item<1> item) {
      const std::int64_t cells = nx - 1;
      const auto g = static_cast<std::int64_t>(item.get_linear_id());
      const std::int64_t j = g / cells;
      const std::int64_t k = g % cells;
      const T* values = *functions;
      const T y0 = values[index(j, k)];
      const T y1 = values[index(j, k + 1)];
      T slope;
      if constexpr (PartHint == partition_hint::uniform) {
        slope = ((y1 - y0) * static_cast<T>(nx - 1)) / (partitions[1] - partitions[0]);
      } else {
        slope = (y1 - y0) / (partitions[k + 1] - partitions[k]);
      }
      T* cell = *coeffs + (j * cells + k) * 2;
      cell[0] = y0;
      cell[1] = slope;
    });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
