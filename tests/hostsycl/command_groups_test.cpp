// Command-group rules, kernel argument forms and transfer commands.

#include <algorithm>
#include <array>
#include <atomic>
#include <iterator>
#include <new>
#include <numeric>
#include <tuple>
#include <vector>

#include "test_support.hpp"

namespace {

using namespace hostsycl_test;
using buffer = std::array<int, 4>;

// Each kind enqueues one command on a buffer that starts as {0, 0, 7, 0}.
struct command_kind {
  const char* name;
  void (*enqueue)(sycl::handler&, int*);
  buffer after;
};
const command_kind kinds[] = {
    {"single_task", [](sycl::handler& h, int* p) { h.single_task([=] { p[0] = 1; }); }, {1, 0, 7, 0}},
    {"parallel_for",
     [](sycl::handler& h, int* p) { h.parallel_for(sycl::range<1>(2), [=](sycl::item<1> i) { p[i] = 1 + int(i); }); },
     {1, 2, 7, 0}},
    {"host_task", [](sycl::handler& h, int* p) { h.host_task([=] { p[3] = 4; }); }, {0, 0, 7, 4}},
    {"memcpy", [](sycl::handler& h, int* p) { h.memcpy(p, p + 2, sizeof(int)); }, {7, 0, 7, 0}},
    {"copy", [](sycl::handler& h, int* p) { h.copy<int>(p + 2, p + 1, 1); }, {0, 7, 7, 0}},
    {"memset", [](sycl::handler& h, int* p) { h.memset(p, 0xFF, sizeof(int)); }, {-1, 0, 7, 0}},
    {"fill", [](sycl::handler& h, int* p) { h.fill(p, 5, 2); }, {5, 5, 7, 0}},
};

class TwoCommands : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(TwoCommands, AreRefusedAndTheQueueStaysUsable) {
  const auto& [first, second] = std::tie(kinds[std::get<0>(GetParam())], kinds[std::get<1>(GetParam())]);
  sycl::queue q;
  int* p = sycl::malloc_shared<int>(4, q);
  EXPECT_EQ(thrown_code([&] {
              q.submit([&](sycl::handler& h) {
                first.enqueue(h, p);
                second.enqueue(h, p);
              });
            }),
            invalid);
  q.wait();
  // One command alone does exactly its own work.
  std::copy_n(buffer{0, 0, 7, 0}.begin(), 4, p);
  q.submit([&](sycl::handler& h) { second.enqueue(h, p); }).wait();
  EXPECT_EQ((buffer{p[0], p[1], p[2], p[3]}), second.after) << second.name;
  sycl::free(p, q);
}

INSTANTIATE_TEST_SUITE_P(AllPairs, TwoCommands,
                         testing::Combine(testing::Range(0, int(std::size(kinds))), testing::Range(0, int(std::size(kinds)))),
                         [](const testing::TestParamInfo<std::tuple<int, int>>& info) {
                           return std::string(kinds[std::get<0>(info.param)].name) + "_then_" +
                                  kinds[std::get<1>(info.param)].name;
                         });

TEST(CommandGroupFunction, RunsOnceOnTheCallerAndItsExceptionsReachIt) {
  sycl::queue q;
  int calls = 0;
  std::thread::id caller;
  auto empty = q.submit([&](sycl::handler&) {
    ++calls;
    caller = std::this_thread::get_id();
  });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(caller, std::this_thread::get_id());
  empty.wait();  // enqueuing nothing is legal
  EXPECT_EQ(status_of(empty), status::complete);

  struct marker {};
  EXPECT_THROW(q.submit([](sycl::handler&) { throw marker{}; }), marker);
  EXPECT_EQ(thrown_code([&] { q.submit([](sycl::handler&) { throw sycl::exception(invalid, "cg"); }); }), invalid);
}

// Kernel parameter forms; each kernel writes out[i] = i + 1.
struct item_form {
  static auto kernel(std::size_t* out, std::size_t n) {
    return [=](sycl::item<1> it) {
      const std::size_t i = it.get_id(0);
      const sycl::id<1> as_id = it;
      const bool consistent = it.get_linear_id() == i && it[0] == i && it.get_id()[0] == i && as_id[0] == i &&
                              static_cast<std::size_t>(it) == i && it.get_range() == sycl::range<1>(n);
      out[i] = consistent ? i + 1 : 0;
    };
  }
};
struct id_form {
  static auto kernel(std::size_t* out, std::size_t) { return [=](sycl::id<1> i) { out[i] = i[0] + 1; }; }
};
struct size_t_form {
  static auto kernel(std::size_t* out, std::size_t) { return [=](std::size_t i) { out[i] = i + 1; }; }
};
struct generic_form {
  static auto kernel(std::size_t* out, std::size_t) { return [=](auto it) { out[it[0]] = it[0] + 1; }; }
};

template <class Form>
class KernelForm : public testing::Test {};
using forms = testing::Types<item_form, id_form, size_t_form, generic_form>;
TYPED_TEST_SUITE(KernelForm, forms);

TYPED_TEST(KernelForm, CoversEveryIndexOnceForEveryRangeSpellingAndDevice) {
  for (auto type : root_types) {
    sycl::queue q{device_of(type)};
    for (std::size_t n : {0, 1, 1037}) {
      SCOPED_TRACE(testing::Message() << type_label({type, 0}) << ", n = " << n);
      auto* out = sycl::malloc_shared<std::size_t>(n + 1, q);
      std::vector<std::size_t> expected(n + 1, 0);  // one past the range stays untouched
      std::iota(expected.begin(), expected.end() - 1, std::size_t{1});
      const auto kernel = TypeParam::kernel(out, n);
      for (int spelling = 0; spelling < 3; ++spelling) {
        std::fill_n(out, n + 1, 0);
        if (spelling == 0) q.parallel_for(n, kernel).wait();
        if (spelling == 1) q.parallel_for({n}, kernel).wait();
        if (spelling == 2) q.submit([&](sycl::handler& h) { h.parallel_for(sycl::range<1>(n), kernel); }).wait();
        EXPECT_EQ(std::vector<std::size_t>(out, out + n + 1), expected) << "spelling " << spelling;
      }
      sycl::free(out, q);
    }
  }
}

TEST(Kernels, LargeRangeVisitsEachIndexExactlyOnce) {
  constexpr std::size_t n = 200003;
  sycl::queue q;
  auto* hits = sycl::malloc_shared<std::atomic<int>>(n, q);
  for (std::size_t i = 0; i < n; ++i) new (hits + i) std::atomic<int>(0);
  q.parallel_for<class count_hits>(n, [=](sycl::item<1> it) { hits[it].fetch_add(1); }).wait();
  EXPECT_EQ(std::count_if(hits, hits + n, [](const std::atomic<int>& h) { return h.load() != 1; }), 0);
  sycl::free(hits, q);
}

TEST(HostTasks, RunWithOrWithoutAnInteropHandle) {
  sycl::queue q;
  int* p = sycl::malloc_shared<int>(2, q);
  q.submit([&](sycl::handler& h) { h.host_task([=](sycl::interop_handle) { p[0] = 1; }); });
  q.submit([&](sycl::handler& h) { h.host_task([=] { p[1] = 2; }); });
  q.wait();
  EXPECT_EQ(p[0] + p[1], 3);
  sycl::free(p, q);
}

}  // namespace
