// Integrals and inverses of fitted curves, on the first device found (a GPU,
// else the CPU):
//  - the area under a natural spline through 41 samples of sin on [0, pi],
//    and under its first half, against the exact areas 2 and 1;
//  - a calibration curve: a sensor's reading at 11 known temperatures,
//    falling with temperature, fitted with a monotone PCHIP spline; solve
//    turns readings back into temperatures (the inverse function, one root
//    per reading), checked by evaluating the spline there and against the
//    exact inverse of the sensor's law.
#include <cmath>
#include <cstdio>
#include <vector>

#include <sycl/sycl.hpp>

#include <data_fitting/data_fitting.hpp>

namespace df = velora::qrx::experimental::data_fitting;

sycl::queue first_queue() {
  try {
    return sycl::queue(sycl::gpu_selector_v);
  } catch (const sycl::exception&) {
    return sycl::queue(sycl::cpu_selector_v);
  }
}

// The sensor's reading at temperature t (degrees): falls from 1 at 0.
double reading(double t) { return std::exp(-0.035 * t); }
double temperature(double r) { return -std::log(r) / 0.035; }

int main() {
  sycl::queue q = first_queue();
  const double pi = std::acos(-1.0);
  bool ok = true;

  // The area under a fitted curve.
  {
    constexpr std::int64_t nx = 41;
    double* x = sycl::malloc_shared<double>(nx, q);
    double* y = sycl::malloc_shared<double>(nx, q);
    double* coeffs = sycl::malloc_shared<double>((nx - 1) * 4, q);
    double* bounds = sycl::malloc_shared<double>(4, q);
    double* areas = sycl::malloc_shared<double>(2, q);
    for (std::int64_t i = 0; i < nx; ++i) {
      x[i] = pi * double(i) / double(nx - 1);
      y[i] = std::sin(x[i]);
    }
    bounds[0] = 0;  // lower bounds
    bounds[1] = 0;
    bounds[2] = pi;  // upper bounds
    bounds[3] = pi / 2;
    {
      df::spline<double, df::cubic_spline::natural> spline(q, 1, false);
      spline.set_partitions(x, nx).set_function_values(y).set_coefficients(coeffs);
      spline.construct();
      // Runs after the construction by itself.
      df::integrate(spline, bounds, bounds + 2, 2, areas).wait_and_throw();
    }
    std::printf("area under sin on [0, pi]:   %.9f (exact 2)\n", areas[0]);
    std::printf("area under sin on [0, pi/2]: %.9f (exact 1)\n", areas[1]);
    ok = ok && std::fabs(areas[0] - 2) < 1e-5 && std::fabs(areas[1] - 1) < 1e-5;
    for (double* p : {x, y, coeffs, bounds, areas}) sycl::free(p, q);
  }

  // The inverse of a calibration curve.
  {
    constexpr std::int64_t nx = 11;
    constexpr std::int64_t n = 5;
    double* t = sycl::malloc_shared<double>(nx, q);
    double* r = sycl::malloc_shared<double>(nx, q);
    double* coeffs = sycl::malloc_shared<double>((nx - 1) * 4, q);
    double* readings = sycl::malloc_shared<double>(n, q);
    double* found = sycl::malloc_shared<double>(n, q);
    double* check = sycl::malloc_shared<double>(n, q);
    std::int64_t* counts = sycl::malloc_shared<std::int64_t>(n, q);
    for (std::int64_t i = 0; i < nx; ++i) {
      t[i] = 10.0 * double(i);  // calibrated at 0, 10, ..., 100 degrees
      r[i] = reading(t[i]);
    }
    const double measured[n] = {0.95, 0.8, 0.5, 0.25, 0.02};  // the last is below the calibrated range
    for (std::int64_t i = 0; i < n; ++i) readings[i] = measured[i];
    {
      df::spline<double, df::cubic_spline::pchip> curve(q, 1, false);
      curve.set_partitions(t, nx).set_function_values(r).set_coefficients(coeffs);
      curve.construct();
      const sycl::event solved = df::solve(curve, readings, n, found, counts, 1);
      df::interpolate(curve, found, n - 1, check, {solved}).wait_and_throw();
    }
    std::printf("reading  temperature  exact   spline there\n");
    for (std::int64_t i = 0; i < n; ++i) {
      if (counts[i] == 0) {
        std::printf("%7.3f  outside the calibrated range\n", readings[i]);
        ok = ok && readings[i] < reading(100.0);
        continue;
      }
      std::printf("%7.3f  %11.4f  %6.3f  %.6f\n", readings[i], found[i], temperature(readings[i]), check[i]);
      ok = ok && counts[i] == 1 && std::fabs(check[i] - readings[i]) < 1e-12 &&
           std::fabs(found[i] - temperature(readings[i])) < 0.2;
    }
    for (void* p : {static_cast<void*>(t), static_cast<void*>(r), static_cast<void*>(coeffs),
                    static_cast<void*>(readings), static_cast<void*>(found), static_cast<void*>(check),
                    static_cast<void*>(counts)}) {
      sycl::free(p, q);
    }
  }

  if (!ok) {
    std::printf("calculus: a check failed\n");
    return 1;
  }
  std::printf("calculus: areas and inverse temperatures agree with the exact ones\n");
  return 0;
}
