// The smoothing cubic spline kernels called directly, against a dense
// reference in long double (the natural-spline penalty written on the
// fitted values, f^T Q R^-1 Q^T f, a formulation independent of the
// kernels' B-spline basis), the natural spline kernel at lambda = 0, the
// weighted line as lambda grows, and a fine grid of the cross-validation
// score for the chosen lambda.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "qrx_df/banded_penalised.hpp"
#include "qrx_df/gcv_search.hpp"
#include "qrx_df/smoothing_basis.hpp"
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
  static constexpr auto smooth = &qrx_df_kernel_sDFSmoothingCubicSpline1D;
};
template <>
struct kernels<double> {
  static constexpr auto new_task = &qrx_df_kernel_dNewTask1D;
  static constexpr auto edit = &qrx_df_kernel_dEditPPSpline1D;
  static constexpr auto smooth = &qrx_df_kernel_dDFSmoothingCubicSpline1D;
};

// Sites on [-1, 3], unevenly spaced, and ny noisy functions (row-major
// y[j*n + i]) on them.
template <typename T>
struct smoothing_case {
  std::int64_t n, ny;
  std::vector<T> x, y, w, coeffs, chosen;
  qrx_df_task* task = nullptr;

  smoothing_case(std::int64_t n_, std::int64_t ny_, unsigned seed, double noise = 0.1) : n(n_), ny(ny_) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> e(0.0, noise);
    double at = -1.0;
    for (std::int64_t i = 0; i < n; ++i) {
      x.push_back(T(at));
      at += (4.0 / double(n)) * (0.4 + 1.2 * u(rng));
    }
    for (std::int64_t j = 0; j < ny; ++j) {
      for (std::int64_t i = 0; i < n; ++i) y.push_back(T(truth(j, double(x[i])) + e(rng)));
    }
    w.assign(std::size_t(n), T(1));
  }
  ~smoothing_case() { qrx_df_kernel_DeleteTask(&task); }
  static double truth(std::int64_t j, double t) { return std::sin(1.3 * t + double(j)) + 0.2 * t * t; }

  // Builds with `lambda` (negative: GCV) through the given layout and threader.
  std::int32_t fit(T lambda, const T* weights, const qrx_df_threader_block* threader = nullptr,
                   std::int64_t partition_hint = QRX_DF_PARTITION_NON_UNIFORM, bool col_major = false) {
    qrx_df_kernel_DeleteTask(&task);
    coeffs.assign(std::size_t((n - 1) * ny * 4), T(0));
    chosen.assign(std::size_t(ny), T(0));
    std::vector<T>* values = &y;
    static thread_local std::vector<T> transposed;
    if (col_major) {
      transposed.assign(y.size(), T(0));
      for (std::int64_t j = 0; j < ny; ++j) {
        for (std::int64_t i = 0; i < n; ++i) transposed[std::size_t(i * ny + j)] = y[std::size_t(j * n + i)];
      }
      values = &transposed;
    }
    const T ends[2] = {x.front(), x.back()};
    const T* partition = partition_hint == QRX_DF_PARTITION_UNIFORM ? ends : x.data();
    std::int32_t s = kernels<T>::new_task(&task, n, partition, partition_hint, ny, values->data(),
                                          col_major ? QRX_DF_FUNCTIONS_COL_MAJOR : QRX_DF_FUNCTIONS_ROW_MAJOR, 1);
    if (s != 0) return s;
    s = kernels<T>::edit(task, QRX_DF_ORDER_CUBIC, QRX_DF_CUBIC_SMOOTHING, 0, nullptr, 0, nullptr, coeffs.data(),
                         QRX_DF_COEFFS_ROW_MAJOR);
    if (s != 0) return s;
    return kernels<T>::smooth(task, weights, lambda, chosen.data(), threader);
  }
  void make_uniform() {
    for (std::int64_t i = 0; i < n; ++i) x[std::size_t(i)] = T(-1.0 + 4.0 * double(i) / double(n - 1));
  }
  const T* cell(std::int64_t j, std::int64_t k) const { return coeffs.data() + (j * (n - 1) + k) * 4; }
  // Value and derivatives of function j at site i from the cell on its left
  // (from_left) or on its right.
  ld derivative(std::int64_t j, std::int64_t i, int order, bool from_left) const {
    const std::int64_t k = from_left ? i - 1 : i;
    const T* c = cell(j, k);
    const ld t = from_left ? ld(x[std::size_t(i)]) - ld(x[std::size_t(k)]) : 0.0L;
    if (order == 0) return c[0] + t * (c[1] + t * (c[2] + t * c[3]));
    if (order == 1) return c[1] + t * (2 * ld(c[2]) + 3 * t * c[3]);
    return 2 * ld(c[2]) + 6 * t * c[3];
  }
  ld fitted(std::int64_t j, std::int64_t i) const { return derivative(j, i, 0, i == n - 1); }
};

