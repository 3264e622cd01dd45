// State and error handling across a spline's life, the same on both
// back-ends: a repeated construct recomputes from what is recorded now,
// supplied coefficients are never written, work behind a refused
// construction writes nothing and says so once, destroying a spline hands
// no error to a handler, and constructions from several threads take
// effect one after the other.

#include <algorithm>
#include <limits>
#include <string>
#include <thread>

#include "support/backend_fixture.hpp"
#include "support/collecting_queue.hpp"
#include "support/async_errors.hpp"

namespace backend_test {
namespace {

using df::bc_type;
using natural = df::cubic_spline::natural;
using akima = df::cubic_spline::akima;

const std::string periodic_refusal =
    "velora::qrx::data_fitting::function values do not correspond to periodic boundary conditions: invalid "
    "argument";

// nx breakpoints 0, 1, ..., one function with values v(i).
template <typename T, typename S, typename V>
struct small_spline {
  small_spline(backend b, sycl::queue& q, std::int64_t nx, V v, bool supplied = false)
      : x(q, nx), y(q, nx), c(q, std::size_t(4 * (nx - 1)), T(7)), sp(make_spline<T, S>(b, q, 1, supplied)) {
    for (std::int64_t i = 0; i < nx; ++i) {
      x[i] = T(i);
      y[i] = T(v(i));
    }
    sp->set_partitions(x.get(), nx).set_function_values(y.get()).set_coefficients(c.get());
  }
  usm_array<T> x, y, c;
  std::unique_ptr<df::spline<T, S, 1>> sp;
};

template <typename T>
struct Reliability : ::testing::Test {};
using fp_types = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Reliability, fp_types);

// The slope at the left end, evaluated after `built`.
template <typename T, typename S>
T left_slope(sycl::queue& q, df::spline<T, S, 1>& s, sycl::event built) {
  usm_array<T> site(q, std::vector<T>{T(0)}), out(q, 2);
  df::interpolate(s, site.get(), 1, out.get(), std::bitset<32>("11"), {built});
  q.wait_and_throw();
  return out[1];
}

TYPED_TEST(Reliability, SecondConstructRecomputesFromWhatIsRecordedNow) {
  using T = TypeParam;
  auto wave = [](std::int64_t i) { return std::sin(0.7 * double(i)); };
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    sycl::queue q = queue_for(b);
    {  // new end conditions, for a kind solved as a system and a local one
      small_spline<T, natural, decltype(wave)> n(b, q, 9, wave);
      n.sp->construct();
      q.wait_and_throw();
      n.sp->set_boundary_conditions(bc_type::first_left_der, T(5)).set_boundary_conditions(bc_type::first_right_der,
                                                                                            T(-5));
      EXPECT_NEAR(left_slope(q, *n.sp, n.sp->construct()), 5, 1e-4);

      small_spline<T, akima, decltype(wave)> a(b, q, 9, wave);
      a.sp->construct();
      q.wait_and_throw();
      a.sp->set_boundary_conditions(bc_type::first_left_der, T(5)).set_boundary_conditions(bc_type::first_right_der,
                                                                                            T(-5));
      EXPECT_NEAR(left_slope(q, *a.sp, a.sp->construct()), 5, 1e-4);
    }
    {  // values changed in place
      small_spline<T, natural, decltype(wave)> n(b, q, 9, wave);
      n.sp->construct();
      q.wait_and_throw();
      for (int i = 0; i < 9; ++i) n.y[i] = T(100);
      usm_array<T> site(q, std::vector<T>{T(2.5)}), out(q, 1);
      df::interpolate(*n.sp, site.get(), 1, out.get(), {n.sp->construct()});
      q.wait_and_throw();
      EXPECT_NEAR(out[0], 100, 1e-3);
    }
    {  // a boundary kind the spline does not take is refused the second time too
      small_spline<T, natural, decltype(wave)> n(b, q, 9, wave);
      n.sp->construct();
      q.wait_and_throw();
      n.sp->set_boundary_conditions(bc_type::first_left_der, T(1));
      expect_invalid([&] { n.sp->construct(); }, "construct", "invalid boundary conditions");
    }
  }
}

TYPED_TEST(Reliability, SuppliedCoefficientsAreNeverWritten) {
  using T = TypeParam;
  auto line = [](std::int64_t i) { return 100.0 + double(i); };
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    sycl::queue q = queue_for(b);
    // Every cell's cubic is 7 + 7t + 7t^2 + 7t^3; the recorded values say otherwise.
    small_spline<T, natural, decltype(line)> s(b, q, 5, line, true);
    const sycl::event built = s.sp->construct();
    usm_array<T> site(q, std::vector<T>{T(0)}), out(q, 1);
    df::interpolate(*s.sp, site.get(), 1, out.get(), {built});
    q.wait_and_throw();
    EXPECT_EQ(out[0], T(7));
    EXPECT_EQ(s.c.to_vector(), std::vector<T>(16, T(7)));
  }
}

