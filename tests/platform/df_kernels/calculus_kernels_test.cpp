// The integration and solving kernels called directly: statuses for bad
// arguments (never a crash), tables that do not depend on the number of
// threads that build them, the inverse of monotone functions against the
// search every other function takes, in every instruction-set variant this
// processor runs, and integrals of every variant of the block path equal to
// those of the bound-by-bound path.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>
#include <utility>
#include <vector>

#include "qrx_df/cell_locator.hpp"
#include "qrx_df/integrate_on.hpp"
#include "qrx_df/isa.hpp"
#include "qrx_df/monotone_inverse.hpp"
#include "qrx_df/task_record.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "qrx_lumo_thread/threader.h"
#include "support/service_threader.hpp"

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

using kernel_test::threaded;

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

// Functions whose every piece rises (negated: falls), continuous, on nx
// breakpoints: Hermite cubics with slopes inside the monotone region, or
// lines; with a unit-width uniform partition every third cubic piece is
// instead an exact cubic with a stationary inflection inside (still
// monotone, but a cell the root finder splits).
template <typename T>
struct monotone_task {
  using k = calculus_kernels<T>;
  std::int64_t nx, order;
  std::vector<T> x, coeffs;
  qrx_df_task* task = nullptr;

  monotone_task(std::int64_t nx_, std::int64_t order_, std::int64_t hint) : nx(nx_), order(order_) {
    const std::int64_t ny = 2;
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const bool uniform = hint == QRX_DF_PARTITION_UNIFORM;
    std::vector<T> at(static_cast<std::size_t>(nx));
    for (std::int64_t i = 0; i < nx; ++i) at[std::size_t(i)] = uniform ? T(i) : T(i) + T(0.4) * T(u(rng));
    x = uniform ? std::vector<T>{T(0), T(nx - 1)} : at;
    coeffs.resize(std::size_t((nx - 1) * ny * order));
    T v = T(0.25);
    for (std::int64_t c = 0; c + 1 < nx; ++c) {
      T* p = coeffs.data() + c * order;
      const T h = at[std::size_t(c + 1)] - at[std::size_t(c)];
      if (order == 4 && uniform && c % 3 == 1) {  // v + ((t - 1/4)^3 + 1/64) / 4 on [0, 1]
        p[0] = v;
        p[1] = T(3.0 / 64);
        p[2] = T(-3.0 / 16);
        p[3] = T(0.25);
        v += T(7.0 / 64);
        continue;
      }
      const T rise = T(0.05) + T(u(rng));
      const T s = rise / h;
      p[0] = v;
      p[1] = s;
      if (order == 4) {
        const T d0 = s * T(0.2 + 1.8 * u(rng)), d1 = s * T(0.2 + 1.8 * u(rng));
        p[1] = d0;
        p[2] = (T(3) * s - T(2) * d0 - d1) / h;
        p[3] = (d0 + d1 - T(2) * s) / (h * h);
      }
      v += rise;
    }
    for (std::int64_t i = 0; i < (nx - 1) * order; ++i) coeffs[std::size_t((nx - 1) * order + i)] = -coeffs[std::size_t(i)];
    EXPECT_EQ(k::new_task(&task, nx, x.data(), hint, ny, nullptr, QRX_DF_FUNCTIONS_ROW_MAJOR, 1), 0);
    EXPECT_EQ(k::edit(task, order, order == 4 ? QRX_DF_CUBIC_NATURAL : QRX_DF_LINEAR_DEFAULT, 0, nullptr, 0, nullptr,
                      coeffs.data(), QRX_DF_COEFFS_ROW_MAJOR),
              0);
  }
  ~monotone_task() { qrx_df_kernel_DeleteTask(&task); }
  monotone_task(const monotone_task&) = delete;
  monotone_task& operator=(const monotone_task&) = delete;

  const T* piece(std::int64_t f, std::int64_t c) const { return coeffs.data() + (f * (nx - 1) + c) * order; }
};

