#pragma once

// The sites of positive weight listed in order, found by blocks of sites so
// that a long partition keeps many work-items busy:
//   count (a work-item per block)  its positive sites and the distances it
//                                  hands on to the next block
//   offsets (one work-item)        each block's first list entry and the
//                                  distance from the last positive site
//                                  before it, over the blocks in order
//   list (a work-item per block)   its entries, each site's rank and offset
// Distances are on the scaled partition [0, 1], sums of cell widths taken
// from left to right as a serial sweep takes them.

#include <cstdint>

#include "detail/gpu/construct/block_partition.hpp"
#include "detail/gpu/fitting/smoothing_tables.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// A view of the list in `data` (doubles(n, blocks)) and `index`
// (indices(n)); trivially copyable, so kernels capture it.
struct positive_sites {
  smoothing_tables t;
  block_partition parts;  // of the n sites
  double* data;
  std::int64_t* index;

  static std::int64_t doubles(std::int64_t n, std::int64_t blocks) { return 2 * n + 4 * blocks + 2; }
  static std::int64_t indices(std::int64_t n) { return 2 * n; }

  // Number of positive sites.
  std::int64_t count() const { return static_cast<std::int64_t>(totals()[0]); }
  // Site of positive entry k.
  std::int64_t site(std::int64_t k) const { return index[t.sites() + k]; }
  // Entry of the last positive site at or before site i, -1 before the first.
  std::int64_t rank(std::int64_t i) const { return index[i]; }
  // u(i) - u(site(rank(i))), or u(i) - u(0) before the first positive site.
  double offset(std::int64_t i) const { return data[i]; }
  // u(site(k + 1)) - u(site(k)), k + 1 < count().
  double span(std::int64_t k) const { return data[t.sites() + k]; }
  // u(site(0)) - u(0).
  double lead() const { return totals()[1]; }

  void count_block(std::int64_t b) const {
    const std::int64_t s = parts.first(b), e = parts.first(b + 1);
    double positives = 0.0, whole = 0.0, trail = 0.0;
    for (std::int64_t i = s; i < e; ++i) {
      if (i > s) {
        whole += t.width(i - 1);
        trail += t.width(i - 1);
      }
      if (t.weight(i) > 0) {
        positives += 1.0;
        trail = 0.0;
      }
    }
    if (e < t.sites()) {  // on to the next block's first site
      whole += t.width(e - 1);
      trail += t.width(e - 1);
    }
    block(b)[0] = positives;
    block(b)[1] = whole;
    block(b)[2] = trail;
  }

  // After every block is counted.
  void sum_blocks() const {
    double entries = 0.0, carry = 0.0;
    for (std::int64_t b = 0; b < parts.blocks; ++b) {
      double* v = block(b);
      const double positives = v[0], whole = v[1], trail = v[2];
      v[0] = entries;
      v[3] = carry;
      entries += positives;
      carry = positives > 0.0 ? trail : carry + whole;
    }
    totals()[0] = entries;
  }

  // After sum_blocks.
  void list_block(std::int64_t b) const {
    const std::int64_t s = parts.first(b), e = parts.first(b + 1);
    std::int64_t k = static_cast<std::int64_t>(block(b)[0]) - 1;
    double off = block(b)[3];
    for (std::int64_t i = s; i < e; ++i) {
      if (i > s) off += t.width(i - 1);
      if (t.weight(i) > 0) {
        if (k >= 0) {
          data[t.sites() + k] = off;
        } else {
          totals()[1] = off;
        }
        ++k;
        index[t.sites() + k] = i;
        off = 0.0;
      }
      index[i] = k;
      data[i] = off;
    }
  }

 private:
  double* block(std::int64_t b) const { return data + 2 * t.sites() + 4 * b; }
  double* totals() const { return data + 2 * t.sites() + 4 * parts.blocks; }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
