#pragma once

// The C2 slope system of a long partition, solved by blocks so that one
// function keeps every thread busy and the sweeps vectorise:
//  1. the cells are cut into blocks; the breakpoint where two blocks meet
//     (and the two ends) is a separator. Each block's interior rows are
//     eliminated with the separator slopes dL, dR on either side left
//     unknown, which expresses the block's first and last interior slope as
//     y + v dL + w dR;
//  2. one serial solve per function of the small tridiagonal system (cyclic
//     when periodic) of the separator rows, whose neighbours are replaced by
//     those expressions: the separator slopes;
//  3. each block is solved again with dL and dR known, and its cells are
//     written.
// Steps 1 and 3 run on groups of c2_lanes blocks of one function in lock
// step: the blocks' cells are loaded into lane-major arrays (cell k of lane
// l next to cell k of lane l + 1), so that the row sweeps are vector
// operations across blocks. The blocks of a function differ in length by at
// most one cell; the last group repeats its last block in the lanes it does
// not fill, which write the same values to the same cells.
//
// The interior rows are the rows of c2_system.hpp multiplied by h_{i-1} +
// h_i (by 2 on a uniform partition, whose widths count as 1), which spares
// a division per row: h_i d_{i-1} + 2 (h_{i-1} + h_i) d_i + h_{i-1} d_{i+1}
// = 3 (h_i s_{i-1} + h_{i-1} s_i). The separator rows are c2_system's own,
// end rows included. The solution differs from the serial solve's by
// rounding only.
//
// Like the serial solve, the blocked one keeps its intermediate values in
// the coefficient cells: step 1 leaves each block's two expressions in the
// slots of its first two cells (c2_slot), step 2 replaces them by dL and dR,
// and step 3 overwrites them. The lane-major arrays are the only other
// memory: one work area per run of groups a thread takes.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "qrx_df/c2_system.hpp"
#include "qrx_df/isa.hpp"
#include "qrx_df/parallel.hpp"
#include "qrx_df/tridiagonal.hpp"

namespace qrx_df {

// Lanes per vector of a lane-major array, vectors per row of a group.
inline constexpr int c2_lane_width = 8;
inline constexpr int c2_vectors = 4;
inline constexpr int c2_lanes = c2_lane_width * c2_vectors;
// About this many cells per block: the separator system, solved serially
// per function, has a row per block, and a group's arrays stay in the
// second-level cache.
inline constexpr std::int64_t c2_block_cells = 256;
// Partitions from this many cells on are solved by blocks.
inline constexpr std::int64_t c2_blocked_min_cells = 2048;

// The cells of one function cut into `blocks` consecutive blocks whose
// lengths differ by at most one, each of at least two cells.
struct c2_blocks {
  std::int64_t cells;
  std::int64_t blocks;

  // First cell of block b; first(blocks) == cells.
  std::int64_t first(std::int64_t b) const { return b * (cells / blocks) + std::min(b, cells % blocks); }
  std::int64_t groups() const { return (blocks + c2_lanes - 1) / c2_lanes; }
  std::int64_t longest() const { return cells / blocks + (cells % blocks != 0 ? 1 : 0); }
};

inline bool c2_solve_by_blocks(std::int64_t cells) { return cells >= c2_blocked_min_cells; }

inline c2_blocks c2_blocks_of(std::int64_t cells) {
  return {cells, std::max<std::int64_t>(2, cells / c2_block_cells)};
}

// Where a block keeps the solve's intermediate values: in the coefficient
// slots of its own first two cells.
//   after step 1: first interior slope as y + v dL + w dR (0, 1, 2), last
//                 interior slope likewise (3, 4, 5)
//   during step 2: the eliminated separator row, then its partial
//                  solutions (0, 1, 2)
//   after step 2: dL (3) and dR (4)
namespace c2_slot {
inline constexpr int first_y = 0, first_v = 1, first_w = 2;
inline constexpr int last_y = 3, last_v = 4, last_w = 5;
inline constexpr int factor = 0, reduced_rhs = 1, reduced_rhs_2 = 2;
inline constexpr int left_slope = 3, right_slope = 4;
}  // namespace c2_slot

// The blocks of one group and their lane-major arrays. Array entry (k, l)
// of vector q is at [q*stride + (k + 1)*c2_lane_width + l]: k from -1 to
// longest + 1 (a cell index within the block, or a row or breakpoint index).
template <typename T>
struct c2_group {
  std::int64_t lo[c2_lanes];   // first cell of each lane's block
  std::int64_t len[c2_lanes];  // cells of each lane's block
  std::int64_t shortest;
  std::int64_t longest;
  std::int64_t stride;
  T* h;  // widths (listed partitions)
  T* s;  // secants
  T* f;  // eliminated super-diagonal of each row
  T* g;  // eliminated right side of each row; after step 3, the slopes
  T* v;  // eliminated coupling of each row to dL (step 1)