// The dense reference: (W + lambda K) f = W y with K = Q R^-1 Q^T, where
// gamma = R^-1 Q^T f are the second derivatives at the interior sites.
struct dense_fit {
  std::vector<ld> f, gamma, influence;  // influence: A, n x n
};

std::vector<ld> solve_dense(std::vector<ld> a, std::vector<ld> rhs, std::int64_t n, std::int64_t k) {
  // Gaussian elimination with partial pivoting; rhs holds k columns.
  for (std::int64_t c = 0; c < n; ++c) {
    std::int64_t p = c;
    for (std::int64_t r = c + 1; r < n; ++r) {
      if (std::fabs(a[r * n + c]) > std::fabs(a[p * n + c])) p = r;
    }
    for (std::int64_t q = 0; q < n; ++q) std::swap(a[c * n + q], a[p * n + q]);
    for (std::int64_t q = 0; q < k; ++q) std::swap(rhs[c * k + q], rhs[p * k + q]);
    for (std::int64_t r = c + 1; r < n; ++r) {
      const ld m = a[r * n + c] / a[c * n + c];
      for (std::int64_t q = c; q < n; ++q) a[r * n + q] -= m * a[c * n + q];
      for (std::int64_t q = 0; q < k; ++q) rhs[r * k + q] -= m * rhs[c * k + q];
    }
  }
  for (std::int64_t c = n - 1; c >= 0; --c) {
    for (std::int64_t q = 0; q < k; ++q) {
      ld s = rhs[c * k + q];
      for (std::int64_t r = c + 1; r < n; ++r) s -= a[c * n + r] * rhs[r * k + q];
      rhs[c * k + q] = s / a[c * n + c];
    }
  }
  return rhs;
}

