// Queues, events, USM and error delivery used from many threads at once.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_support.hpp"

namespace {

using namespace hostsycl_test;
constexpr int thread_count = 8;

template <class F>
void on_threads(F&& body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < thread_count; ++t) threads.emplace_back(body, t);
  for (auto& th : threads) th.join();
}

TEST(Concurrency, ManyThreadsSubmitKernelsAndHostTasksToOneQueue) {
  constexpr int per_thread = 60;
  constexpr std::size_t len = 64;
  sycl::queue q;
  int* out = sycl::malloc_shared<int>(thread_count * per_thread * len, q);
  on_threads([&](int t) {
    for (int j = 0; j < per_thread; ++j) {
      int* slice = out + (std::size_t(t) * per_thread + j) * len;
      const int value = t * 1000 + j;
      if (j % 2 == 0) q.parallel_for(len, [=](sycl::item<1> i) { slice[i] = value; });
      else q.submit([&](sycl::handler& h) { h.host_task([=] { std::fill_n(slice, len, value); }); });
    }
  });
  q.wait();
  std::size_t wrong = 0;
  for (int t = 0; t < thread_count; ++t)
    for (int j = 0; j < per_thread; ++j) {
      const int* slice = out + (std::size_t(t) * per_thread + j) * len;
      wrong += std::size_t(std::count_if(slice, slice + len, [&](int v) { return v != t * 1000 + j; }));
    }
  EXPECT_EQ(wrong, 0u);
  sycl::free(out, q);
}

TEST(Concurrency, SharedInOrderQueueNeverOverlapsAndKeepsEachThreadsOrder) {
  constexpr int per_thread = 40;
  sycl::queue q{sycl::property::queue::in_order{}};
  std::atomic<int> active{0};
  std::atomic<bool> overlapped{false};
  std::mutex log_mutex;
  std::vector<std::pair<int, int>> log;
  on_threads([&](int t) {
    for (int j = 0; j < per_thread; ++j) {
      q.submit([&](sycl::handler& h) {
        h.host_task([=, &active, &overlapped, &log_mutex, &log] {
          if (active.fetch_add(1) != 0) overlapped = true;
          {
            std::lock_guard<std::mutex> lock(log_mutex);
            log.emplace_back(t, j);
          }
          active.fetch_sub(1);
        });
      });
    }
  });
  q.wait();
  EXPECT_FALSE(overlapped.load());
  ASSERT_EQ(log.size(), std::size_t(thread_count * per_thread));
  std::vector<int> next(thread_count, 0);
  for (const auto& [t, j] : log) EXPECT_EQ(j, next[t]++) << "thread " << t;
}

TEST(Concurrency, DependencyChainsBuiltOnSeveralThreads) {
  constexpr std::uint64_t steps = 30;
  sycl::queue q;
  auto* v = sycl::malloc_shared<std::uint64_t>(thread_count, q);
  std::fill_n(v, thread_count, 1);
  on_threads([&](int t) {
    std::uint64_t* mine = v + t;
    sycl::event previous;
    for (std::uint64_t k = 0; k < steps; ++k) {
      previous = q.submit([&](sycl::handler& h) {
        h.depends_on(previous);
        if (k % 2 == 0) h.single_task([=] { *mine = 3 * *mine + k; });
        else h.host_task([=] { *mine = 3 * *mine + k; });
      });
    }
  });
  q.wait();
  std::uint64_t expected = 1;
  for (std::uint64_t k = 0; k < steps; ++k) expected = 3 * expected + k;
  EXPECT_EQ(std::vector<std::uint64_t>(v, v + thread_count), std::vector<std::uint64_t>(thread_count, expected));
  sycl::free(v, q);
}

TEST(Concurrency, ManyThreadsWaitOnTheSameCommand) {
  sycl::queue q;
  gate g;
  auto blocked = submit_blocked(q, g);
  std::atomic<int> saw_complete{0};
  std::vector<std::thread> waiters;
  for (int t = 0; t < thread_count; ++t) {
    waiters.emplace_back([&, t] {
      if (t % 3 == 0) blocked.wait();
      if (t % 3 == 1) sycl::event::wait({blocked});
      if (t % 3 == 2) q.wait();
      saw_complete += status_of(blocked) == status::complete;
    });
  }
  g.open();
  for (auto& w : waiters) w.join();
  EXPECT_EQ(saw_complete.load(), thread_count);
}

TEST(Concurrency, AllocationsFromManyThreadsStayDistinctAndRegistered) {
  const sycl::usm::alloc kinds[] = {sycl::usm::alloc::host, sycl::usm::alloc::device, sycl::usm::alloc::shared};
  sycl::queue q;
  const sycl::context ctx = q.get_context();
  std::atomic<int> failures{0};
  on_threads([&](int t) {
    for (int round = 0; round < 20; ++round) {
      std::vector<std::pair<unsigned char*, std::size_t>> blocks;
      for (int i = 0; i < 32; ++i) {
        const auto kind = kinds[(t + i) % 3];
        const std::size_t bytes = 1 + std::size_t((t * 131 + i * 17 + round) % 300);
        auto* p = static_cast<unsigned char*>(kind == sycl::usm::alloc::host     ? sycl::malloc_host(bytes, q)
                                              : kind == sycl::usm::alloc::device ? sycl::malloc_device(bytes, q)
                                                                                 : sycl::malloc_shared(bytes, q));
        if (p == nullptr || sycl::get_pointer_type(p, ctx) != kind) ++failures;
        if (p == nullptr) continue;
        std::fill_n(p, bytes, static_cast<unsigned char>(t));
        blocks.emplace_back(p, bytes);
      }
      // Overlapping blocks would show bytes that another thread wrote.
      for (const auto& [p, bytes] : blocks) {
        if (std::count(p, p + bytes, static_cast<unsigned char>(t)) != std::ptrdiff_t(bytes)) ++failures;
        sycl::free(p, ctx);
      }
    }
  });
  EXPECT_EQ(failures.load(), 0);
}

TEST(Concurrency, ErrorsFromManyThreadsAreEachDeliveredOnce) {
  constexpr int per_thread = 25;
  error_sink sink;
  sycl::queue q{sink.handler()};
  std::vector<std::string> expected;
  for (int t = 0; t < thread_count; ++t)
    for (int j = 0; j < per_thread; ++j) expected.push_back(std::to_string(t) + "-" + std::to_string(j));
  on_threads([&](int t) {
    for (int j = 0; j < per_thread; ++j) {
      submit_throwing(q, std::to_string(t) + "-" + std::to_string(j));
      if (j % 5 == 4) q.wait_and_throw();
    }
  });
  q.wait_and_throw();
  auto messages = sink.messages();
  std::sort(messages.begin(), messages.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(messages, expected);
}

}  // namespace
