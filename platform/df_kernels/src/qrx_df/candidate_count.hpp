#pragma once

#include <cstdint>

#include "qrx_df/isa.hpp"

#if QRX_DF_HAVE_AVX2_VARIANT || QRX_DF_HAVE_AVX512_VARIANT
#include <immintrin.h>
#endif

namespace qrx_df {

// The number of p[0 .. Span-1] not above x, for sorted p: the in-bucket part
// of a search index. The comparisons are independent, so they run side by
// side; the AVX2 variant compares four or eight values per instruction.
template <typename T, int Span>
std::int64_t count_not_above(const T* p, T x) {
  std::int64_t below = 0;
  for (int m = 0; m < Span; ++m) below += p[m] <= x ? 1 : 0;
  return below;
}

#if QRX_DF_HAVE_AVX2_VARIANT
template <int Span>
__attribute__((target("arch=x86-64-v3"))) inline std::int64_t count_not_above_avx2(const double* p, double x) {
  const __m256d xv = _mm256_set1_pd(x);
  std::int64_t below = 0;
  for (int m = 0; m < Span; m += 4) {
    // Ordered comparison: a NaN site counts nothing, as in the plain loop.
    const __m256d le = _mm256_cmp_pd(_mm256_loadu_pd(p + m), xv, _CMP_LE_OQ);
    below += __builtin_popcount(static_cast<unsigned>(_mm256_movemask_pd(le)));
  }
  return below;
}

template <int Span>
__attribute__((target("arch=x86-64-v3"))) inline std::int64_t count_not_above_avx2(const float* p, float x) {
  const __m256 xv = _mm256_set1_ps(x);
  std::int64_t below = 0;
  for (int m = 0; m < Span; m += 8) {
    const __m256 le = _mm256_cmp_ps(_mm256_loadu_ps(p + m), xv, _CMP_LE_OQ);
    below += __builtin_popcount(static_cast<unsigned>(_mm256_movemask_ps(le)));
  }
  return below;
}
#endif

#if QRX_DF_HAVE_AVX512_VARIANT
template <int Span>
__attribute__((target("arch=x86-64-v4"))) inline std::int64_t count_not_above_avx512(const double* p, double x) {
  const __m512d xv = _mm512_set1_pd(x);
  std::int64_t below = 0;
  for (int m = 0; m < Span; m += 8) {
    below += __builtin_popcount(_mm512_cmp_pd_mask(_mm512_loadu_pd(p + m), xv, _CMP_LE_OQ));
  }
  return below;
}

template <int Span>
__attribute__((target("arch=x86-64-v4"))) inline std::int64_t count_not_above_avx512(const float* p, float x) {
  const __m512 xv = _mm512_set1_ps(x);
  std::int64_t below = 0;
  for (int m = 0; m < Span; m += 16) {
    below += __builtin_popcount(_mm512_cmp_ps_mask(_mm512_loadu_ps(p + m), xv, _CMP_LE_OQ));
  }
  return below;
}
#endif

// The count with the instruction set of the caller: a vector form only where
// it is compiled into a variant of that instruction set, and where the span
// fills its vectors.
template <isa Target, typename T, int Span>
std::int64_t count_not_above_for(const T* p, T x) {
#if QRX_DF_HAVE_AVX512_VARIANT
  if constexpr (Target == isa::avx512 && Span % (64 / static_cast<int>(sizeof(T))) == 0) {
    return count_not_above_avx512<Span>(p, x);
  }
#endif
#if QRX_DF_HAVE_AVX2_VARIANT
  if constexpr (Target >= isa::avx2 && Span % (32 / static_cast<int>(sizeof(T))) == 0) {
    return count_not_above_avx2<Span>(p, x);
  }
#endif
  return count_not_above<T, Span>(p, x);
}

}  // namespace qrx_df
