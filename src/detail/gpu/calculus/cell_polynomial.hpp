#pragma once

#include <cstdint>

#include "data_fitting/hints.hpp"
#include "detail/gpu/calculus/calculus_args.hpp"
#include "detail/gpu/interpolate/cell_search.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// The polynomial of one cell, c0 + c1 t + c2 t^2 + c3 t^3 with t measured
// from the cell's left breakpoint; a linear cell has c2 = c3 = 0.
template <typename FpType>
struct cell_polynomial {
  FpType c0, c1, c2, c3;

  FpType value(FpType t) const { return ((c3 * t + c2) * t + c1) * t + c0; }
  FpType slope(FpType t) const { return ((FpType(3) * c3) * t + FpType(2) * c2) * t + c1; }
  // Integral from t1 to t2, factored so that a short interval far from the
  // cell's start keeps its digits: (t2 - t1) times the mean value.
  FpType integral(FpType t1, FpType t2) const {
    const FpType sum = t1 + t2;
    const FpType squares = t1 * t1 + t2 * t2;
    const FpType mean = c0 + c1 * sum * FpType(0.5) + c2 * (squares + t1 * t2) / FpType(3) +
                        c3 * sum * squares * FpType(0.25);
    return (t2 - t1) * mean;
  }
  bool has_nan() const { return c0 != c0 || c1 != c1 || c2 != c2 || c3 != c3; }
};

// Cell k of function j, read from the coefficients the kernel sees.
template <typename FpType>
cell_polynomial<FpType> read_cell(const calculus_spline<FpType>& s, const FpType* coeffs, std::int64_t j,
                                  std::int64_t k) {
  const FpType* c = coeffs + (j * s.cells() + k) * s.coeffs_per_cell;
  if (s.coeffs_per_cell == 2) return {c[0], c[1], FpType(0), FpType(0)};
  return {c[0], c[1], c[2], c[3]};
}

// Breakpoint k in [0, nx - 1] as the interpolation kernels measure from it;
// the last one is the partition's end b.
template <partition_hint PH, typename FpType>
FpType breakpoint(const FpType* partitions, std::int64_t nx, std::int64_t k) {
  return k == nx - 1 ? partition_end<PH>(partitions, nx) : cell_origin<PH>(partitions, nx, k);
}

}  // namespace velora::qrx::experimental::data_fitting::detail
