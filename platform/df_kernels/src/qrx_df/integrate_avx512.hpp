#pragma once

#include <cstdint>

#include "qrx_df/evaluate_avx512.hpp"
#include "qrx_df/isa.hpp"

#if QRX_DF_HAVE_AVX512_VARIANT
#include <immintrin.h>

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace qrx_df {

// AVX-512 form of integrate_ordered, a vector of intervals at a time (8
// doubles or 16 floats), 32-bit cells. Each interval's coefficient rows and
// table entries (hi, lo) are loaded whole and transposed into one vector per
// power, which is faster than gathering them element by element. Every lane
// does the operations of the portable loop in the same order, so the
// integrals are equal bit for bit.
#define QRX_DF_AVX512_FUNCTION __attribute__((target("arch=x86-64-v4"))) inline

template <typename T>
struct integral_lanes;

template <>
struct integral_lanes<double> {
  using vec = __m512d;
  QRX_DF_AVX512_FUNCTION static vec sub(vec a, vec b) { return _mm512_sub_pd(a, b); }
  QRX_DF_AVX512_FUNCTION static vec div(vec a, vec b) { return _mm512_div_pd(a, b); }
  QRX_DF_AVX512_FUNCTION static vec negate(vec a) { return _mm512_xor_pd(a, _mm512_set1_pd(-0.0)); }
  // Lanes where a and b are equal, and where flags are not 0.
  QRX_DF_AVX512_FUNCTION static std::uint32_t equal(const std::int32_t* a, const std::int32_t* b) {
    return _mm256_cmpeq_epi32_mask(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a)),
                                   _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b)));
  }
  QRX_DF_AVX512_FUNCTION static std::uint32_t set(const std::int32_t* flags) {
    const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(flags));
    return _mm256_test_epi32_mask(f, f);
  }
};

template <>
struct integral_lanes<float> {
  using vec = __m512;
  QRX_DF_AVX512_FUNCTION static vec sub(vec a, vec b) { return _mm512_sub_ps(a, b); }
  QRX_DF_AVX512_FUNCTION static vec div(vec a, vec b) { return _mm512_div_ps(a, b); }
  QRX_DF_AVX512_FUNCTION static vec negate(vec a) { return _mm512_xor_ps(a, _mm512_set1_ps(-0.0F)); }
  QRX_DF_AVX512_FUNCTION static std::uint32_t equal(const std::int32_t* a, const std::int32_t* b) {
    return _mm512_cmpeq_epi32_mask(_mm512_loadu_si512(a), _mm512_loadu_si512(b));
  }
  QRX_DF_AVX512_FUNCTION static std::uint32_t set(const std::int32_t* flags) {
    const __m512i f = _mm512_loadu_si512(flags);
    return _mm512_test_epi32_mask(f, f);
  }
};

// factored_integral over lanes: c holds Order powers.
template <typename T, int Order>
QRX_DF_AVX512_FUNCTION typename avx512_lanes<T>::vec factored_lanes(const typename avx512_lanes<T>::vec* c,
                                                                   typename avx512_lanes<T>::vec t1,
                                                                   typename avx512_lanes<T>::vec t2) {
  using lanes = avx512_lanes<T>;
  using more = integral_lanes<T>;
  const auto s = lanes::add(t1, t2);
  auto mean = lanes::add(c[0], lanes::mul(lanes::mul(c[1], s), lanes::splat(T(0.5))));
  if constexpr (Order != 2) {
    const auto q = lanes::add(lanes::mul(t1, t1), lanes::mul(t2, t2));
    mean = lanes::add(mean, more::div(lanes::mul(c[2], lanes::add(q, lanes::mul(t1, t2))), lanes::splat(T(3))));
    mean = lanes::add(mean, lanes::mul(lanes::mul(lanes::mul(c[3], s), q), lanes::splat(T(0.25))));
  }
  return lanes::mul(more::sub(t2, t1), mean);
}

// The ordered intervals (integrate_block.hpp) from 0 in whole vectors;
// returns how many it did.
template <typename T, int Order, typename Ordered>
QRX_DF_AVX512_FUNCTION std::int64_t integrate_ordered_avx512(const T* coeffs, const T* table, const Ordered& o,
                                                             std::int64_t m, T* out) {
  using lanes = avx512_lanes<T>;
  using more = integral_lanes<T>;
  using vec = typename lanes::vec;
  constexpr int w = lanes::width;
  const vec zero = lanes::splat(T(0));
  std::int64_t i = 0;
  for (; i + w <= m; i += w) {
    const std::int32_t* ks = o.ks + i;
    const std::int32_t* ke = o.ke + i;
    vec cs[Order];
    vec ce[Order];
    vec after[2];  // hi and lo of the table entry after the start's cell
    vec end[2];    // ... of the end's cell
    if constexpr (Order == 2) {
      lanes::linear_rows_at([&](int l) { return coeffs + std::int64_t{ks[l]} * 2; }, cs);
      lanes::linear_rows_at([&](int l) { return coeffs + std::int64_t{ke[l]} * 2; }, ce);
    } else {
      lanes::cubic_rows_at([&](int l) { return coeffs + std::int64_t{ks[l]} * 4; }, cs);
      lanes::cubic_rows_at([&](int l) { return coeffs + std::int64_t{ke[l]} * 4; }, ce);
    }
    lanes::linear_rows_at([&](int l) { return table + 2 * (std::int64_t{ks[l]} + 1); }, after);
    lanes::linear_rows_at([&](int l) { return table + 2 * std::int64_t{ke[l]}; }, end);
    const vec ts = lanes::load(o.ts + i);
    const vec te = lanes::load(o.te + i);
    const vec one = factored_lanes<T, Order>(cs, ts, te);
    vec r = lanes::add(more::sub(end[0], after[0]), more::sub(end[1], after[1]));
    r = lanes::add(r, factored_lanes<T, Order>(cs, ts, lanes::load(o.ws + i)));
    r = lanes::add(r, factored_lanes<T, Order>(ce, zero, te));
    const vec v = lanes::add(zero, lanes::blend(more::equal(ks, ke), r, one));
    lanes::store(out + i, lanes::blend(more::set(o.swapped + i), v, more::negate(v)));
  }
  return i;
}

#undef QRX_DF_AVX512_FUNCTION

}  // namespace qrx_df

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif
