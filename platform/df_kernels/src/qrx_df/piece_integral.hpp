#pragma once

#include <cstdint>

namespace qrx_df {

// The integral of a piece from its origin: Q(t) = c0 t + c1 t^2/2 (+ c2 t^3/3
// + c3 t^4/4 for cubic pieces), in Horner form.
template <typename T>
inline T piece_integral(const T* c, std::int64_t order, T t) {
  if (order == 2) return (c[1] * T(0.5) * t + c[0]) * t;
  return (((c[3] * T(0.25) * t + c[2] / T(3)) * t + c[1] * T(0.5)) * t + c[0]) * t;
}

// The integral of a piece from t1 to t2 in factored form, so that a short
// interval far from the origin keeps its digits:
//   (t2 - t1) (c0 + c1 (t1 + t2)/2 + c2 (t1^2 + t1 t2 + t2^2)/3
//              + c3 (t1 + t2)(t1^2 + t2^2)/4)
// (linear pieces: the first two terms). Exactly 0 for t1 == t2, exactly
// antisymmetric in t1, t2.
// Order is 2 or 4, c2 and c3 unused for 2: coefficients as values, for loops
// that gather them.
template <int Order, typename T>
inline T factored_integral(T c0, T c1, T c2, T c3, T t1, T t2) {
  const T s = t1 + t2;
  T mean = c0 + c1 * s * T(0.5);
  if constexpr (Order != 2) {
    const T q = t1 * t1 + t2 * t2;
    mean = mean + c2 * (q + t1 * t2) / T(3) + c3 * s * q * T(0.25);
  }
  return (t2 - t1) * mean;
}

template <typename T>
inline T piece_integral_between(const T* c, std::int64_t order, T t1, T t2) {
  if (order == 2) return factored_integral<2>(c[0], c[1], T(0), T(0), t1, t2);
  return factored_integral<4>(c[0], c[1], c[2], c[3], t1, t2);
}

// Value and first derivative of a piece at t, as the evaluation computes them.
template <typename T>
inline void piece_value_slope(const T* c, std::int64_t order, T t, T& value, T& slope) {
  if (order == 2) {
    value = t * c[1] + c[0];
    slope = c[1];
    return;
  }
  value = ((c[3] * t + c[2]) * t + c[1]) * t + c[0];
  slope = ((c[3] * t) * T(3) + T(2) * c[2]) * t + c[1];
}

}  // namespace qrx_df
