// The GPU back-end's integrate and solve over a spline's life: the tables
// built by the first call follow every new construction and partition,
// supplied coefficients changed in place are read afresh by every call,
// calls behind a refused construction write nothing and say so once, first
// calls from several threads share one build, and long partitions (tables
// over many blocks, deep range trees) agree with references computed here
// from linear pieces.

#include <algorithm>
#include <cmath>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "data_fitting/integrate.hpp"
#include "data_fitting/solve.hpp"
#include "support/backend_fixture.hpp"
#include "support/collecting_queue.hpp"

namespace backend_test {
namespace {

using natural = df::cubic_spline::natural;

// A linear spline on the GPU back-end through values v at breakpoints x.
template <typename T>
struct line_spline {
  line_spline(sycl::queue& q, const std::vector<T>& xs, const std::vector<T>& vs, bool supplied = false)
      : x(q, xs), y(q, vs), c(q, 2 * (xs.size() - 1)), sp(make_spline<T, linear>(backend::gpu, q, 1, supplied)) {
    sp->set_partitions(x.get(), std::int64_t(xs.size())).set_function_values(y.get()).set_coefficients(c.get());
  }
  usm_array<T> x, y, c;
  std::unique_ptr<df::spline<T, linear, 1>> sp;
};

template <typename T>
T integral(sycl::queue& q, df::spline<T, linear, 1>& s, T lower, T upper) {
  usm_array<T> l(q, std::vector<T>{lower}), u(q, std::vector<T>{upper}), out(q, 1);
  df::integrate(s, l.get(), u.get(), 1, out.get());
  q.wait_and_throw();
  return out[0];
}

template <typename T>
std::vector<T> roots_of(sycl::queue& q, df::spline<T, linear, 1>& s, T level) {
  usm_array<T> y(q, std::vector<T>{level}), roots(q, 8);
  usm_array<std::int64_t> count(q, 1);
  df::solve(s, y.get(), 1, roots.get(), count.get(), 8);
  q.wait_and_throw();
  return std::vector<T>(roots.get(), roots.get() + std::min<std::int64_t>(count[0], 8));
}

TEST(GpuCalculus, TablesFollowEveryConstructionAndPartition) {
  sycl::queue q = queue_for(backend::gpu);
  line_spline<double> s(q, {0, 1, 2, 3}, {0, 1, 2, 3});
  s.sp->construct();
  EXPECT_EQ(integral(q, *s.sp, 0.0, 3.0), 4.5);
  EXPECT_EQ(roots_of(q, *s.sp, 1.5), std::vector<double>{1.5});
  // New values, constructed again: the tables of the old ones are gone.
  for (int i = 0; i < 4; ++i) s.y[std::size_t(i)] = 2 * i;
  s.sp->construct();
  EXPECT_EQ(integral(q, *s.sp, 0.0, 3.0), 9.0);
  EXPECT_EQ(roots_of(q, *s.sp, 1.5), std::vector<double>{0.75});
  // A new partition, twice as wide.
  usm_array<double> wide(q, std::vector<double>{0, 2, 4, 6});
  s.sp->set_partitions(wide.get(), 4);
  s.sp->construct();
  EXPECT_EQ(integral(q, *s.sp, 0.0, 6.0), 18.0);
  EXPECT_EQ(roots_of(q, *s.sp, 1.5), std::vector<double>{1.5});
}

// Threads making the first calls after a construction at once share one
// table build and all get the same results.
TEST(GpuCalculus, FirstCallsFromSeveralThreadsAgree) {
  sycl::queue q = queue_for(backend::gpu);
  std::vector<double> xs(3001), vs(3001);
  for (std::size_t i = 0; i < xs.size(); ++i) {
    xs[i] = double(i);
    vs[i] = std::cos(0.01 * double(i));
  }
  line_spline<double> s(q, xs, vs);
  s.sp->construct();
  const int threads = 4;
  std::vector<double> integrals(threads), first_roots(threads);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      integrals[std::size_t(t)] = integral(q, *s.sp, 10.5, 2999.5);
      first_roots[std::size_t(t)] = roots_of(q, *s.sp, 0.25).at(0);
    });
  }
  for (std::thread& t : pool) t.join();
  for (int t = 1; t < threads; ++t) {
    EXPECT_EQ(integrals[std::size_t(t)], integrals[0]);
    EXPECT_EQ(first_roots[std::size_t(t)], first_roots[0]);
  }
  EXPECT_NEAR(first_roots[0], std::acos(0.25) / 0.01, 1e-2);
}

