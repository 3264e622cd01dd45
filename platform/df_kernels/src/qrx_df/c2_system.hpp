#pragma once

// The slope system of the C2 cubic kinds (the natural cubic spline, and
// Hyman's monotone spline, which limits its slopes) and its serial solve.
//
// The slopes d_0..d_m (m = nx - 1 cells) solve, at each interior breakpoint
// i, the continuity of the second derivative
//   lambda_i d_{i-1} + 2 d_i + mu_i d_{i+1} = 3 (lambda_i s_{i-1} + mu_i s_i),
// with secants s_k and lambda_i = h_i/(h_{i-1} + h_i), mu_i = 1 - lambda_i:
// the rows divided by r_{i-1} + r_i (r = 1/h), so that nothing grows with
// 1/h and a uniform partition has the constant weights 1/2. The two end rows
// come from the boundary conditions. The serial solve runs the Thomas
// algorithm in the element type (the system is diagonally dominant except
// for the not-a-knot rows, which it still solves: their elimination leaves a
// pivot of exactly 1 in the second row). The sweeps keep their intermediate
// values in the function's own coefficient cells before overwriting them
// with the coefficients, so a construction needs no memory beyond the
// caller's arrays, whatever nx is. Long partitions are solved by blocks
// instead (c2_blocked.hpp), from the same end and separator rows.

#include <cstdint>

#include "qrx_df/cell_steps.hpp"
#include "qrx_df/construct_setup.hpp"
#include "qrx_df/hermite_cell.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/slope_rules.hpp"
#include "qrx_df/tridiagonal.hpp"

namespace qrx_df {

// One row of the slope system: sub*d_{i-1} + diag*d_i + super*d_{i+1} = rhs.
template <typename T>
struct slope_row {
  T sub;
  T diag;
  T super;
  T rhs;
};

// The rows of one function's slope system, the slopes as the cells use them
// (Monotone applies Hyman's limit), and the cells.
template <typename T, bool Uniform, bool ColMajor, bool Monotone>
class c2_system {
 public:
  c2_system(const construct_setup<T>& s, std::int64_t j)
      : s_(s), steps_(s), y_(row_of<T, ColMajor>(s, j)), c_(s.coeffs[j]), m_(s.nx - 1) {}

  std::int64_t cells() const { return m_; }
  bool periodic() const { return s_.bc == QRX_DF_BC_PERIODIC; }
  T* coeffs() const { return c_; }
  const function_row<T, ColMajor>& values() const { return y_; }
  const cell_steps<T, Uniform>& steps() const { return steps_; }

  T secant(std::int64_t k) const { return (y_[k + 1] - y_[k]) * steps_.reciprocal(k); }

  // Row i of the interior, i in [1, m); for a periodic spline also row 0,
  // whose left neighbour is the last cell.
  slope_row<T> interior_row(std::int64_t i) const {
    const std::int64_t kl = i > 0 ? i - 1 : m_ - 1;
    const secant_weights<T> w = steps_.weights(kl, i);
    return {w.left, T(2), w.right, T(3) * (w.left * secant(kl) + w.right * secant(i))};
  }

  slope_row<T> first_row() const {
    const T s0 = secant(0);
    if ((s_.bc & QRX_DF_BC_FIRST_LEFT) != 0) return {T(0), T(1), T(0), s_.left};
    if ((s_.bc & QRX_DF_BC_SECOND_LEFT) != 0) {
      return {T(0), T(2), T(1), T(3) * s0 - steps_.times_width(T(0.5) * s_.left, 0)};
    }
    if (s_.bc == QRX_DF_BC_NOT_A_KNOT) {
      // r_0 d_0 + (r_0 + r_1) d_1 = ((2 r_0 + 3 r_1) r_0 s_0 + r_1^2 s_1)/(r_0 + r_1),
      // divided by r_0 + r_1.
      const secant_weights<T> w = steps_.weights(0, 1);
      return {T(0), w.left, T(1), (T(2) * w.left + T(3) * w.right) * w.left * s0 + w.right * w.right * secant(1)};
    }
    return {T(0), T(2), T(1), T(3) * s0};  // free end
  }

  slope_row<T> last_row() const {
    const std::int64_t k = m_ - 1;
    const T s = secant(k);
    if ((s_.bc & QRX_DF_BC_FIRST_RIGHT) != 0) return {T(0), T(1), T(0), s_.right};
    if ((s_.bc & QRX_DF_BC_SECOND_RIGHT) != 0) {
      return {T(1), T(2), T(0), T(3) * s + steps_.times_width(T(0.5) * s_.right, k)};
    }
    if (s_.bc == QRX_DF_BC_NOT_A_KNOT) {
      // The mirror image of the first row.
      const secant_weights<T> w = steps_.weights(k - 1, k);
      return {T(1), w.right, T(0), (T(2) * w.right + T(3) * w.left) * w.right * s + w.left * w.left * secant(k - 1)};
    }
    return {T(1), T(2), T(0), T(3) * s};  // free end
  }

