// Every instruction-set variant of the kernel library's interpolation that
// this processor runs (with its fast paths: 32-bit cells, spans known at
// compile time, sorted-site runs, hand-vectorised evaluation and stores)
// gives bit for bit what the plain loops give: 64-bit cells, bisection,
// general evaluation, compiled here for the baseline instruction set. Both
// spline orders, every site kind, several order sets and every result
// layout, for one function and for several (the blocked many-function
// tiles included, with blocks and chunks that end inside the call); NaN
// sites give NaN in every order.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <cstdint>
#include <random>
#include <vector>

#include "qrx_df/cell_search.hpp"
#include "detail/cpu_impl/threader_blocks.hpp"
#include "qrx_df/evaluate.hpp"
#include "qrx_df/interpolate_on.hpp"
#include "qrx_df/locate.hpp"
#include "qrx_df/partition_check.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace {

template <typename T>
class KernelVariants : public ::testing::Test {};
using precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(KernelVariants, precisions);

std::int32_t new_task(qrx_df_task** task, std::int64_t nx, const float* x, std::int64_t hint) {
  return qrx_df_kernel_sNewTask1D(task, nx, x, hint, 0, nullptr, QRX_DF_FUNCTIONS_ROW_MAJOR, 1);
}
std::int32_t new_task(qrx_df_task** task, std::int64_t nx, const double* x, std::int64_t hint) {
  return qrx_df_kernel_dNewTask1D(task, nx, x, hint, 0, nullptr, QRX_DF_FUNCTIONS_ROW_MAJOR, 1);
}
std::int32_t set_coefficients(qrx_df_task* task, std::int64_t order, float* coef) {
  return qrx_df_kernel_sEditPPSpline1D(task, order, 0, 0, nullptr, 0, nullptr, coef, QRX_DF_COEFFS_ROW_MAJOR);
}
std::int32_t set_coefficients(qrx_df_task* task, std::int64_t order, double* coef) {
  return qrx_df_kernel_dEditPPSpline1D(task, order, 0, 0, nullptr, 0, nullptr, coef, QRX_DF_COEFFS_ROW_MAJOR);
}

// Slot of (function f, site s, order d) in a result layout with k orders.
std::int64_t slot(std::int64_t layout, std::int64_t ny, std::int64_t n, std::int64_t k, std::int64_t f,
                  std::int64_t s, std::int64_t d) {
  switch (layout) {
    case QRX_DF_RESULTS_FUNCS_SITES_DERS:
      return (f * n + s) * k + d;
    case QRX_DF_RESULTS_FUNCS_DERS_SITES:
      return (f * k + d) * n + s;
    case QRX_DF_RESULTS_SITES_FUNCS_DERS:
      return (s * ny + f) * k + d;
    default:
      return (s * k + d) * ny + f;
  }
}

// Cells, offsets and search indices of the plain search.
template <typename T>
struct plain_search {
  std::vector<std::int64_t> cell, index;
  std::vector<T> t;
};

template <typename T, qrx_df::site_kind S>
plain_search<T> search_plainly(qrx_df::site_source<T> src, bool uniform, std::int64_t n) {
  plain_search<T> r{std::vector<std::int64_t>(n), std::vector<std::int64_t>(n), std::vector<T>(n)};
  src.cells_out = r.index.data();
  if (uniform) {
    qrx_df::locate<T, std::int64_t, qrx_df::partition_kind::uniform, -1, S, false>(src, 0, n, r.cell.data(),
                                                                                   r.t.data());
  } else {
    qrx_df::locate<T, std::int64_t, qrx_df::partition_kind::listed, -1, S, false>(src, 0, n, r.cell.data(),
                                                                                  r.t.data());
  }
  return r;
}

