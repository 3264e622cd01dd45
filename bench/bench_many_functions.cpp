// Many functions over one partition: the public interpolate call on the CPU
// device against what a careful user writes with OpenMP over the library's
// own coefficients (each site's cell found once by binary search, then the
// functions evaluated in the order that writes the result layout
// contiguously). Cubic Hermite in double, 10^5 sites, values only (K = 1)
// or orders 0-2 (K = 3), every result layout. nx = 10^5 stops at ny = 16:
// 1000 functions would need 3.2 GB of coefficients.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <random>
#include <sycl/sycl.hpp>
#include <vector>

#include "data_fitting/data_fitting.hpp"

#if defined(_OPENMP)
#include <omp.h>
#endif

namespace {

namespace df = velora::qrx::experimental::data_fitting;

constexpr std::int64_t nsites = 100000;

enum call_path : std::int64_t { public_call = 0, openmp_loop = 1 };

template <typename T>
struct usm_array {
  usm_array(const sycl::queue& q, std::int64_t n) : q(q), data(sycl::malloc_shared<T>(std::size_t(n), q)) {}
  ~usm_array() { sycl::free(data, q); }
  usm_array(const usm_array&) = delete;
  usm_array& operator=(const usm_array&) = delete;
  sycl::queue q;
  T* data;
};

// Strides of function, site and order in a layout with k slots per (function, site).
struct strides {
  std::int64_t f, s, d;
};
strides strides_of(df::interpolate_hint h, std::int64_t ny, std::int64_t k) {
  switch (h) {
    case df::interpolate_hint::funcs_sites_ders:
      return {nsites * k, k, 1};
    case df::interpolate_hint::funcs_ders_sites:
      return {k * nsites, 1, nsites};
    case df::interpolate_hint::sites_funcs_ders:
      return {k, ny * k, 1};
    default:
      return {1, k * ny, ny};
  }
}

// Orders 0 .. k-1 of the cubic piece c at offset t.
template <typename T>
inline void cubic_orders(const T* c, T t, std::int64_t k, T* o, std::int64_t d) {
  o[0] = ((c[3] * t + c[2]) * t + c[1]) * t + c[0];
  if (k > 1) o[d] = (T(3) * c[3] * t + T(2) * c[2]) * t + c[1];
  if (k > 2) o[2 * d] = T(6) * c[3] * t + T(2) * c[2];
}

// The user's loop: cells once, then function-major or site-major.
template <typename T>
void openmp_evaluate(const T* x, std::int64_t nx, const T* coef, std::int64_t ny, const T* sites, std::int64_t k,
                     df::interpolate_hint h, T* results, std::vector<std::int32_t>& cell, std::vector<T>& t) {
  const strides st = strides_of(h, ny, k);
#pragma omp parallel for schedule(static)
  for (std::int64_t s = 0; s < nsites; ++s) {
    const std::int64_t j = std::upper_bound(x, x + nx, sites[s]) - x - 1;
    const std::int64_t c = std::min<std::int64_t>(std::max<std::int64_t>(j, 0), nx - 2);
    cell[std::size_t(s)] = static_cast<std::int32_t>(c);
    t[std::size_t(s)] = sites[s] - x[c];
  }
  const std::int64_t cells = nx - 1;
  if (h == df::interpolate_hint::funcs_sites_ders || h == df::interpolate_hint::funcs_ders_sites) {
#pragma omp parallel for schedule(static)
    for (std::int64_t f = 0; f < ny; ++f) {
      const T* cf = coef + f * cells * 4;
      T* out = results + f * st.f;
      for (std::int64_t s = 0; s < nsites; ++s) {
        cubic_orders(cf + std::int64_t{cell[std::size_t(s)]} * 4, t[std::size_t(s)], k, out + s * st.s, st.d);
      }
    }
  } else {
#pragma omp parallel for schedule(static)
    for (std::int64_t s = 0; s < nsites; ++s) {
      const T* cs = coef + std::int64_t{cell[std::size_t(s)]} * 4;
      T* out = results + s * st.s;
      for (std::int64_t f = 0; f < ny; ++f) cubic_orders(cs + f * cells * 4, t[std::size_t(s)], k, out + f * st.f, st.d);
    }
  }
}

// Args: nx, ny, sorted sites, K (1: values, 3: orders 0-2), layout, path.
void BM_ManyFunctions(benchmark::State& state) {
  using T = double;
  const std::int64_t nx = state.range(0);
  const std::int64_t ny = state.range(1);
  const bool sorted = state.range(2) != 0;
  const std::int64_t k = state.range(3);
  const auto layout = static_cast<df::interpolate_hint>(state.range(4));
  const auto path = static_cast<call_path>(state.range(5));
#if !defined(_OPENMP)
  if (path == openmp_loop) {
    state.SkipWithError("built without OpenMP");
    return;
  }
#endif
  const std::vector<sycl::device> cpus = sycl::device::get_devices(sycl::info::device_type::cpu);
  if (cpus.empty()) {
    state.SkipWithError("no CPU device");
    return;
  }
  sycl::queue q{cpus.front()};
  const std::int64_t ncoef = ny * (nx - 1) * 4;
  usm_array<T> x(q, nx), c(q, ncoef), sites(q, nsites), results(q, ny * nsites * k);
  std::mt19937 gen(7);
  std::uniform_real_distribution<T> u(0, 1);
  for (std::int64_t i = 0; i < nx; ++i) x.data[i] = T(i) + T(0.4) * u(gen);
  x.data[0] = 0;
  x.data[nx - 1] = T(nx - 1);
  for (std::int64_t i = 0; i < ncoef; ++i) c.data[i] = u(gen) - T(0.5);
  for (std::int64_t i = 0; i < nsites; ++i) sites.data[i] = T(nx - 1) * u(gen);
  if (sorted) std::sort(sites.data, sites.data + nsites);
  std::fill(results.data, results.data + ny * nsites * k, T(0));  // pages touched before timing

  df::spline<T, df::cubic_spline::hermite> s(q, ny, true);
  s.set_partitions(x.data, nx, df::partition_hint::non_uniform).set_coefficients(c.data);
  s.construct();
  q.wait_and_throw();
  const std::bitset<32> orders(k == 1 ? 1U : 7U);
  const df::site_hint sh = sorted ? df::site_hint::kind_64 : df::site_hint::non_uniform;
  std::vector<std::int32_t> cell(std::size_t{nsites});
  std::vector<T> t(std::size_t{nsites});
  for (auto _ : state) {
    if (path == public_call) {
      df::interpolate(s, sites.data, nsites, results.data, orders, {}, layout, sh);
      q.wait_and_throw();
    } else {
      openmp_evaluate(x.data, nx, c.data, ny, sites.data, k, layout, results.data, cell, t);
    }
    benchmark::DoNotOptimize(results.data);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * nsites * ny);  // site-function pairs
  state.SetBytesProcessed(state.iterations() * nsites * ny * k * std::int64_t{sizeof(T)});  // results
}

double fastest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

void many_function_cases(benchmark::internal::Benchmark* b) {
  b->ArgNames({"nx", "ny", "sorted", "K", "layout", "path"});
  const std::int64_t funcs_sites_ders = 16, funcs_ders_sites = 32, sites_funcs_ders = 256, sites_ders_funcs = 512;
  for (std::int64_t nx : {1001, 100000}) {
    for (std::int64_t ny : {1, 16, 1000}) {
      if (nx > 1001 && ny > 16) continue;
      for (std::int64_t sorted : {0, 1}) {
        for (std::int64_t k : {1, 3}) {
          // With one slot per (function, site) the layouts pair up.
          const std::vector<std::int64_t> layouts =
              k == 1 ? std::vector<std::int64_t>{funcs_sites_ders, sites_funcs_ders}
                     : std::vector<std::int64_t>{funcs_sites_ders, funcs_ders_sites, sites_funcs_ders, sites_ders_funcs};
          for (std::int64_t layout : layouts) {
            for (std::int64_t path : {public_call, openmp_loop}) b->Args({nx, ny, sorted, k, layout, path});
          }
        }
      }
    }
  }
  b->Unit(benchmark::kMillisecond)->UseRealTime()->ComputeStatistics("min", fastest);
}

BENCHMARK(BM_ManyFunctions)->Apply(many_function_cases);

}  // namespace

BENCHMARK_MAIN();
