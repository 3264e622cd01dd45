#pragma once

// A symmetric positive definite band matrix of half-bandwidth 3 solved by
// blocks, so that one long system keeps many work-items busy.
//
// The rows are cut into consecutive blocks; every block after the first
// starts with a separator of 3 rows, the rest of it is its interior. An
// interior touches only the separators on either side (its 3 first and 3
// last rows reach them), and, as interiors have more than 3 rows, no two
// separators touch. With the interiors I and separators S ordered first,
//   M = [A B; B^T C],   A block diagonal,
// and the separators solve the Schur complement C - B^T A^{-1} B, block
// tridiagonal with 3x3 blocks (a band of half-bandwidth 5), SPD as M is.
//   factor_block (a work-item per block): A_b = L D L^T and the spikes
//     W_b = A_b^{-1} B_b (6 columns: 3 left, 3 right separator rows), and
//     their couplings K_b = B_b^T W_b (6x6).
//   factor_separators (one work-item): the reduced band C - sum K_b,
//     factored as L D L^T.
// Per function, x holding the right side r:
//   solve_block (per block): x_I = A_b^{-1} r_I, then
//     g_b = W_b^T r_I = B_b^T x_I;
//   solve_separators (one work-item): x_S from r_S - sum g_b;
//   finish_block (per block): x_I -= W_b x_S.
// Every pivot, interior or separator, passes factor_band's test against the
// diagonal entry of M in its row, so a refusal does not depend on the cut.
// A single block is the serial factor and solve of banded_factor.hpp.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "detail/gpu/fitting/banded_factor.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// The rows of a band matrix cut into `blocks` consecutive blocks whose
// lengths differ by at most one, each of at least 7 rows (a separator and
// an interior of more than 3). Captured by kernels.
struct band_partition {
  std::int64_t size;
  std::int64_t blocks;

  // First row of block b; first(blocks) == size.
  std::int64_t first(std::int64_t b) const { return b * (size / blocks) + std::min(b, size % blocks); }
  // Block b's interior: rows [interior(b), first(b + 1)).
  std::int64_t interior(std::int64_t b) const { return b == 0 ? 0 : first(b) + 3; }
  std::int64_t separator_rows() const { return 3 * (blocks - 1); }
  // Row of M of row r of the separators' system.
  std::int64_t separator_row(std::int64_t r) const { return first(r / 3 + 1) + r % 3; }
};

// Blocks for a band of `size` rows solved for ny functions: as the C2
// spline's blocks, enough for about 8192 work-items over all functions and
// at most about sqrt(size) per function, so the per-block work and the
// serial separator work balance; and at least band_block_rows rows each, so
// systems of a few thousand rows stay one block (the serial path): blocks
// do three to four times the arithmetic of the serial sweep, which only a
// long band repays. Depends on nothing else, so the results are the same on
// every run.
inline constexpr std::int64_t band_block_rows = 2048;

inline band_partition band_blocks(std::int64_t size, std::int64_t ny) {
  constexpr std::int64_t work_items = 8192;
  const auto root = static_cast<std::int64_t>(std::sqrt(static_cast<double>(size)));
  std::int64_t blocks = std::min((work_items + std::max<std::int64_t>(ny, 1) - 1) / std::max<std::int64_t>(ny, 1),
                                 std::max<std::int64_t>(root, 1));
  blocks = std::max<std::int64_t>(1, std::min(blocks, size / band_block_rows));
  return {size, blocks};
}

// L D L^T of a band of half-bandwidth Width: row a of `rows` holds
// L(a, a-1) .. L(a, a-Width), then 1/D(a). m(d, a) = M(a, a-d) for a >= d;
// diagonal(a) is what pivot a is compared with (see factor_band).
template <int Width, typename Band, typename Diagonal>
bool factor_band_of_width(std::int64_t size, Band m, Diagonal diagonal, double min_ratio, double* rows) {
  constexpr int stride = Width + 1;
  for (std::int64_t a = 0; a < size; ++a) {
    double u[Width] = {};  // u[k-1] = L(a, a-k) D(a-k)
    double d = m(0, a);
    for (int k = Width; k >= 1; --k) {
      if (a < k) {
        u[k - 1] = 0.0;
        continue;
      }
      double v = m(k, a);
      for (int e = k + 1; e <= Width && a >= e; ++e) v -= u[e - 1] * rows[stride * (a - k) + (e - k - 1)];
      u[k - 1] = v;
      const double l = v * rows[stride * (a - k) + Width];
      rows[stride * a + (k - 1)] = l;
      d -= v * l;
    }
    const double m0 = diagonal(a);
    if (!(d > 0.0) || !(d > min_ratio * m0) || !(d <= std::numeric_limits<double>::max())) return false;
    rows[stride * a + Width] = 1.0 / d;
  }
  return true;
}

