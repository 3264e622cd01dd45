// Bad data and misuse, the same on both back-ends: partitions that are not
// finite and strictly increasing are refused by the construction's own work;
// a bad value stays in its function and reaches the cells whose formula
// reads it; the same misuse of interpolate gets the same answer on the
// calling thread; an evaluation always runs after the spline's latest
// construction.

#include <cmath>
#include <cstring>
#include <future>
#include <limits>
#include <string>

#include "support/async_errors.hpp"
#include "support/backend_fixture.hpp"
#include "support/collecting_queue.hpp"

namespace backend_test {
namespace {

using df::bc_type;
using natural = df::cubic_spline::natural;
using akima = df::cubic_spline::akima;
using bessel = df::cubic_spline::bessel;
using hyman = df::cubic_spline::hyman;
using pchip = df::cubic_spline::pchip;
using makima = df::cubic_spline::makima;
using steffen = df::cubic_spline::steffen;

template <typename T>
struct BadInput : ::testing::Test {};
using fp_types = ::testing::Types<float, double>;
TYPED_TEST_SUITE(BadInput, fp_types);

// A listed partition that is descending, repeats a breakpoint, holds a NaN
// or an infinity, and a uniform one whose ends are reversed, equal or
// infinite: construct refuses each in its work, through the queue's
// handler, once; the coefficients stay uncomputed, so interpolate refuses
// them, and nothing is written.
TYPED_TEST(BadInput, PartitionsOutOfOrderAreRefusedByTheConstruction) {
  using T = TypeParam;
  const T inf = std::numeric_limits<T>::infinity(), nan = std::numeric_limits<T>::quiet_NaN();
  const std::string not_increasing =
      "velora::qrx::data_fitting::construct: invalid argument: partition is not strictly increasing";
  const std::string not_finite = "velora::qrx::data_fitting::construct: invalid argument: partition is not finite";
  struct bad_partition {
    std::vector<T> x;
    df::partition_hint hint;
    std::string refusal;
  };
  const bad_partition cases[] = {{{0, 2, 1, 3, 4}, df::partition_hint::non_uniform, not_increasing},
                                 {{0, 1, 1, 3, 4}, df::partition_hint::quasi_uniform, not_increasing},
                                 {{0, 1, nan, 3, 4}, df::partition_hint::non_uniform, not_finite},
                                 {{0, 1, 2, 3, inf}, df::partition_hint::non_uniform, not_finite},
                                 {{-inf, 1, 2, 3, 4}, df::partition_hint::non_uniform, not_finite},
                                 {{0, 1, 2, 4, 3}, df::partition_hint::quasi_uniform, not_increasing},
                                 {{4, 0}, df::partition_hint::uniform, not_increasing},
                                 {{1, 1}, df::partition_hint::uniform, not_increasing},
                                 {{-inf, 1}, df::partition_hint::uniform, not_finite}};
  for (backend b : both_backends) {
    collecting c(b);
    usm_array<T> y(c.q, {1, 2, 0, 3, 5}), ic(c.q, {1, -1, 2}), coeffs(c.q, 16, T(7)), site(c.q, std::vector<T>{T(0.5)}),
        out(c.q, 1, T(-1));
    for (const bad_partition& p : cases) {
      SCOPED_TRACE(std::string(name(b)) + " partition " + std::to_string(double(p.x[0])) + ", " +
                   std::to_string(double(p.x[1])) + ", ...");
      usm_array<T> x(c.q, p.x);
      auto check = [&](auto& s) {
        s.set_partitions(x.get(), 5, p.hint).set_function_values(y.get()).set_coefficients(coeffs.get());
        sycl::event built = s.construct();
        EXPECT_EQ(c.take(), std::vector<std::string>{p.refusal});
        expect_refusal<velora::qrx::computation_error>(
            [&] { df::interpolate(s, site.get(), 1, out.get(), {built}); },
            computation("interpolate", "coefficients were not computed"));
        EXPECT_EQ(out[0], T(-1));
      };
      auto linear_spline = make_spline<T, linear>(b, c.q, 1, false);
      check(*linear_spline);
      auto natural_spline = make_spline<T, natural>(b, c.q, 1, false);
      check(*natural_spline);
      auto hermite_spline = make_spline<T, hermite>(b, c.q, 1, false);
      hermite_spline->set_internal_conditions(ic.get()).set_boundary_conditions(bc_type::free_end, T(0));
      check(*hermite_spline);
      auto akima_spline = make_spline<T, akima>(b, c.q, 1, false);
      check(*akima_spline);
    }
  }
}

// The breakpoints [lo, hi] whose values the slope of kind S at breakpoint i
// reads (m cells): none for the kinds whose slopes are given or whose
// solve reads everything (those are handled by reach()).
template <typename S>
std::pair<std::int64_t, std::int64_t> slope_reads(std::int64_t i, std::int64_t m) {
  // Secant k reads breakpoints k and k + 1; the secants Akima's rules
  // extrapolate beyond an end read the three end breakpoints.
  auto secants = [m](std::int64_t first, std::int64_t last) {
    const std::int64_t lo = first < 0 ? 0 : first >= m ? m - 2 : first;
    const std::int64_t hi = last >= m ? m : last < 0 ? 2 : last + 1;
    return std::make_pair(lo, hi);
  };
  if constexpr (std::is_same_v<S, akima> || std::is_same_v<S, makima>) {
    return secants(i - 2, i + 1);
  } else if constexpr (std::is_same_v<S, bessel> || std::is_same_v<S, pchip>) {
    return i == 0 ? secants(0, 1) : i == m ? secants(m - 2, m - 1) : secants(i - 1, i);
  } else {  // steffen: the end secant at an end
    return i == 0 ? secants(0, 0) : i == m ? secants(m - 1, m - 1) : secants(i - 1, i);
  }
}

// Whether cell k of kind S reads the value at breakpoint p.
template <typename S>
bool reads(std::int64_t k, std::int64_t p, std::int64_t m) {
  if constexpr (std::is_same_v<S, natural> || std::is_same_v<S, hyman>) return true;  // one solve per function
  if (p == k || p == k + 1) return true;
  if constexpr (std::is_same_v<S, linear> || std::is_same_v<S, hermite>) {
    return false;
  } else {
    for (std::int64_t i : {k, k + 1}) {
      const auto [lo, hi] = slope_reads<S>(i, m);
      if (p >= lo && p <= hi) return true;
    }
    return false;
  }
}

// A NaN or an infinity in the middle function's value at breakpoint p (or,
// for Hermite from every function's own slopes, in its slope there): the
// other functions' coefficients are bit for bit those of the spline with
// that value finite, on both back-ends; the two back-ends agree on which of
// the function's cells turn non-finite, and for NaN those are the cells
// whose formula reads the value.
template <typename T, typename S>
void check_isolation(bool own_slopes) {
  const std::int64_t nx = 16, ny = 3, m = nx - 1;
  const int per_cell = config<T, S>::coeffs_per_cell;
  spline_data<T> clean = sample<T>(nx, ny, df::partition_hint::non_uniform, df::function_hint::col_major,
                                   [](std::int64_t f, double x, int) { return std::cos(1.7 * x + double(f)) * 3; });
  if (own_slopes) {
    clean.own_slopes.resize(clean.values.size());
    for (std::size_t i = 0; i < clean.own_slopes.size(); ++i) clean.own_slopes[i] = T(std::sin(double(i)));
  }
  std::vector<T> baseline[2];
  for (backend b : both_backends) baseline[int(b)] = built_spline<T, S>(b, clean).c.to_vector();
  for (T bad : {std::numeric_limits<T>::quiet_NaN(), std::numeric_limits<T>::infinity()}) {
    for (std::int64_t p : {std::int64_t(0), std::int64_t(1), std::int64_t(7), m - 1, m}) {
      SCOPED_TRACE(::testing::Message() << df::detail::spline_kind<S>::name << (own_slopes ? " own slopes" : "")
                                        << " bad " << bad << " at breakpoint " << p);
      spline_data<T> d = clean;
      (own_slopes ? d.own_slopes[std::size_t(p * ny + 1)] : d.value(1, p)) = bad;
      std::vector<bool> reached[2];
      for (backend b : both_backends) {
        const std::vector<T> c = built_spline<T, S>(b, d).c.to_vector();
        for (std::int64_t f : {0, 2}) {
          const auto begin = std::size_t(f * m * per_cell), end = begin + std::size_t(m * per_cell);
          EXPECT_TRUE(std::memcmp(c.data() + begin, baseline[int(b)].data() + begin, (end - begin) * sizeof(T)) == 0)
              << name(b) << ": function " << f << " changed";
        }
        for (std::int64_t k = 0; k < m; ++k) {
          bool finite = true;
          for (int q = 0; q < per_cell; ++q) finite = finite && std::isfinite(c[std::size_t((m + k) * per_cell + q)]);
          reached[int(b)].push_back(!finite);
        }
      }
      EXPECT_EQ(reached[0], reached[1]) << "the back-ends disagree on the cells the bad value reaches";
      if (std::isnan(bad)) {
        for (std::int64_t k = 0; k < m; ++k)
          EXPECT_EQ(reached[0][std::size_t(k)], reads<S>(k, p, m)) << "cell " << k;
      }
    }
  }
}

TYPED_TEST(BadInput, ABadValueStaysInItsFunctionAndItsFormulasCells) {
  using T = TypeParam;
  check_isolation<T, linear>(false);
  check_isolation<T, hermite>(false);
  check_isolation<T, hermite>(true);
  check_isolation<T, natural>(false);
  check_isolation<T, hyman>(false);
  check_isolation<T, akima>(false);
  check_isolation<T, makima>(false);
  check_isolation<T, bessel>(false);
  check_isolation<T, pchip>(false);
  check_isolation<T, steffen>(false);
}

// Coefficients supplied by the caller are evaluated over any partition,
// since nothing constructs them: over breakpoints that descend, repeat or
// are NaN, and at sites that are NaN or infinite, every cell search stays
// inside the partition (the sanitizer builds check the reads) and every
// site gets a result of some cell.
TYPED_TEST(BadInput, SearchesStayInsideBadPartitionsOfSuppliedCoefficients) {
  using T = TypeParam;
  const T nan = std::numeric_limits<T>::quiet_NaN(), inf = std::numeric_limits<T>::infinity();
  const std::vector<std::vector<T>> partitions = {
      {3, 2, 1, 0, -1}, {1, 1, 1, 1, 1}, {0, 2, 1, 3, 2}, {nan, 0, nan, 1, nan}, {0, 1, 2, 3, inf}};
  const std::vector<T> sites = {-inf, -2, 0, T(0.5), 1, 3, T(1e30), inf, nan, T(2.5)};
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    collecting c(b);
    usm_array<T> coeffs(c.q, 8, T(1)), at(c.q, sites), out(c.q, sites.size(), T(-5));
    for (const std::vector<T>& p : partitions) {
      for (df::partition_hint hint :
           {df::partition_hint::non_uniform, df::partition_hint::quasi_uniform, df::partition_hint::uniform}) {
        usm_array<T> x(c.q, p);
        auto s = make_spline<T, linear>(b, c.q, 1, true);
        s->set_partitions(x.get(), 5, hint).set_coefficients(coeffs.get());
        df::interpolate(*s, at.get(), std::int64_t(sites.size()), out.get());
        EXPECT_TRUE(c.take().empty());
        for (std::size_t i = 0; i < sites.size(); ++i) EXPECT_NE(out[i], T(-5)) << "site " << sites[i];
      }
    }
  }
}

// Misuse of interpolate is refused on the calling thread with the same text
// on both back-ends, before anything is submitted; no site at all writes
// and raises nothing.
TYPED_TEST(BadInput, TheSameMisuseGetsTheSameAnswerOnBothBackEnds) {
  using T = TypeParam;
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    collecting c(b);
    usm_array<T> x(c.q, {0, 1, 2, 3}), y(c.q, {0, 1, 4, 9}), coeffs(c.q, 12), site(c.q, std::vector<T>{T(0.5)}), out(c.q, 4, T(-1));
    auto s = make_spline<T, natural>(b, c.q, 1, false);
    s->set_partitions(x.get(), 4).set_function_values(y.get()).set_coefficients(coeffs.get());
    const sycl::event built = s->construct();
    // Every one of these is an invalid_argument, thrown before anything is submitted.
    auto refused = [](auto call, const std::string& text) { expect_refusal<velora::qrx::invalid_argument>(call, text); };
    refused([&] { df::interpolate(*s, site.get(), -1, out.get(), {built}); }, invalid("interpolate", "nsites < 0"));
    refused([&] { df::interpolate(*s, site.get(), 1, out.get(), std::bitset<32>(0), {built}); },
            invalid("interpolate", "all indicators are set to 0"));
    refused([&] { df::interpolate(*s, site.get(), 1, out.get(), {built}, df::interpolate_hint(17)); },
            invalid("interpolate", "invalid interpolate hint"));
    refused([&] {
      df::interpolate(*s, site.get(), 1, out.get(), {built}, df::interpolate_hint::funcs_sites_ders,
                      df::site_hint(3));
    },
            invalid("interpolate", "invalid site hint"));
    T* none = nullptr;
    refused([&] { df::interpolate(*s, none, 1, out.get(), {built}); }, invalid("interpolate", "sites is nullptr"));
    refused([&] { df::interpolate(*s, site.get(), 1, none, {built}); }, invalid("interpolate", "results is nullptr"));
    df::interpolate(*s, none, 0, none, {built});
    df::interpolate(*s, site.get(), 0, out.get(), {built});
    EXPECT_TRUE(c.take().empty());
    EXPECT_EQ(out[0], T(-1));

    // A Hermite end combination no kernel serves, on the calling thread.
    usm_array<T> ic(c.q, {1, 2});
    auto h = make_spline<T, hermite>(b, c.q, 1, false);
    h->set_partitions(x.get(), 4).set_function_values(y.get()).set_coefficients(coeffs.get());
    h->set_internal_conditions(ic.get()).set_boundary_conditions(bc_type::first_left_der, T(0));
    h->set_boundary_conditions(bc_type::not_a_knot, T(0));
    refused([&] { h->construct(); }, invalid("construct", "invalid boundary conditions"));
  }
}

// A periodic Hermite spline whose functions' end values differ is refused
// by the construction's work on both back-ends, as the other periodic kinds
// are; a later evaluation is refused.
TYPED_TEST(BadInput, PeriodicHermiteNeedsEqualEndValues) {
  using T = TypeParam;
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    collecting c(b);
    usm_array<T> x(c.q, {0, 1, 2, 3}), y(c.q, {0, 1, 4, 0, 2, 1, 3, 2.5}), ic(c.q, {1, 2}), coeffs(c.q, 24),
        site(c.q, std::vector<T>{T(0.5)}), out(c.q, 2, T(-1));
    auto h = make_spline<T, hermite>(b, c.q, 2, false);
    h->set_partitions(x.get(), 4).set_function_values(y.get()).set_coefficients(coeffs.get());
    h->set_internal_conditions(ic.get()).set_boundary_conditions(bc_type::periodic, T(1));
    const sycl::event built = h->construct();
    EXPECT_EQ(c.take(), std::vector<std::string>{"velora::qrx::data_fitting::function values do not correspond to "
                                                 "periodic boundary conditions: invalid argument"});
    expect_refusal<velora::qrx::computation_error>([&] { df::interpolate(*h, site.get(), 1, out.get(), {built}); },
                                                   computation("interpolate", "coefficients were not computed"));
    y[7] = T(2);  // both functions now end where they start
    const sycl::event rebuilt = h->construct();
    df::interpolate(*h, site.get(), 1, out.get(), {rebuilt});
    EXPECT_TRUE(c.take().empty());
    EXPECT_NE(out[0], T(-1));
  }
}

// An evaluation whose caller forgot the construction's event still runs
// after it, on both back-ends: the results are the new spline's.
TYPED_TEST(BadInput, EvaluationRunsAfterTheLatestConstruction) {
  QRX_REQUIRE_CONCURRENT_HOST_WORK();
  using T = TypeParam;
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    collecting c(b);
    usm_array<T> x(c.q, {0, 1, 2}), y(c.q, {1, 2, 3}), coeffs(c.q, 8), site(c.q, std::vector<T>{T(0.5)}), out(c.q, 1, T(-7));
    auto s = make_spline<T, akima>(b, c.q, 1, false);
    s->set_partitions(x.get(), 3).set_function_values(y.get()).set_coefficients(coeffs.get());
    std::promise<void> open;
    const sycl::event held = test_support::held_until(c.q, open.get_future().share());
    s->construct({held});  // waits for the gate
    sycl::event evaluated = df::interpolate(*s, site.get(), 1, out.get());
    EXPECT_EQ(out[0], T(-7));
    open.set_value();
    evaluated.wait();
    EXPECT_EQ(out[0], T(1.5));
    EXPECT_TRUE(c.take().empty());
  }
}

}  // namespace
}  // namespace backend_test
