// The natural, Hyman, Akima, Bessel, PCHIP, modified Akima, Steffen and
// default cubic kernels, driven through
// the front-end, against references written from the textbook formulations
// in double precision (the natural spline from its second-derivative
// equations), and the properties each kind promises: polynomial
// reproduction, C2 continuity, monotonicity, locality, refused arguments.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "qrx_df/c2_blocked.hpp"
#include "qrx_df/c2_system.hpp"
#include "detail/cpu_impl/df_frontend.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "support/cubic_reference.hpp"

namespace df = velora::qrx::experimental::data_fitting::detail;

namespace {

using cubic_reference::end_slopes;
using cubic_reference::reference_slopes;

constexpr std::int64_t natural = QRX_DF_CUBIC_NATURAL, hyman = QRX_DF_CUBIC_HYMAN, akima = QRX_DF_CUBIC_AKIMA,
                       bessel = QRX_DF_CUBIC_BESSEL, default_cubic = QRX_DF_CUBIC_DEFAULT, pchip = QRX_DF_CUBIC_PCHIP,
                       makima = QRX_DF_CUBIC_MAKIMA, steffen = QRX_DF_CUBIC_STEFFEN;
constexpr std::int64_t periodic = QRX_DF_BC_PERIODIC;

// A partition (listed unevenly, or by its ends), ny functions on it in either
// layout, and the spline the front-end builds from them.
template <typename T>
struct kind_case {
  std::int64_t nx, ny, part_hint, func_hint;
  std::vector<double> x;  // every breakpoint, as the partition places it
  std::vector<T> partition, values, coeffs;
  df::task_record* task = nullptr;

  template <typename F>
  kind_case(std::int64_t nx_, std::int64_t ny_, std::int64_t part_hint_, std::int64_t func_hint_, F f)
      : nx(nx_), ny(ny_), part_hint(part_hint_), func_hint(func_hint_), x(nx_) {
    const T lo = T(-1.5), hi = T(2.5);
    const double uneven_end = nx - 1 + 0.3 * std::sin(nx - 1.0);
    for (std::int64_t i = 0; i < nx; ++i) {
      x[i] = part_hint == 4 ? lo + (double(hi) - lo) * i / (nx - 1)
                            : double(T(lo + (hi - lo) * (i + 0.3 * std::sin(double(i))) / uneven_end));
    }
    x[nx - 1] = hi;
    partition = part_hint == 4 ? std::vector<T>{lo, hi} : std::vector<T>(x.begin(), x.end());
    values.resize(static_cast<std::size_t>(nx * ny));
    for (std::int64_t j = 0; j < ny; ++j) {
      for (std::int64_t i = 0; i < nx; ++i) at(j, i) = static_cast<T>(f(j, i, x[i]));
    }
  }
  ~kind_case() {
    if (task != nullptr) df::df_delete_task(&task);
  }
  T& at(std::int64_t j, std::int64_t i) { return values[func_hint == 32 ? i * ny + j : j * nx + i]; }
  std::vector<double> row(std::int64_t j) {
    std::vector<double> y(static_cast<std::size_t>(nx));
    for (std::int64_t i = 0; i < nx; ++i) y[i] = at(j, i);
    return y;
  }
  const T* cell(std::int64_t j, std::int64_t k) const { return coeffs.data() + (j * (nx - 1) + k) * 4; }
  T width(std::int64_t k) const { return T(x[k + 1] - x[k]); }

  // bc_values and ic may be null; default cubics get ic_type 2.
  std::int32_t construct(std::int64_t type, std::int64_t bc, T* bc_values, T* ic) {
    coeffs.assign(static_cast<std::size_t>((nx - 1) * ny * 4), T(0));
    if (task != nullptr) df::df_delete_task(&task);
    if (auto s = df::df_new_task_1d<T>(&task, nx, partition.data(), part_hint, ny, values.data(), func_hint)) return s;
    const std::int64_t ic_type = type == default_cubic ? 2 : 0;
    if (auto s = df::df_edit_pp_spline_1d<T>(task, 4, type, bc, bc_values, ic_type, ic, coeffs.data(), 16)) return s;
    return df::df_construct_1d<T>(task, 0, 0);
  }

