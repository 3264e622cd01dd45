// Fitting throughput through the public interface, on the device given as
// the first argument (0 CPU, 1 GPU-class), in double: one construct per
// iteration, after one untimed construct that first touches the
// coefficient array, in (data point, function) pairs per second.
//   smoothing:      nx noisy samples per function, one given lambda
//   smoothing_gcv:  the same, each function's lambda by cross-validation
//   least_squares:  nx samples per function on 100 knots
//   least_squares_fine: the same on nx / 10 knots (a long band)
// A device the build has no back-end for skips its rows.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <exception>
#include <memory>

#include <sycl/sycl.hpp>

#include "data_fitting/data_fitting.hpp"

namespace {

namespace df = velora::qrx::experimental::data_fitting;

// Samples of ny noisy curves at nx sites in [0, 1]; kept between rows of
// the same sizes.
struct samples {
  sycl::queue q;
  std::int64_t nx, ny;
  double *x = nullptr, *y = nullptr;

  samples(sycl::queue queue, std::int64_t nx_, std::int64_t ny_) : q(std::move(queue)), nx(nx_), ny(ny_) {
    x = sycl::malloc_shared<double>(nx, q);
    y = sycl::malloc_shared<double>(nx * ny, q);
    for (std::int64_t i = 0; i < nx; ++i) x[i] = (double(i) + 0.3 * std::sin(double(i))) / double(nx - 1);
    x[0] = 0;
    x[nx - 1] = 1;
    std::uint64_t state = 88172645463325252ull;
    for (std::int64_t j = 0; j < ny; ++j) {
      for (std::int64_t i = 0; i < nx; ++i) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        const double noise = double(state >> 11) / 9007199254740992.0 - 0.5;
        y[j * nx + i] = std::sin(6.0 * x[i] + 0.1 * double(j)) + 0.2 * noise;
      }
    }
  }
  ~samples() {
    sycl::free(x, q);
    sycl::free(y, q);
  }
};

samples& samples_for(const sycl::queue& q, std::int64_t nx, std::int64_t ny) {
  static std::unique_ptr<samples> kept;
  if (!kept || kept->q.get_device() != q.get_device() || kept->nx != nx || kept->ny != ny) {
    kept.reset();
    kept = std::make_unique<samples>(q, nx, ny);
  }
  return *kept;
}

bool device_queue(benchmark::State& state, sycl::queue& q) {
  try {
    q = state.range(0) == 0 ? sycl::queue(sycl::cpu_selector_v) : sycl::queue(sycl::gpu_selector_v);
    return true;
  } catch (const sycl::exception&) {
    state.SkipWithError("no such device");
    return false;
  }
}

enum class fit { given, gcv, least_squares, least_squares_fine };

void fitting(benchmark::State& state, fit how) {
  sycl::queue q;
  if (!device_queue(state, q)) return;
  const std::int64_t ny = state.range(1), nx = state.range(2);
  samples& d = samples_for(q, nx, ny);
  const bool on_knots = how == fit::least_squares || how == fit::least_squares_fine;
  const std::int64_t knots = how == fit::least_squares_fine ? nx / 10 : 100;
  const std::int64_t cells = on_knots ? knots - 1 : nx - 1;
  double* c = sycl::malloc_shared<double>(cells * ny * 4, q);
  double* t = sycl::malloc_shared<double>(knots, q);
  double* chosen = sycl::malloc_shared<double>(ny, q);
  for (std::int64_t k = 0; k < knots; ++k) t[k] = double(k) / double(knots - 1);
  try {
    if (on_knots) {
      df::spline<double, df::cubic_spline::least_squares> s(q, ny, false);
      s.set_partitions(t, knots).set_coefficients(c).set_data(d.x, d.y, nx);
      s.construct().wait_and_throw();  // untimed: the first touch of the coefficient array
      for (auto _ : state) s.construct().wait_and_throw();
    } else {
      df::spline<double, df::cubic_spline::smoothing> s(q, ny, false);
      s.set_partitions(d.x, nx).set_function_values(d.y).set_coefficients(c);
      how == fit::gcv ? s.set_smoothing_by_gcv(chosen) : s.set_smoothing(1e-4);
      s.construct().wait_and_throw();
      for (auto _ : state) s.construct().wait_and_throw();
    }
    q.wait_and_throw();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
  state.SetItemsProcessed(state.iterations() * nx * ny);
  for (double* p : {c, t, chosen}) sycl::free(p, q);
}

void smoothing(benchmark::State& state) { fitting(state, fit::given); }
void smoothing_gcv(benchmark::State& state) { fitting(state, fit::gcv); }
void least_squares(benchmark::State& state) { fitting(state, fit::least_squares); }
void least_squares_fine(benchmark::State& state) { fitting(state, fit::least_squares_fine); }

void sizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"gpu", "ny", "nx"})
      ->ArgsProduct({{0, 1}, {1, 64}, {1000, 100000, 1000000}})
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}
// Cross-validation evaluates every function's score some 65 times: 64
// functions of 10^6 points would take minutes a row, so the largest
// partition has one function; and the target, 1000 functions of 1000 points.
void gcv_sizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"gpu", "ny", "nx"})
      ->ArgsProduct({{0, 1}, {1, 64}, {1000, 100000}})
      ->Args({0, 1, 1000000})
      ->Args({1, 1, 1000000})
      ->Args({0, 1000, 1000})
      ->Args({1, 1000, 1000})
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

BENCHMARK(smoothing)->Apply(sizes);
BENCHMARK(smoothing_gcv)->Apply(gcv_sizes);
BENCHMARK(least_squares)->Apply(sizes);
BENCHMARK(least_squares_fine)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
