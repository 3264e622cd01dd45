// Throughput of the public interpolate call against the number of sites,
// for each partition hint, on both devices: a cubic Hermite spline of one
// function in double over 10^4 breakpoints, random sites, values only, in
// sites per second. The guide's throughput plot is drawn from this program's
// JSON output (scripts/plots.py).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <sycl/sycl.hpp>
#include <vector>

#include "data_fitting/data_fitting.hpp"

namespace {

namespace df = velora::qrx::experimental::data_fitting;

constexpr std::int64_t nx = 10000;

void evaluate(benchmark::State& state, sycl::queue q, df::partition_hint ph) {
  const std::int64_t nsites = state.range(0);
  double* x = sycl::malloc_shared<double>(nx, q);
  double* y = sycl::malloc_shared<double>(nx, q);
  double* dy = sycl::malloc_shared<double>(nx, q);
  double* c = sycl::malloc_shared<double>((nx - 1) * 4, q);
  double* sites = sycl::malloc_shared<double>(std::size_t(nsites), q);
  double* results = sycl::malloc_shared<double>(std::size_t(nsites), q);
  std::mt19937 gen(5);
  std::uniform_real_distribution<double> u(0, 1);
  for (std::int64_t i = 0; i < nx; ++i) {
    x[i] = ph == df::partition_hint::non_uniform ? double(i) + 0.4 * u(gen) : double(i);
    y[i] = std::sin(0.01 * double(i));
    dy[i] = 0.01 * std::cos(0.01 * double(i));
  }
  x[0] = 0;
  x[nx - 1] = double(nx - 1);
  if (ph == df::partition_hint::uniform) x[1] = double(nx - 1);
  for (std::int64_t i = 0; i < nsites; ++i) sites[i] = double(nx - 1) * u(gen);
  {
    df::spline<double, df::cubic_spline::hermite> s(q, 1, false);
    s.set_partitions(x, nx, ph).set_function_values(y).set_coefficients(c).set_internal_conditions(dy);
    s.set_boundary_conditions(df::bc_type::free_end, 0.0);
    s.construct();
    q.wait_and_throw();
    for (auto _ : state) {
      df::interpolate(s, sites, nsites, results);
      q.wait_and_throw();
    }
  }
  state.SetItemsProcessed(state.iterations() * nsites);
  for (double* p : {x, y, dy, c, sites, results}) sycl::free(p, q);
}

const bool registered = [] {
  const std::pair<df::partition_hint, const char*> hints[] = {{df::partition_hint::non_uniform, "non_uniform"},
                                                             {df::partition_hint::quasi_uniform, "quasi_uniform"},
                                                             {df::partition_hint::uniform, "uniform"}};
  for (auto type : {sycl::info::device_type::gpu, sycl::info::device_type::cpu}) {
    const std::vector<sycl::device> devices = sycl::device::get_devices(type);
    if (devices.empty()) continue;
    const sycl::queue q{devices.front()};
    for (const auto& [hint, hint_name] : hints) {
      const std::string name =
          std::string("sites/") + (type == sycl::info::device_type::gpu ? "gpu" : "cpu") + "/" + hint_name;
      benchmark::RegisterBenchmark(name.c_str(), evaluate, q, hint)
          ->RangeMultiplier(8)
          ->Range(8, 1 << 21)
          ->Unit(benchmark::kMicrosecond)
          ->UseRealTime();
    }
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
