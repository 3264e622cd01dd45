#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "qrx_df/cell_search.hpp"
#include "qrx_df/integrate_avx512.hpp"
#include "qrx_df/isa.hpp"
#include "qrx_df/locate.hpp"
#include "qrx_df/piece_integral.hpp"
#include "qrx_df/site_source.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace qrx_df {

// Integrals over a block of intervals whose bounds all start from a cell of
// the first period: inside [a, b] ([a, b) for a periodic spline), or beyond
// an end whose mode extends the end cell's polynomial. Such a bound needs no
// line and no period count, so the block's cells are found by the block
// search that interpolation uses, and each function's integrals are computed
// by loops without branches (both forms of an interval are computed and one
// is selected), which the compiler vectorises; the AVX-512 variant has a
// hand-vectorised form (integrate_avx512.hpp). The operations are those of
// the bound-by-bound path, in the same order: results are equal bit for bit.

inline constexpr std::int64_t block_intervals = 256;

// The bounds the block path takes: low <= x <= high (never NaN).
template <typename T>
struct block_range {
  T low;
  T high;
};

template <typename T>
block_range<T> block_range_of(T a, T b, std::int64_t left_mode, std::int64_t right_mode) {
  constexpr T inf = std::numeric_limits<T>::infinity();
  if (left_mode == QRX_DF_EXTRAPOLATE_PERIODIC) return {a, std::nextafter(b, -inf)};  // b starts the next period
  return {left_mode == QRX_DF_EXTRAPOLATE_EXTEND ? -inf : a, right_mode == QRX_DF_EXTRAPOLATE_EXTEND ? inf : b};
}

// Whether every one of the m bounds is in the range; one pass without
// branches.
template <typename T>
bool all_in_range(const T* x, std::int64_t m, block_range<T> r) {
  unsigned inside = 1;
  for (std::int64_t i = 0; i < m; ++i) {
    inside &= static_cast<unsigned>(r.low <= x[i]) & static_cast<unsigned>(x[i] <= r.high);
  }
  return inside != 0;
}

// What a block's integrals read of the partition: the uniform one, or the
// listed breakpoints; b.
template <typename T>
struct partition_ends {
  uniform_partition<T> up{T(0), T(1), 2};
  const T* xp = nullptr;
  T b = 0;
  std::int64_t nx = 0;
};

// Each interval from its lesser bound (the start, cell ks at ts) to the
// greater (the end, ke at te), the width of the start's cell, and whether the
// bounds were swapped (upper < lower, all bits set): the part every function
// shares.
template <typename T, typename Index>
struct ordered_block {
  Index ks[block_intervals];
  Index ke[block_intervals];
  Index swapped[block_intervals];
  T ts[block_intervals];
  T te[block_intervals];
  T ws[block_intervals];
};

// Here and below, loads are unconditional and selects come after them, so
// that the loops vectorise.
template <typename T, typename Index>
void order_bounds(const T* __restrict lower, const T* __restrict upper, const Index* __restrict cl,
                  const T* __restrict tl, const Index* __restrict cu, const T* __restrict tu, std::int64_t m,
                  ordered_block<T, Index>& o) {
  for (std::int64_t i = 0; i < m; ++i) {
    const bool swapped = upper[i] < lower[i];
    const Index kl = cl[i];
    const Index ku = cu[i];
    const T xl = tl[i];
    const T xu = tu[i];
    o.ks[i] = swapped ? ku : kl;
    o.ke[i] = swapped ? kl : ku;
    o.ts[i] = swapped ? xu : xl;
    o.te[i] = swapped ? xl : xu;
    o.swapped[i] = swapped ? Index(-1) : Index(0);
  }
}

// Widths of the cells k: up to the next cell's origin, the last cell up to
// b. Every cell has a next breakpoint, b or not, so it is always read.
template <typename T, typename Index, partition_kind P>
void cell_widths(uniform_partition<T> up, const T* __restrict xp, T b, std::int64_t nx, const Index* __restrict k,
                 std::int64_t m, T* __restrict w) {
  const auto last = static_cast<Index>(nx - 2);
  for (std::int64_t i = 0; i < m; ++i) {
    const Index c = k[i];
    T origin;
    T next;
    if constexpr (P == partition_kind::uniform) {
      origin = up.origin(c);
      next = up.origin(c + 1);
    } else {
      origin = xp[c];
      next = xp[c + 1];
    }
    w[i] = (c < last ? next : b) - origin;
  }
}