TEST(GpuCalculus, SuppliedCoefficientsAreReadAfreshByEveryCall) {
  sycl::queue q = queue_for(backend::gpu);
  line_spline<double> s(q, {0, 1, 2}, {0, 0, 0}, true);
  const double first[] = {0, 1, 1, 1};  // x on both cells
  std::copy(first, first + 4, s.c.get());
  s.sp->construct();
  EXPECT_EQ(integral(q, *s.sp, 0.0, 2.0), 2.0);
  EXPECT_EQ(roots_of(q, *s.sp, 0.5), std::vector<double>{0.5});
  const double second[] = {1, 2, 3, 2};  // 1 + 2x on both cells
  std::copy(second, second + 4, s.c.get());
  EXPECT_EQ(integral(q, *s.sp, 0.0, 2.0), 6.0);
  EXPECT_EQ(roots_of(q, *s.sp, 2.0), std::vector<double>{0.5});
}

// Periodic conditions on ends that differ: the construction's own work
// refuses it, whether that is known when the calls are submitted or only
// when they run (held: the construction waits for a command the test opens
// afterwards).
void expect_nothing_written_behind_a_refusal(bool held) {
  collecting h(backend::gpu);
  usm_array<double> x(h.q, std::vector<double>{0, 1, 2, 3, 4}), y(h.q, std::vector<double>{0, 1, 2, 3, 4});
  usm_array<double> c(h.q, 16);
  auto s = make_spline<double, natural>(backend::gpu, h.q, 1, false);
  s->set_partitions(x.get(), 5).set_function_values(y.get()).set_coefficients(c.get());
  s->set_boundary_conditions(df::bc_type::periodic, 0.0);
  std::promise<void> open;
  std::vector<sycl::event> before;
  if (held) before.push_back(held_until(h.q, open));
  s->construct(before);
  const double sentinel = -12345;
  usm_array<double> bounds(h.q, std::vector<double>{0.5, 3.5}), out(h.q, 1, sentinel), roots(h.q, 2, sentinel);
  usm_array<std::int64_t> counts(h.q, 1, -1);
  auto keep = [&](auto&& call) {
    try {
      call();
    } catch (const velora::qrx::computation_error& e) {
      h.errors->push_back(e.what());
    }
  };
  keep([&] { df::integrate(*s, bounds.get(), bounds.get() + 1, 1, out.get()); });
  keep([&] { df::solve(*s, bounds.get(), 1, roots.get(), counts.get(), 2); });
  open.set_value();
  std::vector<std::string> errors = h.take();
  std::sort(errors.begin(), errors.end());
  const std::string periodic_refusal =
      "velora::qrx::data_fitting::function values do not correspond to periodic boundary conditions: invalid "
      "argument";
  EXPECT_EQ(errors, (std::vector<std::string>{periodic_refusal,
                                              computation("integrate", "coefficients were not computed"),
                                              computation("solve", "coefficients were not computed")}));
  EXPECT_EQ(out[0], sentinel);
  EXPECT_EQ(roots.to_vector(), std::vector<double>(2, sentinel));
  EXPECT_EQ(counts[0], -1);
}

TEST(GpuCalculus, NothingWrittenBehindARefusedConstruction) { expect_nothing_written_behind_a_refusal(false); }