TYPED_TEST(KernelVariants, EveryVariantEqualsThePlainLoops) {
  using T = TypeParam;
  const std::int64_t nx = 700;
  const std::int64_t n = 5003;  // not a multiple of any vector width
  std::mt19937 rng(9);
  std::uniform_real_distribution<T> unit(0, 1);
  std::vector<T> x(nx);
  for (auto& v : x) v = unit(rng);
  std::sort(x.begin(), x.end());
  const T ends[2] = {x.front(), x.back()};
  const qrx_df::uniform_partition<T> even(ends[0], ends[1], nx);
  std::vector<T> random_sites(n);
  for (auto& s : random_sites) s = T(1.4) * unit(rng) - T(0.2);  // some outside the partition

  // Every variant, with results kept in the caches and streamed past them;
  // many functions also in small tiles, so that blocks of sites end inside
  // the call and chunks of functions inside the function range.
  std::vector<qrx_df::run_options> runs;
  for (qrx_df::isa v : {qrx_df::isa::baseline, qrx_df::isa::avx2, qrx_df::isa::avx512}) {
    if (!qrx_df::isa_supported(v)) continue;
    const std::int64_t never = std::numeric_limits<std::int64_t>::max();
    runs.push_back({v, never});
    runs.push_back({v, 0, 8192, std::int64_t{256} << 10, 0});
    runs.push_back({v, 0, 1000, 3000, never});
    runs.push_back({v, 0, 1000, 3000, 0});
  }
  const std::int64_t layouts[] = {QRX_DF_RESULTS_FUNCS_SITES_DERS, QRX_DF_RESULTS_FUNCS_DERS_SITES,
                                  QRX_DF_RESULTS_SITES_FUNCS_DERS, QRX_DF_RESULTS_SITES_DERS_FUNCS};
  const T unwritten = T(-12345);

  for (std::int64_t order : {QRX_DF_ORDER_LINEAR, QRX_DF_ORDER_CUBIC}) {
    // Values only, every order, and one set of orders chosen at run time.
    const std::vector<std::vector<std::int64_t>> order_sets =
        order == QRX_DF_ORDER_LINEAR
            ? std::vector<std::vector<std::int64_t>>{{1}, {1, 1}, {0, 1}}
            : std::vector<std::vector<std::int64_t>>{{1}, {1, 1}, {1, 1, 1}, {1, 1, 1, 1}, {0, 1, 0, 1}};
    for (bool uniform : {false, true}) {
      // Every breakpoint, and for the uniform partition its neighbours, where
      // the quotient's rounding puts the candidate cell off by one.
      std::vector<T> sites = random_sites;
      for (std::int64_t i = 0; i < nx; ++i) {
        if (!uniform) {
          sites[10 + i] = x[i];
          continue;
        }
        const T b = even.origin(i);
        sites[10 + 3 * i] = b;
        sites[11 + 3 * i] = std::nextafter(b, T(-1));
        sites[12 + 3 * i] = std::nextafter(b, T(2));
      }
      std::vector<T> sorted = sites;
      std::sort(sorted.begin(), sorted.end());
      // NaN sites among the listed ones (not among the first two, the ends of
      // uniform sites): NaN in every order, also the one that does not
      // involve the site.
      const std::int64_t nan_sites[] = {3, n - 7, n - 1};
      for (std::int64_t i : nan_sites) sites[static_cast<std::size_t>(i)] = std::numeric_limits<T>::quiet_NaN();
      for (std::int64_t ny : {1, 2, 3, 17}) {
        std::vector<T> coef(static_cast<std::size_t>((nx - 1) * order * ny));
        for (auto& c : coef) c = unit(rng) - T(0.5);
        qrx_df_task* task = nullptr;
        ASSERT_EQ(new_task(&task, nx, uniform ? ends : x.data(),
                           uniform ? QRX_DF_PARTITION_UNIFORM : QRX_DF_PARTITION_NON_UNIFORM),
                  0);
        ASSERT_EQ(qrx_df_kernel_iEditVal(task, QRX_DF_ATTR_NY, ny), 0);
        ASSERT_EQ(set_coefficients(task, order, coef.data()), 0);

        qrx_df::search_table<T>* table = uniform ? nullptr : qrx_df::make_search_table(x.data(), nx);
        qrx_df::site_source<T> src;
        src.nx = nx;
        src.uniform = qrx_df::uniform_partition<T>(ends[0], ends[1], nx);
        src.table = table;
        for (std::int64_t hint : {QRX_DF_SITES_NON_UNIFORM, QRX_DF_SITES_SORTED, QRX_DF_SITES_UNIFORM}) {
          const std::vector<T>& s = hint == QRX_DF_SITES_SORTED ? sorted : sites;
          src.sites = s.data();
          src.first_site = s[0];
          src.site_step = (s[1] - s[0]) / static_cast<T>(n - 1);
          const plain_search<T> plain =
              hint == QRX_DF_SITES_UNIFORM ? search_plainly<T, qrx_df::site_kind::uniform>(src, uniform, n)
                                           : search_plainly<T, qrx_df::site_kind::listed>(src, uniform, n);
          for (const std::vector<std::int64_t>& orders : order_sets) {
            const auto k = static_cast<std::int64_t>(orders.size());
            unsigned mask = 0;
            for (std::int64_t d = 0; d < k; ++d) mask |= orders[d] != 0 ? 1U << d : 0U;
            // Every order of every function by the plain loop, sites k slots apart.
            std::vector<T> expected(static_cast<std::size_t>(ny * n * k));
            for (std::int64_t f = 0; f < ny; ++f) {
              const T* c = coef.data() + f * (nx - 1) * order;
              T* e = expected.data() + f * n * k;
              if (order == QRX_DF_ORDER_LINEAR) {
                qrx_df::evaluate_block<T, std::int64_t, 2, 0, 0>(c, plain.cell.data(), plain.t.data(), n, e, k, 1,
                                                                 mask);
              } else {
                qrx_df::evaluate_block<T, std::int64_t, 4, 0, 0>(c, plain.cell.data(), plain.t.data(), n, e, k, 1,
                                                                 mask);
              }
            }
            if (hint == QRX_DF_SITES_NON_UNIFORM) {
              for (std::int64_t i : nan_sites) {
                for (std::int64_t d = 0; d < k; ++d) {
                  if ((mask >> d & 1U) != 0) {
                    ASSERT_TRUE(std::isnan(expected[i * k + d])) << i << " " << d;
                  }
                }
              }
            }
            for (std::int64_t layout : layouts) {
              for (const qrx_df::run_options& run : runs) {
                SCOPED_TRACE(::testing::Message()
                             << "variant " << static_cast<int>(run.target) << " streamed from "
                             << run.stream_results_from << " (many functions " << run.stream_many_results_from
                             << ") block " << run.function_block << " order " << order << " uniform " << uniform << " ny "
                             << ny << " sites " << hint << " mask " << mask << " layout " << layout);
                std::vector<T> results(static_cast<std::size_t>(ny * n * k), unwritten);
                std::vector<std::int64_t> cells(static_cast<std::size_t>(n), -1);
                ASSERT_EQ(qrx_df::interpolate_on(run, task, QRX_DF_INTERP_VALUES | QRX_DF_INTERP_CELLS, n,
                                                 s.data(), hint, k, orders.data(), results.data(), layout,
                                                 cells.data(), nullptr),
                          0);
                ASSERT_EQ(cells, plain.index);
                for (std::int64_t f = 0; f < ny; ++f) {
                  for (std::int64_t i = 0; i < n; ++i) {
                    for (std::int64_t d = 0; d < k; ++d) {
                      // Orders not asked for are never written.
                      const T want = (mask >> d & 1U) != 0 ? expected[(f * n + i) * k + d] : unwritten;
                      const T got = results[slot(layout, ny, n, k, f, i, d)];
                      ASSERT_TRUE(got == want || (std::isnan(got) && std::isnan(want))) << f << " " << i << " " << d;
                    }
                  }
                }
              }
            }
          }
        }
        qrx_df::free_search_table(table);
        qrx_df_kernel_DeleteTask(&task);
      }
    }
  }
}

}  // namespace

