// Least-squares cubic spline kernels called directly: (data points x
// functions) per second on the service threader (every core the process may
// run on), double and float. Sites in random order over a listed partition.

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
  static constexpr auto fit = &qrx_df_kernel_dDFLeastSquaresCubicSpline1D;
};
template <>
struct entry<float> {
  static constexpr auto new_task = &qrx_df_kernel_sNewTask1D;
  static constexpr auto edit = &qrx_df_kernel_sEditPPSpline1D;
  static constexpr auto fit = &qrx_df_kernel_sDFLeastSquaresCubicSpline1D;
};

// range(0) data points, range(1) functions (row-major), range(2) knots.
template <typename T>
void BM_LeastSquares(benchmark::State& state) {
  const std::int64_t ndata = state.range(0), ny = state.range(1), nx = state.range(2);
  std::mt19937 rng(1);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> noise(0.0, 0.1);
  std::vector<T> knots(static_cast<std::size_t>(nx)), x(static_cast<std::size_t>(ndata));
  std::vector<T> y(static_cast<std::size_t>(ndata * ny));
  double at = 0.0;
  for (auto& k : knots) k = static_cast<T>(at += 0.5 + u(rng));
  for (auto& v : x) v = static_cast<T>(knots.front() + (knots.back() - knots.front()) * u(rng));
  for (std::int64_t j = 0; j < ny; ++j) {
    for (std::int64_t i = 0; i < ndata; ++i) {
      y[static_cast<std::size_t>(j * ndata + i)] = static_cast<T>(std::sin(0.1 * x[i] + j) + noise(rng));
    }
  }
  std::vector<T> coeffs(static_cast<std::size_t>(4 * (nx - 1) * ny));
  qrx_df_task* task = nullptr;
  if (entry<T>::new_task(&task, nx, knots.data(), QRX_DF_PARTITION_NON_UNIFORM, ny, nullptr,
                         QRX_DF_FUNCTIONS_ROW_MAJOR, 1) != 0 ||
      entry<T>::edit(task, QRX_DF_ORDER_CUBIC, QRX_DF_CUBIC_LEAST_SQUARES, 0, nullptr, 0, nullptr, coeffs.data(),
                     QRX_DF_COEFFS_ROW_MAJOR) != 0) {
    state.SkipWithError("task");
    return;
  }
  for (auto _ : state) {
    if (entry<T>::fit(task, x.data(), y.data(), ndata, QRX_DF_FUNCTIONS_ROW_MAJOR, nullptr, &threaded) != 0) {
      state.SkipWithError("least squares");
      break;
    }
    benchmark::DoNotOptimize(coeffs.data());
  }
  qrx_df_kernel_DeleteTask(&task);
  state.SetItemsProcessed(state.iterations() * ndata * ny);
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Args({100000, 64, 100});
  b->Args({1000000, 1, 1000});
  b->Args({100000, 1, 100});
}

BENCHMARK_TEMPLATE(BM_LeastSquares, double)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_LeastSquares, float)->Apply(sizes)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