  // Derivative d of the cubic of function j on cell k at offset t.
  T piece(std::int64_t j, std::int64_t k, T t, int d) const {
    const T* c = cell(j, k);
    T sum = 0;
    for (int q = 3; q >= d; --q) sum = sum * t + c[q] * T(d == 0 ? 1 : d == 1 ? q : d == 2 ? q * (q - 1) : 6);
    return sum;
  }
};

template <typename T>
T tolerance(double scale, double ulps = 256) {
  return T(ulps * std::numeric_limits<T>::epsilon() * std::max(1.0, scale));
}

// ---- every kind against its reference ----

struct kind_params {
  std::int64_t type, bc;
};
using layout_params = std::tuple<kind_params, std::int64_t, std::int64_t>;  // kind, partition, function layout

double wavy(std::int64_t j, std::int64_t, double x) { return std::sin(1.3 * x + j) + 0.2 * j * x + 0.1 * x * x; }
// Period 4, the length of the partitions; callers copy the first value to the last.
double periodic_wave(std::int64_t j, std::int64_t, double x) {
  return std::sin(1.5707963267948966 * x + j) + 0.3 * std::cos(3.141592653589793 * x);
}

template <typename T>
void check_kind(kind_params k, std::int64_t part_hint, std::int64_t func_hint, std::int64_t nx) {
  SCOPED_TRACE(::testing::Message() << "type " << k.type << " bc " << k.bc << " partition " << part_hint << " layout "
                                    << func_hint << " nx " << nx << (sizeof(T) == 4 ? " float" : " double"));
  const bool is_periodic = k.bc == periodic;
  kind_case<T> c(nx, 3, part_hint, func_hint, is_periodic ? periodic_wave : wavy);
  if (is_periodic) {
    for (std::int64_t j = 0; j < c.ny; ++j) c.at(j, nx - 1) = c.at(j, 0);
  }
  T ends[2] = {T(0.7), T(-1.1)};
  std::vector<T> ic(static_cast<std::size_t>(nx - 2));
  for (std::size_t i = 0; i < ic.size(); ++i) ic[i] = T(std::cos(1.7 * double(i)));
  ASSERT_EQ(c.construct(k.type, k.bc, ends, ic.data()), 0);
  const std::vector<double> icd(ic.begin(), ic.end());
  for (std::int64_t j = 0; j < c.ny; ++j) {
    const std::vector<double> y = c.row(j);
    const end_slopes d = reference_slopes(k.type, k.bc, c.x, y, ends[0], ends[1], icd);
    // Secants lose the values' rounding divided by the width: slopes are
    // good to that, second derivatives to that over the width again.
    double scale = 1, h_min = 1;
    for (std::int64_t i = 0; i < nx; ++i) scale = std::max(scale, std::fabs(y[i]));
    for (auto [dl, dr] : d) scale = std::max({scale, std::fabs(dl), std::fabs(dr)});
    for (std::int64_t i = 0; i + 1 < nx; ++i) h_min = std::min(h_min, c.x[i + 1] - c.x[i]);
    const T tol = tolerance<T>(scale / h_min, 64);
    const T tol2 = tolerance<T>(scale / (h_min * h_min), 64);
    int failures = 0;
    for (std::int64_t q = 0; q + 1 < nx && failures < 5; ++q) {
      const T w = c.width(q);
      const bool ok = c.cell(j, q)[0] == T(y[q]) && std::fabs(c.piece(j, q, w, 0) - y[q + 1]) <= tol &&
                      std::fabs(c.cell(j, q)[1] - d[q].first) <= tol &&
                      std::fabs(c.piece(j, q, w, 1) - d[q].second) <= tol;
      // The natural spline is C2 (across the two ends when periodic).
      const std::int64_t before = q > 0 ? q - 1 : (is_periodic ? nx - 2 : -1);
      const bool c2 = k.type != natural || before < 0 ||
                      (std::fabs(c.piece(j, before, c.width(before), 1) - c.piece(j, q, 0, 1)) <= tol &&
                       std::fabs(c.piece(j, before, c.width(before), 2) - c.piece(j, q, 0, 2)) <= tol2);
      if (!ok || !c2) {
        ++failures;
        ADD_FAILURE() << "function " << j << " cell " << q << ": slopes " << c.cell(j, q)[1] << ", "
                      << c.piece(j, q, w, 1) << " expected " << d[q].first << ", " << d[q].second
                      << (c2 ? "" : "; not C2");
      }
    }
  }
}

class KindsAgainstReferences : public ::testing::TestWithParam<layout_params> {};

TEST_P(KindsAgainstReferences, InFloatAndDoubleForShortAndLongerPartitions) {
  const auto [kind, part_hint, func_hint] = GetParam();
  for (std::int64_t nx : {3, 4, 13}) {
    check_kind<float>(kind, part_hint, func_hint, nx);
    check_kind<double>(kind, part_hint, func_hint, nx);
  }
}

const kind_params all_kinds[] = {{natural, 0},        {natural, 2},        {natural, 12},       {natural, 24},
                                 {natural, 36},       {natural, 48},       {natural, 64},       {natural, 256},
                                 {hyman, 0},          {hyman, 12},         {hyman, 48},         {hyman, 64},
                                 {hyman, 256},        {akima, 0},          {akima, 12},         {bessel, 0},
                                 {bessel, 12},        {default_cubic, 0},  {default_cubic, 2},  {default_cubic, 24},
                                 {default_cubic, 36}, {default_cubic, 64}, {default_cubic, 128}, {pchip, 0},
                                 {pchip, 12},         {makima, 0},         {makima, 12},        {steffen, 0},
                                 {steffen, 12}};

INSTANTIATE_TEST_SUITE_P(AllKinds, KindsAgainstReferences,
                         ::testing::Combine(::testing::ValuesIn(all_kinds), ::testing::Values(1, 2, 4),
                                            ::testing::Values(16, 32)),
                         [](const auto& info) {
                           const kind_params k = std::get<0>(info.param);
                           return "type" + std::to_string(k.type) + "_bc" + std::to_string(k.bc) + "_partition" +
                                  std::to_string(std::get<1>(info.param)) + "_layout" +
                                  std::to_string(std::get<2>(info.param));
                         });

// Long partitions: many work units per function, and functions spread over threads.
TEST(KindsAgainstReferences, LongPartitionsOnTheThreadedPaths) {
  for (kind_params k :
       {kind_params{natural, 12}, {natural, 0}, {hyman, 2}, {akima, 0}, {bessel, 12}, {default_cubic, 48},
        {pchip, 0}, {makima, 12}, {steffen, 0}}) {
    check_kind<double>(k, 1, 32, 20001);
    check_kind<float>(k, 4, 16, 20001);
  }
}

// ---- the blocked solve of long C2 systems ----

// The coefficients of the kernel's serial solve (the Thomas algorithm, one
// function at a time) of the spline that c holds.
template <typename T>
std::vector<T> serial_c2_coeffs(kind_case<T>& c, std::int64_t type, std::int64_t bc, const T* ends) {
  std::vector<T> coeffs(c.coeffs.size(), T(0));
  std::vector<const T*> rows(static_cast<std::size_t>(c.ny));
  std::vector<T*> cells(static_cast<std::size_t>(c.ny));
  for (std::int64_t j = 0; j < c.ny; ++j) {
    rows[j] = c.values.data() + j * c.nx;
    cells[j] = coeffs.data() + j * (c.nx - 1) * 4;
  }
  qrx_df::construct_setup<T> s{};
  s.nx = c.nx;
  s.ny = c.ny;
  s.x = c.partition.data();
  s.uniform = c.part_hint == 4;
  s.col_major = c.func_hint == 32;
  s.rows = rows.data();
  s.values = c.values.data();
  s.coeffs = cells.data();
  s.bc = bc;
  s.left = ends[0];
  s.right = ends[1];
  auto solve = [&](auto uniform, auto col_major, auto monotone) {
    for (std::int64_t j = 0; j < c.ny; ++j) {
      qrx_df::c2_system<T, decltype(uniform)::value, decltype(col_major)::value, decltype(monotone)::value>(s, j)
          .solve_serial();
    }
  };
  auto with_monotone = [&](auto uniform, auto col_major) {
    if (type == hyman) {
      solve(uniform, col_major, std::true_type{});
    } else {
      solve(uniform, col_major, std::false_type{});
    }
  };
  auto with_layout = [&](auto uniform) {
    if (s.col_major) {
      with_monotone(uniform, std::true_type{});
    } else {
      with_monotone(uniform, std::false_type{});
    }
  };
  if (s.uniform) {
    with_layout(std::true_type{});
  } else {
    with_layout(std::false_type{});
  }
  return coeffs;
}

// Long partitions are solved by blocks, spread over the threads; the slopes
// differ from the serial solve's by a few roundings of the largest slope,
// and the other coefficients follow from them by the same formulas.
template <typename T>
void check_blocked_against_serial(std::int64_t type, std::int64_t bc, std::int64_t part_hint, std::int64_t func_hint) {
  SCOPED_TRACE(::testing::Message() << "type " << type << " bc " << bc << " partition " << part_hint << " layout "
                                    << func_hint << (sizeof(T) == 4 ? " float" : " double"));
  const std::int64_t nx = 100001;
  ASSERT_TRUE(qrx_df::c2_solve_by_blocks(nx - 1));
  const bool is_periodic = bc == periodic;
  kind_case<T> c(nx, 3, part_hint, func_hint, [&](std::int64_t j, std::int64_t, double x) {
    // Waves of several lengths over [-1.5, 2.5], some across a few cells;
    // Hyman's functions rise with flat runs, so that its limit acts.
    const double wave = std::sin(40 * x + j) + 0.5 * std::cos(3000 * x * (j + 1)) + 0.1 * x;
    return type == hyman ? std::floor(1000 * x) / 1000 + 0.0005 * std::sin(2000 * x + j) : wave;
  });
  if (is_periodic) {
    for (std::int64_t j = 0; j < c.ny; ++j) c.at(j, nx - 1) = c.at(j, 0);
  }
  T ends[2] = {T(0.7), T(-1.1)};
  ASSERT_EQ(c.construct(type, bc, ends, nullptr), 0);
  const std::vector<T> serial = serial_c2_coeffs(c, type, bc, ends);
  const T eps = std::numeric_limits<T>::epsilon();
  for (std::int64_t j = 0; j < c.ny; ++j) {
    T largest = 0;
    for (std::int64_t k = 0; k + 1 < nx; ++k) largest = std::max(largest, std::fabs(serial[(j * (nx - 1) + k) * 4 + 1]));
    const T tol = T(16) * eps * largest;
    int failures = 0;
    for (std::int64_t k = 0; k + 1 < nx && failures < 5; ++k) {
      const T* got = c.cell(j, k);
      const T* want = serial.data() + (j * (nx - 1) + k) * 4;
      const T r = T(1) / c.width(k);
      const bool ok = got[0] == want[0] && std::fabs(got[1] - want[1]) <= tol &&
                      std::fabs(got[2] - want[2]) <= T(3) * tol * r + T(8) * eps * std::fabs(want[2]) &&
                      std::fabs(got[3] - want[3]) <= T(2) * tol * r * r + T(8) * eps * std::fabs(want[3]);
      if (!ok) {
        ++failures;
        ADD_FAILURE() << "function " << j << " cell " << k << ": " << got[0] << " " << got[1] << " " << got[2] << " "
                      << got[3] << " serial " << want[0] << " " << want[1] << " " << want[2] << " " << want[3];
      }
    }
  }
}

TEST(BlockedC2Solve, MatchesTheSerialSolveForEveryEndKind) {
  for (std::int64_t bc : {0, 2, 12, 24, 36, 48, 64, 256}) {
    for (auto [part_hint, func_hint] : {std::pair<std::int64_t, std::int64_t>{1, 16}, {4, 32}, {1, 32}, {4, 16}}) {
      check_blocked_against_serial<double>(natural, bc, part_hint, func_hint);
      check_blocked_against_serial<float>(natural, bc, part_hint, func_hint);
    }
  }
  for (std::int64_t bc : {0, 2, 12, 48, 64, 256}) {
    check_blocked_against_serial<double>(hyman, bc, 1, 16);
    check_blocked_against_serial<float>(hyman, bc, 4, 32);
  }
}

// ---- properties ----

template <typename T>
class ConstructKinds : public ::testing::Test {};
using precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(ConstructKinds, precisions);

// Polynomials of the degree a kind reproduces come back exactly, with their
// own slopes or second derivatives as boundary values where the kind takes them.
TYPED_TEST(ConstructKinds, ReproducePolynomialsOfTheirDegree) {
  using T = TypeParam;
  struct reproduction {
    std::int64_t type, bc, degree, nx;
  };
  const reproduction cases[] = {{natural, 12, 3, 9},  {natural, 48, 3, 9},       {natural, 256, 3, 9},
                                {natural, 256, 2, 3}, {default_cubic, 12, 3, 9}, {default_cubic, 36, 3, 9},
                                {bessel, 0, 2, 9},    {natural, 0, 1, 9},        {natural, 24, 1, 9},
                                {natural, 256, 1, 9}, {hyman, 2, 1, 9},          {hyman, 256, 1, 9},
                                {akima, 0, 1, 3},     {akima, 0, 1, 9},          {akima, 12, 1, 9},
                                {bessel, 12, 1, 9},   {default_cubic, 2, 1, 9},  {default_cubic, 128, 1, 9},
                                {pchip, 0, 1, 3},     {pchip, 0, 1, 9},          {makima, 0, 1, 9},
                                {makima, 12, 1, 9},   {steffen, 0, 1, 3},        {steffen, 0, 1, 9}};
  for (const reproduction& r : cases) {
    for (std::int64_t part_hint : {1, 4}) {
      SCOPED_TRACE(::testing::Message() << "type " << r.type << " bc " << r.bc << " degree " << r.degree << " nx "
                                        << r.nx << " partition " << part_hint);
      const double a[4] = {0.5, -1.25, r.degree >= 2 ? 0.75 : 0, r.degree >= 3 ? 0.375 : 0};
      auto p = [&](double x, int d) {  // derivative d of the polynomial
        double sum = 0;
        for (int q = 3; q >= d; --q) sum = sum * x + a[q] * (d == 0 ? 1 : d == 1 ? q : d == 2 ? q * (q - 1) : 6);
        return sum;
      };
      kind_case<T> c(r.nx, 1, part_hint, 16, [&](std::int64_t, std::int64_t, double x) { return p(x, 0); });
      const double lo = c.x.front(), hi = c.x.back();
      T ends[2] = {T(p(lo, (r.bc & 16) ? 2 : 1)), T(p(hi, (r.bc & 32) ? 2 : 1))};
      std::vector<T> ic;
      for (std::int64_t i = 1; i + 1 < r.nx; ++i) ic.push_back(T(p(c.x[i], 2)));
      ASSERT_EQ(c.construct(r.type, r.bc, ends, ic.data()), 0);
      for (std::int64_t k = 0; k + 1 < r.nx; ++k) {
        for (int q = 0; q < 4; ++q) {
          const double expected = p(c.x[k], q) / (q == 2 ? 2 : q == 3 ? 6 : 1);
          EXPECT_NEAR(c.cell(0, k)[q], expected, tolerance<T>(8, 512)) << "cell " << k << " coefficient " << q;
        }
      }
    }
  }
}

// Monotone data with flat runs and jumps: every Hyman, PCHIP and Steffen
// cell is monotone, while the natural spline through the same data
// overshoots.
TYPED_TEST(ConstructKinds, MonotoneKindsKeepMonotoneDataMonotone) {
  using T = TypeParam;
  std::mt19937 rng(11);
  std::vector<double> steps(41 * 4);
  for (double& s : steps) {
    const double u = std::uniform_real_distribution<double>(0, 1)(rng);
    s = u < 0.25 ? 0.0 : u < 0.4 ? 1 + 4 * u : 0.1 * u;
  }
  auto monotone = [&](std::int64_t j, std::int64_t i, double) {
    double y = 0;
    for (std::int64_t q = 0; q < i; ++q) y += steps[j * 41 + q];
    return j % 2 == 0 ? y : -y;
  };
  const kind_params monotone_kinds[] = {{hyman, 0}, {hyman, 2}, {hyman, 12}, {hyman, 256}, {pchip, 0}, {steffen, 0}};
  for (kind_params k : monotone_kinds) {
    for (std::int64_t part_hint : {1, 4}) {
      SCOPED_TRACE(::testing::Message() << "type " << k.type << " bc " << k.bc << " partition " << part_hint);
      T ends[2] = {T(5), T(-5)};
      kind_case<T> c(41, 4, part_hint, 32, monotone);
      auto wrong_way = [&](std::int64_t j) {
        int cells = 0;
        for (std::int64_t q = 0; q + 1 < c.nx; ++q) {
          for (int t = 0; t <= 32; ++t) {
            const T slope = c.piece(j, q, c.width(q) * T(t) / T(32), 1) * T(j % 2 == 0 ? 1 : -1);
            if (slope < -tolerance<T>(20, 64)) {
              ++cells;
              break;
            }
          }
        }
        return cells;
      };
      ASSERT_EQ(c.construct(k.type, k.bc, ends, nullptr), 0);
      for (std::int64_t j = 0; j < c.ny; ++j) EXPECT_EQ(wrong_way(j), 0) << "function " << j;
      ASSERT_EQ(c.construct(natural, k.bc, ends, nullptr), 0);
      EXPECT_GT(wrong_way(0) + wrong_way(1), 0);
    }
  }
}

// Hermite from every function's own slopes at every breakpoint, in either
// layout of the values: cubics come back exactly; end rules beside them and
// missing slopes are refused.
TYPED_TEST(ConstructKinds, HermiteTakesEveryFunctionsOwnSlopes) {
  using T = TypeParam;
  auto cubic = [](std::int64_t j, double x, int d) {
    const double a[4] = {0.5 - j, 1.25 * j, 0.75 - 0.5 * j, 0.375 * (j - 1)};
    double sum = 0;
    for (int q = 3; q >= d; --q) sum = sum * x + a[q] * (d == 0 ? 1 : d == 1 ? q : d == 2 ? q * (q - 1) : 6);
    return sum;
  };
  for (std::int64_t part_hint : {1, 4}) {
    for (std::int64_t func_hint : {16, 32}) {
      SCOPED_TRACE(::testing::Message() << "partition " << part_hint << " layout " << func_hint);
      kind_case<T> c(11, 3, part_hint, func_hint, [&](std::int64_t j, std::int64_t, double x) { return cubic(j, x, 0); });
      std::vector<T> slopes(c.values.size());
      for (std::int64_t j = 0; j < c.ny; ++j)
        for (std::int64_t i = 0; i < c.nx; ++i)
          slopes[std::size_t(func_hint == 32 ? i * c.ny + j : j * c.nx + i)] = T(cubic(j, c.x[i], 1));
      auto build = [&](std::int64_t bc, const T* ic) {
        c.coeffs.assign(std::size_t((c.nx - 1) * c.ny * 4), T(0));
        if (c.task != nullptr) df::df_delete_task(&c.task);
        EXPECT_EQ(df::df_new_task_1d<T>(&c.task, c.nx, c.partition.data(), part_hint, c.ny, c.values.data(), func_hint), 0);
        T ends[2] = {T(1), T(2)};
        EXPECT_EQ(df::df_edit_pp_spline_1d<T>(c.task, 4, QRX_DF_CUBIC_HERMITE, bc, ends,
                                              QRX_DF_IC_FUNCTION_FIRST_DERIVATIVES, const_cast<T*>(ic), c.coeffs.data(), 16),
                  0);
        return df::df_construct_1d<T>(c.task, 0, 0);
      };
      ASSERT_EQ(build(0, slopes.data()), 0);
      for (std::int64_t j = 0; j < c.ny; ++j)
        for (std::int64_t k = 0; k + 1 < c.nx; ++k)
          for (int q = 0; q < 4; ++q)
            EXPECT_NEAR(c.cell(j, k)[q], cubic(j, c.x[k], q) / (q == 2 ? 2 : q == 3 ? 6 : 1), tolerance<T>(8, 512))
                << "function " << j << " cell " << k << " coefficient " << q;
      EXPECT_EQ(build(12, slopes.data()), QRX_DF_STATUS_BAD_BC_TYPE);
      EXPECT_EQ(build(64, slopes.data()), QRX_DF_STATUS_BAD_BC_TYPE);
      EXPECT_EQ(build(0, nullptr), QRX_DF_STATUS_NO_IC);
    }
  }
}

// Changing one value moves only the slopes within two breakpoints of it,
// so only the cells touching those change, bit for bit.
TYPED_TEST(ConstructKinds, AkimaChangesStayLocal) {
  using T = TypeParam;
  for (std::int64_t p : {2, 9, 17}) {
    kind_case<T> c(20, 1, 1, 16, wavy);
    ASSERT_EQ(c.construct(akima, 0, nullptr, nullptr), 0);
    const std::vector<T> before = c.coeffs;
    c.at(0, p) += T(0.5);
    ASSERT_EQ(c.construct(akima, 0, nullptr, nullptr), 0);
    for (std::int64_t k = 0; k + 1 < c.nx; ++k) {
      const bool near = k >= p - 3 && k <= p + 2;
      const bool same = std::equal(before.begin() + 4 * k, before.begin() + 4 * k + 4, c.coeffs.begin() + 4 * k);
      EXPECT_TRUE(near || same) << "cell " << k << " changed by value " << p;
      if (k == p - 1 || k == p) {
        EXPECT_FALSE(same) << "cell " << k;
      }
    }
  }
}

TYPED_TEST(ConstructKinds, RefuseKindsTheyDoNotTakeAndMissingValues) {
  using T = TypeParam;
  struct refusal {
    std::int64_t type;
    std::vector<std::int64_t> bad, need_values, no_values;
  };
  const refusal cases[] = {{natural, {1, 4, 20, 128, 257, 512, -2}, {12, 24, 36, 48}, {0, 2, 64, 256}},
                           {hyman, {1, 8, 128, 320}, {12, 24, 36, 48}, {0, 2, 64, 256}},
                           {akima, {1, 2, 4, 24, 48, 64, 256}, {12}, {0}},
                           {bessel, {2, 36, 64, 128, 256}, {12}, {0}},
                           {pchip, {1, 2, 4, 24, 48, 64, 256}, {12}, {0}},
                           {makima, {2, 36, 64, 128, 256}, {12}, {0}},
                           {steffen, {1, 8, 48, 64, 128, 256}, {12}, {0}},
                           {default_cubic, {4, 256, 20}, {12, 24, 36, 48, 64}, {0, 1, 2, 128}}};
  for (const refusal& r : cases) {
    SCOPED_TRACE(::testing::Message() << "type " << r.type);
    kind_case<T> c(7, 2, 1, 16, periodic_wave);
    for (std::int64_t j = 0; j < c.ny; ++j) c.at(j, c.nx - 1) = c.at(j, 0);
    std::vector<T> ic(5, T(0.25));
    T ends[2] = {T(1), T(2)};
    for (std::int64_t bc : r.bad) EXPECT_EQ(c.construct(r.type, bc, ends, ic.data()), QRX_DF_STATUS_BAD_BC_TYPE) << bc;
    for (std::int64_t bc : r.need_values) {
      EXPECT_EQ(c.construct(r.type, bc, nullptr, ic.data()), QRX_DF_STATUS_NO_BC_VALUES) << bc;
    }
    for (std::int64_t bc : r.no_values) EXPECT_EQ(c.construct(r.type, bc, nullptr, ic.data()), 0) << bc;
    // Periodic kinds refuse functions whose end values differ, and write nothing.
    if (r.type == natural || r.type == hyman || r.type == default_cubic) {
      c.at(1, c.nx - 1) += T(1e-3);
      EXPECT_EQ(c.construct(r.type, periodic, ends, ic.data()), QRX_DF_STATUS_NOT_PERIODIC);
      EXPECT_TRUE(std::all_of(c.coeffs.begin(), c.coeffs.end(), [](T v) { return v == T(0); }));
    }
    kind_case<T> two_points(2, 1, 1, 16, wavy);
    EXPECT_EQ(two_points.construct(r.type, 0, ends, ic.data()), QRX_DF_STATUS_BAD_NX);
  }
  // The default cubic needs its second derivatives, as such.
  kind_case<T> c(7, 1, 4, 16, wavy);
  std::vector<T> ic(5, T(0.25));
  EXPECT_EQ(c.construct(default_cubic, 2, nullptr, nullptr), QRX_DF_STATUS_NO_IC);
  ASSERT_EQ(df::df_edit_pp_spline_1d<T>(c.task, 4, default_cubic, 2, nullptr, 1, ic.data(), c.coeffs.data(), 16), 0);
  EXPECT_EQ(df::df_construct_1d<T>(c.task, 0, 0), QRX_DF_STATUS_BAD_IC_TYPE);
}

}  // namespace
