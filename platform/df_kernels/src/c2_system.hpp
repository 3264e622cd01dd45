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

#include "cell_steps.hpp"
#include "construct_setup.hpp"
#include "hermite_cell.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "slope_rules.hpp"

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
  // super-diagonal and right side of row i < m in slots 2 and 1 of cell i;
  // the back substitution yields the slopes from the right end down and
  // writes each cell as soon as both its slopes are known.
  void solve_open() const {
    T super = 0;
    T rhs = 0;
    for (std::int64_t i = 0; i < m_; ++i) {
      const slope_row<T> row = i == 0 ? first_row() : interior_row(i);
      const T inverse = T(1) / (row.diag - row.sub * super);
      super = row.super * inverse;
      rhs = (row.rhs - row.sub * rhs) * inverse;
      c_[4 * i + 1] = rhs;
      c_[4 * i + 2] = super;
    }
    const slope_row<T> row = last_row();
    T d = (row.rhs - row.sub * rhs) / (row.diag - row.sub * super);
    T right = limited(m_, d);
    for (std::int64_t i = m_ - 1; i >= 0; --i) {
      d = c_[4 * i + 1] - c_[4 * i + 2] * d;
      const T left = limited(i, d);
      write_cell(i, left, right);
      right = left;
    }
  }

  // The periodic spline: d_m = d_0, and rows 0..m-1 form a cyclic
  // tridiagonal system A d = f. Sherman-Morrison: A = B + u v^T with B
  // tridiagonal, u = (g, 0, .., 0, alpha), v = (1, 0, .., 0, beta/g), where
  // beta = A[0][m-1], alpha = A[m-1][0] and g = -A[0][0]; then d = x - q z
  // with B x = f, B z = u and q = (x_0 + beta x_{m-1}/g)/(1 + z_0 + beta
  // z_{m-1}/g). B stays diagonally dominant (its corner diagonals are 4 and
  // 2 + alpha beta/2). Cell i holds x_i, the eliminated super-diagonal and
  // z_i in slots 1, 2 and 3 until the last pass writes it.
  void solve_periodic() const {
    const slope_row<T> first = interior_row(0);
    const T beta = first.sub;
    const T g = -first.diag;
    T super = 0;
    T x = 0;
    T z = 0;
    T alpha = 0;
    for (std::int64_t i = 0; i < m_; ++i) {
      slope_row<T> row = interior_row(i);
      T u = 0;
      if (i == 0) {
        row.sub = 0;
        row.diag -= g;
        u = g;
      }
      if (i == m_ - 1) {
        alpha = row.super;
        row.super = 0;
        row.diag -= alpha * beta / g;
        u = alpha;
      }
      const T inverse = T(1) / (row.diag - row.sub * super);
      super = row.super * inverse;
      x = (row.rhs - row.sub * x) * inverse;
      z = (u - row.sub * z) * inverse;
      c_[4 * i + 1] = x;
      c_[4 * i + 2] = super;
      c_[4 * i + 3] = z;
    }
    for (std::int64_t i = m_ - 2; i >= 0; --i) {
      x = c_[4 * i + 1] - c_[4 * i + 2] * x;
      z = c_[4 * i + 3] - c_[4 * i + 2] * z;
      c_[4 * i + 1] = x;
      c_[4 * i + 3] = z;
    }
    const T x_last = c_[4 * (m_ - 1) + 1];
    const T z_last = c_[4 * (m_ - 1) + 3];
    const T q = (x + beta * x_last / g) / (T(1) + z + beta * z_last / g);
    auto slope = [&](std::int64_t i) { return limited(i, c_[4 * i + 1] - q * c_[4 * i + 3]); };
    const T d0 = slope(0);
    T left = d0;
    for (std::int64_t i = 0; i < m_; ++i) {
      const T right = i + 1 < m_ ? slope(i + 1) : d0;
      write_cell(i, left, right);
      left = right;
    }
  }

  const construct_setup<T>& s_;
  cell_steps<T, Uniform> steps_;
  function_row<T, ColMajor> y_;
  T* c_;
  std::int64_t m_;
};

}  // namespace qrx_df
