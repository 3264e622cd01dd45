#pragma once

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include <sycl/sycl.hpp>

namespace velora::qrx::experimental::data_fitting::detail {

// Arrays of host memory that kernels write and host work reads after them
// (one array per piece of work). An array is freed once the work using it
// has completed: when a later array is acquired, or when the owner is
// destroyed, which the spline does only after all its work has completed.
class host_flag_arrays {
 public:
  host_flag_arrays() = default;
  host_flag_arrays(const host_flag_arrays&) = delete;
  host_flag_arrays& operator=(const host_flag_arrays&) = delete;
  ~host_flag_arrays() {
    for (entry& e : in_use_) sycl::free(e.flags, e.context);
  }

  // count flags in host memory of the queue's context; null when it cannot
  // be had.
  std::int32_t* acquire(const sycl::queue& queue, std::int64_t count) {
    release_completed();
    return sycl::malloc_host<std::int32_t>(static_cast<std::size_t>(count), queue.get_context());
  }

  // Frees `flags` once `last_use` has completed.
  void release_after(std::int32_t* flags, const sycl::queue& queue, const sycl::event& last_use) {
    std::lock_guard<std::mutex> lock(mutex_);
    in_use_.push_back({last_use, flags, queue.get_context()});
  }

 private:
  struct entry {
    sycl::event last_use;
    std::int32_t* flags;
    sycl::context context;
  };

  void release_completed() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<entry> still_used;
    for (entry& e : in_use_) {
      if (e.last_use.get_info<sycl::info::event::command_execution_status>() ==
          sycl::info::event_command_status::complete) {
        sycl::free(e.flags, e.context);
      } else {
        still_used.push_back(std::move(e));
      }
    }
    in_use_.swap(still_used);
  }

  std::mutex mutex_;
  std::vector<entry> in_use_;
};

}  // namespace velora::qrx::experimental::data_fitting::detail
