#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/construct/block_partition.hpp"
#include "detail/gpu/construct/c2_system.hpp"
#include "detail/gpu/construct/construct_args.hpp"
#include "detail/gpu/construct/function_knots.hpp"
#include "detail/gpu/construct/hermite_cell.hpp"
#include "detail/gpu/construct/tridiagonal_sweep.hpp"
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
//   during the separator step: the eliminated separator row, then its
//                              partial solutions (0, 1, 2)
//   after the separator step:  dL, the slope at the block's first breakpoint (3),
//                              dR, the slope at the breakpoint after its last cell (4)
namespace c2_slot {
inline constexpr int first_y = 0, first_v = 1, first_w = 2;
inline constexpr int last_y = 3, last_v = 4, last_w = 5;
inline constexpr int largest_value = 6;
inline constexpr int factor = 0, reduced_rhs = 1, reduced_rhs_2 = 2;
inline constexpr int left_slope = 3, right_slope = 4;
}  // namespace c2_slot

// The slots of block b of function j.
template <typename T>
T* block_slots(T* coeffs, const block_partition& blocks, std::int64_t j, std::int64_t b) {
  return coeffs + (j * blocks.cells + blocks.first(b)) * 4;
}

// What the three steps of the C2 construction share.
template <typename T>
struct c2_args {
  construct_args<T> spline;
  c2_ends<T> ends;
  block_partition blocks;
  std::int32_t* periodic_flags;  // see gpu_construct_1d_c2_spline
};

// Step 1, work-item g = (function j, block b): eliminates the block's
// interior rows downwards and upwards for three right-hand sides at once
// (the rows' own, the first row's coupling to dL and the last row's to dR),
// which expresses the block's first and last interior slope through the
// slopes dL and dR at the breakpoints that enclose it (the separators).
template <partition_hint PartHint, function_hint FuncHint, bool Periodic, typename T>
void c2_block_step(const c2_args<T>& a, std::int64_t g) {
  const std::int64_t j = g / a.blocks.blocks;
  const std::int64_t b = g % a.blocks.blocks;
  const auto f = knots_of<PartHint, FuncHint>(a.spline, j);
  const std::int64_t lo = a.blocks.first(b);
  const std::int64_t hi = a.blocks.first(b + 1);
  const std::int64_t n = hi - lo - 1;
  auto row = [&](bool downward, std::int64_t step) {
    const std::int64_t i = downward ? lo + 1 + step : hi - 1 - step;
    const system_row<T> r = row_of<Periodic>(f, a.ends, i);
    const T before = i == lo + 1 ? T(0) : r.a;
    const T after = i == hi - 1 ? T(0) : r.c;
    const T to_left = i == lo + 1 ? -r.a : T(0);
    const T to_right = i == hi - 1 ? -r.c : T(0);
    // Upwards the rows are taken in reverse, so the neighbours swap roles.
    return downward ? sweep_row<T, 3>{before, r.b, after, {r.rhs, to_left, to_right}}
                    : sweep_row<T, 3>{after, r.b, before, {r.rhs, to_left, to_right}};
  };
  auto nothing_kept = [](std::int64_t, const eliminated_row<T, 3>&) {};
  const eliminated_row<T, 3> down =
      eliminate_forward<T, 3>(n, [&](std::int64_t step) { return row(true, step); }, nothing_kept);
  const eliminated_row<T, 3> up =
      eliminate_forward<T, 3>(n, [&](std::int64_t step) { return row(false, step); }, nothing_kept);
  T* slots = block_slots(*a.spline.coeffs, a.blocks, j, b);
  slots[c2_slot::first_y] = up.y[0];
  slots[c2_slot::first_v] = up.y[1];
  slots[c2_slot::first_w] = up.y[2];
  slots[c2_slot::last_y] = down.y[0];
  slots[c2_slot::last_v] = down.y[1];
  slots[c2_slot::last_w] = down.y[2];
  if constexpr (Periodic) {
    T largest = 0;
    for (std::int64_t i = lo; i <= hi; ++i) largest = largest < magnitude(f.y(i)) ? magnitude(f.y(i)) : largest;
    slots[c2_slot::largest_value] = largest;
  }
}

