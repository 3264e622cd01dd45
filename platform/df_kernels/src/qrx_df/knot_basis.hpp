#pragma once

// The cubic B-spline basis on given knots t_0 < ... < t_{nx-1} with the end
// knots four-fold: its nx + 2 functions B_0..B_{nx+1} span every C2 cubic
// with breakpoints at the knots, and cell k = [t_k, t_{k+1}] carries
// B_k..B_{k+3}. The extended knots are tau_i = t_{clamp(i - 3, 0, nx - 1)}.
//
// Per cell the knot offsets and the reciprocals of the six knot differences
// that de Boor's recurrence divides by are kept, so evaluating the four
// functions at a site costs no division. Every difference spans the cell
// itself, so none is zero. Per knot the weights that turn B-spline
// coefficients into the spline's value and second derivative there are kept
// (the second derivative as the second difference of the coefficients).

#include <cstdint>

#include "qrx_df/task_record.hpp"
#include "qrx_df/work_buffer.hpp"

namespace qrx_df {

class knot_basis {
 public:
  // Offsets and reciprocals of one cell; see values().
  struct cell {
    double a1, a2, b1, b2, b3;
    double q[6];
  };
  // Value and second-derivative weights of one knot.
  struct knot {
    double v0, v1, v2;  // B_k, B_{k+1}, B_{k+2} at t_k
    double rd1, rd2;    // 1/(tau_{k+4} - tau_{k+1}), 1/(tau_{k+5} - tau_{k+2})
    double re;          // 1/(tau_{k+4} - tau_{k+2})
    double reciprocal;  // 1/(t_{k+1} - t_k), 0 at the last knot
  };

  // knots(k): t_k as a double, k in [0, nx). ok() is false when memory ran out.
  template <typename Knots>
  knot_basis(std::int64_t nx, Knots knots)
      : nx_(nx),
        buffer_(product_fits(nx, 24) ? (nx - 1) * std::int64_t{sizeof(cell) / sizeof(double)} +
                                           nx * std::int64_t{sizeof(knot) / sizeof(double)} + nx
                                     : -1) {
    if (!buffer_.ok()) return;
    t_ = buffer_.data();
    cells_ = reinterpret_cast<cell*>(t_ + nx);
    knots_ = reinterpret_cast<knot*>(cells_ + (nx - 1));
    for (std::int64_t k = 0; k < nx; ++k) t_[k] = knots(k);
    for (std::int64_t k = 0; k + 1 < nx; ++k) {
      cell& c = cells_[k];
      const double tk = t_[k];
      c.a1 = tk - at(k - 1);
      c.a2 = tk - at(k - 2);
      c.b1 = t_[k + 1] - tk;
      c.b2 = at(k + 2) - tk;
      c.b3 = at(k + 3) - tk;
      c.q[0] = 1.0 / c.b1;
      c.q[1] = 1.0 / (t_[k + 1] - at(k - 1));
      c.q[2] = 1.0 / c.b2;
      c.q[3] = 1.0 / (t_[k + 1] - at(k - 2));
      c.q[4] = 1.0 / (at(k + 2) - at(k - 1));
      c.q[5] = 1.0 / c.b3;
    }
    for (std::int64_t k = 0; k < nx; ++k) {
      knot& w = knots_[k];
      double v[4] = {0.0, 0.0, 0.0, 0.0};
      if (k == 0) {
        v[0] = 1.0;
      } else if (k + 1 < nx) {
        values(k, 0.0, v);
      }
      w.v0 = v[0];
      w.v1 = v[1];
      w.v2 = v[2];
      w.rd1 = 1.0 / (at(k + 1) - at(k - 2));
      w.rd2 = 1.0 / (at(k + 2) - at(k - 1));
      w.re = 1.0 / (at(k + 1) - at(k - 1));
      w.reciprocal = k + 1 < nx ? 1.0 / (t_[k + 1] - t_[k]) : 0.0;
    }
  }

  bool ok() const { return buffer_.ok(); }
  std::int64_t knots() const { return nx_; }
  std::int64_t size() const { return nx_ + 2; }  // number of basis functions
  double t(std::int64_t k) const { return t_[k]; }
  const knot& at_knot(std::int64_t k) const { return knots_[k]; }

  // B_k..B_{k+3} at t_k + s into v (de Boor's recurrence, the left and right
  // distances to the knots written from the cell's offsets).
  void values(std::int64_t k, double s, double* v) const {
    const cell& c = cells_[k];
    const double left1 = s, left2 = s + c.a1, left3 = s + c.a2;
    const double right1 = c.b1 - s, right2 = c.b2 - s, right3 = c.b3 - s;
    double t = c.q[0];
    double n0 = right1 * t, n1 = left1 * t;
    t = n0 * c.q[1];
    n0 = right1 * t;
    double saved = left2 * t;
    t = n1 * c.q[2];
    n1 = saved + right2 * t;
    double n2 = left1 * t;
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

 private:
  // t_k with k clamped into [0, nx): the extended knots.
  double at(std::int64_t k) const { return t_[k < 0 ? 0 : (k >= nx_ ? nx_ - 1 : k)]; }

  std::int64_t nx_;
  work_buffer buffer_;
  double* t_ = nullptr;
  cell* cells_ = nullptr;
  knot* knots_ = nullptr;
};

}  // namespace qrx_df
