#pragma once

#include <cstdint>

#include "data_fitting/hints.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Cell search: which polynomial piece evaluates a site.
//
// The partition has nx >= 2 breakpoints x_0 .. x_{nx-1} and nx - 1 cells;
// cell i is [x_i, x_{i+1}). non_uniform and quasi_uniform partitions hold the
// nx breakpoints; a uniform partition holds only a = partitions[0] and
// b = partitions[1], with x_i = a + i*h, h = (b - a)/(nx - 1).
//
//   site x                           | non_uniform | quasi_uniform | uniform
//   ---------------------------------+-------------+---------------+--------
//   x < x_0 (also -inf)              | 0           | 0             | 0
//   x == x_0                         | 0           | 0             | 0
//   x == x_i, 0 < i < nx - 1         | i           | i             | i (*)
//   x_i < x < x_{i+1}                | i           | i             | i (*)
//   x == x_{nx-1}                    | nx - 2      | nx - 2        | nx - 2
//   x > x_{nx-1} (also +inf)         | nx - 2      | nx - 2        | nx - 2
//   NaN                              | some cell in [0, nx - 2]
//   partition not increasing, a >= b | some cell in [0, nx - 2]
//
// (*) A site x with a <= x < b is at or right of the uniform breakpoint x_i
// when (x - a)*(nx - 1) >= (b - a)*i, each side rounded once: products are
// compared, never a product added to something, so no compiler may contract
// or reorder the decision, the cell of every site, on a breakpoint or not, is
// the same in every build and SYCL implementation, and the CPU kernel library
// decides it the same way. The search takes its
// candidate cell from the quotient of the two sides and moves it by at most
// one cell, which gives the cell of this rule whenever the quotient's
// rounding moves it by less than one cell: for every partition whose cells
// are wider than a few units of rounding of the sites (else a neighbouring
// cell). The cell never decreases as the site grows.
//
// Every row reads only partitions[0 .. nx-1] (uniform: partitions[0 .. 1]).
// No floating-point value is converted to an integer before it is known to be
// in range: NaN, infinite and huge quotients are clamped first.
//
// Internally the search yields j in [0, nx], the number of breakpoints not
// greater than x (the upper-bound position), and the cell is j - 1 clamped to
// [0, nx - 2]; search_index computes j with exactly that meaning.

// Smallest k in [0, n) with x < p[k], or n; n >= 1. Branch-free bisection:
// the number of steps depends only on n, and each step is a select, so
// neighbouring work-items neither diverge nor mispredict.
template <typename FpType>
std::int64_t upper_bound_index(const FpType* p, std::int64_t n, FpType x) {
  const FpType* base = p;
  std::int64_t len = n;
  while (len > 1) {
    const std::int64_t half = len / 2;
    base = (x < base[half]) ? base : base + half;
    len -= half;
  }
  return (base - p) + ((x < *base) ? 0 : 1);
}

// Largest k in [0, start] with k == 0 or x >= p[k - 1].
template <typename FpType>
std::int64_t walk_down(const FpType* p, std::int64_t start, FpType x) {
  std::int64_t k = start;
  while (k > 0 && !(x >= p[k - 1])) --k;
  return k;
}

// Smallest k in [start, n) with x < p[k], or n.
template <typename FpType>
std::int64_t walk_up(const FpType* p, std::int64_t n, std::int64_t start, FpType x) {
  std::int64_t k = start;
  while (k < n && !(x < p[k])) ++k;
  return k;
}

// Width of a cell of a uniform partition, from which cell_origin measures:
// (b - a) times the reciprocal of nx - 1. The reciprocal does not depend on
// the site, so a compiler can compute it once per kernel instead of dividing
// for every site.
template <typename FpType>
FpType uniform_cell_width(const FpType* partitions, std::int64_t nx) {
  const FpType reciprocal = FpType(1) / static_cast<FpType>(nx >= 2 ? nx - 1 : 1);
  return (partitions[1] - partitions[0]) * reciprocal;
}

// trunc(q) + 1 for q in [0, limit), 1 for q <= 0 or NaN, limit + 1 for larger
// q. The comparisons come first, so the conversion only sees values in range.
template <typename FpType>
std::int64_t truncate_plus_one(FpType q, std::int64_t limit) {
  if (!(q > FpType(0))) return 1;
  if (!(q < static_cast<FpType>(limit))) return limit + 1;
  const std::int64_t t = static_cast<std::int64_t>(q);
  return (t < limit ? t : limit) + 1;
}

