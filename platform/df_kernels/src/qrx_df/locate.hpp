#pragma once

#include <cstdint>
#include <type_traits>

#include "qrx_df/cell_search.hpp"
#include "qrx_df/isa.hpp"
#include "qrx_df/locate_avx512.hpp"
#include "qrx_df/site_source.hpp"

namespace qrx_df {

// Finding the cells of a block of sites: the sites are expanded, searched,
// and turned into cells and offsets t = x - x_cell that the evaluation reads.

template <typename T, typename Index>
using locate_fn = void (*)(const site_source<T>&, std::int64_t, std::int64_t, Index*, T*);

// Sorted sites come in runs that share a cell: each run is found with one
// comparison per site against the cell's two breakpoints, then its cells and
// offsets are written by loops without branches. A site out of order only
// ends a run early. The last breakpoint has search index nx - 1 but the same
// cell as the sites beyond it. x(i) is site s0 + i of src.
template <isa Target, site_kind S, typename T, typename Index, typename Site>
void locate_sorted(const search_table<T>& table, const site_source<T>& src, std::int64_t s0, std::int64_t n, Site x,
                   std::int64_t* cells_out, Index* cell, T* t) {
  const std::int64_t nx = table.nx;
  const T xl = table.xl;
  std::int64_t j = table.template index<-1>(x(0));
  for (std::int64_t i = 0; i < n;) {
    const T lo = table.xp[j - 1];
    const T hi = table.xp[j];
    std::int64_t end = i + 1;
#if QRX_DF_HAVE_AVX512_VARIANT
    if constexpr (Target == isa::avx512) end = run_end_avx512<T, S>(src, s0, end, n, lo, hi);
#else
    (void)src, (void)s0;
#endif
    while (end < n) {
      const T xe = x(end);
      if (!(lo <= xe && xe < hi)) break;
      ++end;
    }
    const auto c = static_cast<Index>(cell_of_index(j, nx));
    const T origin = table.xp[c];
    for (std::int64_t k = i; k < end; ++k) {
      cell[k] = c;
      t[k] = x(k) - origin;
    }
    if (cells_out != nullptr) {
      for (std::int64_t k = i; k < end; ++k) cells_out[k] = x(k) == xl ? nx - 1 : j;
    }
    if (end < n) j = table.index_from(x(end), j);
    i = end;
  }
}

// Cells and offsets of the n sites from s0; writes their search indices to
// cells_out when asked for. Span is the bucket table's span when known at
// compile time (-1: read from the table). Target is the instruction set of
// the variant that the loops are compiled into.
template <typename T, typename Index, partition_kind P, int Span, site_kind S, bool GivenCells,
          isa Target = isa::baseline>
void locate(const site_source<T>& src, std::int64_t s0, std::int64_t n, Index* cell, T* t) {
  // Local copies: the loops write through cell and t, which the compiler
  // could not otherwise tell apart from the source's fields.
  const site_source<T> local = src;
  const auto nx = static_cast<Index>(src.nx);
  const uniform_partition<T> up = src.uniform;
  const search_table<T> table = src.table != nullptr ? *src.table : search_table<T>{};
  std::int64_t* const cells_out = src.cells_out;
  auto x = [&](std::int64_t i) { return site_at<T, S>(local, s0 + i); };

  std::int64_t done = 0;  // sites whose cells and offsets a vector form found
  if constexpr (GivenCells) {
    const std::int64_t* const cells_in = src.cells_in;
    for (std::int64_t i = 0; i < n; ++i) {
      const std::int64_t j = cells_in[s0 + i];
      cell[i] = static_cast<Index>(j < 0 ? 0 : (j > src.nx ? src.nx : j));
    }
  } else if constexpr (P == partition_kind::uniform) {
#if QRX_DF_HAVE_AVX512_VARIANT
    if constexpr (Target == isa::avx512 && std::is_same_v<Index, std::int32_t>) {
      done = locate_uniform_avx512<T, S>(up, local, s0, n, cells_out, cell, t);
    }
#endif
    for (std::int64_t i = done; i < n; ++i) cell[i] = static_cast<Index>(up.template index<Index>(x(i)));
  } else if constexpr (P == partition_kind::listed) {
    for (std::int64_t i = 0; i < n; ++i) cell[i] = static_cast<Index>(table.template index<Span, Target>(x(i)));
  } else {
    locate_sorted<Target, S>(table, local, s0, n, x, cells_out != nullptr ? cells_out + s0 : nullptr, cell, t);
    return;
  }
  if (cells_out != nullptr) {
    for (std::int64_t i = done; i < n; ++i) cells_out[s0 + i] = cell[i];
  }
  for (std::int64_t i = done; i < n; ++i) {
    const Index c = cell_of_index(cell[i], nx);
    cell[i] = c;
    if constexpr (P == partition_kind::uniform) {
      t[i] = x(i) - up.origin(c);
    } else {
      t[i] = x(i) - table.xp[c];
    }
  }
}

}  // namespace qrx_df
