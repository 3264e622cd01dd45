// Throughput of the CPU data-fitting kernels through the front-end:
// interpolation of a cubic Hermite spline (nx = 10^4) at 10^7 sites, and
// construction. items_per_second counts (site, function) evaluations or
// (cell, function) coefficients.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "detail/cpu_impl/df_frontend.hpp"
#include "detail/cpu_impl/kernel_loader.hpp"
#include "qrx_lumo_thread/threader.h"

namespace df = velora::qrx::experimental::data_fitting::detail;

namespace {

enum partition_kind : std::int64_t { uniform_partition = 0, random_partition = 1 };
enum site_kind : std::int64_t { random_sites = 0, sorted_sites = 1 };
enum orders_kind : std::int64_t { values_only = 0, all_orders = 1 };

// A Hermite spline of ny functions over [0, 1] with nx breakpoints.
template <typename T>
struct hermite_spline {
  std::int64_t nx;
  std::int64_t ny;
  std::vector<T> x;
  std::vector<T> values;
  std::vector<T> ic;
  std::vector<T> coeffs;
  df::task_record* task = nullptr;

  hermite_spline(std::int64_t nx_, std::int64_t ny_, partition_kind kind)
      : nx(nx_), ny(ny_), x(static_cast<std::size_t>(nx_)), values(static_cast<std::size_t>(nx_ * ny_)),
        ic(static_cast<std::size_t>(nx_ - 2)), coeffs(static_cast<std::size_t>((nx_ - 1) * ny_ * 4)) {
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
    std::vector<T> ends = {0, 1};
    df::df_new_task_1d<T>(&task, nx, kind == uniform_partition ? ends.data() : x.data(),
                          kind == uniform_partition ? 4 : 1, ny, values.data(), 16);
    df::df_edit_pp_spline_1d<T>(task, 4, 3, 2, nullptr, 1, ic.data(), coeffs.data(), 16);
  }
  ~hermite_spline() { df::df_delete_task(&task); }
  std::int32_t construct() { return df::df_construct_1d<T>(task, 0, 0); }
};

template <typename T>
std::vector<T> make_sites(std::int64_t n, site_kind kind) {
  std::vector<T> sites(static_cast<std::size_t>(n));
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<T> unit(0, 1);
  for (auto& s : sites) s = unit(rng);
  if (kind == sorted_sites) std::sort(sites.begin(), sites.end());
  return sites;
}

// Args: partition kind, site kind, orders kind, number of sites.
template <typename T>
void BM_Interpolate(benchmark::State& state) {
  const auto partition = static_cast<partition_kind>(state.range(0));
  const auto sites_kind = static_cast<site_kind>(state.range(1));
  const bool all = state.range(2) == all_orders;
  const std::int64_t nsites = state.range(3);
  hermite_spline<T> spline(10000, 1, partition);
  if (spline.construct() != 0) state.SkipWithError("construction failed");
  const std::vector<T> sites = make_sites<T>(nsites, sites_kind);
  const std::int64_t k = all ? 4 : 1;
  std::vector<T> results(static_cast<std::size_t>(nsites * k));
  std::int64_t orders[4] = {1, 1, 1, 1};
  const std::int64_t site_hint = sites_kind == sorted_sites ? 64 : 1;
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

void interpolation_cases(benchmark::internal::Benchmark* b) {
  b->ArgNames({"partition", "sites", "orders", "nsites"});
  for (std::int64_t partition : {random_partition, uniform_partition}) {
    for (std::int64_t sites : {random_sites, sorted_sites}) {
      for (std::int64_t orders : {values_only, all_orders}) b->Args({partition, sites, orders, 10000000});
    }
  }
  b->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5)->ComputeStatistics("min", fastest);
}

BENCHMARK_TEMPLATE(BM_Interpolate, double)->Apply(interpolation_cases);
BENCHMARK_TEMPLATE(BM_Interpolate, float)
    ->ArgNames({"partition", "sites", "orders", "nsites"})
    ->Args({random_partition, random_sites, values_only, 10000000})
    ->Args({uniform_partition, random_sites, values_only, 10000000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->ComputeStatistics("min", fastest);

// Small calls around the size from which the kernels hand work to the
// threader (8192 evaluations).
BENCHMARK_TEMPLATE(BM_Interpolate, double)
    ->ArgNames({"partition", "sites", "orders", "nsites"})
    ->Args({random_partition, random_sites, values_only, 4096})
    ->Args({random_partition, random_sites, values_only, 16384})
    ->Args({uniform_partition, random_sites, values_only, 4096})
    ->Args({uniform_partition, random_sites, values_only, 16384})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->ComputeStatistics("min", fastest);

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
