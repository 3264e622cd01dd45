#pragma once

// The steps of the least-squares cubic spline's construction as device
// functions, one per kernel of gpu_construct_1d_least_squares, in the order
// they run. Each takes the captured arguments and its work-item.

#include <cstdint>
#include <limits>

#include "data_fitting/hints.hpp"
#include "detail/fitting_fault.hpp"
#include "detail/gpu/construct/construct_args.hpp"
#include "detail/gpu/construct/value_index.hpp"
#include "detail/gpu/fitting/banded_factor.hpp"
#include "detail/gpu/fitting/knot_basis_table.hpp"
#include "detail/gpu/fitting/knot_site_slots.hpp"
#include "detail/gpu/fitting/least_squares_blocks.hpp"
#include "detail/gpu/fitting/partitioned_band.hpp"
#include "detail/gpu/interpolate/cell_search.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// What every step captures: plain numbers and USM pointers.
template <typename T, partition_hint PartHint, function_hint DataHint>
struct least_squares_args {
  construct_args<T> spline;
  const T* x;
  const T* y;
  const T* weights;  // null: all 1
  least_squares_blocks blocks;
  knot_cell* cells;          // nx - 1
  knot_weights* knots;       // nx
  double* scratch;           // blocks.doubles()
  std::int32_t* faults;      // each block's, then the construction's: blocks + 1
  std::int32_t* fault;       // the caller's
  std::int64_t* site_cells;  // ndata when blocks.recorded, else unused
  double* site_terms;        // 4 * ndata when blocks.recorded, else unused
  partitioned_band band;     // the solve by blocks, when it has more than one
  double* products;          // per function partitioned_band::function_doubles

  bool partitioned() const { return band.partition().blocks > 1; }

  double weight(std::int64_t i) const { return weights != nullptr ? static_cast<double>(weights[i]) : 1.0; }
  double value(std::int64_t j, std::int64_t i) const {
    return static_cast<double>(y[value_index<DataHint>{blocks.ndata, blocks.ny}(j, i)]);
  }
  knot_site_slots slots(std::int64_t b) const { return {blocks.nx, scratch + blocks.slots(b)}; }
  bool refused() const { return faults[blocks.blocks] != fitting_sound; }
};

// Where a site falls: its cell, its offset from the cell's knot, and the
// cell's four basis functions there. Any site, NaN included, gets a cell
// inside the partition, so no later read leaves the arrays. A
// quasi-uniform partition is searched as a listed one: the same cells, in
// logarithmic time however uneven the knots.
struct located_site {
  std::int64_t k;
  double s;
  double v[4];
};

template <typename T, partition_hint PartHint, function_hint DataHint>
located_site locate_site(const least_squares_args<T, PartHint, DataHint>& a, std::int64_t i) {
  located_site site{};
  const T x = a.x[i];
  constexpr partition_hint search =
      PartHint == partition_hint::uniform ? partition_hint::uniform : partition_hint::non_uniform;
  site.k = find_cell<search>(a.spline.partitions, a.spline.nx, x);
  site.s = static_cast<double>(x) - a.cells[site.k].t;
  knot_basis_values(a.cells[site.k], site.s, site.v);
  return site;
}

// Block b's partial right side of function j, zeroed.
template <typename T, partition_hint PartHint, function_hint DataHint>
void clear_right_side(const least_squares_args<T, PartHint, DataHint>& a, std::int64_t j, std::int64_t b) {
  double* r = a.scratch + a.blocks.right_side(j, b);
  for (std::int64_t e = 0; e < a.blocks.size(); ++e) r[e] = 0.0;
}

// Adds the terms y w B_p of site i of cell k, function j, to block b's
// partial right side; wv holds w B_k..w B_{k+3}.
template <typename T, partition_hint PartHint, function_hint DataHint>
void add_site_terms(const least_squares_args<T, PartHint, DataHint>& a, std::int64_t j, std::int64_t b, std::int64_t k,
                    std::int64_t i, const double* wv) {
  double* r = a.scratch + a.blocks.right_side(j, b) + k;
  const double y = a.value(j, i);
  for (int p = 0; p < 4; ++p) r[p] += y * wv[p];
}

// Step 1, work-item k in [0, nx): the basis table's entries of knot k.
template <typename T, partition_hint PartHint, function_hint DataHint>
void least_squares_basis_step(const least_squares_args<T, PartHint, DataHint>& a, std::int64_t k) {
  build_knot_entry<PartHint>(a.spline.partitions, a.spline.nx, k, a.cells, a.knots);
}

