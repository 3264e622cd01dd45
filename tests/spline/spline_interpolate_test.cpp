// The interpolate entry points end to end on the GPU-class device: all four
// overloads, the caller's queue, the order of refusals, waiting on
// destruction.

#include <bitset>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <tuple>

#include "spline_test_support.hpp"

namespace spline_test {
namespace {

constexpr float sentinel = -12345;

// A spline of ny = 2 functions p + j, built from a polynomial p that it
// reproduces exactly: a cubic (Hermite, given its exact derivatives) or a line.
template <typename Spline>
class InterpolateTest : public ::testing::Test {
 protected:
  using T = std::tuple_element_t<0, Spline>;
  using S = std::tuple_element_t<1, Spline>;
  static constexpr int orders = std::is_same_v<S, hermite> ? 4 : 2;
  static constexpr int nx = 6, ny = 2, nsites = 7;

  static double p(double x, int order) {
    const double a[] = {1, -0.5, 0.25, 0.125};
    return piece(a, orders, x, order);
  }

  InterpolateTest() {
    for (int i = 0; i < nx; ++i) x[i] = T(i + 0.3 * (i % 2));
    for (int j = 0; j < ny; ++j)
      for (int i = 0; i < nx; ++i) y[j * nx + i] = T(p(x[i], 0) + j);
    spline->set_partitions(x.get(), nx).set_function_values(y.get()).set_coefficients(c.get());
    if constexpr (orders == 4) {
      for (int i = 1; i + 1 < nx; ++i) ic[i - 1] = T(p(x[i], 1));
      spline->set_internal_conditions(ic.get());
      spline->set_boundary_conditions(df::bc_type::first_left_der, T(p(x[0], 1)));
      spline->set_boundary_conditions(df::bc_type::first_right_der, T(p(x[nx - 1], 1)));
    }
    built = spline->construct();
    for (int s = 0; s < nsites; ++s) sites[s] = T(-1 + s * 1.3);  // beyond both ends too
  }

  // Expects order d of function f at every site in results[index(f, s, d)].
  template <typename Index>
  void expect_orders(const usm_array<T>& results, int d, Index index) {
    for (int f = 0; f < ny; ++f)
      for (int s = 0; s < nsites; ++s)
        EXPECT_NEAR(results[index(f, s)], p(sites[s], d) + (d == 0 ? f : 0), tolerance<T>(64)) << f << s << d;
  }

