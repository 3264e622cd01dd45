// The cubic kinds built from values alone (natural, Akima, Bessel, Hyman,
// PCHIP, modified Akima, Steffen) and Hermite from every function's own
// slopes, on both back-ends, through the public spline: held to the
// reference slopes of support/cubic_reference.hpp, and to the properties
// each kind promises.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "support/backend_fixture.hpp"
#include "support/async_errors.hpp"
#include "support/cubic_reference.hpp"

namespace backend_test {
namespace {

using df::bc_type;
using df::function_hint;
using df::partition_hint;
using natural = df::cubic_spline::natural;
using akima = df::cubic_spline::akima;
using bessel = df::cubic_spline::bessel;
using hyman = df::cubic_spline::hyman;
using pchip = df::cubic_spline::pchip;
using makima = df::cubic_spline::makima;
using steffen = df::cubic_spline::steffen;

template <typename S>
constexpr bool is_c2_kind = std::is_same_v<S, natural> || std::is_same_v<S, hyman>;

// The reference's type number of each kind.
template <typename S>
constexpr std::int64_t reference_type = std::is_same_v<S, natural>   ? cubic_reference::natural
                                        : std::is_same_v<S, hyman>   ? cubic_reference::hyman
                                        : std::is_same_v<S, akima>   ? cubic_reference::akima
                                        : std::is_same_v<S, pchip>   ? cubic_reference::pchip
                                        : std::is_same_v<S, makima>  ? cubic_reference::makima
                                        : std::is_same_v<S, steffen> ? cubic_reference::steffen
                                                                     : cubic_reference::bessel;

// Derivative `order` at t of the cubic Hermite interpolant of the values at
// x with the slopes at the ends of each cell (the end cells' cubics extended
// beyond the ends).
double hermite_at(const std::vector<double>& x, const std::vector<double>& y, const cubic_reference::end_slopes& d,
                  double t, int order) {
  std::size_t k = 0;
  while (k + 2 < x.size() && t >= x[k + 1]) ++k;
  const double h = x[k + 1] - x[k], s = (y[k + 1] - y[k]) / h, dl = d[k].first, dr = d[k].second;
  const double c2 = (3 * s - 2 * dl - dr) / h, c3 = (dl + dr - 2 * s) / (h * h), dt = t - x[k];
  if (order == 0) return y[k] + dt * (dl + dt * (c2 + dt * c3));
  if (order == 1) return dl + dt * (2 * c2 + 3 * dt * c3);
  return 2 * c2 + 6 * dt * c3;
}

// ---- Cases ---------------------------------------------------------------

// Smooth functions whose end values agree to a rounding (cosines of 0 and
// 2 pi round to 1), so every boundary kind applies; not symmetric, so that
// no Akima weight is zero by accident of the data.
double wave(std::int64_t fn, double x, int order) {
  const double w = 2 * M_PI / 3.75, p = w * (x + 1.25), scale = 1 + 0.5 * double(fn);
  return order == 0 ? scale * std::cos(p) + 0.25 * std::cos(3 * p) + 0.3 * std::sin(p) + double(fn) : 0;
}

template <typename S>
std::vector<std::vector<bc_type>> kinds_of() {
  if constexpr (is_c2_kind<S>) {
    return {{},
            {bc_type::free_end},
            {bc_type::first_left_der, bc_type::first_right_der},
            {bc_type::second_left_der, bc_type::first_right_der},
            {bc_type::first_left_der, bc_type::second_right_der},
            {bc_type::second_left_der, bc_type::second_right_der},
            {bc_type::periodic},
            {bc_type::not_a_knot}};
  } else {
    return {{}, {bc_type::first_left_der, bc_type::first_right_der}};
  }
}

long long accumulated(const std::vector<bc_type>& kinds) {
  long long bc = 0;
  for (bc_type k : kinds) bc |= static_cast<long long>(k);
  return bc;
}

// Breakpoints of d and the values of function fn there.
template <typename T>
std::pair<std::vector<double>, std::vector<double>> knots_of(spline_data<T> d, std::int64_t fn) {
  std::vector<double> x, y;
  for (std::int64_t i = 0; i < d.nx; ++i) {
    x.push_back(d.x(i));
    y.push_back(double(d.value(fn, i)));
  }
  return {x, y};
}

template <typename C>
class CubicKinds : public ::testing::Test {};
using kind_configs =
    ::testing::Types<config<float, natural>, config<double, natural>, config<float, akima>, config<double, akima>,
                     config<float, bessel>, config<double, bessel>, config<float, hyman>, config<double, hyman>,
                     config<float, pchip>, config<double, pchip>, config<float, makima>, config<double, makima>,
                     config<float, steffen>, config<double, steffen>>;
TYPED_TEST_SUITE(CubicKinds, kind_configs);

// Values, first and second derivatives at random sites and at every
// breakpoint, against the reference, for every boundary kind, hint and
// partition length (one to many blocks of the GPU back-end's solve).
TYPED_TEST(CubicKinds, MatchReferenceOnBothBackends) {
  using T = typename TypeParam::fp;
  using S = typename TypeParam::kind;
  const std::int64_t ny = 2;
  double largest_gap = 0;
  for (std::int64_t nx : {3, 4, 5, 12, 41}) {
    for (partition_hint ph : {partition_hint::non_uniform, partition_hint::uniform}) {
      for (function_hint fh : {function_hint::row_major, function_hint::col_major}) {
        for (const auto& kinds : kinds_of<S>()) {
          spline_data<T> d = sample<T>(nx, ny, ph, fh, wave, unsigned(nx));
          d.bc_kinds = kinds;
          d.bc_left = T(0.7);
          d.bc_right = T(-0.4);
          std::vector<T> sites;
          for (std::int64_t i = 0; i < nx; ++i) sites.push_back(T(d.x(i)));
          std::mt19937 rng(3);
          std::uniform_real_distribution<double> at(-1.25, 2.5);
          for (int i = 0; i < 40; ++i) sites.push_back(T(at(rng)));
          const auto nsites = std::int64_t(sites.size());
          std::vector<T> results[2];
          for (backend b : both_backends) {
            SCOPED_TRACE(std::string(name(b)) + " nx " + std::to_string(nx) + " bc " +
                         std::to_string(accumulated(kinds)) + " uniform " + std::to_string(ph == partition_hint::uniform));
            built_spline<T, S> built(b, d);
            results[int(b)] = built.evaluate(sites, nsites, 0b111, df::interpolate_hint::funcs_sites_ders,
                                             df::site_hint::non_uniform, T(0), 3);
            for (std::int64_t fn = 0; fn < ny; ++fn) {
              const auto [x, y] = knots_of(d, fn);
              const cubic_reference::end_slopes slopes = cubic_reference::reference_slopes(
                  reference_type<S>, accumulated(kinds), x, y, double(d.bc_left), double(d.bc_right), {});
              double hmin = x[1] - x[0];
              for (std::size_t k = 0; k + 1 < x.size(); ++k) hmin = std::min(hmin, x[k + 1] - x[k]);
              for (std::int64_t i = 0; i < nsites; ++i) {
                // At a breakpoint the second derivative of a C1 kind depends
                // on the cell the site falls in, which rounding decides.
                const int orders = i < nx && !std::is_same_v<S, natural> ? 2 : 3;
                for (int order = 0; order < orders; ++order) {
                  const double expected = hermite_at(x, y, slopes, double(sites[i]), order);
                  const double tol = tolerance<T>(4) / std::pow(hmin, order);
                  ASSERT_NEAR(double(results[int(b)][(fn * nsites + i) * 3 + order]), expected, tol)
                      << "function " << fn << " site " << sites[i] << " order " << order;
                }
              }
            }
          }
          for (std::size_t i = 0; i < results[0].size(); i += 3)
            largest_gap = std::max(largest_gap, std::fabs(double(results[0][i]) - double(results[1][i])));
        }
      }
    }
  }
  std::printf("%s: largest difference of values between the back-ends: %.3g\n", df::detail::spline_kind<S>::name,
              largest_gap);
}

// Polynomials each kind reproduces exactly (up to rounding): a line by
// every kind, a quadratic by Bessel and not-a-knot, a cubic by the natural
// spline with its true end derivatives and by not-a-knot.
TYPED_TEST(CubicKinds, ReproducePolynomials) {
  using T = typename TypeParam::fp;
  using S = typename TypeParam::kind;
  struct poly_case {
    int degree;
    std::vector<bc_type> kinds;
  };
  std::vector<poly_case> cases = {{1, {}}};
  if constexpr (std::is_same_v<S, bessel>) cases.push_back({2, {}});
  if constexpr (std::is_same_v<S, natural>) {
    cases.push_back({3, {bc_type::first_left_der, bc_type::first_right_der}});
    cases.push_back({3, {bc_type::second_left_der, bc_type::second_right_der}});
    cases.push_back({3, {bc_type::not_a_knot}});
    cases.push_back({2, {bc_type::not_a_knot}});
  }
  const double a = -1.25, bnd = 2.5;
  auto p = [](int degree, double x, int order) {
    const double c[4] = {0.5, -1.0, degree >= 2 ? 0.75 : 0.0, degree >= 3 ? -0.3 : 0.0};
    double sum = 0;
    for (int q = 3; q >= order; --q) {
      double falling = 1;
      for (int i = 0; i < order; ++i) falling *= q - i;
      sum = sum * x + falling * c[q];
    }
    return sum;
  };
  for (const poly_case& pc : cases) {
    const bc_type first = pc.kinds.empty() ? bc_type(0) : pc.kinds[0];
    for (std::int64_t nx : {3, 9, 30}) {
      if (pc.degree == 3 && first == bc_type::not_a_knot && nx == 3) continue;
      spline_data<T> d = sample<T>(nx, 1, partition_hint::non_uniform, function_hint::row_major,
                                   [&](std::int64_t, double x, int) { return p(pc.degree, x, 0); });
      d.bc_kinds = pc.kinds;
      const bool second = first == bc_type::second_left_der;
      d.bc_left = T(p(pc.degree, a, second ? 2 : 1));
      d.bc_right = T(p(pc.degree, bnd, second ? 2 : 1));
      std::vector<T> sites;
      for (int i = 0; i <= 50; ++i) sites.push_back(T(a + (bnd - a) * i / 50.0));
      for (backend b : both_backends) {
        SCOPED_TRACE(std::string(name(b)) + " degree " + std::to_string(pc.degree) + " nx " + std::to_string(nx));
        built_spline<T, S> built(b, d);
        const std::vector<T> r =
            built.evaluate(sites, 51, 0b1, df::interpolate_hint::funcs_sites_ders, df::site_hint::non_uniform, T(0), 1);
        for (std::size_t i = 0; i < sites.size(); ++i)
          ASSERT_NEAR(double(r[i]), p(pc.degree, double(sites[i]), 0), tolerance<T>(4)) << "site " << sites[i];
      }
    }
  }
}

// Coefficients of cell k, counted over the functions in order (row-major
// coefficients: function f's cells follow function f - 1's).
template <typename T, typename S>
const T* cell(const built_spline<T, S>& s, std::int64_t k) {
  return s.c.get() + 4 * k;
}

template <typename T>
class CubicKindsByType : public ::testing::Test {};
using fp_types = ::testing::Types<float, double>;
TYPED_TEST_SUITE(CubicKindsByType, fp_types);

// The natural spline's first and second derivatives are continuous at
// every breakpoint, and for a periodic spline across the joined ends too.
TYPED_TEST(CubicKindsByType, NaturalIsTwiceContinuouslyDifferentiable) {
  using T = TypeParam;
  for (const auto& kinds : kinds_of<natural>()) {
    spline_data<T> d = sample<T>(37, 1, partition_hint::non_uniform, function_hint::row_major, wave);
    d.bc_kinds = kinds;
    for (backend b : both_backends) {
      SCOPED_TRACE(std::string(name(b)) + " bc " + std::to_string(accumulated(kinds)));
      built_spline<T, natural> s(b, d);
      auto end_of = [&](std::int64_t k, int order) {
        return piece(cell(s, k), 4, d.x(k + 1) - d.x(k), order);
      };
      for (std::int64_t k = 0; k + 1 < d.nx - 1; ++k)
        for (int order : {1, 2})
          ASSERT_NEAR(end_of(k, order), piece(cell(s, k + 1), 4, 0.0, order), tolerance<T>(64)) << "cell " << k;
      if (accumulated(kinds) == 64) {
        for (int order : {0, 1, 2})
          EXPECT_NEAR(end_of(d.nx - 2, order), piece(cell(s, 0), 4, 0.0, order), tolerance<T>(64)) << order;
      }
    }
  }
}

// A periodic Hyman spline long enough for the CPU kernels' blocked solve,
// whose data rise gently into the join and steeply out of it: the filter at
// the joined ends takes the secants on both sides, so the slope there is at
// most three times the gentle one (a filter that saw only the steep side
// would keep the natural slope, near their mean). The first and last
// breakpoints share that slope, and the back-ends agree.
TYPED_TEST(CubicKindsByType, PeriodicHymanJoinsItsEndsOnLongPartitions) {
  using T = TypeParam;
  spline_data<T> d = sample<T>(4097, 2, partition_hint::non_uniform, function_hint::row_major, wave);
  d.bc_kinds = {bc_type::periodic};
  const double gentle = 0.01, steep = 5;
  const std::int64_t n = d.nx;
  for (std::int64_t fn = 0; fn < 2; ++fn) {
    const T join = d.value(fn, 0);
    d.value(fn, n - 1) = join;
    d.value(fn, n - 2) = T(join - gentle * (d.x(n - 1) - d.x(n - 2)));
    d.value(fn, 1) = T(join + steep * (d.x(1) - d.x(0)));
  }
  const double tol = std::is_same_v<T, float> ? 1e-2 : 1e-8;
  std::vector<double> first_slopes;
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    built_spline<T, hyman> s(b, d);
    for (std::int64_t fn = 0; fn < 2; ++fn) {
      const double first = cell(s, fn * (n - 1))[1];
      const double last = piece(cell(s, fn * (n - 1) + n - 2), 4, d.x(n - 1) - d.x(n - 2), 1);
      EXPECT_GE(first, 0) << "function " << fn;
      EXPECT_LE(first, 3 * gentle * (1 + tol)) << "function " << fn;
      EXPECT_NEAR(last, first, tol * steep) << "function " << fn;
      first_slopes.push_back(first);
    }
  }
  for (std::size_t fn = 0; fn < 2; ++fn) EXPECT_NEAR(first_slopes[fn], first_slopes[fn + 2], tol * steep);
}

// Random increasing (and decreasing) data with flat stretches: the Hyman,
// PCHIP and Steffen splines are monotone on every cell, where the natural
// spline overshoots.
TYPED_TEST(CubicKindsByType, MonotoneKindsKeepMonotoneDataMonotone) {
  using T = TypeParam;
  auto check = [](auto kind_tag) {
    using S = decltype(kind_tag);
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> step(0, 1);
    for (int trial = 0; trial < 6; ++trial) {
      const double sign = trial % 2 == 0 ? 1 : -1;
      std::vector<double> cumulative(40);
      double total = 0;
      for (double& v : cumulative) {
        const double r = step(rng);
        total += r < 0.3 ? 0 : r * r * 5;
        v = sign * total;
      }
      spline_data<T> d = sample<T>(40, 1, trial < 3 ? partition_hint::non_uniform : partition_hint::uniform,
                                   function_hint::row_major, [&](std::int64_t, double, int) { return 0.0; });
      for (std::int64_t i = 0; i < 40; ++i) d.value(0, i) = T(cumulative[std::size_t(i)]);
      if (trial == 2 && std::is_same_v<S, hyman>) d.bc_kinds = {bc_type::not_a_knot};
      for (backend b : both_backends) {
        built_spline<T, S> s(b, d);
        for (std::int64_t k = 0; k < 39; ++k) {
          const T* c = s.c.get() + 4 * k;
          const double h = d.x(k + 1) - d.x(k);
          for (int q = 0; q <= 16; ++q)
            ASSERT_GE(sign * piece(c, 4, h * q / 16, 1), -tolerance<T>(64 * total))
                << df::detail::spline_kind<S>::name << " " << name(b) << " cell " << k;
        }
      }
    }
  };
  check(hyman{});
  check(pchip{});
  check(steffen{});
}

// Data with flat runs between ramps: every cell of a run of two or more flat
// cells stays exactly flat under the modified Akima rule (Akima's own rule
// bends some of them), and data symmetric about the middle of a symmetric
// partition give a symmetric curve.
TYPED_TEST(CubicKindsByType, MakimaKeepsFlatRunsFlatAndSymmetricDataSymmetric) {
  using T = TypeParam;
  const std::vector<double> levels = {0, 0, 0, 1, 2, 3, 3, 3, 1, 1, 0.5, 0, 0, 2, 2, 2};
  const auto nx = std::int64_t(levels.size());
  // Uniform: the ramps' secants are equal, as Akima's fallback needs.
  spline_data<T> d = sample<T>(nx, 1, partition_hint::uniform, function_hint::row_major,
                               [&](std::int64_t, double, int) { return 0.0; });
  for (std::int64_t i = 0; i < nx; ++i) d.value(0, i) = T(levels[std::size_t(i)]);
  auto flat_run_cell = [&](std::int64_t k) {
    const bool flat = levels[std::size_t(k)] == levels[std::size_t(k + 1)];
    const bool left = k > 0 && levels[std::size_t(k - 1)] == levels[std::size_t(k)];
    const bool right = k + 2 < nx && levels[std::size_t(k + 2)] == levels[std::size_t(k + 1)];
    return flat && (left || right);
  };
  for (backend b : both_backends) {
    built_spline<T, makima> modified(b, d);
    built_spline<T, akima> plain(b, d);
    int bent_by_akima = 0;
    for (std::int64_t k = 0; k + 1 < nx; ++k) {
      if (!flat_run_cell(k)) continue;
      for (int q = 1; q < 4; ++q) EXPECT_EQ(modified.c[std::size_t(4 * k + q)], T(0)) << name(b) << " cell " << k;
      bent_by_akima += plain.c[std::size_t(4 * k + 1)] != T(0) || plain.c[std::size_t(4 * k + 2)] != T(0);
    }
    EXPECT_GT(bent_by_akima, 0) << name(b);
  }

  // Symmetric: breakpoints and values mirrored about 0.
  const std::int64_t half = 9, n = 2 * half + 1;
  spline_data<T> sym = sample<T>(n, 1, partition_hint::non_uniform, function_hint::row_major,
                                 [&](std::int64_t, double, int) { return 0.0; });
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> gap(0.5, 1.5), level(-1, 1);
  double at = 0;
  std::vector<double> xs(static_cast<std::size_t>(n)), ys(static_cast<std::size_t>(n));
  for (std::int64_t i = 1; i <= half; ++i) {
    at += gap(rng);
    const double y = i % 4 == 1 ? 0.25 : level(rng);
    xs[std::size_t(half + i)] = at, xs[std::size_t(half - i)] = -at;
    ys[std::size_t(half + i)] = y, ys[std::size_t(half - i)] = y;
  }
  for (std::int64_t i = 0; i < n; ++i) {
    sym.partition[std::size_t(i)] = T(xs[std::size_t(i)]);
    sym.value(0, i) = T(ys[std::size_t(i)]);
  }
  std::vector<T> sites;
  for (int i = 0; i <= 40; ++i) sites.push_back(T(at * (i - 20) / 20.0));
  for (backend b : both_backends) {
    built_spline<T, makima> s(b, sym);
    const std::vector<T> r = s.evaluate(sites, 41, 0b1, df::interpolate_hint::funcs_sites_ders,
                                        df::site_hint::non_uniform, T(0), 1);
    for (int i = 0; i <= 20; ++i) EXPECT_NEAR(double(r[std::size_t(i)]), double(r[std::size_t(40 - i)]), tolerance<T>(8)) << name(b) << " site " << sites[std::size_t(i)];
  }
}

// Hermite from every function's own slopes at every breakpoint reproduces
// each function's own cubic, in both layouts and partition kinds; the
// slopes are refused beside internal or boundary conditions, and without
// them nothing else is needed.
TYPED_TEST(CubicKindsByType, HermiteTakesEveryFunctionsOwnSlopes) {
  using T = TypeParam;
  auto cubic = [](std::int64_t fn, double x, int order) {
    const double c[4] = {0.5 - double(fn), 1.25 * double(fn), 0.75 - 0.5 * double(fn), 0.375 * double(fn - 1)};
    double sum = 0;
    for (int q = 3; q >= order; --q) sum = sum * x + c[q] * (order == 0 ? 1 : order == 1 ? q : q * (q - 1));
    return sum;
  };
  for (partition_hint ph : {partition_hint::non_uniform, partition_hint::uniform}) {
    for (function_hint fh : {function_hint::row_major, function_hint::col_major}) {
      spline_data<T> d = sample<T>(13, 3, ph, fh, [&](std::int64_t fn, double x, int) { return cubic(fn, x, 0); });
      d.own_slopes.resize(d.values.size());
      for (std::int64_t fn = 0; fn < 3; ++fn)
        for (std::int64_t i = 0; i < d.nx; ++i) {
          const std::int64_t at = fh == function_hint::row_major ? fn * d.nx + i : i * 3 + fn;
          d.own_slopes[std::size_t(at)] = T(cubic(fn, d.x(i), 1));
        }
      std::vector<T> sites;
      for (int i = 0; i <= 30; ++i) sites.push_back(T(d.x(0) + (d.x(d.nx - 1) - d.x(0)) * i / 30.0));
      for (backend b : both_backends) {
        SCOPED_TRACE(std::string(name(b)) + (ph == partition_hint::uniform ? " uniform" : "") +
                     (fh == function_hint::col_major ? " col_major" : ""));
        built_spline<T, hermite> s(b, d);
        const std::vector<T> r = s.evaluate(sites, 31, 0b111, df::interpolate_hint::funcs_sites_ders,
                                            df::site_hint::non_uniform, T(0), 3);
        for (std::int64_t fn = 0; fn < 3; ++fn)
          for (std::int64_t i = 0; i < 31; ++i)
            for (int order = 0; order < 3; ++order)
              ASSERT_NEAR(double(r[std::size_t((fn * 31 + i) * 3 + order)]), cubic(fn, double(sites[std::size_t(i)]), order),
                          tolerance<T>(64))
                  << "function " << fn << " site " << sites[std::size_t(i)] << " order " << order;
      }
    }
  }
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    sycl::queue q = queue_for(b);
    usm_array<T> x(q, {T(0), T(1), T(2)}), y(q, std::vector<T>(3, T(1))), slopes(q, std::vector<T>(3, T(0))),
        c(q, 8);
    auto s = make_spline<T, hermite>(b, q, 1, false);
    s->set_partitions(x.get(), 3).set_function_values(y.get()).set_coefficients(c.get());
    EXPECT_FALSE(s->is_initialized());
    expect_invalid([&] { s->set_first_derivatives(nullptr); }, "set_first_derivatives", "data is nullptr");
    s->set_first_derivatives(slopes.get());
    EXPECT_TRUE(s->is_initialized());
    s->set_boundary_conditions(bc_type::first_left_der, T(0));
    expect_invalid([&] { s->construct(); }, "construct", "first derivatives exclude internal and boundary conditions");
    auto t = make_spline<T, hermite>(b, q, 1, false);
    t->set_partitions(x.get(), 3).set_function_values(y.get()).set_coefficients(c.get());
    t->set_first_derivatives(slopes.get()).set_internal_conditions(slopes.get());
    expect_invalid([&] { t->construct(); }, "construct", "first derivatives exclude internal and boundary conditions");
    q.wait_and_throw();
  }
}

