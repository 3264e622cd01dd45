#pragma once

#include <cstdint>

#include "qrx_df/cell_search.hpp"
#include "qrx_df/isa.hpp"
#include "qrx_df/site_source.hpp"

#if QRX_DF_HAVE_AVX512_VARIANT
#include <immintrin.h>

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace qrx_df {

// AVX-512 forms of the searches whose scalar loops the compiler leaves
// scalar: the uniform partition's index (its selects become branches) and
// the end of a run of sorted sites in one cell. Each lane does the
// operations of the scalar code in the same order, with the same rounding,
// so cells and offsets are those of the plain loops.
#define QRX_DF_AVX512_FUNCTION __attribute__((target("arch=x86-64-v4"))) inline

// Vectors of sites, cell numbers (32 bits) and their operations by element type.
template <typename T>
struct search_lanes;

template <>
struct search_lanes<double> {
  using vec = __m512d;
  using ivec = __m256i;  // 8 cells
  using mask = __mmask8;
  static constexpr int width = 8;
  QRX_DF_AVX512_FUNCTION static vec load(const double* p) { return _mm512_loadu_pd(p); }
  QRX_DF_AVX512_FUNCTION static vec splat(double v) { return _mm512_set1_pd(v); }
  QRX_DF_AVX512_FUNCTION static vec add(vec a, vec b) { return _mm512_add_pd(a, b); }
  QRX_DF_AVX512_FUNCTION static vec sub(vec a, vec b) { return _mm512_sub_pd(a, b); }
  QRX_DF_AVX512_FUNCTION static vec mul(vec a, vec b) { return _mm512_mul_pd(a, b); }
  QRX_DF_AVX512_FUNCTION static vec div(vec a, vec b) { return _mm512_div_pd(a, b); }
  // a > b ? a : b and a < b ? a : b, b when a is NaN.
  QRX_DF_AVX512_FUNCTION static vec max(vec a, vec b) { return _mm512_max_pd(a, b); }
  QRX_DF_AVX512_FUNCTION static vec min(vec a, vec b) { return _mm512_min_pd(a, b); }
  template <int Predicate>
  QRX_DF_AVX512_FUNCTION static mask cmp(vec a, vec b) {
    return _mm512_cmp_pd_mask(a, b, Predicate);
  }
  // Sites first + step*s for s = s0, s0 + 1, ...: the integer is converted
  // as the scalar code converts it.
  QRX_DF_AVX512_FUNCTION static vec steps(std::int64_t s0, vec step, vec first) {
    const __m512i s = _mm512_add_epi64(_mm512_set1_epi64(s0), _mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7));
    return add(mul(step, _mm512_cvtepi64_pd(s)), first);
  }
  QRX_DF_AVX512_FUNCTION static ivec isplat(std::int32_t v) { return _mm256_set1_epi32(v); }
  QRX_DF_AVX512_FUNCTION static ivec iadd(ivec a, ivec b) { return _mm256_add_epi32(a, b); }
  QRX_DF_AVX512_FUNCTION static ivec imax(ivec a, ivec b) { return _mm256_max_epi32(a, b); }
  QRX_DF_AVX512_FUNCTION static ivec imin(ivec a, ivec b) { return _mm256_min_epi32(a, b); }
  QRX_DF_AVX512_FUNCTION static mask ilt(ivec a, ivec b) { return _mm256_cmpgt_epi32_mask(b, a); }
  // m ? b : a, lane by lane.
  QRX_DF_AVX512_FUNCTION static ivec blend(mask m, ivec a, ivec b) { return _mm256_mask_blend_epi32(m, a, b); }
  QRX_DF_AVX512_FUNCTION static ivec truncate(vec v) { return _mm512_cvttpd_epi32(v); }
  QRX_DF_AVX512_FUNCTION static vec convert(ivec v) { return _mm512_cvtepi32_pd(v); }
  QRX_DF_AVX512_FUNCTION static void store(double* p, vec v) { _mm512_storeu_pd(p, v); }
  QRX_DF_AVX512_FUNCTION static void store(std::int32_t* p, ivec v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
  }
  QRX_DF_AVX512_FUNCTION static void store_wide(std::int64_t* p, ivec v) {
    _mm512_storeu_si512(p, _mm512_cvtepi32_epi64(v));
  }
};

