// The integration and solving kernels called directly: statuses for bad
// arguments (never a crash), tables that do not depend on the number of
// threads that build them, and integrals of every variant of the block path
// equal to those of the bound-by-bound path.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>
#include <utility>
#include <vector>

#include "qrx_df/integrate_on.hpp"
#include "qrx_df/isa.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "qrx_lumo_thread/threader.h"

namespace {

template <typename T>
struct calculus_kernels;

template <>
struct calculus_kernels<float> {
  static constexpr auto new_task = &qrx_df_kernel_sNewTask1D;
  static constexpr auto edit = &qrx_df_kernel_sEditPPSpline1D;
  static constexpr auto table = &qrx_df_kernel_sDFIntegralTable1D;
  static constexpr auto integrate = &qrx_df_kernel_sDFIntegrate1D;
  static constexpr auto tree = &qrx_df_kernel_sDFRangeTree1D;
  static constexpr auto solve = &qrx_df_kernel_sDFSolve1D;
};

template <>
struct calculus_kernels<double> {
  static constexpr auto new_task = &qrx_df_kernel_dNewTask1D;
  static constexpr auto edit = &qrx_df_kernel_dEditPPSpline1D;
  static constexpr auto table = &qrx_df_kernel_dDFIntegralTable1D;
  static constexpr auto integrate = &qrx_df_kernel_dDFIntegrate1D;
  static constexpr auto tree = &qrx_df_kernel_dDFRangeTree1D;
  static constexpr auto solve = &qrx_df_kernel_dDFSolve1D;
};

const qrx_df_threader_entries service_entries{
    &qrx_df_serv_threader_for, &qrx_df_serv_threader_for_ordered, &qrx_df_serv_threader_sections,
    &qrx_df_serv_threader_ordered, &qrx_df_serv_threader_get_num_threads_limit};
const qrx_df_threader_block threaded{{service_entries, service_entries, service_entries}};

// A task over a listed partition of nx breakpoints holding ny functions with
// random coefficients (the kernels need no continuity), cubic unless asked.
template <typename T>
struct random_task {
  using k = calculus_kernels<T>;
  std::vector<T> x, coeffs;
  qrx_df_task* task = nullptr;

  random_task(std::int64_t nx, std::int64_t ny, std::int64_t partition_hint = QRX_DF_PARTITION_NON_UNIFORM,
              std::int64_t order = QRX_DF_ORDER_CUBIC) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    x.resize(std::size_t(nx));
    for (std::int64_t i = 0; i < nx; ++i) x[std::size_t(i)] = T(i) + T(0.25) * T(u(rng));
    if (partition_hint == QRX_DF_PARTITION_UNIFORM) x = {T(0), T(nx - 1)};
    coeffs.resize(std::size_t((nx - 1) * ny * 4));
    for (T& c : coeffs) c = T(u(rng));
    EXPECT_EQ(k::new_task(&task, nx, x.data(), partition_hint, ny, nullptr, QRX_DF_FUNCTIONS_ROW_MAJOR, 1), 0);
    const std::int64_t kind = order == QRX_DF_ORDER_CUBIC ? QRX_DF_CUBIC_NATURAL : 0;
    EXPECT_EQ(k::edit(task, order, kind, 0, nullptr, 0, nullptr, coeffs.data(), QRX_DF_COEFFS_ROW_MAJOR), 0);
  }
  ~random_task() { qrx_df_kernel_DeleteTask(&task); }
};

template <typename T>
class CalculusKernels : public ::testing::Test {};
using precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(CalculusKernels, precisions);

TYPED_TEST(CalculusKernels, TablesDoNotDependOnTheThreads) {
  using T = TypeParam;
  using k = calculus_kernels<T>;
  for (std::int64_t hint : {QRX_DF_PARTITION_NON_UNIFORM, QRX_DF_PARTITION_UNIFORM}) {
    const std::int64_t nx = 300001, ny = 2;
    random_task<T> t(nx, ny, hint);
    std::vector<T> serial(std::size_t(QRX_DF_INTEGRAL_TABLE_SIZE(nx, ny))), parallel(serial.size(), T(-1));
    ASSERT_EQ(k::table(t.task, serial.data(), nullptr), 0);
    ASSERT_EQ(k::table(t.task, parallel.data(), &threaded), 0);
    EXPECT_EQ(std::memcmp(serial.data(), parallel.data(), serial.size() * sizeof(T)), 0);
    std::vector<T> tree_serial(std::size_t(qrx_df_range_tree_size(nx, ny))), tree_parallel(tree_serial.size());
    ASSERT_EQ(k::tree(t.task, tree_serial.data(), nullptr), 0);
    ASSERT_EQ(k::tree(t.task, tree_parallel.data(), &threaded), 0);
    EXPECT_EQ(std::memcmp(tree_serial.data(), tree_parallel.data(), tree_serial.size() * sizeof(T)), 0);
  }
}