// Solves with factor_band_of_width's rows in place; x(a) is a reference to
// entry a of the right side.
template <int Width, typename Entry>
void solve_band_of_width(std::int64_t size, const double* rows, Entry x) {
  constexpr int stride = Width + 1;
  for (std::int64_t a = 1; a < size; ++a) {
    double v = x(a);
    for (int k = 1; k <= Width && a >= k; ++k) v -= rows[stride * a + (k - 1)] * x(a - k);
    x(a) = v;
  }
  for (std::int64_t a = size - 1; a >= 0; --a) {
    double v = x(a) * rows[stride * a + Width];
    for (int k = 1; k <= Width && a + k < size; ++k) v -= rows[stride * (a + k) + (k - 1)] * x(a + k);
    x(a) = v;
  }
}

// The solver's storage: one shared array (the factor and what the blocks
// hand to the separators) and, per function, the blocks' products g.
// Trivially copyable; captured by kernels.
class partitioned_band {
 public:
  static constexpr int separator_width = 5;
  static constexpr int spikes = 6;

  partitioned_band(band_partition p, double* shared) : p_(p), shared_(shared) {}

  static std::int64_t shared_doubles(const band_partition& p) {
    return banded_factor_doubles(p.size) + spikes * p.size + spikes * spikes * p.blocks +
           (separator_width + 1) * p.separator_rows() + p.blocks;
  }
  // Per function: g of every block.
  static std::int64_t function_doubles(const band_partition& p) { return spikes * p.blocks; }

  const band_partition& partition() const { return p_; }

  // Block b's interior factor and spikes; m(d, a) = M(a, a - d) of the whole
  // matrix. False (also recorded for factor_separators) when a pivot fails.
  template <typename Band>
  bool factor_block(Band m, double min_ratio, std::int64_t b) const {
    const std::int64_t p = p_.interior(b), q = p_.first(b + 1), len = q - p;
    const bool ok = factor_band(
        len, [&](int d, std::int64_t a) { return m(d, p + a); }, min_ratio, rows() + 4 * p);
    double* k = coupling(b);
    for (int e = 0; e < spikes * spikes; ++e) k[e] = 0.0;
    for (int c = 0; c < spikes; ++c) {
      double* w = spike(b, c);
      for (std::int64_t i = 0; i < len; ++i) w[i] = 0.0;
      if (!has_separator(b, c)) continue;
      for_each_coupling(m, b, c, [&](std::int64_t i, double v) { w[i] = v; });
      if (ok) solve_banded(len, rows() + 4 * p, w);
    }
    // K(c, e) = B(:, c)^T W(:, e): B is nonzero in the first and last 3 rows only.
    for (int c = 0; c < spikes; ++c) {
      if (!has_separator(b, c)) continue;
      for_each_coupling(m, b, c, [&](std::int64_t i, double v) {
        for (int e = 0; e < spikes; ++e) k[spikes * c + e] += v * spike(b, e)[i];
      });
    }
    block_flags()[b] = ok ? 1.0 : 0.0;
    return ok;
  }

  // The separators' system factored, once every block is. False when a
  // block failed or a separator pivot fails.
  template <typename Band>
  bool factor_separators(Band m, double min_ratio) const {
    for (std::int64_t b = 0; b < p_.blocks; ++b) {
      if (block_flags()[b] == 0.0) return false;
    }
    // Entry (r, r - d): within one separator M minus both neighbours'
    // couplings; towards the previous separator minus the coupling through
    // the block between them.
    auto reduced = [&](int d, std::int64_t r) {
      const std::int64_t s = r / 3 + 1;
      const int e = static_cast<int>(r % 3);
      const int e2 = e - d;
      if (e2 >= 0) {
        const double* left = coupling(s - 1);  // right columns are this separator
        const double* right = coupling(s);     // left columns are this separator
        return m(d, p_.first(s) + e) - left[spikes * (3 + e) + 3 + e2] - right[spikes * e + e2];
      }
      if (e2 < -3) return 0.0;  // two separators apart
      return -coupling(s - 1)[spikes * (e2 + 3) + 3 + e];
    };
    return factor_band_of_width<separator_width>(
        p_.separator_rows(), reduced, [&](std::int64_t r) { return m(0, p_.separator_row(r)); }, min_ratio,
        separator_factor());
  }