// Changing one value moves only the Akima cells within three of it.
TYPED_TEST(CubicKindsByType, AkimaIsLocal) {
  using T = TypeParam;
  spline_data<T> d = sample<T>(30, 1, partition_hint::non_uniform, function_hint::row_major, wave);
  for (backend b : both_backends) {
    built_spline<T, akima> before(b, d);
    spline_data<T> changed = d;
    changed.value(0, 15) += T(3);
    built_spline<T, akima> after(b, changed);
    for (std::int64_t k = 0; k < 29; ++k) {
      const bool near = k >= 15 - 3 && k <= 15 + 2;
      bool same = true;
      for (int q = 0; q < 4; ++q) same = same && before.c[std::size_t(4 * k + q)] == after.c[std::size_t(4 * k + q)];
      EXPECT_EQ(same, !near) << name(b) << " cell " << k;
    }
  }
}

// Refusals: a boundary kind the spline kind does not take, on the calling
// thread; periodic conditions on data whose ends differ, with the queue's
// errors, leaving the coefficients uncomputed. The same on both back-ends.
TYPED_TEST(CubicKindsByType, RefuseWhatTheyCannotBuild) {
  using T = TypeParam;
  spline_data<T> d = sample<T>(9, 2, partition_hint::non_uniform, function_hint::row_major,
                               [](std::int64_t fn, double x, int) { return double(fn) + x; });
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    sycl::queue q = queue_for(b);
    usm_array<T> x(q, d.partition), y(q, d.values), c(q, 4 * 8 * 2);
    auto refused = [&](auto kind_tag, std::vector<bc_type> kinds) {
      using S = decltype(kind_tag);
      auto s = make_spline<T, S>(b, q, 2, false);
      s->set_partitions(x.get(), 9).set_function_values(y.get()).set_coefficients(c.get());
      for (bc_type k : kinds) s->set_boundary_conditions(k, T(1));
      expect_invalid([&] { s->construct(); }, "construct", "invalid boundary conditions");
    };
    refused(natural{}, {bc_type::kind_1});
    refused(natural{}, {bc_type::first_left_der});
    refused(hyman{}, {bc_type::periodic, bc_type::not_a_knot});
    refused(akima{}, {bc_type::free_end});
    refused(bessel{}, {bc_type::not_a_knot});
    refused(pchip{}, {bc_type::periodic});
    refused(makima{}, {bc_type::second_left_der, bc_type::second_right_der});
    refused(steffen{}, {bc_type::first_left_der});

    for (bool hyman_kind : {false, true}) {
      auto errors = std::make_shared<std::vector<std::string>>();
      sycl::queue handled(q.get_device(), [errors](sycl::exception_list list) {
        for (const auto& e : list) {
          try {
            std::rethrow_exception(e);
          } catch (const std::exception& x) {
            errors->push_back(test_support::async_error_text(x));
          }
        }
      });
      usm_array<T> hx(handled, d.partition), hy(handled, d.values), hc(handled, 4 * 8 * 2), site(handled, 1),
          out(handled, 2);
      auto check = [&](auto kind_tag) {
        using S = decltype(kind_tag);
        auto s = make_spline<T, S>(b, handled, 2, false);
        s->set_partitions(hx.get(), 9).set_function_values(hy.get()).set_coefficients(hc.get());
        s->set_boundary_conditions(bc_type::periodic, T(0));
        s->construct();
        handled.wait_and_throw();
        ASSERT_EQ(*errors, std::vector<std::string>{"velora::qrx::data_fitting::function values do not correspond "
                                                    "to periodic boundary conditions: invalid argument"});
        // The coefficients stay uncomputed: the GPU back-end says so at
        // once, the CPU back-end through the queue's handler.
        errors->clear();
        try {
          df::interpolate(*s, site.get(), 1, out.get());
          handled.wait_and_throw();
        } catch (const velora::qrx::computation_error& e) {
          errors->push_back(e.what());
        }
        EXPECT_EQ(*errors, std::vector<std::string>{computation("interpolate", "coefficients were not computed")});
        errors->clear();
      };
      if (hyman_kind) {
        check(hyman{});
      } else {
        check(natural{});
      }
    }
  }
}

// A long partition solved in blocks is as accurate as one plain Thomas
// sweep in double over the whole system.
TEST(CubicKindsAccuracy, BlockSolveAsAccurateAsThomas) {
  const std::int64_t nx = 200001;
  spline_data<double> d = sample<double>(nx, 1, partition_hint::non_uniform, function_hint::row_major,
                                         [](std::int64_t, double x, int) { return std::sin(40 * x) + x * x; });
  // The system in slopes: r[i-1] d[i-1] + 2 (r[i-1] + r[i]) d[i] + r[i] d[i+1] = 3 (r[i-1] s[i-1] + r[i] s[i]),
  // free ends 2 d[0] + d[1] = 3 s[0], d[m-1] + 2 d[m] = 3 s[m-1].
  auto thomas = [&](auto zero) {
    using R = decltype(zero);
    const std::size_t n = std::size_t(nx);
    std::vector<R> a(n), b(n), c(n), r(n), x(n);
    auto rw = [&](std::size_t k) { return R(1) / (R(d.partition[k + 1]) - R(d.partition[k])); };
    auto sec = [&](std::size_t k) { return (R(d.values[k + 1]) - R(d.values[k])) * rw(k); };
    b[0] = 2, c[0] = 1, r[0] = 3 * sec(0);
    a[n - 1] = 1, b[n - 1] = 2, r[n - 1] = 3 * sec(n - 2);
    for (std::size_t i = 1; i + 1 < n; ++i)
      a[i] = rw(i - 1), b[i] = 2 * (rw(i - 1) + rw(i)), c[i] = rw(i), r[i] = 3 * (rw(i - 1) * sec(i - 1) + rw(i) * sec(i));
    for (std::size_t i = 1; i < n; ++i) {
      const R f = a[i] / b[i - 1];
      b[i] -= f * c[i - 1];
      r[i] -= f * r[i - 1];
    }
    x[n - 1] = r[n - 1] / b[n - 1];
    for (std::size_t i = n - 1; i-- > 0;) x[i] = (r[i] - c[i] * x[i + 1]) / b[i];
    return x;
  };
  using real = long double;
  const std::vector<real> exact = thomas(real(0));
  const std::vector<double> plain = thomas(0.0);
  double plain_error = 0;
  for (std::size_t i = 0; i < exact.size(); ++i) plain_error = std::max(plain_error, double(std::fabs(plain[i] - exact[i])));
  for (backend b : both_backends) {
    built_spline<double, natural> s(b, d);
    double error = 0;
    for (std::int64_t k = 0; k + 1 < nx; ++k)
      error = std::max(error, double(std::fabs(real(s.c[std::size_t(4 * k + 1)]) - exact[std::size_t(k)])));
    std::printf("%s: largest slope error %.3g, plain double Thomas %.3g\n", name(b), error, plain_error);
    EXPECT_LE(error, std::max(4 * plain_error, 1e-12)) << name(b);
  }
}

}  // namespace
}  // namespace backend_test