// One function's integrals over the ordered block: within one cell
// I_ks(ts, te), else table[ke] - table[ks + 1] + I_ks(ts, h_ks) + I_ke(0, te)
// (table entries hi and lo); negated where the bounds were swapped.
template <typename T, typename Index, int Order>
void integrate_ordered(const T* __restrict coeffs, const T* __restrict table, const ordered_block<T, Index>& o,
                       std::int64_t begin, std::int64_t m, T* __restrict out) {
  for (std::int64_t i = begin; i < m; ++i) {
    const Index ks = o.ks[i];
    const Index ke = o.ke[i];
    const Index s = ks * Order;
    const Index e = ke * Order;
    const T s0 = coeffs[s];
    const T s1 = coeffs[s + 1];
    const T s2 = Order == 4 ? coeffs[s + 2] : T(0);
    const T s3 = Order == 4 ? coeffs[s + 3] : T(0);
    const T e0 = coeffs[e];
    const T e1 = coeffs[e + 1];
    const T e2 = Order == 4 ? coeffs[e + 2] : T(0);
    const T e3 = Order == 4 ? coeffs[e + 3] : T(0);
    const Index after = 2 * (ks + 1);
    const Index end = 2 * ke;
    const T ts = o.ts[i];
    const T te = o.te[i];
    const T one = factored_integral<Order>(s0, s1, s2, s3, ts, te);
    T r = (table[end] - table[after]) + (table[end + 1] - table[after + 1]);
    r += factored_integral<Order>(s0, s1, s2, s3, ts, o.ws[i]);
    r += factored_integral<Order>(e0, e1, e2, e3, T(0), te);
    // Added to 0 as the bound-by-bound path adds its pieces, so that an
    // empty interval gives +0 there too.
    const T v = T(0) + (ks == ke ? one : r);
    out[i] = o.swapped[i] != 0 ? -v : v;
  }
}

// Everything a block of a call reads.
template <typename T, typename Index>
struct block_call {
  locate_fn<T, Index> locate;  // the block search of the partition
  site_source<T> lower;        // sites: the lower bounds
  site_source<T> upper;
  partition_ends<T> cells;
  block_range<T> range;
  T* const* coeffs;  // per function
  const T* table;    // 2 nx entries per function
  std::int64_t ny;
  std::int64_t n;
  T* results;  // n per function
};

// The block of the m intervals from i0; false, with nothing written, when a
// bound is not one the block path takes. Target is the instruction set of
// the variant the loops are compiled into.
template <typename T, typename Index, partition_kind P, int Order, isa Target = isa::baseline>
bool integrate_block(const block_call<T, Index>& call, std::int64_t i0, std::int64_t m) {
  const T* lower = call.lower.sites + i0;
  const T* upper = call.upper.sites + i0;
  if (!all_in_range(lower, m, call.range) || !all_in_range(upper, m, call.range)) return false;
  Index cl[block_intervals];
  Index cu[block_intervals];
  T tl[block_intervals];
  T tu[block_intervals];
  call.locate(call.lower, i0, m, cl, tl);
  call.locate(call.upper, i0, m, cu, tu);
  ordered_block<T, Index> o;
  order_bounds(lower, upper, cl, tl, cu, tu, m, o);
  const partition_ends<T>& p = call.cells;
  cell_widths<T, Index, P>(p.up, p.xp, p.b, p.nx, o.ks, m, o.ws);
  const std::int64_t nx = call.cells.nx;
  for (std::int64_t j = 0; j < call.ny; ++j) {
    const T* coeffs = call.coeffs[j];
    const T* table = call.table + 2 * j * nx;
    T* out = call.results + j * call.n + i0;
    std::int64_t done = 0;
#if QRX_DF_HAVE_AVX512_VARIANT
    if constexpr (Target == isa::avx512 && std::is_same_v<Index, std::int32_t>) {
      done = integrate_ordered_avx512<T, Order>(coeffs, table, o, m, out);
    }
#endif
    integrate_ordered<T, Index, Order>(coeffs, table, o, done, m, out);
  }
  return true;
}

template <typename T, typename Index, partition_kind P, int Order>
using integrate_block_fn = bool (*)(const block_call<T, Index>&, std::int64_t, std::int64_t);

#if QRX_DF_HAVE_AVX2_VARIANT
template <typename T, typename Index, partition_kind P, int Order>
QRX_DF_TARGET_AVX2 bool integrate_block_avx2(const block_call<T, Index>& call, std::int64_t i0, std::int64_t m) {
  return integrate_block<T, Index, P, Order, isa::avx2>(call, i0, m);
}
#endif

#if QRX_DF_HAVE_AVX512_VARIANT
template <typename T, typename Index, partition_kind P, int Order>
QRX_DF_TARGET_AVX512 bool integrate_block_avx512(const block_call<T, Index>& call, std::int64_t i0,
                                                 std::int64_t m) {
  return integrate_block<T, Index, P, Order, isa::avx512>(call, i0, m);
}
#endif

template <typename T, typename Index, partition_kind P, int Order>
integrate_block_fn<T, Index, P, Order> integrate_block_variant(isa target) {
  switch (target) {
#if QRX_DF_HAVE_AVX512_VARIANT
    case isa::avx512:
      return &integrate_block_avx512<T, Index, P, Order>;
#endif
#if QRX_DF_HAVE_AVX2_VARIANT
    case isa::avx2:
      return &integrate_block_avx2<T, Index, P, Order>;
#endif
    default:
      return &integrate_block<T, Index, P, Order>;
  }
}

}  // namespace qrx_df
