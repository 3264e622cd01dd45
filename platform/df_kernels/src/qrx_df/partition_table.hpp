#pragma once

#include <atomic>
#include <mutex>
#include <new>

#include "qrx_df/cell_search.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/task_record.hpp"

namespace qrx_df {

// The cell-search table of a task's listed partition, built once, by the
// first kernel that needs it. A construction kernel builds it through its
// threader: nothing else uses a task while its coefficients are computed.
// An interpolation or search of a task that was never constructed (its
// coefficients supplied) builds it on the calling thread, under the lock,
// since several may run on the task at once; the threader is not run under
// the lock, whose waiters could be the threader's own threads.
struct table_holder {
  std::mutex lock;
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
  if (void* built = holder->table.load(std::memory_order_acquire)) return static_cast<const search_table<T>*>(built);
  std::lock_guard<std::mutex> guard(holder->lock);
  void* built = holder->table.load(std::memory_order_relaxed);
  if (built == nullptr) {
    built = make_search_table(static_cast<const T*>(task->partition), task->nx, threader);
    holder->table.store(built, std::memory_order_release);
  }
  return static_cast<const search_table<T>*>(built);
}

}  // namespace qrx_df