template <typename T>
dense_fit dense_reference(const std::vector<T>& xs, const T* ys, const std::vector<T>& ws, ld lambda) {
  const std::int64_t n = std::int64_t(xs.size()), m = n - 2;
  std::vector<ld> h(std::size_t(n - 1)), q(std::size_t(n * m), 0), r(std::size_t(m * m), 0);
  for (std::int64_t k = 0; k + 1 < n; ++k) h[k] = ld(xs[k + 1]) - ld(xs[k]);
  for (std::int64_t c = 0; c < m; ++c) {
    const std::int64_t i = c + 1;
    q[(i - 1) * m + c] = 1 / h[i - 1];
    q[i * m + c] = -1 / h[i - 1] - 1 / h[i];
    q[(i + 1) * m + c] = 1 / h[i];
    r[c * m + c] = (h[i - 1] + h[i]) / 3;
    if (c + 1 < m) r[c * m + c + 1] = r[(c + 1) * m + c] = h[i] / 6;
  }
  // R^-1 Q^T, then K.
  std::vector<ld> qt(std::size_t(m * n));
  for (std::int64_t a = 0; a < m; ++a) {
    for (std::int64_t b = 0; b < n; ++b) qt[a * n + b] = q[b * m + a];
  }
  const std::vector<ld> rq = solve_dense(r, qt, m, n);
  std::vector<ld> sys(std::size_t(n * n), 0), rhs(std::size_t(n * (n + 1)), 0);
  for (std::int64_t a = 0; a < n; ++a) {
    for (std::int64_t b = 0; b < n; ++b) {
      ld k = 0;
      for (std::int64_t c = 0; c < m; ++c) k += q[a * m + c] * rq[c * n + b];
      sys[a * n + b] = lambda * k + (a == b ? ld(ws[a]) : 0);
    }
    rhs[a * (n + 1)] = ld(ws[a]) * ld(ys[a]);
    rhs[a * (n + 1) + 1 + a] = ld(ws[a]);  // columns 1..n: W, for A = (W + lambda K)^-1 W
  }
  const std::vector<ld> sol = solve_dense(sys, rhs, n, n + 1);
  dense_fit d;
  for (std::int64_t a = 0; a < n; ++a) {
    d.f.push_back(sol[a * (n + 1)]);
    for (std::int64_t b = 0; b < n; ++b) d.influence.push_back(sol[a * (n + 1) + 1 + b]);
  }
  d.gamma.assign(1, 0.0L);
  for (std::int64_t c = 0; c < m; ++c) {
    ld g = 0;
    for (std::int64_t b = 0; b < n; ++b) g += rq[c * n + b] * d.f[b];
    d.gamma.push_back(g);
  }
  d.gamma.push_back(0.0L);
  return d;
}

ld max_abs(const std::vector<ld>& v) {
  ld m = 0;
  for (ld e : v) m = std::max(m, std::fabs(e));
  return m;
}

template <typename T>
class SmoothingKernels : public ::testing::Test {};
using precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(SmoothingKernels, precisions);

// Fitted values and second derivatives against the dense reference, listed
// and uniform partitions, some weights zero, lambda over eight decades
// (rho = lambda_u / (tr G / tr Omega) up to about 1e6 at n = 60). The
// normal equations lose about rho * 1e-16 of the straight-line part, so
// lambda = 1e3 (rho about 1e8) is held to 1e-8.
TYPED_TEST(SmoothingKernels, MatchesTheDenseReference) {
  using T = TypeParam;
  const ld value_tolerance = std::is_same_v<T, double> ? 1e-10L : 2e-5L;
  const ld curvature_tolerance = std::is_same_v<T, double> ? 1e-7L : 2e-3L;
  for (std::int64_t n : {5, 17, 60}) {
    for (std::int64_t hint : {QRX_DF_PARTITION_NON_UNIFORM, QRX_DF_PARTITION_UNIFORM}) {
      smoothing_case<T> c(n, 2, unsigned(n));
      if (hint == QRX_DF_PARTITION_UNIFORM) c.make_uniform();
      std::mt19937 rng(7);
      std::uniform_real_distribution<double> u(0.2, 3.0);
      for (T& w : c.w) w = T(u(rng));
      c.w[1] = T(0);
      c.w[std::size_t(n - 1)] = T(0);
      for (double lambda : {1e-5, 1e-3, 1e-1, 10.0, 1e3}) {
        const ld loss = lambda > 100 ? 100 : 1;
        SCOPED_TRACE(::testing::Message() << "n " << n << " hint " << hint << " lambda " << lambda);
        ASSERT_EQ(c.fit(T(lambda), c.w.data(), nullptr, hint), 0);
        for (std::int64_t j = 0; j < c.ny; ++j) {
          const dense_fit d = dense_reference(c.x, c.y.data() + j * n, c.w, ld(T(lambda)));
          const ld scale = max_abs(d.f), curvature = std::max(max_abs(d.gamma), scale);
          for (std::int64_t i = 0; i < n; ++i) {
            EXPECT_NEAR(double(c.fitted(j, i)), double(d.f[i]), double(loss * value_tolerance * scale))
                << "site " << i;
            EXPECT_NEAR(double(c.derivative(j, i, 2, i == n - 1)), double(d.gamma[i]),
                        double(loss * curvature_tolerance * curvature))
                << "site " << i;
          }
        }
      }
    }
  }
}

