// The least-squares cubic spline's GPU kernels called directly on the GPU
// device (the CPU device where there is none, as with AdaptiveCpp here):
// (data points x functions) per second, double and float, on the same data
// and sizes as bench_least_squares (the CPU kernels). Sites in random order
// over a listed partition.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include <sycl/sycl.hpp>

#include "detail/gpu/fitting/gpu_construct_1d_least_squares.hpp"

namespace {

namespace df = velora::qrx::experimental::data_fitting;
namespace detail = df::detail;

template <typename T>
std::shared_ptr<T> shared_array(const sycl::queue& q, std::int64_t n) {
  return std::shared_ptr<T>(sycl::malloc_shared<T>(static_cast<std::size_t>(n), q), [q](T* p) { sycl::free(p, q); });
}

// range(0) data points, range(1) functions (row-major), range(2) knots.
template <typename T>
void BM_GpuLeastSquares(benchmark::State& state) {
  const std::int64_t ndata = state.range(0), ny = state.range(1), nx = state.range(2);
  const bool gpu = !sycl::device::get_devices(sycl::info::device_type::gpu).empty();
  sycl::queue q = gpu ? sycl::queue(sycl::gpu_selector_v) : sycl::queue(sycl::cpu_selector_v);
  auto knots = shared_array<T>(q, nx), x = shared_array<T>(q, ndata), y = shared_array<T>(q, ndata * ny);
  auto coeffs = shared_array<T>(q, 4 * (nx - 1) * ny);
  auto cell = shared_array<T*>(q, 1);
  auto fault = std::shared_ptr<std::int32_t>(sycl::malloc_host<std::int32_t>(1, q), [q](std::int32_t* p) {
    sycl::free(p, q);
  });
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.1);
  double at = 0.0;
  for (std::int64_t k = 0; k < nx; ++k) knots.get()[k] = static_cast<T>(at += 0.5 + u(rng));
  for (std::int64_t i = 0; i < ndata; ++i) {
    x.get()[i] = static_cast<T>(knots.get()[0] + (knots.get()[nx - 1] - knots.get()[0]) * u(rng));
  }
  for (std::int64_t j = 0; j < ny; ++j) {
    for (std::int64_t i = 0; i < ndata; ++i) {
      y.get()[j * ndata + i] = static_cast<T>(std::sin(0.1 * x.get()[i] + j) + noise(rng));
    }
  }
  cell.get()[0] = coeffs.get();
  const detail::construct_args<T> spline{nx, ny, knots.get(), nullptr, cell.get(), nullptr, nullptr, T(0), T(0)};
  detail::kept_until_complete kept;
  for (auto _ : state) {
    *fault = 0;
    detail::gpu_construct_1d_least_squares<T, df::partition_hint::non_uniform, df::function_hint::row_major>(
        q, spline, x.get(), y.get(), ndata, nullptr, fault.get(), kept, {});
    q.wait();
    if (*fault != 0) {
      state.SkipWithError("least squares");
      break;
    }
    benchmark::DoNotOptimize(coeffs.get());
  }
  state.SetItemsProcessed(state.iterations() * ndata * ny);
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Args({100000, 64, 100});
  b->Args({1000000, 1, 1000});
  b->Args({100000, 1, 100});
}

BENCHMARK_TEMPLATE(BM_GpuLeastSquares, double)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_GpuLeastSquares, float)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
