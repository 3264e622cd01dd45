#pragma once

#include <cstdint>

namespace velora::qrx::experimental::data_fitting::detail {

// How many cells a leaf of the range tree covers, and the tree's size for a
// number of cells (see range_tree.hpp).
inline constexpr std::int64_t range_tree_block = 32;

struct range_tree_shape {
  std::int64_t blocks;
  std::int64_t leaves;  // P

  static range_tree_shape of(std::int64_t cells) {
    const std::int64_t blocks = (cells + range_tree_block - 1) / range_tree_block;
    std::int64_t leaves = 1;
    while (leaves < blocks) leaves *= 2;
    return {blocks, leaves};
  }
  std::int64_t elements(std::int64_t ny) const { return 2 * 2 * leaves * ny; }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
