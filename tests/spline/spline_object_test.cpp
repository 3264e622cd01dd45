// The spline object and the interpolate entry points through what the shared library exports.

#include <bitset>
#include <chrono>
#include <thread>

#include "support/spline_test_support.hpp"

namespace spline_test {
namespace {

using velora::qrx::computation_error;
using velora::qrx::invalid_argument;

TEST(ExceptionTest, ComposesItsTextAndKeepsItInCopies) {
  EXPECT_STREQ(velora::qrx::exception("", "", "").what(), "velora::qrx");
  EXPECT_STREQ(velora::qrx::exception("d", "", "x").what(), "velora::qrx::d: x");
  const invalid_argument copy = [] { return invalid_argument(*std::make_unique<invalid_argument>("d", "f", "")); }();
  EXPECT_STREQ(copy.what(), "velora::qrx::d::f: invalid argument");  // a copy of a destroyed exception
  expect_refusal<std::exception>([] { throw velora::qrx::host_bad_alloc("d", "f"); },
                                 "velora::qrx::d::f: cannot allocate memory on host");
}

// Two functions p + j on the breakpoints 0..3, p a polynomial the spline
// reproduces: a cubic (Hermite, given its exact derivatives) or a line.
template <typename P>
struct SplineTest : spline_suite<P> {
  using T = typename spline_suite<P>::T;
  static constexpr int n = 7;  // sites, beyond both ends too
  static constexpr double a[] = {1, -0.5, 0.25, 0.125};
  static double p(double x, int order) { return piece(a, spline_suite<P>::m, x, order); }
  SplineTest() {
    for (int i = 0; i < 8; ++i) y[i] = T(p(i % 4, 0) + i / 4);
  }
  // Records everything construct needs, except what `skip` names.
  void record_all(typename spline_suite<P>::spline_t& s, const std::string& skip = "") {
    if (skip != "partitions") s.set_partitions(x.get(), 4);
    if (skip != "functions") s.set_function_values(y.get());
    if (skip != "coefficients") s.set_coefficients(c.get());
    if constexpr (spline_suite<P>::is_hermite) {
      if (skip != "internal") s.set_internal_conditions(ic.get());
      if (skip == "boundary") return;
      s.set_boundary_conditions(df::bc_type::first_left_der, T(p(0, 1)));
      s.set_boundary_conditions(df::bc_type::first_right_der, T(p(3, 1)));
    }
  }
  // Expects order d of function f at site s in r[(f*n + s)*K + d].
  void expect(const usm_array<T>& r, int K, int d) {
    for (int i = 0; i < 2 * n; ++i) EXPECT_NEAR(r[i * K + d], p(sites[i % n], d) + (d ? 0 : i / n), tolerance<T>(64));
  }
  usm_array<T> x{this->q, {0, 1, 2, 3}}, y{this->q, 8}, c{this->q, 24},
      sites{this->q, {-1, -0.2, 0.6, 1.4, 2.2, 3, 3.8}}, ic{this->q, {T(p(1, 1)), T(p(2, 1))}};
};
TYPED_TEST_SUITE(SplineTest, spline_types);

TYPED_TEST(SplineTest, ConstructorsRefuseOtherDevicesBeforeBadCounts) {
  using spline_t = typename TestFixture::spline_t;
  const sycl::queue accelerator(sycl::accelerator_selector_v);
  const std::string text = std::string("velora::qrx::data_fitting::") +
                           (TestFixture::is_hermite ? "cubic_spline::hermite" : "linear_spline::default_type") +
                           ": unsupported device: " + accelerator.get_device().get_info<sycl::info::device::name>();
  expect_refusal<velora::qrx::unsupported_device>([&] { spline_t(accelerator, 0, false); }, text);
  expect_refusal<velora::qrx::exception>(
      [&] { spline_t(accelerator.get_device(), accelerator.get_context(), 0, true); }, text);
  expect_invalid([&] { spline_t(this->q, -1, false); }, "spline", "ny <= 0");
  expect_invalid([&] { spline_t(this->q, 0, false); }, "spline", "ny <= 0");
}

TYPED_TEST(SplineTest, SettersCheckInOrder) {
  typename TestFixture::spline_t s(this->q, 2, false), three(this->q, 3, false);
  auto* data = this->x.get();
  expect_invalid([&] { s.set_partitions(nullptr, 2); }, "set_partitions", "nx <= 2");
  expect_invalid([&] { s.set_partitions(nullptr, 3); }, "set_partitions", "data is nullptr");
  expect_invalid([&] { s.set_function_values(nullptr); }, "set_function_values", "data is nullptr");
  expect_invalid([&] { s.set_coefficients(nullptr, df::coefficient_hint(32)); }, "set_coefficients", "data is nullptr");
  expect_invalid([&] { s.set_coefficients(data, df::coefficient_hint(32)); }, "set_coefficients",
                 "CoeffHint should be row_major");
  s.set_function_values(data).set_coefficients(data);
  expect_invalid([&] { s.set_function_values(data); }, "set_function_values", "functions were already set");
  expect_invalid([&] { s.set_coefficients(data); }, "set_coefficients", "coefficients were already set");
  if constexpr (TestFixture::is_hermite) {
    expect_invalid([&] { s.set_internal_conditions(nullptr); }, "set_internal_conditions", "data is nullptr");
  }
  expect_refusal<computation_error>([&] { s.get_required_coeffs_size(); },
                                    computation("get_required_coeffs_size", "partitions were not set"));
  three.set_partitions(data, 10);
  EXPECT_EQ(three.get_required_coeffs_size(), 27 * TestFixture::m);
}

// interpolate refuses "coefficients were not computed" before an empty mask.
TYPED_TEST(SplineTest, ConstructAndInterpolateRefuseInOrderUntilEverythingIsRecorded) {
  using spline_t = typename TestFixture::spline_t;
  auto* data = this->x.get();
  auto interpolate_refuses = [&](spline_t& s, const char* info) {
    expect_refusal<computation_error>([&] { df::interpolate(s, data, 1, data, std::bitset<32>()); },
                                      computation("interpolate", info));
  };
  for (std::string missing : {"partitions", "functions", "coefficients", "internal", "boundary"}) {
    spline_t s(this->q, 2, false);
    this->record_all(s, missing);
    const bool needed = TestFixture::is_hermite || (missing != "internal" && missing != "boundary");
    EXPECT_EQ(s.is_initialized(), !needed) << missing;
    if (needed) expect_invalid([&] { s.construct(); }, "construct", "spline isn't initialized");
    interpolate_refuses(s, "coefficients were not computed");
  }
  spline_t given(this->q, 2, true), huge(this->q, 1 << 30, false);
  expect_invalid([&] { given.construct(); }, "construct", "spline isn't initialized");
  interpolate_refuses(given, "spline isn't initialized");
  given.set_partitions(data, 4);
  EXPECT_TRUE(given.is_initialized());
  expect_invalid([&] { given.construct(); }, "construct", "coefficients were not set");
  interpolate_refuses(given, "coefficients were not set");
  given.set_coefficients(this->c.get());
  const sycl::event done = given.construct();
  expect_invalid([&] { df::interpolate(given, data, 1, data, std::bitset<32>()); }, "interpolate",
                 "all indicators are set to 0");
  EXPECT_THROW(df::interpolate(given, data, 1, data, {}, df::interpolate_hint::funcs_sites_ders, df::site_hint(2)),
               invalid_argument);
  EXPECT_TRUE(given.construct() == done);
  this->record_all(huge);  // 3 cells x 2^30 functions: refused before anything reads an array
  try {
    huge.construct();
    ADD_FAILURE() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::nd_range));
  }
}

