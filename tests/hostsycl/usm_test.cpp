// USM: every allocation entry point of every kind, the registry behind
// get_pointer_type, and what free refuses.

#include <cstdint>
#include <limits>
#include <memory>
#include <tuple>
#include <vector>

#include "test_support.hpp"

namespace {

using namespace hostsycl_test;
using sycl::usm::alloc;
using u32 = std::uint32_t;

constexpr std::size_t huge = std::numeric_limits<std::size_t>::max();
const alloc kinds[] = {alloc::host, alloc::device, alloc::shared};
const char* const form_names[] = {"bytes_queue", "bytes_context", "typed", "aligned", "aligned_typed"};
enum form { bytes_queue, bytes_context, typed, aligned, aligned_typed };

// Allocates `bytes` (typed forms: bytes / 4 elements of u32) through one entry point.
void* allocate(alloc kind, int f, std::size_t bytes, const sycl::queue& q, std::size_t alignment = 64) {
  const auto ctx = q.get_context();
  const auto dev = q.get_device();
  const std::size_t count = bytes / sizeof(u32);
  switch (kind) {
    case alloc::host:
      return f == bytes_queue     ? sycl::malloc_host(bytes, q)
             : f == bytes_context ? sycl::malloc_host(bytes, ctx)
             : f == typed         ? sycl::malloc_host<u32>(count, q)
             : f == aligned       ? sycl::aligned_alloc_host(alignment, bytes, q)
                                  : sycl::aligned_alloc_host<u32>(alignment, count, q);
    case alloc::device:
      return f == bytes_queue     ? sycl::malloc_device(bytes, q)
             : f == bytes_context ? sycl::malloc_device(bytes, dev, ctx)
             : f == typed         ? sycl::malloc_device<u32>(count, q)
             : f == aligned       ? sycl::aligned_alloc_device(alignment, bytes, q)
                                  : sycl::aligned_alloc_device<u32>(alignment, count, q);
    default:
      return f == bytes_queue     ? sycl::malloc_shared(bytes, q)
             : f == bytes_context ? sycl::malloc_shared(bytes, dev, ctx)
             : f == typed         ? sycl::malloc_shared<u32>(count, q)
             : f == aligned       ? sycl::aligned_alloc_shared(alignment, bytes, q)
                                  : sycl::aligned_alloc_shared<u32>(alignment, count, q);
  }
}

class Allocation : public testing::TestWithParam<std::tuple<alloc, int>> {
 protected:
  alloc kind() const { return std::get<0>(GetParam()); }
  void* allocate(std::size_t bytes, std::size_t alignment = 64) {
    return ::allocate(kind(), std::get<1>(GetParam()), bytes, q_, alignment);
  }
  sycl::queue q_;
  sycl::context ctx_ = q_.get_context();
};

TEST_P(Allocation, IsUsableAndClassifiedUntilFreed) {
  constexpr std::size_t bytes = 4096, count = bytes / sizeof(u32);
  auto* p = static_cast<u32*>(allocate(bytes));
  ASSERT_NE(p, nullptr);
  const auto* first = reinterpret_cast<const unsigned char*>(p);
  for (const unsigned char* inside : {first, first + 1, first + bytes / 2, first + bytes - 1})
    EXPECT_EQ(sycl::get_pointer_type(inside, ctx_), kind());

  q_.parallel_for(count, [=](sycl::item<1> i) { p[i] = static_cast<u32>(i * 2654435761u); }).wait();
  std::vector<u32> back(count), expected(count);
  q_.memcpy(back.data(), p, bytes).wait();
  for (std::size_t i = 0; i < count; ++i) expected[i] = static_cast<u32>(i * 2654435761u);
  EXPECT_EQ(back, expected);

  sycl::free(p, ctx_);
  EXPECT_EQ(sycl::get_pointer_type(p, ctx_), alloc::unknown);
  EXPECT_EQ(thrown_code([&] { sycl::free(p, ctx_); }), invalid) << "double free";
}

TEST_P(Allocation, ZeroImpossibleAndWrappingSizesGiveNull) {
  EXPECT_EQ(allocate(0), nullptr);
  EXPECT_EQ(allocate(huge), nullptr);
  EXPECT_EQ(allocate(huge / 2), nullptr);
  if (std::get<1>(GetParam()) == typed) {
    // An element count whose byte size wraps around to a small number.
    const std::size_t count = huge / sizeof(double) + 2;
    EXPECT_EQ(kind() == alloc::host     ? sycl::malloc_host<double>(count, q_)
              : kind() == alloc::device ? sycl::malloc_device<double>(count, q_)
                                        : sycl::malloc_shared<double>(count, q_),
              nullptr);
  }
}

TEST_P(Allocation, PowerOfTwoAlignmentsAreHonouredOthersRefused) {
  const int f = std::get<1>(GetParam());
  if (f != aligned && f != aligned_typed) GTEST_SKIP() << "no alignment argument";
  for (std::size_t alignment = 1; alignment <= 8192; alignment *= 2) {
    void* p = allocate(24, alignment);
    ASSERT_NE(p, nullptr) << "alignment " << alignment;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignment, 0u) << "alignment " << alignment;
    sycl::free(p, q_);
  }
  for (std::size_t alignment : {3, 12, 24, 100, 4095, 4097}) EXPECT_EQ(allocate(64, alignment), nullptr) << alignment;
}

