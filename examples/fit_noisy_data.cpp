// Curves through noisy measurements, on the first device found (a GPU, else
// the CPU):
//  - 64 noisy series of 400 samples each, smoothed at once, each with its
//    own smoothing parameter chosen by generalised cross-validation;
//  - the same samples fitted by a least-squares spline on 10 knots.
// Both fits must lie closer to the true curves than the samples do.
//
//   fit_noisy_data [--csv DIR]   also write DIR/fit_noisy_data.csv
//                                (x,truth,smoothing,least_squares) and
//                                DIR/fit_noisy_data_samples.csv (x,y) for
//                                the first series, for a plotting script
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
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

// Series j's true curve.
double truth(std::int64_t j, double x) { return std::sin(x + 0.1 * double(j)) + 0.3 * std::cos(2.7 * x) + 0.05 * x; }

// Gaussian noise from a fixed seed, the same with every standard library.
class noise {
 public:
  explicit noise(double sigma) : sigma_(sigma) {}
  double operator()() {
    const double u = (double(rng_()) + 0.5) / 4294967296.0, v = (double(rng_()) + 0.5) / 4294967296.0;
    return sigma_ * std::sqrt(-2 * std::log(u)) * std::cos(6.283185307179586 * v);
  }

 private:
  std::mt19937 rng_{2026};
  double sigma_;
};

int main(int argc, char** argv) {
  std::string csv_dir;
  if (argc == 3 && std::string(argv[1]) == "--csv") {
    csv_dir = argv[2];
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: %s [--csv DIR]\n", argv[0]);
    return 2;
  }
  sycl::queue q = first_queue();
  constexpr std::int64_t nx = 400, ny = 64, knots = 10, sites = 1000;
  const double a = 0, b = 10;

  // The samples: one partition of sites shared by every series.
  double* x = sycl::malloc_shared<double>(nx, q);
  double* y = sycl::malloc_shared<double>(nx * ny, q);
  double* t = sycl::malloc_shared<double>(knots, q);
  double* smooth_coeffs = sycl::malloc_shared<double>((nx - 1) * ny * 4, q);
  double* fit_coeffs = sycl::malloc_shared<double>((knots - 1) * ny * 4, q);
  double* chosen = sycl::malloc_shared<double>(ny, q);
  double* at = sycl::malloc_shared<double>(sites, q);
  double* smooth = sycl::malloc_shared<double>(sites * ny, q);
  double* fitted = sycl::malloc_shared<double>(sites * ny, q);
  noise error(0.25);
  for (std::int64_t i = 0; i < nx; ++i) x[i] = a + (b - a) * (double(i) + 0.5 * std::sin(double(i))) / double(nx);
  x[0] = a;
  x[nx - 1] = b;
  for (std::int64_t j = 0; j < ny; ++j)
    for (std::int64_t i = 0; i < nx; ++i) y[j * nx + i] = truth(j, x[i]) + error();
  for (std::int64_t k = 0; k < knots; ++k) t[k] = a + (b - a) * double(k) / double(knots - 1);
  for (std::int64_t s = 0; s < sites; ++s) at[s] = a + (b - a) * double(s) / double(sites - 1);

  {
    // Smoothing: the samples' sites are the breakpoints; each series gets
    // the parameter that cross-validation prefers.
    df::spline<double, df::cubic_spline::smoothing> smoothing(q, ny, false);
    smoothing.set_partitions(x, nx).set_function_values(y).set_coefficients(smooth_coeffs);
    smoothing.set_smoothing_by_gcv(chosen);
    smoothing.construct();

    // Least squares: 10 knots, the same samples as data.
    df::spline<double, df::cubic_spline::least_squares> least_squares(q, ny, false);
    least_squares.set_partitions(t, knots).set_coefficients(fit_coeffs);
    least_squares.set_data(x, y, nx);
    least_squares.construct();

    // Evaluations run after their spline's construction by themselves.
    df::interpolate(smoothing, at, sites, smooth);
    df::interpolate(least_squares, at, sites, fitted);
    q.wait_and_throw();
  }

  // Root-mean-square distances from the true curves, over all series.
  double data_error = 0, smooth_error = 0, fit_error = 0, smallest = chosen[0], largest = chosen[0];
  for (std::int64_t j = 0; j < ny; ++j) {
    for (std::int64_t i = 0; i < nx; ++i) data_error += std::pow(y[j * nx + i] - truth(j, x[i]), 2);
    for (std::int64_t s = 0; s < sites; ++s) {
      smooth_error += std::pow(smooth[j * sites + s] - truth(j, at[s]), 2);
      fit_error += std::pow(fitted[j * sites + s] - truth(j, at[s]), 2);
    }
    smallest = std::fmin(smallest, chosen[j]);
    largest = std::fmax(largest, chosen[j]);
  }
  data_error = std::sqrt(data_error / double(nx * ny));
  smooth_error = std::sqrt(smooth_error / double(sites * ny));
  fit_error = std::sqrt(fit_error / double(sites * ny));
  std::printf("%lld series of %lld samples, noise 0.25\n", (long long)ny, (long long)nx);
  std::printf("rms distance from the true curves: samples %.4f, smoothing %.4f, least squares on %lld knots %.4f\n",
              data_error, smooth_error, (long long)knots, fit_error);
  std::printf("smoothing parameters chosen by cross-validation: %.3g to %.3g\n", smallest, largest);

  bool ok = smooth_error < 0.5 * data_error && fit_error < 0.5 * data_error && smallest > 0;
  if (!csv_dir.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(csv_dir, ignored);
    std::ofstream samples(csv_dir + "/fit_noisy_data_samples.csv");
    samples << "x,y\n";
    for (std::int64_t i = 0; i < nx; ++i) samples << x[i] << ',' << y[i] << '\n';
    std::ofstream curves(csv_dir + "/fit_noisy_data.csv");
    curves << "x,truth,smoothing,least_squares\n";
    for (std::int64_t s = 0; s < sites; ++s)
      curves << at[s] << ',' << truth(0, at[s]) << ',' << smooth[s] << ',' << fitted[s] << '\n';
    if (!samples || !curves) {
      std::printf("fit_noisy_data: FAILED: cannot write the CSV files to %s\n", csv_dir.c_str());
      ok = false;
    }
  }
  for (double* p : {x, y, t, smooth_coeffs, fit_coeffs, chosen, at, smooth, fitted}) sycl::free(p, q);
  if (!ok) {
    std::printf("fit_noisy_data: a check failed\n");
    return 1;
  }
  std::printf("fit_noisy_data: both fits are closer to the true curves than the samples\n");
  return 0;
}
