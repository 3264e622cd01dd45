// Interpolation throughput on the GPU-class device, in evaluated
// (site x function) pairs per second, for both spline kinds and element
// types, every partition hint, partitions of 10^2 to 10^7 breakpoints, random
// and uniform sites, 1 and 16 functions, values only and all four orders.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <random>
#include <string>
#include <sycl/sycl.hpp>
#include <type_traits>
#include <vector>

#include "data_fitting/hints.hpp"
#include "data_fitting/spline_types.hpp"
#include "detail/gpu/interpolate/dispatch_interpolate.hpp"

namespace {

namespace df = velora::qrx::experimental::data_fitting;

// Every run evaluates this many (site, function) pairs.
constexpr std::int64_t pairs_per_run = std::int64_t(1) << 19;

sycl::queue& gpu() {
  static sycl::queue q{sycl::gpu_selector_v};
  return q;
}

template <typename T>
struct usm_buffer {
  T* data = nullptr;
  std::size_t size = 0;
  void resize(std::size_t n) {
    if (n == size) return;
    sycl::free(data, gpu());
    data = sycl::malloc_shared<T>(n, gpu());
    size = n;
  }
  ~usm_buffer() { sycl::free(data, gpu()); }
};

// The data of the benchmark that runs; rebuilt only when the next one needs
// other sizes, so benchmarks that share sizes share the set-up.
template <typename T>
struct spline_data {
  std::int64_t nx = 0, ny = 0, coeffs_per_cell = 0;
  usm_buffer<T> partition, coeffs, sites, results;
  usm_buffer<T*> cell;

  void prepare(std::int64_t nx_, std::int64_t ny_, std::int64_t m) {
    if (nx_ != nx) {
      // Nearly even breakpoints, so that quasi_uniform's guess is good.
      std::mt19937_64 gen(nx_);
      std::uniform_real_distribution<T> jitter(0, T(0.5));
      partition.resize(nx_);
      for (std::int64_t i = 0; i < nx_; ++i) partition.data[i] = T(i) + jitter(gen);
      std::sort(partition.data, partition.data + nx_);
      sites.resize(pairs_per_run);
      std::uniform_real_distribution<T> site(partition.data[0], partition.data[nx_ - 1]);
      for (std::int64_t i = 0; i < pairs_per_run; ++i) sites.data[i] = site(gen);
    }
    if (nx_ != nx || ny_ != ny || m != coeffs_per_cell) {
      coeffs.resize((nx_ - 1) * ny_ * m);
      std::fill(coeffs.data, coeffs.data + coeffs.size, T(0.5));
      cell.resize(1);
      cell.data[0] = coeffs.data;
    }
    results.resize(pairs_per_run * 4);
    nx = nx_, ny = ny_, coeffs_per_cell = m;
  }
};

template <typename T>
spline_data<T>& data() {
  gpu();  // the queue outlives the data freed through it
  static spline_data<T> d;
  return d;
}

struct config {
  df::partition_hint ph;
  std::int64_t nx;
  df::site_hint sh;
  std::int64_t ny;
  int orders;  // 1: values only; 4: values and derivatives 1 to 3
};

template <typename T, typename Kind>
void interpolate(benchmark::State& state, config c) {
  constexpr std::int64_t m = std::is_same_v<Kind, df::linear_spline::default_type> ? 2 : 4;
  spline_data<T>& d = data<T>();
  d.prepare(c.nx, c.ny, m);
  const std::int64_t nsites = pairs_per_run / c.ny;
  // A uniform partition holds only its two ends, uniform sites only the first
  // and the last site.
  usm_buffer<T> ends;
  ends.resize(2);
  ends.data[0] = d.partition.data[0];
  ends.data[1] = d.partition.data[c.nx - 1];
  T* partition = c.ph == df::partition_hint::uniform ? ends.data : d.partition.data;
  T* sites = c.sh == df::site_hint::uniform ? ends.data : d.sites.data;
  std::int32_t indicators[4] = {1, 1, 1, 1};
  for (auto _ : state) {
    df::detail::dispatch_interpolate<T, Kind>(gpu(), c.nx, c.ny, partition, d.cell.data, sites, nsites, d.results.data,
                                              c.orders, indicators, {}, static_cast<std::int64_t>(c.ph),
                                              static_cast<std::int64_t>(c.sh),
                                              static_cast<std::int64_t>(df::interpolate_hint::funcs_sites_ders))
        .wait();
  }
  state.SetItemsProcessed(state.iterations() * nsites * c.ny);
}

const char* name(df::partition_hint h) {
  return h == df::partition_hint::non_uniform     ? "non_uniform"
         : h == df::partition_hint::quasi_uniform ? "quasi_uniform"
                                                  : "uniform";
}

template <typename T, typename Kind>
void register_kind(const std::string& kind) {
  const std::string type = std::is_same_v<T, float> ? "float" : "double";
  for (std::int64_t nx : {100, 10'000, 1'000'000, 10'000'000}) {
    for (std::int64_t ny : {1, 16}) {
      if (nx * ny > 20'000'000) continue;  // coefficient arrays beyond a few hundred MB
      for (auto ph :
           {df::partition_hint::non_uniform, df::partition_hint::quasi_uniform, df::partition_hint::uniform}) {
        for (auto sh : {df::site_hint::non_uniform, df::site_hint::uniform}) {
          for (int orders : {1, 4}) {
            const std::string n = "interpolate/" + kind + "/" + type + "/part:" + name(ph) +
                                  "/nx:" + std::to_string(nx) +
                                  "/sites:" + (sh == df::site_hint::uniform ? "uniform" : "random") +
                                  "/ny:" + std::to_string(ny) + "/mask:" + (orders == 1 ? "value" : "value+d1+d2+d3");
            benchmark::RegisterBenchmark(n.c_str(), interpolate<T, Kind>, config{ph, nx, sh, ny, orders})
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime()
                ->MinTime(0.05);
          }
        }
      }
    }
  }
}

const bool registered = [] {
  register_kind<float, df::linear_spline::default_type>("linear");
  register_kind<double, df::linear_spline::default_type>("linear");
  register_kind<float, df::cubic_spline::hermite>("cubic");
  register_kind<double, df::cubic_spline::hermite>("cubic");
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
