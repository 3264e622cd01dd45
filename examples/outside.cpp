// What a spline gives outside its partition, for each extrapolation mode:
// one natural spline through a bump on [0, 4], evaluated on [-2, 6] with
// the same mode on both sides. Prints the values at a few sites outside,
// on the first device found (a GPU, else the CPU), and checks what each
// mode promises: extend continues the end cells, constant holds the end
// values, linear continues the end tangents, nan gives NaN, periodic
// repeats [0, 4).
//
//   outside             print the table and check it
//   outside --csv DIR   also write DIR/outside.csv (x,mode,value) and
//                       DIR/outside_data.csv (x,y) for a plotting script
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

constexpr std::int64_t nx = 9;
constexpr std::int64_t nsites = 161;  // every 0.05 on [-2, 6]

struct mode_result {
  const char* name;
  df::extrapolation mode;
  std::vector<double> values;  // value and first derivative per site
};

sycl::queue first_queue() {
  try {
    return sycl::queue(sycl::gpu_selector_v);
  } catch (const sycl::exception&) {
    return sycl::queue(sycl::cpu_selector_v);
  }
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
  double* coeffs = sycl::malloc_shared<double>((nx - 1) * 4, q);
  double* sites = sycl::malloc_shared<double>(nsites, q);
  double* results = sycl::malloc_shared<double>(nsites * 2, q);
  for (std::int64_t i = 0; i < nx; ++i) {
    x[i] = 0.5 * double(i);                           // [0, 4]
    y[i] = std::exp(-(x[i] - 1.5) * (x[i] - 1.5));  // a bump, not periodic
  }
  for (std::int64_t s = 0; s < nsites; ++s) sites[s] = -2 + 0.05 * double(s);

  std::vector<mode_result> modes = {{"extend", df::extrapolation::extend, {}},
                                    {"constant", df::extrapolation::constant, {}},
                                    {"linear", df::extrapolation::linear, {}},
                                    {"nan", df::extrapolation::nan, {}},
                                    {"periodic", df::extrapolation::periodic, {}}};
  {
    df::spline<double, df::cubic_spline::natural> spline(q, 1, false);
    spline.set_partitions(x, nx).set_function_values(y).set_coefficients(coeffs);
    spline.construct();
    for (mode_result& m : modes) {
      // Evaluations submitted after set_extrapolation use the new mode; each
      // runs after the construction by itself.
      spline.set_extrapolation(m.mode, m.mode);
      df::interpolate(spline, sites, nsites, results, std::bitset<32>("11"));
      q.wait_and_throw();
      m.values.assign(results, results + nsites * 2);
    }
  }

  std::printf("natural spline through a bump on [0, 4]; device: %s\n\n",
              q.get_device().get_info<sycl::info::device::name>().c_str());
  std::printf("%6s", "x");
  for (const mode_result& m : modes) std::printf(" %9s", m.name);
  std::printf("\n");
  for (std::int64_t s : {0, 20, 39, 40, 60, 120, 121, 140, 160}) {
    std::printf("%6.2f", sites[s]);
    for (const mode_result& m : modes) std::printf(" %9.4f", m.values[std::size_t(s * 2)]);
    std::printf("\n");
  }

  // Each mode's promise, at every site outside [0, 4].
  auto value = [&](const mode_result& m, std::int64_t s) { return m.values[std::size_t(s * 2)]; };
  auto slope = [&](const mode_result& m, std::int64_t s) { return m.values[std::size_t(s * 2 + 1)]; };
  const std::int64_t at_a = 40, at_b = 120;  // the sites on 0 and 4
  int failures = 0;
  for (std::int64_t s = 0; s < nsites; ++s) {
    if (s >= at_a && s <= at_b) continue;
    const std::int64_t end = s < at_a ? at_a : at_b;
    const double distance = sites[s] - sites[end];
    const double expected[] = {
        value(modes[0], s),  // extend: the end cell, whatever it gives
        value(modes[0], end),
        value(modes[0], end) + slope(modes[0], end) * distance,
        NAN,
        value(modes[0], at_a + (s - at_a + 4 * (at_b - at_a)) % (at_b - at_a)),
    };
    for (std::size_t k = 0; k < modes.size(); ++k) {
      const double got = value(modes[k], s);
      const bool ok = std::isnan(expected[k]) ? std::isnan(got) : std::fabs(got - expected[k]) <= 1e-9;
      if (!ok && ++failures <= 5)
        std::printf("%s at %.2f: %.6f, expected %.6f\n", modes[k].name, sites[s], got, expected[k]);
    }
  }

  if (!csv_dir.empty()) {
    std::error_code ignored;  // a folder that cannot be made shows up as files that cannot be opened
    std::filesystem::create_directories(csv_dir, ignored);
    std::ofstream data(csv_dir + "/outside_data.csv");
    data << "x,y\n";
    for (std::int64_t i = 0; i < nx; ++i) data << x[i] << ',' << y[i] << '\n';
    std::ofstream curves(csv_dir + "/outside.csv");
    curves.precision(10);
    curves << "x,mode,value\n";
    for (const mode_result& m : modes)
      for (std::int64_t s = 0; s < nsites; ++s) curves << sites[s] << ',' << m.name << ',' << value(m, s) << '\n';
    if (!data.flush() || !curves.flush()) {
      std::printf("outside: FAILED: cannot write the CSV files to %s\n", csv_dir.c_str());
      ++failures;
    }
  }
  for (double* p : {x, y, coeffs, sites, results}) sycl::free(p, q);
  if (failures != 0) {
    std::printf("outside: FAILED (%d sites)\n", failures);
    return 1;
  }
  std::printf("\noutside: every mode gives what it promises outside [0, 4]\n");
  return 0;
}
