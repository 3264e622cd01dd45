// Throughput of the CPU data-fitting kernels through the front-end:
// interpolation of a cubic Hermite or a linear spline (nx = 10^4) at 10^7
// sites, and construction. items_per_second counts (site, function)
// evaluations or (cell, function) coefficients.
//
// Memory bounds these kernels: sites in and values out are 16 bytes a site
// in double (8 in float), and a streaming copy runs at about 57 GB/s on both
// cores of the machines this is measured on, so about 3.5 G sites/s.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <type_traits>
#include <vector>

#include "detail/cpu_impl/df_frontend.hpp"
#include "detail/cpu_impl/kernel_loader.hpp"
#include "detail/cpu_impl/threader_blocks.hpp"
#include "qrx_df/interpolate_on.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "qrx_lumo_thread/threader.h"

namespace df = velora::qrx::experimental::data_fitting::detail;

namespace {

enum partition_kind : std::int64_t { uniform_partition = 0, random_partition = 1 };
// Random sites, sorted ones, and uniform ones (given by the first and the
// last, sorted too).
enum site_kind : std::int64_t { random_sites = 0, sorted_sites = 1, uniform_sites = 2 };
enum orders_kind : std::int64_t { values_only = 0, all_orders = 1 };
enum spline_order : std::int64_t { linear = 2, cubic = 4 };

// A cubic Hermite (or linear) spline of ny functions over [0, 1] with nx
// breakpoints.
template <typename T>
struct hermite_spline {
  std::int64_t nx;
  std::int64_t ny;
  std::vector<T> x;
  std::vector<T> values;
  std::vector<T> ic;
  std::vector<T> coeffs;
  // A uniform partition by its ends; the task reads them at every call.
  std::vector<T> ends = {0, 1};
  df::task_record* task = nullptr;

  hermite_spline(std::int64_t nx_, std::int64_t ny_, partition_kind kind, spline_order order = cubic)
      : nx(nx_), ny(ny_), x(static_cast<std::size_t>(nx_)), values(static_cast<std::size_t>(nx_ * ny_)),
        ic(static_cast<std::size_t>(nx_ - 2)), coeffs(static_cast<std::size_t>((nx_ - 1) * ny_ * order)) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<T> unit(0, 1);
    for (std::int64_t i = 0; i < nx; ++i) x[i] = kind == uniform_partition ? T(i) / T(nx - 1) : unit(rng);
    std::sort(x.begin(), x.end());
    x.front() = 0;
    x.back() = 1;
    for (std::int64_t j = 0; j < ny; ++j) {
      for (std::int64_t i = 0; i < nx; ++i) values[j * nx + i] = std::sin(T(20) * x[i] + T(j));
    }
    for (std::int64_t i = 1; i + 1 < nx; ++i) ic[i - 1] = T(20) * std::cos(T(20) * x[i]);
    df::df_new_task_1d<T>(&task, nx, kind == uniform_partition ? ends.data() : x.data(),
                          kind == uniform_partition ? 4 : 1, ny, values.data(), 16);
    if (order == cubic) {
      df::df_edit_pp_spline_1d<T>(task, 4, 3, 2, nullptr, 1, ic.data(), coeffs.data(), 16);
    } else {
      df::df_edit_pp_spline_1d<T>(task, 2, 0, 0, nullptr, 0, nullptr, coeffs.data(), 16);
    }
  }
  ~hermite_spline() { df::df_delete_task(&task); }
  std::int32_t construct() { return df::df_construct_1d<T>(task, 0, 0); }
};

template <typename T>
std::vector<T> make_sites(std::int64_t n, site_kind kind) {
  if (kind == uniform_sites) return {T(0.001), T(0.999)};
  std::vector<T> sites(static_cast<std::size_t>(n));
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<T> unit(0, 1);
  for (auto& s : sites) s = unit(rng);
  if (kind == sorted_sites) std::sort(sites.begin(), sites.end());
  return sites;
}

