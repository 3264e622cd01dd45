#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/construct/block_partition.hpp"
#include "detail/gpu/construct/c2_system.hpp"
#include "detail/gpu/construct/function_knots.hpp"
#include "detail/gpu/construct/hermite_cell.hpp"
#include "detail/gpu/launch_range.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename T, partition_hint PartHint, function_hint FuncHint, bool Periodic>
class c2_block_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint, bool Periodic>
class c2_separator_kernel;
template <typename T, partition_hint PartHint, function_hint FuncHint, bool Hyman, bool Periodic>
class c2_cells_kernel;

// Where a block keeps the solve's intermediate values: in the coefficient
// slots of its own first two cells, which the last step overwrites.
//   after the block step:      first interior slope as y + v*dL + w*dR (0, 1, 2),
//                              last interior slope likewise (3, 4, 5),
//                              largest |value| on the block (6, periodic only)
//   during the separator step: forward-sweep factors (0, 1, 2), partial solutions (3, 5)
//   after the separator step:  dL, the slope at the block's first breakpoint (3),
//                              dR, the slope at the breakpoint after its last cell (4)
namespace c2_slot {
inline constexpr int first_y = 0, first_v = 1, first_w = 2;
inline constexpr int last_y = 3, last_v = 4, last_w = 5;
inline constexpr int largest_value = 6;
inline constexpr int factor = 0, reduced_rhs = 1, reduced_rhs_2 = 2;
inline constexpr int partial = 3, partial_2 = 5;
inline constexpr int left_slope = 3, right_slope = 4;
}  // namespace c2_slot

// The slots of block b of function j.
template <typename T>
T* block_slots(T* coeffs, const block_partition& blocks, std::int64_t j, std::int64_t b) {
  return coeffs + (j * blocks.cells + blocks.first(b)) * 4;
}

// Computes the coefficients of the C2 cubic spline (natural kind) or of its
// Hyman-filtered form of all ny functions, solving each function's slope
// system by blocks so that a long partition keeps many work-items busy even
// for one function:
//  1. one work-item per (function, block) eliminates the block's interior
//     rows, expressing its first and last interior slope through the slopes
//     dL and dR at the breakpoints that enclose it (the separators);
//  2. one work-item per function solves the separators' tridiagonal system
//     (cyclic when periodic) built from those expressions;
//  3. one work-item per (function, block) solves its block again with dL
//     and dR known and writes the cubic Hermite cells, the slopes through
//     Hyman's filter when Hyman is set.
// With periodic_flags (ny entries of host memory), step 2 also sets flag j
// to 1 when the two end values of function j differ beyond a few roundings
// of its largest magnitude, else to 0.
template <typename T, partition_hint PartHint, function_hint FuncHint, coefficient_hint CoeffHint, bool Hyman,
          bool Periodic>