// The cubic is C2 at every breakpoint and straight at its ends, for a given
// and a chosen lambda.
TYPED_TEST(SmoothingKernels, IsTwiceContinuouslyDifferentiableWithNaturalEnds) {
  using T = TypeParam;
  const ld tolerance = std::is_same_v<T, double> ? 1e-9L : 2e-3L;
  smoothing_case<T> c(200, 2, 3);
  for (T lambda : {T(1e-3), T(-1)}) {
    ASSERT_EQ(c.fit(lambda, nullptr, &threaded), 0);
    for (std::int64_t j = 0; j < c.ny; ++j) {
      ld scale[3] = {0, 0, 0};
      for (std::int64_t i = 1; i < c.n; ++i) {
        for (int d = 0; d < 3; ++d) scale[d] = std::max(scale[d], std::fabs(c.derivative(j, i, d, true)));
      }
      for (std::int64_t i = 1; i + 1 < c.n; ++i) {
        for (int d = 0; d < 3; ++d) {
          EXPECT_NEAR(double(c.derivative(j, i, d, true)), double(c.derivative(j, i, d, false)),
                      double(tolerance * scale[d]))
              << "site " << i << " order " << d;
        }
      }
      EXPECT_EQ(c.derivative(j, 0, 2, false), 0.0L);
      EXPECT_NEAR(double(c.derivative(j, c.n - 1, 2, true)), 0.0, double(tolerance * scale[2]));
    }
  }
}

// lambda = 0 is the natural cubic spline through the data.
TEST(SmoothingKernels, LambdaZeroIsTheNaturalSpline) {
  for (std::int64_t hint : {QRX_DF_PARTITION_NON_UNIFORM, QRX_DF_PARTITION_UNIFORM}) {
    smoothing_case<double> c(300, 3, 5);
    if (hint == QRX_DF_PARTITION_UNIFORM) c.make_uniform();
    ASSERT_EQ(c.fit(0.0, nullptr, &threaded, hint), 0);
    std::vector<double> natural(c.coeffs.size());
    qrx_df_task* task = nullptr;
    const double ends[2] = {c.x.front(), c.x.back()};
    ASSERT_EQ(qrx_df_kernel_dNewTask1D(&task, c.n, hint == QRX_DF_PARTITION_UNIFORM ? ends : c.x.data(), hint,
                                       c.ny, c.y.data(), QRX_DF_FUNCTIONS_ROW_MAJOR, 1),
              0);
    ASSERT_EQ(qrx_df_kernel_dEditPPSpline1D(task, QRX_DF_ORDER_CUBIC, QRX_DF_CUBIC_NATURAL, QRX_DF_BC_FREE_END,
                                            nullptr, 0, nullptr, natural.data(), QRX_DF_COEFFS_ROW_MAJOR),
              0);
    ASSERT_EQ(qrx_df_kernel_dDFNaturalCubicSpline1D(task, 0, 0, nullptr), 0);
    qrx_df_kernel_DeleteTask(&task);
    double scale[4] = {0, 0, 0, 0};
    for (std::size_t e = 0; e < natural.size(); ++e) scale[e % 4] = std::max(scale[e % 4], std::fabs(natural[e]));
    for (std::size_t e = 0; e < natural.size(); ++e) {
      EXPECT_NEAR(c.coeffs[e], natural[e], 1e-11 * scale[e % 4]) << "coefficient " << e;
    }
  }
}

