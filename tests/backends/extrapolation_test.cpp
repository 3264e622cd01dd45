// What sites outside the partition get, per side, on both back-ends: every
// mode against values computed here from the end cells' coefficients, for
// linear and cubic splines, every site hint, every result layout and every
// derivative order; NaN sites give NaN in every order and touch no other
// site.

#include <cmath>
#include <limits>
#include <string>
#include <tuple>

#include "detail/result_slot.hpp"
#include "support/backend_fixture.hpp"

namespace backend_test {
namespace {

using df::extrapolation;
using natural = df::cubic_spline::natural;

// Order d of cell k of function f at x, with t from the cell's left end.
template <typename T, typename S>
double cell_order(const built_spline<T, S>& s, const spline_data<T>& d, std::int64_t f, std::int64_t k, double x,
                  int order) {
  const int m = config<T, S>::coeffs_per_cell;
  if (order >= m) return 0;
  return piece(s.c.get() + (f * (d.nx - 1) + k) * m, m, x - d.x(k), order);
}

// What the spline must give at x: the cell's polynomial inside, the modes'
// continuation outside.
template <typename T, typename S>
double expected(const built_spline<T, S>& s, const spline_data<T>& d, extrapolation left, extrapolation right,
                std::int64_t f, double x, int order) {
  const double a = d.x(0), b = d.x(d.nx - 1);
  if (std::isnan(x)) return std::numeric_limits<double>::quiet_NaN();
  if (left == extrapolation::periodic && (x < a || x >= b)) {
    x = a + std::fmod(x - a, b - a);
    if (x < a) x += b - a;
  }
  const bool outside_left = x < a, outside_right = x > b;
  const extrapolation mode = outside_left ? left : outside_right ? right : extrapolation::extend;
  const std::int64_t last = d.nx - 2;
  std::int64_t k = 0;
  while (k < last && x >= d.x(k + 1)) ++k;
  const double end = outside_left ? a : b;
  const std::int64_t end_cell = outside_left ? 0 : last;
  switch (mode) {
    case extrapolation::constant: return order == 0 ? cell_order(s, d, f, end_cell, end, 0) : 0;
    case extrapolation::linear:
      if (order == 0) return cell_order(s, d, f, end_cell, end, 0) + cell_order(s, d, f, end_cell, end, 1) * (x - end);
      return order == 1 ? cell_order(s, d, f, end_cell, end, 1) : 0;
    case extrapolation::nan: return std::numeric_limits<double>::quiet_NaN();
    default: return cell_order(s, d, f, k, x, order);
  }
}

using modes_case = std::tuple<extrapolation, extrapolation, backend>;

class Extrapolation : public ::testing::TestWithParam<modes_case> {};

template <typename T, typename S>
void check_modes(extrapolation left, extrapolation right, backend b) {
  const std::int64_t nx = 9, ny = 3;
  const int m = config<T, S>::coeffs_per_cell;
  for (df::partition_hint ph : {df::partition_hint::non_uniform, df::partition_hint::uniform}) {
    spline_data<T> d = sample<T>(nx, ny, ph, df::function_hint::row_major,
                                 [](std::int64_t f, double x, int) { return std::sin(1.3 * x + double(f)) + x; });
    built_spline<T, S> s(b, d);
    s.s.set_extrapolation(left, right);
    const double a = d.x(0), bnd = d.x(nx - 1), width = bnd - a;
    // Listed sites: far and near on both sides, the ends, inside, a NaN.
    std::vector<T> listed;
    for (double u : {-2.3, -1.0, -0.01, 0.0, 0.37, 0.5, 0.99, 1.0, 1.01, 1.5, 3.7}) listed.push_back(T(a + u * width));
    listed.push_back(std::numeric_limits<T>::quiet_NaN());
    std::vector<T> sorted = listed;
    sorted.pop_back();
    const std::vector<T> uniform = {T(a - 0.75 * width), T(bnd + 0.75 * width)};
    struct site_case {
      df::site_hint hint;
      const std::vector<T>* sites;
      std::int64_t n;
    };
    const site_case site_cases[] = {{df::site_hint::non_uniform, &listed, std::int64_t(listed.size())},
                                    {df::site_hint::kind_64, &sorted, std::int64_t(sorted.size())},
                                    {df::site_hint::uniform, &uniform, 13}};
    for (const site_case& sc : site_cases) {
      for (df::interpolate_hint ih : {df::interpolate_hint::funcs_sites_ders, df::interpolate_hint::funcs_ders_sites,
                                      df::interpolate_hint::sites_funcs_ders, df::interpolate_hint::sites_ders_funcs}) {
        SCOPED_TRACE(::testing::Message() << (ph == df::partition_hint::uniform ? "uniform partition" : "listed")
                                          << " site hint " << int(sc.hint) << " layout " << int(ih));
        const std::int64_t K = 4;
        const std::vector<T> r = s.evaluate(*sc.sites, sc.n, 0b1111, ih, sc.hint, T(-99), K);
        for (std::int64_t f = 0; f < ny; ++f) {
          for (std::int64_t i = 0; i < sc.n; ++i) {
            const double x = sc.hint == df::site_hint::uniform
                                 ? double(T(T((uniform[1] - uniform[0]) / T(sc.n - 1)) * T(i) + uniform[0]))
                                 : double((*sc.sites)[std::size_t(i)]);
            for (int order = 0; order < 4; ++order) {
              const double got = double(r[std::size_t(df::detail::result_slot_of(ih, ny, sc.n, K, f, i, order))]);
              if (order >= m) {
                EXPECT_EQ(got, -99) << "order " << order << " does not exist";
                continue;
              }
              const double want = expected(s, d, left, right, f, x, order);
              if (std::isnan(want)) {
                EXPECT_TRUE(std::isnan(got)) << "function " << f << " site " << x << " order " << order << ": " << got;
              } else {
                const double scale = 1 + std::fabs(want) + std::fabs(x - a) + std::fabs(x - bnd);
                EXPECT_NEAR(got, want, tolerance<T>(16 * scale))
                    << "function " << f << " site " << x << " order " << order;
              }
            }
          }
        }
      }
    }
  }
}

TEST_P(Extrapolation, EveryModeOnEverySideMatchesTheEndCells) {
  const auto [left, right, b] = GetParam();
  SCOPED_TRACE(std::string(name(b)) + ", left " + mode_name(left) + ", right " + mode_name(right));
  check_modes<float, linear>(left, right, b);
  check_modes<double, linear>(left, right, b);
  check_modes<float, natural>(left, right, b);
  check_modes<double, hermite>(left, right, b);
}

// A call with many sites finds an outside or NaN site in whichever block of
// sites it lies (the CPU device tests blocks of sites on several threads).
TEST(ExtrapolationManySites, ASiteOutsideInAnyBlockGetsItsMode) {
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    spline_data<double> d = sample<double>(9, 1, df::partition_hint::non_uniform, df::function_hint::row_major,
                                           [](std::int64_t, double x, int) { return std::cos(x) + x; });
    built_spline<double, natural> s(b, d);
    s.s.set_extrapolation(extrapolation::constant, extrapolation::nan);
    const double a = d.x(0), bnd = d.x(8);
    const std::int64_t n = 3 * 65536 + 5;
    for (const std::int64_t where : {std::int64_t(3), std::int64_t(65536 + 17), n - 1}) {
      for (const double x : {a - 1.5, bnd + 0.25, std::numeric_limits<double>::quiet_NaN()}) {
        std::vector<double> sites(std::size_t(n), 0.5 * (a + bnd));
        sites[std::size_t(where)] = x;
        const std::vector<double> r = s.evaluate(sites, n, 0b1, df::interpolate_hint::funcs_sites_ders,
                                                 df::site_hint::non_uniform, -99.0, 1);
        const double want = expected(s, d, extrapolation::constant, extrapolation::nan, 0, x, 0);
        if (std::isnan(want)) {
          EXPECT_TRUE(std::isnan(r[std::size_t(where)])) << "site " << where << " at " << x;
        } else {
          EXPECT_NEAR(r[std::size_t(where)], want, 1e-14) << "site " << where << " at " << x;
        }
        EXPECT_NEAR(r[0], expected(s, d, extrapolation::constant, extrapolation::nan, 0, 0.5 * (a + bnd), 0), 1e-14);
      }
    }
  }
}

const extrapolation one_sided[] = {extrapolation::extend, extrapolation::constant, extrapolation::linear,
                                   extrapolation::nan};
INSTANTIATE_TEST_SUITE_P(OneSided, Extrapolation,
                         ::testing::Combine(::testing::ValuesIn(one_sided), ::testing::ValuesIn(one_sided),
                                            ::testing::ValuesIn(both_backends)),
                         [](const auto& info) {
                           return std::string(mode_name(std::get<0>(info.param))) + "_" +
                                  mode_name(std::get<1>(info.param)) + "_" +
                                  (std::get<2>(info.param) == backend::gpu ? "gpu" : "cpu");
                         });
INSTANTIATE_TEST_SUITE_P(Periodic, Extrapolation,
                         ::testing::Combine(::testing::Values(extrapolation::periodic),
                                            ::testing::Values(extrapolation::periodic),
                                            ::testing::ValuesIn(both_backends)),
                         [](const auto& info) {
                           return std::string("periodic_") + (std::get<2>(info.param) == backend::gpu ? "gpu" : "cpu");
                         });

// Periodic on one side only, and values that are not modes, are refused by
// the setter, which then changes nothing.
TEST(ExtrapolationSetter, RefusesWhatIsNoMode) {
  for (backend b : both_backends) {
    sycl::queue q = queue_for(b);
    auto s = make_spline<double, linear>(b, q, 1, false);
    expect_invalid([&] { s->set_extrapolation(extrapolation::periodic, extrapolation::extend); }, "set_extrapolation",
                   "invalid extrapolation");
    expect_invalid([&] { s->set_extrapolation(extrapolation::nan, extrapolation::periodic); }, "set_extrapolation",
                   "invalid extrapolation");
    expect_invalid([&] { s->set_extrapolation(extrapolation(5), extrapolation::nan); }, "set_extrapolation",
                   "invalid extrapolation");
    s->set_extrapolation(extrapolation::periodic, extrapolation::periodic);
  }
}

}  // namespace
}  // namespace backend_test