sycl::event gpu_construct_1d_c2_spline(sycl::queue& queue, std::int64_t nx, std::int64_t ny, T* partitions,
                                       T** functions, T** coeffs, const std::vector<sycl::event>& dependencies,
                                       c2_ends<T> ends, std::int32_t* periodic_flags) {
  static_assert(CoeffHint == coefficient_hint::row_major, "coefficients are laid out row-major only");
  using knots = function_knots<T, PartHint, FuncHint>;
  const block_partition blocks = c2_blocks(nx - 1, ny);
  const sycl::range<1> block_range = checked_launch_range(blocks.blocks, ny);
  const sycl::range<1> function_range = checked_launch_range(1, ny);
  const value_index<FuncHint> index{nx, ny};

  const sycl::event eliminated = queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    cgh.parallel_for<c2_block_kernel<T, PartHint, FuncHint, Periodic>>(block_range, [=](sycl::item<1> item) {
      const auto g = static_cast<std::int64_t>(item.get_linear_id());
      const std::int64_t j = g / blocks.blocks;
      const std::int64_t b = g % blocks.blocks;
      const knots f{partitions, *functions, index, j};
      const std::int64_t lo = blocks.first(b);
      const std::int64_t hi = blocks.first(b + 1);
      // Three right-hand sides at once: the rows' own, the first row's
      // coupling to dL and the last row's coupling to dR. Eliminating
      // downwards leaves the last row solved, upwards the first.
      auto eliminate = [&](bool downward, T& y, T& v, T& w) {
        T factor = 0;
        y = v = w = 0;
        for (std::int64_t n = 0; n < hi - lo - 1; ++n) {
          const std::int64_t i = downward ? lo + 1 + n : hi - 1 - n;
          const system_row<T> row = row_of<Periodic>(f, ends, i);
          const T a = i == lo + 1 ? T(0) : row.a;
          const T c = i == hi - 1 ? T(0) : row.c;
          const T behind = downward ? a : c;  // coupling to the row eliminated before
          const T pivot = row.b - behind * factor;
          factor = (downward ? c : a) / pivot;
          y = (row.rhs - behind * y) / pivot;
          v = ((i == lo + 1 ? -row.a : T(0)) - behind * v) / pivot;
          w = ((i == hi - 1 ? -row.c : T(0)) - behind * w) / pivot;
        }
      };
      T down_y, down_v, down_w, up_y, up_v, up_w;
      eliminate(true, down_y, down_v, down_w);
      eliminate(false, up_y, up_v, up_w);
      T* slots = block_slots(*coeffs, blocks, j, b);
      slots[c2_slot::first_y] = up_y;
      slots[c2_slot::first_v] = up_v;
      slots[c2_slot::first_w] = up_w;
      slots[c2_slot::last_y] = down_y;
      slots[c2_slot::last_v] = down_v;
      slots[c2_slot::last_w] = down_w;
      if constexpr (Periodic) {
        T largest = 0;
        for (std::int64_t i = lo; i <= hi; ++i) largest = largest < magnitude(f.y(i)) ? magnitude(f.y(i)) : largest;
        slots[c2_slot::largest_value] = largest;
      }
    });
  });

  const sycl::event separated = queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(eliminated);
    cgh.parallel_for<c2_separator_kernel<T, PartHint, FuncHint, Periodic>>(function_range, [=](sycl::item<1> item) {
      const auto j = static_cast<std::int64_t>(item.get_linear_id());
      const knots f{partitions, *functions, index, j};
      T* c = *coeffs;
      const std::int64_t nb = blocks.blocks;
      // Separator b's row with the interior slopes next to it replaced by
      // their expressions: A x[b-1] + B x[b] + C x[b+1] = R.
      auto reduced_row = [&](std::int64_t b) {
        const system_row<T> row = row_of<Periodic>(f, ends, blocks.first(b));
        system_row<T> reduced{T(0), row.b, T(0), row.rhs};
        const std::int64_t left_block = Periodic ? (b + nb - 1) % nb : b - 1;
        if (left_block >= 0) {
          const T* s = block_slots(c, blocks, j, left_block);
          reduced.a = row.a * s[c2_slot::last_v];
          reduced.b += row.a * s[c2_slot::last_w];
          reduced.rhs -= row.a * s[c2_slot::last_y];
        }
        if (b < nb) {
          const T* s = block_slots(c, blocks, j, b);
          reduced.b += row.c * s[c2_slot::first_v];
          reduced.c = row.c * s[c2_slot::first_w];
          reduced.rhs -= row.c * s[c2_slot::first_y];
        }
        return reduced;
      };
      // Hands the slope at separator b to the blocks on either side.
      auto store_slope = [&](std::int64_t b, T d) {
        if (b < nb) block_slots(c, blocks, j, b)[c2_slot::left_slope] = d;
        const std::int64_t left_block = Periodic ? (b + nb - 1) % nb : b - 1;
        if (left_block >= 0) block_slots(c, blocks, j, left_block)[c2_slot::right_slope] = d;
      };

      if constexpr (Periodic) {
        T largest = 0;
        for (std::int64_t b = 0; b < nb; ++b) {
          const T v = block_slots(c, blocks, j, b)[c2_slot::largest_value];
          largest = largest < v ? v : largest;
        }
        const T tolerance = T(4) * std::numeric_limits<T>::epsilon() * largest;
        if (periodic_flags != nullptr) {
          periodic_flags[j] = magnitude(f.y(0) - f.y(blocks.cells)) <= tolerance ? 0 : 1;
        }
        if (nb == 1) {
          const system_row<T> r = reduced_row(0);
          store_slope(0, r.rhs / (r.a + r.b + r.c));
          return;
        }
        // Cyclic system by Sherman-Morrison: the corners A[0] (row 0,
        // column nb-1) and C[nb-1] (row nb-1, column 0) become a rank-one
        // correction of a plain tridiagonal system, solved for two
        // right-hand sides at once.
        T corner_top = 0, corner_bottom = 0, gamma = 0;
        T prev_c = 0, prev_y = 0, prev_z = 0;
        for (std::int64_t b = 0; b < nb; ++b) {
          system_row<T> r = reduced_row(b);
          T u = 0;
          if (b == 0) {
            corner_top = r.a;
            gamma = -r.b;
            r.a = 0;
            r.b -= gamma;
            u = gamma;
          }
          if (b == nb - 1) {
            corner_bottom = r.c;
            r.c = 0;
            r.b -= corner_bottom * corner_top / gamma;
            u = corner_bottom;
          }
          const T pivot = r.b - r.a * prev_c;
          prev_c = r.c / pivot;
          prev_y = (r.rhs - r.a * prev_y) / pivot;
          prev_z = (u - r.a * prev_z) / pivot;
          T* s = block_slots(c, blocks, j, b);
          s[c2_slot::factor] = prev_c;
          s[c2_slot::reduced_rhs] = prev_y;
          s[c2_slot::reduced_rhs_2] = prev_z;
        }
        T y = 0, z = 0;
        for (std::int64_t b = nb - 1; b >= 0; --b) {
          T* s = block_slots(c, blocks, j, b);
          y = s[c2_slot::reduced_rhs] - s[c2_slot::factor] * y;
          z = s[c2_slot::reduced_rhs_2] - s[c2_slot::factor] * z;
          s[c2_slot::partial] = y;
          s[c2_slot::partial_2] = z;
        }
        const T* first = block_slots(c, blocks, j, 0);
        const T* last = block_slots(c, blocks, j, nb - 1);
        const T weight = (first[c2_slot::partial] + corner_top * last[c2_slot::partial] / gamma) /
                         (T(1) + first[c2_slot::partial_2] + corner_top * last[c2_slot::partial_2] / gamma);
        for (std::int64_t b = nb - 1; b >= 0; --b) {
          const T* s = block_slots(c, blocks, j, b);
          store_slope(b, s[c2_slot::partial] - weight * s[c2_slot::partial_2]);
        }
      } else {
        // Separators 0..nb, the last one being breakpoint nx - 1.
        T prev_c = 0, prev_y = 0;
        for (std::int64_t b = 0; b <= nb; ++b) {
          const system_row<T> r = reduced_row(b);
          const T pivot = r.b - r.a * prev_c;
          prev_c = r.c / pivot;
          prev_y = (r.rhs - r.a * prev_y) / pivot;
          if (b < nb) {
            T* s = block_slots(c, blocks, j, b);
            s[c2_slot::factor] = prev_c;
            s[c2_slot::reduced_rhs] = prev_y;
          }
        }
        T d = prev_y;
        store_slope(nb, d);
        for (std::int64_t b = nb - 1; b >= 0; --b) {
          const T* s = block_slots(c, blocks, j, b);
          d = s[c2_slot::reduced_rhs] - s[c2_slot::factor] * d;
          store_slope(b, d);
        }
      }
    });
  });

  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(separated);
    cgh.parallel_for<c2_cells_kernel<T, PartHint, FuncHint, Hyman, Periodic>>(block_range, [=](sycl::item<1> item) {
      const auto g = static_cast<std::int64_t>(item.get_linear_id());
      const std::int64_t j = g / blocks.blocks;
      const std::int64_t b = g % blocks.blocks;
      const knots f{partitions, *functions, index, j};
      const std::int64_t lo = blocks.first(b);
      const std::int64_t hi = blocks.first(b + 1);
      T* cells = *coeffs + j * blocks.cells * 4;
      const T d_lo = cells[lo * 4 + c2_slot::left_slope];
      const T d_hi = cells[lo * 4 + c2_slot::right_slope];
      // Forward sweep over the interior rows with the enclosing slopes
      // known; each row's factors wait in slots 2 and 3 of its own cell.
      T prev_c = 0, prev_y = 0;
      for (std::int64_t i = lo + 1; i < hi; ++i) {
        const system_row<T> row = row_of<Periodic>(f, ends, i);
        T rhs = row.rhs;
        T a = row.a;
        T c = row.c;
        if (i == lo + 1) {
          rhs -= a * d_lo;
          a = 0;
        }
        if (i == hi - 1) {
          rhs -= c * d_hi;
          c = 0;
        }
        const T pivot = row.b - a * prev_c;
        prev_c = c / pivot;
        prev_y = (rhs - a * prev_y) / pivot;
        cells[i * 4 + 2] = prev_c;
        cells[i * 4 + 3] = prev_y;
      }
      // Back substitution, writing each cell once both its slopes are known.
      T d_right = d_hi;
      T written_right = filtered_slope<Hyman, Periodic>(f, hi, d_right);
      for (std::int64_t i = hi - 1; i >= lo; --i) {
        const T d = i == lo ? d_lo : cells[i * 4 + 3] - cells[i * 4 + 2] * d_right;
        const T written = filtered_slope<Hyman, Periodic>(f, i, d);
        store_hermite_cell(cells + i * 4, f.y(i), f.secant(i), f.r(i), written, written_right);
        d_right = d;
        written_right = written;
      }
    });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