// With zero weights, lambda = 0 is the natural spline through the other
// points, and straight beyond the outer ones.
TEST(SmoothingKernels, LambdaZeroWithZeroWeightsInterpolatesTheRest) {
  smoothing_case<double> c(40, 1, 9);
  for (std::int64_t i : {0, 1, 7, 8, 9, 20, 38, 39}) c.w[std::size_t(i)] = 0.0;
  ASSERT_EQ(c.fit(0.0, c.w.data()), 0);
  for (std::int64_t i = 0; i < c.n; ++i) {
    if (c.w[std::size_t(i)] > 0) {
      EXPECT_NEAR(double(c.fitted(0, i)), c.y[std::size_t(i)], 1e-13) << i;
    }
  }
  // Continuous and C2 throughout, straight outside [x_2, x_37].
  for (std::int64_t i = 1; i + 1 < c.n; ++i) {
    for (int d = 0; d < 3; ++d) {
      EXPECT_NEAR(double(c.derivative(0, i, d, true)), double(c.derivative(0, i, d, false)), 1e-9) << i << d;
    }
  }
  for (std::int64_t i : {0, 1, 2, 37, 38}) EXPECT_NEAR(double(c.derivative(0, i, 2, false)), 0.0, 1e-12) << i;
  // Interior zero-weight sites lie on the natural spline through the rest.
  std::vector<double> xs, ys;
  for (std::int64_t i = 0; i < c.n; ++i) {
    if (c.w[std::size_t(i)] > 0) xs.push_back(c.x[std::size_t(i)]), ys.push_back(c.y[std::size_t(i)]);
  }
  const std::int64_t m = std::int64_t(xs.size());
  std::vector<double> natural(std::size_t(4 * (m - 1)));
  qrx_df_task* task = nullptr;
  ASSERT_EQ(qrx_df_kernel_dNewTask1D(&task, m, xs.data(), QRX_DF_PARTITION_NON_UNIFORM, 1, ys.data(),
                                     QRX_DF_FUNCTIONS_ROW_MAJOR, 1),
            0);
  ASSERT_EQ(qrx_df_kernel_dEditPPSpline1D(task, QRX_DF_ORDER_CUBIC, QRX_DF_CUBIC_NATURAL, QRX_DF_BC_FREE_END, nullptr,
                                          0, nullptr, natural.data(), QRX_DF_COEFFS_ROW_MAJOR),
            0);
  ASSERT_EQ(qrx_df_kernel_dDFNaturalCubicSpline1D(task, 0, 0, nullptr), 0);
  qrx_df_kernel_DeleteTask(&task);
  for (std::int64_t i : {7, 8, 9, 20}) {
    const std::int64_t k = std::upper_bound(xs.begin(), xs.end(), c.x[std::size_t(i)]) - xs.begin() - 1;
    const double t = c.x[std::size_t(i)] - xs[std::size_t(k)];
    const double* p = natural.data() + 4 * k;
    EXPECT_NEAR(double(c.fitted(0, i)), p[0] + t * (p[1] + t * (p[2] + t * p[3])), 1e-13) << i;
  }
}

// Values at zero-weight sites do not change the fit at all.
TYPED_TEST(SmoothingKernels, ZeroWeightsIgnoreTheirValues) {
  using T = TypeParam;
  smoothing_case<T> c(80, 2, 4);
  for (std::int64_t i : {0, 5, 6, 40, 79}) c.w[std::size_t(i)] = T(0);
  for (T lambda : {T(0), T(1e-2), T(-1)}) {
    ASSERT_EQ(c.fit(lambda, c.w.data()), 0);
    const std::vector<T> first = c.coeffs, first_chosen = c.chosen;
    for (std::int64_t i : {0, 5, 6, 40, 79}) c.y[std::size_t(i)] += T(100);
    ASSERT_EQ(c.fit(lambda, c.w.data()), 0);
    EXPECT_EQ(std::memcmp(first.data(), c.coeffs.data(), first.size() * sizeof(T)), 0) << lambda;
    EXPECT_EQ(first_chosen, c.chosen);
  }
}

