#pragma once

#include <cstdint>

#include "evaluate.hpp"
#include "isa.hpp"

#if QRX_DF_HAVE_AVX512_VARIANT
#include <immintrin.h>

// The helpers below pass vectors by value; they are inlined into callers of
// the same instruction set, so no call crosses an ABI boundary.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace qrx_df {

// AVX-512 evaluation of linear and cubic pieces, one vector of sites at a
// time (8 doubles or 16 floats). Each site's coefficients are one short row
// in memory; the rows of a vector of sites are loaded whole and transposed
// into one vector per power, which is faster than gathering them. Every lane
// computes the Horner forms of evaluate_block in the same order, so the
// results are those of the plain loop. Results go out as whole vectors when
// the layout allows, otherwise slot by slot.
#define QRX_DF_AVX512_FUNCTION __attribute__((target("arch=x86-64-v4"))) inline

// Vector types and operations by element type.
template <typename T>
struct avx512_lanes;

template <>
struct avx512_lanes<double> {
  using vec = __m512d;
  static constexpr int width = 8;
  QRX_DF_AVX512_FUNCTION static vec load(const double* p) { return _mm512_loadu_pd(p); }
  QRX_DF_AVX512_FUNCTION static void store(double* p, vec v) { _mm512_storeu_pd(p, v); }
  QRX_DF_AVX512_FUNCTION static void stream(double* p, vec v) { _mm512_stream_pd(p, v); }
  QRX_DF_AVX512_FUNCTION static vec splat(double v) { return _mm512_set1_pd(v); }
  QRX_DF_AVX512_FUNCTION static vec add(vec a, vec b) { return _mm512_add_pd(a, b); }
  QRX_DF_AVX512_FUNCTION static vec mul(vec a, vec b) { return _mm512_mul_pd(a, b); }

  // Whether the 8 sites share one cell, as runs of sorted sites do.
  QRX_DF_AVX512_FUNCTION static bool one_cell(const std::int32_t* cell) {
    const __m256i cells = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cell));
    return _mm256_cmpeq_epi32_mask(cells, _mm256_set1_epi32(cell[0])) == 0xFF;
  }

  // The cubic rows of sites a and b, one in each half.
  QRX_DF_AVX512_FUNCTION static vec cubic_pair(const double* coef, std::int32_t a, std::int32_t b) {
    return _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_loadu_pd(coef + std::int64_t{a} * 4)),
                              _mm256_loadu_pd(coef + std::int64_t{b} * 4), 1);
  }

  // Powers 0..3 of the cubic pieces of 8 sites.
  QRX_DF_AVX512_FUNCTION static void cubic_rows(const double* coef, const std::int32_t* cell, vec* p) {
    const vec s04 = cubic_pair(coef, cell[0], cell[4]);
    const vec s15 = cubic_pair(coef, cell[1], cell[5]);
    const vec s26 = cubic_pair(coef, cell[2], cell[6]);
    const vec s37 = cubic_pair(coef, cell[3], cell[7]);
    // 128-bit lanes of powers (0, 2) and (1, 3) of sites (0, 1), (4, 5) and (2, 3), (6, 7).
    const vec even01 = _mm512_unpacklo_pd(s04, s15);
    const vec odd01 = _mm512_unpackhi_pd(s04, s15);
    const vec even23 = _mm512_unpacklo_pd(s26, s37);
    const vec odd23 = _mm512_unpackhi_pd(s26, s37);
    const __m512i low = _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13);
    const __m512i high = _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15);
    p[0] = _mm512_permutex2var_pd(even01, low, even23);
    p[1] = _mm512_permutex2var_pd(odd01, low, odd23);
    p[2] = _mm512_permutex2var_pd(even01, high, even23);
    p[3] = _mm512_permutex2var_pd(odd01, high, odd23);
  }

  // Orders 0..3 of 8 sites to 8 rows of four adjacent slots.
  QRX_DF_AVX512_FUNCTION static void store_cubic_rows(double* out, const vec* v) {
    const vec lo01 = _mm512_unpacklo_pd(v[0], v[1]);  // orders 0, 1 of sites 0, 2, 4, 6
    const vec hi01 = _mm512_unpackhi_pd(v[0], v[1]);  // ... of sites 1, 3, 5, 7
    const vec lo23 = _mm512_unpacklo_pd(v[2], v[3]);
    const vec hi23 = _mm512_unpackhi_pd(v[2], v[3]);
    const __m512i first = _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11);
    const __m512i second = _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15);
    const vec even_a = _mm512_permutex2var_pd(lo01, first, lo23);  // rows of sites 0, 2
    const vec odd_a = _mm512_permutex2var_pd(hi01, first, hi23);   // rows of sites 1, 3
    const vec even_b = _mm512_permutex2var_pd(lo01, second, lo23);  // sites 4, 6
    const vec odd_b = _mm512_permutex2var_pd(hi01, second, hi23);   // sites 5, 7
    _mm512_storeu_pd(out, _mm512_shuffle_f64x2(even_a, odd_a, 0x44));
    _mm512_storeu_pd(out + 8, _mm512_shuffle_f64x2(even_a, odd_a, 0xEE));
    _mm512_storeu_pd(out + 16, _mm512_shuffle_f64x2(even_b, odd_b, 0x44));
    _mm512_storeu_pd(out + 24, _mm512_shuffle_f64x2(even_b, odd_b, 0xEE));
  }

  // The linear rows of sites k, k + 2, k + 4, k + 6.
  QRX_DF_AVX512_FUNCTION static vec linear_four(const double* coef, const std::int32_t* cell) {
    const __m256d low = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(coef + std::int64_t{cell[0]} * 2)),
                                             _mm_loadu_pd(coef + std::int64_t{cell[2]} * 2), 1);
    const __m256d high = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(coef + std::int64_t{cell[4]} * 2)),
                                              _mm_loadu_pd(coef + std::int64_t{cell[6]} * 2), 1);
    return _mm512_insertf64x4(_mm512_castpd256_pd512(low), high, 1);
  }

  // Powers 0, 1 of the linear pieces of 8 sites.
  QRX_DF_AVX512_FUNCTION static void linear_rows(const double* coef, const std::int32_t* cell, vec* p) {
    const vec even = linear_four(coef, cell);     // rows of sites 0, 2, 4, 6
    const vec odd = linear_four(coef, cell + 1);  // rows of sites 1, 3, 5, 7
    p[0] = _mm512_unpacklo_pd(even, odd);
    p[1] = _mm512_unpackhi_pd(even, odd);
  }

  // Orders 0, 1 of 8 sites to 8 rows of two adjacent slots.
  QRX_DF_AVX512_FUNCTION static void store_linear_rows(double* out, const vec* v) {
    const __m512i first = _mm512_setr_epi64(0, 8, 1, 9, 2, 10, 3, 11);
    const __m512i second = _mm512_setr_epi64(4, 12, 5, 13, 6, 14, 7, 15);
    _mm512_storeu_pd(out, _mm512_permutex2var_pd(v[0], first, v[1]));
    _mm512_storeu_pd(out + 8, _mm512_permutex2var_pd(v[0], second, v[1]));
  }
};

