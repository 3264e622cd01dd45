// Where interpolate writes each result. One spline of 2 functions is
// evaluated at 3 sites with derivative orders 0, 1 and 2, once in each of
// the four result layouts. For every layout the program prints which
// (function, site, order) each result index holds according to the layout's
// formula, and checks that formula against where the values really land:
// the results are first filled with a sentinel, and after the call each
// slot's value is matched with the one exact value it equals.
//
//   layouts              print the tables and check
//   layouts --csv DIR    also write DIR/layout_<name>.csv (index,function,site,order)
//
// The spline is the natural cubic spline with not-a-knot ends, which
// reproduces every cubic polynomial exactly; the two cubics below were
// chosen so that all 18 (function, site, order) values differ.
#include <bitset>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include <sycl/sycl.hpp>

#include <data_fitting/data_fitting.hpp>

namespace df = velora::qrx::experimental::data_fitting;

constexpr std::int64_t nx = 5;      // breakpoints 0..4
constexpr std::int64_t ny = 2;      // functions
constexpr std::int64_t nsites = 3;  // sites
constexpr std::int64_t K = 3;       // derivative orders 0, 1, 2: K slots per (function, site)
constexpr std::int64_t nresults = ny * nsites * K;
constexpr double site_values[nsites] = {0.5, 1.5, 2.5};
constexpr double sentinel = -12345.0;  // no exact value below equals it

// f0(x) = x^3 and f1(x) = 100 - x^3/2, and their first two derivatives.
double exact(std::int64_t f, std::int64_t s, std::int64_t order) {
  const double x = site_values[s];
  const double scale = f == 0 ? 1.0 : -0.5;
  const double constant = f == 0 ? 0.0 : 100.0;
  switch (order) {
    case 0: return constant + scale * x * x * x;
    case 1: return scale * 3 * x * x;
    default: return scale * 6 * x;
  }
}

struct slot {
  std::int64_t function, site, order;
  bool operator==(const slot& o) const { return function == o.function && site == o.site && order == o.order; }
};

struct layout {
  const char* name;
  df::interpolate_hint hint;
  // Result index of order d of function f at site s (the formulas of hints.hpp).
  std::int64_t (*index)(std::int64_t f, std::int64_t s, std::int64_t d);
};

const layout layouts[] = {
    {"funcs_sites_ders", df::interpolate_hint::funcs_sites_ders,
     [](std::int64_t f, std::int64_t s, std::int64_t d) { return (f * nsites + s) * K + d; }},
    {"funcs_ders_sites", df::interpolate_hint::funcs_ders_sites,
     [](std::int64_t f, std::int64_t s, std::int64_t d) { return (f * K + d) * nsites + s; }},
    {"sites_funcs_ders", df::interpolate_hint::sites_funcs_ders,
     [](std::int64_t f, std::int64_t s, std::int64_t d) { return (s * ny + f) * K + d; }},
    {"sites_ders_funcs", df::interpolate_hint::sites_ders_funcs,
     [](std::int64_t f, std::int64_t s, std::int64_t d) { return (s * K + d) * ny + f; }},
};

// The (function, site, order) the layout's formula puts at `index`.
slot formula_slot(const layout& l, std::int64_t index) {
  for (std::int64_t f = 0; f < ny; ++f)
    for (std::int64_t s = 0; s < nsites; ++s)
      for (std::int64_t d = 0; d < K; ++d)
        if (l.index(f, s, d) == index) return {f, s, d};
  return {-1, -1, -1};
}

// The (function, site, order) whose exact value `value` equals, or
// {-1, -1, -1} (the sentinel, or a wrong value).
slot value_slot(double value) {
  for (std::int64_t f = 0; f < ny; ++f)
    for (std::int64_t s = 0; s < nsites; ++s)
      for (std::int64_t d = 0; d < K; ++d)
        if (std::abs(value - exact(f, s, d)) <= 1e-9 * (1 + std::abs(exact(f, s, d)))) return {f, s, d};
  return {-1, -1, -1};
}

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
    std::error_code ignored;  // a folder that cannot be made shows up as files that cannot be written
    std::filesystem::create_directories(csv_dir, ignored);
  } else if (argc != 1) {
    std::fprintf(stderr, "usage: %s [--csv DIR]\n", argv[0]);
    return 2;
  }

  sycl::queue q = first_queue();
  double* x = sycl::malloc_shared<double>(nx, q);
  double* y = sycl::malloc_shared<double>(nx * ny, q);
  double* sites = sycl::malloc_shared<double>(nsites, q);
  double* coeffs = sycl::malloc_shared<double>((nx - 1) * ny * 4, q);
  double* results = sycl::malloc_shared<double>(nresults, q);
  for (std::int64_t i = 0; i < nx; ++i) {
    x[i] = double(i);
    y[i] = x[i] * x[i] * x[i];                  // f0
    y[nx + i] = 100 - 0.5 * x[i] * x[i] * x[i];  // f1
  }
  for (std::int64_t s = 0; s < nsites; ++s) sites[s] = site_values[s];

  int mismatches = 0;
  bool csv_failed = false;
  {
    df::spline<double, df::cubic_spline::natural, 1> spline(q, ny, false);
    spline.set_partitions(x, nx).set_function_values(y).set_coefficients(coeffs);
    spline.set_boundary_conditions(df::bc_type::not_a_knot, 0.0);  // the value is not used
    sycl::event built = spline.construct();

    for (const layout& l : layouts) {
      for (std::int64_t i = 0; i < nresults; ++i) results[i] = sentinel;
      // Orders 0, 1 and 2: bits 0, 1 and 2 of the mask.
      df::interpolate(spline, sites, nsites, results, std::bitset<32>("111"), {built}, l.hint,
                      df::site_hint::non_uniform);
      q.wait_and_throw();

      std::printf("%s:\n  %5s %8s %4s %5s %12s\n", l.name, "index", "function", "site", "order", "value");
      std::ofstream csv;
      const std::string csv_path = csv_dir + "/layout_" + l.name + ".csv";
      if (!csv_dir.empty()) csv.open(csv_path);
      csv << "index,function,site,order\n";  // does nothing when no file is open
      for (std::int64_t i = 0; i < nresults; ++i) {
        const slot expected = formula_slot(l, i);
        const slot landed = value_slot(results[i]);
        const bool ok = expected == landed;
        mismatches += ok ? 0 : 1;
        std::printf("  %5lld %8lld %4lld %5lld %12.6f%s\n", static_cast<long long>(i),
                    static_cast<long long>(expected.function), static_cast<long long>(expected.site),
                    static_cast<long long>(expected.order), results[i], ok ? "" : "  <- not what the formula says");
        csv << i << ',' << expected.function << ',' << expected.site << ',' << expected.order << '\n';
      }
      if (!csv_dir.empty() && !csv.flush()) {
        std::printf("layouts: FAILED: cannot write %s\n", csv_path.c_str());
        csv_failed = true;
      }
    }
  }
  for (double* p : {x, y, sites, coeffs, results}) sycl::free(p, q);

  if (mismatches != 0)
    std::printf("layouts: FAILED: %d result slots hold something else than their formula says\n", mismatches);
  if (mismatches != 0 || csv_failed) return 1;
  if (!csv_dir.empty()) std::printf("layouts: wrote layout_<name>.csv for the four layouts to %s\n", csv_dir.c_str());
  std::printf("layouts: every result is where its layout's formula puts it\n");
  return 0;
}
