// Solving kernels: the range tree of a task, and the roots of f(x) = y
// found through it. A level visits only the leaves whose range holds it and
// runs the cell root finder on their cells; a function whose every piece
// rises (or falls) takes its levels in chunks down one path of the tree to
// the only cell that can hold each (monotone_inverse.hpp).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "qrx_df/cell_locator.hpp"
#include "qrx_df/cell_roots.hpp"
#include "qrx_df/evaluable_task.hpp"
#include "qrx_df/isa.hpp"
#include "qrx_df/monotone_inverse.hpp"
#include "qrx_df/parallel.hpp"
#include "qrx_df/range_tree.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/task_record.hpp"

namespace qrx_df {
namespace {

constexpr std::int64_t block_levels = 256;

template <typename T>
std::int32_t range_tree(qrx_df_task* task, T* tree, const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_evaluable<T>(task); status != QRX_DF_STATUS_OK) return status;
  if (task->ny > 0 && tree == nullptr) return QRX_DF_STATUS_NO_TABLE;
  if (!product_fits(4, qrx_df_range_tree_leaves(task->nx), task->ny, sizeof(T))) return QRX_DF_STATUS_BAD_NY;
  cell_locator<T> loc;
  if (!loc.attach(task, threader)) return QRX_DF_STATUS_BAD_ALLOC;
  return build_range_tree(loc, reinterpret_cast<T* const*>(task->coeffs), task->ny, task->order, tree, threader);
}

// The roots of one function at one level: the cells of every leaf whose
// range holds the level, each skipped unless its values' hull (the
// Bernstein coefficients of its piece and the next cell's start, widened by
// their rounding) holds the level.
template <typename T>
struct function_roots {
  const cell_locator<T>* loc;
  const T* c;
  const T* tree;
  std::int64_t order;
  std::int64_t nc;
  std::int64_t leaves;

  // Bit i set: cell k0 + i (of n <= 32) may hold the level. A first pass
  // without branches (it vectorises) keeps the cells whose values can reach
  // the level at all, |y - c0| <= |c1| h + |c2| h^2 + |c3| h^3 widened by
  // the rounding; the few it keeps are then held to the hull of their values
  // (the Bernstein coefficients of the piece and the next cell's start).
  // NaN holds nothing.
  template <int Order>
  std::uint32_t candidates(std::int64_t k0, std::int64_t n, T y) const {
    T h[QRX_DF_RANGE_TREE_BLOCK];
    for (std::int64_t i = 0; i < n; ++i) h[i] = loc->width(k0 + i);
    const T* p = c + k0 * Order;
    const T ay = std::fabs(y);
    const T widen = T(1) + T(4) * root_rounding<T>;
    bool reach[QRX_DF_RANGE_TREE_BLOCK];
    for (std::int64_t i = 0; i < n; ++i) {
      const T* q = p + i * Order;
      T span = std::fabs(q[1] * h[i]);
      if constexpr (Order == 4) span += std::fabs(q[2] * h[i] * h[i]) + std::fabs(q[3] * h[i] * h[i] * h[i]);
      const T gap = std::fabs(y - q[0]);
      reach[i] = gap <= (span + T(4) * root_rounding<T> * (std::fabs(q[0]) + ay)) * widen;
    }
    std::uint32_t bits = 0;
    for (std::int64_t i = 0; i < n; ++i) {
      if (!reach[i]) continue;
      const std::int64_t k = k0 + i;
      bits |= static_cast<std::uint32_t>(hull_holds<Order>(p + i * Order, h[i], k + 1 < nc ? p + (i + 1) * Order : nullptr, y))
              << i;
    }
    return bits;
  }

  template <int Order>
  bool hull_holds(const T* q, T h, const T* next, T y) const {
    const T a0 = q[0], a1 = q[1] * h;
    T lo = a0, hi = a0, size = std::fabs(a0) + std::fabs(a1);
    T end = a0 + a1;
    if constexpr (Order == 4) {
      const T a2 = q[2] * h * h;
      const T a3 = q[3] * h * h * h;
      size += std::fabs(a2) + std::fabs(a3);
      const T b1 = a0 + a1 / T(3);
      const T b2 = a0 + (a1 * T(2) + a2) / T(3);
      end = end + a2 + a3;
      lo = std::min(std::min(lo, b1), b2);
      hi = std::max(std::max(hi, b1), b2);
    }
    lo = std::min(lo, end);
    hi = std::max(hi, end);
    if (next != nullptr && next[0] == next[0]) {
      lo = std::min(lo, next[0]);
      hi = std::max(hi, next[0]);
    }
    const T w = T(4) * root_rounding<T> * (size + std::fabs(y));
    return y >= lo - w && y <= hi + w;  // false for NaN
  }

  // The roots in cell k, as the walk's leaves give them.
  template <typename Add>
  void cell(std::int64_t k, T y, Add&& add) const {
    const T* p = c + k * order;
    const bool last = k + 1 == nc;
    const T* next = last ? nullptr : p + order;
    const T h = loc->width(k);
    T right;
    if (next != nullptr && next[0] == next[0]) {
      right = next[0] - y;
    } else {
      right = level_piece<T>{p, order, p[0] - y}.value(h);
    }
    const bool after_flat = k > 0 && is_flat(p - order, order) && p[-order] == y;
    const T origin = loc->origin(k);
    cell_roots(p, order, h, right, last, after_flat, y, [&](T t) { add(origin + t); });
  }