template <>
struct avx512_lanes<float> {
  using vec = __m512;
  static constexpr int width = 16;
  QRX_DF_AVX512_FUNCTION static vec load(const float* p) { return _mm512_loadu_ps(p); }
  QRX_DF_AVX512_FUNCTION static void store(float* p, vec v) { _mm512_storeu_ps(p, v); }
  QRX_DF_AVX512_FUNCTION static void stream(float* p, vec v) { _mm512_stream_ps(p, v); }
  QRX_DF_AVX512_FUNCTION static vec splat(float v) { return _mm512_set1_ps(v); }
  QRX_DF_AVX512_FUNCTION static vec add(vec a, vec b) { return _mm512_add_ps(a, b); }
  QRX_DF_AVX512_FUNCTION static vec mul(vec a, vec b) { return _mm512_mul_ps(a, b); }

  // Whether the 16 sites share one cell, as runs of sorted sites do.
  QRX_DF_AVX512_FUNCTION static bool one_cell(const std::int32_t* cell) {
    const __m512i cells = _mm512_loadu_si512(cell);
    return _mm512_cmpeq_epi32_mask(cells, _mm512_set1_epi32(cell[0])) == 0xFFFF;
  }

  // In every 128-bit lane, the 4x4 transpose of rows a, b, c, d.
  QRX_DF_AVX512_FUNCTION static void transpose_lanes(vec a, vec b, vec c, vec d, vec* p) {
    const __m512d ab_low = _mm512_castps_pd(_mm512_unpacklo_ps(a, b));  // a0 b0 a1 b1
    const __m512d ab_high = _mm512_castps_pd(_mm512_unpackhi_ps(a, b));  // a2 b2 a3 b3
    const __m512d cd_low = _mm512_castps_pd(_mm512_unpacklo_ps(c, d));
    const __m512d cd_high = _mm512_castps_pd(_mm512_unpackhi_ps(c, d));
    p[0] = _mm512_castpd_ps(_mm512_unpacklo_pd(ab_low, cd_low));
    p[1] = _mm512_castpd_ps(_mm512_unpackhi_pd(ab_low, cd_low));
    p[2] = _mm512_castpd_ps(_mm512_unpacklo_pd(ab_high, cd_high));
    p[3] = _mm512_castpd_ps(_mm512_unpackhi_pd(ab_high, cd_high));
  }