// A function marked monotone (node 0 of its tree) goes straight to its one
// cell; clearing the mark sends it through the search of every other
// function. Both must give the same counts and the same roots, bit for bit,
// at every breakpoint's value, both ends, just beyond them, at random
// levels, and at NaN and the infinities.
TYPED_TEST(CalculusKernels, MonotoneInverseMatchesTheGeneralSearch) {
  using T = TypeParam;
  using k = calculus_kernels<T>;
  const T nan = std::numeric_limits<T>::quiet_NaN(), inf = std::numeric_limits<T>::infinity();
  for (std::int64_t hint : {QRX_DF_PARTITION_NON_UNIFORM, QRX_DF_PARTITION_UNIFORM}) {
    for (std::int64_t order : {std::int64_t{4}, std::int64_t{2}}) {
      SCOPED_TRACE(::testing::Message() << "hint " << hint << " order " << order);
      const std::int64_t nx = 2001, ny = 2;  // 63 blocks of cells, the last one partial
      monotone_task<T> t(nx, order, hint);
      const std::int64_t leaves = qrx_df_range_tree_leaves(nx);
      std::vector<T> tree(std::size_t(qrx_df_range_tree_size(nx, ny)));
      ASSERT_EQ(k::tree(t.task, tree.data(), &threaded), 0);
      ASSERT_EQ(tree[0], T(1));
      ASSERT_EQ(tree[std::size_t(4 * leaves)], T(-1));
      std::vector<T> general = tree;
      general[0] = general[std::size_t(4 * leaves)] = T(0);

      // Levels of function 0; function 1 is its negation, solved at the
      // negated levels.
      const T* last = t.piece(0, nx - 2);
      const T h = (hint == QRX_DF_PARTITION_UNIFORM ? T(nx - 1) : t.x[std::size_t(nx - 1)]) -
                  (hint == QRX_DF_PARTITION_UNIFORM ? T(nx - 2) : t.x[std::size_t(nx - 2)]);
      const T end = order == 4 ? ((last[3] * h + last[2]) * h + last[1]) * h + last[0] : last[1] * h + last[0];
      std::vector<T> levels = {end, std::nextafter(end, inf), std::nextafter(t.piece(0, 0)[0], -inf), nan, inf, -inf};
      for (std::int64_t c = 0; c + 1 < nx; ++c) levels.push_back(t.piece(0, c)[0]);
      if (hint == QRX_DF_PARTITION_UNIFORM && order == 4) {
        for (std::int64_t c = 1; c + 1 < nx; c += 3) levels.push_back(t.piece(0, c)[0] + T(1.0 / 256));  // inflections
      }
      std::mt19937 rng(9);
      std::uniform_real_distribution<double> u(double(t.piece(0, 0)[0]), double(end));
      for (int i = 0; i < 5000; ++i) levels.push_back(T(u(rng)));
      const std::int64_t n = std::int64_t(levels.size());
      std::vector<T> both(levels);
      for (T y : levels) both.push_back(-y);

      for (std::int64_t f = 0; f < ny; ++f) {
        SCOPED_TRACE(::testing::Message() << "function " << f);
        const T* y = both.data() + f * n;
        const std::int64_t max_roots = 2;
        std::vector<T> fast_roots(std::size_t(ny * n * max_roots), T(-7)), slow_roots(fast_roots);
        std::vector<std::int64_t> fast_counts(std::size_t(ny * n), -1), slow_counts(fast_counts);
        ASSERT_EQ(k::solve(t.task, tree.data(), n, y, max_roots, fast_roots.data(), fast_counts.data(), &threaded), 0);
        ASSERT_EQ(k::solve(t.task, general.data(), n, y, max_roots, slow_roots.data(), slow_counts.data(), nullptr),
                  0);
        for (std::int64_t i = 0; i < n; ++i) {
          const std::size_t slot = std::size_t(f * n + i);
          ASSERT_EQ(fast_counts[slot], slow_counts[slot]) << "level " << y[i];
          // Inside [f(a), f(b)) one root, none beyond, for NaN or for the
          // infinities. (f(b) itself, evaluated here in another order, may
          // lie a rounding beyond the last piece's end.)
          const bool inside = levels[std::size_t(i)] >= t.piece(0, 0)[0] && levels[std::size_t(i)] < end;
          if (i != 0) {
            EXPECT_EQ(fast_counts[slot], inside ? 1 : 0) << "level " << y[i];
          }
          for (std::int64_t r = 0; r < std::min<std::int64_t>(fast_counts[slot], max_roots); ++r) {
            EXPECT_EQ(fast_roots[slot * max_roots + std::size_t(r)], slow_roots[slot * max_roots + std::size_t(r)])
                << "level " << y[i];
          }
        }
        // A breakpoint's value: that breakpoint.
        if (hint == QRX_DF_PARTITION_NON_UNIFORM) {
          for (std::int64_t c = 0; c + 1 < nx; c += 97) {
            EXPECT_EQ(fast_roots[std::size_t((f * n + 6 + c) * max_roots)], t.x[std::size_t(c)]) << "cell " << c;
          }
        }
      }
    }
  }
}

