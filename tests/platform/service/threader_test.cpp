// The service library's threader entry points: coverage and ordering.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "qrx_lumo_thread/threader.h"

namespace {

// Counts the calls per index and records the ranges that the ordered
// callbacks see, in the order they see them.
struct coverage {
  std::int64_t grain;
  std::vector<std::atomic<int>> hits;
  std::atomic<bool> bad_range{false};
  std::mutex mutex;
  std::vector<std::pair<std::int64_t, std::int64_t>> ordered;

  coverage(std::int64_t n, std::int64_t g) : grain(g), hits(static_cast<std::size_t>(n)) {}

  static void body(void* self, std::int64_t begin, std::int64_t end) {
    auto* c = static_cast<coverage*>(self);
    if (end - begin > c->grain || end <= begin) c->bad_range = true;
    for (std::int64_t i = begin; i < end; ++i) c->hits[static_cast<std::size_t>(i)]++;
  }
  // Also checks that the range's body calls have all happened.
  static void in_order(void* self, std::int64_t begin, std::int64_t end) {
    auto* c = static_cast<coverage*>(self);
    for (std::int64_t i = begin; i < end; ++i) c->bad_range = c->bad_range || c->hits[static_cast<std::size_t>(i)] != 1;
    const std::lock_guard<std::mutex> lock(c->mutex);
    c->ordered.emplace_back(begin, end);
  }
  static void both(void* self, std::int64_t begin, std::int64_t end) {
    body(self, begin, end);
    in_order(self, begin, end);
  }
  static void section(void* self, std::int64_t i) { static_cast<coverage*>(self)->hits[static_cast<std::size_t>(i)]++; }

  bool each_index_once() const {
    for (const auto& h : hits) {
      if (h != 1) return false;
    }
    return !bad_range;
  }
  // The ordered ranges tile [0, n) in ascending order.
  bool ordered_ascending() const {
    std::int64_t next = 0;
    for (const auto& [b, e] : ordered) next = b == next ? e : -1;
    return next == static_cast<std::int64_t>(hits.size());
  }
};

class ThreaderTest : public ::testing::TestWithParam<std::pair<std::int64_t, std::int64_t>> {};

TEST_P(ThreaderTest, EveryIndexOnceAndOrderedVariantsInOrder) {
  const auto [n, grain] = GetParam();
  coverage plain(n, grain);
  ASSERT_EQ(qrx_df_serv_threader_for(n, grain, &plain, &coverage::body), QRX_SERV_THREADER_OK);
  EXPECT_TRUE(plain.each_index_once());

  coverage committed(n, grain);
  ASSERT_EQ(qrx_df_serv_threader_for_ordered(n, grain, &committed, &coverage::body, &coverage::in_order),
            QRX_SERV_THREADER_OK);
  EXPECT_TRUE(committed.each_index_once());
  EXPECT_TRUE(committed.ordered_ascending());

  coverage serial(n, grain);
  ASSERT_EQ(qrx_df_serv_threader_ordered(n, grain, &serial, &coverage::both), QRX_SERV_THREADER_OK);
  EXPECT_TRUE(serial.each_index_once());
  EXPECT_TRUE(serial.ordered_ascending());

  coverage sections(n, grain);
  ASSERT_EQ(qrx_df_serv_threader_sections(n, &sections, &coverage::section), QRX_SERV_THREADER_OK);
  EXPECT_TRUE(sections.each_index_once());
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