// Step 2, work-item j (a function): solves the separators' system, cyclic
// when periodic, built from the blocks' expressions, and hands each
// separator's slope to the blocks on either side. Periodic: sets the
// function's flag when its two end values differ beyond a few roundings of
// its largest magnitude.
template <partition_hint PartHint, function_hint FuncHint, bool Periodic, typename T>
void c2_separator_step(const c2_args<T>& a, std::int64_t j) {
  const auto f = knots_of<PartHint, FuncHint>(a.spline, j);
  T* c = *a.spline.coeffs;
  const block_partition& blocks = a.blocks;
  const std::int64_t nb = blocks.blocks;
  auto slots = [&](std::int64_t b) { return block_slots(c, blocks, j, b); };
  auto left_block = [&](std::int64_t b) { return Periodic ? (b + nb - 1) % nb : b - 1; };
  // Separator b's row with the interior slopes next to it replaced by
  // their expressions: A x[b-1] + B x[b] + C x[b+1] = R.
  auto reduced_row = [&](std::int64_t b) {
    const system_row<T> row = row_of<Periodic>(f, a.ends, blocks.first(b));
    sweep_row<T, 1> reduced{T(0), row.b, T(0), {row.rhs}};
    if (left_block(b) >= 0) {
      const T* s = slots(left_block(b));
      reduced.a = row.a * s[c2_slot::last_v];
      reduced.b += row.a * s[c2_slot::last_w];
      reduced.rhs[0] -= row.a * s[c2_slot::last_y];
    }
    if (b < nb) {
      const T* s = slots(b);
      reduced.b += row.c * s[c2_slot::first_v];
      reduced.c = row.c * s[c2_slot::first_w];
      reduced.rhs[0] -= row.c * s[c2_slot::first_y];
    }
    return reduced;
  };
  auto store_slope = [&](std::int64_t b, T d) {
    if (b < nb) slots(b)[c2_slot::left_slope] = d;
    if (left_block(b) >= 0) slots(left_block(b))[c2_slot::right_slope] = d;
  };

  if constexpr (Periodic) {
    T largest = 0;
    for (std::int64_t b = 0; b < nb; ++b) {
      const T v = slots(b)[c2_slot::largest_value];
      largest = largest < v ? v : largest;
    }
    const T tolerance = T(4) * std::numeric_limits<T>::epsilon() * largest;
    if (a.periodic_flags != nullptr) {
      a.periodic_flags[j] = magnitude(f.y(0) - f.y(blocks.cells)) <= tolerance ? 0 : 1;
    }
    if (nb == 1) {
      const sweep_row<T, 1> r = reduced_row(0);
      store_slope(0, r.rhs[0] / (r.a + r.b + r.c));
      return;
    }
    solve_cyclic<T>(
        nb, reduced_row,
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
  } else {
    // Separators 0..nb, the last one being breakpoint nx - 1.
    const eliminated_row<T, 1> last = eliminate_forward<T, 1>(nb + 1, reduced_row, [&](std::int64_t b, const eliminated_row<T, 1>& e) {
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
  }
}

// Step 3, work-item g = (function j, block b): solves the block's interior
// rows again with the enclosing slopes known and writes its cubic Hermite
// cells, the slopes through Hyman's filter when Hyman is set. Each row's
// eliminated form waits in slots 2 and 3 of its own cell until that cell is
// written.
template <partition_hint PartHint, function_hint FuncHint, bool Hyman, bool Periodic, typename T>
void c2_cells_step(const c2_args<T>& a, std::int64_t g) {
  const std::int64_t j = g / a.blocks.blocks;
  const std::int64_t b = g % a.blocks.blocks;
  const auto f = knots_of<PartHint, FuncHint>(a.spline, j);
  const std::int64_t lo = a.blocks.first(b);
  const std::int64_t hi = a.blocks.first(b + 1);
  T* cells = *a.spline.coeffs + j * a.blocks.cells * 4;
  const T d_lo = cells[lo * 4 + c2_slot::left_slope];
  const T d_hi = cells[lo * 4 + c2_slot::right_slope];
  auto row = [&](std::int64_t step) {
    const std::int64_t i = lo + 1 + step;
    const system_row<T> r = row_of<Periodic>(f, a.ends, i);
    sweep_row<T, 1> known{r.a, r.b, r.c, {r.rhs}};
    if (i == lo + 1) {
      known.rhs[0] -= known.a * d_lo;
      known.a = 0;
    }
    if (i == hi - 1) {
      known.rhs[0] -= known.c * d_hi;
      known.c = 0;
    }
    return known;
  };
  const std::int64_t n = hi - lo - 1;
  const eliminated_row<T, 1> last = eliminate_forward<T, 1>(n, row, [&](std::int64_t step, const eliminated_row<T, 1>& e) {
    cells[(lo + 1 + step) * 4 + 2] = e.factor;
    cells[(lo + 1 + step) * 4 + 3] = e.y[0];
  });
  // Each cell is written once the slopes at both its ends are known, from
  // the right end of the block to its left.
  T written_right = filtered_slope<Hyman, Periodic>(f, hi, d_hi);
  auto write_cell = [&](std::int64_t i, T d) {
    const T written = filtered_slope<Hyman, Periodic>(f, i, d);
    store_hermite_cell(cells + i * 4, f.y(i), f.secant(i), f.r(i), written, written_right);
    written_right = written;
  };
  substitute_back<T, 1>(
      n, last,
      [&](std::int64_t step) {
        const std::int64_t i = lo + 1 + step;
        return eliminated_row<T, 1>{cells[i * 4 + 2], {cells[i * 4 + 3]}};
      },
      [&](std::int64_t step, const T* x) { write_cell(lo + 1 + step, x[0]); });
  write_cell(lo, d_lo);
}

// Computes the coefficients of the C2 cubic spline (natural kind) or of its
// Hyman-filtered form of all ny functions, solving each function's slope
// system by blocks so that a long partition keeps many work-items busy even
// for one function: step 1 over (function, block), step 2 over functions,
// step 3 over (function, block), each a command group after the previous
// one. With periodic_flags (ny entries of host memory), step 2 also sets
// flag j to 1 when the two end values of function j differ beyond a few
// roundings of its largest magnitude, else to 0.
template <typename T, partition_hint PartHint, function_hint FuncHint, bool Hyman, bool Periodic>
sycl::event gpu_construct_1d_c2_spline(sycl::queue& queue, const construct_args<T>& spline, c2_ends<T> ends,
                                       std::int32_t* periodic_flags, const std::vector<sycl::event>& dependencies) {
  const c2_args<T> args{spline, ends, c2_blocks(spline.cells(), spline.ny), periodic_flags};
  const sycl::range<1> block_range = checked_launch_range(args.blocks.blocks, spline.ny);
  const sycl::range<1> function_range = checked_launch_range(1, spline.ny);

  const sycl::event eliminated = queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    const c2_args<T> a = args;
    cgh.parallel_for<c2_block_kernel<T, PartHint, FuncHint, Periodic>>(block_range, [=](sycl::item<1> item) {
      c2_block_step<PartHint, FuncHint, Periodic>(a, static_cast<std::int64_t>(item.get_linear_id()));
    });
  });
  const sycl::event separated = queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(eliminated);
    const c2_args<T> a = args;
    cgh.parallel_for<c2_separator_kernel<T, PartHint, FuncHint, Periodic>>(function_range, [=](sycl::item<1> item) {
      c2_separator_step<PartHint, FuncHint, Periodic>(a, static_cast<std::int64_t>(item.get_linear_id()));
    });
  });
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(separated);
    const c2_args<T> a = args;
    cgh.parallel_for<c2_cells_kernel<T, PartHint, FuncHint, Hyman, Periodic>>(block_range, [=](sycl::item<1> item) {
      c2_cells_step<PartHint, FuncHint, Hyman, Periodic>(a, static_cast<std::int64_t>(item.get_linear_id()));
    });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