// Every instruction-set variant of the monotone inverse's chunks gives bit
// for bit what the baseline one gives, chunk by chunk, for both directions
// and orders (a last chunk shorter than the others included).
TYPED_TEST(CalculusKernels, MonotoneInverseVariantsAgree) {
  using T = TypeParam;
  using k = calculus_kernels<T>;
  constexpr std::int64_t chunk = qrx_df::monotone_inverse<T>::chunk;
  for (std::int64_t order : {std::int64_t{4}, std::int64_t{2}}) {
    const std::int64_t nx = 3001;
    monotone_task<T> t(nx, order, QRX_DF_PARTITION_NON_UNIFORM);
    const std::int64_t leaves = qrx_df_range_tree_leaves(nx);
    std::vector<T> tree(std::size_t(qrx_df_range_tree_size(nx, 2)));
    ASSERT_EQ(k::tree(t.task, tree.data(), nullptr), 0);
    qrx_df::cell_locator<T> loc;
    ASSERT_TRUE(loc.attach(t.task, nullptr));
    std::mt19937 rng(4);
    std::uniform_real_distribution<double> u(-10.0, 3000.0);
    std::vector<T> levels(std::size_t(5 * chunk + 7));
    for (T& y : levels) y = T(u(rng));
    for (std::int64_t f = 0; f < 2; ++f) {
      const T* node = tree.data() + 4 * leaves * f;
      const qrx_df::monotone_inverse<T> inv{&loc, static_cast<const T*>(t.task->coeffs[f]), node, nx - 1, leaves};
      std::vector<T> y(levels);
      if (f == 1) {
        for (T& v : y) v = -v;
      }
      for (qrx_df::isa v : {qrx_df::isa::avx2, qrx_df::isa::avx512}) {
        if (!qrx_df::isa_supported(v)) continue;
        SCOPED_TRACE(::testing::Message() << "order " << order << " function " << f << " variant " << int(v));
        const auto base = qrx_df::choose_invert_chunk<T>(qrx_df::isa::baseline, order, node[0] > T(0));
        const auto variant = qrx_df::choose_invert_chunk<T>(v, order, node[0] > T(0));
        for (std::int64_t i = 0; i < std::int64_t(y.size()); i += chunk) {
          const std::int64_t m = std::min(std::int64_t(y.size()) - i, chunk);
          std::int64_t cells[2][chunk];
          T x[2][chunk];
          qrx_df::inverse_outcome outcome[2][chunk];
          base(inv, y.data() + i, m, cells[0], x[0], outcome[0]);
          variant(inv, y.data() + i, m, cells[1], x[1], outcome[1]);
          for (std::int64_t l = 0; l < m; ++l) {
            ASSERT_EQ(cells[0][l], cells[1][l]) << "level " << y[std::size_t(i + l)];
            ASSERT_EQ(outcome[0][l], outcome[1][l]) << "level " << y[std::size_t(i + l)];
            if (outcome[0][l] == qrx_df::inverse_outcome::root) {
              EXPECT_EQ(x[0][l], x[1][l]) << "level " << y[std::size_t(i + l)];
            }
          }
        }
      }
    }
  }
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
