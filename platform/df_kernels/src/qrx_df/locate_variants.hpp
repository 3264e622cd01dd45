#pragma once

#include <cstdint>

#include "qrx_df/isa.hpp"
#include "qrx_df/locate.hpp"

namespace qrx_df {

// The block search compiled for each instruction set, and the one of them a
// call runs: the portable loops inlined into a wrapper per variant.
#if QRX_DF_HAVE_AVX2_VARIANT
template <typename T, typename Index, partition_kind P, int Span, site_kind S, bool GivenCells>
QRX_DF_TARGET_AVX2 void locate_avx2(const site_source<T>& src, std::int64_t s0, std::int64_t n, Index* cell, T* t) {
  locate<T, Index, P, Span, S, GivenCells, isa::avx2>(src, s0, n, cell, t);
}
#endif

#if QRX_DF_HAVE_AVX512_VARIANT
template <typename T, typename Index, partition_kind P, int Span, site_kind S, bool GivenCells>
QRX_DF_TARGET_AVX512 void locate_avx512(const site_source<T>& src, std::int64_t s0, std::int64_t n, Index* cell,
                                        T* t) {
  locate<T, Index, P, Span, S, GivenCells, isa::avx512>(src, s0, n, cell, t);
}
#endif

template <typename T, typename Index, partition_kind P, int Span, site_kind S, bool GivenCells>
locate_fn<T, Index> locate_variant(isa target) {
  switch (target) {
#if QRX_DF_HAVE_AVX512_VARIANT
    case isa::avx512:
      return &locate_avx512<T, Index, P, Span, S, GivenCells>;
#endif
#if QRX_DF_HAVE_AVX2_VARIANT
    case isa::avx2:
      return &locate_avx2<T, Index, P, Span, S, GivenCells>;
#endif
    default:
      return &locate<T, Index, P, Span, S, GivenCells>;
  }
}

}  // namespace qrx_df
