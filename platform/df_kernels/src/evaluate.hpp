#pragma once

#include <cstdint>

namespace qrx_df {

// Evaluation of the polynomial pieces. On its cell a piece of order m is
// c0 + c1*t + ... + c(m-1)*t^(m-1) with t = x - x_cell, coefficients
// coef[cell*m + q]. Derivatives are Horner forms in t:
//   cubic  order 0: ((c3*t + c2)*t + c1)*t + c0
//          order 1: ((c3*t)*3 + 2*c2)*t + c1
//          order 2: (t*c3)*6 + c2*2
//          order 3: c3*6
//   linear order 0: t*c1 + c0,  order 1: c1
// Bit d of Mask asks for order d, stored at out[i*site_stride + d*der_stride]
// for the i-th site of the block; other slots are not touched.
template <typename T, int Order, unsigned Mask>
void evaluate_block(const T* coef, const std::int64_t* cell, const T* t, std::int64_t n, T* out,
                    std::int64_t site_stride, std::int64_t der_stride) {
  static_assert(Order == 2 || Order == 4, "linear and cubic pieces only");
  static_assert(Mask != 0 && Mask < (1U << Order), "orders 0 to Order - 1");
  for (std::int64_t i = 0; i < n; ++i) {
    const T* c = coef + cell[i] * Order;
    const T ti = t[i];
    T* o = out + i * site_stride;
    if constexpr (Order == 2) {
      if constexpr ((Mask & 1U) != 0) o[0] = ti * c[1] + c[0];
      if constexpr ((Mask & 2U) != 0) o[der_stride] = c[1];
    } else {
      const T c0 = c[0];
      const T c1 = c[1];
      const T c2 = c[2];
      const T c3 = c[3];
      if constexpr ((Mask & 1U) != 0) o[0] = ((c3 * ti + c2) * ti + c1) * ti + c0;
      if constexpr ((Mask & 2U) != 0) o[der_stride] = ((c3 * ti) * T(3) + T(2) * c2) * ti + c1;
      if constexpr ((Mask & 4U) != 0) o[2 * der_stride] = (ti * c3) * T(6) + c2 * T(2);
      if constexpr ((Mask & 8U) != 0) o[3 * der_stride] = c3 * T(6);
    }
  }
}

template <typename T>
using evaluate_fn = void (*)(const T*, const std::int64_t*, const T*, std::int64_t, T*, std::int64_t, std::int64_t);

}  // namespace qrx_df
