#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "qrx_df/evaluate.hpp"
#include "qrx_df/isa.hpp"

#if QRX_DF_HAVE_AVX512_VARIANT
#include <immintrin.h>

// The helpers below pass vectors by value; they are inlined into callers of
// the same instruction set, so no call crosses an ABI boundary.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace qrx_df {

// AVX-512 evaluation of linear and cubic pieces, one vector of lanes at a
// time (8 doubles or 16 floats): the sites of one function, or the
// functions at one site. Each lane's coefficients are one short row in
// memory; the rows of a vector of lanes are loaded whole and transposed into
// one vector per power, which is faster than gathering them. Every lane
// computes the Horner forms of evaluate_block in the same order, so the
// results are those of the plain loop. Results go out as whole vectors when
// the layout allows, otherwise slot by slot.
#define QRX_DF_AVX512_FUNCTION __attribute__((target("arch=x86-64-v4"))) inline
// Lambdas that use the vector types are compiled for the same instruction
// set and inlined into their callers.
#define QRX_DF_AVX512_LAMBDA __attribute__((target("arch=x86-64-v4"), always_inline))

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
  // t where t is NaN, else v.
  QRX_DF_AVX512_FUNCTION static vec nan_at(vec v, vec t) {
    return _mm512_mask_mov_pd(v, _mm512_cmp_pd_mask(t, t, _CMP_UNORD_Q), t);
  }
  using index_elem = std::int64_t;
  QRX_DF_AVX512_FUNCTION static vec permute2(vec a, __m512i index, vec b) {
    return _mm512_permutex2var_pd(a, index, b);
  }
  // b where the bit of the lane is set, else a.
  QRX_DF_AVX512_FUNCTION static vec blend(std::uint32_t bits, vec a, vec b) {
    return _mm512_mask_blend_pd(static_cast<__mmask8>(bits), a, b);
  }

  // Whether the 8 sites share one cell, as runs of sorted sites do.
  QRX_DF_AVX512_FUNCTION static bool one_cell(const std::int32_t* cell) {
    const __m256i cells = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cell));
    return _mm256_cmpeq_epi32_mask(cells, _mm256_set1_epi32(cell[0])) == 0xFF;
  }

  // The cubic rows a and b, one in each half.
  QRX_DF_AVX512_FUNCTION static vec cubic_pair(const double* a, const double* b) {
    return _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_loadu_pd(a)), _mm256_loadu_pd(b), 1);
  }

  // Powers 0..3 of the cubic pieces of 8 lanes, lane l's row at row(l).
  template <typename Row>
  QRX_DF_AVX512_FUNCTION static void cubic_rows_at(Row row, vec* p) {
    const vec s04 = cubic_pair(row(0), row(4));
    const vec s15 = cubic_pair(row(1), row(5));
    const vec s26 = cubic_pair(row(2), row(6));
    const vec s37 = cubic_pair(row(3), row(7));
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

  // Powers 0..3 of the cubic pieces of 8 sites.
  QRX_DF_AVX512_FUNCTION static void cubic_rows(const double* coef, const std::int32_t* cell, vec* p) {
    cubic_rows_at([&](int l) { return coef + std::int64_t{cell[l]} * 4; }, p);
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

  // The linear rows of lanes k, k + 2, k + 4, k + 6.
  template <typename Row>
  QRX_DF_AVX512_FUNCTION static vec linear_four(Row row, int k) {
    const __m256d low = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(row(k))), _mm_loadu_pd(row(k + 2)), 1);
    const __m256d high =
        _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(row(k + 4))), _mm_loadu_pd(row(k + 6)), 1);
    return _mm512_insertf64x4(_mm512_castpd256_pd512(low), high, 1);
  }

  // Powers 0, 1 of the linear pieces of 8 lanes, lane l's row at row(l).
  template <typename Row>
  QRX_DF_AVX512_FUNCTION static void linear_rows_at(Row row, vec* p) {
    const vec even = linear_four(row, 0);  // rows of lanes 0, 2, 4, 6
    const vec odd = linear_four(row, 1);   // rows of lanes 1, 3, 5, 7
    p[0] = _mm512_unpacklo_pd(even, odd);
    p[1] = _mm512_unpackhi_pd(even, odd);
  }

  // Powers 0, 1 of the linear pieces of 8 sites.
  QRX_DF_AVX512_FUNCTION static void linear_rows(const double* coef, const std::int32_t* cell, vec* p) {
    linear_rows_at([&](int l) { return coef + std::int64_t{cell[l]} * 2; }, p);
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
  QRX_DF_AVX512_FUNCTION static vec nan_at(vec v, vec t) {
    return _mm512_mask_mov_ps(v, _mm512_cmp_ps_mask(t, t, _CMP_UNORD_Q), t);
  }
  using index_elem = std::int32_t;
  QRX_DF_AVX512_FUNCTION static vec permute2(vec a, __m512i index, vec b) {
    return _mm512_permutex2var_ps(a, index, b);
  }
  QRX_DF_AVX512_FUNCTION static vec blend(std::uint32_t bits, vec a, vec b) {
    return _mm512_mask_blend_ps(static_cast<__mmask16>(bits), a, b);
  }

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

  // The cubic rows of lanes k, k + 4, k + 8, k + 12, one in each 128-bit lane.
  template <typename Row>
  QRX_DF_AVX512_FUNCTION static vec cubic_four(Row row, int k) {
    const __m256 low = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(row(k))), _mm_loadu_ps(row(k + 4)), 1);
    const __m256 high =
        _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(row(k + 8))), _mm_loadu_ps(row(k + 12)), 1);
    return _mm512_insertf32x8(_mm512_castps256_ps512(low), high, 1);
  }

  // Powers 0..3 of the cubic pieces of 16 lanes, lane l's row at row(l).
  template <typename Row>
  QRX_DF_AVX512_FUNCTION static void cubic_rows_at(Row row, vec* p) {
    transpose_lanes(cubic_four(row, 0), cubic_four(row, 1), cubic_four(row, 2), cubic_four(row, 3), p);
  }

  // Powers 0..3 of the cubic pieces of 16 sites.
  QRX_DF_AVX512_FUNCTION static void cubic_rows(const float* coef, const std::int32_t* cell, vec* p) {
    cubic_rows_at([&](int l) { return coef + std::int64_t{cell[l]} * 4; }, p);
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

  // Powers 0, 1 of the linear pieces of 16 lanes, lane l's row (8 bytes) at
  // row(l): the rows are read as 64-bit values and split into their halves.
  template <typename Row>
  QRX_DF_AVX512_FUNCTION static void linear_rows_at(Row row, vec* p) {
    auto eight = [&](int k) QRX_DF_AVX512_LAMBDA {
      long long r[8];
      for (int l = 0; l < 8; ++l) std::memcpy(&r[l], row(k + l), sizeof(long long));
      return _mm512_castsi512_ps(_mm512_loadu_si512(r));
    };
    const vec low = eight(0);
    const vec high = eight(8);
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

// Orders 0..K-1 of the w lanes as w rows of K adjacent slots: output vector
// j holds slots jw .. jw + w - 1, slot p being order p % K of lane p / K.
// Orders 0, 1 come from one two-source permutation and orders 2, 3 from
// another with the same indices; a blend joins them.
template <typename T, int K>
struct row_slots {
  using lanes = avx512_lanes<T>;
  static constexpr int w = lanes::width;
  using elem = typename lanes::index_elem;
  struct table {
    alignas(64) elem index[K][w];
    std::uint32_t high[K];  // slots of orders 2, 3
  };
  static constexpr table make() {
    table t{};
    for (int j = 0; j < K; ++j) {
      t.high[j] = 0;
      for (int e = 0; e < w; ++e) {
        const int p = j * w + e;
        const int order = p % K;
        t.index[j][e] = static_cast<elem>(p / K + (order % 2) * w);
        if (order >= 2) t.high[j] |= 1U << e;
      }
    }
    return t;
  }
  static constexpr table slots = make();
};

// Stores vector v at p, past the caches when `streams`.
template <typename T>
QRX_DF_AVX512_FUNCTION void put(T* p, typename avx512_lanes<T>::vec v, bool streams) {
  if (streams) {
    avx512_lanes<T>::stream(p, v);
  } else {
    avx512_lanes<T>::store(p, v);
  }
}

template <typename T, int K>
QRX_DF_AVX512_FUNCTION void store_rows(T* out, const typename avx512_lanes<T>::vec* v, bool streams) {
  using lanes = avx512_lanes<T>;
  using vec = typename lanes::vec;
  using rows = row_slots<T, K>;
  for (int j = 0; j < K; ++j) {
    const __m512i index = _mm512_load_si512(rows::slots.index[j]);
    vec r = lanes::permute2(v[0], index, v[K > 1 ? 1 : 0]);
    if constexpr (K > 2) r = lanes::blend(rows::slots.high[j], r, lanes::permute2(v[2], index, v[K > 3 ? 3 : 2]));
    put(out + j * rows::w, r, streams);
  }
}

// The Horner forms of evaluate_block over a vector of lanes.
template <typename T, int Order, unsigned Mask>
QRX_DF_AVX512_FUNCTION void vector_orders(const typename avx512_lanes<T>::vec* c, typename avx512_lanes<T>::vec ti,
                                          typename avx512_lanes<T>::vec* v) {
  using lanes = avx512_lanes<T>;
  if constexpr (Order == 2) {
    v[0] = lanes::add(lanes::mul(ti, c[1]), c[0]);  // t*c1 + c0
    v[1] = lanes::nan_at(c[1], ti);  // NaN at a NaN site, as the plain loop gives
  } else {
    const auto c3t = lanes::mul(c[3], ti);
    // ((c3*t + c2)*t + c1)*t + c0
    v[0] = lanes::add(lanes::mul(lanes::add(lanes::mul(lanes::add(c3t, c[2]), ti), c[1]), ti), c[0]);
    if constexpr (Mask != 1U) {
      // ((c3*t)*3 + 2*c2)*t + c1,  (t*c3)*6 + c2*2,  c3*6
      const auto two = lanes::splat(T(2));
      const auto six = lanes::splat(T(6));
      v[1] = lanes::add(lanes::mul(lanes::add(lanes::mul(c3t, lanes::splat(T(3))), lanes::mul(two, c[2])), ti), c[1]);
      v[2] = lanes::add(lanes::mul(c3t, six), lanes::mul(c[2], two));
      v[3] = lanes::nan_at(lanes::mul(c[3], six), ti);
    }
  }
}

// Number of leading lanes, below one vector, after which the results of
// every order of a lane start on 64-byte boundaries, lanes being `stride`
// slots and orders `der` slots apart: -1 when there is none.
template <typename T>
inline std::int64_t lanes_to_boundary(const T* out, std::int64_t stride, std::int64_t der, unsigned mask) {
  constexpr auto w = static_cast<std::int64_t>(avx512_lanes<T>::width);
  if (mask != 1U && (der * static_cast<std::int64_t>(sizeof(T))) % 64 != 0 && stride == 1) return -1;
  for (std::int64_t i = 0; i < w; ++i) {
    if (reinterpret_cast<std::uintptr_t>(out + i * stride) % 64 == 0) return i;
  }
  return -1;
}

// Evaluation of n lanes, one vector at a time: rows(i, c) loads the powers
// of lanes i .. i + w - 1, offsets(i) their offsets t, and plain(i0, i1)
// evaluates lanes i0 .. i1 - 1 by the plain loop (the lanes before the first
// 64-byte boundary when streaming, and the lanes left over). Lane i's order
// d goes to out[i*lane_stride + d*der_stride]. Orders 0 .. K-1 with lanes
// adjacent (LaneStride 1) go out as one vector per order; with the orders of
// a lane adjacent (LaneStride K), as K vectors of whole rows; any other
// layout (Mask or LaneStride 0) slot by slot from the vectors.
//
// Stream: the results of the two whole-vector forms bypass the caches, for
// calls whose results are larger than the caches. A store that misses the
// cache otherwise reads the line before writing it, a third of the memory
// traffic of the call. Returns whether it streamed: streamed stores are
// weakly ordered, and the caller fences them before the results are handed
// on.
template <typename T, int Order, unsigned Mask, int LaneStride, bool Stream, typename Rows, typename Offsets,
          typename Plain>
QRX_DF_AVX512_FUNCTION bool evaluate_lanes_avx512(Rows rows, Offsets offsets, Plain plain, std::int64_t n, T* out,
                                                  std::int64_t lane_stride, std::int64_t der_stride, unsigned mask) {
  using lanes = avx512_lanes<T>;
  using vec = typename lanes::vec;
  constexpr int w = lanes::width;
  constexpr int k = Mask == 0U ? 0 : 32 - __builtin_clz(Mask);  // orders 0 .. k-1
  constexpr bool rows_out = Mask != 0U && Mask == (1U << k) - 1U && LaneStride == k && k >= 2;
  constexpr bool vectors_out = Mask != 0U && Mask == (1U << k) - 1U && LaneStride == 1;
  const std::int64_t stride = LaneStride > 0 ? LaneStride : lane_stride;
  const std::int64_t der = LaneStride >= 2 ? 1 : der_stride;
  const unsigned m = Mask != 0 ? Mask : mask;
  static_assert(!Stream || rows_out || vectors_out, "streams whole vectors");
  std::int64_t i = 0;
  bool streams = false;
  if constexpr (Stream) {
    const std::int64_t before = lanes_to_boundary(out, stride, der, m);
    streams = before >= 0;
    if (streams) {
      i = before < n ? before : n;
      plain(0, i);
    }
  }
  for (; i + w <= n; i += w) {
    vec c[Order];
    vec v[Order];
    rows(i, c);
    vector_orders<T, Order, Mask>(c, offsets(i), v);
    T* o = out + i * stride;
    if constexpr (rows_out) {
      if constexpr (k == 4) {
        if (!streams) {
          lanes::store_cubic_rows(o, v);
          continue;
        }
      } else if constexpr (k == 2 && Order == 2) {
        if (!streams) {
          lanes::store_linear_rows(o, v);
          continue;
        }
      }
      store_rows<T, k>(o, v, streams);
    } else if constexpr (vectors_out) {
      for (int d = 0; d < k; ++d) put(o + d * der, v[d], streams);
    } else {
      alignas(64) T slots[w];
      for (int d = 0; d < Order; ++d) {
        if ((m & (1U << d)) == 0) continue;
        lanes::store(slots, v[d]);
        for (int q = 0; q < w; ++q) o[q * stride + d * der] = slots[q];
      }
    }
  }
  plain(i, n);
  return streams;
}

// Sites as lanes: evaluate_block over n sites of one function. A vector of
// sites in one cell (runs of sorted sites) broadcasts the cell's row.
template <typename T, int Order, unsigned Mask, int SiteStride, bool Stream = false>
QRX_DF_AVX512_FUNCTION void evaluate_avx512(const T* coef, const std::int32_t* cell, const T* t, std::int64_t n,
                                            T* out, std::int64_t site_stride, std::int64_t der_stride,
                                            unsigned mask) {
  using lanes = avx512_lanes<T>;
  using vec = typename lanes::vec;
  const std::int64_t stride = SiteStride > 0 ? SiteStride : site_stride;
  auto rows = [&](std::int64_t i, vec* c) QRX_DF_AVX512_LAMBDA {
    if (lanes::one_cell(cell + i)) {
      const T* row = coef + std::int64_t{cell[i]} * Order;
      for (int q = 0; q < Order; ++q) c[q] = lanes::splat(row[q]);
    } else if constexpr (Order == 2) {
      lanes::linear_rows(coef, cell + i, c);
    } else {
      lanes::cubic_rows(coef, cell + i, c);
    }
  };
  auto offsets = [&](std::int64_t i) QRX_DF_AVX512_LAMBDA { return lanes::load(t + i); };
  auto plain = [&](std::int64_t i0, std::int64_t i1) {
    evaluate_block<T, std::int32_t, Order, Mask, SiteStride>(coef, cell + i0, t + i0, i1 - i0, out + i0 * stride,
                                                              site_stride, der_stride, mask);
  };
  if (evaluate_lanes_avx512<T, Order, Mask, SiteStride, Stream>(rows, offsets, plain, n, out, site_stride,
                                                                der_stride, mask)) {
    _mm_sfence();
  }
}

// Functions as lanes: evaluate_tile, each site's functions a vector at a time.
template <typename T, int Order, unsigned Mask, int FunctionStride>
QRX_DF_AVX512_FUNCTION void evaluate_tile_avx512(const T* coef, std::int64_t fstride, std::int64_t nf,
                                                 const std::int32_t* cell, const T* t, std::int64_t n, T* out,
                                                 std::int64_t site_stride, std::int64_t function_stride,
                                                 std::int64_t der_stride, unsigned mask) {
  using lanes = avx512_lanes<T>;
  using vec = typename lanes::vec;
  const std::int64_t stride = FunctionStride > 0 ? FunctionStride : function_stride;
  for (std::int64_t s = 0; s < n; ++s) {
    const T* base = coef + std::int64_t{cell[s]} * Order;
    const T ts = t[s];
    const vec tv = lanes::splat(ts);
    T* o = out + s * site_stride;
    auto rows = [&](std::int64_t k, vec* c) QRX_DF_AVX512_LAMBDA {
      auto row = [&](int l) { return base + (k + l) * fstride; };
      if constexpr (Order == 2) {
        lanes::linear_rows_at(row, c);
      } else {
        lanes::cubic_rows_at(row, c);
      }
    };
    auto offsets = [&](std::int64_t) QRX_DF_AVX512_LAMBDA { return tv; };
    auto plain = [&](std::int64_t k0, std::int64_t k1) {
      evaluate_functions<T, Order, Mask, FunctionStride>(base + k0 * fstride, fstride, ts, k1 - k0, o + k0 * stride,
                                                         function_stride, der_stride, mask);
    };
    evaluate_lanes_avx512<T, Order, Mask, FunctionStride, false>(rows, offsets, plain, nf, o, function_stride,
                                                                 der_stride, mask);
  }
}

#undef QRX_DF_AVX512_LAMBDA
#undef QRX_DF_AVX512_FUNCTION

}  // namespace qrx_df

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif
