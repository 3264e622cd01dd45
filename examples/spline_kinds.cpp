// Data with a step, fitted by every cubic kind that needs only the values:
// the natural spline overshoots on both sides of the step, Akima and Bessel
// less, and Hyman's monotone spline not at all. Prints each kind's values
// at a few sites around the step and its largest overshoot, on the first
// device found (a GPU, else the CPU). Exits 1 if the Hyman spline leaves the
// range of the data.
//
//   spline_kinds             print the table and the overshoots
//   spline_kinds --csv DIR   also write, for a plotting script,
//                            DIR/spline_kinds.csv (x,kind,value,first,second:
//                            every kind's value and first two derivatives at
//                            every site) and DIR/spline_kinds_data.csv (x,y)
#include <algorithm>
#include <bitset>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <sycl/sycl.hpp>

#include <data_fitting/data_fitting.hpp>

namespace df = velora::qrx::experimental::data_fitting;

constexpr std::int64_t nx = 12;
constexpr std::int64_t nsites = 221;  // every 0.05 on [0, 11]

// Values and first two derivatives of the spline of kind SplineType through
// (i, step(i)) at the sites: derivative d at site s is element s*3 + d.
template <typename SplineType>
std::vector<double> fit(sycl::queue& q, const double* x, const double* y, const double* sites) {
  double* coeffs = sycl::malloc_shared<double>((nx - 1) * 4, q);
  double* results = sycl::malloc_shared<double>(nsites * 3, q);
  std::vector<double> out;
  {
    df::spline<double, SplineType, 1> spline(q, 1, false);
    spline.set_partitions(const_cast<double*>(x), nx)
        .set_function_values(const_cast<double*>(y))
        .set_coefficients(coeffs);
    // No boundary conditions: free ends for natural and Hyman, each kind's
    // own end slopes for Akima and Bessel.
    sycl::event built = spline.construct();
    // Bits 0, 1 and 2: the value and the first and second derivatives.
    df::interpolate(spline, const_cast<double*>(sites), nsites, results, std::bitset<32>("111"), {built},
                    df::interpolate_hint::funcs_sites_ders, df::site_hint::non_uniform);
    q.wait_and_throw();
    out.assign(results, results + nsites * 3);
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

// Writes the two CSV files into dir; returns whether both were written.
template <typename Kinds>
bool write_csv(const std::string& dir, const Kinds& kinds, const double* x, const double* y, const double* sites) {
  std::error_code ignored;  // a folder that cannot be made shows up as files that cannot be opened
  std::filesystem::create_directories(dir, ignored);
  std::ofstream data(dir + "/spline_kinds_data.csv");
  data << "x,y\n";
  for (std::int64_t i = 0; i < nx; ++i) data << x[i] << ',' << y[i] << '\n';
  std::ofstream curves(dir + "/spline_kinds.csv");
  curves.precision(10);
  curves << "x,kind,value,first,second\n";
  for (const auto& k : kinds)
    for (std::int64_t s = 0; s < nsites; ++s) {
      const double* r = k.values.data() + s * 3;
      curves << sites[s] << ',' << k.name << ',' << r[0] << ',' << r[1] << ',' << r[2] << '\n';
    }
  return bool(data.flush()) && bool(curves.flush());
}

int main(int argc, char** argv) {
  std::string csv_dir;
  if (argc == 3 && std::string(argv[1]) == "--csv") {
    csv_dir = argv[2];
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: %s [--csv DIR]\n", argv[0]);
    return 2;
  }
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
    for (const kind_result& k : kinds) std::printf(" %9.4f", k.values[std::size_t(s * 3)]);
    std::printf("\n");
  }
  std::printf("\nlargest excursion outside [0, 1]:\n");
  int status = 0;
  for (const kind_result& k : kinds) {
    double excursion = 0;
    for (std::int64_t s = 0; s < nsites; ++s) {
      const double v = k.values[std::size_t(s * 3)];
      excursion = std::isnan(v) ? HUGE_VAL : std::max({excursion, -v, v - 1});
    }
    std::printf("  %-8s %.4f\n", k.name, excursion);
    if (std::string(k.name) == "hyman" && !(excursion <= 1e-12)) status = 1;
  }
  if (!csv_dir.empty()) {
    if (write_csv(csv_dir, kinds, x, y, sites)) {
      std::printf("\nwrote spline_kinds.csv and spline_kinds_data.csv to %s\n", csv_dir.c_str());
    } else {
      std::printf("\nspline_kinds: FAILED: cannot write the CSV files to %s\n", csv_dir.c_str());
      status = 1;
    }
  }
  for (double* p : {x, y, sites}) sycl::free(p, q);
  if (status == 0)
    std::printf("spline_kinds: the Hyman spline stays within the range of the data\n");
  else
    std::printf("spline_kinds: FAILED\n");
  return status;
}
