#pragma once

// The smoothing cubic spline on a GPU queue: for each function the C2 cubic
// with breakpoints at the nx sites and natural ends minimising
//   sum_i w_i (y_i - f(x_i))^2 + lambda * integral f''^2,
// for one given lambda >= 0 or, lambda < 0, with each function's lambda
// chosen by generalised cross-validation. The same method as the CPU
// kernels, in double for both precisions, so that the back-ends agree to
// roundings. Faults found in the data are set in a host flag word.
//
// The work, each step a command after the previous one:
//   sites  (n work-items)       weights, widths, the basis at each site
//   bands  (n + 2 work-items)   the bands of G and Omega
//   summary (one work-item)     soundness of the weights, traces
// then, for a given lambda > 0:
//   factor (one work-item)      G + lambda Omega, shared by all functions
//   fit    (one per function)   solve and write the cells
// or, when the functions are few against the rows (band_blocks), by blocks
// (partitioned_band.hpp):
//   factor (one per block, then one work-item for the separators)
//   solve  (one per function and block, one per function, one per
//           function and block)
//   cells  (one per function and run of 32 cells)
// for lambda = 0:
//   eliminate (one work-item)   the natural spline's system on the positive sites
//   fit    (one per function)
// or, when band_blocks cuts the sites, by blocks (natural_band.hpp):
//   list   (one per block of sites, one work-item, one per block) the
//          positive sites (positive_sites.hpp)
//   factor, solve (as for a given lambda, by blocks)
//   cells  (one per function and run of 32 cells)
// for lambda chosen:
//   grid   (33 work-items)      a factor and its trace per coarse grid point
//   coarse (one per grid point and function) the scores
//   refine (one per function)   golden-section refinement, each score with
//                               its own factor; the final factor, cells, lambda
//   faults (one work-item)      a function whose final factor failed
// or, when band_blocks cuts the rows, by blocks (blocked_penalised.hpp):
//   grid   (per grid point and block, then per grid point for the
//          separators and their inverse, then per grid point and block for
//          the partial traces), in batches of grid points
//   coarse (per pair and block, per pair, per pair and block, per pair) the
//          solve and residuals by blocks and the score of each (grid point,
//          function) pair
//   walk   gcv_walk_scores steps of every function in lock step (a function
//          whose walk is done skips its work): its factor, trace and solve
//          by blocks as for the grid, then one work-item per function
//          advances its walk (gcv_walk, in device memory)
//   final  the chosen lambda's factor and solve by blocks, the cells
//   faults (one work-item)
// Other factorisations run on one work-item each (O(n) sequential work);
// work with scratch per unit is launched in batches within a memory budget.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <sycl/sycl.hpp>
#include <vector>

#include "data_fitting/exceptions.hpp"
#include "data_fitting/hints.hpp"
#include "detail/error_domain.hpp"
#include "detail/fitting_fault.hpp"
#include "detail/gpu/backend/device_array.hpp"
#include "detail/gpu/backend/kept_until_complete.hpp"
#include "detail/gpu/construct/construct_args.hpp"
#include "detail/gpu/construct/value_index.hpp"
#include "detail/gpu/fitting/blocked_penalised.hpp"
#include "detail/gpu/fitting/curvature_cells.hpp"
#include "detail/gpu/fitting/gcv_search.hpp"
#include "detail/gpu/fitting/natural_band.hpp"
#include "detail/gpu/fitting/natural_limit.hpp"
#include "detail/gpu/fitting/partitioned_band.hpp"
#include "detail/gpu/fitting/penalised_band.hpp"
#include "detail/gpu/fitting/scratch_batches.hpp"
#include "detail/gpu/fitting/smoothing_tables.hpp"
#include "detail/gpu/launch_range.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename T, partition_hint PartHint, function_hint FuncHint>
class smoothing_sites_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class smoothing_bands_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class smoothing_summary_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class smoothing_factor_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class smoothing_fit_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class smoothing_block_factor_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class smoothing_separator_factor_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class smoothing_block_solve_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class smoothing_separator_solve_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class smoothing_block_finish_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class smoothing_cell_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class natural_limit_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class natural_fit_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class positive_count_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class positive_sum_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class positive_list_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class natural_block_factor_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class natural_separator_factor_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class natural_block_solve_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class natural_separator_solve_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class natural_block_finish_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class natural_cell_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_grid_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_coarse_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_refine_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_fault_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_grid_block_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_grid_separator_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_grid_trace_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_score_solve_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_score_separator_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_score_finish_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_score_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_walk_start_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_walk_block_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_walk_separator_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_walk_trace_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_walk_advance_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_final_block_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_final_separator_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_final_finish_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint>
class gcv_final_cell_kernel;