  // The inverse of a function whose every piece rises or falls, for m <=
  // monotone_inverse::chunk levels, by the chunk's variant; a cell whose
  // piece turns inside goes through cell() itself.
  void inverse(invert_chunk_fn<T> invert, const T* y, std::int64_t m, std::int64_t max_roots, T* roots,
               std::int64_t* counts) const {
    constexpr std::int64_t chunk = monotone_inverse<T>::chunk;
    std::int64_t cells[chunk];
    T x[chunk];
    inverse_outcome outcome[chunk];
    invert(monotone_inverse<T>{loc, c, tree, nc, leaves}, y, m, cells, x, outcome);
    for (std::int64_t i = 0; i < m; ++i) {
      T* out = roots != nullptr ? roots + i * max_roots : nullptr;
      std::int64_t count = 0;
      if (outcome[i] == inverse_outcome::general) {
        cell(cells[i], y[i], [&](T r) {
          if (count < max_roots) out[count] = r;
          ++count;
        });
      } else if (outcome[i] == inverse_outcome::root) {
        if (max_roots > 0) out[0] = x[i];
        count = 1;
      }
      counts[i] = count;
    }
  }

  template <typename Add>
  void find(T y, Add&& add) const {
    leaves_holding(tree, leaves, y, [&](std::int64_t leaf) {
      const std::int64_t k0 = leaf * QRX_DF_RANGE_TREE_BLOCK;
      const std::int64_t n = std::min(nc - k0, std::int64_t{QRX_DF_RANGE_TREE_BLOCK});
      std::uint32_t bits = order == 2 ? candidates<2>(k0, n, y) : candidates<4>(k0, n, y);
      while (bits != 0) {
        const std::int64_t k = k0 + __builtin_ctz(bits);
        bits &= bits - 1;
        cell(k, y, add);
      }
    });
  }
};

template <typename T>
std::int32_t solve(qrx_df_task* task, const T* tree, std::int64_t n, const T* y, std::int64_t max_roots, T* roots,
                   std::int64_t* counts, const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_evaluable<T>(task); status != QRX_DF_STATUS_OK) return status;
  if (n < 0) return QRX_DF_STATUS_BAD_NSITES;
  if (max_roots < 0) return QRX_DF_STATUS_BAD_MAX_ROOTS;
  const std::int64_t ny = task->ny;
  if (!product_fits(ny, n, max_roots > 0 ? max_roots : 1, sizeof(T))) return QRX_DF_STATUS_BAD_NY;
  if (n == 0 || ny == 0) return QRX_DF_STATUS_OK;
  if (y == nullptr) return QRX_DF_STATUS_NO_LEVELS;
  if (counts == nullptr || (max_roots > 0 && roots == nullptr)) return QRX_DF_STATUS_NO_RESULTS;
  if (tree == nullptr) return QRX_DF_STATUS_NO_TABLE;
  cell_locator<T> loc;
  if (!loc.attach(task, threader)) return QRX_DF_STATUS_BAD_ALLOC;

  const std::int64_t leaves = qrx_df_range_tree_leaves(task->nx);
  T* const* coeffs = reinterpret_cast<T* const*>(task->coeffs);
  const std::int64_t blocks = (n + block_levels - 1) / block_levels;
  const isa target = best_isa();
  auto job = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t u = begin; u < end; ++u) {
      const std::int64_t j = u / blocks;
      const std::int64_t i0 = (u % blocks) * block_levels;
      const std::int64_t i1 = std::min(n, i0 + block_levels);
      const function_roots<T> f{&loc, coeffs[j], tree + 2 * j * 2 * leaves, task->order, task->nx - 1, leaves};
      if (f.tree[0] != T(0)) {
        const invert_chunk_fn<T> invert = choose_invert_chunk<T>(target, task->order, f.tree[0] > T(0));
        for (std::int64_t i = i0; i < i1; i += monotone_inverse<T>::chunk) {
          const std::int64_t m = std::min(i1 - i, monotone_inverse<T>::chunk);
          f.inverse(invert, y + i, m, max_roots, roots != nullptr ? roots + (j * n + i) * max_roots : nullptr,
                    counts + j * n + i);
        }
        continue;
      }
      for (std::int64_t i = i0; i < i1; ++i) {
        T* out = roots != nullptr ? roots + (j * n + i) * max_roots : nullptr;
        std::int64_t count = 0;
        if (std::fabs(y[i]) <= std::numeric_limits<T>::max()) {  // no root for NaN, nor for an infinite level
          f.find(y[i], [&](T x) {
            if (count < max_roots) out[count] = x;
            ++count;
          });
        }
        counts[j * n + i] = count;
      }
    }
  };
  // A level costs about as much as a few dozen evaluations.
  return run_units(threader, ny * blocks, ny * n * 32, job);
}

}  // namespace
}  // namespace qrx_df

extern "C" {

std::int32_t qrx_df_kernel_sDFRangeTree1D(qrx_df_task* task, float* tree, const qrx_df_threader_block* threader) {
  return qrx_df::range_tree(task, tree, threader);
}

std::int32_t qrx_df_kernel_dDFRangeTree1D(qrx_df_task* task, double* tree, const qrx_df_threader_block* threader) {
  return qrx_df::range_tree(task, tree, threader);
}

std::int32_t qrx_df_kernel_sDFSolve1D(qrx_df_task* task, const float* tree, std::int64_t n, const float* y,
                                      std::int64_t max_roots, float* roots, std::int64_t* counts,
                                      const qrx_df_threader_block* threader) {
  return qrx_df::solve(task, tree, n, y, max_roots, roots, counts, threader);
}

std::int32_t qrx_df_kernel_dDFSolve1D(qrx_df_task* task, const double* tree, std::int64_t n, const double* y,
                                      std::int64_t max_roots, double* roots, std::int64_t* counts,
                                      const qrx_df_threader_block* threader) {
  return qrx_df::solve(task, tree, n, y, max_roots, roots, counts, threader);
}

}  // extern "C"
