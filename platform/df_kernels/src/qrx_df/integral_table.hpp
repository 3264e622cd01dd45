#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "qrx_df/cell_locator.hpp"
#include "qrx_df/parallel.hpp"
#include "qrx_df/piece_integral.hpp"
#include "qrx_df/two_sum.hpp"

namespace qrx_df {

// Cells per block of the integral table. The blocks are fixed, so the
// table's roundings do not depend on how many threads build it.
inline constexpr std::int64_t integral_block_cells = 1024;

// Fills table[2*(j*nx + k) + {0, 1}] with hi and lo of the integral of
// function j from x_0 to x_k: the compensated sums of the cell integrals
// Q_k(h_k) in three passes (each block's sum; per function, the scan of the
// block sums; each block's prefixes from its offset).
template <typename T>
std::int32_t build_integral_table(const cell_locator<T>& loc, T* const* coeffs, std::int64_t ny, std::int64_t order,
                                  T* table, const qrx_df_threader_block* threader) {
  const std::int64_t nx = loc.nx;
  const std::int64_t nc = nx - 1;
  const std::int64_t blocks = (nc + integral_block_cells - 1) / integral_block_cells;
  if (ny == 0) return QRX_DF_STATUS_OK;
  auto* sums = static_cast<compensated_sum<T>*>(
      std::malloc(static_cast<std::size_t>(ny * blocks) * sizeof(compensated_sum<T>)));
  if (sums == nullptr) return QRX_DF_STATUS_BAD_ALLOC;

  auto block_sum = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t u = begin; u < end; ++u) {
      const std::int64_t j = u / blocks;
      const std::int64_t k0 = (u % blocks) * integral_block_cells;
      const std::int64_t k1 = std::min(nc, k0 + integral_block_cells);
      const T* c = coeffs[j];
      compensated_sum<T> s;
      for (std::int64_t k = k0; k < k1; ++k) s.add(piece_integral(c + k * order, order, loc.width(k)));
      sums[u] = s;
    }
  };
  std::int32_t status = run_units(threader, ny * blocks, ny * nc, block_sum);

  // Block sums become offsets: the sum of the blocks before each.
  auto scan = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t j = begin; j < end; ++j) {
      compensated_sum<T> running;
      for (std::int64_t b = 0; b < blocks; ++b) {
        const compensated_sum<T> s = sums[j * blocks + b];
        sums[j * blocks + b] = running;
        running.add(s);
      }
    }
  };
  if (status == QRX_DF_STATUS_OK) status = run_units(threader, ny, ny * blocks, scan);

  auto prefixes = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t u = begin; u < end; ++u) {
      const std::int64_t j = u / blocks;
      const std::int64_t k0 = (u % blocks) * integral_block_cells;
      const std::int64_t k1 = std::min(nc, k0 + integral_block_cells);
      const T* c = coeffs[j];
      T* out = table + 2 * j * nx;
      compensated_sum<T> s = sums[u];
      for (std::int64_t k = k0; k < k1; ++k) {
        const compensated_sum<T> v = s.normalized();
        out[2 * k] = v.hi;
        out[2 * k + 1] = v.lo;
        s.add(piece_integral(c + k * order, order, loc.width(k)));
      }
      if (k1 == nc) {
        const compensated_sum<T> v = s.normalized();
        out[2 * nc] = v.hi;
        out[2 * nc + 1] = v.lo;
      }
    }
  };
  if (status == QRX_DF_STATUS_OK) status = run_units(threader, ny * blocks, ny * nc, prefixes);
  std::free(sums);
  return status;
}

}  // namespace qrx_df
