#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <random>

#include "impl.hpp"

namespace sycl::detail {

// Runs commands whose dependencies have completed on runtime threads. A
// thread is added whenever more commands are ready than threads are idle, so
// a host task that blocks never starves the commands it may be waiting for.
//
// In shuffle mode (HOSTSYCL_SCHEDULE=shuffle) each thread takes a random ready
// command and sleeps a random short time before running it, so that work
// which is not ordered by a dependency runs in varying orders.
class executor {
 public:
  static executor& instance();

  void enqueue(std::shared_ptr<event_impl> command);
  bool shuffling() const { return shuffle_; }

 private:
  executor();
  void worker();
  std::shared_ptr<event_impl> take_ready();  // with mutex_ held

  std::mutex mutex_;
  std::condition_variable ready_cv_;
  std::deque<std::shared_ptr<event_impl>> ready_;
  static constexpr std::size_t reserve_threads = 8;
  static constexpr std::chrono::seconds idle_timeout{2};
  std::size_t idle_ = 0;
  std::size_t threads_ = 0;
  bool shuffle_ = false;
  std::mt19937_64 rng_;
};

// Marks a command complete and releases the commands that waited for it.
void complete(const std::shared_ptr<event_impl>& command);

}  // namespace sycl::detail
