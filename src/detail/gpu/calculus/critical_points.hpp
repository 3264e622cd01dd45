#pragma once

#include <sycl/sycl.hpp>

#include "detail/gpu/calculus/cell_polynomial.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// The roots of a cell polynomial's derivative c1 + 2 c2 t + 3 c3 t^2 strictly
// inside (0, h), ascending: where the polynomial turns, so that it is
// monotone between them.
template <typename FpType>
struct critical_points {
  int count = 0;
  FpType t[2] = {FpType(0), FpType(0)};
};

template <typename FpType>
critical_points<FpType> critical_points_in(const cell_polynomial<FpType>& c, FpType h) {
  const FpType qa = FpType(3) * c.c3, qb = FpType(2) * c.c2, qc = c.c1;
  FpType r[2] = {FpType(-1), FpType(-1)};
  if (qa == FpType(0)) {
    if (qb != FpType(0)) r[0] = -qc / qb;
  } else {
    const FpType disc = qb * qb - FpType(4) * qa * qc;
    if (disc >= FpType(0)) {
      // The root of larger magnitude from the formula that does not cancel,
      // the other from the product of the roots.
      const FpType root = sycl::sqrt(disc);
      const FpType q = FpType(-0.5) * (qb >= FpType(0) ? qb + root : qb - root);
      if (q != FpType(0)) {
        r[0] = q / qa;
        r[1] = qc / q;
      }
    }
  }
  if (r[1] < r[0]) {
    const FpType swapped = r[0];
    r[0] = r[1];
    r[1] = swapped;
  }
  critical_points<FpType> points;
  for (int i = 0; i < 2; ++i) {
    const bool inside = r[i] > FpType(0) && r[i] < h;
    const bool repeated = points.count > 0 && points.t[points.count - 1] == r[i];
    if (inside && !repeated) points.t[points.count++] = r[i];
  }
  return points;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
