// Smoothing cubic spline kernels called directly: (points x functions)
// per second for a given lambda and for lambda chosen by generalised
// cross-validation, on the service threader (every core the process may
// run on), double and float.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "qrx_df_kernels/df_kernels.h"
#include "qrx_lumo_thread/threader.h"

namespace {

const qrx_df_threader_entries service_entries{
    &qrx_df_serv_threader_for, &qrx_df_serv_threader_for_ordered, &qrx_df_serv_threader_sections,
    &qrx_df_serv_threader_ordered, &qrx_df_serv_threader_get_num_threads_limit};
const qrx_df_threader_block threaded{{service_entries, service_entries, service_entries}};

template <typename T>
struct entry;
template <>
struct entry<double> {
  static constexpr auto new_task = &qrx_df_kernel_dNewTask1D;
  static constexpr auto edit = &qrx_df_kernel_dEditPPSpline1D;
  static constexpr auto smooth = &qrx_df_kernel_dDFSmoothingCubicSpline1D;
};
template <>
struct entry<float> {
  static constexpr auto new_task = &qrx_df_kernel_sNewTask1D;
  static constexpr auto edit = &qrx_df_kernel_sEditPPSpline1D;
  static constexpr auto smooth = &qrx_df_kernel_sDFSmoothingCubicSpline1D;
};

// range(0) points on a listed partition, range(1) noisy functions;
// lambda < 0 chooses by cross-validation.
template <typename T>
void BM_Smoothing(benchmark::State& state, T lambda) {
  const std::int64_t nx = state.range(0), ny = state.range(1);
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(0.5, 1.5);
  std::normal_distribution<double> noise(0.0, 0.1);
  std::vector<T> x(static_cast<std::size_t>(nx)), y(static_cast<std::size_t>(nx * ny));
  double at = 0.0;
  for (auto& v : x) v = static_cast<T>(at += u(rng) / static_cast<double>(nx));
  for (std::int64_t j = 0; j < ny; ++j) {
    for (std::int64_t i = 0; i < nx; ++i) {
      y[static_cast<std::size_t>(j * nx + i)] = static_cast<T>(std::sin(6.0 * x[i] + j) + noise(rng));
    }
  }
  std::vector<T> coeffs(static_cast<std::size_t>(4 * (nx - 1) * ny)), chosen(static_cast<std::size_t>(ny));
  qrx_df_task* task = nullptr;
  if (entry<T>::new_task(&task, nx, x.data(), QRX_DF_PARTITION_NON_UNIFORM, ny, y.data(), QRX_DF_FUNCTIONS_ROW_MAJOR,
                         1) != 0 ||
      entry<T>::edit(task, QRX_DF_ORDER_CUBIC, QRX_DF_CUBIC_SMOOTHING, 0, nullptr, 0, nullptr, coeffs.data(),
                     QRX_DF_COEFFS_ROW_MAJOR) != 0) {
    state.SkipWithError("task");
    return;
  }
  for (auto _ : state) {
    if (entry<T>::smooth(task, nullptr, lambda, chosen.data(), &threaded) != 0) {
      state.SkipWithError("smoothing");
      break;
    }
    benchmark::DoNotOptimize(coeffs.data());
  }
  qrx_df_kernel_DeleteTask(&task);
  state.SetItemsProcessed(state.iterations() * nx * ny);
}

void sizes(benchmark::internal::Benchmark* b) {
  for (std::int64_t nx : {1000, 100000, 1000000}) {
    for (std::int64_t ny : {1, 64}) b->Args({nx, ny});
  }
}

BENCHMARK_CAPTURE(BM_Smoothing, given_double, 1e-6)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Smoothing, given_float, 1e-6f)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Smoothing, gcv_double, -1.0)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
// The target case: 1000 functions of 1000 points.
BENCHMARK_CAPTURE(BM_Smoothing, gcv_double, -1.0)->Args({1000, 1000})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