TYPED_TEST(CalculusKernels, BadArgumentsAnswerWithAStatus) {
  using T = TypeParam;
  using other = std::conditional_t<std::is_same_v<T, float>, double, float>;
  using k = calculus_kernels<T>;
  const std::int64_t nx = 40, ny = 2, n = 3;
  random_task<T> t(nx, ny);
  std::vector<T> table(std::size_t(QRX_DF_INTEGRAL_TABLE_SIZE(nx, ny)));
  std::vector<T> tree(std::size_t(qrx_df_range_tree_size(nx, ny)));
  ASSERT_EQ(k::table(t.task, table.data(), nullptr), 0);
  ASSERT_EQ(k::tree(t.task, tree.data(), nullptr), 0);
  T bounds[n] = {T(1), T(2), T(3)};
  T results[ny * n];
  std::int64_t counts[ny * n];
  const T* tab = table.data();

  EXPECT_EQ(k::table(nullptr, table.data(), nullptr), QRX_DF_STATUS_NULL_TASK);
  EXPECT_EQ(k::table(t.task, nullptr, nullptr), QRX_DF_STATUS_NO_TABLE);
  EXPECT_EQ(k::tree(t.task, nullptr, nullptr), QRX_DF_STATUS_NO_TABLE);
  EXPECT_EQ(calculus_kernels<other>::table(t.task, nullptr, nullptr), QRX_DF_STATUS_WRONG_PRECISION);
  EXPECT_EQ(k::integrate(t.task, tab, -1, bounds, bounds, 0, 0, results, nullptr), QRX_DF_STATUS_BAD_NSITES);
  EXPECT_EQ(k::integrate(t.task, tab, n, nullptr, bounds, 0, 0, results, nullptr), QRX_DF_STATUS_NO_SITES);
  EXPECT_EQ(k::integrate(t.task, tab, n, bounds, nullptr, 0, 0, results, nullptr), QRX_DF_STATUS_NO_SITES);
  EXPECT_EQ(k::integrate(t.task, tab, n, bounds, bounds, 0, 0, nullptr, nullptr), QRX_DF_STATUS_NO_RESULTS);
  EXPECT_EQ(k::integrate(t.task, nullptr, n, bounds, bounds, 0, 0, results, nullptr), QRX_DF_STATUS_NO_TABLE);
  for (auto modes : {std::pair<std::int64_t, std::int64_t>{5, 0}, {0, -1}, {4, 0}, {1, 4}}) {
    EXPECT_EQ(k::integrate(t.task, tab, n, bounds, bounds, modes.first, modes.second, results, nullptr),
              QRX_DF_STATUS_BAD_EXTRAPOLATION);
  }
  EXPECT_EQ(k::integrate(t.task, tab, 0, nullptr, nullptr, 0, 0, nullptr, nullptr), 0);  // nothing to do
  EXPECT_EQ(k::solve(t.task, tree.data(), n, bounds, -1, results, counts, nullptr), QRX_DF_STATUS_BAD_MAX_ROOTS);
  EXPECT_EQ(k::solve(t.task, tree.data(), n, nullptr, 1, results, counts, nullptr), QRX_DF_STATUS_NO_LEVELS);
  EXPECT_EQ(k::solve(t.task, tree.data(), n, bounds, 1, nullptr, counts, nullptr), QRX_DF_STATUS_NO_RESULTS);
  EXPECT_EQ(k::solve(t.task, tree.data(), n, bounds, 1, results, nullptr, nullptr), QRX_DF_STATUS_NO_RESULTS);
  EXPECT_EQ(k::solve(t.task, nullptr, n, bounds, 1, results, counts, nullptr), QRX_DF_STATUS_NO_TABLE);
  EXPECT_EQ(k::solve(t.task, tree.data(), n, bounds, 0, nullptr, counts, nullptr), 0);  // counts only
  EXPECT_EQ(k::solve(t.task, tree.data(), n, bounds, std::numeric_limits<std::int64_t>::max(), results, counts,
                     nullptr),
            QRX_DF_STATUS_BAD_NY);

  // A task whose spline was never given has nothing to integrate.
  qrx_df_task* bare = nullptr;
  ASSERT_EQ(k::new_task(&bare, nx, t.x.data(), QRX_DF_PARTITION_NON_UNIFORM, ny, nullptr, 0, 1), 0);
  EXPECT_EQ(k::table(bare, table.data(), nullptr), QRX_DF_STATUS_BAD_ORDER);
  EXPECT_EQ(k::solve(bare, tree.data(), n, bounds, 1, results, counts, nullptr), QRX_DF_STATUS_BAD_ORDER);
  qrx_df_kernel_DeleteTask(&bare);
}

