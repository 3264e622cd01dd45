// The kernel library driven end to end through the front-end: coefficients
// checked against interpolation, slope and boundary conditions, polynomial
// reproduction, and interpolation against a plain host reference.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "detail/cpu_impl/df_frontend.hpp"
#include "detail/gpu/interpolate/cell_search.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "support/uniform_breakpoints.hpp"

namespace df = velora::qrx::experimental::data_fitting::detail;
namespace gpu_df {
using velora::qrx::experimental::data_fitting::partition_hint;
using velora::qrx::experimental::data_fitting::detail::find_cell;
}  // namespace gpu_df

namespace {

template <typename T>
T tolerance(T magnitude, T ulps = 256) {
  return ulps * std::numeric_limits<T>::epsilon() * std::max(T(1), std::fabs(magnitude));
}

// A partition, ny functions sampled on it, and a task built from them.
template <typename T>
struct spline_case {
  std::int64_t nx = 0;
  std::int64_t ny = 0;
  std::int64_t part_hint = 1;
  std::int64_t func_hint = 16;
  std::int64_t order = 4;
  std::vector<T> x;          // every breakpoint
  std::vector<T> partition;  // as handed over: two ends for a uniform partition
  std::vector<T> values;     // in the layout of func_hint
  std::vector<T> ic;
  std::vector<T> coeffs;
  df::task_record* task = nullptr;

  spline_case(std::int64_t nx_, std::int64_t ny_, std::int64_t part_hint_, std::int64_t func_hint_,
              T (*f)(std::int64_t, T), T lo = T(-1.5), T hi = T(2.5))
      : nx(nx_), ny(ny_), part_hint(part_hint_), func_hint(func_hint_), x(nx_) {
    const T h = (hi - lo) / static_cast<T>(nx - 1);
    for (std::int64_t i = 0; i < nx; ++i) {
      // Uniform breakpoints as the kernels place them; others uneven.
      x[i] = part_hint == 4 ? h * static_cast<T>(i) + lo
                            : lo + (hi - lo) * (T(i) + T(0.3) * std::sin(T(i))) / T(nx - 1 + 0.3 * std::sin(nx - 1.0));
    }
    x[nx - 1] = hi;
    partition = part_hint == 4 ? std::vector<T>{lo, hi} : x;
    values.resize(static_cast<std::size_t>(nx * ny));
    for (std::int64_t j = 0; j < ny; ++j) {
      for (std::int64_t i = 0; i < nx; ++i) values[func_hint == 32 ? i * ny + j : j * nx + i] = f(j, x[i]);
    }
    ic.assign(static_cast<std::size_t>(nx - 2), T(0));
  }
  ~spline_case() {
    if (task != nullptr) df::df_delete_task(&task);
  }
  T y(std::int64_t j, std::int64_t i) const { return values[func_hint == 32 ? i * ny + j : j * nx + i]; }
  const T* cell(std::int64_t j, std::int64_t k) const { return coeffs.data() + (j * (nx - 1) + k) * order; }

  std::int32_t construct(std::int64_t order_, std::int64_t bc = 0, std::vector<T> bc_values = {0, 0}) {
    order = order_;
    coeffs.assign(static_cast<std::size_t>((nx - 1) * ny * order), T(0));
    if (std::int32_t s = df::df_new_task_1d<T>(&task, nx, partition.data(), part_hint, ny, values.data(), func_hint);
        s != 0) {
      return s;
    }
    if (std::int32_t s = df::df_edit_pp_spline_1d<T>(task, order, order == 4 ? 3 : 0, bc, bc_values.data(), 1,
                                                      ic.data(), coeffs.data(), 16);
        s != 0) {
      return s;
    }
    return df::df_construct_1d<T>(task, 0, 0);
  }

