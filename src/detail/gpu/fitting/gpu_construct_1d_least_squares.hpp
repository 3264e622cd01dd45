#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <sycl/sycl.hpp>
#include <vector>

#include "data_fitting/exceptions.hpp"
#include "data_fitting/hints.hpp"
#include "detail/error_domain.hpp"
#include "detail/gpu/backend/device_array.hpp"
#include "detail/gpu/backend/kept_until_complete.hpp"
#include "detail/gpu/construct/construct_args.hpp"
#include "detail/gpu/fitting/knot_basis_table.hpp"
#include "detail/gpu/fitting/least_squares_blocks.hpp"
#include "detail/gpu/fitting/least_squares_steps.hpp"
#include "detail/gpu/launch_range.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename T, partition_hint PartHint, function_hint DataHint>
class least_squares_basis_kernel;
template <typename T, partition_hint PartHint, function_hint DataHint>
class least_squares_gather_kernel;
template <typename T, partition_hint PartHint, function_hint DataHint>
class least_squares_sum_kernel;
template <typename T, partition_hint PartHint, function_hint DataHint>
class least_squares_factor_kernel;
template <typename T, partition_hint PartHint, function_hint DataHint>
class least_squares_right_side_kernel;
template <typename T, partition_hint PartHint, function_hint DataHint>
class least_squares_right_side_sum_kernel;
template <typename T, partition_hint PartHint, function_hint DataHint>
class least_squares_solve_kernel;
template <typename T, partition_hint PartHint, function_hint DataHint>
class least_squares_cell_kernel;
template <typename T, partition_hint PartHint, function_hint DataHint>
class least_squares_block_factor_kernel;
template <typename T, partition_hint PartHint, function_hint DataHint>
class least_squares_block_solve_kernel;
template <typename T, partition_hint PartHint, function_hint DataHint>
class least_squares_separator_solve_kernel;
template <typename T, partition_hint PartHint, function_hint DataHint>
class least_squares_block_finish_kernel;

// Submits run(args, g) for every work-item g of `range` after `after`, as
// kernel Name. run is a lambda without captures.
template <typename Name, typename Args, typename Run>
sycl::event submit_least_squares_step(sycl::queue& queue, sycl::range<1> range, const std::vector<sycl::event>& after,
                                      const Args& args, Run run) {
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(after);
    const Args a = args;
    cgh.parallel_for<Name>(range, [=](sycl::item<1> item) { run(a, static_cast<std::int64_t>(item.get_linear_id())); });
  });
}