  // The cubic rows of sites k, k + 4, k + 8, k + 12, one in each 128-bit lane.
  QRX_DF_AVX512_FUNCTION static vec cubic_four(const float* coef, const std::int32_t* cell) {
    const __m256 low = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(coef + std::int64_t{cell[0]} * 4)),
                                            _mm_loadu_ps(coef + std::int64_t{cell[4]} * 4), 1);
    const __m256 high = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(coef + std::int64_t{cell[8]} * 4)),
                                             _mm_loadu_ps(coef + std::int64_t{cell[12]} * 4), 1);
    return _mm512_insertf32x8(_mm512_castps256_ps512(low), high, 1);
  }

  // Powers 0..3 of the cubic pieces of 16 sites.
  QRX_DF_AVX512_FUNCTION static void cubic_rows(const float* coef, const std::int32_t* cell, vec* p) {
    transpose_lanes(cubic_four(coef, cell), cubic_four(coef, cell + 1), cubic_four(coef, cell + 2),
                    cubic_four(coef, cell + 3), p);
  }

  // Orders 0..3 of 16 sites to 16 rows of four adjacent slots.
  QRX_DF_AVX512_FUNCTION static void store_cubic_rows(float* out, const vec* v) {
    vec r[4];  // lane L of r[k]: the row of site 4L + k
    transpose_lanes(v[0], v[1], v[2], v[3], r);
    const vec r01_low = _mm512_shuffle_f32x4(r[0], r[1], 0x44);   // sites 0, 4, 1, 5
    const vec r01_high = _mm512_shuffle_f32x4(r[0], r[1], 0xEE);  // sites 8, 12, 9, 13
    const vec r23_low = _mm512_shuffle_f32x4(r[2], r[3], 0x44);   // sites 2, 6, 3, 7
    const vec r23_high = _mm512_shuffle_f32x4(r[2], r[3], 0xEE);  // sites 10, 14, 11, 15
    _mm512_storeu_ps(out, _mm512_shuffle_f32x4(r01_low, r23_low, 0x88));
    _mm512_storeu_ps(out + 16, _mm512_shuffle_f32x4(r01_low, r23_low, 0xDD));
    _mm512_storeu_ps(out + 32, _mm512_shuffle_f32x4(r01_high, r23_high, 0x88));
    _mm512_storeu_ps(out + 48, _mm512_shuffle_f32x4(r01_high, r23_high, 0xDD));
  }

  // The linear rows of 8 sites as 64-bit values.
  QRX_DF_AVX512_FUNCTION static vec linear_eight(const float* coef, const std::int32_t* cell) {
    const __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cell));
    return _mm512_castsi512_ps(_mm512_mask_i32gather_epi64(_mm512_setzero_si512(), 0xFF, index,
                                                           reinterpret_cast<const long long*>(coef), 8));
  }

  // Powers 0, 1 of the linear pieces of 16 sites: a row is 8 bytes, so the
  // rows are gathered as 64-bit values and split into their halves.
  QRX_DF_AVX512_FUNCTION static void linear_rows(const float* coef, const std::int32_t* cell, vec* p) {
    const vec low = linear_eight(coef, cell);
    const vec high = linear_eight(coef, cell + 8);
    const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i odd = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    p[0] = _mm512_permutex2var_ps(low, even, high);
    p[1] = _mm512_permutex2var_ps(low, odd, high);
  }

  // Orders 0, 1 of 16 sites to 16 rows of two adjacent slots.
  QRX_DF_AVX512_FUNCTION static void store_linear_rows(float* out, const vec* v) {
    const __m512i first = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const __m512i second = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    _mm512_storeu_ps(out, _mm512_permutex2var_ps(v[0], first, v[1]));
    _mm512_storeu_ps(out + 16, _mm512_permutex2var_ps(v[0], second, v[1]));
  }
};

