// integrate and solve throughput through the public interface, on the
// device given as the first argument (0 CPU, 1 GPU-class): natural cubic
// splines of double on non-uniform partitions of nx breakpoints with ny
// functions, 2^20 (function, interval) or (function, level) pairs a call.
//   integrate:       random intervals inside the partition, in pairs/s
//   solve_inverse:   a monotone spline, max_roots = 1, in levels/s
//   solve_general:   two periods of a sine per function, max_roots = 4
//                    (four roots for most levels), in levels/s
// Each call reuses the table the first call after the construction built
// (that call comes before the timed loop). The *_with_table rows supply the
// coefficients instead, so every call builds its own table too.
// A device the build has no back-end for ("not available") skips its rows.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <exception>
#include <memory>
#include <random>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/data_fitting.hpp"

namespace {

namespace df = velora::qrx::experimental::data_fitting;
using natural = df::cubic_spline::natural;

constexpr std::int64_t pairs_per_call = std::int64_t(1) << 20;
constexpr double pi = 3.14159265358979323846;

enum class shape { monotone, oscillating };

// One spline's arrays and its constructed coefficients; kept between rows of
// the same sizes, since constructing 64 functions of 10^6 breakpoints takes
// longer than the rows themselves.
struct spline_arrays {
  sycl::queue q;
  std::int64_t nx, ny;
  shape form;
  double *x = nullptr, *y = nullptr, *c = nullptr;

  spline_arrays(sycl::queue queue, std::int64_t nx_, std::int64_t ny_, shape f)
      : q(std::move(queue)), nx(nx_), ny(ny_), form(f) {
    x = sycl::malloc_shared<double>(nx, q);
    y = sycl::malloc_shared<double>(nx * ny, q);
    c = sycl::malloc_shared<double>((nx - 1) * ny * 4, q);
    for (std::int64_t i = 0; i < nx; ++i) x[i] = double(i) + 0.25 * std::sin(double(i));  // increasing
    const double width = x[nx - 1] - x[0];
    for (std::int64_t j = 0; j < ny; ++j) {
      for (std::int64_t i = 0; i < nx; ++i) {
        const double u = (x[i] - x[0]) / width;  // 0 .. 1
        y[j * nx + i] = f == shape::monotone ? u + 0.1 * u * u * double(j % 3)
                                             : std::sin(4 * pi * u + 0.1 * double(j));
      }
    }
    df::spline<double, natural, 1> s(q, ny, false);
    s.set_partitions(x, nx).set_function_values(y).set_coefficients(c);
    s.set_boundary_conditions(df::bc_type::free_end, 0.0);
    s.construct();
    q.wait_and_throw();
  }
  ~spline_arrays() {
    for (double* p : {x, y, c}) sycl::free(p, q);
  }
  bool fits(const sycl::queue& other, std::int64_t nx_, std::int64_t ny_, shape f) const {
    return q.get_device() == other.get_device() && nx == nx_ && ny == ny_ && form == f;
  }
};

spline_arrays& arrays_for(const sycl::queue& q, std::int64_t nx, std::int64_t ny, shape form) {
  static std::unique_ptr<spline_arrays> kept;
  if (!kept || !kept->fits(q, nx, ny, form)) {
    kept.reset();  // one set at a time: the largest takes gigabytes
    kept = std::make_unique<spline_arrays>(q, nx, ny, form);
  }
  return *kept;
}

// The device of argument 0; false (the row skipped) where there is none.
bool device_queue(benchmark::State& state, sycl::queue& q) {
  try {
    q = state.range(0) == 0 ? sycl::queue(sycl::cpu_selector_v) : sycl::queue(sycl::gpu_selector_v);
    return true;
  } catch (const sycl::exception&) {
    state.SkipWithError("no such device");
    return false;
  }
}

// Runs call() once untimed (it builds the table), then in the timed loop;
// skips the row when the back-end says "not available".
template <typename Call>
void run(benchmark::State& state, sycl::queue& q, Call&& call) {
  try {
    call();
    q.wait_and_throw();
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  for (auto _ : state) {
    call();
    q.wait_and_throw();
  }
}

void calculus(benchmark::State& state, bool solving, shape form, std::int64_t max_roots, bool with_table) {
  sycl::queue q;
  if (!device_queue(state, q)) return;
  const std::int64_t ny = state.range(1), nx = state.range(2);
  const std::int64_t n = pairs_per_call / ny;
  spline_arrays& a = arrays_for(q, nx, ny, form);
  // Supplied coefficients: every call builds its own table.
  df::spline<double, natural, 1> s(q, ny, with_table);
  s.set_partitions(a.x, nx).set_function_values(a.y).set_coefficients(a.c);
  s.set_boundary_conditions(df::bc_type::free_end, 0.0);
  s.construct();
  q.wait_and_throw();

  std::mt19937_64 gen(7);
  double* first = sycl::malloc_shared<double>(n, q);
  double* second = sycl::malloc_shared<double>(n, q);
  double* results = sycl::malloc_shared<double>(n * ny * (max_roots > 0 ? max_roots : 1), q);
  std::int64_t* counts = sycl::malloc_shared<std::int64_t>(n * ny, q);
  if (solving) {
    // Levels inside every function's range.
    std::uniform_real_distribution<double> level(form == shape::monotone ? 0.01 : -0.9,
                                                 form == shape::monotone ? 0.99 : 0.9);
    for (std::int64_t i = 0; i < n; ++i) first[i] = level(gen);
    run(state, q, [&] { df::solve(s, first, n, results, counts, max_roots); });
  } else {
    std::uniform_real_distribution<double> site(a.x[0], a.x[nx - 1]);
    for (std::int64_t i = 0; i < n; ++i) {
      first[i] = site(gen);
      second[i] = site(gen);
    }
    run(state, q, [&] { df::integrate(s, first, second, n, results); });
  }
  state.SetItemsProcessed(state.iterations() * n * ny);
  for (void* p : {static_cast<void*>(first), static_cast<void*>(second), static_cast<void*>(results),
                  static_cast<void*>(counts)}) {
    sycl::free(p, q);
  }
}

void integrate(benchmark::State& state) { calculus(state, false, shape::monotone, 0, false); }
void solve_inverse(benchmark::State& state) { calculus(state, true, shape::monotone, 1, false); }
void solve_general(benchmark::State& state) { calculus(state, true, shape::oscillating, 4, false); }
void integrate_with_table(benchmark::State& state) { calculus(state, false, shape::monotone, 0, true); }
void solve_with_table(benchmark::State& state) { calculus(state, true, shape::oscillating, 4, true); }

void sizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"gpu", "ny", "nx"})
      ->ArgsProduct({{1, 0}, {1, 64}, {10000, 1000000}})
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}
void one_size(benchmark::internal::Benchmark* b) {
  b->ArgNames({"gpu", "ny", "nx"})
      ->Args({1, 1, 1000000})
      ->Args({0, 1, 1000000})
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

// Rows of one spline shape follow each other, so that each set of arrays
// is built once.
BENCHMARK(integrate)->Apply(sizes);
BENCHMARK(solve_inverse)->Apply(sizes);
BENCHMARK(integrate_with_table)->Apply(one_size);
BENCHMARK(solve_general)->Apply(sizes);
BENCHMARK(solve_with_table)->Apply(one_size);

}  // namespace

BENCHMARK_MAIN();