  static constexpr int arrays = 5;

  static std::int64_t stride_for(const c2_blocks& blocks) { return (blocks.longest() + 3) * c2_lane_width; }
  static std::int64_t work_size(const c2_blocks& blocks) { return arrays * c2_vectors * stride_for(blocks); }

  c2_group(const c2_blocks& blocks, std::int64_t group, T* work) : stride(stride_for(blocks)) {
    shortest = blocks.longest();
    longest = 0;
    for (int l = 0; l < c2_lanes; ++l) {
      const std::int64_t b = std::min(group * c2_lanes + l, blocks.blocks - 1);
      lo[l] = blocks.first(b);
      len[l] = blocks.first(b + 1) - lo[l];
      shortest = std::min(shortest, len[l]);
      longest = std::max(longest, len[l]);
    }
    h = work;
    s = work + c2_vectors * stride;
    f = work + 2 * c2_vectors * stride;
    g = work + 3 * c2_vectors * stride;
    v = work + 4 * c2_vectors * stride;
  }

  // Entry (k, 0) of vector q of array a.
  T* at(T* a, int q, std::int64_t k) const { return a + q * stride + (k + 1) * c2_lane_width; }
  // Entry (k, l) for lane l of the whole group.
  T& lane(T* a, int l, std::int64_t k) const { return at(a, l / c2_lane_width, k)[l % c2_lane_width]; }
};

// Steps 1 and 3 for one group of blocks of function j.
template <typename T, bool Uniform, bool ColMajor, bool Monotone>
struct c2_group_solver {
  using system = c2_system<T, Uniform, ColMajor, Monotone>;

  // Widths, reciprocals and secants of cells -1 .. longest of every lane.
  // Cells beyond the partition's ends take the end secants that Hyman's
  // limit compares a slope with (the same end's, or across the joined ends
  // of a periodic spline) and width 1; rows use them only in lanes whose
  // block has ended, whose results are dropped.
  static void load_cells(const system& sys, const c2_group<T>& grp) {
    const std::int64_t m = sys.cells();
    const function_row<T, ColMajor> y = sys.values();
    const cell_steps<T, Uniform>& steps = sys.steps();
    const T* x = steps.x;
    const std::int64_t stride = ColMajor ? y.stride : 1;
    const T before_first = sys.periodic() ? sys.secant(m - 1) : sys.secant(0);
    const T after_last = sys.periodic() ? sys.secant(0) : sys.secant(m - 1);
    for (int q = 0; q < c2_vectors; ++q) {
      const std::int64_t* lo = grp.lo + q * c2_lane_width;
      std::int64_t lo_min = lo[0];
      std::int64_t lo_max = lo[0];
      for (int l = 1; l < c2_lane_width; ++l) {
        lo_min = std::min(lo_min, lo[l]);
        lo_max = std::max(lo_max, lo[l]);
      }
      // Cells that exist in every lane of this vector.
      const std::int64_t k_begin = lo_min > 0 ? -1 : 0;
      const std::int64_t k_end = std::min(grp.longest + 1, m - lo_max);
      for (std::int64_t k = -1; k <= grp.longest; ++k) {
        if (k == k_begin && k_begin < k_end) {
          load_run(grp, q, x, y.p, stride, steps.uniform_r, k_begin, k_end);
          k = k_end - 1;
          continue;
        }
        for (int l = 0; l < c2_lane_width; ++l) {
          const std::int64_t i = lo[l] + k;
          T hk = T(1);
          T sk = 0;
          if (i < 0) {
            sk = before_first;
          } else if (i >= m) {
            sk = after_last;
          } else {
            if constexpr (!Uniform) hk = x[i + 1] - x[i];
            sk = sys.secant(i);
          }
          grp.at(grp.h, q, k)[l] = hk;
          grp.at(grp.s, q, k)[l] = sk;
        }
      }
    }
  }

