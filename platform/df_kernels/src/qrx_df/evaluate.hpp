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
// The last order does not involve t; at a NaN site (t NaN) it is NaN too, so
// that a NaN site gives NaN in every order.
// Cells are indices of type Index (32 bits whenever the partition allows).
// Order d of the i-th site of a block goes to out[i*site_stride + d*der_stride]
// when bit d of the mask is set; other slots are not touched.
//
// Mask and SiteStride are compile-time for the common cases (orders 0 .. K-1
// with sites adjacent, or with the K orders of a site adjacent: sites K
// apart) so that the loops vectorise; 0 means "given at run time".
// The asked-for orders of one piece c at offset t, order d to o[d*der].
template <typename T, int Order>
inline void piece_orders(const T* c, T t, T* o, std::int64_t der, unsigned m) {
  static_assert(Order == 2 || Order == 4, "linear and cubic pieces only");
  if constexpr (Order == 2) {
    if ((m & 1U) != 0) o[0] = t * c[1] + c[0];
    if ((m & 2U) != 0) o[der] = t == t ? c[1] : t;
  } else {
    const T c0 = c[0];
    const T c1 = c[1];
    const T c2 = c[2];
    const T c3 = c[3];
    if ((m & 1U) != 0) o[0] = ((c3 * t + c2) * t + c1) * t + c0;
    if ((m & 2U) != 0) o[der] = ((c3 * t) * T(3) + T(2) * c2) * t + c1;
    if ((m & 4U) != 0) o[2 * der] = (t * c3) * T(6) + c2 * T(2);
    if ((m & 8U) != 0) o[3 * der] = t == t ? c3 * T(6) : t;
  }
}

template <typename T, typename Index, int Order, unsigned Mask, int SiteStride>
void evaluate_block(const T* coef, const Index* cell, const T* t, std::int64_t n, T* out,
                    std::int64_t site_stride, std::int64_t der_stride, unsigned mask) {
  const std::int64_t stride = SiteStride > 0 ? SiteStride : site_stride;
  const std::int64_t der = SiteStride >= 2 ? 1 : der_stride;
  const unsigned m = Mask != 0 ? Mask : mask;
  for (std::int64_t i = 0; i < n; ++i) {
    piece_orders<T, Order>(coef + static_cast<std::int64_t>(cell[i]) * Order, t[i], out + i * stride, der, m);
  }
}

// Many functions at one site, for the site-major layouts: the pieces of nf
// functions whose coefficient arrays are fstride apart, coef being the first
// function's piece at the site's cell; order d of function k goes to
// out[k*function_stride + d*der_stride]. FunctionStride and Mask as
// SiteStride and Mask of evaluate_block, with functions in place of sites.
template <typename T, int Order, unsigned Mask, int FunctionStride>
void evaluate_functions(const T* coef, std::int64_t fstride, T t, std::int64_t nf, T* out,
                        std::int64_t function_stride, std::int64_t der_stride, unsigned mask) {
  const std::int64_t stride = FunctionStride > 0 ? FunctionStride : function_stride;
  const std::int64_t der = FunctionStride >= 2 ? 1 : der_stride;
  const unsigned m = Mask != 0 ? Mask : mask;
  for (std::int64_t k = 0; k < nf; ++k) piece_orders<T, Order>(coef + k * fstride, t, out + k * stride, der, m);
}

// A tile of a site-major layout: nf functions (coefficient arrays fstride
// apart) at the n sites of a block; results as evaluate_functions, sites
// site_stride apart.
template <typename T, typename Index, int Order, unsigned Mask, int FunctionStride>
void evaluate_tile(const T* coef, std::int64_t fstride, std::int64_t nf, const Index* cell, const T* t,
                   std::int64_t n, T* out, std::int64_t site_stride, std::int64_t function_stride,
                   std::int64_t der_stride, unsigned mask) {
  for (std::int64_t i = 0; i < n; ++i) {
    evaluate_functions<T, Order, Mask, FunctionStride>(coef + static_cast<std::int64_t>(cell[i]) * Order, fstride,
                                                       t[i], nf, out + i * site_stride, function_stride, der_stride,
                                                       mask);
  }
}

template <typename T, typename Index>
using tile_fn = void (*)(const T*, std::int64_t, std::int64_t, const Index*, const T*, std::int64_t, T*,
                         std::int64_t, std::int64_t, std::int64_t, unsigned);

template <typename T, typename Index>
using evaluate_fn = void (*)(const T*, const Index*, const T*, std::int64_t, T*, std::int64_t, std::int64_t, unsigned);

}  // namespace qrx_df
