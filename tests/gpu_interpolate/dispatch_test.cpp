// The dispatcher's refusals (on the calling thread, before anything is
// submitted), empty launches, dependencies and the lifetime of its inputs.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "data_fitting/exceptions.hpp"
#include "interpolate_test_support.hpp"

namespace qrx_test {
namespace {

using linear = df::linear_spline::default_type;
using cubic = df::cubic_spline::hermite;
constexpr double sentinel = -5.5;

// The spline 1 + 2x on [0, 2], two cells.
device_spline<double> line(sycl::queue& q) {
  return device_spline<double>(q, {0, 1, 2}, 3, {1, 2, 3, 2});
}

struct refusal {
  const char* name;
  std::int64_t ih, sh, ph, nsites;
  bool null_sites, null_results;
  const char* info;
};

class Refusals : public ::testing::TestWithParam<refusal> {};

TEST_P(Refusals, ThrowOnTheCallingThreadAndWriteNothing) {
  const refusal& r = GetParam();
  sycl::queue q = gpu_queue();
  auto s = line(q);
  usm_array<double> x(q, {0.5, 1.5}), out(q, {sentinel, sentinel});
  try {
    interpolate<double, linear>(q, s, 1, r.null_sites ? nullptr : x.data(), r.nsites,
                                r.null_results ? nullptr : out.data(), 1, r.ph, r.sh, r.ih);
    ADD_FAILURE() << "no exception";
  } catch (const velora::qrx::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()),
              std::string("velora::qrx::data_fitting::interpolate: invalid argument: ") + r.info);
  }
  q.wait();
  EXPECT_EQ(out.to_vector(), (std::vector<double>{sentinel, sentinel}));
}

// Hints are tested in the order interpolate, site, partition; then nsites,
// then sites and results.
INSTANTIATE_TEST_SUITE_P(
    Dispatch, Refusals,
    ::testing::Values(refusal{"UnknownInterpolateHint", 17, 1, 1, 2, false, false, "invalid interpolate hint"},
                      refusal{"InterpolateHintFirst", 0, 2, 8, -1, true, true, "invalid interpolate hint"},
                      refusal{"UnknownSiteHint", 16, 2, 1, 2, false, false, "invalid site hint"},
                      refusal{"SiteHintBeforePartitionHint", 512, 0, 3, -1, true, true, "invalid site hint"},
                      refusal{"UnknownPartitionHint", 32, 64, 3, 2, false, false, "invalid partition hint"},
                      refusal{"PartitionHintBeforeNsites", 256, 4, 8, -1, true, true, "invalid partition hint"},
                      refusal{"NegativeNsites", 16, 1, 1, -1, false, false, "nsites < 0"},
                      refusal{"NsitesBeforeNullArrays", 16, 1, 1, -1, true, true, "nsites < 0"},
                      refusal{"NullSites", 16, 1, 1, 2, true, false, "sites is nullptr"},
                      refusal{"NullSitesBeforeNullResults", 16, 1, 1, 2, true, true, "sites is nullptr"},
                      refusal{"NullResults", 16, 1, 1, 2, false, true, "results is nullptr"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Dispatch, RefusesLaunchesOf2To31WorkItems) {
  sycl::queue q = gpu_queue();
  auto s = line(q);
  usm_array<double> x(q, {0.5, 1.5}), out(q, {sentinel});
  for (auto [nsites, ny] : {std::pair<std::int64_t, std::int64_t>{std::int64_t(1) << 31, 1}, {1 << 16, 1 << 15}}) {
    try {
      interpolate<double, linear>(q, s, ny, x.data(), nsites, out.data(), 1, 1, 1, 16);
      ADD_FAILURE() << "no exception";
    } catch (const sycl::exception& e) {
      EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::nd_range));
    }
  }
  q.wait();
  EXPECT_EQ(out[0], sentinel);
}

// Runs `work` on a runtime thread after a short sleep, so that a kernel that
// ignored the returned event would run first.
sycl::event later(sycl::queue& q, std::function<void()> work) {
  return q.submit([&](sycl::handler& h) {
    h.host_task([work] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      work();
    });
  });
}

TEST(Dispatch, NoSitesWritesNothingAndStillFollowsDependencies) {
  sycl::queue q = gpu_queue();
  auto s = line(q);
  usm_array<double> out(q, {sentinel});
  auto done = std::make_shared<std::atomic<bool>>(false);
  const sycl::event dep = later(q, [done] { *done = true; });
  interpolate<double, linear>(q, s, 1, nullptr, 0, out.data(), 0b1111, 1, 1, 16, {dep}).wait();
  EXPECT_TRUE(*done);
  interpolate<double, cubic>(q, s, 1, nullptr, 0, nullptr, 1, 4, 4, 512).wait();
  EXPECT_EQ(out[0], sentinel);
}

// The kernel waits for its dependencies and reads the coefficient address
// from the pointer cell when it runs: here a dependency repoints the cell.
TEST(Dispatch, WaitsForDependenciesAndReadsThePointerCellWhenRunning) {
  sycl::queue q = gpu_queue();
  auto s = line(q);
  usm_array<double> other(q, {-1, 0, -1, 0}), x(q, {0.5, 1.5}), out(q, {sentinel, sentinel});
  double** cell = s.cell.data();
  double* target = other.data();
  const sycl::event dep = later(q, [cell, target] { cell[0] = target; });
  interpolate<double, linear>(q, s, 1, x.data(), 2, out.data(), 1, 1, 1, 16, {dep}).wait();
  EXPECT_EQ(out.to_vector(), (std::vector<double>{-1, -1}));
}

// The derivative indicators are copied on submission: the caller may
// overwrite and release them before the kernel runs.
TEST(Dispatch, IndicatorsMayBeReleasedWhenTheCallReturns) {
  sycl::queue q = gpu_queue();
  auto s = line(q);
  usm_array<double> x(q, {0.5}), out(q, {sentinel, sentinel});
  auto held = std::make_shared<std::atomic<bool>>(true);
  const sycl::event dep = later(q, [held] { *held = false; });
  auto ind = std::make_unique<std::int32_t[]>(2);
  ind[0] = 0;
  ind[1] = 1;
  sycl::event done = dfd::dispatch_interpolate<double, linear>(q, s.nx, 1, s.partition.data(), s.cell.data(), x.data(),
                                                               1, out.data(), 2, ind.get(), {dep}, 1, 1, 16);
  ind[0] = ind[1] = 0;
  ind.reset();
  done.wait();
  EXPECT_EQ(out.to_vector(), (std::vector<double>{sentinel, 2}));
}

}  // namespace
}  // namespace qrx_test