// search_index of a uniform partition, by the rule (*) above. Declared
// inline so that it is expanded into the kernels like the rest of the search.
template <typename FpType>
inline std::int64_t uniform_search_index(const FpType* p, std::int64_t nx, FpType x) {
  const FpType a = p[0];
  const FpType b = p[1];
  if (x == b) return nx - 1;
  if (x < a) return 0;
  if (x > b) return nx;
  // Left: a <= x < b, or NaN. The candidate cell g in [0, nx - 2] (0 for
  // NaN) from the quotient, then one cell down when x is left of x_g (never
  // for g = 0, as x >= a) or up when it is at or right of x_{g+1}. Both
  // breakpoint numbers are converted from integers, so that the cell never
  // decreases as the site grows even where the type cannot tell g from g + 1.
  // Selects rather than early returns, to keep the step off the path to the
  // coefficient loads.
  const FpType width = b - a;
  const FpType scaled = (x - a) * static_cast<FpType>(nx - 1);
  const std::int64_t g = truncate_plus_one(scaled / width, nx - 2) - 1;
  std::int64_t j = scaled < width * static_cast<FpType>(g) ? g : g + 1;
  j = g < nx - 2 && scaled >= width * static_cast<FpType>(g + 1) ? g + 2 : j;
  return j;
}

template <partition_hint PH, typename FpType>
std::int64_t search_index(const FpType* partitions, std::int64_t nx, FpType x) {
  const FpType* p = partitions;
  if constexpr (PH == partition_hint::non_uniform) {
    if (x < p[0]) return 0;
    if (x > p[nx - 1]) return nx;
    if (x == p[nx - 1]) return nx - 1;
    return upper_bound_index(p, nx, x);
  } else if constexpr (PH == partition_hint::quasi_uniform) {
    // Guess the cell as if the spacing were even, then walk to the true one.
    if (x < p[0]) return 0;
    if (x == p[nx - 1]) return nx - 1;
    const FpType r = nx >= 2 ? static_cast<FpType>(nx - 1) / (p[nx - 1] - p[0]) : FpType(0);
    const FpType g = (x - p[0]) * r;
    const std::int64_t i = truncate_plus_one(g, nx - 1) - 1;  // in [0, nx - 1]
    if (i + 1 >= nx) return walk_down(p, nx, x);
    if (x >= p[i + 1]) return walk_up(p, nx, i + 1, x);
    return walk_down(p, i + 1, x);
  } else {
    static_assert(PH == partition_hint::uniform, "unknown partition hint");
    return uniform_search_index(p, nx, x);
  }
}

// The cell of search index j: j - 1, clamped to [0, nx - 2].
constexpr std::int64_t cell_of_index(std::int64_t j, std::int64_t nx) {
  std::int64_t cell = j >= 1 ? j - 1 : 0;
  if (j > nx - 1) cell -= 1;
  return cell;
}

// The cell, in [0, nx - 2], whose polynomial evaluates site x.
template <partition_hint PH, typename FpType>
std::int64_t find_cell(const FpType* partitions, std::int64_t nx, FpType x) {
  return cell_of_index(search_index<PH>(partitions, nx, x), nx);
}

// The partition's ends a and b.
template <partition_hint PH, typename FpType>
FpType partition_start(const FpType* partitions, std::int64_t) {
  return partitions[0];
}
template <partition_hint PH, typename FpType>
FpType partition_end(const FpType* partitions, std::int64_t nx) {
  return PH == partition_hint::uniform ? partitions[1] : partitions[nx - 1];
}

// Left breakpoint of a cell: the point from which the kernels measure a site.
template <partition_hint PH, typename FpType>
FpType cell_origin(const FpType* partitions, std::int64_t nx, std::int64_t cell) {
  if constexpr (PH == partition_hint::uniform) {
    return uniform_cell_width(partitions, nx) * static_cast<FpType>(cell) + partitions[0];
  } else {
    return partitions[cell];
  }
}

}  // namespace velora::qrx::experimental::data_fitting::detail
