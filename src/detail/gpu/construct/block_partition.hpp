#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace velora::qrx::experimental::data_fitting::detail {

// The cells of one function cut into `blocks` consecutive blocks whose
// lengths differ by at most one. Captured by kernels.
struct block_partition {
  std::int64_t cells;
  std::int64_t blocks;

  // First cell of block b; first(blocks) == cells.
  std::int64_t first(std::int64_t b) const { return b * (cells / blocks) + std::min(b, cells % blocks); }
};

// Blocks per function for the partitioned solve of the C2 spline system.
// Each block is one work-item's serial solve and the blocks' separators form
// one serial solve per function, so the count balances the two: enough
// blocks for about 8192 work-items over all functions, at most about
// sqrt(cells) per function, and at least two cells per block (a block's
// first cells hold the solve's intermediate values).
inline block_partition c2_blocks(std::int64_t cells, std::int64_t ny) {
  constexpr std::int64_t work_items = 8192;
  const auto root = static_cast<std::int64_t>(std::sqrt(static_cast<double>(cells)));
  std::int64_t blocks = std::min((work_items + ny - 1) / ny, std::max<std::int64_t>(root, 1));
  blocks = std::clamp<std::int64_t>(blocks, 1, cells / 2);
  return {cells, blocks};
}

}  // namespace velora::qrx::experimental::data_fitting::detail