// Function j's values y(i), read after the function-value pointer cell.
template <typename T, function_hint FuncHint>
struct smoothing_values {
  const T* values;
  value_index<FuncHint> index;
  std::int64_t j;
  T operator()(std::int64_t i) const { return values[index(j, i)]; }
};

template <function_hint FuncHint, typename T>
smoothing_values<T, FuncHint> smoothing_values_of(const construct_args<T>& a, std::int64_t j) {
  return {*a.functions, {a.nx, a.ny}, j};
}

// Solves function j with the factor `rows` and writes its cells.
template <function_hint FuncHint, typename T>
void write_penalised_fit(const smoothing_tables& t, const double* rows, const construct_args<T>& a, std::int64_t j,
                         double* z) {
  curvature_cell_writer<T> cells{*a.coeffs + j * a.cells() * 4, t.reciprocals(), t.sites(),
                                 1.0 / t.length() / t.length()};
  solve_penalised(t, rows, smoothing_values_of<FuncHint>(a, j), z,
                  [&](std::int64_t i, double f, double f2) { cells(i, f, f2); });
}

// Cells a work-item of the blocked path writes: a run of cells computes
// each inner site's fit once for the two cells that share it.
inline constexpr std::int64_t penalised_cells_per_run = 32;

inline std::int64_t penalised_cell_runs(std::int64_t sites) {
  return (sites - 2) / penalised_cells_per_run + 1;
}

// Writes run r of function j's cells from its solved coefficients c, from
// the last cell of the run down, as solve_penalised hands the sites over.
template <typename T>
void write_penalised_cells(const smoothing_tables& t, const double* c, const construct_args<T>& a, std::int64_t j,
                           std::int64_t r) {
  curvature_cell_writer<T> cells{*a.coeffs + j * a.cells() * 4, t.reciprocals(), t.sites(),
                                 1.0 / t.length() / t.length()};
  const std::int64_t first = r * penalised_cells_per_run;
  const std::int64_t end = std::min(first + penalised_cells_per_run, t.sites() - 1);
  const site_fit top = penalised_site_fit(t, c, end);
  cells.start_at(end, top.f, top.f2);
  for (std::int64_t k = end - 1; k >= first; --k) {
    const site_fit here = penalised_site_fit(t, c, k);
    cells(k, here.f, here.f2);
  }
}

// A kernel's name carried as a value.
template <typename Name>
struct kernel_name {
  using type = Name;
};

// Launches kernel(item) over `count` work-items after `last`.
template <typename KernelName, typename Kernel>
sycl::event submit_range(sycl::queue& queue, sycl::event last, std::int64_t count, const Kernel& kernel) {
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(last);
    cgh.parallel_for<KernelName>(sycl::range<1>(static_cast<std::size_t>(count)), [=](sycl::item<1> item) {
      kernel(static_cast<std::int64_t>(item.get_linear_id()));
    });
  });
}

// Function j's lambda by cross-validation from its coarse scores (stride
// ny), written to chosen[j] in units of x, and its cells. rows and z hold a
// factor and a right side. False when the chosen lambda cannot be factored.
template <function_hint FuncHint, typename T>
bool write_cross_validated_fit(const smoothing_tables& t, const double* scores, const construct_args<T>& a,
                               std::int64_t j, double* rows, double* z, T* chosen) {
  const auto y = smoothing_values_of<FuncHint>(a, j);
  const gcv_choice choice =
      gcv_refine(scores + j, a.ny, [&](double log_rho) { return gcv_score_at(t, log_rho, y, rows, z); });
  const double lambda_u = gcv_lambda(t, choice.log_rho);
  chosen[j] = static_cast<T>(lambda_u * (t.length() * t.length() * t.length()));
  if (!factor_penalised(t, lambda_u, rows)) return false;
  write_penalised_fit<FuncHint>(t, rows, a, j, z);
  return true;
}

// Launches kernel(first unit of the batch, item) over each batch in turn,
// each after the previous one (they share the scratch); returns the last.
template <typename KernelName, typename Kernel>
sycl::event submit_batches(sycl::queue& queue, sycl::event last, const scratch_batches& batches, const Kernel& kernel) {
  for (std::int64_t b = 0; b < batches.count(); ++b) {
    const std::int64_t first = batches.first(b);
    last = queue.submit([&](sycl::handler& cgh) {
      cgh.depends_on(last);
      cgh.parallel_for<KernelName>(sycl::range<1>(static_cast<std::size_t>(batches.size(b))), [=](sycl::item<1> item) {
        kernel(first, static_cast<std::int64_t>(item.get_linear_id()));
      });
    });
  }
  return last;
}