  // Row i in [0, m] of an open system, in [0, m) of a periodic one.
  slope_row<T> row(std::int64_t i) const {
    if (periodic() || (i > 0 && i < m_)) return interior_row(i);
    return i == 0 ? first_row() : last_row();
  }

  // The slope at breakpoint i as the cells use it.
  T limited(std::int64_t i, T d) const {
    if constexpr (Monotone) {
      if (periodic()) {
        return hyman_limit(d, secant(i > 0 ? i - 1 : m_ - 1), secant(i < m_ ? i : 0));
      }
      if (i == 0) return hyman_limit(d, secant(0), secant(0));
      if (i == m_) return hyman_limit(d, secant(m_ - 1), secant(m_ - 1));
      return hyman_limit(d, secant(i - 1), secant(i));
    } else {
      (void)i;
      return d;
    }
  }

  void write_cell(std::int64_t k, T dl, T dr) const {
    const T r = steps_.reciprocal(k);
    hermite_cell(c_ + 4 * k, y_[k], (y_[k + 1] - y_[k]) * r, r, dl, dr);
  }

  // The whole function by the Thomas algorithm.
  void solve_serial() const {
    if (periodic()) {
      solve_periodic();
    } else if (s_.bc == QRX_DF_BC_NOT_A_KNOT && m_ == 2) {
      // Both not-a-knot rows ask for the one cubic through three points:
      // the system is singular, and the parabola is that cubic.
      const parabola_slopes<T> p = parabola(secant(0), secant(1), steps_.weights(0, 1));
      const T d1 = limited(1, p.middle);
      write_cell(0, limited(0, p.left), d1);
      write_cell(1, d1, limited(2, p.right));
    } else {
      solve_open();
    }
  }

 private:
  // Thomas algorithm on rows 0..m. The forward sweep keeps the eliminated
  // row i < m (right side and super-diagonal) in slots 1 and 2 of cell i;
  // the back substitution yields the slopes from the right end down and
  // writes each cell as soon as both its slopes are known.
  void solve_open() const {
    auto row = [&](std::int64_t i) {
      const slope_row<T> r = i == 0 ? first_row() : i == m_ ? last_row() : interior_row(i);
      return sweep_row<T, 1>{r.sub, r.diag, r.super, {r.rhs}};
    };
    const eliminated_row<T, 1> last = eliminate_forward<T, 1>(m_ + 1, row, [&](std::int64_t i, const eliminated_row<T, 1>& e) {
      if (i == m_) return;
      c_[4 * i + 1] = e.y[0];
      c_[4 * i + 2] = e.factor;
    });
    T right = 0;
    substitute_back<T, 1>(
        m_ + 1, last, [&](std::int64_t i) { return eliminated_row<T, 1>{c_[4 * i + 2], {c_[4 * i + 1]}}; },
        [&](std::int64_t i, const T* x) {
          const T slope = limited(i, x[0]);
          if (i < m_) write_cell(i, slope, right);
          right = slope;
        });
  }

  // The periodic spline: d_m = d_0, and rows 0..m-1 form a cyclic
  // tridiagonal system, solved by solve_cyclic. Cell i holds its eliminated
  // row (slots 1, 2, 3), then its partial solutions, until it is written;
  // the last cell is written once the slope at the joined ends is known.
  void solve_periodic() const {
    auto row = [&](std::int64_t i) {
      const slope_row<T> r = interior_row(i);
      return sweep_row<T, 1>{r.sub, r.diag, r.super, {r.rhs}};
    };
    T right = 0;
    T last_left = 0;
    solve_cyclic<T>(
        m_, row,
        [&](std::int64_t i, const eliminated_row<T, 2>& e) {
          c_[4 * i + 1] = e.y[0];
          c_[4 * i + 2] = e.factor;
          c_[4 * i + 3] = e.y[1];
        },
        [&](std::int64_t i) { return eliminated_row<T, 2>{c_[4 * i + 2], {c_[4 * i + 1], c_[4 * i + 3]}}; },
        [&](std::int64_t i, T d) {
          const T slope = limited(i, d);
          if (i == m_ - 1) {
            last_left = slope;
          } else {
            write_cell(i, slope, right);
          }
          right = slope;
        });
    write_cell(m_ - 1, last_left, right);
  }

  const construct_setup<T>& s_;
  cell_steps<T, Uniform> steps_;
  function_row<T, ColMajor> y_;
  T* c_;
  std::int64_t m_;
};

}  // namespace qrx_df
