#pragma once

#include <atomic>
#include <new>

#include "qrx_df/cell_search.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/task_record.hpp"

namespace qrx_df {

// The cell-search table of a task's listed partition, built by the first
// search that needs it, through that call's threader: a construction only
// checks the partition, so a spline that is constructed and never searched
// never pays for the index. Searches of one task may run at once; each that
// finds no table builds one, the first to publish wins and the others free
// theirs. No lock is held while the threader runs: a thread waiting in the
// threader may pick up another search of the same task, which must not
// block on it.
struct table_holder {
  std::atomic<void*> table{nullptr};
};

inline table_holder* new_table_holder() { return new (std::nothrow) table_holder; }

template <typename T>
void delete_table_holder(void* holder) {
  auto* h = static_cast<table_holder*>(holder);
  if (h == nullptr) return;
  free_search_table(static_cast<search_table<T>*>(h->table.load()));
  delete h;
}

// The task's table, built now if need be; null when out of memory.
template <typename T>
const search_table<T>* partition_table(const qrx_df_task* task, const qrx_df_threader_block* threader) {
  auto* holder = static_cast<table_holder*>(task->search_table);
  void* published = holder->table.load(std::memory_order_acquire);
  if (published != nullptr) return static_cast<const search_table<T>*>(published);
  search_table<T>* mine = make_search_table(static_cast<const T*>(task->partition), task->nx, threader);
  if (mine == nullptr) return nullptr;
  if (holder->table.compare_exchange_strong(published, mine, std::memory_order_acq_rel, std::memory_order_acquire)) {
    return mine;
  }
  free_search_table(mine);  // another search published first
  return static_cast<const search_table<T>*>(published);
}

}  // namespace qrx_df
