// Interpolation throughput of the two back-ends through the public interface,
// in evaluated (site x function) pairs per second: a cubic Hermite spline of
// double on a non-uniform partition of 10^4 breakpoints, 2^20 random sites,
// 1 and 16 functions, values only and all four orders. The outside argument
// is the extrapolation mode on both sides (0 extend, 1 constant, 2 linear,
// 3 nan, 4 periodic); every site is inside the partition, so the rows show
// what a mode costs where it changes nothing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <bitset>
#include <random>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/data_fitting.hpp"

namespace {

namespace df = velora::qrx::experimental::data_fitting;

constexpr std::int64_t nx = 10000;
constexpr std::int64_t nsites = std::int64_t(1) << 20;

void interpolate_cubic(benchmark::State& state, bool on_cpu) {
  const std::int64_t ny = state.range(0);
  const bool all_orders = state.range(1) != 0;
  const auto outside = static_cast<df::extrapolation>(state.range(2));
  sycl::queue q = on_cpu ? sycl::queue(sycl::cpu_selector_v) : sycl::queue(sycl::gpu_selector_v);

  double* x = sycl::malloc_shared<double>(nx, q);
  double* y = sycl::malloc_shared<double>(nx * ny, q);
  double* dy = sycl::malloc_shared<double>(nx - 2, q);
  double* c = sycl::malloc_shared<double>((nx - 1) * ny * 4, q);
  double* sites = sycl::malloc_shared<double>(nsites, q);
  double* results = sycl::malloc_shared<double>(nsites * ny * 4, q);
  std::mt19937_64 gen(42);
  std::uniform_real_distribution<double> u(0, 1);
  for (std::int64_t i = 0; i < nx; ++i) x[i] = double(i) + 0.5 * u(gen);
  std::sort(x, x + nx);
  for (std::int64_t i = 0; i < nx * ny; ++i) y[i] = u(gen);
  for (std::int64_t i = 0; i < nx - 2; ++i) dy[i] = u(gen);
  for (std::int64_t i = 0; i < nsites; ++i) sites[i] = x[0] + (x[nx - 1] - x[0]) * u(gen);
  std::fill(results, results + nsites * ny * 4, 0.0);  // pages touched before timing

  {
    df::spline<double, df::cubic_spline::hermite, 1> s(q, ny, false);
    s.set_partitions(x, nx).set_function_values(y).set_coefficients(c).set_internal_conditions(dy);
    s.set_boundary_conditions(df::bc_type::free_end, 0.0);
    s.set_extrapolation(outside, outside);
    s.construct();
    q.wait_and_throw();
    const std::bitset<32> mask(all_orders ? 0b1111 : 0b1);
    for (auto _ : state) {
      df::interpolate(s, sites, nsites, results, mask);
      q.wait_and_throw();
    }
  }
  state.SetItemsProcessed(state.iterations() * nsites * ny);
  for (double* p : {x, y, dy, c, sites, results}) sycl::free(p, q);
}

void cpu_backend(benchmark::State& state) { interpolate_cubic(state, true); }
void gpu_backend(benchmark::State& state) { interpolate_cubic(state, false); }

void arguments(benchmark::internal::Benchmark* b) {
  b->ArgNames({"ny", "all_orders", "outside"})
      ->ArgsProduct({{1, 16}, {0, 1}, {0}})
      ->Args({1, 0, 1})
      ->Args({1, 0, 2})
      ->Args({1, 0, 3})
      ->Args({1, 0, 4})
      ->Args({16, 1, 1})
      ->Args({16, 1, 2})
      ->Args({16, 1, 3})
      ->Args({16, 1, 4})
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

BENCHMARK(gpu_backend)->Apply(arguments);
BENCHMARK(cpu_backend)->Apply(arguments);

}  // namespace

BENCHMARK_MAIN();