TEST(GpuCalculus, NothingWrittenBehindAConstructionStillChecking) {
  QRX_REQUIRE_CONCURRENT_HOST_WORK();
  expect_nothing_written_behind_a_refusal(true);
}

// A linear spline through an oscillation on 20001 breakpoints, on every
// partition layout: integrals from a against the pieces' trapezoids summed
// in long double, and every root of several levels against the pieces'
// sign changes.
TEST(GpuCalculus, LongPartitionsAgreeWithTheLinearPieces) {
  sycl::queue q = queue_for(backend::gpu);
  const std::int64_t nx = 20001;
  const double a = -3.0, b = 5.0, h = (b - a) / double(nx - 1);
  std::vector<double> xs(nx), vs(nx);
  for (std::int64_t i = 0; i < nx; ++i) {
    xs[std::size_t(i)] = i + 1 == nx ? b : a + h * double(i);
    vs[std::size_t(i)] = std::sin(3.0 * xs[std::size_t(i)]) + 0.01 * double(i % 7);
  }
  for (df::partition_hint ph :
       {df::partition_hint::non_uniform, df::partition_hint::quasi_uniform, df::partition_hint::uniform}) {
    SCOPED_TRACE(int(ph));
    line_spline<double> s(q, xs, vs);
    usm_array<double> x(q, ph == df::partition_hint::uniform ? std::vector<double>{a, b} : xs);
    s.sp->set_partitions(x.get(), nx, ph);
    s.sp->construct();
    // Cell k of the spline as the library measures it.
    auto origin = [&](std::int64_t k) {
      return ph == df::partition_hint::uniform ? (b - a) / double(nx - 1) * double(k) + a : xs[std::size_t(k)];
    };
    auto end = [&](std::int64_t k) { return k + 1 == nx - 1 ? b : origin(k + 1); };
    std::vector<double> upper;
    for (std::int64_t k = 1; k < nx; k += 997) upper.push_back(end(k - 1));
    usm_array<double> lo(q, std::vector<double>(upper.size(), a)), up(q, upper), out(q, upper.size());
    df::integrate(*s.sp, lo.get(), up.get(), std::int64_t(upper.size()), out.get());
    std::vector<double> levels = {0.0, 0.5, -0.99, 1.005};
    usm_array<double> y(q, levels), roots(q, levels.size() * 64);
    usm_array<std::int64_t> counts(q, levels.size());
    df::solve(*s.sp, y.get(), std::int64_t(levels.size()), roots.get(), counts.get(), 64);
    q.wait_and_throw();

    long double sum = 0;
    std::size_t next = 0;
    for (std::int64_t k = 0; k < nx - 1 && next < upper.size(); ++k) {
      sum += (long double)(end(k) - origin(k)) * ((long double)vs[std::size_t(k)] + vs[std::size_t(k + 1)]) / 2;
      if (end(k) == upper[next]) {
        EXPECT_NEAR(out[next], double(sum), 1e-13 * (1 + std::fabs(double(sum)))) << "up to " << upper[next];
        ++next;
      }
    }
    for (std::size_t i = 0; i < levels.size(); ++i) {
      std::vector<double> want;
      for (std::int64_t k = 0; k < nx - 1; ++k) {
        const double g0 = vs[std::size_t(k)] - levels[i], g1 = vs[std::size_t(k + 1)] - levels[i];
        if (g0 == 0) want.push_back(origin(k));
        else if ((g0 < 0) != (g1 < 0) && g1 != 0) want.push_back(origin(k) + (end(k) - origin(k)) * g0 / (g0 - g1));
      }
      if (vs.back() == levels[i]) want.push_back(b);
      SCOPED_TRACE(levels[i]);
      ASSERT_EQ(counts[i], std::int64_t(want.size()));
      for (std::size_t r = 0; r < want.size() && r < 64; ++r) EXPECT_NEAR(roots[i * 64 + r], want[r], 1e-12) << r;
    }
  }
}

}  // namespace
}  // namespace backend_test