namespace {

// Tables of a partition built through the threader and by the plain serial
// count: the same buckets, span and breakpoints, for increasing partitions (long enough to
// be cut into parallel ranges, with clusters that fill buckets unevenly)
// and for ones that are not increasing, which are counted serially. A far
// last breakpoint puts all the others in one bucket that spans every range.
TYPED_TEST(KernelVariants, ParallelSearchTableEqualsTheSerialOne) {
  using T = TypeParam;
  namespace detail = velora::qrx::experimental::data_fitting::detail;
  const qrx_df_threader_block* threader = detail::interpolate_threader_block<T>();
  std::mt19937 rng(3);
  std::uniform_real_distribution<T> unit(0, 1);
  for (int shape = 0; shape < 4; ++shape) {
    const std::int64_t nx = 100003;
    std::vector<T> x(static_cast<std::size_t>(nx));
    for (std::int64_t i = 0; i < nx; ++i) {
      const T u = unit(rng);
      x[static_cast<std::size_t>(i)] = shape == 1 && i % 1000 < 500 ? T(0.5) + u * T(1e-3) : u;
      if (shape == 3) x[static_cast<std::size_t>(i)] = i + 1 < nx ? T(i) : T(1e10);
    }
    if (shape < 2) std::sort(x.begin(), x.end());  // shape 2: not increasing
    SCOPED_TRACE(shape);
    qrx_df::search_table<T>* serial = qrx_df::make_search_table(x.data(), nx);
    qrx_df::search_table<T>* parallel = qrx_df::make_search_table(x.data(), nx, threader);
    ASSERT_NE(serial, nullptr);
    ASSERT_NE(parallel, nullptr);
    qrx_df::count_buckets(serial, x.data());  // the plain count, whatever the partition
    std::int64_t fullest = 0;
    for (std::int64_t b = 0; b < nx; ++b) fullest = std::max(fullest, (b + 1 < nx ? serial->first[b + 1] : nx) - serial->first[b]);
    EXPECT_GT(parallel->span, fullest);
    EXPECT_LE(parallel->span, 2 * fullest);
    EXPECT_EQ(parallel->span, serial->span);
    EXPECT_EQ(parallel->steps, serial->steps);
    EXPECT_EQ(std::vector<std::int64_t>(parallel->first, parallel->first + nx),
              std::vector<std::int64_t>(serial->first, serial->first + nx));
    EXPECT_TRUE(std::equal(serial->xp - 1, serial->xp + nx + serial->span + 1, parallel->xp - 1));
    qrx_df::free_search_table(serial);
    qrx_df::free_search_table(parallel);
  }
}

// The construction's check of a listed partition long enough to be cut
// into ranges, through the threader and serially: a fault on either side of
// a range's edge or inside a range is found, and a breakpoint that is not
// finite is named before the order it also breaks.
TYPED_TEST(KernelVariants, PartitionCheckFindsFaultsAcrossRanges) {
  using T = TypeParam;
  namespace detail = velora::qrx::experimental::data_fitting::detail;
  const qrx_df_threader_block* threader = detail::interpolate_threader_block<T>();
  const std::int64_t nx = 3 * qrx_df::table_chunk + 17;
  const std::int64_t edge = qrx_df::table_chunk;  // x[edge - 1] and x[edge] lie in different ranges
  const T inf = std::numeric_limits<T>::infinity();
  struct fault {
    std::int64_t at;  // x[at] = value; -1: no fault
    T value;
    std::int32_t status;
  };
  const fault faults[] = {{-1, 0, QRX_DF_STATUS_OK},
                          {edge, T(edge - 1), QRX_DF_STATUS_PARTITION_NOT_INCREASING},
                          {edge - 1, T(-1), QRX_DF_STATUS_PARTITION_NOT_INCREASING},
                          {2 * edge + 5, T(-1), QRX_DF_STATUS_PARTITION_NOT_INCREASING},
                          {nx - 1, inf, QRX_DF_STATUS_PARTITION_NOT_FINITE},
                          {0, -inf, QRX_DF_STATUS_PARTITION_NOT_FINITE},
                          {edge + 3, inf, QRX_DF_STATUS_PARTITION_NOT_FINITE},
                          {edge, std::numeric_limits<T>::quiet_NaN(), QRX_DF_STATUS_PARTITION_NOT_FINITE}};
  for (const fault& f : faults) {
    std::vector<T> x(static_cast<std::size_t>(nx));
    for (std::int64_t i = 0; i < nx; ++i) x[static_cast<std::size_t>(i)] = T(i);
    if (f.at >= 0) x[static_cast<std::size_t>(f.at)] = f.value;
    SCOPED_TRACE(f.at);
    EXPECT_EQ(qrx_df::check_listed_partition(x.data(), nx, threader), f.status);
    EXPECT_EQ(qrx_df::check_listed_partition(x.data(), nx, nullptr), f.status);
  }
}

}  // namespace