// As lambda grows the fit tends to the weighted least-squares line.
TEST(SmoothingKernels, HugeLambdaTendsToTheWeightedLine) {
  smoothing_case<double> c(50, 1, 12);
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(0.5, 2.0);
  for (double& w : c.w) w = u(rng);
  // The weighted line.
  double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (std::int64_t i = 0; i < c.n; ++i) {
    const double w = c.w[i], x = c.x[i], y = c.y[i];
    sw += w, sx += w * x, sy += w * y, sxx += w * x * x, sxy += w * x * y;
  }
  const double slope = (sw * sxy - sx * sy) / (sw * sxx - sx * sx), offset = (sy - slope * sx) / sw;
  double previous = std::numeric_limits<double>::infinity();
  for (double lambda : {1e1, 1e3, 1e5, 1e7}) {
    ASSERT_EQ(c.fit(lambda, c.w.data()), 0);
    double distance = 0;
    for (std::int64_t i = 0; i < c.n; ++i) {
      distance = std::max(distance, std::fabs(double(c.fitted(0, i)) - (offset + slope * c.x[i])));
    }
    EXPECT_LT(distance, previous) << lambda;
    previous = distance;
  }
  EXPECT_LT(previous, 1e-4);
}

// One function at a time, many at once, either layout, threaded or not:
// the same bits.
TYPED_TEST(SmoothingKernels, ManyFunctionsAgreeBitForBitWithOneAtATime) {
  using T = TypeParam;
  const std::int64_t n = 3000, ny = 6;
  smoothing_case<T> all(n, ny, 21);
  for (T lambda : {T(1e-4), T(-1), T(0)}) {
    ASSERT_EQ(all.fit(lambda, all.w.data(), &threaded), 0);
    for (bool col_major : {false, true}) {
      smoothing_case<T> again(n, ny, 21);
      ASSERT_EQ(again.fit(lambda, again.w.data(), &threaded, QRX_DF_PARTITION_NON_UNIFORM, col_major), 0);
      EXPECT_EQ(std::memcmp(all.coeffs.data(), again.coeffs.data(), all.coeffs.size() * sizeof(T)), 0);
      EXPECT_EQ(all.chosen, again.chosen);
    }
    for (std::int64_t j = 0; j < ny; ++j) {
      smoothing_case<T> one(n, 1, 0);
      one.x = all.x;
      one.y.assign(all.y.begin() + j * n, all.y.begin() + (j + 1) * n);
      ASSERT_EQ(one.fit(lambda, one.w.data()), 0);
      EXPECT_EQ(std::memcmp(one.coeffs.data(), all.cell(j, 0), one.coeffs.size() * sizeof(T)), 0) << j;
      if (lambda < 0) {
        EXPECT_EQ(one.chosen[0], all.chosen[std::size_t(j)]);
      }
    }
  }
}

// tr A from the band of the inverse equals the dense trace (to 1e-10 up to
// rho = 1e5; at 1e8 the normal equations' rounding shows, 1e-8).
TEST(SmoothingKernels, InfluenceTraceEqualsTheDenseTrace) {
  smoothing_case<double> c(45, 1, 8);
  c.w[3] = 0.0;
  c.w[20] = 2.5;
  const qrx_df::smoothing_basis b(c.n, c.x.data(), false, c.w.data(), nullptr);
  ASSERT_TRUE(b.ok());
  std::vector<double> work(std::size_t(qrx_df::penalised_factor::doubles(b.size())));
  for (double log_rho : {-4.0, -1.0, 2.0, 5.0, 8.0}) {
    const double tolerance = log_rho > 6 ? 1e-8 : 1e-10;
    const double lambda_u = qrx_df::gcv_lambda(b, log_rho);
    qrx_df::penalised_factor f;
    ASSERT_TRUE(f.factor(b, lambda_u, work.data()));
    const ld lambda = ld(lambda_u) * ld(b.length()) * b.length() * b.length();
    const dense_fit d = dense_reference(c.x, c.y.data(), c.w, lambda);
    ld trace = 0;
    for (std::int64_t i = 0; i < c.n; ++i) trace += d.influence[i * c.n + i];
    EXPECT_NEAR(qrx_df::influence_trace(b, f), double(trace), tolerance * double(trace)) << log_rho;
  }
}

