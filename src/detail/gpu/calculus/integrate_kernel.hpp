#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/extrapolation.hpp"
#include "data_fitting/hints.hpp"
#include "detail/gpu/calculus/calculus_args.hpp"
#include "detail/gpu/calculus/cell_polynomial.hpp"
#include "detail/gpu/calculus/integral_table.hpp"
#include "detail/gpu/interpolate/cell_search.hpp"
#include "detail/gpu/interpolate/function_block.hpp"
#include "detail/gpu/launch_range.hpp"
#include "detail/outside_modes.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Where an integration bound lies:
//   in_cell:    in `cell` at offset t from its left breakpoint, `periods`
//               whole periods away (periodic); also outside with extend,
//               where the clamped cell search puts it in an end cell
//   left_line,
//   right_line: on the constant or linear continuation past a or b
//   not_a_number: the integral is NaN
enum class bound_kind : std::int32_t { in_cell, left_line, right_line, not_a_number };

template <typename FpType>
struct bound_position {
  bound_kind kind;
  std::int64_t periods;
  std::int64_t cell;
  FpType t;
};

// The position of bound x under the spline's extrapolation modes, found by
// interpolation's own cell search.
template <partition_hint PH, typename FpType>
bound_position<FpType> locate_bound(const calculus_spline<FpType>& s, FpType a, FpType b, FpType x) {
  bound_position<FpType> p{bound_kind::in_cell, 0, 0, FpType(0)};
  if (x != x) {
    p.kind = bound_kind::not_a_number;
    return p;
  }
  FpType at = x;
  if (s.outside.periodic()) {
    if (!(x >= a && x < b)) {
      const period_split<FpType> split = split_by_period(x, a, b);
      if (split.moved != split.moved) {
        p.kind = bound_kind::not_a_number;
        return p;
      }
      p.periods = split.whole;
      at = split.moved;
    }
  } else if (x < a || x > b) {
    const bool left = x < a;
    switch (left ? s.outside.left : s.outside.right) {
      case extrapolation::nan: p.kind = bound_kind::not_a_number; return p;
      case extrapolation::constant:
      case extrapolation::linear: p.kind = left ? bound_kind::left_line : bound_kind::right_line; return p;
      default: break;
    }
  }
  p.cell = find_cell<PH>(s.partitions, s.nx, at);
  p.t = at - cell_origin<PH>(s.partitions, s.nx, p.cell);
  return p;
}

// What the integration kernel captures.
template <typename FpType>
struct integrate_args {
  calculus_spline<FpType> spline;
  integral_table_view<FpType> table;
  const FpType* lower;
  const FpType* upper;
  std::int64_t n;
  FpType* results;
  std::int64_t function_block;  // functions per work-item (function_block)
};

// Integral of function j between two in_cell positions p and q (any order,
// periods aside): one cell's factored integral, or the table's difference
// between the breakpoints after p's cell and at q's cell plus the two
// partial cells.
template <partition_hint PH, typename FpType>
FpType integral_between(const integrate_args<FpType>& a, const FpType* coeffs, std::int64_t j,
                        bound_position<FpType> p, bound_position<FpType> q) {
  const calculus_spline<FpType>& s = a.spline;
  if (p.cell == q.cell) return read_cell(s, coeffs, j, p.cell).integral(p.t, q.t);
  FpType sign = 1;
  if (p.cell > q.cell) {
    const bound_position<FpType> swapped = p;
    p = q;
    q = swapped;
    sign = -1;
  }
  const FpType h = breakpoint<PH>(s.partitions, s.nx, p.cell + 1) - cell_origin<PH>(s.partitions, s.nx, p.cell);
  const compensated_sum<FpType> upto = a.table.at(j, q.cell);
  const compensated_sum<FpType> from = a.table.at(j, p.cell + 1);
  const FpType cells = (upto.hi - from.hi) + (upto.lo - from.lo);
  const FpType partial = read_cell(s, coeffs, j, p.cell).integral(p.t, h) +
                         read_cell(s, coeffs, j, q.cell).integral(FpType(0), q.t);
  return sign * (cells + partial);
}

// Integral from x1 to x2 of the constant or linear continuation past one end
// (`left`: past a, from the first cell's start; else past b, from the last
// cell's end), in factored form.
template <partition_hint PH, typename FpType>
FpType line_integral(const calculus_spline<FpType>& s, const FpType* coeffs, std::int64_t j, bool left, FpType end,
                     FpType x1, FpType x2) {
  const std::int64_t cell = left ? 0 : s.cells() - 1;
  const FpType t = left ? FpType(0) : end - cell_origin<PH>(s.partitions, s.nx, cell);
  const cell_polynomial<FpType> c = read_cell(s, coeffs, j, cell);
  const FpType value = c.value(t);
  if ((left ? s.outside.left : s.outside.right) != extrapolation::linear) return (x2 - x1) * value;
  return (x2 - x1) * (value + c.slope(t) * ((x1 - end) + (x2 - end)) * FpType(0.5));
}

