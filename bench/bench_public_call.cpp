// What the public interpolate call on a CPU queue costs around the kernel:
// the same spline and sites (cubic Hermite, nx = 10^4, values only) through
// the public call, waited for, and through the kernel library's front-end
// directly, from one site to 10^7. For large calls the two rates should
// agree; for small ones the difference is the latency of the call
// (submission, the host task's start, the wait).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <sycl/sycl.hpp>
#include <type_traits>
#include <vector>

#include "data_fitting/data_fitting.hpp"
#include "detail/cpu_impl/df_frontend.hpp"
#include "detail/host_task.hpp"

namespace {

namespace df = velora::qrx::experimental::data_fitting;
namespace detail = velora::qrx::experimental::data_fitting::detail;

constexpr std::int64_t nx = 10000;

enum call_path : std::int64_t { public_call = 0, kernel_call = 1 };
enum site_order : std::int64_t { random_sites = 0, sorted_sites = 1 };

template <typename T>
struct usm_array {
  usm_array(const sycl::queue& q, std::int64_t n) : q(q), data(sycl::malloc_shared<T>(std::size_t(n), q)) {}
  ~usm_array() { sycl::free(data, q); }
  usm_array(const usm_array&) = delete;
  usm_array& operator=(const usm_array&) = delete;
  sycl::queue q;
  T* data;
};

// Args: path, partition (0 listed, 1 uniform), site order, number of sites.
template <typename T>
void BM_Call(benchmark::State& state) {
  const auto path = static_cast<call_path>(state.range(0));
  const bool uniform = state.range(1) == 1;
  const bool sorted = state.range(2) == sorted_sites;
  const std::int64_t nsites = state.range(3);
  const std::vector<sycl::device> cpus = sycl::device::get_devices(sycl::info::device_type::cpu);
  if (cpus.empty()) {
    state.SkipWithError("no CPU device");
    return;
  }
  sycl::queue q{cpus.front()};
  usm_array<T> x(q, nx), y(q, nx), dy(q, nx), c(q, (nx - 1) * 4), sites(q, nsites), results(q, nsites);
  std::mt19937 gen(5);
  std::uniform_real_distribution<T> u(0, 1);
  for (std::int64_t i = 0; i < nx; ++i) {
    x.data[i] = uniform ? T(i) : T(i) + T(0.4) * u(gen);
    y.data[i] = std::sin(T(0.01) * T(i));
    dy.data[i] = T(0.01) * std::cos(T(0.01) * T(i));
  }
  x.data[0] = 0;
  x.data[nx - 1] = T(nx - 1);
  if (uniform) x.data[1] = T(nx - 1);
  for (std::int64_t i = 0; i < nsites; ++i) sites.data[i] = T(nx - 1) * u(gen);
  if (sorted) std::sort(sites.data, sites.data + nsites);
  std::fill(results.data, results.data + nsites, T(0));  // pages touched before timing

  const df::partition_hint ph = uniform ? df::partition_hint::uniform : df::partition_hint::non_uniform;
  const df::site_hint sh = sorted ? df::site_hint::kind_64 : df::site_hint::non_uniform;
  df::spline<T, df::cubic_spline::hermite> s(q, 1, false);
  s.set_partitions(x.data, nx, ph).set_function_values(y.data).set_coefficients(c.data);
  s.set_internal_conditions(dy.data).set_boundary_conditions(df::bc_type::free_end, T(0));
  s.construct();
  q.wait_and_throw();

  // The kernel's own task over the same partition and coefficients.
  detail::task_record* task = nullptr;
  std::int64_t values[1] = {1};
  if (path == kernel_call) {
    if (detail::df_new_task_1d<T>(&task, nx, x.data, uniform ? 4 : 1, 1, y.data, 16) != 0 ||
        detail::df_edit_pp_spline_1d<T>(task, 4, 3, 0, nullptr, 0, nullptr, c.data, 16) != 0) {
      state.SkipWithError("cannot make the kernel's task");
      return;
    }
  }
  for (auto _ : state) {
    if (path == public_call) {
      df::interpolate(s, sites.data, nsites, results.data, {}, df::interpolate_hint::funcs_sites_ders, sh);
      q.wait_and_throw();
    } else if (detail::df_interpolate_1d<T>(task, 1, 1, nsites, sites.data, static_cast<std::int64_t>(sh), 1,
                                            values, 0, results.data, 16, nullptr) != 0) {
      state.SkipWithError("interpolation failed");
    }
    benchmark::DoNotOptimize(results.data);
    benchmark::ClobberMemory();
  }
  if (task != nullptr) detail::df_delete_task(&task);
  state.SetItemsProcessed(state.iterations() * nsites);
}

double fastest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

void call_cases(benchmark::internal::Benchmark* b) {
  b->ArgNames({"path", "uniform", "sorted", "nsites"});
  for (std::int64_t nsites : {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000}) {
    for (std::int64_t path : {public_call, kernel_call}) {
      b->Args({path, 1, random_sites, nsites});
      b->Args({path, 0, sorted_sites, nsites});
    }
  }
  b->Unit(benchmark::kMicrosecond)->UseRealTime()->ComputeStatistics("min", fastest);
}

BENCHMARK_TEMPLATE(BM_Call, double)->Apply(call_cases);

// The floor of any asynchronous call on a CPU queue: an empty host task,
// submitted as the library submits its own, and waited for.
void BM_EmptyHostTask(benchmark::State& state) {
  const std::vector<sycl::device> cpus = sycl::device::get_devices(sycl::info::device_type::cpu);
  if (cpus.empty()) {
    state.SkipWithError("no CPU device");
    return;
  }
  sycl::queue q{cpus.front()};
  for (auto _ : state) {
    detail::submit_host_task(q, {}, [] {});
    q.wait_and_throw();
  }
}
BENCHMARK(BM_EmptyHostTask)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(3)->ComputeStatistics(
    "min", fastest);
BENCHMARK_TEMPLATE(BM_Call, float)->Apply(call_cases);

}  // namespace

BENCHMARK_MAIN();
