#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/calculus/calculus_args.hpp"
#include "detail/gpu/calculus/cell_polynomial.hpp"
#include "detail/gpu/calculus/compensated_sum.hpp"
#include "detail/gpu/launch_range.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Per function j, the integral from x_0 to each breakpoint x_k, k = 0..nx-1,
// as hi + lo: hi at table[j*nx + k], lo at table[(ny + j)*nx + k]; 2*nx*ny
// elements. Built in fixed blocks of cells, so that every entry is the same
// whatever the thread count or the schedule: each block's compensated sum
// of its cell integrals, then per function a scan of the block sums, then
// each block's own prefixes from its start.
inline constexpr std::int64_t integral_block_cells = 256;

template <typename FpType>
struct integral_table_view {
  FpType* table;
  std::int64_t nx;
  std::int64_t ny;

  compensated_sum<FpType> at(std::int64_t j, std::int64_t k) const {
    return {table[j * nx + k], table[(ny + j) * nx + k]};
  }
  void set(std::int64_t j, std::int64_t k, const compensated_sum<FpType>& s) const {
    table[j * nx + k] = s.hi;
    table[(ny + j) * nx + k] = s.lo;
  }
};

template <typename FpType, partition_hint PH>
class integral_block_sums_kernel;
template <typename FpType>
class integral_block_scan_kernel;
template <typename FpType, partition_hint PH>
class integral_block_prefixes_kernel;

inline std::int64_t integral_blocks(std::int64_t cells) {
  return (cells + integral_block_cells - 1) / integral_block_cells;
}

// Work-item w of a pass over (function, block): function j, cells first to
// last - 1 of its block b.
struct table_block {
  std::int64_t j, b, first, last;
  table_block(std::int64_t w, std::int64_t blocks, std::int64_t cells)
      : j(w / blocks), b(w % blocks), first(b * integral_block_cells), last(first + integral_block_cells) {
    if (last > cells) last = cells;
  }
};

// Adds the integrals of cells [first, last) of function j to `sum`; with
// `store`, writes the running sum at each breakpoint first+1 .. last-1.
template <partition_hint PH, typename FpType>
void accumulate_cells(const calculus_spline<FpType>& s, const FpType* coeffs, std::int64_t j, std::int64_t first,
                      std::int64_t last, compensated_sum<FpType>& sum, integral_table_view<FpType> out, bool store) {
  FpType left = breakpoint<PH>(s.partitions, s.nx, first);
  for (std::int64_t k = first; k < last; ++k) {
    const FpType right = breakpoint<PH>(s.partitions, s.nx, k + 1);
    sum.add(read_cell(s, coeffs, j, k).integral(FpType(0), right - left));
    if (store && k + 1 < last) out.set(j, k + 1, sum);
    left = right;
  }
}

// Submits the three steps after `dependencies`; returns the last one's event.
template <typename FpType, partition_hint PH>
sycl::event build_integral_table(sycl::queue& queue, const calculus_spline<FpType>& spline, FpType* table,
                                 const std::vector<sycl::event>& dependencies) {
  const std::int64_t cells = spline.cells();
  const std::int64_t blocks = integral_blocks(cells);
  const integral_table_view<FpType> view{table, spline.nx, spline.ny};
  const calculus_spline<FpType> s = spline;
  const sycl::range<1> per_block = checked_launch_range(spline.ny, blocks);
  // Block b's total at the breakpoint that ends it.
  const sycl::event sums = queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    cgh.parallel_for<integral_block_sums_kernel<FpType, PH>>(per_block, [=](sycl::item<1> item) {
      if (s.construction_refused()) return;
      const table_block k(static_cast<std::int64_t>(item.get_linear_id()), blocks, cells);
      compensated_sum<FpType> sum;
      accumulate_cells<PH>(s, *s.coeffs, k.j, k.first, k.last, sum, view, false);
      view.set(k.j, k.last, sum);
    });
  });
  // Each block's end replaced by the sum of all blocks up to it.
  const sycl::event scan = queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(sums);
    cgh.parallel_for<integral_block_scan_kernel<FpType>>(checked_launch_range(spline.ny, 1), [=](sycl::item<1> item) {
      if (s.construction_refused()) return;
      const auto j = static_cast<std::int64_t>(item.get_linear_id());
      compensated_sum<FpType> total;
      for (std::int64_t b = 0; b < blocks; ++b) {
        const std::int64_t end = (b + 1) * integral_block_cells < cells ? (b + 1) * integral_block_cells : cells;
        total.add(view.at(j, end));
        view.set(j, end, total);
      }
    });
  });
  // The breakpoints inside each block, from the block's start.
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(scan);
    cgh.parallel_for<integral_block_prefixes_kernel<FpType, PH>>(per_block, [=](sycl::item<1> item) {
      if (s.construction_refused()) return;
      const table_block k(static_cast<std::int64_t>(item.get_linear_id()), blocks, cells);
      compensated_sum<FpType> sum;
      if (k.b == 0) {
        view.set(k.j, 0, sum);
      } else {
        sum = view.at(k.j, k.first);
      }
      accumulate_cells<PH>(s, *s.coeffs, k.j, k.first, k.last, sum, view, true);
    });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
