#pragma once

#include <cstdint>

#include "cell_search.hpp"
#include "isa.hpp"

namespace qrx_df {

// Finding the cells of a block of sites: the sites are expanded, searched,
// and turned into cells and offsets t = x - x_cell that the evaluation reads.

// A uniform partition by its quotient, a listed one by its bucket table, and
// sorted sites by walking on from the previous site's cell.
enum class partition_kind { uniform, listed, listed_sorted_sites };
enum class site_kind { listed, uniform };

// Everything the search of a call reads.
template <typename T>
struct site_source {
  std::int64_t nx = 0;
  uniform_partition<T> uniform{T(0), T(1), 2};
  const search_table<T>* table = nullptr;
  const T* sites = nullptr;
  T first_site = 0;
  T site_step = 0;                         // uniform sites
  const std::int64_t* cells_in = nullptr;  // search indices given by the caller
  std::int64_t* cells_out = nullptr;       // search indices asked for
};

template <typename T, typename Index>
using locate_fn = void (*)(const site_source<T>&, std::int64_t, std::int64_t, Index*, T*);

// Site s of the call: listed, or step*s + first for uniform sites.
template <typename T, site_kind S>
T site_at(const site_source<T>& src, std::int64_t s) {
  if constexpr (S == site_kind::uniform) {
    return src.site_step * static_cast<T>(s) + src.first_site;
  } else {
    return src.sites[s];
  }
}

// Sorted sites come in runs that share a cell: each run is found with one
// comparison per site against the cell's two breakpoints, then its cells and
// offsets are written by loops without branches. A site out of order only
// ends a run early. The last breakpoint has search index nx - 1 but the same
// cell as the sites beyond it.
template <typename T, typename Index, typename Site>
void locate_sorted(const search_table<T>& table, std::int64_t n, Site x, std::int64_t* cells_out, Index* cell, T* t) {
  const std::int64_t nx = table.nx;
  const T xl = table.xl;
  std::int64_t j = table.template index<-1>(x(0));
  for (std::int64_t i = 0; i < n;) {
    const T lo = table.xp[j - 1];
    const T hi = table.xp[j];
    std::int64_t end = i + 1;
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

  if constexpr (GivenCells) {
    const std::int64_t* const cells_in = src.cells_in;
    for (std::int64_t i = 0; i < n; ++i) {
      const std::int64_t j = cells_in[s0 + i];
      cell[i] = static_cast<Index>(j < 0 ? 0 : (j > src.nx ? src.nx : j));
    }
  } else if constexpr (P == partition_kind::uniform) {
    for (std::int64_t i = 0; i < n; ++i) cell[i] = static_cast<Index>(up.template index<Index>(x(i)));
  } else if constexpr (P == partition_kind::listed) {
    for (std::int64_t i = 0; i < n; ++i) cell[i] = static_cast<Index>(table.template index<Span, Target>(x(i)));
  } else {
    locate_sorted(table, n, x, cells_out != nullptr ? cells_out + s0 : nullptr, cell, t);
    return;
  }
  if (cells_out != nullptr) {
    for (std::int64_t i = 0; i < n; ++i) cells_out[s0 + i] = cell[i];
  }
  for (std::int64_t i = 0; i < n; ++i) {
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
