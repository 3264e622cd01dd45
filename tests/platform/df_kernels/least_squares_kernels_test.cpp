// The least-squares cubic spline kernels called directly, against a dense
// reference in long double: the B-spline basis from the recursive
// definition on the extended knots and the weighted normal equations solved
// by elimination, then the fit's values anywhere.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "qrx_df_kernels/df_kernels.h"
#include "qrx_lumo_thread/threader.h"
#include "support/service_threader.hpp"

namespace {

using ld = long double;

using kernel_test::threaded;

template <typename T>
struct kernels;
template <>
struct kernels<float> {
  static constexpr auto new_task = &qrx_df_kernel_sNewTask1D;
  static constexpr auto edit = &qrx_df_kernel_sEditPPSpline1D;
  static constexpr auto fit = &qrx_df_kernel_sDFLeastSquaresCubicSpline1D;
};
template <>
struct kernels<double> {
  static constexpr auto new_task = &qrx_df_kernel_dNewTask1D;
  static constexpr auto edit = &qrx_df_kernel_dEditPPSpline1D;
  static constexpr auto fit = &qrx_df_kernel_dDFLeastSquaresCubicSpline1D;
};

// nx knots on [-1, 2] (uneven, or uniform), ndata sites in random order
// spread over them, ny noisy functions (row-major).
template <typename T>
struct lsq_case {
  std::int64_t nx, ndata, ny;
  bool uniform;
  std::vector<T> t, x, y, w, coeffs;

  lsq_case(std::int64_t nx_, std::int64_t ndata_, std::int64_t ny_, unsigned seed, bool uniform_ = false)
      : nx(nx_), ndata(ndata_), ny(ny_), uniform(uniform_) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> e(0.0, 0.05);
    std::vector<double> steps;
    double total = 0;
    for (std::int64_t k = 0; k + 1 < nx; ++k) total += steps.emplace_back(uniform ? 1.0 : 0.5 + u(rng));
    double at = 0;
    t.push_back(T(-1));
    for (std::int64_t k = 0; k + 2 < nx; ++k) t.push_back(T(-1 + 3 * (at += steps[k]) / total));
    t.push_back(T(2));
    for (std::int64_t i = 0; i < ndata; ++i) x.push_back(T(-1 + 3 * u(rng)));
    x[0] = T(-1), x[1] = T(2);  // both ends as sites
    for (std::int64_t j = 0; j < ny; ++j) {
      for (std::int64_t i = 0; i < ndata; ++i) y.push_back(T(std::sin(2.0 * x[i] + j) + e(rng)));
    }
    w.assign(std::size_t(ndata), T(1));
  }

  std::int32_t fit(const T* weights, const qrx_df_threader_block* threader = nullptr, bool col_major = false) {
    coeffs.assign(std::size_t(4 * (nx - 1) * ny), T(0));
    std::vector<T> values = y;
    if (col_major) {
      for (std::int64_t j = 0; j < ny; ++j) {
        for (std::int64_t i = 0; i < ndata; ++i) values[i * ny + j] = y[j * ndata + i];
      }
    }
    const T ends[2] = {t.front(), t.back()};
    qrx_df_task* task = nullptr;
    std::int32_t s = kernels<T>::new_task(&task, nx, uniform ? ends : t.data(),
                                          uniform ? QRX_DF_PARTITION_UNIFORM : QRX_DF_PARTITION_NON_UNIFORM, ny,
                                          nullptr, QRX_DF_FUNCTIONS_ROW_MAJOR, 1);
    if (s == 0) {
      s = kernels<T>::edit(task, QRX_DF_ORDER_CUBIC, QRX_DF_CUBIC_LEAST_SQUARES, 0, nullptr, 0, nullptr,
                           coeffs.data(), QRX_DF_COEFFS_ROW_MAJOR);
    }
    if (s == 0) {
      s = kernels<T>::fit(task, x.data(), values.data(), ndata,
                          col_major ? QRX_DF_FUNCTIONS_COL_MAJOR : QRX_DF_FUNCTIONS_ROW_MAJOR, weights, threader);
    }
    qrx_df_kernel_DeleteTask(&task);
    return s;
  }