// After `last`: fitting_bad_lambda in *fault when some function's chosen
// lambda could not be factored (failures[j] != 0).
template <typename KernelName>
sycl::event submit_gcv_faults(sycl::queue& queue, sycl::event last, const smoothing_tables& t,
                              const std::int32_t* failures, std::int64_t ny, std::int32_t* fault) {
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(last);
    cgh.single_task<KernelName>([=]() {
      if (!t.sound()) return;
      std::int32_t failed = 0;
      for (std::int64_t j = 0; j < ny; ++j) failed |= failures[j];
      if (failed != 0) *fault |= static_cast<std::int32_t>(fitting_bad_lambda);
    });
  });
}

// Each function's fit by blocks once its band is factored into `band`
// (matrix() gives the band inside the kernels, where its tables may be read),
// batch after batch (they share the scratch: per function its solution,
// then its products g, fit_doubles in all): the right side's rows
// (right_side(y, r) for the function's values y) solved block by block,
// the separators, the blocks finished, then its cells in runs of
// penalised_cells_per_run (write_run(solution, j, run)). The kernels'
// names come as the first four template arguments.
template <typename SolveName, typename SeparatorName, typename FinishName, typename CellName, function_hint FuncHint,
          typename T, typename Matrix, typename RightSide, typename WriteRun>
sycl::event submit_blocked_fits(sycl::queue& queue, sycl::event last, const smoothing_tables& t,
                                const construct_args<T>& a, const partitioned_band& band, Matrix matrix,
                                const scratch_batches& fits, double* work, std::int64_t fit_doubles,
                                RightSide right_side, WriteRun write_run) {
  const band_partition parts = band.partition();
  const std::int64_t blocks = parts.blocks;
  const std::int64_t runs = penalised_cell_runs(t.sites());
  for (std::int64_t batch = 0; batch < fits.count(); ++batch) {
    const std::int64_t first = fits.first(batch), count = fits.size(batch);
    last = submit_range<SolveName>(queue, last, count * blocks, [=](std::int64_t g) {
      if (!t.factored()) return;
      const std::int64_t i = g / blocks, b = g % blocks;
      double* x = work + i * fit_doubles;
      const auto y = smoothing_values_of<FuncHint>(a, first + i);
      for (std::int64_t r = parts.first(b); r < parts.first(b + 1); ++r) x[r] = right_side(y, r);
      band.solve_block(matrix(), x, x + parts.size, b);
    });
    last = submit_range<SeparatorName>(queue, last, count, [=](std::int64_t i) {
      if (t.factored()) band.solve_separators(work + i * fit_doubles, work + i * fit_doubles + parts.size);
    });
    last = submit_range<FinishName>(queue, last, count * blocks, [=](std::int64_t g) {
      if (t.factored()) band.finish_block(work + (g / blocks) * fit_doubles, g % blocks);
    });
    last = submit_range<CellName>(queue, last, count * runs, [=](std::int64_t g) {
      if (t.factored()) write_run(work + (g / runs) * fit_doubles, first + g / runs, g % runs);
    });
  }
  return last;
}

