#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/construct/construct_args.hpp"
#include "detail/gpu/construct/value_index.hpp"
#include "detail/gpu/construct/submit_per_cell.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename T, partition_hint PartHint, function_hint FuncHint>
class linear_construct_kernel;

// Work-item g of a linear construction: function j, cell k writes c0 = y[k]
// and c1 = the cell's secant to coeffs[(j*(nx - 1) + k)*2 + {0, 1}].
template <partition_hint PartHint, function_hint FuncHint, typename T>
void linear_cell(const construct_args<T>& a, std::int64_t g) {
  const function_and_cell at(g, a.cells());
  const value_index<FuncHint> index{a.nx, a.ny};
  const T* values = *a.functions;
  const T y0 = values[index(at.j, at.k)];
  const T y1 = values[index(at.j, at.k + 1)];
  T slope;
  if constexpr (PartHint == partition_hint::uniform) {
    slope = ((y1 - y0) * static_cast<T>(a.nx - 1)) / (a.partitions[1] - a.partitions[0]);
  } else {
    slope = (y1 - y0) / (a.partitions[at.k + 1] - a.partitions[at.k]);
  }
  T* cell = *a.coeffs + (at.j * a.cells() + at.k) * 2;
  cell[0] = y0;
  cell[1] = slope;
}

// One work-item per (function, cell); launch sizes of 2^31 work-items or
// more are refused before submission.
template <typename T, partition_hint PartHint, function_hint FuncHint>
sycl::event gpu_construct_1d_linear(sycl::queue& queue, const construct_args<T>& args,
                                    const std::vector<sycl::event>& dependencies) {
  return submit_per_cell<linear_construct_kernel<T, PartHint, FuncHint>>(
      queue, args, dependencies, [a = args](std::int64_t g) { linear_cell<PartHint, FuncHint>(a, g); });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
