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
// Cells are indices of type Index (32 bits whenever the partition allows).
// Order d of the i-th site of a block goes to out[i*site_stride + d*der_stride]
// when bit d of the mask is set; other slots are not touched.
//
// Mask and SiteStride are compile-time for the common cases (orders 0 .. K-1
// with sites adjacent, or with the K orders of a site adjacent: sites K
// apart) so that the loops vectorise; 0 means "given at run time".
template <typename T, typename Index, int Order, unsigned Mask, int SiteStride>
void evaluate_block(const T* coef, const Index* cell, const T* t, std::int64_t n, T* out,
                    std::int64_t site_stride, std::int64_t der_stride, unsigned mask) {
  static_assert(Order == 2 || Order == 4, "linear and cubic pieces only");
  const std::int64_t stride = SiteStride > 0 ? SiteStride : site_stride;
  const std::int64_t der = SiteStride >= 2 ? 1 : der_stride;
  const unsigned m = Mask != 0 ? Mask : mask;
  for (std::int64_t i = 0; i < n; ++i) {
    const T* c = coef + static_cast<std::int64_t>(cell[i]) * Order;
    const T ti = t[i];
    T* o = out + i * stride;
    if constexpr (Order == 2) {
      if ((m & 1U) != 0) o[0] = ti * c[1] + c[0];
      if ((m & 2U) != 0) o[der] = c[1];
    } else {
      const T c0 = c[0];
      const T c1 = c[1];
      const T c2 = c[2];
      const T c3 = c[3];
      if ((m & 1U) != 0) o[0] = ((c3 * ti + c2) * ti + c1) * ti + c0;
      if ((m & 2U) != 0) o[der] = ((c3 * ti) * T(3) + T(2) * c2) * ti + c1;
      if ((m & 4U) != 0) o[2 * der] = (ti * c3) * T(6) + c2 * T(2);
      if ((m & 8U) != 0) o[3 * der] = c3 * T(6);
    }
  }
}

template <typename T, typename Index>
using evaluate_fn = void (*)(const T*, const Index*, const T*, std::int64_t, T*, std::int64_t, std::int64_t, unsigned);

}  // namespace qrx_df
