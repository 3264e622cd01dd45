#pragma once

#include <cstdint>

#include "data_fitting/hints.hpp"
#include "detail/gpu/construct/construct_args.hpp"
#include "detail/gpu/construct/value_index.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// One function's breakpoints and values as construction kernels read them:
// values, reciprocal cell widths and secants by index. A uniform partition
// holds only its two ends and is never expanded: every cell has the
// reciprocal width (nx - 1)/(b - a). Built inside a kernel, after the
// function-value pointer cell has been read.
template <typename T, partition_hint PartHint, function_hint FuncHint>
struct function_knots {
  const T* partitions;
  const T* values;
  value_index<FuncHint> index;
  std::int64_t j;  // the function

  std::int64_t cells() const { return index.nx - 1; }
  T y(std::int64_t i) const { return values[index(j, i)]; }
  // 1 / (x[k + 1] - x[k])
  T r(std::int64_t k) const {
    if constexpr (PartHint == partition_hint::uniform) {
      return static_cast<T>(index.nx - 1) / (partitions[1] - partitions[0]);
    } else {
      return T(1) / (partitions[k + 1] - partitions[k]);
    }
  }
  // Width of cell k for the rules that use only ratios of widths: 1 on a
  // uniform partition, whose width is never formed.
  T relative_width(std::int64_t k) const {
    if constexpr (PartHint == partition_hint::uniform) {
      return T(1);
    } else {
      return partitions[k + 1] - partitions[k];
    }
  }
  // Secant of cell k: (y[k + 1] - y[k]) / (x[k + 1] - x[k]).
  T secant(std::int64_t k) const { return (y(k + 1) - y(k)) * r(k); }
};

// Function j of the spline a construction kernel was handed; reads the
// function-value pointer cell, so it is called inside a kernel.
template <partition_hint PartHint, function_hint FuncHint, typename T>
function_knots<T, PartHint, FuncHint> knots_of(const construct_args<T>& a, std::int64_t j) {
  return {a.partitions, *a.functions, {a.nx, a.ny}, j};
}

// |v| without the math library, which kernels may not call on every
// SYCL implementation; NaN stays NaN.
template <typename T>
T magnitude(T v) {
  return v < T(0) ? -v : v;
}

// The smaller of a and b; the other one where either is NaN, as fmin.
template <typename T>
T smaller(T a, T b) {
  return (b < a || a != a) ? b : a;
}

// -1, 0 or 1 as v is negative, zero or positive; NaN stays NaN, so that the
// slope rules never hide a bad value.
template <typename T>
T sign_of(T v) {
  return v > T(0) ? T(1) : v < T(0) ? T(-1) : v * T(0);
}

}  // namespace velora::qrx::experimental::data_fitting::detail