// Interval i from xl <= xu, its bounds located at pl and pu: function j's
// integral.
template <partition_hint PH, typename FpType>
FpType ordered_integral(const integrate_args<FpType>& a, const FpType* coeffs, std::int64_t j, FpType xl, FpType xu,
                        const bound_position<FpType>& pl, const bound_position<FpType>& pu) {
  const calculus_spline<FpType>& s = a.spline;
  const FpType lo_end = partition_start<PH>(s.partitions, s.nx);
  const FpType hi_end = partition_end<PH>(s.partitions, s.nx);
  if (pl.kind == bound_kind::left_line && pu.kind == bound_kind::left_line) {
    return line_integral<PH>(s, coeffs, j, true, lo_end, xl, xu);
  }
  if (pl.kind == bound_kind::right_line && pu.kind == bound_kind::right_line) {
    return line_integral<PH>(s, coeffs, j, false, hi_end, xl, xu);
  }
  // The lines' parts up to the ends, then the polynomial pieces between.
  const std::int64_t last = s.cells() - 1;
  const bound_position<FpType> start{bound_kind::in_cell, 0, 0, FpType(0)};
  const bound_position<FpType> end{bound_kind::in_cell, 0, last, hi_end - cell_origin<PH>(s.partitions, s.nx, last)};
  const bool from_line = pl.kind == bound_kind::left_line, to_line = pu.kind == bound_kind::right_line;
  FpType r = integral_between<PH>(a, coeffs, j, from_line ? start : pl, to_line ? end : pu);
  if (from_line) r += line_integral<PH>(s, coeffs, j, true, lo_end, xl, lo_end);
  if (to_line) r += line_integral<PH>(s, coeffs, j, false, hi_end, hi_end, xu);
  if (pu.periods != pl.periods) {
    const compensated_sum<FpType> whole = a.table.at(j, s.nx - 1);
    r += static_cast<FpType>(pu.periods - pl.periods) * (whole.hi + whole.lo);
  }
  return r;
}

// Work-item k: interval i and the functions of its block (site_and_functions,
// as interpolation blocks functions per site). The bounds are located once
// for the block; results[j*n + i] for each of its functions j.
template <partition_hint PH, typename FpType>
void integrate_at(const integrate_args<FpType>& a, std::int64_t k) {
  const calculus_spline<FpType>& s = a.spline;
  if (s.construction_refused()) return;
  const site_and_functions item(k, a.n, a.function_block, s.ny);
  const std::int64_t i = item.s;
  FpType xl = a.lower[i], xu = a.upper[i];
  FpType sign = 1;
  if (xu < xl) {
    const FpType swapped = xl;
    xl = xu;
    xu = swapped;
    sign = -1;
  }
  const FpType lo_end = partition_start<PH>(s.partitions, s.nx);
  const FpType hi_end = partition_end<PH>(s.partitions, s.nx);
  const bound_position<FpType> pl = locate_bound<PH>(s, lo_end, hi_end, xl);
  const bound_position<FpType> pu = locate_bound<PH>(s, lo_end, hi_end, xu);
  const bool not_a_number = pl.kind == bound_kind::not_a_number || pu.kind == bound_kind::not_a_number;
  const FpType* coeffs = *s.coeffs;
  for (std::int64_t j = item.first; j < item.last; ++j) {
    a.results[j * a.n + i] = not_a_number ? std::numeric_limits<FpType>::quiet_NaN()
                                          : sign * ordered_integral<PH>(a, coeffs, j, xl, xu, pl, pu);
  }
}

template <typename FpType, partition_hint PH>
class integrate_kernel;

// One work-item per (interval, block of functions), after `dependencies`
// (which hold the table's build).
template <typename FpType, partition_hint PH>
sycl::event submit_integrate(sycl::queue& queue, const integrate_args<FpType>& args,
                             const std::vector<sycl::event>& dependencies) {
  checked_launch_range(args.spline.ny, args.n);
  const sycl::range<1> range(
      static_cast<std::size_t>(function_block_work_items(args.n, args.spline.ny, args.function_block)));
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    const integrate_args<FpType> a = args;
    cgh.parallel_for<integrate_kernel<FpType, PH>>(range, [=](sycl::item<1> item) {
      integrate_at<PH>(a, static_cast<std::int64_t>(item.get_linear_id()));
    });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