// Blocks of intervals whose bounds all start from a cell of the first period
// go the block path, the others bound by bound. Every variant gives the
// bound-by-bound integrals bit for bit: blocks inside [a, b] (with bounds on
// breakpoints, at a and b, equal and swapped bounds), blocks that mix inside
// with outside, infinite and NaN bounds, and blocks beyond both ends, which
// the extending mode takes as a block; both orders, both partition kinds,
// every mode pair, a partial last block, serial and threaded.
TYPED_TEST(CalculusKernels, BlockPathEqualsBoundByBound) {
  using T = TypeParam;
  const std::int64_t nx = 300, ny = 3, block = 256, n = 6 * block + 37;
  const T inf = std::numeric_limits<T>::infinity(), nan = std::numeric_limits<T>::quiet_NaN();
  const std::pair<std::int64_t, std::int64_t> modes[] = {{QRX_DF_EXTRAPOLATE_EXTEND, QRX_DF_EXTRAPOLATE_EXTEND},
                                                         {QRX_DF_EXTRAPOLATE_CONSTANT, QRX_DF_EXTRAPOLATE_LINEAR},
                                                         {QRX_DF_EXTRAPOLATE_EXTEND, QRX_DF_EXTRAPOLATE_NAN},
                                                         {QRX_DF_EXTRAPOLATE_LINEAR, QRX_DF_EXTRAPOLATE_EXTEND},
                                                         {QRX_DF_EXTRAPOLATE_PERIODIC, QRX_DF_EXTRAPOLATE_PERIODIC}};
  for (std::int64_t order : {QRX_DF_ORDER_LINEAR, QRX_DF_ORDER_CUBIC}) {
    for (std::int64_t hint : {QRX_DF_PARTITION_NON_UNIFORM, QRX_DF_PARTITION_UNIFORM}) {
      random_task<T> t(nx, ny, hint, order);
      std::vector<T> table(std::size_t(QRX_DF_INTEGRAL_TABLE_SIZE(nx, ny)));
      ASSERT_EQ(calculus_kernels<T>::table(t.task, table.data(), nullptr), 0);
      const T a = t.x.front(), b = t.x.back();
      std::mt19937 rng(5);
      std::uniform_real_distribution<double> inside{double(a), double(b)}, beyond{1.0, 50.0};
      std::vector<T> lower(static_cast<std::size_t>(n)), upper(static_cast<std::size_t>(n));
      for (std::int64_t i = 0; i < n; ++i) {
        lower[std::size_t(i)] = T(inside(rng));
        upper[std::size_t(i)] = T(inside(rng));
      }
      // Block 1: breakpoints, the ends, equal bounds.
      for (std::int64_t i = 0; i < 64; ++i) {
        const T knot = hint == QRX_DF_PARTITION_UNIFORM ? T(i) : t.x[std::size_t(i * 4)];
        lower[std::size_t(block + i)] = knot;
        upper[std::size_t(block + 2 * i + 1)] = i % 2 == 0 ? a : b;
      }
      upper[std::size_t(block + 100)] = lower[std::size_t(block + 100)];
      // Block 2 mixes: outside, infinite and NaN bounds among inside ones.
      const T odd[] = {a - T(3), b + T(2), -inf, inf, nan, a, b};
      for (std::int64_t i = 0; i < 7; ++i) (i % 2 == 0 ? lower : upper)[std::size_t(2 * block + 30 * i)] = odd[i];
      // Block 3 beyond both ends; the partial last block mixes.
      for (std::int64_t i = 3 * block; i < 4 * block; ++i) {
        lower[std::size_t(i)] = a - T(beyond(rng));
        upper[std::size_t(i)] = i % 3 == 0 ? b + T(beyond(rng)) : T(inside(rng));
      }
      lower[std::size_t(n - 5)] = b + T(1);
      upper[std::size_t(n - 2)] = -inf;
      for (const auto& mode : modes) {
        for (const qrx_df_threader_block* threader : {static_cast<const qrx_df_threader_block*>(nullptr), &threaded}) {
          std::vector<T> expected(std::size_t(n * ny), T(-1));
          ASSERT_EQ(qrx_df::integrate_on({qrx_df::isa::baseline, false}, t.task, table.data(), n, lower.data(),
                                         upper.data(), mode.first, mode.second, expected.data(), threader),
                    0);
          for (qrx_df::isa v : {qrx_df::isa::baseline, qrx_df::isa::avx2, qrx_df::isa::avx512}) {
            if (!qrx_df::isa_supported(v)) continue;
            SCOPED_TRACE(::testing::Message() << "order " << order << " partition " << hint << " modes " << mode.first
                                              << " " << mode.second << " variant " << static_cast<int>(v));
            std::vector<T> got(expected.size(), T(-2));
            ASSERT_EQ(qrx_df::integrate_on({v, true}, t.task, table.data(), n, lower.data(), upper.data(),
                                           mode.first, mode.second, got.data(), threader),
                      0);
            for (std::size_t i = 0; i < got.size(); ++i) {
              ASSERT_EQ(std::memcmp(&got[i], &expected[i], sizeof(T)), 0)
                  << "interval " << i % std::size_t(n) << " function " << i / std::size_t(n) << ": " << got[i]
                  << " != " << expected[i];
            }
          }
        }
      }
    }
  }
}

}  // namespace
