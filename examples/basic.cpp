// A first spline: three functions given by their values at five
// breakpoints, joined by straight lines. The program builds the linear
// spline, evaluates the values and first derivatives of all three functions
// at a few sites in one call, prints them beside the exact values and exits
// 1 if any differs.
//
// The functions are straight lines between the breakpoints, so the linear
// spline reproduces them and their slopes exactly (up to rounding):
//   f0(x) = 2x + 1,  f1(x) = 3 - x,  f2(x) = |x - 2|  (a kink at the breakpoint 2)
#include <bitset>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include <sycl/sycl.hpp>

#include <data_fitting/data_fitting.hpp>

namespace df = velora::qrx::experimental::data_fitting;

constexpr std::int64_t nx = 5;      // breakpoints 0, 1, 2, 3, 4
constexpr std::int64_t ny = 3;      // functions
constexpr std::int64_t nsites = 4;  // evaluation sites

// The exact value (order 0) or slope (order 1) of function f at x.
double exact(std::int64_t f, double x, int order) {
  switch (f) {
    case 0: return order == 0 ? 2 * x + 1 : 2;
    case 1: return order == 0 ? 3 - x : -1;
    default: return order == 0 ? std::abs(x - 2) : (x < 2 ? -1 : 1);
  }
}

// A queue on a GPU if there is one, else on the CPU.
sycl::queue first_queue() {
  try {
    return sycl::queue(sycl::gpu_selector_v);
  } catch (const sycl::exception&) {
    return sycl::queue(sycl::cpu_selector_v);
  }
}

int main() {
  sycl::queue q = first_queue();

  // The spline reads its inputs where they are and writes its results in
  // place, so every array is USM memory that both host and device can reach.
  double* x = sycl::malloc_shared<double>(nx, q);
  double* y = sycl::malloc_shared<double>(nx * ny, q);
  double* sites = sycl::malloc_shared<double>(nsites, q);
  double* results = sycl::malloc_shared<double>(ny * nsites * 2, q);  // 2: value and first derivative

  for (std::int64_t i = 0; i < nx; ++i) {
    x[i] = double(i);
    for (std::int64_t f = 0; f < ny; ++f) y[f * nx + i] = exact(f, x[i], 0);  // function f's row
  }
  const double site_values[nsites] = {0.5, 1.25, 2.5, 3.75};  // between breakpoints, where slopes are defined
  for (std::int64_t s = 0; s < nsites; ++s) sites[s] = site_values[s];

  double* c = nullptr;
  {
    // ny functions, coefficients to be computed by construct (false).
    df::spline<double, df::linear_spline::default_type, 1> s(q, ny, false);
    // Once the partition is known, the spline says how much room its
    // coefficients need: 2 per cell and function for a linear spline.
    s.set_partitions(x, nx);
    c = sycl::malloc_shared<double>(std::size_t(s.get_required_coeffs_size()), q);
    s.set_function_values(y).set_coefficients(c);

    // Both calls only submit work and return its event. interpolate must not
    // start before construct has finished, so the construct event is its
    // dependency.
    sycl::event built = s.construct();
    df::interpolate(s, sites, nsites, results, std::bitset<32>("11"),  // bit 0: values, bit 1: first derivatives
                    {built}, df::interpolate_hint::funcs_sites_ders, df::site_hint::non_uniform);
    q.wait_and_throw();  // waits, and hands asynchronous errors to the queue's handler
  }  // the spline is gone (its destructor waits for its work) before its arrays are freed

  // funcs_sites_ders: the derivative of order d of function f at site s is
  // results[(f*nsites + s)*2 + d].
  double worst = 0;
  std::printf("%8s %6s %10s %10s %10s %10s\n", "function", "x", "value", "exact", "slope", "exact");
  for (std::int64_t f = 0; f < ny; ++f) {
    for (std::int64_t s = 0; s < nsites; ++s) {
      const double value = results[(f * nsites + s) * 2 + 0];
      const double slope = results[(f * nsites + s) * 2 + 1];
      std::printf("%8lld %6.2f %10.4f %10.4f %10.4f %10.4f\n", static_cast<long long>(f), sites[s], value,
                  exact(f, sites[s], 0), slope, exact(f, sites[s], 1));
      worst = std::fmax(worst, std::fmax(std::abs(value - exact(f, sites[s], 0)),
                                         std::abs(slope - exact(f, sites[s], 1))));
    }
  }

  for (double* p : {x, y, sites, results, c}) sycl::free(p, q);

  // NaN compares false, so a NaN result fails the check too.
  if (!(worst <= 1e-12)) {
    std::printf("basic: FAILED: a result differs from the exact value by %.3g\n", worst);
    return 1;
  }
  std::printf("basic: results agree with the exact values (largest difference %.3g)\n", worst);
  return 0;
}