// Submits the construction of the least-squares cubic spline on the
// partition's nx >= 3 knots after `dependencies`; returns the event of its
// last work. For each function the C2 cubic minimising
// sum_i w_i (y_ji - f(x_i))^2 over the ndata sites x (any order, shared by
// every function), values y in layout DataHint, weights w (null: all 1),
// computed in double for both element types:
//   1. the B-spline basis table, over knots;
//   2. per block of sites: their checks and the block's partial band of
//      B^T W B and Schoenberg-Whitney slots;
//   3. the partials summed in block order, over band rows;
//   4. one work-item: the faults, the Schoenberg-Whitney condition and the
//      banded L D L^T factor shared by every function; or, when the
//      functions are few against the basis (band_blocks), first one
//      work-item per block of rows factoring the block, then the single
//      work-item factoring the separators (partitioned_band.hpp);
//   5. with the sites recorded (more than two functions), per (function,
//      block): the partial right side B^T W y (else step 2 adds it);
//   6. the partials summed in block order, over (function, row);
//   7. per function: the solve for its B-spline coefficients; by blocks
//      per (function, block), per function, per (function, block);
//   8. per (function, cell): the cell's cubic.
// Steps 5 to 8 do nothing once step 4 has refused the data: then `fault`
// (host memory, 0 on entry) holds fitting_fault bits and the coefficients
// are left unwritten. Every scratch array is allocated before anything is
// submitted (host_bad_alloc when memory cannot be had) and kept until the
// last step completes.
template <typename T, partition_hint PartHint, function_hint DataHint>
sycl::event gpu_construct_1d_least_squares(sycl::queue& queue, const construct_args<T>& spline, const T* x, const T* y,
                                           std::int64_t ndata, const T* weights, std::int32_t* fault,
                                           kept_until_complete& kept, const std::vector<sycl::event>& dependencies) {
  using args_type = least_squares_args<T, PartHint, DataHint>;
  const least_squares_blocks blocks = least_squares_blocks_for(ndata, spline.nx, spline.ny);
  const sycl::range<1> knot_range = checked_launch_range(1, spline.nx);
  const sycl::range<1> block_range = checked_launch_range(1, blocks.blocks);
  const sycl::range<1> row_range = checked_launch_range(1, blocks.size());
  const sycl::range<1> right_side_range = checked_launch_range(spline.ny, blocks.blocks);
  const sycl::range<1> entry_range = checked_launch_range(spline.ny, blocks.size());
  const sycl::range<1> function_range = checked_launch_range(1, spline.ny);
  const sycl::range<1> cell_range = checked_launch_range(spline.ny, spline.cells());
  const band_partition parts = band_blocks(blocks.size(), spline.ny);
  const bool partitioned = parts.blocks > 1;
  const sycl::range<1> band_block_range = checked_launch_range(1, parts.blocks);
  const sycl::range<1> function_block_range = checked_launch_range(spline.ny, parts.blocks);

  const std::shared_ptr<knot_cell> cells = make_device_array<knot_cell>(queue, spline.cells());
  const std::shared_ptr<knot_weights> knots = make_device_array<knot_weights>(queue, spline.nx);
  const std::shared_ptr<double> scratch = make_device_array<double>(queue, blocks.doubles());
  const std::shared_ptr<std::int32_t> faults = make_device_array<std::int32_t>(queue, blocks.blocks + 1);
  const std::int64_t records = blocks.recorded ? std::max<std::int64_t>(ndata, 1) : 1;
  const std::shared_ptr<std::int64_t> site_cells = make_device_array<std::int64_t>(queue, records);
  const std::shared_ptr<double> site_terms = make_device_array<double>(queue, 4 * records);
  const std::int64_t solver_doubles =
      partitioned ? partitioned_band::shared_doubles(parts) + spline.ny * partitioned_band::function_doubles(parts) : 1;
  const std::shared_ptr<double> solver = make_device_array<double>(queue, solver_doubles);
  if (!cells || !knots || !scratch || !faults || !site_cells || !site_terms || !solver) {
    throw velora::qrx::host_bad_alloc(error_domain, "bad alloc");
  }
  const args_type args{spline,
                       x,
                       y,
                       weights,
                       blocks,
                       cells.get(),
                       knots.get(),
                       scratch.get(),
                       faults.get(),
                       fault,
                       site_cells.get(),
                       site_terms.get(),
                       partitioned_band{parts, solver.get()},
                       solver.get() + (partitioned ? partitioned_band::shared_doubles(parts) : 0)};

  const sycl::event built = submit_least_squares_step<least_squares_basis_kernel<T, PartHint, DataHint>>(
      queue, knot_range, dependencies, args,
      [](const args_type& a, std::int64_t k) { least_squares_basis_step(a, k); });
  const sycl::event gathered = submit_least_squares_step<least_squares_gather_kernel<T, PartHint, DataHint>>(
      queue, block_range, {built}, args, [](const args_type& a, std::int64_t b) { least_squares_gather_step(a, b); });
  const sycl::event summed = submit_least_squares_step<least_squares_sum_kernel<T, PartHint, DataHint>>(
      queue, row_range, {gathered}, args, [](const args_type& a, std::int64_t r) { least_squares_sum_step(a, r); });
  sycl::event last = summed;
  if (partitioned) {
    last = submit_least_squares_step<least_squares_block_factor_kernel<T, PartHint, DataHint>>(
        queue, band_block_range, {last}, args,
        [](const args_type& a, std::int64_t b) { least_squares_block_factor_step(a, b); });
  }
  last = submit_least_squares_step<least_squares_factor_kernel<T, PartHint, DataHint>>(
      queue, sycl::range<1>(1), {last}, args, [](const args_type& a, std::int64_t) { least_squares_factor_step(a); });
  if (blocks.recorded) {
    last = submit_least_squares_step<least_squares_right_side_kernel<T, PartHint, DataHint>>(
        queue, right_side_range, {last}, args,
        [](const args_type& a, std::int64_t g) { least_squares_right_side_step(a, g); });
  }
  if (spline.ny > 0) {
    last = submit_least_squares_step<least_squares_right_side_sum_kernel<T, PartHint, DataHint>>(
        queue, entry_range, {last}, args,
        [](const args_type& a, std::int64_t g) { least_squares_right_side_sum_step(a, g); });
    if (partitioned) {
      last = submit_least_squares_step<least_squares_block_solve_kernel<T, PartHint, DataHint>>(
          queue, function_block_range, {last}, args,
          [](const args_type& a, std::int64_t g) { least_squares_block_solve_step(a, g); });
      last = submit_least_squares_step<least_squares_separator_solve_kernel<T, PartHint, DataHint>>(
          queue, function_range, {last}, args,
          [](const args_type& a, std::int64_t j) { least_squares_separator_solve_step(a, j); });
      last = submit_least_squares_step<least_squares_block_finish_kernel<T, PartHint, DataHint>>(
          queue, function_block_range, {last}, args,
          [](const args_type& a, std::int64_t g) { least_squares_block_finish_step(a, g); });
    } else {
      last = submit_least_squares_step<least_squares_solve_kernel<T, PartHint, DataHint>>(
          queue, function_range, {last}, args,
          [](const args_type& a, std::int64_t j) { least_squares_solve_step(a, j); });
    }
    last = submit_least_squares_step<least_squares_cell_kernel<T, PartHint, DataHint>>(
        queue, cell_range, {last}, args, [](const args_type& a, std::int64_t g) { least_squares_cell_step(a, g); });
  }
  kept.keep(cells, last);
  kept.keep(knots, last);
  kept.keep(scratch, last);
  kept.keep(faults, last);
  kept.keep(site_cells, last);
  kept.keep(site_terms, last);
  kept.keep(solver, last);
  return last;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
