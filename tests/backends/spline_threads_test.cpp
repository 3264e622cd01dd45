// Operations of one spline that overlap: the CPU back-end's kernel task
// lives as long as work that uses it and is made once, construction and
// evaluation share no unguarded state, and several threads may evaluate one
// spline at once. The CPU kernels are reached through a library that
// forwards to the real one and keeps account of the tasks.

#include <dlfcn.h>

#include <chrono>
#include <cmath>
#include <future>
#include <thread>
#include <utility>
#include <vector>

#include "backends/tracking_kernels.h"
#include "detail/host_task.hpp"
#include "qrx_lumo_thread/service.h"
#include "support/checked_queue.hpp"
#include "support/spline_test_support.hpp"
#include "support/host_work.hpp"

namespace spline_test {
namespace {

tracking_counts_t* counts_now = nullptr;
tracking_hold_interpolation_t* hold_interpolation = nullptr;
tracking_slow_new_task_t* slow_new_task = nullptr;

// Points the service library at the tracking kernels before any load.
class TrackingKernels : public ::testing::Environment {
 public:
  void SetUp() override {
    qrx_serv_set_kernel_library_path(QRX_TRACKING_KERNELS);
    void* module = dlopen(QRX_TRACKING_KERNELS, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    counts_now = reinterpret_cast<tracking_counts_t*>(dlsym(module, "tracking_counts_now"));
    hold_interpolation = reinterpret_cast<tracking_hold_interpolation_t*>(dlsym(module, "tracking_hold_interpolation"));
    slow_new_task = reinterpret_cast<tracking_slow_new_task_t*>(dlsym(module, "tracking_slow_new_task"));
    ASSERT_TRUE(counts_now && hold_interpolation && slow_new_task);
  }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new TrackingKernels);

// Polls `done` for up to ten seconds.
template <typename F>
bool eventually(F&& done) {
  for (int i = 0; i < 10000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return done();
}

// A host task on q that completes once `open` is set.
sycl::event gate(sycl::queue& q, std::shared_future<void> open) {
  return df::detail::submit_host_task(q, {}, [open] { open.wait(); });
}

// y = {1, 3, 2, 5} over the breakpoints 0..3, as a linear spline built from
// values or given its coefficients; at the sites 0.5, 1.5, 2.5 it is 2, 2.5, 3.5.
struct line_data {
  explicit line_data(const sycl::queue& q) : x(q, {0, 1, 2, 3}), y(q, {1, 3, 2, 5}), c(q, {1, 2, 3, -1, 2, 3}),
                                             sites(q, {0.5, 1.5, 2.5}) {}
  usm_array<double> x, y, c, sites;
  static constexpr std::int64_t nsites = 3;
  const std::vector<double> expected{2, 2.5, 3.5};
};

struct CpuTask : ::testing::Test {
  void TearDown() override {
    hold_interpolation(0);
    slow_new_task(0);
    // Every task made is deleted once its spline and the work on it are gone.
    EXPECT_TRUE(eventually([&] { return counts_now().live == start.live; }));
    EXPECT_EQ(counts_now().used_after_delete, start.used_after_delete);
    cq.q.wait_and_throw();
    EXPECT_TRUE(cq.errors->empty()) << cq.errors->front();
  }
  std::int64_t created() const { return counts_now().created - start.created; }

  tracking_counts start = counts_now();
  checked_queue cq{sycl::device(sycl::cpu_selector_v)};
  line_data d{cq.q};
};

TEST_F(CpuTask, ReplacedTaskLivesUntilTheEvaluationUsingItEnds) {
  QRX_REQUIRE_CONCURRENT_HOST_WORK();
  usm_array<double> out(cq.q, 3);
  {
    df::spline<double, linear, 1> s(cq.q, 1, false);
    s.set_partitions(d.x.get(), 4).set_function_values(d.y.get()).set_coefficients(d.c.get());
    const sycl::event built = s.construct();
    cq.q.wait_and_throw();
    hold_interpolation(1);
    const std::shared_ptr<void> release(nullptr, [](void*) { hold_interpolation(0); });  // also on failure
    df::interpolate(s, d.sites.get(), d.nsites, out.get(), {built});
    ASSERT_TRUE(eventually([] { return counts_now().interpolating == 1; }));
    s.construct().wait();  // not ordered after the evaluation, which is inside the kernel
  }
  EXPECT_EQ(out.to_vector(), d.expected);
  EXPECT_EQ(created(), 2);
}

TEST_F(CpuTask, SuppliedCoefficientsGetOneTaskFromEvaluationsStartedAtOnce) {
  constexpr int evaluations = 4;
  usm_array<double> out(cq.q, 3 * evaluations);
  {
    df::spline<double, linear, 1> s(cq.q, 1, true);
    s.set_partitions(d.x.get(), 4).set_coefficients(d.c.get());
    slow_new_task(50);  // every evaluation is past its check before a task exists
    std::promise<void> open;
    const sycl::event held = gate(cq.q, open.get_future().share());
    for (int i = 0; i < evaluations; ++i) df::interpolate(s, d.sites.get(), d.nsites, out.get() + 3 * i, {held});
    open.set_value();
    cq.q.wait_and_throw();
    EXPECT_EQ(created(), 1);
  }
  for (int i = 0; i < evaluations; ++i)
    EXPECT_EQ(std::vector<double>(out.get() + 3 * i, out.get() + 3 * i + 3), d.expected);
}

// The README's flow: evaluations that depend on the construction are
// submitted while its host work runs (held in the new-task kernel), on a
// thread that has not synchronised with that work.
TEST_F(CpuTask, EvaluationsSubmittedWhileTheirConstructionRuns) {
  constexpr int evaluations = 8;
  usm_array<double> out(cq.q, 3 * evaluations);
  {
    df::spline<double, linear, 1> s(cq.q, 1, false);
    s.set_partitions(d.x.get(), 4).set_function_values(d.y.get()).set_coefficients(d.c.get());
    slow_new_task(50);
    const sycl::event built = s.construct();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the construction most likely runs meanwhile
    for (int i = 0; i < evaluations; ++i) df::interpolate(s, d.sites.get(), d.nsites, out.get() + 3 * i, {built});
    cq.q.wait_and_throw();
  }
  for (int i = 0; i < evaluations; ++i)
    EXPECT_EQ(std::vector<double>(out.get() + 3 * i, out.get() + 3 * i + 3), d.expected);
}

// The first evaluations of a long partition, released together: each may
// find no search table yet and build one through the threader; one is kept,
// the others are freed, and every result is right.
TEST_F(CpuTask, FirstEvaluationsOfALongPartitionTogether) {
  constexpr std::int64_t nx = 50000, nsites = 2000;
  constexpr int evaluations = 6;
  std::vector<double> xs(nx), ys(nx), ss(nsites);
  for (std::int64_t i = 0; i < nx; ++i) {
    xs[i] = double(i) + 0.25 * double(i % 3);  // uneven, increasing
    ys[i] = 3 * xs[i] - 2;
  }
  for (std::int64_t k = 0; k < nsites; ++k) ss[k] = std::fmod(37.123 * double(k), xs[nx - 1]);
  usm_array<double> x(cq.q, xs), y(cq.q, ys), sites(cq.q, ss), c(cq.q, 2 * (nx - 1)),
      out(cq.q, nsites * evaluations);
  {
    df::spline<double, linear, 1> s(cq.q, 1, false);
    s.set_partitions(x.get(), nx).set_function_values(y.get()).set_coefficients(c.get());
    const sycl::event built = s.construct();
    std::promise<void> open;
    const sycl::event held = gate(cq.q, open.get_future().share());
    for (int i = 0; i < evaluations; ++i) df::interpolate(s, sites.get(), nsites, out.get() + nsites * i, {built, held});
    open.set_value();
    cq.q.wait_and_throw();
  }
  for (int i = 0; i < evaluations; ++i)
    for (std::int64_t k = 0; k < nsites; ++k)
      ASSERT_NEAR(out[std::size_t(nsites * i + k)], 3 * ss[k] - 2, 1e-9 * nx) << "evaluation " << i << ", site " << k;
}

// Two threads evaluate one constructed spline through the caller's queue,
// each into its own results, on both devices.
TEST(SplineThreads, SeveralThreadsEvaluateOneSplineAtOnce) {
  for (const sycl::device& device : backend_devices()) {
    SCOPED_TRACE(device.is_gpu() ? "GPU device" : "CPU device");
    checked_queue cq(device);
    line_data d(cq.q);
    constexpr int threads = 2, calls = 200;
    usm_array<double> out(cq.q, 3 * threads * calls);
    df::spline<double, linear, 1> s(cq.q, 1, false);
    s.set_partitions(d.x.get(), 4).set_function_values(d.y.get()).set_coefficients(d.c.get());
    const sycl::event built = s.construct();
    cq.q.wait_and_throw();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
      pool.emplace_back([&, t] {
        for (int i = 0; i < calls; ++i)
          df::interpolate(cq.q, std::as_const(s), d.sites.get(), d.nsites, out.get() + 3 * (t * calls + i), {built});
      });
    for (auto& th : pool) th.join();
    cq.q.wait_and_throw();
    EXPECT_TRUE(cq.errors->empty());
    for (int k = 0; k < threads * calls; ++k)
      ASSERT_EQ(std::vector<double>(out.get() + 3 * k, out.get() + 3 * k + 3), d.expected) << "call " << k;
  }
}

}  // namespace
}  // namespace spline_test