// construct runs after its dependencies (values from a kernel behind a gate) with the boundary values of the call,
// again on every call (each after the previous one), and not after a refusal. The spline-queue overloads run after construct, the queue overloads behind a gate
// on the caller's in-order queue that opens 50 ms later: destroying the spline waits for them, not only the last call.
TYPED_TEST(SplineTest, ConstructAndInterpolateFollowTheirQueuesAndDependencies) {
  using T = typename TestFixture::T;
  constexpr int K = TestFixture::m, n = TestFixture::n;
  const T none = -12345;
  usm_array<T> values(this->q, 8), all(this->q, 2 * n * K), after(this->q, 2 * n), slopes(this->q, 4 * n, none),
      first(this->q, 2 * n, none), last(this->q, 2 * n);
  auto s = std::make_unique<typename TestFixture::spline_t>(this->q, 2, false);
  this->record_all(*s, "functions");
  s->set_function_values(values.get()).set_partitions(this->x.get(), 4, df::partition_hint(3));
  expect_invalid([&] { s->construct(); }, "construct", "invalid partition hint");
  s->set_partitions(this->x.get(), 4);
  std::promise<void> open, open_other;
  T *y = this->y.get(), *to = values.get(), *sites = this->sites.get();
  const sycl::event producer = this->q.parallel_for(sycl::range<1>(8), held_until(this->q, open),
                                                    [=](sycl::item<1> i) { to[i.get_id(0)] = y[i.get_id(0)]; });
  const sycl::event first_build = s->construct({producer});
  const sycl::event built = s->construct({producer});  // computes again, after the first
  EXPECT_FALSE(built == first_build);
  df::interpolate(*s, sites, n, all.get(), std::bitset<32>((1 << K) - 1), {built});
  df::interpolate(*s, sites, n, after.get(), {built});
  std::this_thread::sleep_for(std::chrono::milliseconds(10));  // time for work that ignores its dependencies to run
  open.set_value();
  sycl::queue other(this->q.get_device(), sycl::property::queue::in_order{});
  held_until(other, open_other);
  df::interpolate(other, *s, sites, n, slopes.get(), std::bitset<32>(2), {built});
  df::interpolate(other, *s, sites, n, first.get(), {built});
  this->q.wait();  // nothing held back was submitted to the spline's own queue
  EXPECT_TRUE(slopes[1] == none && first[0] == none);
  df::interpolate(*s, sites, n, last.get(), {built});
  std::thread opener([&] { std::this_thread::sleep_for(std::chrono::milliseconds(50)), open_other.set_value(); });
  s.reset();
  opener.join();
  for (int d = 0; d < K; ++d) this->expect(all, K, d);
  this->expect(slopes, 2, 1);
  for (int i = 0; i < 2 * n; ++i) EXPECT_EQ(slopes[2 * i], none) << "order 0 was not asked for";
  for (auto* r : {&after, &first, &last}) this->expect(*r, 1, 0);
}

}  // namespace
}  // namespace spline_test
