#pragma once

// How the least-squares construction cuts its data into blocks and where it
// keeps its partial sums. The sites are cut into a fixed number of
// consecutive blocks that depends only on ndata, nx and ny; every block sums
// into storage of its own, and the partials are added entry by entry in
// block order, so the sums are the same bits however the work is scheduled.
//
// One array of doubles holds, in order:
//   per block:    its partial band of B^T W B (4 per basis function), then
//                 its Schoenberg-Whitney slots; block 0's become the sums;
//   the factor:   banded_factor_doubles(size);
//   right sides:  per (function, block) a partial B^T W y of `size`
//                 entries; block 0's becomes the function's sum, then its
//                 B-spline coefficients.
//
// With more than least_squares_fused_functions functions, and records that
// fit in least_squares_record_bytes, the first pass records every site's
// cell and terms w B_p (cell -1 for a site it skips), and a pass per
// (function, block) reads them instead of locating every site again.
// Otherwise the first pass adds every function's right side as it reads the
// sites. Both ways add the same terms in the same order.

#include <algorithm>
#include <cstdint>

#include "detail/gpu/fitting/banded_factor.hpp"
#include "detail/gpu/fitting/knot_site_slots.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Sites per block and at most this many blocks: one work-item gathers a
// block, and the partials stay few against the data.
inline constexpr std::int64_t least_squares_block_sites = 1024;
inline constexpr std::int64_t least_squares_max_blocks = 4096;
// Sites per basis function at least in a block: zeroing and summing a
// block's partials (about 9 doubles per knot) costs less than its sites.
inline constexpr std::int64_t least_squares_sites_per_function = 8;
// Functions whose right sides the first pass adds.
inline constexpr std::int64_t least_squares_fused_functions = 2;
// Bytes of site records (cell and four terms per site) at most.
inline constexpr double least_squares_record_bytes = 256.0 * 1024 * 1024;
// Bytes of partial sums beyond those of one block.
inline constexpr double least_squares_partial_bytes = 256.0 * 1024 * 1024;

struct least_squares_blocks {
  std::int64_t ndata;
  std::int64_t nx;
  std::int64_t ny;
  std::int64_t blocks;
  bool recorded;  // the sites are recorded for a pass per (function, block)

  std::int64_t size() const { return nx + 2; }  // basis functions
  std::int64_t first(std::int64_t b) const { return b * (ndata / blocks) + std::min(b, ndata % blocks); }

  std::int64_t block_doubles() const { return 4 * size() + knot_site_slots::doubles(nx); }
  std::int64_t band(std::int64_t b) const { return b * block_doubles(); }
  std::int64_t slots(std::int64_t b) const { return band(b) + 4 * size(); }
  std::int64_t factor() const { return blocks * block_doubles(); }
  std::int64_t right_side(std::int64_t j, std::int64_t b) const {
    return factor() + banded_factor_doubles(size()) + (j * blocks + b) * size();
  }
  std::int64_t doubles() const { return right_side(ny, 0); }
};

// The blocks for ndata sites, nx knots and ny functions: about
// least_squares_block_sites sites each, at least
// least_squares_sites_per_function sites per basis function, and
// the partials of every block after the first within
// least_squares_partial_bytes. At least one block, also for no data.
// Records when they pay and fit.
inline least_squares_blocks least_squares_blocks_for(std::int64_t ndata, std::int64_t nx, std::int64_t ny) {
  const std::int64_t size = nx + 2;
  std::int64_t blocks = std::min(ndata / least_squares_block_sites + (ndata % least_squares_block_sites != 0 ? 1 : 0),
                                 least_squares_max_blocks);
  blocks = std::min(blocks, ndata / (least_squares_sites_per_function * size));
  const double per_block = 8.0 * (4.0 * static_cast<double>(size) + static_cast<double>(knot_site_slots::doubles(nx)) +
                                  static_cast<double>(ny) * static_cast<double>(size));
  const double affordable = 1.0 + least_squares_partial_bytes / per_block;
  if (static_cast<double>(blocks) > affordable) blocks = static_cast<std::int64_t>(affordable);
  const bool recorded =
      ny > least_squares_fused_functions && 40.0 * static_cast<double>(ndata) <= least_squares_record_bytes;
  return {ndata, nx, ny, std::max<std::int64_t>(blocks, 1), recorded};
}

}  // namespace velora::qrx::experimental::data_fitting::detail
