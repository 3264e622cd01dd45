#pragma once

// The cubic B-spline basis on given knots t_0 < ... < t_{nx-1} with the end
// knots four-fold, as a table on the device: its nx + 2 functions
// B_0..B_{nx+1} span every C2 cubic with breakpoints at the knots, and cell
// k = [t_k, t_{k+1}] carries B_k..B_{k+3}. The extended knots are
// tau_i = t_{clamp(i - 3, 0, nx - 1)}.
//
// Per cell the table keeps the knot offsets and the reciprocals of the six
// knot differences that de Boor's recurrence divides by, so evaluating the
// four functions at a site costs no division. Per knot it keeps the weights
// that turn B-spline coefficients into the spline's value and second
// derivative there. Everything is in double for both element types, and the
// knots of a uniform partition are its breakpoints as T computes them, so
// that both back-ends fit on the same knots.

#include <cstdint>

#include "data_fitting/hints.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Knot t_k and the offsets and reciprocals of cell k; see knot_basis_values.
struct knot_cell {
  double t;
  double a1, a2, b1, b2, b3;
  double q[6];
};

// Value and second-derivative weights of one knot.
struct knot_weights {
  double v0, v1, v2;  // B_k, B_{k+1}, B_{k+2} at t_k
  double rd1, rd2;    // 1/(tau_{k+4} - tau_{k+1}), 1/(tau_{k+5} - tau_{k+2})
  double re;          // 1/(tau_{k+4} - tau_{k+2})
  double reciprocal;  // 1/(t_{k+1} - t_k), 0 at the last knot
};

// t_k with k clamped into [0, nx): the extended knots. A uniform partition
// holds its ends a, b; its inner knots are h*k + a with h = (b - a)/(nx - 1)
// in T, the last one b itself.
template <partition_hint PartHint, typename T>
double knot_at(const T* partitions, std::int64_t nx, std::int64_t k) {
  k = k < 0 ? 0 : (k >= nx ? nx - 1 : k);
  if constexpr (PartHint == partition_hint::uniform) {
    if (k == nx - 1) return static_cast<double>(partitions[1]);
    const T h = (partitions[1] - partitions[0]) / static_cast<T>(nx - 1);
    return static_cast<double>(h * static_cast<T>(k) + partitions[0]);
  } else {
    return static_cast<double>(partitions[k]);
  }
}

// B_k..B_{k+3} at t_k + s into v (de Boor's recurrence, the left and right
// distances to the knots written from the cell's offsets).
inline void knot_basis_values(const knot_cell& c, double s, double* v) {
  const double left1 = s, left2 = s + c.a1, left3 = s + c.a2;
  const double right1 = c.b1 - s, right2 = c.b2 - s, right3 = c.b3 - s;
  double t = c.q[0];
  double n0 = right1 * t, n1 = left1 * t;
  t = n0 * c.q[1];
  n0 = right1 * t;
  double saved = left2 * t;
  t = n1 * c.q[2];
  n1 = saved + right2 * t;
  const double n2 = left1 * t;
  t = n0 * c.q[3];
  v[0] = right1 * t;
  saved = left3 * t;
  t = n1 * c.q[4];
  v[1] = saved + right2 * t;
  saved = left2 * t;
  t = n2 * c.q[5];
  v[2] = saved + right3 * t;
  v[3] = left1 * t;
}

// Work-item k of the table's construction, k in [0, nx): cell k (when
// k < nx - 1) and knot k. Reads only the partition, so every entry is
// independent. A partition that is not increasing gives infinite or NaN
// entries, never a read outside it.
template <partition_hint PartHint, typename T>
void build_knot_entry(const T* partitions, std::int64_t nx, std::int64_t k, knot_cell* cells, knot_weights* knots) {
  auto at = [&](std::int64_t i) { return knot_at<PartHint>(partitions, nx, i); };
  const double tk = at(k);
  knot_cell c{};
  if (k + 1 < nx) {
    c.t = tk;
    c.a1 = tk - at(k - 1);
    c.a2 = tk - at(k - 2);
    c.b1 = at(k + 1) - tk;
    c.b2 = at(k + 2) - tk;
    c.b3 = at(k + 3) - tk;
    c.q[0] = 1.0 / c.b1;
    c.q[1] = 1.0 / (at(k + 1) - at(k - 1));
    c.q[2] = 1.0 / c.b2;
    c.q[3] = 1.0 / (at(k + 1) - at(k - 2));
    c.q[4] = 1.0 / (at(k + 2) - at(k - 1));
    c.q[5] = 1.0 / c.b3;
    cells[k] = c;
  }
  double v[4] = {0.0, 0.0, 0.0, 0.0};
  if (k == 0) {
    v[0] = 1.0;
  } else if (k + 1 < nx) {
    knot_basis_values(c, 0.0, v);
  }
  knot_weights w{};
  w.v0 = v[0];
  w.v1 = v[1];
  w.v2 = v[2];
  w.rd1 = 1.0 / (at(k + 1) - at(k - 2));
  w.rd2 = 1.0 / (at(k + 2) - at(k - 1));
  w.re = 1.0 / (at(k + 1) - at(k - 1));
  w.reciprocal = k + 1 < nx ? 1.0 / (at(k + 1) - tk) : 0.0;
  knots[k] = w;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
