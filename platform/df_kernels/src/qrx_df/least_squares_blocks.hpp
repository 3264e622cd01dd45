#pragma once

// The normal equations B^T W B c = B^T W y of a least-squares cubic spline
// on given knots, gathered over the data in blocks. The data are cut into a
// fixed number of consecutive blocks that depends only on the number of
// data and knots, never on the threads; each block's partial sums go to its
// own storage, and partials are added entry by entry in block order, so the
// sums are the same bits on any number of threads, and a function's right
// side does not depend on which other functions come with it.
//
// A first pass over each block locates every site, evaluates its four basis
// functions, adds w B_p B_q to the block's band and records the site in the
// block's Schoenberg-Whitney slots. With few functions it also adds the
// block's share of B^T W y for every function (their values read as the
// sites are); otherwise it keeps, for each site of positive weight, its
// index, its cell and w B_p, so the passes over blocks of functions read no
// site again. Both ways add the same terms in the same order. Sites of
// weight zero are dropped there: their values are never read.

#include <cstdint>
#include <new>

#include "qrx_df/knot_basis.hpp"
#include "qrx_df/schoenberg_whitney.hpp"
#include "qrx_df/task_record.hpp"
#include "qrx_df/work_buffer.hpp"

namespace qrx_df {

// Sites per block, and at most this many blocks: enough units for the
// threads, few partials to add.
inline constexpr std::int64_t least_squares_block_sites = 4096;
inline constexpr std::int64_t least_squares_max_blocks = 16;

// Number of blocks for ndata sites and a basis of `size` functions: at most
// one block per `size` sites, so the partial bands never outgrow the data.
inline std::int64_t least_squares_block_count(std::int64_t ndata, std::int64_t size) {
  std::int64_t blocks = (ndata + least_squares_block_sites - 1) / least_squares_block_sites;
  if (blocks > least_squares_max_blocks) blocks = least_squares_max_blocks;
  if (blocks > ndata / size) blocks = ndata / size;
  return blocks > 1 ? blocks : 1;
}

// Functions whose right sides the first pass gathers, when their partials
// take at most fused_doubles: the records of every site would cost more
// (mostly in fresh pages) than reading a few rows of values at once.
inline constexpr std::int64_t fused_max_functions = 2;
inline constexpr std::int64_t fused_doubles = std::int64_t{1} << 22;

// An array of 64-bit integers owned by one scope (see work_buffer).
class index_buffer {
 public:
  explicit index_buffer(std::int64_t count)
      : p_(count > 0 && product_fits(count, 8) ? new (std::nothrow) std::int64_t[static_cast<std::size_t>(count)]
                                               : nullptr) {}
  ~index_buffer() { delete[] p_; }
  index_buffer(const index_buffer&) = delete;
  index_buffer& operator=(const index_buffer&) = delete;
  bool ok() const { return p_ != nullptr; }
  std::int64_t* data() const { return p_; }

 private:
  std::int64_t* p_;
};

class least_squares_blocks {
 public:
  // ny functions; their right sides come with the first pass when few.
  least_squares_blocks(const knot_basis& basis, std::int64_t ndata, std::int64_t ny)
      : basis_(basis),
        ndata_(ndata),
        size_(basis.size()),
        blocks_(least_squares_block_count(ndata, basis.size())),
        slot_doubles_(site_slots::doubles(basis.knots())),
        fused_(ny <= fused_max_functions && ny * size_ <= fused_doubles / blocks_ ? ny : -1),
        records_(fused_ < 0 ? ndata : 0),
        index_(records_),
        cell_(records_),
        kept_(blocks_),
        wv_(product_fits(records_, 4) ? 4 * records_ : -1),
        partials_(product_fits(blocks_, 4 * size_ + slot_doubles_ + (fused_ > 0 ? fused_ * size_ : 0))
                      ? blocks_ * stride()
                      : -1),
        band_(4 * size_) {}

  bool ok() const {
    return (records_ == 0 || (index_.ok() && cell_.ok() && wv_.ok())) && kept_.ok() && partials_.ok() && band_.ok();
  }
  std::int64_t blocks() const { return blocks_; }
  std::int64_t size() const { return size_; }
  std::int64_t first(std::int64_t b) const { return b * ndata_ / blocks_; }

