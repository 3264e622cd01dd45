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
// A thread that waits for a ready command nobody has started yet takes it
// back from the ready list and runs it itself: the submit-and-wait round trip
// then costs no thread wake-up at all, only the worker's wake-up that
// submission starts (which finds nothing left to do). While the command is
// not ready, the waiter does the same with the unfinished commands it
// depends on (its predecessors, and theirs), so a chain of commands runs on
// the waiting thread link after link. Every ready command
// still has an idle or new thread counted for it, so a command that a waiter
// runs can block on another ready one without starving it.
//
// In shuffle mode (HOSTSYCL_SCHEDULE=shuffle) each thread takes a random ready
// command and sleeps a random short time before running it, and a waiter takes
// back the command it waits for only half of the time, so that work which is
// not ordered by a dependency runs in varying orders and on varying threads.
class executor {
 public:
  static executor& instance();

  void enqueue(std::shared_ptr<event_impl> command);
  // Removes the command from the ready list if no thread has taken it yet.
  bool take_back(const std::shared_ptr<event_impl>& command);
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
  std::size_t idle_ = 0;      // waiting for work, or woken and not yet holding any
  std::size_t starting_ = 0;  // made, not yet waiting for work
  std::size_t threads_ = 0;
  bool shuffle_ = false;
  std::mt19937_64 rng_;
};

// Runs a command taken from the ready list, then completes it.
void run(const std::shared_ptr<event_impl>& command);

// Marks a command complete and releases the commands that waited for it.
void complete(const std::shared_ptr<event_impl>& command);

// Returns once the command is complete, running it, or the commands it
// waits for, on this thread while they are ready and nobody has started them.
void wait_for(const std::shared_ptr<event_impl>& command);

}  // namespace sycl::detail