// Step 2, work-item b (a block): checks the block's sites and weights into
// its fault entry, and adds w B_p B_q of every site of positive weight to
// its partial band and the site to its slots; then either adds the block's
// share of B^T W y of every function or, when the sites are recorded,
// records the site's cell and terms for step 5. Sites of weight zero are
// checked but add nothing, and their values are never read.
template <typename T, partition_hint PartHint, function_hint DataHint>
void least_squares_gather_step(const least_squares_args<T, PartHint, DataHint>& a, std::int64_t b) {
  double* band = a.scratch + a.blocks.band(b);
  for (std::int64_t e = 0; e < 4 * a.blocks.size(); ++e) band[e] = 0.0;
  const knot_site_slots slots = a.slots(b);
  slots.clear();
  const bool fused = !a.blocks.recorded;
  if (fused) {
    for (std::int64_t j = 0; j < a.blocks.ny; ++j) clear_right_side(a, j, b);
  }
  const T lo = partition_start<PartHint>(a.spline.partitions, a.spline.nx);
  const T hi = partition_end<PartHint>(a.spline.partitions, a.spline.nx);
  std::int32_t faults = fitting_sound;
  for (std::int64_t i = a.blocks.first(b); i < a.blocks.first(b + 1); ++i) {
    const T x = a.x[i];
    if (!(x >= lo && x <= hi)) faults |= fitting_data_outside;  // also NaN
    const double w = a.weight(i);
    if (!(w >= 0.0 && w <= std::numeric_limits<double>::max())) faults |= fitting_bad_weights;
    if (!(w > 0.0)) {
      if (!fused) a.site_cells[i] = -1;
      continue;
    }
    const located_site site = locate_site(a, i);
    const knot_cell& cell = a.cells[site.k];
    slots.add(site.k, site.s, cell.b1, cell.t + site.s);
    double wv[4];
    for (int p = 0; p < 4; ++p) wv[p] = w * site.v[p];
    for (int p = 0; p < 4; ++p) {
      for (int d = 0; d <= p; ++d) band[4 * (site.k + p) + d] += wv[p] * site.v[p - d];
    }
    if (fused) {
      for (std::int64_t j = 0; j < a.blocks.ny; ++j) add_site_terms(a, j, b, site.k, i, wv);
    } else {
      a.site_cells[i] = site.k;
      for (int p = 0; p < 4; ++p) a.site_terms[4 * i + p] = wv[p];
    }
  }
  a.faults[b] = faults;
}

// Step 3, work-item r in [0, nx + 2): row r of the band summed over the
// blocks in order into block 0's, and, for r < nx, the slots of knot r and
// of the inside of cell r merged likewise.
template <typename T, partition_hint PartHint, function_hint DataHint>
void least_squares_sum_step(const least_squares_args<T, PartHint, DataHint>& a, std::int64_t r) {
  double* sum = a.scratch + a.blocks.band(0) + 4 * r;
  for (std::int64_t b = 1; b < a.blocks.blocks; ++b) {
    const double* part = a.scratch + a.blocks.band(b) + 4 * r;
    for (int d = 0; d < 4; ++d) sum[d] += part[d];
  }
  if (r < a.blocks.nx) {
    const knot_site_slots all = a.slots(0);
    for (std::int64_t b = 1; b < a.blocks.blocks; ++b) all.merge_knot(a.slots(b), r);
  }
}

// A pivot below this share of its diagonal entry is rounding: the data
// leave the spline undetermined. The CPU kernels use the same rule.
inline constexpr double least_squares_min_pivot = 64 * std::numeric_limits<double>::epsilon();

// The summed band of B^T W B: m(d, a) = M(a, a - d).
struct summed_band {
  const double* band;
  double operator()(int d, std::int64_t row) const { return band[4 * row + d]; }
};

template <typename T, partition_hint PartHint, function_hint DataHint>
summed_band summed_band_of(const least_squares_args<T, PartHint, DataHint>& a) {
  return {a.scratch + a.blocks.band(0)};
}

// Step 4 by blocks first, work-item b (a block of the band's rows): the
// block's share of the factor. Data refused here are refused again below.
template <typename T, partition_hint PartHint, function_hint DataHint>
void least_squares_block_factor_step(const least_squares_args<T, PartHint, DataHint>& a, std::int64_t b) {
  a.band.factor_block(summed_band_of(a), least_squares_min_pivot, b);
}

// Step 4, one work-item: the blocks' faults, then the Schoenberg-Whitney
// condition and the factor (or, by blocks, its separators), into the
// construction's fault entry and the caller's fault.
template <typename T, partition_hint PartHint, function_hint DataHint>
void least_squares_factor_step(const least_squares_args<T, PartHint, DataHint>& a) {
  std::int32_t faults = fitting_sound;
  for (std::int64_t b = 0; b < a.blocks.blocks; ++b) faults |= a.faults[b];
  if (faults == fitting_sound) {
    const summed_band band = summed_band_of(a);
    const bool determined =
        a.slots(0).determine_spline() &&
        (a.partitioned()
             ? a.band.factor_separators(band, least_squares_min_pivot)
             : factor_band(a.blocks.size(), band, least_squares_min_pivot, a.scratch + a.blocks.factor()));
    if (!determined) faults = fitting_undetermined;
  }
  a.faults[a.blocks.blocks] = faults;
  if (faults != fitting_sound) *a.fault |= faults;
}

