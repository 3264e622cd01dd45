// The CPU back-end's own behaviour: failures inside its host tasks reach the
// queue's handler with their exact texts, work that is not ordered after
// construction is refused, tasks are created lazily, replaced and deleted,
// and destruction waits for running work.

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "support/backend_fixture.hpp"
#include "detail/cpu_impl/cpu_spline_impl.hpp"
#include "detail/cpu_impl/kernel_table.hpp"
#include "detail/cpu_impl/loader_slots.hpp"
#include "spline/spline_access.hpp"
#include "support/async_errors.hpp"

namespace backend_test {
namespace {

namespace detail = df::detail;
using velora::qrx::computation_error;
using velora::qrx::invalid_argument;

// A CPU queue whose handler keeps the what() of every asynchronous error.
struct collecting_queue {
  std::shared_ptr<std::vector<std::string>> errors = std::make_shared<std::vector<std::string>>();
  sycl::queue q{sycl::cpu_selector_v, [errors = errors](sycl::exception_list list) {
                  for (const auto& e : list) {
                    try {
                      std::rethrow_exception(e);
                    } catch (const std::exception& x) {
                      errors->push_back(test_support::async_error_text(x));
                    }
                  }
                }};
};

template <typename S, typename T>
auto& cpu_impl(const df::spline<T, S, 1>& s) {
  return static_cast<detail::spline_impl<T, S, 1, detail::cpu_backend>&>(detail::spline_access::impl(s));
}

// Kernel statuses become the library's exceptions, delivered to the queue's
// handler, each once, and the process goes on: a periodic spline whose end
// values differ, a task too large to allocate, a partition out of order.
TEST(CpuBackEnd, KernelFailuresReachTheQueueHandlerWithTheirTexts) {
  collecting_queue cq;
  usm_array<double> x(cq.q, {0, 1, 2, 3}), y(cq.q, {0, 1, 4, 9}), ic(cq.q, {2, 4}), c(cq.q, 16);
  usm_array<double> sites(cq.q, std::vector<double>{0.5}), out(cq.q, 4), descending(cq.q, {0, 2, 1});

  df::spline<double, hermite, 1> periodic(cq.q, 1, false);
  periodic.set_partitions(x.get(), 4).set_function_values(y.get()).set_coefficients(c.get());
  periodic.set_internal_conditions(ic.get()).set_boundary_conditions(df::bc_type::periodic, 1.0);
  periodic.construct();  // returns at once: the failure comes with the queue's errors

  df::spline<double, linear, 1> huge(cq.q, std::int64_t(1) << 40, true);  // coefficients supplied
  huge.set_partitions(x.get(), 3).set_coefficients(c.get());
  df::interpolate(huge, sites.get(), 1, out.get());

  df::spline<double, linear, 1> unordered(cq.q, 1, false);
  unordered.set_partitions(descending.get(), 3).set_function_values(y.get()).set_coefficients(c.get());
  unordered.construct();

  cq.q.wait_and_throw();
  std::sort(cq.errors->begin(), cq.errors->end());
  EXPECT_EQ(*cq.errors, (std::vector<std::string>{
                            "velora::qrx::data_fitting::bad alloc: cannot allocate memory on host",
                            "velora::qrx::data_fitting::construct: invalid argument: partition is not strictly "
                            "increasing",
                            "velora::qrx::data_fitting::function values do not correspond to periodic boundary "
                            "conditions: invalid argument"}));
  EXPECT_FALSE(cpu_impl(periodic).coeffs_computed);
  EXPECT_FALSE(cpu_impl(unordered).coeffs_computed);
}

// An empty mask is refused on the calling thread, before the task for the
// supplied coefficients is made; the first evaluation that asks for
// something makes it.
TEST(CpuBackEnd, SuppliedCoefficientsMakeTheirTaskAtTheFirstEvaluation) {
  collecting_queue cq;
  // Two cells of 1 + 2t and 3 + 1t (t from the cell's left breakpoint).
  usm_array<float> x(cq.q, {0, 1, 3}), c(cq.q, {1, 2, 3, 1}), sites(cq.q, {0.5f, 2.0f}), out(cq.q, 4, -1);
  df::spline<float, linear, 1> s(cq.q, 1, true);
  s.set_partitions(x.get(), 3).set_coefficients(c.get());
  expect_refusal<invalid_argument>([&] { df::interpolate(s, sites.get(), 2, out.get(), std::bitset<32>(0)); },
                                   invalid("interpolate", "all indicators are set to 0"));
  cq.q.wait_and_throw();
  EXPECT_FALSE(cpu_impl(s).task_created);

  df::interpolate(s, sites.get(), 2, out.get(), std::bitset<32>(0b11)).wait();
  EXPECT_TRUE(cpu_impl(s).task_created);
  EXPECT_FLOAT_EQ(out[0], 2.0f);  // value at 0.5
  EXPECT_FLOAT_EQ(out[1], 2.0f);  // slope of cell 0
  EXPECT_FLOAT_EQ(out[2], 4.0f);  // value at 2
  EXPECT_FLOAT_EQ(out[3], 1.0f);  // slope of cell 1
  cq.q.wait_and_throw();
  EXPECT_TRUE(cq.errors->empty());
}

TEST(CpuBackEnd, EverySuccessfulConstructBuildsAgainOnANewTask) {
  sycl::queue q(sycl::cpu_selector_v);
  usm_array<double> x(q, {0, 1, 2}), y(q, {0, 1, 4}), c(q, 4);
  df::spline<double, linear, 1> s(q, 1, false);
  s.set_partitions(x.get(), 3).set_function_values(y.get()).set_coefficients(c.get());
  s.construct();
  q.wait_and_throw();
  EXPECT_DOUBLE_EQ(c[3], 3.0);
  y[2] = 10;  // the second construct reads the values again
  s.construct();
  q.wait_and_throw();
  EXPECT_DOUBLE_EQ(c[3], 9.0);
  EXPECT_TRUE(cpu_impl(s).task_created);
}

TEST(CpuBackEnd, UnconstructibleStatesAreRefusedOnTheCallingThread) {
  sycl::queue q(sycl::cpu_selector_v);
  usm_array<float> x(q, {0, 1, 2}), sites(q, std::vector<float>{0.5f}), out(q, 1);
  df::spline<float, hermite, 1> uninitialized(q, 1, false);
  expect_refusal<invalid_argument>([&] { uninitialized.construct(); }, invalid("construct", "spline isn't initialized"));
  expect_refusal<computation_error>([&] { df::interpolate(uninitialized, sites.get(), 1, out.get()); },
                                    computation("interpolate", "coefficients were not computed"));

  df::spline<float, hermite, 1> no_coefficients(q, 1, true);
  no_coefficients.set_partitions(x.get(), 3);
  EXPECT_TRUE(no_coefficients.is_initialized());
  expect_refusal<invalid_argument>([&] { no_coefficients.construct(); },
                                   invalid("construct", "coefficients were not set"));
  expect_refusal<computation_error>([&] { df::interpolate(no_coefficients, sites.get(), 1, out.get()); },
                                    computation("interpolate", "coefficients were not set"));
}

TEST(CpuBackEnd, DestructionWaitsForRunningWork) {
  sycl::queue q(sycl::cpu_selector_v);
  usm_array<double> x(q, {0, 1, 2}), y(q, {0, 1, 4}), c(q, 4, -1);
  {
    df::spline<double, linear, 1> s(q, 1, false);
    s.set_partitions(x.get(), 3).set_function_values(y.get()).set_coefficients(c.get());
    sycl::event slow =
        test_support::host_work(q, [] { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
    s.construct({slow});
  }
  EXPECT_DOUBLE_EQ(c[1], 1.0);
  EXPECT_DOUBLE_EQ(c[3], 3.0);
}

// In a fresh process (death tests re-run the binary), a CPU spline that never
// built a task leaves the kernel library unloaded: no kernel was called.
// Creates and destroys a CPU spline that never builds a task, then exits with
// 0 when the kernel library was never loaded.
void spline_without_task_then_exit() {
  {
    sycl::queue q(sycl::cpu_selector_v);
    usm_array<double> x(q, {0, 1, 2}), c(q, 4);
    df::spline<double, linear, 1> s(q, 1, true);
    s.set_partitions(x.get(), 3).set_coefficients(c.get());
  }
  std::exit(detail::kernel_module_slot() == nullptr ? 0 : 1);
}

// In a fresh process (threadsafe death tests re-run the binary), destroying
// a CPU spline that never built a task calls no kernel.
TEST(CpuBackEndDeathTest, DestroyingASplineWithoutATaskCallsNoKernel) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(spline_without_task_then_exit(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace backend_test