// Args: partition kind, site kind, orders kind, number of sites; Order is
// the spline's order (every order of a linear spline is two).
template <typename T, spline_order Order>
void BM_Interpolate(benchmark::State& state) {
  const auto partition = static_cast<partition_kind>(state.range(0));
  const auto sites_kind = static_cast<site_kind>(state.range(1));
  const bool all = state.range(2) == all_orders;
  const std::int64_t nsites = state.range(3);
  hermite_spline<T> spline(10000, 1, partition, Order);
  if (spline.construct() != 0) state.SkipWithError("construction failed");
  const std::vector<T> sites = make_sites<T>(nsites, sites_kind);
  const std::int64_t k = all ? static_cast<std::int64_t>(Order) : 1;
  std::vector<T> results(static_cast<std::size_t>(nsites * k), T(0));  // touched before timing
  std::int64_t orders[4] = {1, 1, 1, 1};
  const std::int64_t site_hint = sites_kind == sorted_sites ? 64 : (sites_kind == uniform_sites ? 4 : 1);
  for (auto _ : state) {
    const std::int32_t status = df::df_interpolate_1d<T>(spline.task, 1, 1, nsites, const_cast<T*>(sites.data()),
                                                         site_hint, k, orders, 0, results.data(), 16, nullptr);
    if (status != 0) state.SkipWithError("interpolation failed");
    benchmark::DoNotOptimize(results.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * nsites);
}

// With --benchmark_repetitions=N, the "min" row's time is the best
// repetition (other work on a shared machine only ever makes a run slower);
// its items_per_second is the lowest rate, so read the time.
double fastest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

// Every partition and site kind, values and every order, at 10^7 sites.
void interpolation_cases(benchmark::internal::Benchmark* b) {
  b->ArgNames({"partition", "sites", "orders", "nsites"});
  for (std::int64_t partition : {random_partition, uniform_partition}) {
    for (std::int64_t sites : {random_sites, sorted_sites, uniform_sites}) {
      for (std::int64_t orders : {values_only, all_orders}) b->Args({partition, sites, orders, 10000000});
    }
  }
  b->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5)->ComputeStatistics("min", fastest);
}

BENCHMARK_TEMPLATE(BM_Interpolate, double, cubic)->Apply(interpolation_cases);
BENCHMARK_TEMPLATE(BM_Interpolate, float, cubic)->Apply(interpolation_cases);
BENCHMARK_TEMPLATE(BM_Interpolate, double, linear)->Apply(interpolation_cases);
BENCHMARK_TEMPLATE(BM_Interpolate, float, linear)->Apply(interpolation_cases);

// Small calls around the size from which the kernels hand work to the
// threader (8192 evaluations).
BENCHMARK_TEMPLATE(BM_Interpolate, double, cubic)
    ->ArgNames({"partition", "sites", "orders", "nsites"})
    ->Args({random_partition, random_sites, values_only, 4096})
    ->Args({random_partition, random_sites, values_only, 16384})
    ->Args({uniform_partition, random_sites, values_only, 4096})
    ->Args({uniform_partition, random_sites, values_only, 16384})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->ComputeStatistics("min", fastest);

