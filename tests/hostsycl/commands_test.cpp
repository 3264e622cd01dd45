// Command-group rules, what each command does, kernel parameter forms; ordering by depends_on, in-order queues
// and waits, also from many threads. Producers pause before writing, so a consumer run too early sees stale data.

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <numeric>

#include "test_support.hpp"

namespace {

using namespace hostsycl_test;
using buffer = std::array<int, 4>;

// Each kind records one command on a buffer that starts as {0, 0, 7, 0}.
struct command_kind {
  const char* name;
  void (*record)(sycl::handler&, int*);
  buffer after;
};
const command_kind kinds[] = {
    {"single_task", [](sycl::handler& h, int* p) { h.single_task([=] { p[0] = 1; }); }, {1, 0, 7, 0}},
    {"parallel_for", [](sycl::handler& h, int* p) { h.parallel_for(2, [=](sycl::item<1> i) { p[i] = 1; }); },
     {1, 1, 7, 0}},
    {"host_task", [](sycl::handler& h, int* p) { h.host_task([=] { p[3] = 4; }); }, {0, 0, 7, 4}},
    {"interop", [](sycl::handler& h, int* p) { h.host_task([=](sycl::interop_handle) { p[3] = 5; }); }, {0, 0, 7, 5}},
    {"memcpy", [](sycl::handler& h, int* p) { h.memcpy(p, p + 2, sizeof(int)); }, {7, 0, 7, 0}},
    {"copy", [](sycl::handler& h, int* p) { h.copy<int>(p + 2, p + 1, 1); }, {0, 7, 7, 0}},
    {"memset", [](sycl::handler& h, int* p) { h.memset(p, 0xFF, sizeof(int)); }, {-1, 0, 7, 0}},
    {"fill", [](sycl::handler& h, int* p) { h.fill(p, 5, 2); }, {5, 5, 7, 0}},
};

TEST(CommandGroups, OneCommandDoesItsWorkASecondIsRefusedAndNothingRuns) {
  sycl::queue q;
  int* p = sycl::malloc_shared<int>(4, q);
  for (const auto& second : kinds) {
    std::copy_n(buffer{0, 0, 7, 0}.begin(), 4, p);
    for (const auto& first : kinds) {
      auto both = [&](sycl::handler& h) { first.record(h, p); second.record(h, p); };
      EXPECT_EQ(thrown_code([&] { q.submit(both); }), invalid) << first.name << " then " << second.name;
    }
    q.wait();
    EXPECT_EQ((buffer{p[0], p[1], p[2], p[3]}), (buffer{0, 0, 7, 0})) << "a refused group ran";
    q.submit([&](sycl::handler& h) { second.record(h, p); }).wait();
    EXPECT_EQ((buffer{p[0], p[1], p[2], p[3]}), second.after) << second.name;
  }
  sycl::free(p, q);
}

TEST(CommandGroups, FunctionRunsOnceOnTheCallerMayRecordNothingAndItsExceptionsReachIt) {
  sycl::queue q;
  std::vector<std::thread::id> callers;
  q.submit([&](sycl::handler&) { callers.push_back(std::this_thread::get_id()); }).wait();
  EXPECT_EQ(callers, std::vector<std::thread::id>{std::this_thread::get_id()});
  struct marker {};
  EXPECT_THROW(q.submit([](sycl::handler&) { throw marker{}; }), marker);
}

// Runs make(out, n) over n items, the range written as `spelling` picks, on the device that `spelling`
// also picks: the kernel must add i + 1 to out[i] exactly once for each i and leave out[n] alone.
template <class Make>
void each_index_once(int spelling, Make make) {
  sycl::queue q{device_of(root_types[spelling])};
  for (std::size_t n : {0, 1, 1037}) {
    std::vector<std::size_t> expected(n + 1, 0);
    std::iota(expected.begin(), expected.end() - 1, std::size_t{1});
    auto* out = sycl::malloc_shared<std::size_t>(n + 1, q);
    std::fill_n(out, n + 1, 0);
    const auto kernel = make(out, n);
    if (spelling == 0) q.parallel_for(n, kernel).wait();
    if (spelling == 1) q.parallel_for({n}, kernel).wait();
    if (spelling == 2) q.submit([&](sycl::handler& h) { h.parallel_for(sycl::range<1>(n), kernel); }).wait();
    EXPECT_EQ(std::vector<std::size_t>(out, out + n + 1), expected) << "n = " << n << ", spelling " << spelling;
    sycl::free(out, q);
  }
}

TEST(Kernels, EveryParameterFormSeesEachIndexOnce) {
  for (int spelling = 0; spelling < 3; ++spelling) {
    each_index_once(spelling, [](std::size_t* out, std::size_t n) {
      return [=](sycl::item<1> it) { out[it.get_linear_id()] += it.get_range()[0] == n ? it.get_id(0) + 1 : 0; };
    });
    each_index_once(spelling, [](std::size_t* out, std::size_t) { return [=](sycl::id<1> i) { out[i] += i + 1; }; });
    each_index_once(spelling, [](std::size_t* out, std::size_t) { return [=](std::size_t i) { out[i] += i + 1; }; });
    each_index_once(spelling, [](std::size_t* out, std::size_t) { return [=](auto i) { out[i[0]] += i[0] + 1; }; });
  }
}

// The math functions kernels call, in both scalar types, from a kernel.
TEST(Kernels, MathFunctionsGiveTheStandardResults) {
  sycl::queue q;
  double* d = sycl::malloc_shared<double>(3, q);
  float* f = sycl::malloc_shared<float>(3, q);
  q.single_task([=] {
     d[0] = sycl::sqrt(2.25), d[1] = sycl::fabs(-3.5), d[2] = sycl::exp10(-2.5);
     f[0] = sycl::sqrt(6.25f), f[1] = sycl::fabs(-0.5f), f[2] = sycl::exp10(3.0f);
   }).wait();
  EXPECT_EQ(d[0], 1.5);
  EXPECT_EQ(d[1], 3.5);
  EXPECT_EQ(d[2], std::pow(10.0, -2.5));
  EXPECT_EQ(f[0], 2.5f);
  EXPECT_EQ(f[1], 0.5f);
  EXPECT_EQ(f[2], 1000.0f);
  sycl::free(d, q);
  sycl::free(f, q);
}

constexpr std::size_t len = 1000;

class Ordering : public testing::TestWithParam<device_type> {
 protected:
  void TearDown() override { q_.wait(); sycl::free(mem_, q_); }
  sycl::queue q_{device_of(GetParam())};
  int* mem_ = sycl::malloc_shared<int>(7 * len + 1, q_);
};

sycl::event produce(sycl::queue& q, int* p, std::size_t count, int value) {
  auto write = [=] { pause_briefly(); std::fill_n(p, count, value); };
  return q.submit([&](sycl::handler& h) { h.host_task(write); });
}

// Each shortcut waits for a producer on another queue, given its event alone or in a list.
TEST_P(Ordering, ShortcutsHonourTheirDependencies) {
  sycl::queue other{device_of(GetParam() == device_type::cpu ? device_type::gpu : device_type::cpu)};
  int *in = mem_, *filled = in + len, *zeroed = in + 2 * len, *copied = in + 3 * len, *memcopied = in + 4 * len;
  int *kernel_out = in + 5 * len, *single = in + 6 * len, *end = in + 6 * len + 1;
  auto check = [&](auto dependency_of) {
    std::fill(in, end, 0);
    const auto dep = dependency_of(produce(other, in, 3 * len, 5));
    sycl::event::wait({q_.copy(in, copied, len, dep), q_.memcpy(memcopied, in, len * sizeof(int), dep),
                       q_.parallel_for(len, dep, [=](sycl::id<1> i) { kernel_out[i] = in[i]; }),
                       q_.single_task(dep, [=] { *single = in[len - 1]; }), q_.fill(filled, 9, len, dep),
                       q_.memset(zeroed, 0, len * sizeof(int), dep)});
    EXPECT_EQ(std::count(copied, single + 1, 5), 3 * int(len) + 1);
    EXPECT_EQ(std::count(filled, filled + len, 9) + std::count(zeroed, zeroed + len, 0), 2 * int(len));
  };
  check([](sycl::event e) { return e; });
  check([](sycl::event e) { return std::vector<sycl::event>{sycl::event{}, e}; });
}

// Destroying a queue neither blocks nor drops its commands; a command behind a blocked one stays
// submitted; waits from several threads cover every outstanding command, not only the last.
TEST_P(Ordering, BlockedCommandHoldsBackItsDependentsUntilEveryWaiterWakes) {
  int* ran = mem_;
  *ran = 0;
  gate g;
  sycl::event after;
  {
    sycl::queue local{q_.get_device()};
    after = q_.single_task(g.block(local), [=] { *ran = 1; });
  }
  q_.single_task([] {}).wait();
  std::atomic<int> woke{0};
  std::vector<std::thread> waiters;
  for (int t = 0; t < 6; ++t) {
    waiters.emplace_back([&, t] {
      t % 2 ? sycl::event(after).wait() : q_.wait();
      woke += *ran;
    });
  }
  pause_briefly();
  EXPECT_EQ(status_of(after), status::submitted);
  g.open();
  for (auto& w : waiters) w.join();
  EXPECT_EQ(woke, 6);
}

// A thread that waits may run a ready command itself. The command it runs may block on another ready
// command, submitted before or after it, or wait for one from inside: that one must still run elsewhere.
TEST_P(Ordering, CommandRunByItsWaiterDoesNotStarveTheOnesItBlocksOn) {
  for (int waiter = 0; waiter < 4; ++waiter) {
    auto opened = std::make_shared<std::atomic<bool>>(false);
    auto spin = [opened] { while (!*opened) std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
    auto open = [opened] { *opened = true; };
    sycl::event opener_before, opener_after;
    if (waiter == 3) opener_before = q_.submit([&](sycl::handler& h) { h.host_task([=] { pause_briefly(); open(); }); });
    const sycl::event blocked = q_.submit([&](sycl::handler& h) { h.host_task(spin); });
    if (waiter != 3) opener_after = q_.submit([&](sycl::handler& h) { h.host_task(open); });
    const sycl::event nested = q_.submit([&](sycl::handler& h) {
      h.host_task([blocked] { sycl::event(blocked).wait(); });
    });
    if (waiter == 0) sycl::event(blocked).wait();
    if (waiter == 1) q_.wait();
    if (waiter >= 2) sycl::event::wait({nested, blocked});
    EXPECT_TRUE(*opened) << "waiter " << waiter;
    q_.wait();
    EXPECT_EQ(status_of(nested), status::complete);
  }
}

INSTANTIATE_TEST_SUITE_P(AllDevices, Ordering, testing::ValuesIn(root_types), type_label);

// Threads share one queue, each running its own chain v <- 3v + k (or v <- 1000 + k) of mixed commands,
// ordered by depends_on or by the in-order queue; meanwhile they raise errors and allocate USM.
class SharedQueue : public testing::TestWithParam<bool> {};

TEST_P(SharedQueue, ManyThreadsSubmitOrderedChainsErrorsAndAllocations) {
  constexpr int thread_count = 8, steps = 48;
  const bool in_order = GetParam();
  error_sink sink;
  const auto props = in_order ? sycl::property_list{sycl::property::queue::in_order{}} : sycl::property_list{};
  sycl::queue q{sink.handler(), props};
  int* v = sycl::malloc_shared<int>(thread_count, q);
  std::fill_n(v, thread_count, 1);
  strings expected_errors;  // in sorted order
  std::vector<std::thread> threads;
  for (int t = 0; t < thread_count; ++t) {
    threads.emplace_back([&, t, mine = v + t] {
      sycl::event previous;
      for (int k = 0; k < steps; ++k) {
        auto step = [=] { *mine = (3 * *mine + k) % 10007; };
        previous = q.submit([&](sycl::handler& h) {
          if (!in_order) h.depends_on(previous);
          if (k % 4 == 0) h.single_task(step);
          if (k % 4 == 1) h.parallel_for(1, [=](sycl::item<1>) { step(); });
          if (k % 4 == 2) h.fill(mine, 1000 + k, 1);
          if (k % 4 == 3)
            h.host_task([=] {
              std::this_thread::sleep_for(std::chrono::milliseconds(1));
              step();
            });
        });
        submit_throwing(q, std::to_string(10000 + 100 * t + k));  // outside the chain, to run concurrently
        if (k % 10 == 9) q.wait_and_throw();
        void* blocks[16];
        for (void*& b : blocks) b = sycl::malloc_host(1 + k, q);
        for (void* b : blocks) EXPECT_EQ(sycl::get_pointer_type(b, q.get_context()), sycl::usm::alloc::host);
        for (void* b : blocks) sycl::free(b, q);
      }
    });
    for (int k = 0; k < steps; ++k) expected_errors.push_back(std::to_string(10000 + 100 * t + k));
  }
  for (auto& th : threads) th.join();
  q.wait_and_throw();
  int expected = 1;
  for (int k = 0; k < steps; ++k) expected = k % 4 == 2 ? 1000 + k : (3 * expected + k) % 10007;
  EXPECT_EQ(std::count(v, v + thread_count, expected), thread_count);
  EXPECT_EQ(sorted(sink.messages()), expected_errors);
  sycl::free(v, q);
}

INSTANTIATE_TEST_SUITE_P(OutOfOrderAndInOrder, SharedQueue, testing::Bool());

}  // namespace
