#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <sycl/sycl.hpp>

namespace velora::qrx::experimental::data_fitting::detail {

// Owners of memory that submitted work reads, each held until that work's
// event has completed. Completed entries are let go whenever a new one is
// kept, on the calling thread, so memory is never freed on a runtime thread
// nor while work may still read it. Its owner waits for all its work before
// it destroys the list.
class kept_until_complete {
 public:
  kept_until_complete() = default;
  kept_until_complete(const kept_until_complete&) = delete;
  kept_until_complete& operator=(const kept_until_complete&) = delete;

  void keep(std::shared_ptr<void> owner, const sycl::event& last_use) {
    std::vector<entry> done;  // let go after the lock
    std::lock_guard<std::mutex> lock(mutex_);
    const auto still_used = std::stable_partition(entries_.begin(), entries_.end(), [](const entry& e) {
      return e.last_use.get_info<sycl::info::event::command_execution_status>() !=
             sycl::info::event_command_status::complete;
    });
    done.assign(std::make_move_iterator(still_used), std::make_move_iterator(entries_.end()));
    entries_.erase(still_used, entries_.end());
    entries_.push_back({std::move(owner), last_use});
  }

 private:
  struct entry {
    std::shared_ptr<void> owner;
    sycl::event last_use;
  };

  std::mutex mutex_;
  std::vector<entry> entries_;
};

}  // namespace velora::qrx::experimental::data_fitting::detail
