// One spline object holds many functions over one partition: here 500
// functions sampled at the same 201 breakpoints, fitted by the natural cubic
// spline in one construct call and evaluated at 10,000 sites in one
// interpolate call (5 million results). This is how to use the library for
// many curves at once: one call per step, not one per function.
//
// Function j is a_j sin(k_j x) + b_j + c_j x on [0, pi], k_j from 1 to 5. Its
// second derivative is zero at both ends, which is what the natural
// spline's free ends assume, so the error is the spline's interior error
// (of order h^4). The program prints the largest error against the exact
// functions and the time taken, and exits 1 if the error exceeds 1e-5.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>

#include <sycl/sycl.hpp>

#include <data_fitting/data_fitting.hpp>

namespace df = velora::qrx::experimental::data_fitting;

constexpr std::int64_t nx = 201;       // breakpoints
constexpr std::int64_t ny = 500;       // functions
constexpr std::int64_t nsites = 10000;  // sites
constexpr double pi = 3.14159265358979323846;
constexpr double tolerance = 1e-5;

// Function j at x.
double f(std::int64_t j, double x) {
  const double a = 1 + double(j) / ny;
  const double k = double(1 + j % 5);
  const double b = 0.01 * double(j);
  const double c = 0.1 * double(j % 7) - 0.3;
  return a * std::sin(k * x) + b + c * x;
}

sycl::queue first_queue() {
  try {
    return sycl::queue(sycl::gpu_selector_v);
  } catch (const sycl::exception&) {
    return sycl::queue(sycl::cpu_selector_v);
  }
}

int main() {
  sycl::queue q = first_queue();
  double* x = sycl::malloc_shared<double>(2, q);  // uniform partition: the two ends
  double* y = sycl::malloc_shared<double>(nx * ny, q);
  double* coeffs = sycl::malloc_shared<double>((nx - 1) * ny * 4, q);
  double* sites = sycl::malloc_shared<double>(nsites, q);
  double* results = sycl::malloc_shared<double>(ny * nsites, q);

  x[0] = 0;
  x[1] = pi;
  // Row major: the nx values of function j are y[j*nx .. j*nx + nx - 1].
  for (std::int64_t j = 0; j < ny; ++j)
    for (std::int64_t i = 0; i < nx; ++i) y[j * nx + i] = f(j, pi * double(i) / double(nx - 1));
  // Sites at random, in no order: site_hint::non_uniform takes them as they come.
  std::mt19937_64 random(2024);
  std::uniform_real_distribution<double> anywhere(0.0, pi);
  for (std::int64_t s = 0; s < nsites; ++s) sites[s] = anywhere(random);

  double seconds = 0;
  {
    df::spline<double, df::cubic_spline::natural, 1> spline(q, ny, false);
    spline.set_partitions(x, nx, df::partition_hint::uniform)
        .set_function_values(y, df::function_hint::row_major)
        .set_coefficients(coeffs);

    const auto start = std::chrono::steady_clock::now();
    sycl::event built = spline.construct();
    df::interpolate(spline, sites, nsites, results, {built}, df::interpolate_hint::funcs_sites_ders,
                    df::site_hint::non_uniform);  // values only
    q.wait_and_throw();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  // funcs_sites_ders with values only: function j at site s is results[j*nsites + s].
  double worst = 0;
  std::int64_t worst_function = 0;
  for (std::int64_t j = 0; j < ny; ++j)
    for (std::int64_t s = 0; s < nsites; ++s) {
      double e = std::abs(results[j * nsites + s] - f(j, sites[s]));
      if (std::isnan(e)) e = HUGE_VAL;  // a NaN result counts as the worst
      if (e > worst) {
        worst = e;
        worst_function = j;
      }
    }
  for (double* p : {x, y, coeffs, sites, results}) sycl::free(p, q);

  std::printf("%lld functions, %lld breakpoints, %lld sites on %s\n", static_cast<long long>(ny),
              static_cast<long long>(nx), static_cast<long long>(nsites),
              q.get_device().get_info<sycl::info::device::name>().c_str());
  std::printf("construct and interpolate took %.1f ms (%.1f million results per second)\n", seconds * 1e3,
              double(ny * nsites) / seconds * 1e-6);
  std::printf("largest error %.3g, in function %lld\n", worst, static_cast<long long>(worst_function));
  if (!(worst <= tolerance)) {
    std::printf("many_functions: FAILED: the largest error exceeds %g\n", tolerance);
    return 1;
  }
  std::printf("many_functions: all %lld values within %g of the exact functions\n",
              static_cast<long long>(ny * nsites), tolerance);
  return 0;
}