  // Function step on block b: the interior solved in place, then
  // g_b = W_b^T r_I, which is B_b^T (A_b^{-1} r_I) as A_b is symmetric, so
  // only the few interior rows the separators reach are read again. x is
  // the function's right side (size rows), g its products; m the band.
  template <typename Band>
  void solve_block(Band m, double* x, double* g, std::int64_t b) const {
    const std::int64_t p = p_.interior(b), q = p_.first(b + 1), len = q - p;
    solve_banded(len, rows() + 4 * p, x + p);
    for (int c = 0; c < spikes; ++c) {
      double sum = 0.0;
      if (has_separator(b, c)) for_each_coupling(m, b, c, [&](std::int64_t i, double v) { sum += v * x[p + i]; });
      g[spikes * b + c] = sum;
    }
  }

  // Function step over the separators: their rows of x replaced by the
  // solution of the reduced system.
  void solve_separators(double* x, const double* g) const {
    for (std::int64_t r = 0; r < p_.separator_rows(); ++r) {
      const std::int64_t s = r / 3 + 1, e = r % 3;
      x[p_.separator_row(r)] -= g[spikes * (s - 1) + 3 + e] + g[spikes * s + e];
    }
    solve_band_of_width<separator_width>(p_.separator_rows(), separator_factor(),
                                         [&](std::int64_t r) -> double& { return x[p_.separator_row(r)]; });
  }

  // Function step on block b once the separators are solved: x_I -= W_b x_S.
  void finish_block(double* x, std::int64_t b) const {
    const std::int64_t p = p_.interior(b), q = p_.first(b + 1), len = q - p;
    for (int c = 0; c < spikes; ++c) {
      if (!has_separator(b, c)) continue;
      const double xs = x[c < 3 ? p - 3 + c : q + c - 3];
      const double* w = spike(b, c);
      for (std::int64_t i = 0; i < len; ++i) x[p + i] -= w[i] * xs;
    }
  }

  // Block b's interior factor (factor_band's rows; three zero rows follow).
  double* interior_factor(std::int64_t b) const { return rows() + 4 * p_.interior(b); }
  // Column c of block b's spikes, one entry per interior row.
  double* spike(std::int64_t b, int c) const {
    const std::int64_t p = p_.interior(b), len = p_.first(b + 1) - p;
    return shared_ + banded_factor_doubles(p_.size) + spikes * p + c * len;
  }
  // The separators' factor (factor_band_of_width<separator_width>'s rows).
  double* separator_factor() const {
    return shared_ + banded_factor_doubles(p_.size) + spikes * p_.size + spikes * spikes * p_.blocks;
  }
  // Columns 0..2 are the separator before block b, 3..5 the one after it.
  bool has_separator(std::int64_t b, int c) const { return c < 3 ? b > 0 : b + 1 < p_.blocks; }

 private:
  double* rows() const { return shared_; }
  double* coupling(std::int64_t b) const {
    return shared_ + banded_factor_doubles(p_.size) + spikes * p_.size + spikes * spikes * b;
  }
  double* block_flags() const { return separator_factor() + (separator_width + 1) * p_.separator_rows(); }

  // Calls f(i, M(interior row i, separator row of column c)) for the
  // interior rows that separator row reaches.
  template <typename Band, typename F>
  void for_each_coupling(Band m, std::int64_t b, int c, F f) const {
    const std::int64_t p = p_.interior(b), q = p_.first(b + 1);
    if (c < 3) {
      // Separator row p - 3 + c reaches interior rows p .. p + c.
      for (int i = 0; i <= c; ++i) f(i, m(3 - c + i, p + i));
    } else {
      // Separator row q + c - 3 reaches interior rows q - 3 + (c - 3) .. q - 1.
      const std::int64_t row = q + c - 3;
      for (std::int64_t a = row - 3; a < q; ++a) f(a - p, m(static_cast<int>(row - a), row));
    }
  }

  band_partition p_;
  double* shared_;
};

}  // namespace velora::qrx::experimental::data_fitting::detail