// Each instruction-set variant of the kernel this processor runs, called
// directly (no front-end) on both cores: random (listed) sites, sorted sites
// and uniform sites over a listed partition, and random sites over a uniform
// one, values only, 10^7 sites, nx = 10^4. Args: variant (0 plain loops,
// 1 AVX2, 2 AVX-512), partition kind, site kind.
template <typename T, spline_order Order>
void BM_Variant(benchmark::State& state) {
  const auto variant = static_cast<qrx_df::isa>(state.range(0));
  if (!qrx_df::isa_supported(variant)) {
    state.SkipWithError("this processor does not run the variant");
    return;
  }
  const auto partition = static_cast<partition_kind>(state.range(1));
  const auto sites_kind = static_cast<site_kind>(state.range(2));
  const std::int64_t nx = 10000;
  const std::int64_t nsites = 10000000;
  std::vector<T> x(static_cast<std::size_t>(nx));
  for (std::int64_t i = 0; i < nx; ++i) x[i] = T(i) / T(nx - 1);
  std::vector<T> coeffs(static_cast<std::size_t>((nx - 1) * Order));
  for (std::size_t i = 0; i < coeffs.size(); ++i) coeffs[i] = T(std::sin(double(i)));
  const std::vector<T> sites = make_sites<T>(nsites, sites_kind);
  std::vector<T> results(static_cast<std::size_t>(nsites), T(0));
  qrx_df_task* task = nullptr;
  const T ends[2] = {0, 1};
  std::int32_t status = 0;
  if constexpr (std::is_same_v<T, double>) {
    status = qrx_df_kernel_dNewTask1D(&task, nx, partition == uniform_partition ? ends : x.data(),
                                      partition == uniform_partition ? 4 : 1, 1, x.data(), 16, 1);
    if (status == 0) status = qrx_df_kernel_dEditPPSpline1D(task, Order, 0, 0, nullptr, 0, nullptr, coeffs.data(), 16);
  } else {
    status = qrx_df_kernel_sNewTask1D(&task, nx, partition == uniform_partition ? ends : x.data(),
                                      partition == uniform_partition ? 4 : 1, 1, x.data(), 16, 1);
    if (status == 0) status = qrx_df_kernel_sEditPPSpline1D(task, Order, 0, 0, nullptr, 0, nullptr, coeffs.data(), 16);
  }
  const std::int64_t site_hint = sites_kind == sorted_sites ? 64 : (sites_kind == uniform_sites ? 4 : 1);
  const std::int64_t values[1] = {1};
  for (auto _ : state) {
    if (status == 0) {
      status = qrx_df::interpolate_on(qrx_df::run_options{variant}, task, 1, nsites, sites.data(), site_hint, 1, values, results.data(),
                                      16, nullptr, df::interpolate_threader_block<T>());
    }
    benchmark::DoNotOptimize(results.data());
    benchmark::ClobberMemory();
  }
  if (status != 0) state.SkipWithError("interpolation failed");
  qrx_df_kernel_DeleteTask(&task);
  state.SetItemsProcessed(state.iterations() * nsites);
}

void variant_cases(benchmark::internal::Benchmark* b) {
  b->ArgNames({"variant", "partition", "sites"});
  for (std::int64_t variant : {0, 1, 2}) {
    b->Args({variant, random_partition, random_sites});
    b->Args({variant, random_partition, sorted_sites});
    b->Args({variant, random_partition, uniform_sites});
    b->Args({variant, uniform_partition, random_sites});
  }
  b->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.3)->ComputeStatistics("min", fastest);
}

BENCHMARK_TEMPLATE(BM_Variant, double, cubic)->Apply(variant_cases);
BENCHMARK_TEMPLATE(BM_Variant, float, cubic)->Apply(variant_cases);
BENCHMARK_TEMPLATE(BM_Variant, double, linear)->Apply(variant_cases);
BENCHMARK_TEMPLATE(BM_Variant, float, linear)->Apply(variant_cases);

// Cost of one parallel loop of the threader that does nothing: the work a
// kernel must have before handing it over pays for this.
void BM_ThreaderOverhead(benchmark::State& state) {
  auto nothing = [](void*, std::int64_t, std::int64_t) {};
  for (auto _ : state) qrx_df_serv_threader_for(16, 1, nullptr, nothing);
}
BENCHMARK(BM_ThreaderOverhead)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Args: functions, breakpoints.
template <typename T>
void BM_ConstructHermite(benchmark::State& state) {
  hermite_spline<T> spline(state.range(1), state.range(0), random_partition);
  for (auto _ : state) {
    if (spline.construct() != 0) state.SkipWithError("construction failed");
    benchmark::DoNotOptimize(spline.coeffs.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * (state.range(1) - 1));
}
BENCHMARK_TEMPLATE(BM_ConstructHermite, double)
    ->ArgNames({"ny", "nx"})
    ->Args({1, 10000})
    ->Args({100, 100000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