  // Cells [k_begin, k_end) of the eight lanes of vector q, all inside the
  // partition: one loop along the cells, eight lanes per iteration.
  static void load_run(const c2_group<T>& grp, int q, const T* x, const T* y, std::int64_t stride, T uniform_r,
                       std::int64_t k_begin, std::int64_t k_end) {
    const T* xl[c2_lane_width];
    const T* yl[c2_lane_width];
    for (int l = 0; l < c2_lane_width; ++l) {
      const std::int64_t lo = grp.lo[q * c2_lane_width + l];
      xl[l] = Uniform ? x : x + lo;
      yl[l] = y + lo * stride;
    }
    load_lanes(xl, yl, stride, uniform_r, k_begin, k_end, grp.at(grp.h, q, 0), grp.at(grp.s, q, 0));
  }

  static void load_lanes(const T* const* xl, const T* const* yl, std::int64_t stride, T uniform_r,
                         std::int64_t k_begin, std::int64_t k_end, T* __restrict hq, T* __restrict sq) {
    for (std::int64_t k = k_begin; k < k_end; ++k) {
#pragma GCC unroll 8
      for (int l = 0; l < c2_lane_width; ++l) {
        const T dy = yl[l][(k + 1) * stride] - yl[l][k * stride];
        if constexpr (Uniform) {
          sq[k * c2_lane_width + l] = dy * uniform_r;
        } else {
          const T hk = xl[l][k + 1] - xl[l][k];
          hq[k * c2_lane_width + l] = hk;
          sq[k * c2_lane_width + l] = dy * (T(1) / hk);
        }
      }
    }
  }

  // Forward elimination of rows 1 .. longest - 1 of every lane, starting
  // from the eliminated values of row 0 (the separator dL): super-diagonal
  // 0, right side g0, coupling v0 (Coupling: the coupling to dL is carried
  // as a third right side). Row j's results go to entry j of f, g, v.
  template <bool Coupling>
  static void eliminate(const c2_group<T>& grp, const T* g0, T v0) {
    T f[c2_lanes];
    T g[c2_lanes];
    T v[c2_lanes];
    for (int l = 0; l < c2_lanes; ++l) {
      f[l] = 0;
      g[l] = g0[l];
      v[l] = v0;
    }
    for (std::int64_t j = 1; j < grp.longest; ++j) {
      for (int q = 0; q < c2_vectors; ++q) {
        const T* hl = grp.at(grp.h, q, j - 1);
        const T* hr = grp.at(grp.h, q, j);
        const T* sl = grp.at(grp.s, q, j - 1);
        const T* sr = grp.at(grp.s, q, j);
        T* fo = grp.at(grp.f, q, j);
        T* go = grp.at(grp.g, q, j);
        T* vo = grp.at(grp.v, q, j);
        T* fq = f + q * c2_lane_width;
        T* gq = g + q * c2_lane_width;
        T* vq = v + q * c2_lane_width;
        for (int l = 0; l < c2_lane_width; ++l) {
          T a = 1;
          T b = 4;
          T c = 1;
          T rhs = 0;
          if constexpr (Uniform) {
            rhs = T(3) * (sl[l] + sr[l]);
          } else {
            a = hr[l];
            c = hl[l];
            b = T(2) * (hl[l] + hr[l]);
            rhs = T(3) * (hr[l] * sl[l] + hl[l] * sr[l]);
          }
          const T inverse = T(1) / (b - a * fq[l]);
          fq[l] = c * inverse;
          gq[l] = (rhs - a * gq[l]) * inverse;
          fo[l] = fq[l];
          go[l] = gq[l];
          if constexpr (Coupling) {
            vq[l] = (T(0) - a * vq[l]) * inverse;
            vo[l] = vq[l];
          }
        }
      }
    }
  }