// The lambdas chosen by blocks after `last`: the coarse grid's factors,
// traces and scores, then every function's walk in lock step, a fixed chain
// of gcv_walk_scores steps (a function whose walk is done skips its work),
// then each function's final factor, solve and cells. scores holds
// gcv_coarse * ny doubles; work the batches' factors and solves.
template <typename T, partition_hint PartHint, function_hint FuncHint>
sycl::event submit_blocked_gcv(sycl::queue& queue, sycl::event last, const smoothing_tables& t,
                               const construct_args<T>& a, const band_partition& parts,
                               const scratch_batches& grid_batches, const scratch_batches& score_batches,
                               const scratch_batches& walk_batches, double* scores, double* work, gcv_walk* walks,
                               std::int32_t* failures, T* chosen, std::int32_t* fault) {
  const std::int64_t ny = a.ny, blocks = parts.blocks;
  const std::int64_t factor_doubles = blocked_penalised::doubles(parts);
  const std::int64_t fit_doubles = blocked_fit::doubles(parts);
  double* const fit_work = work + grid_batches.per_batch * factor_doubles;
  auto factor_at = [=](double* base, std::int64_t i) { return blocked_penalised{parts, base + i * factor_doubles}; };
  auto fit_at = [=](double* base, std::int64_t i) { return blocked_fit{parts, base + i * fit_doubles}; };

  for (std::int64_t gb = 0; gb < grid_batches.count(); ++gb) {
    const std::int64_t g0 = grid_batches.first(gb), points = grid_batches.size(gb);
    last = submit_range<gcv_grid_block_kernel<T, PartHint, FuncHint>>(
        queue, last, points * blocks, [=](std::int64_t u) {
          if (!t.sound()) return;
          const penalised_matrix m{t, gcv_lambda(t, gcv_grid_point(static_cast<int>(g0 + u / blocks)))};
          factor_at(work, u / blocks).band().factor_block(m, 0.0, u % blocks);
        });
    last = submit_range<gcv_grid_separator_kernel<T, PartHint, FuncHint>>(
        queue, last, points, [=](std::int64_t u) {
          if (!t.sound()) return;
          factor_at(work, u).factor_separators({t, gcv_lambda(t, gcv_grid_point(static_cast<int>(g0 + u)))});
        });
    last = submit_range<gcv_grid_trace_kernel<T, PartHint, FuncHint>>(
        queue, last, points * blocks, [=](std::int64_t u) {
          const blocked_penalised f = factor_at(work, u / blocks);
          if (t.sound() && f.factored()) f.trace_block(t, u % blocks);
        });
    // Scores of the batch's (grid point, function) pairs, point-major.
    const scratch_batches pairs{points * ny, score_batches.per_batch};
    for (std::int64_t sb = 0; sb < pairs.count(); ++sb) {
      const std::int64_t first = pairs.first(sb), count = pairs.size(sb);
      last = submit_range<gcv_score_solve_kernel<T, PartHint, FuncHint>>(
          queue, last, count * blocks, [=](std::int64_t u) {
            const std::int64_t pair = first + u / blocks;
            const blocked_penalised f = factor_at(work, pair / ny);
            if (!t.sound() || !f.factored()) return;
            const penalised_matrix m{t, gcv_lambda(t, gcv_grid_point(static_cast<int>(g0 + pair / ny)))};
            fit_at(fit_work, u / blocks)
                .solve_block(t, f.band(), m, smoothing_values_of<FuncHint>(a, pair % ny), u % blocks);
          });
      last = submit_range<gcv_score_separator_kernel<T, PartHint, FuncHint>>(
          queue, last, count, [=](std::int64_t u) {
            const blocked_penalised f = factor_at(work, (first + u) / ny);
            if (!t.sound() || !f.factored()) return;
            const blocked_fit x = fit_at(fit_work, u);
            f.band().solve_separators(x.x(), x.g());
          });
      last = submit_range<gcv_score_finish_kernel<T, PartHint, FuncHint>>(
          queue, last, count * blocks, [=](std::int64_t u) {
            const std::int64_t pair = first + u / blocks;
            const blocked_penalised f = factor_at(work, pair / ny);
            if (!t.sound() || !f.factored()) return;
            const blocked_fit x = fit_at(fit_work, u / blocks);
            f.band().finish_block(x.x(), u % blocks);
            x.residual_block(t, smoothing_values_of<FuncHint>(a, pair % ny), u % blocks);
          });
      last = submit_range<gcv_score_kernel<T, PartHint, FuncHint>>(queue, last, count, [=](std::int64_t u) {
        if (!t.sound()) return;
        const std::int64_t pair = first + u;
        const blocked_penalised f = factor_at(work, pair / ny);
        scores[(g0 + pair / ny) * ny + pair % ny] =
            f.factored() ? gcv_score(fit_at(fit_work, u).residual_sum(), f.trace(), t.positive_weights())
                         : std::numeric_limits<double>::infinity();
      });
    }
  }

  last = submit_range<gcv_walk_start_kernel<T, PartHint, FuncHint>>(queue, last, ny, [=](std::int64_t j) {
    if (t.sound()) walks[j].start(scores + j, ny);
  });
  // The walks' factors first in the batch's scratch, then their solves.
  double* const walk_fits = work + walk_batches.per_batch * factor_doubles;
  const std::int64_t runs = penalised_cell_runs(t.sites());
  for (std::int64_t wb = 0; wb < walk_batches.count(); ++wb) {
    const std::int64_t first = walk_batches.first(wb), count = walk_batches.size(wb);
    // Step on function first + i at log10 rho = where(walk): the block
    // factors and solves, the separators, the traces and residuals.
    auto submit_solve = [&](auto block_name, auto separator_name, auto finish_name, auto where, bool traced) {
      using block_kernel = typename decltype(block_name)::type;
      using separator_kernel = typename decltype(separator_name)::type;
      using finish_kernel = typename decltype(finish_name)::type;
      last = submit_range<block_kernel>(queue, last, count * blocks, [=](std::int64_t u) {
        const std::int64_t i = u / blocks;
        const gcv_walk& walk = walks[first + i];
        if (!t.sound() || (traced && walk.done())) return;
        const penalised_matrix m{t, gcv_lambda(t, where(walk))};
        const blocked_penalised f = factor_at(work, i);
        f.band().factor_block(m, 0.0, u % blocks);
        fit_at(walk_fits, i).solve_block(t, f.band(), m, smoothing_values_of<FuncHint>(a, first + i), u % blocks);
      });
      last = submit_range<separator_kernel>(queue, last, count, [=](std::int64_t i) {
        const gcv_walk& walk = walks[first + i];
        if (!t.sound() || (traced && walk.done())) return;
        const blocked_penalised f = factor_at(work, i);
        const blocked_fit x = fit_at(walk_fits, i);
        if (f.factor_separators({t, gcv_lambda(t, where(walk))})) f.band().solve_separators(x.x(), x.g());
      });
      last = submit_range<finish_kernel>(queue, last, count * blocks, [=](std::int64_t u) {
        const std::int64_t i = u / blocks;
        const blocked_penalised f = factor_at(work, i);
        if (!t.sound() || (traced && walks[first + i].done()) || !f.factored()) return;
        const blocked_fit x = fit_at(walk_fits, i);
        f.band().finish_block(x.x(), u % blocks);
        if (!traced) return;
        f.trace_block(t, u % blocks);
        x.residual_block(t, smoothing_values_of<FuncHint>(a, first + i), u % blocks);
      });
    };
    auto next = [](const gcv_walk& walk) { return walk.next(); };
    auto final_choice = [](const gcv_walk& walk) { return walk.choice.log_rho; };
    for (int step = 0; step < gcv_walk_scores; ++step) {
      submit_solve(kernel_name<gcv_walk_block_kernel<T, PartHint, FuncHint>>{},
                   kernel_name<gcv_walk_separator_kernel<T, PartHint, FuncHint>>{},
                   kernel_name<gcv_walk_trace_kernel<T, PartHint, FuncHint>>{}, next, true);
      last = submit_range<gcv_walk_advance_kernel<T, PartHint, FuncHint>>(queue, last, count, [=](std::int64_t i) {
        gcv_walk& walk = walks[first + i];
        if (!t.sound() || walk.done()) return;
        const blocked_penalised f = factor_at(work, i);
        walk.advance(f.factored()
                         ? gcv_score(fit_at(walk_fits, i).residual_sum(), f.trace(), t.positive_weights())
                         : std::numeric_limits<double>::infinity());
      });
    }
    submit_solve(kernel_name<gcv_final_block_kernel<T, PartHint, FuncHint>>{},
                 kernel_name<gcv_final_separator_kernel<T, PartHint, FuncHint>>{},
                 kernel_name<gcv_final_finish_kernel<T, PartHint, FuncHint>>{}, final_choice, false);
    last = submit_range<gcv_final_cell_kernel<T, PartHint, FuncHint>>(
        queue, last, count * runs, [=](std::int64_t u) {
          if (!t.sound()) return;
          const std::int64_t i = u / runs, j = first + i;
          const bool factored = factor_at(work, i).factored();
          if (u % runs == 0) {
            const double lambda_u = gcv_lambda(t, walks[j].choice.log_rho);
            chosen[j] = static_cast<T>(lambda_u * (t.length() * t.length() * t.length()));
            failures[j] = factored ? 0 : 1;
          }
          if (factored) write_penalised_cells(t, fit_at(walk_fits, i).x(), a, j, u % runs);
        });
  }
  return submit_gcv_faults<gcv_fault_kernel<T, PartHint, FuncHint>>(queue, last, t, failures, ny, fault);
}