// Periodic conditions on ends that differ: the construction's own work
// refuses it. An evaluation submitted at once behind it writes nothing and
// reports "coefficients were not computed" exactly once, whether the
// refusal was known when it was submitted or only when it ran (held: the
// construction waits for a command the test opens after the evaluation is
// submitted).
template <typename T>
void expect_nothing_written_behind_a_refusal(bool held) {
  auto ramp = [](std::int64_t i) { return double(i); };
  const T sentinel = T(-12345);
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    collecting h(b);
    small_spline<T, natural, decltype(ramp)> s(b, h.q, 9, ramp);
    s.sp->set_boundary_conditions(bc_type::periodic, T(0));
    std::promise<void> open;
    std::vector<sycl::event> before;
    if (held) before.push_back(held_until(h.q, open));
    const sycl::event built = s.sp->construct(before);
    usm_array<T> sites(h.q, std::vector<T>{T(0.5), T(3.5), T(7.5)}), out(h.q, 6, sentinel);
    try {
      df::interpolate(*s.sp, sites.get(), 3, out.get(), std::bitset<32>("11"), {built});
    } catch (const velora::qrx::computation_error& e) {
      h.errors->push_back(e.what());
    }
    open.set_value();
    h.q.wait_and_throw();
    // The refusal of the evaluation comes first when it is known on the calling thread.
    std::sort(h.errors->begin(), h.errors->end());
    EXPECT_EQ(*h.errors,
              (std::vector<std::string>{periodic_refusal, computation("interpolate", "coefficients were not computed")}));
    EXPECT_EQ(out.to_vector(), std::vector<T>(6, sentinel));
  }
}

TYPED_TEST(Reliability, EvaluationBehindARefusedConstructionWritesNothing) {
  expect_nothing_written_behind_a_refusal<TypeParam>(false);
}

TYPED_TEST(Reliability, EvaluationBehindAConstructionStillCheckingWritesNothing) {
  QRX_REQUIRE_CONCURRENT_HOST_WORK();
  expect_nothing_written_behind_a_refusal<TypeParam>(true);
}

// A spline destroyed while its refusal and the caller's own error are
// pending hands neither to the handler: the caller's handler, which
// rethrows the first error of its list, gets both at the caller's
// wait_and_throw.
TYPED_TEST(Reliability, DestroyingASplineDeliversNoError) {
  using T = TypeParam;
  auto ramp = [](std::int64_t i) { return double(i); };
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    auto delivered = std::make_shared<int>(0);
    sycl::queue q(queue_for(b).get_device(), [delivered](sycl::exception_list list) {
      *delivered += static_cast<int>(list.size());
      for (const auto& e : list) std::rethrow_exception(e);
    });
    // The arrays outlive the errors: on some SYCL implementations every
    // queue object delivers pending errors when it goes, and the test's own
    // arrays hold copies of the queue.
    small_spline<T, natural, decltype(ramp)> s(b, q, 9, ramp);
    s.sp->set_boundary_conditions(bc_type::periodic, T(0));
    test_support::host_work(q, [] { throw std::runtime_error("the caller's own failure"); }).wait();
    s.sp->construct();
    s.sp.reset();  // destroyed with its refusal pending
    // A spline made from a device and a context makes its own queue.
    { df::spline<T, natural, 1> own(q.get_device(), q.get_context(), 1, false); }
    EXPECT_EQ(*delivered, 0);
    int caught = 0;
    for (int round = 0; round < 3; ++round) {
      try {
        q.wait_and_throw();
      } catch (const std::exception&) {
        ++caught;
      }
    }
    EXPECT_EQ(caught, 1);
    EXPECT_EQ(*delivered, 2);
  }
}

// Two threads construct one spline over and over while the recorded values
// stay the same: the constructions take effect one after the other (no
// data race under ThreadSanitizer), and the coefficients are those of the
// values.
TYPED_TEST(Reliability, SeveralThreadsConstructOneSpline) {
  using T = TypeParam;
  auto wave = [](std::int64_t i) { return std::cos(0.4 * double(i)); };
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    sycl::queue q = queue_for(b);
    small_spline<T, natural, decltype(wave)> s(b, q, 33, wave);
    auto build = [&] {
      for (int i = 0; i < 20; ++i) s.sp->construct();
    };
    std::thread other(build);
    build();
    other.join();
    q.wait_and_throw();
    usm_array<T> sites(q, std::vector<T>{T(0), T(16), T(32)}), out(q, 3);
    df::interpolate(*s.sp, sites.get(), 3, out.get(), {s.sp->construct()});
    q.wait_and_throw();
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(out[k], wave(16 * k), 1e-5);
  }
}

}  // namespace
}  // namespace backend_test