  // The first pass over block b. locate(i, &cell, &s) gives site i's cell
  // and offset from its left knot, weight(i) its weight, y(j, i) function
  // j's value there.
  template <typename Locate, typename Weight, typename Y>
  void gather(std::int64_t b, Locate locate, Weight weight, Y y) {
    double* band = partial_band(b);
    double* rhs = partial_rhs(b);
    const std::int64_t fused = fused_ > 0 ? fused_ : 0;
    for (std::int64_t e = 0; e < 4 * size_; ++e) band[e] = 0.0;
    for (std::int64_t e = 0; e < fused * size_; ++e) rhs[e] = 0.0;
    site_slots slots(basis_.knots(), partial_slots(b));
    slots.clear();
    // Sites are located a run at a time before their terms are added, so
    // the searches of a run overlap instead of waiting on each other.
    constexpr int run = 128;
    std::int64_t site[run], cell[run];
    double offset[run], weights[run];
    std::int64_t kept = first(b);
    for (std::int64_t i0 = first(b); i0 < first(b + 1);) {
      int n = 0;
      for (; n < run && i0 < first(b + 1); ++i0) {
        const double w = weight(i0);
        if (!(w > 0.0)) continue;
        site[n] = i0;
        weights[n] = w;
        ++n;
      }
      for (int q = 0; q < n; ++q) locate(site[q], cell + q, offset + q);
      for (int q = 0; q < n; ++q) {
        const std::int64_t i = site[q], k = cell[q];
        const double s = offset[q];
        double v[4];
        basis_.values(k, s, v);
        slots.add(k, s, basis_.t(k + 1) - basis_.t(k), basis_.t(k) + s);
        double wv[4];
        for (int p = 0; p < 4; ++p) wv[p] = weights[q] * v[p];
        for (int p = 0; p < 4; ++p) {
          for (int d = 0; d <= p; ++d) band[4 * (k + p) + d] += wv[p] * v[p - d];
        }
        for (std::int64_t j = 0; j < fused; ++j) add_site(rhs + j * size_ + k, static_cast<double>(y(j, i)), wv);
        if (records_ > 0) {
          for (int p = 0; p < 4; ++p) wv_.data()[4 * kept + p] = wv[p];
          index_.data()[kept] = i;
          cell_.data()[kept] = k;
        }
        ++kept;
      }
    }
    kept_.data()[b] = kept;
  }

  // Band entry (a, a - d) summed over the blocks in order, for the rows
  // [a0, a1); then band(d, a) reads it.
  void sum_band(std::int64_t a0, std::int64_t a1) {
    for (std::int64_t e = 4 * a0; e < 4 * a1; ++e) {
      double sum = 0.0;
      for (std::int64_t b = 0; b < blocks_; ++b) sum += partial_band(b)[e];
      band_.data()[e] = sum;
    }
  }
  double band(int d, std::int64_t a) const { return band_.data()[4 * a + d]; }

  // The Schoenberg-Whitney condition on every block's sites, merged into
  // block 0's slots.
  bool determine_spline() {
    site_slots all(basis_.knots(), partial_slots(0));
    for (std::int64_t b = 1; b < blocks_; ++b) all.merge(site_slots(basis_.knots(), partial_slots(b)));
    return all.determine_spline();
  }

  // Block b's share of B^T W y for functions j..j+F-1: r[l * size + a] for
  // lane l, set (not added to). y(l, i) is lane l's value at site i.
  template <int F, typename Y>
  void right_sides(std::int64_t b, std::int64_t j, Y y, double* r) const {
    if (fused_ >= 0) {
      const double* from = partial_rhs(b) + j * size_;
      for (std::int64_t e = 0; e < F * size_; ++e) r[e] = from[e];
      return;
    }
    for (std::int64_t e = 0; e < F * size_; ++e) r[e] = 0.0;
    const std::int64_t* index = index_.data();
    const std::int64_t* cell = cell_.data();
    for (std::int64_t p = first(b); p < kept_.data()[b]; ++p) {
      const double* wv = wv_.data() + 4 * p;
      const std::int64_t i = index[p];
      double* rk = r + cell[p];
      for (int l = 0; l < F; ++l) add_site(rk + l * size_, static_cast<double>(y(l, i)), wv);
    }
  }

 private:
  // One site's terms y w B_p of one function's right side, from its cell's row.
  static void add_site(double* row, double y, const double* wv) {
    row[0] += y * wv[0];
    row[1] += y * wv[1];
    row[2] += y * wv[2];
    row[3] += y * wv[3];
  }

  std::int64_t stride() const { return 4 * size_ + slot_doubles_ + (fused_ > 0 ? fused_ * size_ : 0); }
  double* partial_band(std::int64_t b) const { return partials_.data() + b * stride(); }
  double* partial_slots(std::int64_t b) const { return partial_band(b) + 4 * size_; }
  double* partial_rhs(std::int64_t b) const { return partial_slots(b) + slot_doubles_; }

  const knot_basis& basis_;
  std::int64_t ndata_;
  std::int64_t size_;
  std::int64_t blocks_;
  std::int64_t slot_doubles_;
  std::int64_t fused_;    // functions gathered with the first pass, or -1
  std::int64_t records_;  // sites recorded for later passes
  index_buffer index_;
  index_buffer cell_;
  index_buffer kept_;  // end of each block's kept sites
  work_buffer wv_;
  work_buffer partials_;
  work_buffer band_;
};

}  // namespace qrx_df