// The cross-validation score of curve j of a case at log10 rho.
template <typename T>
double score_of(const smoothing_case<T>& c, const qrx_df::smoothing_basis& b, std::int64_t j, double log_rho) {
  std::vector<double> work(std::size_t(qrx_df::penalised_factor::doubles(b.size()) + b.size()));
  const T* y = c.y.data() + j * c.n;
  return qrx_df::gcv_score_at(b, log_rho, [y](int, std::int64_t i) { return y[i]; }, work.data(),
                              work.data() + qrx_df::penalised_factor::doubles(b.size()));
}

// The chosen lambda's score is within 1e-4 of the best of 1601 points over
// the searched 16 decades, for several curves, one with two local minima.
TYPED_TEST(SmoothingKernels, ChosenLambdaScoresAsTheBestOfAFineGrid) {
  using T = TypeParam;
  const std::int64_t n = 120;
  smoothing_case<T> c(n, 4, 31, 0.05);
  // Curve 3: a smooth trend with a faint fast wave and little noise; its
  // score has a minimum that keeps the wave and one, 0.8 % lower and 1.4
  // decades away, that smooths it away.
  std::mt19937 rng(5);
  std::normal_distribution<double> e(0.0, 0.02);
  for (std::int64_t i = 0; i < n; ++i) {
    const double t = c.x[std::size_t(i)];
    c.y[std::size_t(3 * n + i)] = T(t * t + 0.015 * std::sin(25.0 * t) + e(rng));
  }
  ASSERT_EQ(c.fit(T(-1), nullptr, &threaded), 0);
  const qrx_df::smoothing_basis b(n, c.x.data(), false, static_cast<const T*>(nullptr), nullptr);
  const double cube = double(b.length()) * b.length() * b.length();
  int local_minima_of_last = 0;
  for (std::int64_t j = 0; j < c.ny; ++j) {
    std::vector<double> fine;
    for (int g = 0; g <= 1600; ++g) {
      fine.push_back(score_of(c, b, j, qrx_df::gcv_first + (qrx_df::gcv_last - qrx_df::gcv_first) * g / 1600.0));
    }
    const double best = *std::min_element(fine.begin(), fine.end());
    const double log_rho = std::log10(double(c.chosen[std::size_t(j)]) / cube / b.lambda_scale());
    const double score = score_of(c, b, j, log_rho);
    EXPECT_LE(score, best * (1 + 1e-4)) << "curve " << j;
    if (j == 3) {
      for (std::size_t g = 1; g + 1 < fine.size(); ++g) {
        local_minima_of_last += fine[g] < fine[g - 1] && fine[g] < fine[g + 1] ? 1 : 0;
      }
    }
  }
  EXPECT_GE(local_minima_of_last, 2);
}

// With known noise, the chosen fit is closer to the true curve than the data.
TYPED_TEST(SmoothingKernels, ChosenFitIsCloserToTheTruthThanTheData) {
  using T = TypeParam;
  smoothing_case<T> c(400, 3, 17, 0.2);
  ASSERT_EQ(c.fit(T(-1), nullptr, &threaded), 0);
  for (std::int64_t j = 0; j < c.ny; ++j) {
    double fit_error = 0, data_error = 0;
    for (std::int64_t i = 0; i < c.n; ++i) {
      const double truth = smoothing_case<T>::truth(j, double(c.x[std::size_t(i)]));
      fit_error += std::pow(double(c.fitted(j, i)) - truth, 2);
      data_error += std::pow(double(c.y[std::size_t(j * c.n + i)]) - truth, 2);
    }
    EXPECT_LT(fit_error, 0.25 * data_error) << j;
    EXPECT_GT(c.chosen[std::size_t(j)], T(0));
  }
}

TYPED_TEST(SmoothingKernels, RefusesBadArguments) {
  using T = TypeParam;
  using other = std::conditional_t<std::is_same_v<T, float>, double, float>;
  const T nan = std::numeric_limits<T>::quiet_NaN(), inf = std::numeric_limits<T>::infinity();
  smoothing_case<T> c(10, 2, 1);
  ASSERT_EQ(c.fit(T(1), nullptr), 0);
  auto smooth = [&](const T* w, T lambda, T* chosen) { return kernels<T>::smooth(c.task, w, lambda, chosen, nullptr); };
  std::vector<T> w(10, T(1));
  EXPECT_EQ(kernels<T>::smooth(nullptr, nullptr, T(1), nullptr, nullptr), QRX_DF_STATUS_NULL_TASK);
  EXPECT_EQ(kernels<other>::smooth(c.task, nullptr, other(1), nullptr, nullptr), QRX_DF_STATUS_WRONG_PRECISION);
  EXPECT_EQ(smooth(nullptr, nan, nullptr), QRX_DF_STATUS_BAD_LAMBDA);
  EXPECT_EQ(smooth(nullptr, inf, nullptr), QRX_DF_STATUS_BAD_LAMBDA);
  EXPECT_EQ(smooth(nullptr, T(-1), nullptr), QRX_DF_STATUS_NO_RESULTS);
  for (T bad : {nan, inf, T(-1)}) {
    w[4] = bad;
    EXPECT_EQ(smooth(w.data(), T(1), nullptr), QRX_DF_STATUS_BAD_WEIGHTS) << bad;
  }
  w.assign(10, T(0));
  w[2] = w[5] = T(1);
  EXPECT_EQ(smooth(w.data(), T(1), nullptr), QRX_DF_STATUS_BAD_WEIGHTS);
  w[9] = T(1);
  EXPECT_EQ(smooth(w.data(), T(1), nullptr), QRX_DF_STATUS_OK);
  // Nothing written on refusal.
  std::fill(c.coeffs.begin(), c.coeffs.end(), T(7));
  EXPECT_EQ(smooth(w.data(), nan, nullptr), QRX_DF_STATUS_BAD_LAMBDA);
  EXPECT_TRUE(std::all_of(c.coeffs.begin(), c.coeffs.end(), [](T v) { return v == T(7); }));

  ASSERT_EQ(kernels<T>::edit(c.task, QRX_DF_ORDER_CUBIC, QRX_DF_CUBIC_NATURAL, 0, nullptr, 0, nullptr,
                             c.coeffs.data(), QRX_DF_COEFFS_ROW_MAJOR),
            0);
  EXPECT_EQ(smooth(nullptr, T(1), nullptr), QRX_DF_STATUS_BAD_SPLINE_TYPE);
  ASSERT_EQ(kernels<T>::edit(c.task, QRX_DF_ORDER_CUBIC, QRX_DF_CUBIC_SMOOTHING, QRX_DF_BC_PERIODIC, nullptr, 0,
                             nullptr, c.coeffs.data(), QRX_DF_COEFFS_ROW_MAJOR),
            0);
  EXPECT_EQ(smooth(nullptr, T(1), nullptr), QRX_DF_STATUS_BAD_BC_TYPE);
  ASSERT_EQ(kernels<T>::edit(c.task, QRX_DF_ORDER_CUBIC, QRX_DF_CUBIC_SMOOTHING, QRX_DF_BC_FREE_END, nullptr, 0,
                             nullptr, c.coeffs.data(), QRX_DF_COEFFS_ROW_MAJOR),
            0);
  EXPECT_EQ(smooth(nullptr, T(1), nullptr), QRX_DF_STATUS_OK);

  // Two breakpoints; a partition out of order.
  smoothing_case<T> two(2, 1, 1);
  EXPECT_EQ(two.fit(T(1), nullptr), QRX_DF_STATUS_BAD_NX);
  std::swap(c.x[3], c.x[4]);
  EXPECT_EQ(c.fit(T(1), nullptr), QRX_DF_STATUS_PARTITION_NOT_INCREASING);
}

}  // namespace
