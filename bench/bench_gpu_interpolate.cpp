// Interpolation throughput on the GPU-class device, in evaluated
// (site x function) pairs per second, for both spline kinds and element
// types, every partition hint, partitions of 10^2 to 10^7 breakpoints, random
// and uniform sites, 1 and 16 functions, values only and all four orders.
// The many/ rows hold the sites at 10^5 on a listed partition of 1001
// breakpoints and vary the number of functions (1, 16, 1000), the site order
// (random, sorted) and the result layout, with values and the first two
// derivatives; their CPU column is the time of every thread of the process.
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

// Data of the many/ rows: 10^5 sites (random, or the same sorted) on a listed
// partition of 1001 breakpoints; results for up to 1000 functions and three
// orders (2.4 GB in double), allocated and touched once.
constexpr std::int64_t many_nx = 1001, many_nsites = 100'000, many_max_ny = 1000;

template <typename T>
struct many_data {
  usm_buffer<T> partition, coeffs, random_sites, sorted_sites, results;
  usm_buffer<T*> cell;
  many_data() {
    std::mt19937_64 gen(many_nx);
    std::uniform_real_distribution<T> jitter(0, T(0.5));
    partition.resize(many_nx);
    for (std::int64_t i = 0; i < many_nx; ++i) partition.data[i] = T(i) + jitter(gen);
    std::sort(partition.data, partition.data + many_nx);
    random_sites.resize(many_nsites);
    sorted_sites.resize(many_nsites);
    std::uniform_real_distribution<T> site(partition.data[0], partition.data[many_nx - 1]);
    for (std::int64_t i = 0; i < many_nsites; ++i) random_sites.data[i] = site(gen);
    std::copy(random_sites.data, random_sites.data + many_nsites, sorted_sites.data);
    std::sort(sorted_sites.data, sorted_sites.data + many_nsites);
    coeffs.resize((many_nx - 1) * many_max_ny * 4);
    std::uniform_real_distribution<T> value(-1, 1);
    for (std::size_t i = 0; i < coeffs.size; ++i) coeffs.data[i] = value(gen);
    cell.resize(1);
    cell.data[0] = coeffs.data;
    results.resize(many_nsites * many_max_ny * 3);
    std::fill(results.data, results.data + results.size, T(0));
  }
};

template <typename T>
many_data<T>& many() {
  gpu();  // the queue outlives the data freed through it
  static many_data<T> d;
  return d;
}

struct many_config {
  std::int64_t ny;
  bool sorted;
  df::interpolate_hint layout;
};

template <typename T, typename Kind>
void interpolate_many(benchmark::State& state, many_config c) {
  many_data<T>& d = many<T>();
  T* sites = c.sorted ? d.sorted_sites.data : d.random_sites.data;
  const auto sh = c.sorted ? df::site_hint::kind_64 : df::site_hint::non_uniform;
  std::int32_t indicators[3] = {1, 1, 1};
  for (auto _ : state) {
    df::detail::dispatch_interpolate<T, Kind>(gpu(), many_nx, c.ny, d.partition.data, d.cell.data, sites, many_nsites,
                                              d.results.data, 3, indicators, {},
                                              static_cast<std::int64_t>(df::partition_hint::non_uniform),
                                              static_cast<std::int64_t>(sh), static_cast<std::int64_t>(c.layout))
        .wait();
  }
  state.SetItemsProcessed(state.iterations() * many_nsites * c.ny);
}

const char* name(df::interpolate_hint h) {
  return h == df::interpolate_hint::funcs_sites_ders   ? "funcs_sites_ders"
         : h == df::interpolate_hint::funcs_ders_sites ? "funcs_ders_sites"
         : h == df::interpolate_hint::sites_funcs_ders ? "sites_funcs_ders"
                                                       : "sites_ders_funcs";
}

template <typename T, typename Kind>
void register_many(const std::string& kind) {
  const std::string type = std::is_same_v<T, float> ? "float" : "double";
  for (std::int64_t ny : {1, 16, 1000}) {
    for (bool sorted : {false, true}) {
      for (auto layout : {df::interpolate_hint::funcs_sites_ders, df::interpolate_hint::funcs_ders_sites,
                          df::interpolate_hint::sites_funcs_ders, df::interpolate_hint::sites_ders_funcs}) {
        const std::string n = "many/" + kind + "/" + type + "/nx:1001/nsites:100000/ny:" + std::to_string(ny) +
                              "/sites:" + (sorted ? "sorted" : "random") + "/layout:" + name(layout) +
                              "/mask:value+d1+d2";
        benchmark::RegisterBenchmark(n.c_str(), interpolate_many<T, Kind>, many_config{ny, sorted, layout})
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime()  // the CPU column: every thread's time, less sensitive to other load
            ->UseRealTime()
            ->MinTime(0.2);
      }
    }
  }
}

const bool registered = [] {
  register_kind<float, df::linear_spline::default_type>("linear");
  register_kind<double, df::linear_spline::default_type>("linear");
  register_kind<float, df::cubic_spline::hermite>("cubic");
  register_kind<double, df::cubic_spline::hermite>("cubic");
  register_many<double, df::linear_spline::default_type>("linear");
  register_many<double, df::cubic_spline::hermite>("cubic");
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
