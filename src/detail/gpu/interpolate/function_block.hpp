#pragma once

#include <algorithm>
#include <cstdint>

namespace velora::qrx::experimental::data_fitting::detail {

// Functions evaluated by one work-item at one site. A work-item finds its
// site's cell once and evaluates that cell for every function of its block,
// so the search costs once per site and block, not once per (function, site)
// pair. Blocks of 32 functions make the search a small part of the work
// (from 16 to 128 on 1001 breakpoints and 1000 functions, 32 was the
// fastest); neighbouring work-items share a block, so the coefficients they
// read together stay within about a megabyte there, and a block does not
// leave too few work-items to share out: it shrinks while fewer than
// min_work_items would run.
inline constexpr std::int64_t max_function_block = 32;
inline constexpr std::int64_t min_work_items = std::int64_t{1} << 14;

inline std::int64_t function_block(std::int64_t nsites, std::int64_t ny) {
  std::int64_t block = std::min(ny, max_function_block);
  while (block > 1 && nsites * ((ny + block - 1) / block) < min_work_items) block = (block + 1) / 2;
  return std::max<std::int64_t>(block, 1);
}

// Number of work-items of a call: one per site and block of functions.
// Never more than nsites*ny, so it stays below 2^31 when that product does.
inline std::int64_t function_block_work_items(std::int64_t nsites, std::int64_t ny, std::int64_t block) {
  return nsites * ((ny + block - 1) / block);
}

// Site s = k % nsites and functions [first, last) of work-item k: the block
// k / nsites. Neighbouring work-items take neighbouring sites of one block,
// so they read neighbouring sites and, in the function-major layouts, write
// neighbouring results. Launches stay below 2^31 work-items, so 32-bit
// division is exact, and it costs far less than 64-bit division on CPUs and
// GPUs alike.
struct site_and_functions {
  site_and_functions(std::int64_t k, std::int64_t nsites, std::int64_t block, std::int64_t ny) {
    const std::uint32_t b = static_cast<std::uint32_t>(k) / static_cast<std::uint32_t>(nsites);
    s = static_cast<std::uint32_t>(k) - b * static_cast<std::uint32_t>(nsites);
    first = static_cast<std::int64_t>(b) * block;
    last = std::min(first + block, ny);
  }
  std::int64_t s;
  std::int64_t first;
  std::int64_t last;
};

}  // namespace velora::qrx::experimental::data_fitting::detail
