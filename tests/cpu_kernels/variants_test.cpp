// The kernel library's fast paths (instruction-set variant, 32-bit cells,
// spans known at compile time, sorted-site runs, transposed evaluation)
// give bit for bit what its plain loops give: 64-bit cells, bisection,
// general evaluation, compiled here for the baseline instruction set.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "cell_search.hpp"
#include "detail/cpu_impl/df_frontend.hpp"
#include "evaluate.hpp"
#include "locate.hpp"

namespace df = velora::qrx::experimental::data_fitting::detail;

namespace {

template <typename T>
class KernelVariants : public ::testing::Test {};
using precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(KernelVariants, precisions);

template <typename T, qrx_df::site_kind S>
void plain_interpolation(const qrx_df::site_source<T>& src, bool uniform, std::int64_t n, const T* coef,
                         unsigned mask, T* out) {
  std::vector<std::int64_t> cell(static_cast<std::size_t>(n));
  std::vector<T> t(static_cast<std::size_t>(n));
  if (uniform) {
    qrx_df::locate<T, std::int64_t, qrx_df::partition_kind::uniform, -1, S, false>(src, 0, n, cell.data(), t.data());
  } else {
    qrx_df::locate<T, std::int64_t, qrx_df::partition_kind::listed, -1, S, false>(src, 0, n, cell.data(), t.data());
  }
  qrx_df::evaluate_block<T, std::int64_t, 4, 0, 0>(coef, cell.data(), t.data(), n, out, 4, 1, mask);
}

TYPED_TEST(KernelVariants, FastPathsEqualThePlainLoops) {
  using T = TypeParam;
  const std::int64_t nx = 700;
  const std::int64_t n = 5000;
  std::mt19937 rng(9);
  std::uniform_real_distribution<T> unit(0, 1);
  std::vector<T> x(nx);
  for (auto& v : x) v = unit(rng);
  std::sort(x.begin(), x.end());
  std::vector<T> coef(static_cast<std::size_t>((nx - 1) * 4));
  for (auto& c : coef) c = unit(rng) - T(0.5);
  std::vector<T> sites(n);
  for (auto& s : sites) s = T(1.4) * unit(rng) - T(0.2);
  std::copy(x.begin(), x.end(), sites.begin() + 10);
  std::vector<T> sorted = sites;
  std::sort(sorted.begin(), sorted.end());
  const T ends[2] = {x.front(), x.back()};

  for (bool uniform : {false, true}) {
    // A task from coefficients alone, as for a spline made from computed ones.
    df::task_record* task = nullptr;
    ASSERT_EQ(df::df_new_task_1d<T>(&task, nx, uniform ? const_cast<T*>(ends) : x.data(), uniform ? 4 : 1, 0,
                                    nullptr, 16),
              0);
    ASSERT_EQ(df::df_edit_val(task, 16, 1), 0);
    ASSERT_EQ(df::df_edit_pp_spline_1d<T>(task, 4, 3, 0, nullptr, 0, nullptr, coef.data(), 16), 0);
    qrx_df::search_table<T>* table = uniform ? nullptr : qrx_df::make_search_table(x.data(), nx);
    qrx_df::site_source<T> src;
    src.nx = nx;
    src.uniform = qrx_df::uniform_partition<T>(ends[0], ends[1], nx);
    src.table = table;
    for (std::int64_t hint : {1, 64, 4}) {
      const std::vector<T>& s = hint == 64 ? sorted : sites;
      src.sites = s.data();
      src.first_site = s[0];
      src.site_step = (s[1] - s[0]) / static_cast<T>(n - 1);
      for (unsigned mask : {1U, 15U}) {
        SCOPED_TRACE(::testing::Message() << "uniform " << uniform << " hint " << hint << " mask " << mask);
        const std::int64_t k = mask == 1U ? 1 : 4;
        std::vector<T> fast(static_cast<std::size_t>(n * k));
        std::vector<T> plain(static_cast<std::size_t>(n * 4));
        std::int64_t orders[4] = {1, 1, 1, 1};
        ASSERT_EQ(df::df_interpolate_1d<T>(task, 1, 1, n, const_cast<T*>(s.data()), hint, k, orders, 0, fast.data(),
                                           16, nullptr),
                  0);
        if (hint == 4) {
          plain_interpolation<T, qrx_df::site_kind::uniform>(src, uniform, n, coef.data(), mask, plain.data());
        } else {
          plain_interpolation<T, qrx_df::site_kind::listed>(src, uniform, n, coef.data(), mask, plain.data());
        }
        for (std::int64_t i = 0; i < n * k; ++i) ASSERT_EQ(fast[i], plain[(i / k) * 4 + i % k]) << i;
      }
    }
    qrx_df::free_search_table(table);
    df::df_delete_task(&task);
  }
}

}  // namespace