INSTANTIATE_TEST_SUITE_P(EveryEntryPoint, Allocation, testing::Combine(testing::ValuesIn(kinds), testing::Range(0, 5)),
                         [](const testing::TestParamInfo<std::tuple<alloc, int>>& info) {
                           const alloc k = std::get<0>(info.param);
                           return std::string(k == alloc::host ? "host" : k == alloc::device ? "device" : "shared") +
                                  "_" + form_names[std::get<1>(info.param)];
                         });

TEST(Free, RefusesWhatItDidNotAllocate) {
  sycl::queue q;
  const auto ctx = q.get_context();
  int on_stack = 0;
  auto on_heap = std::make_unique<int>(0);
  EXPECT_EQ(thrown_code([&] { sycl::free(&on_stack, ctx); }), invalid);
  EXPECT_EQ(thrown_code([&] { sycl::free(on_heap.get(), q); }), invalid);
  EXPECT_EQ(sycl::get_pointer_type(&on_stack, ctx), alloc::unknown);
  EXPECT_EQ(sycl::get_pointer_type(on_heap.get(), ctx), alloc::unknown);
  EXPECT_EQ(sycl::get_pointer_type(nullptr, ctx), alloc::unknown);
  EXPECT_NO_THROW(sycl::free(nullptr, ctx));
  EXPECT_NO_THROW(sycl::free(nullptr, q));

  // An interior pointer is not an allocation: refused, and the block survives.
  auto* block = static_cast<char*>(sycl::malloc_device(128, q));
  EXPECT_EQ(thrown_code([&] { sycl::free(block + 8, ctx); }), invalid);
  EXPECT_EQ(sycl::get_pointer_type(block, ctx), alloc::device);
  sycl::free(block, q);
}

TEST(Free, ForeignContextNeitherSeesNorFrees) {
  sycl::queue q;
  const sycl::context foreign{q.get_device()};
  sycl::queue foreign_queue{foreign, q.get_device()};
  void* p = sycl::malloc_host(64, q);
  EXPECT_EQ(sycl::get_pointer_type(p, foreign), alloc::unknown);
  EXPECT_EQ(thrown_code([&] { sycl::free(p, foreign); }), invalid);
  EXPECT_EQ(thrown_code([&] { sycl::free(p, foreign_queue); }), invalid);
  EXPECT_EQ(sycl::get_pointer_type(p, q.get_context()), alloc::host) << "a refused free leaves the block alive";

  // The owning context may be reached through any queue that shares it.
  sycl::free(p, sycl::queue{sycl::cpu_selector_v});
  EXPECT_EQ(sycl::get_pointer_type(p, q.get_context()), alloc::unknown);

  void* own = sycl::malloc_shared(32, foreign_queue);
  EXPECT_EQ(sycl::get_pointer_type(own, foreign), alloc::shared);
  EXPECT_EQ(sycl::get_pointer_type(own, q.get_context()), alloc::unknown);
  sycl::free(own, foreign);
}

TEST(Free, ThroughAQueueDoesNotWaitForItsCommands) {
  sycl::queue q;
  gate g;
  void* p = sycl::malloc_shared(64, q);
  auto blocked = submit_blocked(q, g);
  sycl::free(p, q);  // would never return if it waited for the blocked command
  EXPECT_NE(status_of(blocked), status::complete);
}

}  // namespace
