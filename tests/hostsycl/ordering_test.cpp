// Command ordering by depends_on, in-order queues and waits. Producers pause
// before they write, so a consumer started too early reads stale data; in
// shuffle mode the runtime also reorders whatever it is free to reorder.

#include <cstdint>
#include <vector>

#include "test_support.hpp"

namespace {

using namespace hostsycl_test;
constexpr std::size_t n = 1000;

class Ordering : public testing::TestWithParam<device_type> {
 protected:
  template <class T>
  T* shared(std::size_t count, T init) {
    T* p = sycl::malloc_shared<T>(count, q_);
    std::fill_n(p, count, init);
    owned_.push_back(p);
    return p;
  }
  void TearDown() override {
    q_.wait();
    for (void* p : owned_) sycl::free(p, q_);
  }
  sycl::event produce(sycl::queue& q, int* p, std::size_t count, int value) {
    return q.submit([&](sycl::handler& h) {
      h.host_task([=] {
        pause_briefly();
        std::fill_n(p, count, value);
      });
    });
  }
  sycl::device dev_ = device_of(GetParam());
  sycl::queue q_{dev_};
  std::vector<void*> owned_;
};

TEST_P(Ordering, DependsOnEveryProducerAcrossQueuesThenHostTask) {
  sycl::queue other{device_of(GetParam() == device_type::cpu ? device_type::gpu : device_type::cpu)};
  int* a = shared<int>(n, 0);
  int* b = shared<int>(n, 0);
  int* sum = shared<int>(n, 0);
  long long* total = shared<long long>(1, 0);
  auto from_other = produce(other, a, n, 3);
  auto from_here = produce(q_, b, n, 4);
  auto add = q_.submit([&](sycl::handler& h) {
    h.depends_on({from_here, from_other});
    h.parallel_for(sycl::range<1>(n), [=](sycl::item<1> i) { sum[i] = 10 * a[i] + b[i]; });
  });
  q_.submit([&](sycl::handler& h) {
     h.depends_on(add);
     h.host_task([=] {
       for (std::size_t i = 0; i < n; ++i) *total += sum[i];
     });
   }).wait();  // the last event alone covers the chain
  EXPECT_EQ(*total, 34LL * static_cast<long long>(n));
}

TEST_P(Ordering, QueueShortcutsHonourTheirDependencies) {
  int* src = shared<int>(n, 0);
  int* copied = shared<int>(n, 0);
  int* memcopied = shared<int>(n, 0);
  int* kernel_out = shared<int>(n, 0);
  int* filled = shared<int>(n, 0);
  int* zeroed = shared<int>(n, 0);
  int* single = shared<int>(1, 0);
  auto e = produce(q_, src, n, 5);
  const std::vector<sycl::event> deps{produce(q_, filled, n, -1), produce(q_, zeroed, n, -1), e};
  sycl::event::wait({
      q_.copy(src, copied, n, e),
      q_.memcpy(memcopied, src, n * sizeof(int), deps),
      q_.parallel_for(sycl::range<1>(n), deps, [=](sycl::id<1> i) { kernel_out[i] = src[i]; }),
      q_.single_task(e, [=] { *single = src[n - 1]; }),
      q_.fill(filled, 9, n, deps),
      q_.memset(zeroed, 0, n * sizeof(int), deps),
  });
  for (int* p : {copied, memcopied, kernel_out}) EXPECT_EQ(std::vector<int>(p, p + n), std::vector<int>(n, 5));
  EXPECT_EQ(*single, 5);
  EXPECT_EQ(std::vector<int>(filled, filled + n), std::vector<int>(n, 9));
  EXPECT_EQ(std::vector<int>(zeroed, zeroed + n), std::vector<int>(n, 0));
}

TEST_P(Ordering, InOrderQueueRunsMixedCommandsInSubmissionOrder) {
  sycl::queue in_order{dev_, sycl::property::queue::in_order{}};
  constexpr std::uint64_t steps = 40;
  std::uint64_t* v = shared<std::uint64_t>(1, 1);
  std::uint64_t* constants = shared<std::uint64_t>(steps, 0);
  // v <- 3v + k does not commute, so any reordering changes the result.
  std::uint64_t expected = 1;
  for (std::uint64_t k = 0; k < steps; ++k) {
    constants[k] = 1000 + k;
    auto step = [=] { *v = 3 * *v + k; };
    switch (k % 4) {
      case 0: in_order.submit([&](sycl::handler& h) { h.host_task([=] { pause_briefly(); step(); }); }); break;
      case 1: in_order.single_task(step); break;
      case 2: in_order.parallel_for(1, [=](sycl::item<1>) { step(); }); break;
      case 3: in_order.memcpy(v, constants + k, sizeof *v); break;
    }
    expected = k % 4 == 3 ? 1000 + k : 3 * expected + k;
  }
  in_order.wait();
  EXPECT_EQ(*v, expected);
}

// Whether the order comes from depends_on or from an in-order queue, a
// command whose predecessor is blocked stays submitted.
TEST_P(Ordering, CommandsWaitForABlockedPredecessor) {
  sycl::queue in_order{dev_, sycl::property::queue::in_order{}};
  for (sycl::queue* q : {&q_, &in_order}) {
    gate g;
    int* ran = shared<int>(2, 0);
    auto blocked = submit_blocked(*q, g);
    auto after_host = q->submit([&](sycl::handler& h) {
      if (!q->is_in_order()) h.depends_on(blocked);
      h.host_task([=] { ran[0] = 1; });
    });
    auto after_kernel = q->submit([&](sycl::handler& h) {
      if (!q->is_in_order()) h.depends_on(blocked);
      h.single_task([=] { ran[1] = 1; });
    });
    pause_briefly();
    EXPECT_EQ(status_of(after_host), status::submitted);
    EXPECT_EQ(status_of(after_kernel), status::submitted);
    EXPECT_EQ(ran[0] + ran[1], 0);
    g.open();
    q->wait();
    EXPECT_EQ(ran[0] + ran[1], 2);
    EXPECT_EQ(status_of(after_host), status::complete);
  }
}

TEST_P(Ordering, SubmissionReturnsAtOnceAndReportsRunning) {
  gate g;
  std::promise<void> started;
  int* ran = shared<int>(1, 0);
  sycl::event e;
  {
    // Destroying the queue neither blocks nor drops the command.
    sycl::queue local{dev_};
    e = local.submit([&](sycl::handler& h) {
      h.host_task([=, &started, w = g.waiter()] {
        started.set_value();
        w.wait();
        *ran = 1;
      });
    });
  }
  started.get_future().wait();
  EXPECT_EQ(status_of(e), status::running);
  g.open();
  e.wait();
  EXPECT_EQ(status_of(e), status::complete);
  EXPECT_EQ(*ran, 1);
}

TEST_P(Ordering, QueueWaitCoversEveryOutstandingCommand) {
  int* done = shared<int>(8, 0);
  for (int i = 0; i < 8; ++i) produce(q_, done + i, 1, 1);
  q_.wait();
  EXPECT_EQ(std::vector<int>(done, done + 8), std::vector<int>(8, 1));
}

INSTANTIATE_TEST_SUITE_P(AllDevices, Ordering, testing::ValuesIn(root_types), type_label);

TEST(Events, DefaultConstructedEventIsCompleteAndHoldsNothingBack) {
  sycl::event e;
  EXPECT_EQ(status_of(e), status::complete);
  e.wait_and_throw();
  sycl::event::wait({e, sycl::event{}});
  sycl::queue q;
  int* x = sycl::malloc_shared<int>(1, q);
  q.single_task(e, [=] { *x = 1; }).wait();
  EXPECT_EQ(*x, 1);
  sycl::free(x, q);
}

}  // namespace
