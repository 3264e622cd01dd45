// Data with a step, fitted by every cubic kind that needs only the values:
// the natural spline overshoots on both sides of the step, Akima and Bessel
// less, and Hyman's monotone spline not at all. Prints each kind's values
// at a few sites around the step and its largest overshoot, on the first
// device found (a GPU, else the CPU). Exits 1 if the Hyman spline leaves the
// range of the data.
#include <algorithm>
#include <bitset>
#include <cstdio>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include <data_fitting/data_fitting.hpp>

namespace df = velora::qrx::experimental::data_fitting;

constexpr std::int64_t nx = 12;
constexpr std::int64_t nsites = 221;  // every 0.05 on [0, 11]

// Values of the spline of kind SplineType through (i, step(i)) at the sites.
template <typename SplineType>
std::vector<double> fit(sycl::queue& q, const double* x, const double* y, const double* sites) {
  double* coeffs = sycl::malloc_shared<double>((nx - 1) * 4, q);
  double* results = sycl::malloc_shared<double>(nsites, q);
  std::vector<double> out;
  {
    df::spline<double, SplineType, 1> spline(q, 1, false);
    spline.set_partitions(const_cast<double*>(x), nx)
        .set_function_values(const_cast<double*>(y))
        .set_coefficients(coeffs);
    // No boundary conditions: free ends for natural and Hyman, each kind's
    // own end slopes for Akima and Bessel.
    sycl::event built = spline.construct();
    df::interpolate(spline, const_cast<double*>(sites), nsites, results, std::bitset<32>("1"), {built},
                    df::interpolate_hint::funcs_sites_ders, df::site_hint::non_uniform);
    q.wait_and_throw();
    out.assign(results, results + nsites);
  }
  sycl::free(coeffs, q);
  sycl::free(results, q);
  return out;
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
  double* x = sycl::malloc_shared<double>(nx, q);
  double* y = sycl::malloc_shared<double>(nx, q);
  double* sites = sycl::malloc_shared<double>(nsites, q);
  for (std::int64_t i = 0; i < nx; ++i) {
    x[i] = double(i);
    y[i] = i < 6 ? 0.0 : 1.0;  // a step between x = 5 and x = 6
  }
  for (std::int64_t s = 0; s < nsites; ++s) sites[s] = 0.05 * double(s);

  struct kind_result {
    const char* name;
    std::vector<double> values;
  };
  const std::vector<kind_result> kinds = {{"natural", fit<df::cubic_spline::natural>(q, x, y, sites)},
                                          {"akima", fit<df::cubic_spline::akima>(q, x, y, sites)},
                                          {"bessel", fit<df::cubic_spline::bessel>(q, x, y, sites)},
                                          {"hyman", fit<df::cubic_spline::hyman>(q, x, y, sites)}};

  std::printf("data: 0 at x = 0..5, 1 at x = 6..11; device: %s\n\n",
              q.get_device().get_info<sycl::info::device::name>().c_str());
  std::printf("%6s", "x");
  for (const kind_result& k : kinds) std::printf(" %9s", k.name);
  std::printf("\n");
  for (std::int64_t s = 70; s <= 150; s += 10) {
    std::printf("%6.2f", sites[s]);
    for (const kind_result& k : kinds) std::printf(" %9.4f", k.values[std::size_t(s)]);
    std::printf("\n");
  }
  std::printf("\nlargest excursion outside [0, 1]:\n");
  int status = 0;
  for (const kind_result& k : kinds) {
    double excursion = 0;
    for (double v : k.values) excursion = std::max({excursion, -v, v - 1});
    std::printf("  %-8s %.4f\n", k.name, excursion);
    if (std::string(k.name) == "hyman" && excursion > 1e-12) status = 1;
  }
  for (double* p : {x, y, sites}) sycl::free(p, q);
  return status;
}