template <>
struct search_lanes<float> {
  using vec = __m512;
  using ivec = __m512i;  // 16 cells
  using mask = __mmask16;
  static constexpr int width = 16;
  QRX_DF_AVX512_FUNCTION static vec load(const float* p) { return _mm512_loadu_ps(p); }
  QRX_DF_AVX512_FUNCTION static vec splat(float v) { return _mm512_set1_ps(v); }
  QRX_DF_AVX512_FUNCTION static vec add(vec a, vec b) { return _mm512_add_ps(a, b); }
  QRX_DF_AVX512_FUNCTION static vec sub(vec a, vec b) { return _mm512_sub_ps(a, b); }
  QRX_DF_AVX512_FUNCTION static vec mul(vec a, vec b) { return _mm512_mul_ps(a, b); }
  QRX_DF_AVX512_FUNCTION static vec div(vec a, vec b) { return _mm512_div_ps(a, b); }
  QRX_DF_AVX512_FUNCTION static vec max(vec a, vec b) { return _mm512_max_ps(a, b); }
  QRX_DF_AVX512_FUNCTION static vec min(vec a, vec b) { return _mm512_min_ps(a, b); }
  template <int Predicate>
  QRX_DF_AVX512_FUNCTION static mask cmp(vec a, vec b) {
    return _mm512_cmp_ps_mask(a, b, Predicate);
  }
  QRX_DF_AVX512_FUNCTION static vec steps(std::int64_t s0, vec step, vec first) {
    const __m512i base = _mm512_set1_epi64(s0);
    const __m256 low = _mm512_cvtepi64_ps(_mm512_add_epi64(base, _mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7)));
    const __m256 high = _mm512_cvtepi64_ps(_mm512_add_epi64(base, _mm512_setr_epi64(8, 9, 10, 11, 12, 13, 14, 15)));
    return add(mul(step, _mm512_insertf32x8(_mm512_castps256_ps512(low), high, 1)), first);
  }
  QRX_DF_AVX512_FUNCTION static ivec isplat(std::int32_t v) { return _mm512_set1_epi32(v); }
  QRX_DF_AVX512_FUNCTION static ivec iadd(ivec a, ivec b) { return _mm512_add_epi32(a, b); }
  QRX_DF_AVX512_FUNCTION static ivec imax(ivec a, ivec b) { return _mm512_max_epi32(a, b); }
  QRX_DF_AVX512_FUNCTION static ivec imin(ivec a, ivec b) { return _mm512_min_epi32(a, b); }
  QRX_DF_AVX512_FUNCTION static mask ilt(ivec a, ivec b) { return _mm512_cmplt_epi32_mask(a, b); }
  QRX_DF_AVX512_FUNCTION static ivec blend(mask m, ivec a, ivec b) { return _mm512_mask_blend_epi32(m, a, b); }
  QRX_DF_AVX512_FUNCTION static ivec truncate(vec v) { return _mm512_cvttps_epi32(v); }
  QRX_DF_AVX512_FUNCTION static vec convert(ivec v) { return _mm512_cvtepi32_ps(v); }
  QRX_DF_AVX512_FUNCTION static void store(float* p, vec v) { _mm512_storeu_ps(p, v); }
  QRX_DF_AVX512_FUNCTION static void store(std::int32_t* p, ivec v) { _mm512_storeu_si512(p, v); }
  QRX_DF_AVX512_FUNCTION static void store_wide(std::int64_t* p, ivec v) {
    _mm512_storeu_si512(p, _mm512_cvtepi32_epi64(_mm512_castsi512_si256(v)));
    _mm512_storeu_si512(p + 8, _mm512_cvtepi32_epi64(_mm512_extracti64x4_epi64(v, 1)));
  }
};

// The sites s0 + i .. of a call, listed or uniform.
template <typename T, site_kind S>
QRX_DF_AVX512_FUNCTION typename search_lanes<T>::vec sites_at(const site_source<T>& src, std::int64_t s) {
  using lanes = search_lanes<T>;
  if constexpr (S == site_kind::uniform) {
    return lanes::steps(s, lanes::splat(src.site_step), lanes::splat(src.first_site));
  } else {
    return lanes::load(src.sites + s);
  }
}