  // Step 1 for one group: each block's first and last interior slope as
  // y + v dL + w dR, into its slots.
  static void eliminate_group(const system& sys, const c2_group<T>& grp) {
    load_cells(sys, grp);
    const T zeros[c2_lanes] = {};
    eliminate<true>(grp, zeros, T(1));
    // Back substitution of the three right sides (own, dL, dR) from each
    // lane's last row n = len - 1 (whose super-diagonal couples it to dR)
    // up to row 1. Lanes one row shorter skip the top row.
    T y[c2_lanes];
    T v[c2_lanes];
    T w[c2_lanes];
    for (int l = 0; l < c2_lanes; ++l) {
      y[l] = 0;
      v[l] = 0;
      w[l] = 1;
    }
    for (std::int64_t j = grp.longest - 1; j >= 1; --j) {
      const bool top = j == grp.longest - 1;
      for (int q = 0; q < c2_vectors; ++q) {
        const T* fj = grp.at(grp.f, q, j);
        const T* gj = grp.at(grp.g, q, j);
        const T* vj = grp.at(grp.v, q, j);
        T* yq = y + q * c2_lane_width;
        T* vq = v + q * c2_lane_width;
        T* wq = w + q * c2_lane_width;
        const std::int64_t* len = grp.len + q * c2_lane_width;
        for (int l = 0; l < c2_lane_width; ++l) {
          const T yn = gj[l] - fj[l] * yq[l];
          const T vn = vj[l] - fj[l] * vq[l];
          const T wn = -fj[l] * wq[l];
          const bool skip = top && len[l] < grp.longest;
          yq[l] = skip ? yq[l] : yn;
          vq[l] = skip ? vq[l] : vn;
          wq[l] = skip ? wq[l] : wn;
        }
      }
    }
    T* c = sys.coeffs();
    for (int l = 0; l < c2_lanes; ++l) {
      const std::int64_t n = grp.len[l] - 1;
      T* slots = c + 4 * grp.lo[l];
      const T last_y = grp.lane(grp.g, l, n);
      const T last_v = grp.lane(grp.v, l, n);
      const T last_w = -grp.lane(grp.f, l, n);
      slots[c2_slot::first_y] = y[l];
      slots[c2_slot::first_v] = v[l];
      slots[c2_slot::first_w] = w[l];
      slots[c2_slot::last_y] = last_y;
      slots[c2_slot::last_v] = last_v;
      slots[c2_slot::last_w] = last_w;
    }
  }

  // Step 3 for one group: the blocks' slopes from dL and dR, and their cells.
  static void finish_group(const system& sys, const c2_group<T>& grp) {
    T* c = sys.coeffs();
    T left[c2_lanes];
    T right[c2_lanes];
    for (int l = 0; l < c2_lanes; ++l) {
      left[l] = c[4 * grp.lo[l] + c2_slot::left_slope];
      right[l] = c[4 * grp.lo[l] + c2_slot::right_slope];
    }
    load_cells(sys, grp);
    eliminate<false>(grp, left, T(0));
    // Back substitution from dR; the slopes replace the right sides, and
    // entries 0 and len of g become dL and dR: g holds every breakpoint's slope.
    T d[c2_lanes];
    for (int l = 0; l < c2_lanes; ++l) d[l] = right[l];
    for (std::int64_t j = grp.longest - 1; j >= 1; --j) {
      const bool top = j == grp.longest - 1;
      for (int q = 0; q < c2_vectors; ++q) {
        const T* fj = grp.at(grp.f, q, j);
        T* gj = grp.at(grp.g, q, j);
        T* dq = d + q * c2_lane_width;
        const std::int64_t* len = grp.len + q * c2_lane_width;
        for (int l = 0; l < c2_lane_width; ++l) {
          const T dn = gj[l] - fj[l] * dq[l];
          const bool skip = top && len[l] < grp.longest;
          dq[l] = skip ? dq[l] : dn;
          gj[l] = dq[l];
        }
      }
    }
    for (int l = 0; l < c2_lanes; ++l) {
      grp.lane(grp.g, l, 0) = left[l];
      grp.lane(grp.g, l, grp.longest) = right[l];  // a lane one cell short leaves this entry unused
      grp.lane(grp.g, l, grp.len[l]) = right[l];
    }
    if constexpr (Monotone) limit_slopes(grp);
    write_cells(sys, grp);
  }

  // Hyman's limit on the slope at every breakpoint, against the secants of
  // the cells on either side.
  static void limit_slopes(const c2_group<T>& grp) {
    for (int q = 0; q < c2_vectors; ++q) {
      for (std::int64_t k = 0; k <= grp.longest; ++k) {
        T* dk = grp.at(grp.g, q, k);
        const T* sl = grp.at(grp.s, q, k - 1);
        const T* sr = grp.at(grp.s, q, k);
        for (int l = 0; l < c2_lane_width; ++l) dk[l] = hyman_limit(dk[l], sl[l], sr[l]);
      }
    }
  }

  // The cells of every lane from the slopes at their ends: one loop along
  // the cells, eight lanes per iteration, the widths and secants again from
  // the partition and the values.
  static void write_cells(const system& sys, const c2_group<T>& grp) {
    const function_row<T, ColMajor> y = sys.values();
    const std::int64_t stride = ColMajor ? y.stride : 1;
    const cell_steps<T, Uniform>& steps = sys.steps();
    for (int q = 0; q < c2_vectors; ++q) {
      T* cl[c2_lane_width];
      const T* xl[c2_lane_width];
      const T* yl[c2_lane_width];
      for (int l = 0; l < c2_lane_width; ++l) {
        const std::int64_t lo = grp.lo[q * c2_lane_width + l];
        cl[l] = sys.coeffs() + 4 * lo;
        xl[l] = Uniform ? steps.x : steps.x + lo;
        yl[l] = y.p + lo * stride;
      }
      const T* dq = grp.at(grp.g, q, 0);
      write_lanes(cl, xl, yl, stride, steps.uniform_r, dq, 0, grp.shortest);
      for (int l = 0; l < c2_lane_width; ++l) {
        for (std::int64_t k = grp.shortest; k < grp.len[q * c2_lane_width + l]; ++k) {
          write_cell(cl[l], xl[l], yl[l], stride, steps.uniform_r, k, dq[k * c2_lane_width + l],
                     dq[(k + 1) * c2_lane_width + l]);
        }
      }
    }
  }

  static void write_cell(T* c, const T* x, const T* y, std::int64_t stride, T uniform_r, std::int64_t k, T dl, T dr) {
    const T r = Uniform ? uniform_r : T(1) / (x[k + 1] - x[k]);
    hermite_cell(c + 4 * k, y[k * stride], (y[(k + 1) * stride] - y[k * stride]) * r, r, dl, dr);
  }

  static void write_lanes(T* const* cl, const T* const* xl, const T* const* yl, std::int64_t stride, T uniform_r,
                          const T* __restrict d, std::int64_t k_begin, std::int64_t k_end) {
    for (std::int64_t k = k_begin; k < k_end; ++k) {
      for (int l = 0; l < c2_lane_width; ++l) {
        write_cell(cl[l], xl[l], yl[l], stride, uniform_r, k, d[k * c2_lane_width + l],
                   d[(k + 1) * c2_lane_width + l]);
      }
    }
  }

