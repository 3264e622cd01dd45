// Rising data with flat runs and a steep rise, fitted by every cubic kind
// that needs only the values: the natural and Bessel splines leave the range
// of the data, Akima's spline falls before the steep rise, the modified
// Akima spline barely, and the monotone kinds (Hyman, PCHIP, Steffen) never.
// Prints each kind's values at a few sites around the rise and how far it
// runs against the data, on the first device found (a GPU, else the CPU).
// Exits 1 if a monotone kind ever falls or leaves the range of the data.
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
    // own end slopes for the others.
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
  // Rising: a flat run, a jump, a gentle ramp, a steep rise over x = 5..7,
  // a flat run and a last rise.
  const double levels[nx] = {0, 0, 0, 0.3, 0.35, 0.45, 1.1, 1.75, 1.8, 1.8, 1.85, 2.2};
  for (std::int64_t i = 0; i < nx; ++i) {
    x[i] = double(i);
    y[i] = levels[i];
  }
  for (std::int64_t s = 0; s < nsites; ++s) sites[s] = 0.05 * double(s);

  struct kind_result {
    const char* name;
    std::vector<double> values;
  };
  namespace cubic = df::cubic_spline;
  const std::vector<kind_result> kinds = {
      {"natural", fit<cubic::natural>(q, x, y, sites)}, {"hyman", fit<cubic::hyman>(q, x, y, sites)},
      {"akima", fit<cubic::akima>(q, x, y, sites)},     {"makima", fit<cubic::makima>(q, x, y, sites)},
      {"bessel", fit<cubic::bessel>(q, x, y, sites)},   {"pchip", fit<cubic::pchip>(q, x, y, sites)},
      {"steffen", fit<cubic::steffen>(q, x, y, sites)}};

  std::printf("data:");
  for (std::int64_t i = 0; i < nx; ++i) std::printf(" %g", y[i]);
  std::printf(" at x = 0..11; device: %s\n\n", q.get_device().get_info<sycl::info::device::name>().c_str());
  std::printf("%6s", "x");
  for (const kind_result& k : kinds) std::printf(" %9s", k.name);
  std::printf("\n");
  for (std::int64_t s = 70; s <= 150; s += 10) {
    std::printf("%6.2f", sites[s]);
    for (const kind_result& k : kinds) std::printf(" %9.4f", k.values[std::size_t(s * 3)]);
    std::printf("\n");
  }
  // How far each curve runs against the data: the largest fall between
  // neighbouring sites (the data never fall) and the largest excursion
  // outside the range of the values.
  std::printf("\n%-8s %14s %14s\n", "kind", "largest fall", "outside data");
  int status = 0;
  for (const kind_result& k : kinds) {
    double fall = 0, outside = 0;
    for (std::int64_t s = 0; s < nsites; ++s) {
      const double v = k.values[std::size_t(s * 3)];
      const double before = s > 0 ? k.values[std::size_t((s - 1) * 3)] : v;
      fall = std::isnan(v) ? HUGE_VAL : std::max(fall, before - v);
      outside = std::isnan(v) ? HUGE_VAL : std::max({outside, levels[0] - v, v - levels[nx - 1]});
    }
    std::printf("%-8s %14.4f %14.4f\n", k.name, fall, outside);
    const std::string name = k.name;
    const bool monotone_kind = name == "hyman" || name == "pchip" || name == "steffen";
    if (monotone_kind && !(fall <= 1e-12 && outside <= 1e-12)) status = 1;
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
    std::printf("spline_kinds: the monotone kinds rise with the data\n");
  else
    std::printf("spline_kinds: FAILED\n");
  return status;
}
