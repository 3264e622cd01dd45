#pragma once

#include <cstdint>

#include "qrx_df/cell_search.hpp"

namespace qrx_df {

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

// Site s of the call: listed, or step*s + first for uniform sites.
template <typename T, site_kind S>
T site_at(const site_source<T>& src, std::int64_t s) {
  if constexpr (S == site_kind::uniform) {
    return src.site_step * static_cast<T>(s) + src.first_site;
  } else {
    return src.sites[s];
  }
}

}  // namespace qrx_df