// Evaluation of evaluate_block's pieces over n sites, one vector of sites at
// a time; the sites left over go through the plain loop. Values only or
// every order: the orders of a site in adjacent slots (SiteStride = Order)
// or sites adjacent and orders der_stride apart (SiteStride = 1) are written
// as whole vectors; any other layout (Mask or SiteStride 0) slot by slot
// from the vectors.
//
// Stream (values of adjacent sites only): the results bypass the caches, for
// calls whose results are larger than the caches. A store that misses the
// cache otherwise reads the line before writing it, a third of the memory
// traffic of the call. Sites before the first 64-byte boundary of the
// results go through the plain loop.
template <typename T, int Order, unsigned Mask, int SiteStride, bool Stream = false>
QRX_DF_AVX512_FUNCTION void evaluate_avx512(const T* coef, const std::int32_t* cell, const T* t, std::int64_t n,
                                            T* out, std::int64_t site_stride, std::int64_t der_stride,
                                            unsigned mask) {
  using lanes = avx512_lanes<T>;
  using vec = typename lanes::vec;
  constexpr int w = lanes::width;
  constexpr unsigned every = Order == 4 ? 15U : 3U;
  constexpr bool rows_out = Mask == every && SiteStride == Order;
  constexpr bool vectors_out = Mask != 0U && SiteStride == 1;
  const std::int64_t stride = SiteStride > 0 ? SiteStride : site_stride;
  const std::int64_t der = SiteStride >= 2 ? 1 : der_stride;
  const unsigned m = Mask != 0 ? Mask : mask;
  static_assert(!Stream || (Mask == 1U && SiteStride == 1), "streams values of adjacent sites");
  std::int64_t i = 0;
  bool streams = false;
  if constexpr (Stream) {
    const auto misalign = static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(out) % 64);
    streams = misalign % static_cast<std::int64_t>(sizeof(T)) == 0;
    if (streams) {
      const std::int64_t before = (64 - misalign) % 64 / static_cast<std::int64_t>(sizeof(T));
      i = before < n ? before : n;
      evaluate_block<T, std::int32_t, Order, Mask, SiteStride>(coef, cell, t, i, out, site_stride, der_stride, mask);
    }
  }
  for (; i + w <= n; i += w) {
    vec c[Order];
    vec v[Order];
    const vec ti = lanes::load(t + i);
    if (lanes::one_cell(cell + i)) {
      // One piece for the whole vector: its coefficients are broadcast.
      const T* row = coef + std::int64_t{cell[i]} * Order;
      for (int q = 0; q < Order; ++q) c[q] = lanes::splat(row[q]);
    } else if constexpr (Order == 2) {
      lanes::linear_rows(coef, cell + i, c);
    } else {
      lanes::cubic_rows(coef, cell + i, c);
    }
    if constexpr (Order == 2) {
      v[0] = lanes::add(lanes::mul(ti, c[1]), c[0]);  // t*c1 + c0
      v[1] = c[1];
    } else {
      const vec c3t = lanes::mul(c[3], ti);
      // ((c3*t + c2)*t + c1)*t + c0
      v[0] = lanes::add(lanes::mul(lanes::add(lanes::mul(lanes::add(c3t, c[2]), ti), c[1]), ti), c[0]);
      if constexpr (Mask != 1U) {
        // ((c3*t)*3 + 2*c2)*t + c1,  (t*c3)*6 + c2*2,  c3*6
        const vec two = lanes::splat(T(2));
        const vec six = lanes::splat(T(6));
        v[1] = lanes::add(lanes::mul(lanes::add(lanes::mul(c3t, lanes::splat(T(3))), lanes::mul(two, c[2])), ti),
                          c[1]);
        v[2] = lanes::add(lanes::mul(c3t, six), lanes::mul(c[2], two));
        v[3] = lanes::mul(c[3], six);
      }
    }
    T* o = out + i * stride;
    if constexpr (rows_out) {
      if constexpr (Order == 2) {
        lanes::store_linear_rows(o, v);
      } else {
        lanes::store_cubic_rows(o, v);
      }
    } else if constexpr (Stream) {
      if (streams) {
        lanes::stream(o, v[0]);
      } else {
        lanes::store(o, v[0]);
      }
    } else if constexpr (vectors_out) {
      for (int d = 0; d < Order; ++d) {
        if ((m & (1U << d)) != 0) lanes::store(o + d * der, v[d]);
      }
    } else {
      alignas(64) T slots[w];
      for (int d = 0; d < Order; ++d) {
        if ((m & (1U << d)) == 0) continue;
        lanes::store(slots, v[d]);
        for (int k = 0; k < w; ++k) o[k * stride + d * der] = slots[k];
      }
    }
  }
  evaluate_block<T, std::int32_t, Order, Mask, SiteStride>(coef, cell + i, t + i, n - i, out + i * stride,
                                                            site_stride, der_stride, mask);
  // Streamed stores are weakly ordered: they are made visible before the
  // results are handed on.
  if (streams) _mm_sfence();
}

#undef QRX_DF_AVX512_FUNCTION

}  // namespace qrx_df

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif
