// Bad data and misuse, the same on both back-ends: partitions that are not
// finite and strictly increasing are refused by the construction's own work;
// the same misuse of interpolate gets the same answer on the calling thread;
// an evaluation always runs after the spline's latest construction.

#include <cmath>
#include <future>
#include <limits>
#include <string>

#include "support/async_errors.hpp"
#include "support/backend_fixture.hpp"

namespace backend_test {
namespace {

using df::bc_type;
using natural = df::cubic_spline::natural;
using akima = df::cubic_spline::akima;

// A queue on back-end b's device whose handler keeps the library's text of
// every asynchronous error it is handed.
struct collecting {
  explicit collecting(backend b)
      : q(queue_for(b).get_device(), [errors = errors](sycl::exception_list list) {
          for (const auto& e : list) {
            try {
              std::rethrow_exception(e);
            } catch (const std::exception& x) {
              errors->push_back(test_support::async_error_text(x));
            }
          }
        }) {}
  std::vector<std::string> take() {
    q.wait_and_throw();
    std::vector<std::string> taken;
    taken.swap(*errors);
    return taken;
  }
  std::shared_ptr<std::vector<std::string>> errors = std::make_shared<std::vector<std::string>>();
  sycl::queue q;
};

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
    auto refused = [&](auto call, const std::string& text) {
      try {
        call();
        ADD_FAILURE() << "nothing thrown, expected " << text;
      } catch (const velora::qrx::exception& e) {
        EXPECT_EQ(e.what(), text);
      }
    };
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