  // Step 2 for function j: the separator slopes from the rows at the
  // separators, whose neighbouring interior slopes are replaced by their
  // expressions through the separators around them.
  static void solve_separators(const system& sys, const c2_blocks& blocks) {
    T* c = sys.coeffs();
    const std::int64_t nb = blocks.blocks;
    const bool periodic = sys.periodic();
    auto slots = [&](std::int64_t b) { return c + 4 * blocks.first(b); };
    auto left_block = [&](std::int64_t b) { return periodic ? (b + nb - 1) % nb : b - 1; };
    // Separator b's row: A x[b-1] + B x[b] + C x[b+1] = R.
    auto reduced_row = [&](std::int64_t b) {
      const slope_row<T> row = sys.row(blocks.first(b));
      slope_row<T> reduced{T(0), row.diag, T(0), row.rhs};
      const std::int64_t lb = left_block(b);
      if (lb >= 0) {
        const T* s = slots(lb);
        reduced.sub = row.sub * s[c2_slot::last_v];
        reduced.diag += row.sub * s[c2_slot::last_w];
        reduced.rhs -= row.sub * s[c2_slot::last_y];
      }
      if (b < nb) {
        const T* s = slots(b);
        reduced.diag += row.super * s[c2_slot::first_v];
        reduced.super = row.super * s[c2_slot::first_w];
        reduced.rhs -= row.super * s[c2_slot::first_y];
      }
      return reduced;
    };
    // Hands the slope at separator b to the blocks on either side.
    auto store_slope = [&](std::int64_t b, T d) {
      if (b < nb) slots(b)[c2_slot::left_slope] = d;
      const std::int64_t lb = left_block(b);
      if (lb >= 0) slots(lb)[c2_slot::right_slope] = d;
    };
    auto reduced = [&](std::int64_t b) {
      const slope_row<T> r = reduced_row(b);
      return sweep_row<T, 1>{r.sub, r.diag, r.super, {r.rhs}};
    };

    if (!periodic) {
      // Separators 0..nb, the last one being breakpoint nx - 1.
      const eliminated_row<T, 1> last =
          eliminate_forward<T, 1>(nb + 1, reduced, [&](std::int64_t b, const eliminated_row<T, 1>& e) {
            if (b == nb) return;
            T* s = slots(b);
            s[c2_slot::factor] = e.factor;
            s[c2_slot::reduced_rhs] = e.y[0];
          });
      substitute_back<T, 1>(
          nb + 1, last,
          [&](std::int64_t b) {
            const T* s = slots(b);
            return eliminated_row<T, 1>{s[c2_slot::factor], {s[c2_slot::reduced_rhs]}};
          },
          [&](std::int64_t b, const T* x) { store_slope(b, x[0]); });
      return;
    }
    // Cyclic system of separators 0..nb-1 (nb >= 2), solved as the serial
    // periodic system is; each block's first slots hold its eliminated row,
    // then its partial solutions.
    solve_cyclic<T>(
        nb, reduced,
        [&](std::int64_t b, const eliminated_row<T, 2>& e) {
          T* s = slots(b);
          s[c2_slot::factor] = e.factor;
          s[c2_slot::reduced_rhs] = e.y[0];
          s[c2_slot::reduced_rhs_2] = e.y[1];
        },
        [&](std::int64_t b) {
          const T* s = slots(b);
          return eliminated_row<T, 2>{s[c2_slot::factor], {s[c2_slot::reduced_rhs], s[c2_slot::reduced_rhs_2]}};
        },
        store_slope);
  }
};

// The group steps compiled for each instruction set; the variants compute
// the same IEEE operations in the same order.
template <typename T, bool Uniform, bool ColMajor, bool Monotone>
using c2_group_step = void (*)(const c2_system<T, Uniform, ColMajor, Monotone>&, const c2_group<T>&);

template <typename T, bool Uniform, bool ColMajor, bool Monotone>
void c2_eliminate_baseline(const c2_system<T, Uniform, ColMajor, Monotone>& sys, const c2_group<T>& grp) {
  c2_group_solver<T, Uniform, ColMajor, Monotone>::eliminate_group(sys, grp);
}
template <typename T, bool Uniform, bool ColMajor, bool Monotone>
void c2_finish_baseline(const c2_system<T, Uniform, ColMajor, Monotone>& sys, const c2_group<T>& grp) {
  c2_group_solver<T, Uniform, ColMajor, Monotone>::finish_group(sys, grp);
}
#if QRX_DF_HAVE_AVX2_VARIANT
template <typename T, bool Uniform, bool ColMajor, bool Monotone>
QRX_DF_TARGET_AVX2 void c2_eliminate_avx2(const c2_system<T, Uniform, ColMajor, Monotone>& sys,
                                          const c2_group<T>& grp) {
  c2_group_solver<T, Uniform, ColMajor, Monotone>::eliminate_group(sys, grp);
}
template <typename T, bool Uniform, bool ColMajor, bool Monotone>
QRX_DF_TARGET_AVX2 void c2_finish_avx2(const c2_system<T, Uniform, ColMajor, Monotone>& sys, const c2_group<T>& grp) {
  c2_group_solver<T, Uniform, ColMajor, Monotone>::finish_group(sys, grp);
}
#endif

template <typename T, bool Uniform, bool ColMajor, bool Monotone>
struct c2_group_steps {
  c2_group_step<T, Uniform, ColMajor, Monotone> eliminate;
  c2_group_step<T, Uniform, ColMajor, Monotone> finish;
};

template <typename T, bool Uniform, bool ColMajor, bool Monotone>
c2_group_steps<T, Uniform, ColMajor, Monotone> c2_steps_for(isa target) {
#if QRX_DF_HAVE_AVX2_VARIANT
  if (target != isa::baseline) {
    return {&c2_eliminate_avx2<T, Uniform, ColMajor, Monotone>, &c2_finish_avx2<T, Uniform, ColMajor, Monotone>};
  }
#endif
  (void)target;
  return {&c2_eliminate_baseline<T, Uniform, ColMajor, Monotone>, &c2_finish_baseline<T, Uniform, ColMajor, Monotone>};
}

// Runs step(system of function j, group) over every (function, group) of
// the construction; each run of groups a thread takes gets one work area.
template <typename T, bool Uniform, bool ColMajor, bool Monotone, typename Step>
std::int32_t c2_for_all_groups(const construct_setup<T>& s, const c2_blocks& blocks,
                               const qrx_df_threader_block* threader, Step step) {
  const std::int64_t groups = blocks.groups();
  std::atomic<bool> out_of_memory{false};
  auto job = [&](std::int64_t begin, std::int64_t end) {
    T* work = static_cast<T*>(std::malloc(static_cast<std::size_t>(c2_group<T>::work_size(blocks)) * sizeof(T)));
    if (work == nullptr) {
      out_of_memory.store(true, std::memory_order_relaxed);
      return;
    }
    for (std::int64_t u = begin; u < end; ++u) {
      const c2_system<T, Uniform, ColMajor, Monotone> sys(s, u / groups);
      step(sys, c2_group<T>(blocks, u % groups, work));
    }
    std::free(work);
  };
  const std::int32_t status = run_units(threader, s.ny * groups, s.ny * blocks.cells, job);
  if (status != QRX_DF_STATUS_OK) return status;
  return out_of_memory.load() ? QRX_DF_STATUS_BAD_ALLOC : QRX_DF_STATUS_OK;
}

// All functions of a construction whose partition has at least
// c2_blocked_min_cells cells, by blocks.
template <typename T, bool Uniform, bool ColMajor, bool Monotone>
std::int32_t c2_solve_blocked(const construct_setup<T>& s, const qrx_df_threader_block* threader, isa target) {
  using system = c2_system<T, Uniform, ColMajor, Monotone>;
  const c2_blocks blocks = c2_blocks_of(s.nx - 1);
  const c2_group_steps<T, Uniform, ColMajor, Monotone> steps = c2_steps_for<T, Uniform, ColMajor, Monotone>(target);
  std::int32_t status = c2_for_all_groups<T, Uniform, ColMajor, Monotone>(s, blocks, threader, steps.eliminate);
  if (status != QRX_DF_STATUS_OK) return status;
  auto separators = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t j = begin; j < end; ++j) {
      c2_group_solver<T, Uniform, ColMajor, Monotone>::solve_separators(system(s, j), blocks);
    }
  };
  status = run_units(threader, s.ny, s.ny * blocks.blocks, separators);
  if (status != QRX_DF_STATUS_OK) return status;
  return c2_for_all_groups<T, Uniform, ColMajor, Monotone>(s, blocks, threader, steps.finish);
}

}  // namespace qrx_df