  // Derivative `order` of function j at knot k + s from cell k.
  ld at(std::int64_t j, std::int64_t k, ld s, int order = 0) const {
    const T* c = coeffs.data() + (j * (nx - 1) + k) * 4;
    if (order == 0) return c[0] + s * (c[1] + s * (c[2] + s * c[3]));
    if (order == 1) return c[1] + s * (2 * ld(c[2]) + 3 * s * c[3]);
    return 2 * ld(c[2]) + 6 * s * c[3];
  }
  ld value(std::int64_t j, ld v) const {
    const std::int64_t k = std::min<std::int64_t>(std::upper_bound(t.begin(), t.end(), T(v)) - t.begin() - 1, nx - 2);
    return at(j, k, v - t[k]);
  }
};

// The cubic B-splines on the extended knots at v, by the recursive
// definition; v = b belongs to the last cell.
std::vector<ld> bsplines(const std::vector<ld>& tau, ld v) {
  const std::size_t m = tau.size();
  std::vector<ld> b(m - 1, 0.0L);
  for (std::size_t i = 0; i + 1 < m; ++i) {
    const bool last = tau[i] < tau[i + 1] && tau[i + 1] == tau.back();
    b[i] = (tau[i] <= v && (v < tau[i + 1] || (last && v == tau.back()))) ? 1 : 0;
  }
  for (int p = 1; p <= 3; ++p) {
    for (std::size_t i = 0; i + p + 1 < m; ++i) {
      const ld l = tau[i + p] > tau[i] ? (v - tau[i]) / (tau[i + p] - tau[i]) * b[i] : 0;
      const ld r = tau[i + p + 1] > tau[i + 1] ? (tau[i + p + 1] - v) / (tau[i + p + 1] - tau[i + 1]) * b[i + 1] : 0;
      b[i] = l + r;
    }
  }
  b.resize(m - 4);
  return b;
}

// The dense fit of function j: its B-spline coefficients.
template <typename T>
std::vector<ld> dense_fit(const lsq_case<T>& c, std::int64_t j, std::vector<ld>* tau_out) {
  std::vector<ld> tau(3, ld(c.t.front()));
  for (T k : c.t) tau.push_back(k);
  tau.insert(tau.end(), 3, ld(c.t.back()));
  const std::size_t n = tau.size() - 4;
  std::vector<ld> a(n * (n + 1), 0.0L);  // [G | B^T W y]
  for (std::int64_t i = 0; i < c.ndata; ++i) {
    const std::vector<ld> b = bsplines(tau, c.x[i]);
    for (std::size_t p = 0; p < n; ++p) {
      for (std::size_t q = 0; q < n; ++q) a[p * (n + 1) + q] += ld(c.w[i]) * b[p] * b[q];
      a[p * (n + 1) + n] += ld(c.w[i]) * b[p] * ld(c.y[j * c.ndata + i]);
    }
  }
  for (std::size_t k = 0; k < n; ++k) {  // symmetric positive definite: no pivoting
    for (std::size_t r = k + 1; r < n; ++r) {
      const ld f = a[r * (n + 1) + k] / a[k * (n + 1) + k];
      for (std::size_t q = k; q <= n; ++q) a[r * (n + 1) + q] -= f * a[k * (n + 1) + q];
    }
  }
  std::vector<ld> coef(n);
  for (std::size_t k = n; k-- > 0;) {
    ld s = a[k * (n + 1) + n];
    for (std::size_t q = k + 1; q < n; ++q) s -= a[k * (n + 1) + q] * coef[q];
    coef[k] = s / a[k * (n + 1) + k];
  }
  *tau_out = tau;
  return coef;
}

template <typename T>
class LeastSquaresKernels : public ::testing::Test {};
using precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(LeastSquaresKernels, precisions);

