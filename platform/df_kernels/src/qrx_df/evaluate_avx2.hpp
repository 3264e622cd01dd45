#pragma once

#include <cstdint>

#include "qrx_df/evaluate.hpp"
#include "qrx_df/isa.hpp"

#if QRX_DF_HAVE_AVX2_VARIANT
#include <immintrin.h>

namespace qrx_df {

// AVX2 evaluation of double cubic pieces, four sites at a time. Each site's
// four coefficients are one 32-byte load; four such rows are transposed into
// one vector per power, which is faster than gathering them. Every lane
// computes the Horner forms of evaluate_block in the same order, so the
// results are the same as those of the plain loop.
#define QRX_DF_AVX2_FUNCTION __attribute__((target("arch=x86-64-v3"))) inline

// Rows a, b, c, d (four sites' c0..c3) into columns: powers 0..3 of the four sites.
QRX_DF_AVX2_FUNCTION void transpose4(__m256d a, __m256d b, __m256d c, __m256d d, __m256d* p0, __m256d* p1,
                                     __m256d* p2, __m256d* p3) {
  const __m256d ab_even = _mm256_unpacklo_pd(a, b);  // a0 b0 a2 b2
  const __m256d ab_odd = _mm256_unpackhi_pd(a, b);   // a1 b1 a3 b3
  const __m256d cd_even = _mm256_unpacklo_pd(c, d);
  const __m256d cd_odd = _mm256_unpackhi_pd(c, d);
  *p0 = _mm256_permute2f128_pd(ab_even, cd_even, 0x20);
  *p1 = _mm256_permute2f128_pd(ab_odd, cd_odd, 0x20);
  *p2 = _mm256_permute2f128_pd(ab_even, cd_even, 0x31);
  *p3 = _mm256_permute2f128_pd(ab_odd, cd_odd, 0x31);
}

// Mask 1 with consecutive sites, or mask 15 with four adjacent slots per site.
template <unsigned Mask, int SiteStride>
QRX_DF_AVX2_FUNCTION void evaluate_cubic_avx2(const double* coef, const std::int32_t* cell, const double* t,
                                              std::int64_t n, double* out, std::int64_t site_stride,
                                              std::int64_t der_stride, unsigned mask) {
  static_assert((Mask == 1U && SiteStride == 1) || (Mask == 15U && SiteStride == 4), "values, or every order");
  const __m256d two = _mm256_set1_pd(2.0);
  const __m256d three = _mm256_set1_pd(3.0);
  const __m256d six = _mm256_set1_pd(6.0);
  std::int64_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m256d c0;
    __m256d c1;
    __m256d c2;
    __m256d c3;
    transpose4(_mm256_loadu_pd(coef + std::int64_t{cell[i]} * 4), _mm256_loadu_pd(coef + std::int64_t{cell[i + 1]} * 4),
               _mm256_loadu_pd(coef + std::int64_t{cell[i + 2]} * 4), _mm256_loadu_pd(coef + std::int64_t{cell[i + 3]} * 4),
               &c0, &c1, &c2, &c3);
    const __m256d ti = _mm256_loadu_pd(t + i);
    const __m256d c3t = _mm256_mul_pd(c3, ti);
    // ((c3*t + c2)*t + c1)*t + c0
    const __m256d v0 = _mm256_add_pd(
        _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(_mm256_add_pd(c3t, c2), ti), c1), ti), c0);
    if constexpr (Mask == 1U) {
      _mm256_storeu_pd(out + i, v0);
    } else {
      // ((c3*t)*3 + 2*c2)*t + c1,  (t*c3)*6 + c2*2,  c3*6
      const __m256d v1 = _mm256_add_pd(
          _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(c3t, three), _mm256_mul_pd(two, c2)), ti), c1);
      const __m256d v2 = _mm256_add_pd(_mm256_mul_pd(c3t, six), _mm256_mul_pd(c2, two));
      // NaN at a NaN site, as the plain loop gives.
      const __m256d v3 = _mm256_blendv_pd(_mm256_mul_pd(c3, six), ti, _mm256_cmp_pd(ti, ti, _CMP_UNORD_Q));
      __m256d s0;
      __m256d s1;
      __m256d s2;
      __m256d s3;
      transpose4(v0, v1, v2, v3, &s0, &s1, &s2, &s3);  // one row of four orders per site
      _mm256_storeu_pd(out + 4 * i, s0);
      _mm256_storeu_pd(out + 4 * i + 4, s1);
      _mm256_storeu_pd(out + 4 * i + 8, s2);
      _mm256_storeu_pd(out + 4 * i + 12, s3);
    }
  }
  evaluate_block<double, std::int32_t, 4, Mask, SiteStride>(coef, cell + i, t + i, n - i, out + i * SiteStride,
                                                             site_stride, der_stride, mask);
}

#undef QRX_DF_AVX2_FUNCTION

}  // namespace qrx_df

#endif
