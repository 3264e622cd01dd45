// The service library's threader entry points: coverage and ordering.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "qrx_lumo_thread/threader.h"

namespace {

struct coverage {
  std::int64_t grain = 1;
  std::vector<std::atomic<int>> hits;
  std::atomic<bool> range_too_long{false};
  std::mutex mutex;
  std::vector<std::pair<std::int64_t, std::int64_t>> ordered;  // ranges seen by the ordered callback
  std::atomic<bool> ordered_before_body{false};

  explicit coverage(std::int64_t n, std::int64_t g) : grain(g), hits(static_cast<std::size_t>(n)) {}

  static void body(void* self, std::int64_t begin, std::int64_t end) {
    auto* c = static_cast<coverage*>(self);
    if (end - begin > c->grain || end <= begin) c->range_too_long = true;
    for (std::int64_t i = begin; i < end; ++i) c->hits[static_cast<std::size_t>(i)].fetch_add(1);
  }
  static void in_order(void* self, std::int64_t begin, std::int64_t end) {
    auto* c = static_cast<coverage*>(self);
    for (std::int64_t i = begin; i < end; ++i) {
      if (c->hits[static_cast<std::size_t>(i)].load() != 1) c->ordered_before_body = true;
    }
    const std::lock_guard<std::mutex> lock(c->mutex);
    c->ordered.emplace_back(begin, end);
  }
  static void section(void* self, std::int64_t i) { static_cast<coverage*>(self)->hits[static_cast<std::size_t>(i)]++; }

  bool each_index_once() const {
    for (const auto& h : hits) {
      if (h.load() != 1) return false;
    }
    return true;
  }
  // The ordered ranges tile [0, n) in ascending order.
  bool ordered_ascending() const {
    std::int64_t next = 0;
    for (const auto& [b, e] : ordered) {
      if (b != next || e <= b) return false;
      next = e;
    }
    return next == static_cast<std::int64_t>(hits.size());
  }
};

class ThreaderTest : public ::testing::TestWithParam<std::pair<std::int64_t, std::int64_t>> {};

TEST_P(ThreaderTest, ForCoversEveryIndexOnceInRangesOfAtMostGrain) {
  const auto [n, grain] = GetParam();
  coverage c(n, grain);
  ASSERT_EQ(qrx_df_serv_threader_for(n, grain, &c, &coverage::body), QRX_SERV_THREADER_OK);
  EXPECT_TRUE(c.each_index_once());
  EXPECT_FALSE(c.range_too_long);
}

TEST_P(ThreaderTest, ForOrderedCommitsRangesInAscendingOrderAfterTheirBodies) {
  const auto [n, grain] = GetParam();
  coverage c(n, grain);
  ASSERT_EQ(qrx_df_serv_threader_for_ordered(n, grain, &c, &coverage::body, &coverage::in_order),
            QRX_SERV_THREADER_OK);
  EXPECT_TRUE(c.each_index_once());
  EXPECT_FALSE(c.range_too_long);
  EXPECT_TRUE(c.ordered_ascending());
  EXPECT_FALSE(c.ordered_before_body);
}

TEST_P(ThreaderTest, OrderedRunsRangesOneAfterAnotherInAscendingOrder) {
  const auto [n, grain] = GetParam();
  coverage c(n, grain);
  auto both = [](void* self, std::int64_t b, std::int64_t e) {
    coverage::body(self, b, e);
    coverage::in_order(self, b, e);
  };
  ASSERT_EQ(qrx_df_serv_threader_ordered(n, grain, &c, both), QRX_SERV_THREADER_OK);
  EXPECT_TRUE(c.each_index_once());
  EXPECT_TRUE(c.ordered_ascending());
}

TEST_P(ThreaderTest, SectionsRunEachSectionOnce) {
  const auto [n, grain] = GetParam();
  coverage c(n, grain);
  ASSERT_EQ(qrx_df_serv_threader_sections(n, &c, &coverage::section), QRX_SERV_THREADER_OK);
  EXPECT_TRUE(c.each_index_once());
}

INSTANTIATE_TEST_SUITE_P(Sizes, ThreaderTest,
                         ::testing::Values(std::pair<std::int64_t, std::int64_t>{0, 1},
                                           std::pair<std::int64_t, std::int64_t>{1, 1},
                                           std::pair<std::int64_t, std::int64_t>{1000, 7},
                                           std::pair<std::int64_t, std::int64_t>{100003, 1024}));

TEST(Threader, RefusesInvalidLoopsAndReportsAThreadLimit) {
  coverage c(4, 1);
  EXPECT_EQ(qrx_df_serv_threader_for(-1, 1, &c, &coverage::body), QRX_SERV_THREADER_FAILED);
  EXPECT_EQ(qrx_df_serv_threader_for(4, 0, &c, &coverage::body), QRX_SERV_THREADER_FAILED);
  EXPECT_EQ(qrx_df_serv_threader_for(4, 1, &c, nullptr), QRX_SERV_THREADER_FAILED);
  EXPECT_EQ(qrx_df_serv_threader_for_ordered(4, 1, &c, &coverage::body, nullptr), QRX_SERV_THREADER_FAILED);
  EXPECT_EQ(qrx_df_serv_threader_sections(4, &c, nullptr), QRX_SERV_THREADER_FAILED);
  EXPECT_EQ(qrx_df_serv_threader_ordered(4, 0, &c, &coverage::body), QRX_SERV_THREADER_FAILED);
  EXPECT_GE(qrx_df_serv_threader_get_num_threads_limit(), 1);
}

}  // namespace