// Values on a fine grid against the dense fit, listed and uniform knots,
// some weights zero, from two knots up; the pieces join C2 at every knot.
TYPED_TEST(LeastSquaresKernels, MatchesTheDenseReferenceAndIsC2) {
  using T = TypeParam;
  const ld tolerance = std::is_same_v<T, double> ? 1e-10L : 1e-4L;
  for (std::int64_t nx : {2, 3, 7, 20}) {
    for (bool uniform : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "nx " << nx << " uniform " << uniform);
      lsq_case<T> c(nx, 40 * nx, 2, unsigned(nx), uniform);
      std::mt19937 rng(3);
      std::uniform_real_distribution<double> u(0.2, 3.0);
      for (std::size_t i = 2; i < c.w.size(); ++i) c.w[i] = i % 7 == 0 ? T(0) : T(u(rng));
      ASSERT_EQ(c.fit(c.w.data()), 0);
      for (std::int64_t j = 0; j < c.ny; ++j) {
        std::vector<ld> tau;
        const std::vector<ld> coef = dense_fit(c, j, &tau);
        for (int g = 0; g <= 300; ++g) {
          const ld v = std::min<ld>(-1 + 3 * ld(g) / 300, c.t.back());
          const std::vector<ld> b = bsplines(tau, v);
          ld expected = 0;
          for (std::size_t i = 0; i < coef.size(); ++i) expected += coef[i] * b[i];
          EXPECT_NEAR(double(c.value(j, v)), double(expected), double(tolerance * (1 + std::fabs(expected)))) << v;
        }
        for (std::int64_t k = 1; k + 1 < nx; ++k) {
          for (int d = 0; d < 3; ++d) {
            const ld left = c.at(j, k - 1, ld(c.t[k]) - c.t[k - 1], d), right = c.at(j, k, 0, d);
            EXPECT_NEAR(double(left), double(right), double(10 * tolerance * (1 + std::fabs(right)))) << k << d;
          }
        }
      }
    }
  }
}

// Data on a cubic are fitted exactly: every cell holds the cubic itself.
TEST(LeastSquaresKernels, ReproducesACubic) {
  lsq_case<double> c(9, 500, 1, 5);
  for (std::int64_t i = 0; i < c.ndata; ++i) {
    const double v = c.x[i];
    c.y[i] = 0.5 - 2 * v + 0.75 * v * v - 1.25 * v * v * v;
  }
  ASSERT_EQ(c.fit(nullptr, &threaded), 0);
  for (std::int64_t k = 0; k + 1 < c.nx; ++k) {
    const double a = c.t[k];
    const double* p = c.coeffs.data() + 4 * k;
    EXPECT_NEAR(p[0], 0.5 - 2 * a + 0.75 * a * a - 1.25 * a * a * a, 1e-13) << k;
    EXPECT_NEAR(p[1], -2 + 1.5 * a - 3.75 * a * a, 1e-12) << k;
    EXPECT_NEAR(p[2], 0.75 - 3.75 * a, 1e-11) << k;
    EXPECT_NEAR(p[3], -1.25, 1e-11) << k;
  }
}

