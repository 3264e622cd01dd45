#pragma once

// Cell widths of a partition, in the forms the cubic constructions use.

#include <cstdint>

#include "qrx_df/construct_setup.hpp"
#include "qrx_df/slope_rules.hpp"

namespace qrx_df {

// A uniform partition holds only its two ends: its cell width is never
// formed, only the reciprocal r = (nx - 1)/(b - a), the same for all cells.
template <typename T, bool Uniform>
struct cell_steps {
  const T* x;
  T uniform_r;

  explicit cell_steps(const construct_setup<T>& s)
      : x(s.x), uniform_r(Uniform ? static_cast<T>(s.nx - 1) / (s.x[1] - s.x[0]) : T(0)) {}

  // 1/h of cell k.
  T reciprocal(std::int64_t k) const {
    if constexpr (Uniform) {
      return uniform_r;
    } else {
      return T(1) / (x[k + 1] - x[k]);
    }
  }

  // v*h of cell k.
  T times_width(T v, std::int64_t k) const {
    if constexpr (Uniform) {
      return v / uniform_r;
    } else {
      return v * (x[k + 1] - x[k]);
    }
  }

  // Width of cell k for the rules that use only ratios of widths: 1 on a
  // uniform partition.
  T relative_width(std::int64_t k) const {
    if constexpr (Uniform) {
      return T(1);
    } else {
      return x[k + 1] - x[k];
    }
  }

  // Weights of the secants of the adjacent cells kl (left) and kr (right)
  // in the parabola's slope at their shared breakpoint.
  secant_weights<T> weights(std::int64_t kl, std::int64_t kr) const {
    if constexpr (Uniform) {
      return {T(0.5), T(0.5)};
    } else {
      const T hl = x[kl + 1] - x[kl];
      const T hr = x[kr + 1] - x[kr];
      const T sum = hl + hr;
      return {hr / sum, hl / sum};
    }
  }
};

}  // namespace qrx_df
