// Construction throughput on the GPU-class device through the public spline,
// in (cell x function) pairs per second. A spline computes its coefficients
// once, so every run builds a new spline over the same arrays.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <sycl/sycl.hpp>
#include <type_traits>
#include <vector>

#include "data_fitting/spline.hpp"

namespace {

namespace df = velora::qrx::experimental::data_fitting;

sycl::queue& gpu() {
  static sycl::queue q{sycl::gpu_selector_v};
  return q;
}

template <typename T>
struct usm_vector {
  explicit usm_vector(std::int64_t n, T value) : data(sycl::malloc_shared<T>(n, gpu())) {
    for (std::int64_t i = 0; i < n; ++i) data[i] = value + T(i % 7);
  }
  ~usm_vector() { sycl::free(data, gpu()); }
  T* data;
};

template <typename T, typename Kind>
void construct(benchmark::State& state, df::partition_hint ph, std::int64_t nx, std::int64_t ny) {
  constexpr bool hermite = std::is_same_v<Kind, df::cubic_spline::hermite>;
  usm_vector<T> partition(nx, 0), functions(nx * ny, 1), coeffs((nx - 1) * ny * (hermite ? 4 : 2), 0),
      derivatives(nx, 0);
  for (std::int64_t i = 0; i < nx; ++i) partition.data[i] = T(i);
  if (ph == df::partition_hint::uniform) partition.data[1] = T(nx - 1);
  for (auto _ : state) {
    df::spline<T, Kind> s(gpu(), ny, false);
    s.set_partitions(partition.data, nx, ph).set_function_values(functions.data).set_coefficients(coeffs.data);
    if constexpr (hermite) {
      s.set_internal_conditions(derivatives.data).set_boundary_conditions(df::bc_type::free_end, T(0));
    }
    s.construct().wait();
  }
  state.SetItemsProcessed(state.iterations() * (nx - 1) * ny);
}

template <typename T, typename Kind>
void register_kind(const std::string& kind) {
  const std::string type = std::is_same_v<T, float> ? "float" : "double";
  for (auto [nx, ny] : {std::pair<std::int64_t, std::int64_t>{1 << 20, 1}, {1 << 16, 16}}) {
    for (auto ph : {df::partition_hint::non_uniform, df::partition_hint::uniform}) {
      const std::string n = "construct/" + kind + "/" + type +
                            "/part:" + (ph == df::partition_hint::uniform ? "uniform" : "non_uniform") +
                            "/nx:" + std::to_string(nx) + "/ny:" + std::to_string(ny);
      benchmark::RegisterBenchmark(n.c_str(), construct<T, Kind>, ph, nx, ny)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->MinTime(0.05);
    }
  }
}

const bool registered = [] {
  register_kind<float, df::linear_spline::default_type>("linear");
  register_kind<double, df::linear_spline::default_type>("linear");
  register_kind<float, df::cubic_spline::hermite>("hermite");
  register_kind<double, df::cubic_spline::hermite>("hermite");
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