// Step 5 (sites recorded), work-item g = (function j, block b): block b's
// share of B^T W y for function j, from the recorded sites.
template <typename T, partition_hint PartHint, function_hint DataHint>
void least_squares_right_side_step(const least_squares_args<T, PartHint, DataHint>& a, std::int64_t g) {
  if (a.refused()) return;
  const std::int64_t j = g / a.blocks.blocks;
  const std::int64_t b = g % a.blocks.blocks;
  clear_right_side(a, j, b);
  for (std::int64_t i = a.blocks.first(b); i < a.blocks.first(b + 1); ++i) {
    const std::int64_t k = a.site_cells[i];
    if (k >= 0) add_site_terms(a, j, b, k, i, a.site_terms + 4 * i);
  }
}

// Step 6, work-item g = (function j, basis function e): entry e of function
// j's right side summed over the blocks in order into block 0's.
template <typename T, partition_hint PartHint, function_hint DataHint>
void least_squares_right_side_sum_step(const least_squares_args<T, PartHint, DataHint>& a, std::int64_t g) {
  if (a.refused()) return;
  const std::int64_t j = g / a.blocks.size();
  const std::int64_t e = g % a.blocks.size();
  double sum = a.scratch[a.blocks.right_side(j, 0) + e];
  for (std::int64_t b = 1; b < a.blocks.blocks; ++b) sum += a.scratch[a.blocks.right_side(j, b) + e];
  a.scratch[a.blocks.right_side(j, 0) + e] = sum;
}

// Step 7, work-item j: function j's B-spline coefficients, in place of its
// right side.
template <typename T, partition_hint PartHint, function_hint DataHint>
void least_squares_solve_step(const least_squares_args<T, PartHint, DataHint>& a, std::int64_t j) {
  if (a.refused()) return;
  solve_banded(a.blocks.size(), a.scratch + a.blocks.factor(), a.scratch + a.blocks.right_side(j, 0));
}

// Step 7 by blocks, in three passes: work-item g = (function j, block b)
// solves the block's interior, work-item j the separators, then (j, b)
// finishes the block.
template <typename T, partition_hint PartHint, function_hint DataHint>
void least_squares_block_solve_step(const least_squares_args<T, PartHint, DataHint>& a, std::int64_t g) {
  if (a.refused()) return;
  const std::int64_t blocks = a.band.partition().blocks;
  const std::int64_t j = g / blocks;
  a.band.solve_block(summed_band_of(a), a.scratch + a.blocks.right_side(j, 0),
                     a.products + j * partitioned_band::function_doubles(a.band.partition()), g % blocks);
}

template <typename T, partition_hint PartHint, function_hint DataHint>
void least_squares_separator_solve_step(const least_squares_args<T, PartHint, DataHint>& a, std::int64_t j) {
  if (a.refused()) return;
  a.band.solve_separators(a.scratch + a.blocks.right_side(j, 0),
                          a.products + j * partitioned_band::function_doubles(a.band.partition()));
}

template <typename T, partition_hint PartHint, function_hint DataHint>
void least_squares_block_finish_step(const least_squares_args<T, PartHint, DataHint>& a, std::int64_t g) {
  if (a.refused()) return;
  const std::int64_t blocks = a.band.partition().blocks;
  a.band.finish_block(a.scratch + a.blocks.right_side(g / blocks, 0), g % blocks);
}

// Step 8, work-item g = (function j, cell k): the cell's cubic through the
// spline's values and second derivatives at its two knots, computed in
// double and stored in T as c0 + c1 t + c2 t^2 + c3 t^3, t = x - t_k.
template <typename T, partition_hint PartHint, function_hint DataHint>
void least_squares_cell_step(const least_squares_args<T, PartHint, DataHint>& a, std::int64_t g) {
  if (a.refused()) return;
  const function_and_cell at(g, a.spline.cells());
  const std::int64_t nx = a.spline.nx;
  const double* c = a.scratch + a.blocks.right_side(at.j, 0);
  double f[2], m[2];
  for (int e = 0; e < 2; ++e) {
    const std::int64_t k = at.k + e;
    const knot_weights& w = a.knots[k];
    f[e] = k + 1 < nx ? w.v0 * c[k] + w.v1 * c[k + 1] + w.v2 * c[k + 2] : c[nx + 1];
    const double d1 = 3.0 * (c[k + 1] - c[k]) * w.rd1;
    const double d2 = 3.0 * (c[k + 2] - c[k + 1]) * w.rd2;
    m[e] = 2.0 * (d2 - d1) * w.re;
  }
  const double r = a.knots[at.k].reciprocal;
  T* cell = *a.spline.coeffs + (at.j * a.spline.cells() + at.k) * 4;
  cell[0] = static_cast<T>(f[0]);
  cell[1] = static_cast<T>((f[1] - f[0]) * r - (2.0 * m[0] + m[1]) / (6.0 * r));
  cell[2] = static_cast<T>(0.5 * m[0]);
  cell[3] = static_cast<T>((m[1] - m[0]) * r / 6.0);
}

}  // namespace velora::qrx::experimental::data_fitting::detail