// uniform_partition::index, cell_of_index and the offset from the cell's
// origin for the sites s0 + i, i < n, whole vectors only (32-bit cells).
// Writes the search indices to cells_out (at s0 + i) when given. Returns how
// many sites it did; the caller does the rest.
template <typename T, site_kind S>
QRX_DF_AVX512_FUNCTION std::int64_t locate_uniform_avx512(const uniform_partition<T>& up, const site_source<T>& src,
                                                          std::int64_t s0, std::int64_t n, std::int64_t* cells_out,
                                                          std::int32_t* cell, T* t) {
  using lanes = search_lanes<T>;
  using vec = typename lanes::vec;
  using ivec = typename lanes::ivec;
  constexpr int w = lanes::width;
  const auto nx = static_cast<std::int32_t>(up.nx);
  const vec a = lanes::splat(up.a);
  const vec b = lanes::splat(up.b);
  const vec width = lanes::splat(up.b - up.a);
  const vec steps = lanes::splat(static_cast<T>(up.nx - 1));
  const vec zero = lanes::splat(T(0));
  const vec top = lanes::splat(up.top);
  const vec last = lanes::splat(up.last);
  const vec h = lanes::splat(up.h);
  const ivec one = lanes::isplat(1);
  const ivec n_minus_2 = lanes::isplat(nx - 2);
  std::int64_t i = 0;
  for (; i + w <= n; i += w) {
    const vec x = sites_at<T, S>(src, s0 + i);
    const vec scaled = lanes::mul(lanes::sub(x, a), steps);
    const vec q = lanes::div(scaled, width);
    const vec clamped = lanes::min(lanes::max(q, zero), top);  // 0 for NaN
    ivec g = lanes::truncate(clamped);
    g = lanes::blend(lanes::template cmp<_CMP_GE_OQ>(q, last), g, n_minus_2);
    const ivec g1 = lanes::iadd(g, one);
    ivec j = lanes::blend(lanes::template cmp<_CMP_LT_OQ>(scaled, lanes::mul(width, lanes::convert(g))), g1, g);
    const auto up_one = lanes::ilt(g, n_minus_2) &
                        lanes::template cmp<_CMP_GE_OQ>(scaled, lanes::mul(width, lanes::convert(g1)));
    j = lanes::blend(up_one, j, lanes::iadd(g1, one));
    j = lanes::blend(lanes::template cmp<_CMP_GT_OQ>(x, b), j, lanes::isplat(nx));
    j = lanes::blend(lanes::template cmp<_CMP_LT_OQ>(x, a), j, lanes::isplat(0));
    j = lanes::blend(lanes::template cmp<_CMP_EQ_OQ>(x, b), j, lanes::isplat(nx - 1));
    if (cells_out != nullptr) lanes::store_wide(cells_out + s0 + i, j);
    const ivec c = lanes::imin(lanes::imax(lanes::iadd(j, lanes::isplat(-1)), lanes::isplat(0)), n_minus_2);
    lanes::store(cell + i, c);
    lanes::store(t + i, lanes::sub(x, lanes::add(lanes::mul(h, lanes::convert(c)), a)));  // x - (h*c + a)
  }
  return i;
}

// The end of the run of sites from `end` on that lie in [lo, hi), up to n,
// whole vectors at a time; a vector that leaves the run ends it at its first
// such lane.
template <typename T, site_kind S>
QRX_DF_AVX512_FUNCTION std::int64_t run_end_avx512(const site_source<T>& src, std::int64_t s0, std::int64_t end,
                                                   std::int64_t n, T lo, T hi) {
  using lanes = search_lanes<T>;
  constexpr int w = lanes::width;
  constexpr unsigned all = (1U << w) - 1U;
  const auto low = lanes::splat(lo);
  const auto high = lanes::splat(hi);
  for (; end + w <= n; end += w) {
    const auto x = sites_at<T, S>(src, s0 + end);
    const unsigned inside =
        static_cast<unsigned>(lanes::template cmp<_CMP_LE_OQ>(low, x) & lanes::template cmp<_CMP_LT_OQ>(x, high));
    if (inside != all) return end + __builtin_ctz(~inside);
  }
  return end;
}

#undef QRX_DF_AVX512_FUNCTION

}  // namespace qrx_df

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif
