// Integrals and solutions of f(x) = y on both back-ends, against references
// written here: integrals summed cell by cell in long double from the
// coefficients the construction computed (with each extrapolation mode
// outside the partition), exact integrals and roots of splines that
// reproduce a known cubic, and roots found by sampling and bisection.

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "support/backend_fixture.hpp"

namespace backend_test {
namespace {

using df::extrapolation;
using natural = df::cubic_spline::natural;
using akima = df::cubic_spline::akima;
using pchip = df::cubic_spline::pchip;
using real = long double;

constexpr real nan_value = std::numeric_limits<real>::quiet_NaN();

// The piece of function f on cell k, in long double.
template <typename T, typename S>
struct pieces {
  const built_spline<T, S>& s;
  const spline_data<T>& d;
  static constexpr int m = config<T, S>::coeffs_per_cell;

  real coeff(std::int64_t f, std::int64_t k, int q) const { return s.c[std::size_t((f * (d.nx - 1) + k) * m + q)]; }
  real value(std::int64_t f, std::int64_t k, real t, int order = 0) const {
    real sum = 0;
    for (int q = m - 1; q >= order; --q) sum = sum * t + (order == 1 ? q : 1) * coeff(f, k, q);
    return sum;
  }
  // Integral of the piece from its left end to t.
  real integral(std::int64_t f, std::int64_t k, real t) const {
    real sum = 0;
    for (int q = m - 1; q >= 0; --q) sum = sum * t + coeff(f, k, q) / (q + 1);
    return sum * t;
  }
  real x(std::int64_t k) const { return d.x(k); }
  std::int64_t cells() const { return d.nx - 1; }
};

// The integral of function f from a to x, with the modes outside [a, b].
template <typename T, typename S>
real antiderivative(const pieces<T, S>& p, extrapolation left, extrapolation right, std::int64_t f, real x) {
  const std::int64_t last = p.cells() - 1;
  const real a = p.x(0), b = p.x(p.cells());
  if (std::isnan(x)) return nan_value;
  auto inside = [&](real at) {
    std::int64_t k = 0;
    real sum = 0;
    for (; k < last && at >= p.x(k + 1); ++k) sum += p.integral(f, k, p.x(k + 1) - p.x(k));
    return sum + p.integral(f, k, at - p.x(k));
  };
  if (left == extrapolation::periodic && (x < a || x >= b)) {
    const real periods = std::floor((x - a) / (b - a));
    return periods * inside(b) + inside(x - periods * (b - a));
  }
  if (x < a) {
    const real u = x - a;
    switch (left) {
      case extrapolation::constant: return u * p.value(f, 0, 0);
      case extrapolation::linear: return u * p.value(f, 0, 0) + u * u / 2 * p.value(f, 0, 0, 1);
      case extrapolation::nan: return nan_value;
      default: return p.integral(f, 0, u);
    }
  }
  if (x > b) {
    const real u = x - b, h = b - p.x(last);
    switch (right) {
      case extrapolation::constant: return inside(b) + u * p.value(f, last, h);
      case extrapolation::linear: return inside(b) + u * p.value(f, last, h) + u * u / 2 * p.value(f, last, h, 1);
      case extrapolation::nan: return nan_value;
      default: break;
    }
  }
  return inside(x);
}

template <typename T, typename S>
std::vector<T> integrate_on(built_spline<T, S>& s, const std::vector<T>& lower, const std::vector<T>& upper) {
  const auto n = std::int64_t(lower.size());
  usm_array<T> lo(s.q, lower), up(s.q, upper), out(s.q, std::size_t(n * s.ny_), T(-99));
  df::integrate(s.s, lo.get(), up.get(), n, out.get());
  s.q.wait_and_throw();
  return out.to_vector();
}

struct solved {
  std::vector<std::int64_t> counts;
  std::vector<double> roots;  // max_roots per (function, level)
};

template <typename T, typename S>
solved solve_on(built_spline<T, S>& s, const std::vector<T>& levels, std::int64_t max_roots) {
  const auto n = std::int64_t(levels.size());
  usm_array<T> y(s.q, levels), roots(s.q, std::size_t(n * s.ny_ * max_roots), T(-99));
  usm_array<std::int64_t> counts(s.q, std::size_t(n * s.ny_), -1);
  df::solve(s.s, y.get(), n, roots.get(), counts.get(), max_roots);
  s.q.wait_and_throw();
  solved r{counts.to_vector(), {}};
  for (T v : roots.to_vector()) r.roots.push_back(double(v));
  return r;
}

using modes_case = std::tuple<extrapolation, extrapolation, backend>;
class Integrate : public ::testing::TestWithParam<modes_case> {};

// Random pairs (reversed, equal, inside, outside on either side, far
// outside, NaN) over every function, against the cell-by-cell sum.
template <typename T, typename S>
void check_integrals(extrapolation left, extrapolation right, backend b, std::int64_t nx) {
  const std::int64_t ny = 3;
  for (df::partition_hint ph : {df::partition_hint::non_uniform, df::partition_hint::uniform}) {
    SCOPED_TRACE(ph == df::partition_hint::uniform ? "uniform partition" : "listed partition");
    spline_data<T> d = sample<T>(nx, ny, ph, df::function_hint::row_major,
                                 [](std::int64_t f, double x, int) { return std::cos(2.1 * x + double(f)) + 0.5 * x; });
    built_spline<T, S> s(b, d);
    s.s.set_extrapolation(left, right);
    const pieces<T, S> p{s, d};
    const double a = d.x(0), width = d.x(nx - 1) - a;
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-1.7, 2.9);
    std::vector<T> lower, upper;
    for (int i = 0; i < 40; ++i) {
      lower.push_back(T(a + u(rng) * width));
      upper.push_back(T(a + u(rng) * width));
    }
    // Both ends, an empty interval, one cell's width, a NaN bound.
    lower.insert(lower.end(), {T(a), T(a + width), T(a + 0.3 * width), T(a + 0.25 * width), T(a)});
    upper.insert(upper.end(), {T(a + width), T(a), T(a + 0.3 * width), T(a + 0.25 * width + width / double(nx)),
                               std::numeric_limits<T>::quiet_NaN()});
    const std::vector<T> got = integrate_on(s, lower, upper);
    real total = 0;  // of |f| over [a, b]
    for (std::int64_t k = 0; k < p.cells(); ++k) total += std::fabs(p.integral(0, k, p.x(k + 1) - p.x(k)));
    for (std::int64_t f = 0; f < ny; ++f) {
      for (std::size_t i = 0; i < lower.size(); ++i) {
        const real hi = antiderivative(p, left, right, f, upper[i]);
        const real lo = antiderivative(p, left, right, f, lower[i]);
        const double want = double(hi - lo);
        const double result = double(got[std::size_t(f) * lower.size() + i]);
        if (std::isnan(want)) {
          EXPECT_TRUE(std::isnan(result)) << "function " << f << " [" << lower[i] << ", " << upper[i] << "]: " << result;
          continue;
        }
        if (lower[i] == upper[i]) {
          EXPECT_EQ(result, 0) << "function " << f << " at " << lower[i];
          continue;
        }
        const double periods = std::fabs(double(upper[i]) - a) / width + std::fabs(double(lower[i]) - a) / width;
        const double scale = double(total) * (1 + periods) + std::fabs(double(hi)) + std::fabs(double(lo));
        EXPECT_NEAR(result, want, tolerance<T>(scale))
            << "function " << f << " [" << lower[i] << ", " << upper[i] << "]";
      }
    }
  }
}

TEST_P(Integrate, MatchesTheCellByCellSumWithEveryMode) {
  const auto [left, right, b] = GetParam();
  SCOPED_TRACE(std::string(name(b)) + ", left " + mode_name(left) + ", right " + mode_name(right));
  check_integrals<float, linear>(left, right, b, 9);
  check_integrals<double, linear>(left, right, b, 40);
  check_integrals<double, hermite>(left, right, b, 9);
  check_integrals<float, natural>(left, right, b, 33);
  check_integrals<double, natural>(left, right, b, 33);
  check_integrals<double, akima>(left, right, b, 9);
}

const extrapolation one_sided[] = {extrapolation::extend, extrapolation::constant, extrapolation::linear,
                                   extrapolation::nan};
std::string case_name(const ::testing::TestParamInfo<modes_case>& info) {
  return std::string(mode_name(std::get<0>(info.param))) + "_" + mode_name(std::get<1>(info.param)) + "_" +
         (std::get<2>(info.param) == backend::gpu ? "gpu" : "cpu");
}
INSTANTIATE_TEST_SUITE_P(OneSided, Integrate,
                         ::testing::Combine(::testing::ValuesIn(one_sided), ::testing::ValuesIn(one_sided),
                                            ::testing::ValuesIn(both_backends)),
                         case_name);
INSTANTIATE_TEST_SUITE_P(Periodic, Integrate,
                         ::testing::Combine(::testing::Values(extrapolation::periodic),
                                            ::testing::Values(extrapolation::periodic),
                                            ::testing::ValuesIn(both_backends)),
                         case_name);

class Calculus : public ::testing::TestWithParam<backend> {};

// A cubic with the given coefficients, its derivative, and its integral
// from l to u in long double and in factored form, which subtracts no two
// values of similar size.
struct cubic {
  double c[4];
  double operator()(double x) const { return ((c[3] * x + c[2]) * x + c[1]) * x + c[0]; }
  double slope(double x) const { return (3 * c[3] * x + 2 * c[2]) * x + c[1]; }
  double integral(real l, real u) const {
    return double((u - l) * (c[0] + c[1] * (u + l) / 2 + c[2] * (u * u + u * l + l * l) / 3 +
                             c[3] * (u + l) * (u * u + l * l) / 4));
  }
};

// A Hermite spline through the values and slopes of one cubic per function:
// it is that cubic on every cell, and beyond the ends when extended.
template <typename T>
built_spline<T, hermite> reproduce(backend b, const std::vector<cubic>& cubics, std::int64_t nx,
                                   df::partition_hint ph = df::partition_hint::non_uniform) {
  const auto ny = std::int64_t(cubics.size());
  spline_data<T> d = sample<T>(nx, ny, ph, df::function_hint::row_major,
                               [&](std::int64_t f, double x, int) { return cubics[std::size_t(f)](x); });
  d.own_slopes.resize(d.values.size());
  for (std::int64_t f = 0; f < ny; ++f)
    for (std::int64_t i = 0; i < nx; ++i) d.own_slopes[std::size_t(f * nx + i)] = T(cubics[std::size_t(f)].slope(d.x(i)));
  return built_spline<T, hermite>(b, d);
}

template <typename T>
void check_exact_integrals(backend b) {
  const std::vector<cubic> cubics = {{{0.5, -1.0, 0.25, 0.75}}, {{-2.0, 0.0, 1.5, -0.5}}, {{1.0, 3.0, 0.0, 0.0}}};
  for (std::int64_t nx : {3, 7, 1001}) {
    built_spline<T, hermite> s = reproduce<T>(b, cubics, nx);
    std::mt19937 rng(3);
    // Partition [-1.25, 2.5]; with few cells also both sides beyond (far
    // beyond a narrow end cell, its coefficients' rounding grows with the
    // distance cubed).
    std::uniform_real_distribution<double> u(nx > 7 ? -1.25 : -3.0, nx > 7 ? 2.5 : 4.5);
    std::vector<T> lower, upper;
    // Enough intervals that the GPU back-end gives each work-item two of the
    // three functions (a last block of one).
    for (int i = 0; i < 10000; ++i) {
      lower.push_back(T(u(rng)));
      upper.push_back(T(u(rng)));
    }
    const std::vector<T> got = integrate_on(s, lower, upper);
    for (std::size_t f = 0; f < cubics.size(); ++f) {
      for (std::size_t i = 0; i < lower.size(); ++i) {
        const double want = cubics[f].integral(lower[i], upper[i]);
        EXPECT_NEAR(double(got[f * lower.size() + i]), want, tolerance<T>(64))
            << "nx " << nx << " function " << f << " [" << lower[i] << ", " << upper[i] << "]";
      }
    }
  }
}

TEST_P(Calculus, IntegralsOfSplinesThatAreCubicsAreExact) {
  check_exact_integrals<float>(GetParam());
  check_exact_integrals<double>(GetParam());
}

// A long partition loses no digits: the integral over a short interval far
// from a is as accurate as near a.
TEST_P(Calculus, LongPartitionsKeepShortIntervalsAccurate) {
  const std::int64_t nx = 200001;
  const std::vector<cubic> cubics = {{{1.0e3, 0.5, 0.0, 0.0}}};
  built_spline<double, hermite> s = reproduce<double>(GetParam(), cubics, nx);
  const std::vector<double> lower = {2.4999, -1.25, 2.0};
  const std::vector<double> upper = {2.49995, 2.5, 2.0000001};
  const std::vector<double> got = integrate_on(s, lower, upper);
  for (std::size_t i = 0; i < lower.size(); ++i) {
    const double want = cubics[0].integral(lower[i], upper[i]);
    EXPECT_NEAR(got[i], want, 8 * std::numeric_limits<double>::epsilon() * std::fabs(want)) << i;
  }
}

// Roots of p - y by sampling each cell of p and bisecting every sign change:
// the simple roots of a level that no sample hits.
template <typename T, typename S>
std::vector<double> sampled_roots(const pieces<T, S>& p, std::int64_t f, real y) {
  std::vector<double> roots;
  for (std::int64_t k = 0; k < p.cells(); ++k) {
    const real h = p.x(k + 1) - p.x(k);
    const int samples = 64;
    for (int i = 0; i < samples; ++i) {
      real t0 = h * i / samples, t1 = h * (i + 1) / samples;
      real g0 = p.value(f, k, t0) - y, g1 = p.value(f, k, t1) - y;
      if ((g0 < 0) == (g1 < 0)) continue;
      for (int step = 0; step < 80; ++step) {
        const real mid = (t0 + t1) / 2, gm = p.value(f, k, mid) - y;
        if ((gm < 0) == (g0 < 0)) {
          t0 = mid;
          g0 = gm;
        } else {
          t1 = mid;
        }
      }
      roots.push_back(double(p.x(k) + t0));
    }
  }
  return roots;
}

template <typename T, typename S>
void check_sampled_roots(backend b, std::int64_t max_roots) {
  const std::int64_t nx = 41, ny = 2;
  for (df::partition_hint ph : {df::partition_hint::non_uniform, df::partition_hint::uniform}) {
    spline_data<T> d = sample<T>(nx, ny, ph, df::function_hint::row_major, [](std::int64_t f, double x, int) {
      return f == 0 ? std::sin(5.0 * x) + 0.2 * x : std::exp(x) + x;  // many roots; monotone
    });
    built_spline<T, S> s(b, d);
    const pieces<T, S> p{s, d};
    std::vector<T> levels = {T(0.0137), T(-0.4321), T(0.777), T(2.3456), T(-5.0), T(50.0)};
    // Levels that are not finite have no root, also where a piece is flat.
    levels.push_back(std::numeric_limits<T>::quiet_NaN());
    levels.push_back(std::numeric_limits<T>::infinity());
    levels.push_back(-std::numeric_limits<T>::infinity());
    const solved got = solve_on(s, levels, max_roots);
    for (std::int64_t f = 0; f < ny; ++f) {
      for (std::size_t i = 0; i < levels.size(); ++i) {
        SCOPED_TRACE(::testing::Message() << "function " << f << " level " << levels[i] << " max_roots " << max_roots);
        const std::size_t slot = std::size_t(f) * levels.size() + i;
        const std::vector<double> want =
            std::isfinite(levels[i]) ? sampled_roots(p, f, real(levels[i])) : std::vector<double>{};
        ASSERT_EQ(got.counts[slot], std::int64_t(want.size()));
        for (std::size_t r = 0; r < want.size() && std::int64_t(r) < max_roots; ++r) {
          const double root = got.roots[slot * std::size_t(max_roots) + r];
          EXPECT_NEAR(root, want[r], tolerance<T>(4)) << "root " << r;
        }
      }
    }
  }
}

TEST_P(Calculus, RootsMatchSampledSignChanges) {
  check_sampled_roots<double, natural>(GetParam(), 16);
  check_sampled_roots<float, natural>(GetParam(), 16);
  check_sampled_roots<double, linear>(GetParam(), 16);
  check_sampled_roots<double, pchip>(GetParam(), 3);  // more roots than stored
  check_sampled_roots<double, akima>(GetParam(), 1);
  check_sampled_roots<float, hermite>(GetParam(), 0);  // counts only
}

template <typename T>
void check_special_roots(backend b) {
  // (x + 0.7)(x - 0.3)(x - 1.9); x^3 + x, monotone.
  const cubic three{{0.399, -0.97, -1.5, 1.0}};
  const cubic monotone{{0.0, 1.0, 0.0, 1.0}};
  const std::int64_t nx = 11;
  built_spline<T, hermite> s = reproduce<T>(b, {three, monotone}, nx);
  spline_data<T> d = sample<T>(nx, 2, df::partition_hint::non_uniform, df::function_hint::row_major,
                               [](std::int64_t, double, int) { return 0.0; });
  const T breakpoint = T(d.x(4));
  const std::vector<T> levels = {T(0), T(monotone(double(breakpoint)))};
  const solved got = solve_on(s, levels, 4);
  auto roots = [&](std::size_t f, std::size_t i) {
    const std::size_t slot = f * levels.size() + i;
    return std::vector<double>(got.roots.begin() + std::ptrdiff_t(slot * 4),
                               got.roots.begin() + std::ptrdiff_t(slot * 4 + std::size_t(std::min<std::int64_t>(got.counts[slot], 4))));
  };
  const double tol = tolerance<T>(16);
  ASSERT_EQ(got.counts[0], 3);
  EXPECT_NEAR(roots(0, 0)[0], -0.7, tol);
  EXPECT_NEAR(roots(0, 0)[1], 0.3, tol);
  EXPECT_NEAR(roots(0, 0)[2], 1.9, tol);
  ASSERT_EQ(got.counts[2], 1);
  EXPECT_NEAR(roots(1, 0)[0], 0.0, tol);
  // The level of a breakpoint's value: the breakpoint, once.
  ASSERT_EQ(got.counts[3], 1);
  EXPECT_EQ(roots(1, 1)[0], double(breakpoint));
}

TEST_P(Calculus, SimpleAndBreakpointRoots) {
  check_special_roots<float>(GetParam());
  check_special_roots<double>(GetParam());
}

// A touching point on a breakpoint and inside a cell, and a flat run at the
// level: each one root, the flat run at its left end. Every coefficient is
// exact, so the touching points are exact too.
TEST_P(Calculus, TouchingPointsAndFlatRunsAreOneRoot) {
  const backend b = GetParam();
  spline_data<double> d;
  d.nx = 6;
  d.ny = 3;
  d.partition = {0, 1, 2, 3, 4, 5};
  d.values = {3, 1, 0, 1, 3, 4,                  // a valley touching 0 at x = 2
              0, 1, 1, 1, 2, 3,                  // flat at 1 over [1, 3]
              6.25, 2.25, 0.25, 0.25, 2.25, 6.25};  // (x - 2.5)^2
  d.own_slopes = {-2, -2, 0, 2, 2, 1,  //
                  1, 0, 0, 0, 1, 1,    //
                  -5, -3, -1, 1, 3, 5};
  built_spline<double, hermite> s(b, d);
  const solved got = solve_on(s, std::vector<double>{0.0, 1.0}, 4);
  // Function 2: level 0 touches at 2.5; level 1 crosses at 1.5 and 3.5.
  ASSERT_EQ(got.counts[4], 1);
  EXPECT_EQ(got.roots[16], 2.5);
  ASSERT_EQ(got.counts[5], 2);
  EXPECT_NEAR(got.roots[20], 1.5, 1e-15);
  EXPECT_NEAR(got.roots[21], 3.5, 1e-15);
  // Function 0: level 0 touches at 2; level 1 crosses twice.
  ASSERT_EQ(got.counts[0], 1);
  EXPECT_EQ(got.roots[0], 2.0);
  ASSERT_EQ(got.counts[1], 2);
  EXPECT_EQ(got.roots[4], 1.0);
  EXPECT_EQ(got.roots[5], 3.0);
  // Function 1: level 0 at the left end; level 1 is the flat run [1, 3].
  ASSERT_EQ(got.counts[2], 1);
  EXPECT_EQ(got.roots[8], 0.0);
  ASSERT_EQ(got.counts[3], 1);
  EXPECT_EQ(got.roots[12], 1.0);
}

// Misuse is refused on the calling thread with the texts of interpolate;
// n = 0 writes nothing, even with null arrays.
TEST_P(Calculus, MisuseIsRefusedBeforeAnythingRuns) {
  const backend b = GetParam();
  spline_data<double> d = sample<double>(5, 2, df::partition_hint::non_uniform, df::function_hint::row_major,
                                         [](std::int64_t, double x, int) { return x; });
  built_spline<double, linear> s(b, d);
  usm_array<double> v(s.q, 8);
  usm_array<std::int64_t> counts(s.q, 8);
  double* p = v.get();
  double* none = nullptr;
  expect_invalid([&] { df::integrate(s.s, p, p, -1, p); }, "integrate", "n < 0");
  expect_invalid([&] { df::integrate(s.s, none, p, 1, p); }, "integrate", "lower is nullptr");
  expect_invalid([&] { df::integrate(s.s, p, none, 1, p); }, "integrate", "upper is nullptr");
  expect_invalid([&] { df::integrate(s.s, p, p, 1, none); }, "integrate", "results is nullptr");
  expect_invalid([&] { df::integrate(s.s, p, p, std::int64_t(1) << 62, p); }, "integrate",
                 "result array size overflows");
  expect_invalid([&] { df::solve(s.s, p, -1, p, counts.get(), 1); }, "solve", "n < 0");
  expect_invalid([&] { df::solve(s.s, p, 1, p, counts.get(), -1); }, "solve", "max_roots < 0");
  expect_invalid([&] { df::solve(s.s, none, 1, p, counts.get(), 1); }, "solve", "y is nullptr");
  expect_invalid([&] { df::solve(s.s, p, 1, none, counts.get(), 1); }, "solve", "roots is nullptr");
  expect_invalid([&] { df::solve(s.s, p, 1, p, nullptr, 1); }, "solve", "counts is nullptr");
  df::integrate(s.s, none, none, 0, none);
  df::solve(s.s, none, 0, none, nullptr, 0);
  df::solve(s.s, p, 1, none, counts.get(), 0);
  s.q.wait_and_throw();

  // Coefficients never computed: refused as interpolate refuses them.
  usm_array<double> c(s.q, 8);
  auto fresh = make_spline<double, linear>(b, s.q, 2, false);
  fresh->set_partitions(s.x.get(), 5).set_function_values(s.y.get()).set_coefficients(c.get());
  expect_refusal<velora::qrx::computation_error>([&] { df::integrate(*fresh, p, p, 1, p); },
                                                 computation("integrate", "coefficients were not computed"));
  expect_refusal<velora::qrx::computation_error>([&] { df::solve(*fresh, p, 1, p, counts.get(), 1); },
                                                 computation("solve", "coefficients were not computed"));
}

INSTANTIATE_TEST_SUITE_P(BothBackends, Calculus, ::testing::ValuesIn(both_backends),
                         [](const auto& info) { return std::string(info.param == backend::gpu ? "gpu" : "cpu"); });

}  // namespace
}  // namespace backend_test