// Device doubles, or host_bad_alloc before anything is submitted.
inline std::shared_ptr<double> smoothing_scratch(const sycl::queue& queue, std::int64_t count) {
  std::shared_ptr<double> p = make_device_array<double>(queue, count > 0 ? count : 1);
  if (!p) throw velora::qrx::host_bad_alloc(error_domain, "bad alloc");
  return p;
}

// Submits the smoothing spline's construction after `dependencies` and
// returns the event of its last work. weights: nx entries or null (all 1).
// lambda < 0 chooses each function's lambda and writes it to chosen[j].
// fault (host memory, 0 on entry) receives fitting_bad_weights or
// fitting_bad_lambda; then the coefficients may be partly written. Scratch
// memory is handed to `kept` until the work completes.
template <typename T, partition_hint PartHint, function_hint FuncHint>
sycl::event gpu_construct_1d_smoothing(sycl::queue& queue, const construct_args<T>& spline, const T* weights, T lambda,
                                       T* chosen, std::int32_t* fault, kept_until_complete& kept,
                                       const std::vector<sycl::event>& dependencies) {
  const std::int64_t n = spline.nx;
  const std::int64_t ny = spline.ny;
  const std::int64_t size = n + 2;
  const bool choose = lambda < T(0);
  const bool natural = !choose && lambda == T(0);
  const std::int64_t factor_size = banded_factor_doubles(size);
  // A given lambda > 0 solves by blocks when the functions are too few to
  // keep the device busy one work-item each.
  const band_partition parts = band_blocks(size, ny);
  const bool blocked = !choose && !natural && parts.blocks > 1;
  // lambda = 0 likewise, its band having a row per site.
  const band_partition natural_parts = band_blocks(n, ny);
  const bool natural_blocked = natural && natural_parts.blocks > 1;
  const block_partition site_blocks{n, natural_parts.blocks};
  std::int64_t fit_doubles = blocked ? size + partitioned_band::function_doubles(parts) : size;
  if (natural) fit_doubles = natural_blocked ? n + partitioned_band::function_doubles(natural_parts) : n;

  // Sizes and launch ranges first, then every allocation, then the work.
  const scratch_batches fits = batches_within_budget(ny, fit_doubles);
  const scratch_batches coarse = batches_within_budget(gcv_coarse * ny, size);
  const scratch_batches refine = batches_within_budget(ny, factor_size + size);
  std::int64_t shared_doubles = factor_size;
  std::int64_t work_doubles = fits.per_batch * fit_doubles;
  if (blocked) {
    shared_doubles = partitioned_band::shared_doubles(parts);
    checked_launch_range(fits.per_batch, parts.blocks);
    checked_launch_range(fits.per_batch, penalised_cell_runs(n));
  }
  // Chosen lambdas by blocks likewise: the grid points' factors in batches
  // within half the budget and their scores' solves within the other half;
  // the walks' factors and solves, one each per function, within it.
  const bool gcv_blocked = choose && parts.blocks > 1;
  const std::int64_t factor_doubles = blocked_penalised::doubles(parts);
  const std::int64_t score_doubles = blocked_fit::doubles(parts);
  const scratch_batches grid_batches = batches_within_budget(gcv_coarse, 2 * factor_doubles);
  const scratch_batches score_batches = batches_within_budget(grid_batches.per_batch * ny, 2 * score_doubles);
  const scratch_batches walk_batches = batches_within_budget(ny, factor_doubles + score_doubles);
  if (gcv_blocked) {
    shared_doubles = gcv_coarse * ny;
    work_doubles = std::max(grid_batches.per_batch * factor_doubles + score_batches.per_batch * score_doubles,
                            walk_batches.per_batch * (factor_doubles + score_doubles));
    checked_launch_range(grid_batches.per_batch, parts.blocks);
    checked_launch_range(score_batches.per_batch, parts.blocks);
    checked_launch_range(walk_batches.per_batch, parts.blocks);
    checked_launch_range(walk_batches.per_batch, penalised_cell_runs(n));
  } else if (choose) {
    // Per grid point a factor, its trace and whether it factored; the scores.
    shared_doubles = gcv_coarse * (factor_size + 2) + gcv_coarse * ny;
    work_doubles = coarse.per_batch * size;
    if (refine.per_batch * (factor_size + size) > work_doubles) work_doubles = refine.per_batch * (factor_size + size);
  } else if (natural_blocked) {
    shared_doubles = partitioned_band::shared_doubles(natural_parts) + positive_sites::doubles(n, site_blocks.blocks);
    checked_launch_range(fits.per_batch, natural_parts.blocks);
    checked_launch_range(fits.per_batch, penalised_cell_runs(n));
  } else if (natural) {
    shared_doubles = natural_limit::doubles(n);
  }
  const sycl::range<1> site_range = checked_launch_range(1, n);
  const sycl::range<1> row_range = checked_launch_range(1, size);
  checked_launch_range(1, fits.per_batch);
  checked_launch_range(1, coarse.per_batch);
  checked_launch_range(1, refine.per_batch);

  const std::shared_ptr<double> tables_owner = smoothing_scratch(queue, smoothing_tables::doubles(n));
  const std::shared_ptr<double> shared_owner = smoothing_scratch(queue, shared_doubles);
  const std::shared_ptr<double> work_owner = smoothing_scratch(queue, work_doubles);
  std::shared_ptr<std::int32_t> failures_owner;
  std::shared_ptr<std::int64_t> index_owner;
  if (natural_blocked) {
    index_owner = make_device_array<std::int64_t>(queue, positive_sites::indices(n));
    if (!index_owner) throw velora::qrx::host_bad_alloc(error_domain, "bad alloc");
  }
  if (choose) {
    failures_owner = make_device_array<std::int32_t>(queue, ny > 0 ? ny : 1);
    if (!failures_owner) throw velora::qrx::host_bad_alloc(error_domain, "bad alloc");
  }
  std::shared_ptr<gcv_walk> walks_owner;
  if (gcv_blocked) {
    walks_owner = make_device_array<gcv_walk>(queue, ny > 0 ? ny : 1);
    if (!walks_owner) throw velora::qrx::host_bad_alloc(error_domain, "bad alloc");
  }

  const smoothing_tables t{tables_owner.get(), n};
  const scaled_partition<T, PartHint> x{spline.partitions, n};
  double* const shared = shared_owner.get();
  double* const work = work_owner.get();
  const construct_args<T> a = spline;

  sycl::event last = queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    cgh.parallel_for<smoothing_sites_kernel<T, PartHint, FuncHint>>(site_range, [=](sycl::item<1> item) {
      fill_site(t, x, weights, static_cast<std::int64_t>(item.get_linear_id()));
    });
  });
  last = queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(last);
    cgh.parallel_for<smoothing_bands_kernel<T, PartHint, FuncHint>>(
        row_range, [=](sycl::item<1> item) { gather_band_row(t, static_cast<std::int64_t>(item.get_linear_id())); });
  });
  last = queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(last);
    cgh.single_task<smoothing_summary_kernel<T, PartHint, FuncHint>>([=]() {
      if (!summarise(t, x)) *fault |= static_cast<std::int32_t>(fitting_bad_weights);
    });
  });

  if (ny > 0 && natural_blocked) {
    const positive_sites positives{t, site_blocks, shared + partitioned_band::shared_doubles(natural_parts),
                                   index_owner.get()};
    const natural_band m{positives};
    const partitioned_band band{natural_parts, shared};
    last = submit_range<positive_count_kernel<T, PartHint, FuncHint>>(queue, last, site_blocks.blocks,
                                                                       [=](std::int64_t b) {
                                                                         if (t.sound()) positives.count_block(b);
                                                                       });
    last = queue.submit([&](sycl::handler& cgh) {
      cgh.depends_on(last);
      cgh.single_task<positive_sum_kernel<T, PartHint, FuncHint>>([=]() {
        if (t.sound()) positives.sum_blocks();
      });
    });
    last = submit_range<positive_list_kernel<T, PartHint, FuncHint>>(queue, last, site_blocks.blocks,
                                                                      [=](std::int64_t b) {
                                                                        if (t.sound()) positives.list_block(b);
                                                                      });
    last = submit_range<natural_block_factor_kernel<T, PartHint, FuncHint>>(
        queue, last, natural_parts.blocks, [=](std::int64_t b) {
          if (t.sound()) band.factor_block(m, 0.0, b);
        });
    last = queue.submit([&](sycl::handler& cgh) {
      cgh.depends_on(last);
      cgh.single_task<natural_separator_factor_kernel<T, PartHint, FuncHint>>([=]() {
        if (t.sound() && band.factor_separators(m, 0.0)) t.summary()[smoothing_tables::factored_slot] = 1.0;
      });
    });
    last = submit_blocked_fits<natural_block_solve_kernel<T, PartHint, FuncHint>,
                               natural_separator_solve_kernel<T, PartHint, FuncHint>,
                               natural_block_finish_kernel<T, PartHint, FuncHint>,
                               natural_cell_kernel<T, PartHint, FuncHint>, FuncHint>(
        queue, last, t, a, band, [=] { return m; }, fits, work, fit_doubles,
        [=](const auto& y, std::int64_t r) { return m.right_side(y, r); },
        [=](const double* x, std::int64_t j, std::int64_t run) {
          const std::int64_t from = run * penalised_cells_per_run;
          const std::int64_t to = std::min(from + penalised_cells_per_run, n - 1);
          m.write_cells(smoothing_values_of<FuncHint>(a, j), x, *a.coeffs + j * a.cells() * 4, from, to);
        });
  } else if (ny > 0 && natural) {
    const natural_limit limit{t, shared};
    last = queue.submit([&](sycl::handler& cgh) {
      cgh.depends_on(last);
      cgh.single_task<natural_limit_kernel<T, PartHint, FuncHint>>([=]() {
        if (limit.t.sound()) limit.eliminate();
      });
    });
    last = submit_batches<natural_fit_kernel<T, PartHint, FuncHint>>(
        queue, last, fits, [=](std::int64_t first, std::int64_t i) {
          if (!limit.t.sound()) return;
          const std::int64_t j = first + i;
          limit.fit(smoothing_values_of<FuncHint>(a, j), *a.coeffs + j * a.cells() * 4, work + i * n);
        });
  } else if (ny > 0 && blocked) {
    const double lambda_x = static_cast<double>(lambda);
    const partitioned_band band{parts, shared};
    last = submit_range<smoothing_block_factor_kernel<T, PartHint, FuncHint>>(
        queue, last, parts.blocks, [=](std::int64_t b) {
          if (!t.sound()) return;
          band.factor_block(penalised_matrix_of(t, lambda_x), 0.0, b);
        });
    last = queue.submit([&](sycl::handler& cgh) {
      cgh.depends_on(last);
      cgh.single_task<smoothing_separator_factor_kernel<T, PartHint, FuncHint>>([=]() {
        if (!t.sound()) return;
        if (band.factor_separators(penalised_matrix_of(t, lambda_x), 0.0)) {
          t.summary()[smoothing_tables::factored_slot] = 1.0;
        } else {
          *fault |= static_cast<std::int32_t>(fitting_bad_lambda);
        }
      });
    });
    last = submit_blocked_fits<smoothing_block_solve_kernel<T, PartHint, FuncHint>,
                               smoothing_separator_solve_kernel<T, PartHint, FuncHint>,
                               smoothing_block_finish_kernel<T, PartHint, FuncHint>,
                               smoothing_cell_kernel<T, PartHint, FuncHint>, FuncHint>(
        queue, last, t, a, band, [=] { return penalised_matrix_of(t, lambda_x); }, fits, work, fit_doubles,
        [=](const auto& y, std::int64_t r) { return penalised_right_side(t, y, r); },
        [=](const double* x, std::int64_t j, std::int64_t run) { write_penalised_cells(t, x, a, j, run); });
  } else if (ny > 0 && !choose) {
    const double lambda_x = static_cast<double>(lambda);
    last = queue.submit([&](sycl::handler& cgh) {
      cgh.depends_on(last);
      cgh.single_task<smoothing_factor_kernel<T, PartHint, FuncHint>>([=]() {
        if (!t.sound()) return;
        // lambda integral f_xx^2 dx = lambda / L^3 * integral f_uu^2 du
        const double lambda_u = lambda_x / t.length() / t.length() / t.length();
        if (factor_penalised(t, lambda_u, shared)) {
          t.summary()[smoothing_tables::factored_slot] = 1.0;
        } else {
          *fault |= static_cast<std::int32_t>(fitting_bad_lambda);
        }
      });
    });
    last = submit_batches<smoothing_fit_kernel<T, PartHint, FuncHint>>(
        queue, last, fits, [=](std::int64_t first, std::int64_t i) {
          if (!t.factored()) return;
          write_penalised_fit<FuncHint>(t, shared, a, first + i, work + i * size);
        });
  } else if (ny > 0 && gcv_blocked) {
    last = submit_blocked_gcv<T, PartHint, FuncHint>(queue, last, t, a, parts, grid_batches, score_batches,
                                                     walk_batches, shared, work, walks_owner.get(),
                                                     failures_owner.get(), chosen, fault);
  } else if (ny > 0) {
    double* const grid_rows = shared;
    double* const grid_traces = shared + gcv_coarse * factor_size;
    double* const grid_factored = grid_traces + gcv_coarse;
    double* const scores = grid_factored + gcv_coarse;
    std::int32_t* const failures = failures_owner.get();
    last = queue.submit([&](sycl::handler& cgh) {
      cgh.depends_on(last);
      cgh.parallel_for<gcv_grid_kernel<T, PartHint, FuncHint>>(sycl::range<1>(gcv_coarse), [=](sycl::item<1> item) {
        if (!t.sound()) return;
        const int g = static_cast<int>(item.get_linear_id());
        double* rows = grid_rows + g * factor_size;
        const bool factored = factor_penalised(t, gcv_lambda(t, gcv_grid_point(g)), rows);
        grid_factored[g] = factored ? 1.0 : 0.0;
        grid_traces[g] = factored ? influence_trace(t, rows) : 0.0;
      });
    });
    last = submit_batches<gcv_coarse_kernel<T, PartHint, FuncHint>>(
        queue, last, coarse, [=](std::int64_t first, std::int64_t i) {
          if (!t.sound()) return;
          const std::int64_t g = (first + i) / ny;
          const std::int64_t j = (first + i) % ny;
          const double* rows = grid_rows + g * factor_size;
          scores[g * ny + j] =
              grid_factored[g] != 0.0
                  ? gcv_score(residual_sum(t, rows, smoothing_values_of<FuncHint>(a, j), work + i * size),
                              grid_traces[g], t.positive_weights())
                  : std::numeric_limits<double>::infinity();
        });
    last = submit_batches<gcv_refine_kernel<T, PartHint, FuncHint>>(
        queue, last, refine, [=](std::int64_t first, std::int64_t i) {
          if (!t.sound()) return;
          double* rows = work + i * (factor_size + size);
          const std::int64_t j = first + i;
          failures[j] = write_cross_validated_fit<FuncHint>(t, scores, a, j, rows, rows + factor_size, chosen) ? 0 : 1;
        });
    last = submit_gcv_faults<gcv_fault_kernel<T, PartHint, FuncHint>>(queue, last, t, failures, ny, fault);
  }

  kept.keep(tables_owner, last);
  kept.keep(shared_owner, last);
  kept.keep(work_owner, last);
  if (failures_owner) kept.keep(failures_owner, last);
  if (index_owner) kept.keep(index_owner, last);
  if (walks_owner) kept.keep(walks_owner, last);
  return last;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