  // Derivative d of the piece of function j on cell k at offset t.
  T piece(std::int64_t j, std::int64_t k, T t, int d) const {
    const T* c = cell(j, k);
    T sum = 0;
    for (std::int64_t q = order - 1; q >= d; --q) {
      T factor = 1;
      for (int m = 0; m < d; ++m) factor *= T(q - m);
      sum = sum * t + factor * c[q];
    }
    return sum;
  }
};

template <typename T>
T waves(std::int64_t j, T x) {
  return std::sin(T(1.3) * x + T(j)) + T(0.2) * T(j) * x;
}
// Period 4, the length of the default partition, so periodic conditions hold.
template <typename T>
T periodic_waves(std::int64_t j, T x) {
  return static_cast<T>(std::sin(1.5707963267948966 * static_cast<double>(x) + static_cast<double>(j)));
}
template <typename T>
T cubic(std::int64_t j, T x) {
  return T(1) - T(2) * x + T(0.5 + j) * x * x + T(0.25) * x * x * x;
}
template <typename T>
T cubic_slope(T x) {
  return T(-2) + T(1) * x + T(0.75) * x * x;
}

template <typename T>
class KernelNumerics : public ::testing::Test {};
using precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(KernelNumerics, precisions);

TYPED_TEST(KernelNumerics, LinearCoefficientsInterpolateTheValues) {
  using T = TypeParam;
  for (std::int64_t part_hint : {1, 2, 4}) {
    for (std::int64_t func_hint : {16, 32}) {
      spline_case<T> s(9, 3, part_hint, func_hint, waves<T>);
      ASSERT_EQ(s.construct(2), 0);
      for (std::int64_t j = 0; j < s.ny; ++j) {
        for (std::int64_t k = 0; k + 1 < s.nx; ++k) {
          EXPECT_EQ(s.cell(j, k)[0], s.y(j, k));
          EXPECT_NEAR(s.piece(j, k, s.x[k + 1] - s.x[k], 0), s.y(j, k + 1), tolerance(s.y(j, k + 1)));
        }
      }
    }
  }
}

// Every accepted boundary kind: values and slopes at all breakpoints, and
// the kind's condition at each end.
TYPED_TEST(KernelNumerics, HermiteCoefficientsMeetEveryCondition) {
  using T = TypeParam;
  const T left = T(0.7);
  const T right = T(-1.1);
  for (std::int64_t bc : {0, 1, 2, 12, 24, 36, 48, 64, 128}) {
    for (std::int64_t part_hint : {1, 2, 4}) {
      for (std::int64_t func_hint : {16, 32}) {
        SCOPED_TRACE(::testing::Message() << "bc " << bc << " partition " << part_hint << " layout " << func_hint);
        spline_case<T> s(8, 2, part_hint, func_hint, periodic_waves<T>);
        for (std::size_t i = 0; i < s.ic.size(); ++i) s.ic[i] = std::cos(T(i));
        ASSERT_EQ(s.construct(4, bc, {left, right}), 0);
        const std::int64_t last = s.nx - 2;
        const T w_last = s.x[last + 1] - s.x[last];
        for (std::int64_t j = 0; j < s.ny; ++j) {
          for (std::int64_t k = 0; k <= last; ++k) {
            const T w = s.x[k + 1] - s.x[k];
            EXPECT_EQ(s.piece(j, k, 0, 0), s.y(j, k));
            EXPECT_NEAR(s.piece(j, k, w, 0), s.y(j, k + 1), tolerance(s.y(j, k + 1)));
            if (k >= 1) {
              EXPECT_EQ(s.piece(j, k, 0, 1), s.ic[k - 1]);
            }
            if (k < last) {
              EXPECT_NEAR(s.piece(j, k, w, 1), s.ic[k], tolerance(s.ic[k], T(1024)));
            }
          }
          const T d0 = s.piece(j, 0, 0, 1);
          const T dn = s.piece(j, last, w_last, 1);
          const T dd0 = s.piece(j, 0, 0, 2);
          const T ddn = s.piece(j, last, w_last, 2);
          const T tol = tolerance(T(10), T(2048));
          if (bc == 2) {
            EXPECT_NEAR(dd0, 0, tol);
            EXPECT_NEAR(ddn, 0, tol);
          }
          if (bc == 12 || bc == 36 || bc == 64) {
            EXPECT_EQ(d0, left);
          }
          if (bc == 12 || bc == 24) {
            EXPECT_NEAR(dn, right, tol);
          }
          if (bc == 24 || bc == 48) {
            EXPECT_NEAR(dd0, left, tol);
          }
          if (bc == 36 || bc == 48) {
            EXPECT_NEAR(ddn, right, tol);
          }
          if (bc == 64) {
            EXPECT_NEAR(dn, left, tol);
          }
          if (bc == 0 || bc == 1 || bc == 128) {  // quadratic end cells
            EXPECT_NEAR(s.cell(j, 0)[3], 0, tol);
            EXPECT_NEAR(s.cell(j, last)[3], 0, tol);
          }
        }
      }
    }
  }
}

// A cubic with its own slopes as conditions is reproduced, with all its
// derivatives, inside and outside the partition.
TYPED_TEST(KernelNumerics, HermiteSplinesReproduceCubics) {
  using T = TypeParam;
  for (std::int64_t bc : {12, 24, 36, 48}) {
    spline_case<T> s(11, 1, 1, 16, cubic<T>);
    for (std::int64_t i = 1; i + 1 < s.nx; ++i) s.ic[i - 1] = cubic_slope(s.x[i]);
    const T a = s.x.front();
    const T b = s.x.back();
    const T second_a = T(1) + T(1.5) * a;
    const T second_b = T(1) + T(1.5) * b;
    const T l = (bc == 12 || bc == 36) ? cubic_slope(a) : second_a;
    const T r = (bc == 12 || bc == 24) ? cubic_slope(b) : second_b;
    ASSERT_EQ(s.construct(4, bc, {l, r}), 0);
    std::vector<T> sites = {a - T(0.5), a, T(0.1), s.x[3], T(1.7), b, b + T(0.25)};
    const std::int64_t n = static_cast<std::int64_t>(sites.size());
    std::vector<T> results(static_cast<std::size_t>(n * 4));
    std::int64_t orders[4] = {1, 1, 1, 1};
    ASSERT_EQ(df::df_interpolate_1d<T>(s.task, 1, 1, n, sites.data(), 1, 4, orders, 0, results.data(), 16, nullptr), 0);
    for (std::int64_t i = 0; i < n; ++i) {
      const T x = sites[i];
      const T expected[4] = {cubic<T>(0, x), cubic_slope(x), second_a + T(1.5) * (x - a), T(1.5)};
      for (int d = 0; d < 4; ++d) EXPECT_NEAR(results[i * 4 + d], expected[d], tolerance(T(30), T(4096))) << x;
    }
  }
}

// The search index of a plain count, with the end rules. A site is at or right
// of uniform breakpoint i when (x - a)*(nx - 1) >= (b - a)*i.
template <typename T>
std::int64_t reference_index(const spline_case<T>& s, T x) {
  if (s.part_hint == 4) {
    const T a = s.partition[0];
    const T b = s.partition[1];
    if (x == b) return s.nx - 1;
    if (x < a) return 0;
    if (x > b) return s.nx;
    if (x != x) return 1;
    std::int64_t j = 0;
    while (j < s.nx && (x - a) * static_cast<T>(s.nx - 1) >= (b - a) * static_cast<T>(j)) ++j;
    return j;
  }
  if (x == s.x.back()) return s.nx - 1;
  return std::count_if(s.x.begin(), s.x.end(), [&](T xi) { return xi <= x; });
}

std::int64_t slot(std::int64_t hint, std::int64_t ny, std::int64_t ns, std::int64_t k, std::int64_t f, std::int64_t s,
                  std::int64_t d) {
  switch (hint) {
    case 16: return (f * ns + s) * k + d;
    case 32: return (f * k + d) * ns + s;
    case 256: return (s * ny + f) * k + d;
    default: return (s * k + d) * ny + f;
  }
}

using interpolation_params = std::tuple<std::int64_t, std::int64_t, std::int64_t>;  // partition, sites, layout

template <typename T>
void check_interpolation(const interpolation_params& p) {
  // Plain copies: lambdas below capture them, which structured bindings cannot be in C++17.
  const std::int64_t part_hint = std::get<0>(p), site_hint = std::get<1>(p), layout = std::get<2>(p);
  spline_case<T> s(23, 2, part_hint, 16, waves<T>);
  ASSERT_EQ(s.construct(4, 2), 0);
  // Enough sites for the threaded path; breakpoints, ends and sites outside.
  const std::int64_t n = 40000;
  std::vector<T> sites(static_cast<std::size_t>(n));
  std::mt19937 rng(7);
  std::uniform_real_distribution<T> where(s.x.front() - 1, s.x.back() + 1);
  for (auto& x : sites) x = where(rng);
  std::copy(s.x.begin(), s.x.end(), sites.begin());
  if (site_hint == 64) std::sort(sites.begin() + 100, sites.end());
  if (site_hint == 4) sites = {s.x.front() - T(0.3), s.x.back() + T(0.2)};
  auto site = [&](std::int64_t i) {
    if (site_hint != 4) return sites[i];
    const T step = (sites[1] - sites[0]) / static_cast<T>(n - 1);
    return step * static_cast<T>(i) + sites[0];
  };
  // Orders 0 and 2 of K = 4 slots: slots 1 and 3 keep their sentinel.
  const T sentinel = T(-12345);
  std::vector<T> results(static_cast<std::size_t>(s.ny * n * 4), sentinel);
  std::vector<std::int64_t> cells(static_cast<std::size_t>(n), -7);
  std::int64_t orders[4] = {1, 0, 1, 0};
  ASSERT_EQ(df::df_interpolate_1d<T>(s.task, 3, 1, n, sites.data(), site_hint, 4, orders, 0, results.data(), layout,
                                     cells.data()),
            0);
  for (std::int64_t i = 0; i < n; ++i) {
    const T x = site(i);
    const std::int64_t j = reference_index(s, x);
    ASSERT_EQ(cells[i], j) << "site " << x;
    const std::int64_t k = std::clamp<std::int64_t>(j - 1, 0, s.nx - 2);
    for (std::int64_t f = 0; f < s.ny; ++f) {
      for (int d = 0; d < 4; ++d) {
        const T got = results[slot(layout, s.ny, n, 4, f, i, d)];
        if (d % 2 == 1) {
          ASSERT_EQ(got, sentinel);
          continue;
        }
        const T expected = s.piece(f, k, x - s.x[k], d);
        ASSERT_NEAR(got, expected, tolerance(std::max(T(64), std::fabs(expected)), T(16)))
            << "site " << x << " order " << d;
      }
    }
  }
}

class InterpolationLayouts : public ::testing::TestWithParam<interpolation_params> {};

TEST_P(InterpolationLayouts, EqualAHostReferenceInFloatAndDouble) {
  check_interpolation<float>(GetParam());
  check_interpolation<double>(GetParam());
}

INSTANTIATE_TEST_SUITE_P(AllHints, InterpolationLayouts,
                         ::testing::Combine(::testing::Values(1, 2, 4), ::testing::Values(0, 1, 4, 64),
                                            ::testing::Values(16, 32, 256, 512)));

TYPED_TEST(KernelNumerics, SortedSiteHintOnUnsortedSitesAndGivenCellsMatchTheSearch) {
  using T = TypeParam;
  spline_case<T> s(50, 3, 1, 32, waves<T>);
  ASSERT_EQ(s.construct(2), 0);
  std::vector<T> sites(5000);
  std::mt19937 rng(3);
  std::uniform_real_distribution<T> where(T(-3), T(4));
  for (auto& x : sites) x = where(rng);
  const std::int64_t n = static_cast<std::int64_t>(sites.size());
  std::int64_t orders[2] = {1, 1};
  auto run = [&](std::int64_t type, std::int64_t hint, std::vector<std::int64_t>* cells) {
    std::vector<T> r(static_cast<std::size_t>(3 * n * 2));
    EXPECT_EQ(df::df_interpolate_1d<T>(s.task, type, 1, n, sites.data(), hint, 2, orders, 0, r.data(), 256,
                                       cells != nullptr ? cells->data() : nullptr),
              0);
    return r;
  };
  std::vector<std::int64_t> cells(sites.size());
  ASSERT_EQ(df::df_interpolate_1d<T>(s.task, 2, 1, n, sites.data(), 1, 0, nullptr, 0, nullptr, 16, cells.data()), 0);
  const std::vector<T> listed = run(1, 1, nullptr);
  EXPECT_EQ(run(1, 64, nullptr), listed);
  EXPECT_EQ(run(4, 1, &cells), listed);
}

TYPED_TEST(KernelNumerics, NonFiniteAndFarSitesGetCellsInRange) {
  using T = TypeParam;
  const T inf = std::numeric_limits<T>::infinity();
  for (std::int64_t part_hint : {1, 4}) {
    spline_case<T> s(6, 1, part_hint, 16, waves<T>);
    ASSERT_EQ(s.construct(4, 2), 0);
    std::vector<T> sites = {std::numeric_limits<T>::quiet_NaN(), inf, -inf, T(1e30), T(-1e30)};
    std::vector<std::int64_t> cells(sites.size(), -1);
    ASSERT_EQ(df::df_interpolate_1d<T>(s.task, 2, 1, 5, sites.data(), 1, 0, nullptr, 0, nullptr, 16, cells.data()), 0);
    for (std::int64_t c : cells) EXPECT_TRUE(c >= 0 && c <= s.nx) << c;
    EXPECT_EQ(cells[1], s.nx);
    EXPECT_EQ(cells[2], 0);
  }
}

TYPED_TEST(KernelNumerics, ExtremeUniformPartitionsKeepTheSearchContract) {
  using T = TypeParam;
  const T big = std::numeric_limits<T>::max();
  const T inf = std::numeric_limits<T>::infinity();
  auto indices = [](std::int64_t nx, std::vector<T> ends, std::vector<T> sites) {
    df::task_record* task = nullptr;
    std::vector<std::int64_t> cells(sites.size(), -1);
    EXPECT_EQ(df::df_new_task_1d<T>(&task, nx, ends.data(), 4, 0, nullptr, 16), 0);
    EXPECT_EQ(df::df_interpolate_1d<T>(task, 2, 1, std::int64_t(sites.size()), sites.data(), 1, 0, nullptr, 0,
                                       nullptr, 16, cells.data()),
              0);
    df::df_delete_task(&task);
    return cells;
  };
  // nx - 1 rounds up to 2^63, which no quotient may be converted from.
  const std::int64_t most = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(indices(most, {T(0), T(1)}, {T(1), T(2), inf}), (std::vector<std::int64_t>{most - 1, most, most}));
  // b - a overflows, so every quotient is NaN: sites past b still get nx.
  EXPECT_EQ(indices(5, {-big, big}, {big, inf, -inf}), (std::vector<std::int64_t>{4, 5, 0}));

  // Counts whose bytes could not be addressed are refused before any pointer is formed.
  const std::int64_t huge = std::int64_t{1} << 60;
  T ends[2] = {T(0), T(1)};
  T value = 0;
  df::task_record* task = nullptr;
  EXPECT_EQ(df::df_new_task_1d<T>(&task, huge, ends, 4, 4, &value, 16), QRX_DF_STATUS_BAD_NY);
  ASSERT_EQ(df::df_new_task_1d<T>(&task, huge, ends, 4, 0, &value, 16), 0);
  EXPECT_EQ(df::df_edit_val(task, 16, 4), QRX_DF_STATUS_BAD_NY);
  df::df_delete_task(&task);
}

// Sites exactly on the interior breakpoints of listed partitions, and just
// below them, in random order (so the search index and the in-bucket count
// decide, not a walk): a site on breakpoint i has i + 1 breakpoints at or
// left of it, the one below has i. Breakpoints crowd towards the left end
// (x = t^p), so the fullest bucket holds from one to dozens of them and
// every candidate count the search has is used.
TYPED_TEST(KernelNumerics, SitesOnListedBreakpointsGetTheirSearchIndices) {
  using T = TypeParam;
  std::mt19937 rng(5);
  for (double crowding : {1.0, 1.5, 2.0})
  for (std::int64_t nx : {3, 17, 100, 1000, 4097}) {
    spline_case<T> s(nx, 1, 1, 16, waves<T>);
    for (std::int64_t i = 1; i + 1 < nx; ++i) s.x[i] = T(std::pow(double(i) / double(nx - 1), crowding));
    s.x[0] = T(0);
    s.x[nx - 1] = T(1);
    s.partition = s.x;
    ASSERT_EQ(s.construct(2), 0);
    std::vector<std::pair<T, std::int64_t>> expected;
    for (std::int64_t i = 1; i < nx - 1; ++i) {
      expected.emplace_back(s.x[i], i + 1);
      expected.emplace_back(std::nextafter(s.x[i], T(-10)), i);
    }
    std::shuffle(expected.begin(), expected.end(), rng);
    std::vector<T> sites;
    for (const auto& e : expected) sites.push_back(e.first);
    const auto n = static_cast<std::int64_t>(sites.size());
    std::vector<std::int64_t> cells(sites.size(), -1);
    ASSERT_EQ(df::df_interpolate_1d<T>(s.task, 2, 1, n, sites.data(), 1, 0, nullptr, 0, nullptr, 16, cells.data()), 0);
    int failures = 0;
    for (std::int64_t k = 0; k < n; ++k) {
      if (cells[k] != expected[k].second && ++failures <= 10)
        ADD_FAILURE() << "nx " << nx << " crowding " << crowding << " site " << sites[k] << ": index "
                      << expected[k].second << " expected, got " << cells[k];
    }
  }
}

using test_support::uniform_breakpoint_site;

// On every interior breakpoint of partitions of many sizes and ranges (cells of at
// least 64 units of rounding), the site on it and the one just below get
// their cells from the kernel library's search and the GPU search alike.
TYPED_TEST(KernelNumerics, SitesOnUniformBreakpointsGetTheirCellsAsInTheGpuSearch) {
  using T = TypeParam;
  const std::pair<double, double> ranges[] = {{0, 1}, {-1, 1}, {0.1, 0.7}, {1000, 1001.5}, {-2e5, 3e5}};
  for (auto [lo, hi] : ranges) {
    for (std::int64_t nx : {3, 7, 10, 101, 1000, 4097, 65536}) {
      const T h = (T(hi) - T(lo)) / T(nx - 1), ulp = std::numeric_limits<T>::epsilon() * std::max(-T(lo), T(hi));
      if (h < 64 * ulp) continue;
      spline_case<T> s(nx, 1, 4, 16, waves<T>, T(lo), T(hi));
      ASSERT_EQ(s.construct(2), 0);
      std::vector<T> sites;
      for (std::int64_t i = 1; i < nx - 1; ++i) {
        const T on = uniform_breakpoint_site(T(lo), T(hi), nx, i);
        sites.insert(sites.end(), {on, std::nextafter(on, T(lo))});
      }
      const auto n = static_cast<std::int64_t>(sites.size());
      std::vector<std::int64_t> cells(sites.size(), -1);
      ASSERT_EQ(df::df_interpolate_1d<T>(s.task, 2, 1, n, sites.data(), 1, 0, nullptr, 0, nullptr, 16, cells.data()), 0);
      int failures = 0;
      for (std::int64_t k = 0; k < n; ++k) {
        const std::int64_t want = k / 2 + (k % 2 == 0 ? 2 : 1);  // search index: breakpoints at or left of the site
        const std::int64_t gpu = gpu_df::find_cell<gpu_df::partition_hint::uniform>(s.partition.data(), nx, sites[k]);
        if ((cells[k] != want || gpu != want - 1) && ++failures <= 10)
          ADD_FAILURE() << "[" << lo << ", " << hi << "] nx " << nx << " site " << sites[k] << ": index " << want
                        << " expected, kernels " << cells[k] << ", GPU cell " << gpu;
      }
    }
  }
}

TYPED_TEST(KernelNumerics, PeriodicEndsMustAgreeWithinRounding) {
  using T = TypeParam;
  auto cosine = [](std::int64_t, T x) { return std::cos(x); };
  const T two_pi = T(2 * 3.14159265358979323846);
  spline_case<T> equal_ends(12, 2, 1, 16, cosine, T(0), two_pi);
  ASSERT_EQ(equal_ends.construct(4, 64, {T(0), T(0)}), 0);
  spline_case<T> unequal_ends(12, 2, 1, 16, cosine, T(0), T(5));
  EXPECT_EQ(unequal_ends.construct(4, 64, {T(0), T(0)}), QRX_DF_STATUS_NOT_PERIODIC);
  EXPECT_TRUE(std::all_of(unequal_ends.coeffs.begin(), unequal_ends.coeffs.end(), [](T c) { return c == T(0); }));
}

TYPED_TEST(KernelNumerics, AllocationFailureReportsBadAllocAndKeepsTheTask) {
  using T = TypeParam;
  spline_case<T> s(5, 1, 4, 16, waves<T>);
  ASSERT_EQ(s.construct(2), 0);
  EXPECT_EQ(df::df_edit_val(s.task, 16, std::int64_t{1} << 40), QRX_DF_STATUS_BAD_ALLOC);
  T site = T(0.5);
  T result = 0;
  std::int64_t order = 1;
  EXPECT_EQ(df::df_interpolate_1d<T>(s.task, 1, 1, 1, &site, 1, 1, &order, 0, &result, 16, nullptr), 0);
  const std::int64_t k = reference_index(s, site) - 1;
  EXPECT_NEAR(result, s.piece(0, k, site - s.x[k], 0), tolerance(result));
}

TYPED_TEST(KernelNumerics, UnknownValuesAndMissingMethodsGiveNonZeroStatuses) {
  using T = TypeParam;
  spline_case<T> bad_partition(5, 1, 3, 16, waves<T>);
  EXPECT_NE(bad_partition.construct(2), 0);
  spline_case<T> bad_layout(5, 1, 1, 64, waves<T>);
  EXPECT_NE(bad_layout.construct(2), 0);
  spline_case<T> bad_bc(5, 1, 1, 16, waves<T>);
  EXPECT_NE(bad_bc.construct(4, 20), 0);

  spline_case<T> s(5, 1, 1, 16, waves<T>);
  ASSERT_EQ(s.construct(4, 2), 0);
  T site = 0;
  T result = 0;
  std::int64_t order = 1;
  EXPECT_NE(df::df_interpolate_1d<T>(s.task, 1, 1, 1, &site, 1, 1, &order, 0, &result, 64, nullptr), 0);
  EXPECT_NE(df::df_interpolate_1d<T>(s.task, 1, 1, 1, &site, 1, 1, &order, 5, &result, 16, nullptr), 0);
  EXPECT_NE(df::df_edit_pp_spline_1d<T>(s.task, 4, 3, 2, nullptr, 1, s.ic.data(), s.coeffs.data(), 32), 0);
  EXPECT_NE(df::df_edit_val(s.task, 17, 1), 0);
  // Quadratic splines are not provided: the kernel says so and writes nothing.
  std::fill(s.coeffs.begin(), s.coeffs.end(), T(0));
  const std::pair<std::int64_t, std::int64_t> missing_methods[] = {{3, 0}, {3, 1}};
  for (auto [order_, type] : missing_methods) {
    ASSERT_EQ(df::df_edit_pp_spline_1d<T>(s.task, order_, type, 0, nullptr, 0, nullptr, s.coeffs.data(), 16), 0);
    EXPECT_EQ(df::df_construct_1d<T>(s.task, 0, 0), QRX_DF_STATUS_METHOD_NOT_PROVIDED);
  }
  EXPECT_TRUE(std::all_of(s.coeffs.begin(), s.coeffs.end(), [](T c) { return c == T(0); }));
}

}  // namespace
