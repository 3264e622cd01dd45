// Builds cubic Hermite and linear splines of two functions, sin(x) and
// sin(x) + 1, on every device the SYCL implementation offers (a GPU and a
// CPU), evaluates values and first derivatives at a few sites, prints them
// as a table and, where both devices exist, shows that they agree. (The interior first derivatives of a cubic
// Hermite spline are shared by all its functions, hence two functions with
// the same slopes.)
#include <algorithm>
#include <bitset>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include <data_fitting/data_fitting.hpp>

namespace df = velora::qrx::experimental::data_fitting;

constexpr std::int64_t nx = 9;      // breakpoints
constexpr std::int64_t ny = 2;      // functions: sin and sin + 1
constexpr std::int64_t nsites = 5;  // evaluation sites
constexpr double pi = 3.14159265358979323846;

// Evaluates one spline kind on one queue; returns ny*nsites*2 results laid
// out as (function, site, derivative order).
template <typename SplineType>
std::vector<double> evaluate(sycl::queue q) {
  // Caller-owned USM arrays: the spline only records pointers to them.
  double* x = sycl::malloc_shared<double>(2, q);  // uniform partition: the two ends
  double* y = sycl::malloc_shared<double>(nx * ny, q);
  double* dy = sycl::malloc_shared<double>(nx - 2, q);  // Hermite: interior first derivatives
  double* sites = sycl::malloc_shared<double>(nsites, q);
  double* results = sycl::malloc_shared<double>(ny * nsites * 2, q);

  x[0] = 0;
  x[1] = pi;
  for (std::int64_t i = 0; i < nx; ++i) {
    const double xi = pi * double(i) / double(nx - 1);
    y[i] = std::sin(xi);       // function 0, row major
    y[nx + i] = std::sin(xi) + 1;  // function 1
    if (i > 0 && i < nx - 1) dy[i - 1] = std::cos(xi);  // shared by both functions
  }
  for (std::int64_t s = 0; s < nsites; ++s) sites[s] = 0.3 + 0.6 * double(s);

  std::vector<double> out;
  {
    df::spline<double, SplineType, 1> spline(q, ny, false);
    double* coeffs = sycl::malloc_shared<double>(nx * ny * 4, q);
    spline.set_partitions(x, nx, df::partition_hint::uniform)
        .set_function_values(y, df::function_hint::row_major)
        .set_coefficients(coeffs, df::coefficient_hint::row_major);
    if constexpr (std::is_same_v<SplineType, df::cubic_spline::hermite>) {
      // The slopes of sin at the ends: 1 at 0, -1 at pi.
      spline.set_internal_conditions(dy)
          .set_boundary_conditions(df::bc_type::first_left_der, 1.0)
          .set_boundary_conditions(df::bc_type::first_right_der, -1.0);
    }
    sycl::event built = spline.construct();
    df::interpolate(spline, sites, nsites, results, std::bitset<32>("11"), {built},
                    df::interpolate_hint::funcs_sites_ders, df::site_hint::non_uniform);
    // Waits for the queue's work and hands its asynchronous errors, if any,
    // to the queue's handler.
    q.wait_and_throw();
    out.assign(results, results + ny * nsites * 2);
    sycl::free(coeffs, q);
  }
  for (void* p : {static_cast<void*>(x), static_cast<void*>(y), static_cast<void*>(dy), static_cast<void*>(sites),
                  static_cast<void*>(results)})
    sycl::free(p, q);
  return out;
}

// A queue on the first device `selector` finds, or nothing when the SYCL
// implementation has no such device.
template <typename Selector>
std::optional<sycl::queue> queue_on(const Selector& selector, const char* kind) {
  try {
    return sycl::queue(selector);
  } catch (const sycl::exception&) {
    std::printf("no %s device: its back-end is not run\n", kind);
    return std::nullopt;
  }
}

std::string device_name(const sycl::queue& q) { return q.get_device().get_info<sycl::info::device::name>(); }

template <typename SplineType>
void report(const char* kind, const std::vector<sycl::queue>& queues) {
  std::vector<std::vector<double>> results;
  for (const sycl::queue& q : queues) results.push_back(evaluate<SplineType>(q));

  const std::vector<double>& r = results.front();
  std::printf("\n%s spline, %s\n", kind, device_name(queues.front()).c_str());
  std::printf("%6s %10s %10s %10s %10s %12s\n", "x", "sin(x)", "s0(x)", "cos(x)", "s0'(x)", "s1(x) - 1");
  for (std::int64_t s = 0; s < nsites; ++s) {
    const double xs = 0.3 + 0.6 * double(s);
    std::printf("%6.2f %10.6f %10.6f %10.6f %10.6f %12.6f\n", xs, std::sin(xs), r[s * 2], std::cos(xs),
                r[s * 2 + 1], r[(nsites + s) * 2] - 1);
  }
  for (std::size_t d = 1; d < queues.size(); ++d) {
    double diff = 0;
    for (std::size_t i = 0; i < r.size(); ++i) diff = std::max(diff, std::abs(r[i] - results[d][i]));
    std::printf("largest difference from the %s: %.3g\n", device_name(queues[d]).c_str(), diff);
  }
}

int main() {
  std::vector<sycl::queue> queues;
  for (auto q : {queue_on(sycl::gpu_selector_v, "GPU"), queue_on(sycl::cpu_selector_v, "CPU")})
    if (q) queues.push_back(*q);
  if (queues.empty()) {
    std::printf("no GPU or CPU device: nothing to run\n");
    return 0;
  }
  report<df::cubic_spline::hermite>("cubic Hermite", queues);
  report<df::linear_spline::default_type>("linear", queues);
  return 0;
}