// Many functions at once, either layout, on one or two threads, equal one
// at a time bit for bit; zero weights ignore their values, NaN included;
// shuffled data give the same fit to rounding.
TYPED_TEST(LeastSquaresKernels, AgreesBitForBitAndIgnoresOrderAndZeroWeights) {
  using T = TypeParam;
  const std::int64_t nx = 100, ndata = 60000, ny = 6;  // several blocks of data
  lsq_case<T> all(nx, ndata, ny, 11);
  for (std::int64_t i = 5; i < ndata; i += 97) all.w[i] = T(0);
  ASSERT_EQ(all.fit(all.w.data(), &threaded), 0);
  lsq_case<T> again = all;
  ASSERT_EQ(again.fit(again.w.data(), nullptr, true), 0);
  EXPECT_EQ(std::memcmp(all.coeffs.data(), again.coeffs.data(), all.coeffs.size() * sizeof(T)), 0);
  for (std::int64_t i = 5; i < ndata; i += 97) again.y[i] = std::numeric_limits<T>::quiet_NaN();
  ASSERT_EQ(again.fit(again.w.data(), &threaded), 0);
  EXPECT_EQ(std::memcmp(all.coeffs.data(), again.coeffs.data(), all.coeffs.size() * sizeof(T)), 0);
  for (std::int64_t j : {0, 5}) {
    lsq_case<T> one = all;
    one.ny = 1;
    one.y.assign(all.y.begin() + j * ndata, all.y.begin() + (j + 1) * ndata);
    ASSERT_EQ(one.fit(one.w.data()), 0);
    EXPECT_EQ(std::memcmp(one.coeffs.data(), all.coeffs.data() + j * 4 * (nx - 1), one.coeffs.size() * sizeof(T)), 0);
  }
  lsq_case<T> shuffled = all;
  std::vector<std::int64_t> order(std::size_t(ndata), 0);
  for (std::int64_t i = 0; i < ndata; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(2));
  for (std::int64_t i = 0; i < ndata; ++i) {
    shuffled.x[i] = all.x[order[i]];
    shuffled.w[i] = all.w[order[i]];
    for (std::int64_t j = 0; j < ny; ++j) shuffled.y[j * ndata + i] = all.y[j * ndata + order[i]];
  }
  ASSERT_EQ(shuffled.fit(shuffled.w.data(), &threaded), 0);
  const ld tolerance = std::is_same_v<T, double> ? 1e-12L : 1e-5L;
  for (std::int64_t j = 0; j < ny; ++j) {
    for (int g = 0; g <= 1000; ++g) {
      const ld v = std::min<ld>(-1 + 3 * ld(g) / 1000, all.t.back()), expected = all.value(j, v);
      EXPECT_NEAR(double(shuffled.value(j, v)), double(expected), double(tolerance * (1 + std::fabs(expected)))) << v;
    }
  }
}

TYPED_TEST(LeastSquaresKernels, RefusesWhatCannotBeFittedAndWritesNothing) {
  using T = TypeParam;
  const T nan = std::numeric_limits<T>::quiet_NaN();
  lsq_case<T> c(10, 200, 2, 1);
  auto refused = [&](const T* w) {
    const std::int32_t s = c.fit(w);
    EXPECT_TRUE(std::all_of(c.coeffs.begin(), c.coeffs.end(), [](T v) { return v == T(0); }));
    return s;
  };
  ASSERT_EQ(c.fit(nullptr), 0);
  // No site inside the last two cells: Schoenberg-Whitney fails.
  std::vector<T> w(c.w);
  for (std::int64_t i = 0; i < c.ndata; ++i) w[i] = c.x[i] > c.t[7] ? T(0) : T(1);
  EXPECT_EQ(refused(w.data()), QRX_DF_STATUS_DATA_UNDETERMINED);
  // Only the last cell empty: still determined (the right end is a site).
  for (std::int64_t i = 0; i < c.ndata; ++i) w[i] = c.x[i] > c.t[8] && c.x[i] < c.t[9] ? T(0) : T(1);
  EXPECT_EQ(c.fit(w.data()), 0);
  // Eleven distinct sites for twelve basis functions, however often repeated.
  lsq_case<T> few = c;
  for (std::int64_t i = 0; i < few.ndata; ++i) few.x[i] = few.t[i % 10] + (i % 20 == 0 ? T(0.01) : T(0));
  EXPECT_EQ(few.fit(nullptr), QRX_DF_STATUS_DATA_UNDETERMINED);
  std::vector<T> zero(c.w.size(), T(0));
  EXPECT_EQ(refused(zero.data()), QRX_DF_STATUS_DATA_UNDETERMINED);
  for (T bad : {nan, T(-1), std::numeric_limits<T>::infinity()}) {
    w = c.w;
    w[17] = bad;
    EXPECT_EQ(refused(w.data()), QRX_DF_STATUS_BAD_WEIGHTS);
  }
  for (T bad : {nan, T(2.5), T(-1.001)}) {
    const T keep = c.x[30];
    c.x[30] = bad;
    EXPECT_EQ(refused(nullptr), QRX_DF_STATUS_DATA_SITE_OUTSIDE);
    c.x[30] = keep;
  }
}

}  // namespace
