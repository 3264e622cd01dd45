#include "executor.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <thread>
#include <utility>
#include <vector>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include "tsan_order.hpp"

namespace sycl::detail {

executor& executor::instance() {
  // Never destroyed: runtime threads may still be parked on it at exit.
  static executor* const the_executor = new executor();
  return *the_executor;
}

executor::executor() {
  const char* mode = std::getenv("HOSTSYCL_SCHEDULE");
  shuffle_ = mode != nullptr && std::strcmp(mode, "shuffle") == 0;
  rng_.seed(std::random_device{}());
}

void executor::enqueue(std::shared_ptr<event_impl> command) {
  bool add_thread = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ready_.push_back(std::move(command));
    // A thread being started counts as idle: it takes a command as soon as it
    // runs, so a burst of submissions does not start a thread each.
    if (ready_.size() > idle_ + starting_) {
      ++threads_;
      ++starting_;
      add_thread = true;
    }
  }
  if (add_thread) {
    try {
      std::thread(&executor::worker, this).detach();
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      --threads_;
      --starting_;
      throw;
    }
  }
  // Outside the lock, so that the woken thread does not block on it at once.
  ready_cv_.notify_one();
}

bool executor::take_back(const std::shared_ptr<event_impl>& command) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (shuffle_ && std::bernoulli_distribution(0.5)(rng_)) return false;
  // The command was made ready last, most often: look from the back.
  const auto found = std::find(ready_.rbegin(), ready_.rend(), command);
  if (found == ready_.rend()) return false;
  ready_.erase(std::next(found).base());
  return true;
}

std::shared_ptr<event_impl> executor::take_ready() {
  std::size_t index = 0;
  if (shuffle_ && ready_.size() > 1) index = std::uniform_int_distribution<std::size_t>(0, ready_.size() - 1)(rng_);
  auto command = std::move(ready_[index]);
  ready_.erase(ready_.begin() + static_cast<std::ptrdiff_t>(index));
  return command;
}

void executor::worker() {
  bool starting = true;
  for (;;) {
    std::shared_ptr<event_impl> command;
    long delay_us = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (starting) --starting_;  // idle from now on, without a gap
      starting = false;
      ++idle_;
      while (ready_.empty()) {
        // Threads beyond a small reserve retire after a while without work,
        // so a burst of blocking host tasks does not leave them all behind.
        if (ready_cv_.wait_for(lock, idle_timeout) == std::cv_status::timeout && ready_.empty() &&
            threads_ > reserve_threads) {
          --idle_;
          --threads_;
          return;
        }
      }
      --idle_;
      command = take_ready();
      if (shuffle_) delay_us = std::uniform_int_distribution<long>(0, 400)(rng_);
    }
    if (delay_us > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
    run(command);
  }
}

void run(const std::shared_ptr<event_impl>& command) {
  {
    std::lock_guard<std::mutex> lock(command->mutex);
    command->status = info::event_command_status::running;
  }
  if (command->work) {
    if (command->kind == command_kind::host_task) {
      // The error is recorded after the catch block has ended, so that this
      // thread holds no reference to the exception once the queue has it:
      // the thread that drops the last one frees it, after it has been
      // handed over under the queue's lock.
      std::exception_ptr error;
      try {
        command->work();
      } catch (...) {
        error = std::current_exception();
      }
      if (error) command->queue->record_error(std::move(error));
    } else {
      // Kernels and memory operations cannot throw: kernels run noexcept.
      command->work();
    }
  }
  complete(command);
}

void complete(const std::shared_ptr<event_impl>& command) {
  std::vector<std::shared_ptr<event_impl>> released;
  std::function<void()> finished_work;
  {
    std::lock_guard<std::mutex> lock(command->mutex);
    command->status = info::event_command_status::complete;
    released.swap(command->successors);
    finished_work.swap(command->work);  // captures are released outside the lock
    command->done.notify_all();
  }
  for (auto& successor : released)
    if (successor->pending.fetch_sub(1) == 1) executor::instance().enqueue(std::move(successor));
}

void parallel_for_chunks(std::size_t n, const std::function<void(std::size_t, std::size_t)>& body) {
  if (n == 0) return;
  fork_join_order order;  // TBB's fork and join, declared to ThreadSanitizer
  tbb::parallel_for(tbb::blocked_range<std::size_t>(0, n), [&body, &order](const tbb::blocked_range<std::size_t>& r) {
    order.chunk_begins();
    body(r.begin(), r.end());
    order.chunk_ends();
  });
  order.joined();
}

namespace {

bool is_complete(const std::shared_ptr<event_impl>& command) {
  std::lock_guard<std::mutex> lock(command->mutex);
  return command->status == info::event_command_status::complete;
}

// Runs, on this thread, the command or else one of its unfinished
// predecessors (newest first, a few dozen at most) that is ready and that no
// thread has started. Returns whether it ran one.
bool run_ready_part(const std::shared_ptr<event_impl>& command) {
  constexpr int max_visits = 64;
  std::vector<std::shared_ptr<event_impl>> to_visit{command};
  for (int visits = 0; !to_visit.empty() && visits < max_visits; ++visits) {
    const std::shared_ptr<event_impl> next = std::move(to_visit.back());
    to_visit.pop_back();
    if (is_complete(next)) continue;
    if (executor::instance().take_back(next)) {
      run(next);
      return true;
    }
    for (const auto& weak : next->predecessors)
      if (auto predecessor = weak.lock()) to_visit.push_back(std::move(predecessor));
  }
  return false;
}

}  // namespace

void wait_for(const std::shared_ptr<event_impl>& command) {
  // The waiter runs what the command waits for while it is ready and
  // unstarted, instead of sleeping until a worker has woken for it: a chain
  // of commands then costs no wake-up per link.
  while (!is_complete(command)) {
    if (!run_ready_part(command)) break;
  }
  std::unique_lock<std::mutex> lock(command->mutex);
  command->done.wait(lock, [&command] { return command->status == info::event_command_status::complete; });
}

}  // namespace sycl::detail