  sycl::queue q = gpu_queue();
  usm_array<T> x{q, nx}, y{q, nx * ny}, c{q, 4 * (nx - 1) * ny}, ic{q, nx - 2}, sites{q, nsites};
  std::unique_ptr<df::spline<T, S, 1>> spline = std::make_unique<df::spline<T, S, 1>>(q, ny, false);
  sycl::event built;
};

using spline_types = ::testing::Types<std::tuple<float, linear>, std::tuple<double, linear>,
                                      std::tuple<float, hermite>, std::tuple<double, hermite>>;
TYPED_TEST_SUITE(InterpolateTest, spline_types);

TYPED_TEST(InterpolateTest, SplineQueueOverloadsReproduceThePolynomialAfterTheirDependencies) {
  using T = typename TestFixture::T;
  constexpr int K = TestFixture::orders, ny = TestFixture::ny, n = TestFixture::nsites;
  usm_array<T> sites(this->q, n), all(this->q, ny * n * K + 1, T(sentinel)), values(this->q, ny * n + 1, T(sentinel));
  // The sites come from a kernel that waits for a gate opened only after both calls returned.
  std::promise<void> gate;
  const sycl::event opened = this->q.submit([w = gate.get_future().share()](sycl::handler& cgh) {
    cgh.host_task([w] { w.wait(); });
  });
  T *from = this->sites.get(), *to = sites.get();
  const sycl::event producer = this->q.parallel_for(sycl::range<1>(n), opened, [=](sycl::item<1> i) {
    to[i.get_id(0)] = from[i.get_id(0)];
  });
  sycl::event with_mask = df::interpolate(*this->spline, to, n, all.get(), std::bitset<32>((1 << K) - 1),
                                          {this->built, producer});
  sycl::event values_only = df::interpolate(*this->spline, to, n, values.get(), {this->built, producer});
  gate.set_value();
  with_mask.wait_and_throw();
  values_only.wait_and_throw();
  for (int d = 0; d < K; ++d) this->expect_orders(all, d, [&](int f, int s) { return (f * n + s) * K + d; });
  this->expect_orders(values, 0, [&](int f, int s) { return f * n + s; });
  EXPECT_EQ(all[ny * n * K], T(sentinel));
  EXPECT_EQ(values[ny * n], T(sentinel));
}

TYPED_TEST(InterpolateTest, QueueOverloadsRunOnTheCallersQueueAndRecordTheirEvent) {
  using T = typename TestFixture::T;
  constexpr int ny = TestFixture::ny, n = TestFixture::nsites;
  sycl::queue other(this->q.get_device(), sycl::property::queue::in_order{});
  std::promise<void> gate;
  other.submit([w = gate.get_future().share()](sycl::handler& cgh) { cgh.host_task([w] { w.wait(); }); });
  usm_array<T> slopes(this->q, ny * n * 2, T(sentinel)), values(this->q, ny * n, T(sentinel));
  T* sites = this->sites.get();
  sycl::event first = df::interpolate(other, *this->spline, sites, n, slopes.get(), std::bitset<32>(2), {this->built});
  sycl::event last = df::interpolate(other, *this->spline, sites, n, values.get(), {this->built});
  EXPECT_TRUE(this->spline->construct() == last);  // construct hands back the latest event
  this->q.wait();  // nothing was submitted to the spline's own queue...
  EXPECT_EQ(slopes[1], T(sentinel));
  EXPECT_EQ(values[0], T(sentinel));
  gate.set_value();  // ...but behind the gate of the caller's in-order queue
  first.wait_and_throw();
  last.wait_and_throw();
  this->expect_orders(slopes, 1, [&](int f, int s) { return (f * n + s) * 2 + 1; });
  for (int i = 0; i < ny * n; ++i) EXPECT_EQ(slopes[2 * i], T(sentinel)) << "order 0 was not asked for";
  this->expect_orders(values, 0, [&](int f, int s) { return f * n + s; });
}

TYPED_TEST(InterpolateTest, RefusalsComeInOrderAndKeepTheRecordedEvent) {
  using T = typename TestFixture::T;
  using spline_t = df::spline<T, typename TestFixture::S, 1>;
  T* data = this->x.get();
  const std::bitset<32> none;
  spline_t unbuilt(this->q, 1, false), given(this->q, 1, true);
  expect_refusal<velora::qrx::computation_error>([&] { df::interpolate(unbuilt, data, 1, data, none); },
                                                 computation("interpolate", "coefficients were not computed"));
  expect_refusal<velora::qrx::computation_error>([&] { df::interpolate(given, data, 1, data, none); },
                                                 computation("interpolate", "spline isn't initialized"));
  given.set_partitions(data, TestFixture::nx);
  expect_refusal<velora::qrx::computation_error>([&] { df::interpolate(this->q, given, data, 1, data, none); },
                                                 computation("interpolate", "coefficients were not set"));
  given.set_coefficients(this->c.get());
  expect_refusal<velora::qrx::invalid_argument>([&] { df::interpolate(given, data, 1, data, none); },
                                                invalid("interpolate", "all indicators are set to 0"));
  EXPECT_THROW(df::interpolate(*this->spline, data, 1, data, {}, df::interpolate_hint::funcs_sites_ders,
                               df::site_hint(2)),
               velora::qrx::invalid_argument);
  EXPECT_TRUE(this->spline->construct() == this->built);
}

TYPED_TEST(InterpolateTest, DestroyingTheSplineWaitsForEveryInterpolation) {
  using T = typename TestFixture::T;
  constexpr int n = TestFixture::nsites;
  usm_array<T> late_sites(this->q, n), early(this->q, 2 * n, T(sentinel)), last(this->q, 2 * n, T(sentinel));
  T *from = this->sites.get(), *to = late_sites.get();
  const sycl::event slow = this->q.submit([&](sycl::handler& cgh) {
    cgh.host_task([=] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      std::copy(from, from + n, to);
    });
  });
  df::interpolate(*this->spline, to, n, early.get(), {this->built, slow});
  df::interpolate(*this->spline, from, n, last.get(), {this->built});  // unordered with the first
  this->spline.reset();
  this->expect_orders(early, 0, [&](int f, int s) { return f * n + s; });
  this->expect_orders(last, 0, [&](int f, int s) { return f * n + s; });
}

}  // namespace
}  // namespace spline_test
