#pragma once

#include <cstdint>

#include "qrx_df/cell_search.hpp"
#include "qrx_df/partition_table.hpp"
#include "qrx_df/task_record.hpp"

namespace qrx_df {

// One site at a time: the cell an interpolation of the task gives the site
// (the same search, so integration and solving agree with it), and the
// breakpoints x_k of the cells: the listed ones, or those of a uniform
// partition by the rule its search measures sites from.
template <typename T>
struct cell_locator {
  std::int64_t nx = 0;
  bool uniform = true;
  uniform_partition<T> up{T(0), T(1), 2};
  const search_table<T>* table = nullptr;
  T a = 0;
  T b = 0;

  // False when the search table of a listed partition cannot be built; the
  // threader builds it when it does not exist yet.
  bool attach(const qrx_df_task* task, const qrx_df_threader_block* threader) {
    nx = task->nx;
    const auto* x = static_cast<const T*>(task->partition);
    uniform = task->partition_hint == QRX_DF_PARTITION_UNIFORM;
    if (uniform) {
      up = uniform_partition<T>(x[0], x[1], nx);
      a = x[0];
      b = x[1];
      return true;
    }
    table = partition_table<T>(task, threader);
    if (table == nullptr) return false;
    a = table->xp[0];
    b = table->xp[nx - 1];
    return true;
  }

  // x_k, k in [0, nx - 1): the origin t = 0 of cell k.
  T origin(std::int64_t k) const { return uniform ? up.origin(k) : table->xp[k]; }

  // Width of cell k: up to the next cell's origin, the last cell up to b.
  T width(std::int64_t k) const { return (k + 2 < nx ? origin(k + 1) : b) - origin(k); }

  // Cell of x, clamped into [0, nx - 2] beyond the ends.
  std::int64_t cell(T x) const {
    const std::int64_t j = uniform ? up.template index<std::int64_t>(x) : table->template index<-1>(x);
    return cell_of_index(j, nx);
  }
};

}  // namespace qrx_df
