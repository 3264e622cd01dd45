// Beyond one machine: several MPI processes (ranks) share the evaluation of
// a large number of sites. Every rank builds the same splines on its own
// device, evaluates its contiguous share of the 1,000,000 sites, and rank 0
// gathers all results with MPI_Gatherv. Rank 0 then checks them against the
// exact functions and against evaluating every site itself in one call, and
// prints how many sites each rank did, on which device, in how long.
//
//   mpiexec -n 2 qrx_mpi_sites
//
// The splines: sin(kx), k = 1..4, on [0, pi], natural cubic splines. Their
// second derivatives vanish at both ends, as the natural spline's free ends
// assume, so the error is the spline's interior error, of order h^4.
//
// Results are laid out sites_funcs_ders: all functions of site 0, then of
// site 1, ... so the results of a contiguous run of sites are contiguous,
// and each rank's block goes straight into its place in the gathered array.
// Exits 1 (on rank 0) if a check fails.
#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include <data_fitting/data_fitting.hpp>

namespace df = velora::qrx::experimental::data_fitting;

constexpr std::int64_t nx = 401;         // breakpoints
constexpr std::int64_t ny = 4;           // functions sin(kx), k = 1..ny
constexpr std::int64_t nsites = 1000000;  // all sites, over all ranks
constexpr double pi = 3.14159265358979323846;
constexpr double tolerance = 1e-6;  // against the exact functions
// MPI counts are int: the gathered array must stay below 2^31 elements.
static_assert(nsites * ny < 2147483647, "too many results for one MPI_Gatherv");

// Site number i: spread evenly over [0, pi) in no particular order. Any rank
// can compute any site, so no site array has to be sent around.
double site(std::int64_t i) {
  const double t = double(i) * 0.6180339887498949;
  return pi * (t - std::floor(t));
}

sycl::queue first_queue() {
  try {
    return sycl::queue(sycl::gpu_selector_v);
  } catch (const sycl::exception&) {
    return sycl::queue(sycl::cpu_selector_v);
  }
}

// The values of all functions of `spline` at sites first .. first + count - 1,
// laid out sites_funcs_ders, copied to host memory (an MPI library need not
// be able to read device memory).
template <typename Spline>
std::vector<double> evaluate(sycl::queue& q, Spline& spline, sycl::event built, std::int64_t first,
                             std::int64_t count) {
  if (count == 0) return {};  // more ranks than sites
  double* sites = sycl::malloc_shared<double>(count, q);
  double* results = sycl::malloc_shared<double>(count * ny, q);
  for (std::int64_t s = 0; s < count; ++s) sites[s] = site(first + s);
  df::interpolate(spline, sites, count, results, {built}, df::interpolate_hint::sites_funcs_ders,
                  df::site_hint::non_uniform);
  q.wait_and_throw();
  std::vector<double> out(results, results + count * ny);
  sycl::free(sites, q);
  sycl::free(results, q);
  return out;
}

// What each rank tells rank 0 about its share.
struct rank_report {
  long long sites;
  double milliseconds;
  char device[64];
};

int run(int rank, int ranks) {
  // Rank r takes the sites [first[r], first[r + 1]): equal shares, the first
  // nsites % ranks ranks one more.
  const std::size_t n = std::size_t(ranks), me = std::size_t(rank);
  std::vector<std::int64_t> first(n + 1);
  for (std::size_t r = 0; r <= n; ++r)
    first[r] = std::int64_t(r) * (nsites / ranks) + std::min<std::int64_t>(std::int64_t(r), nsites % ranks);
  const std::int64_t my_first = first[me];
  const std::int64_t my_count = first[me + 1] - my_first;

  // Every rank builds the same splines on its own device and evaluates its
  // share; rank 0 also evaluates all sites alone, for the check below.
  sycl::queue q = first_queue();
  double* x = sycl::malloc_shared<double>(2, q);  // uniform partition: the two ends
  double* y = sycl::malloc_shared<double>(nx * ny, q);
  double* coeffs = sycl::malloc_shared<double>((nx - 1) * ny * 4, q);
  x[0] = 0;
  x[1] = pi;
  for (std::int64_t k = 0; k < ny; ++k)
    for (std::int64_t i = 0; i < nx; ++i) y[k * nx + i] = std::sin(double(k + 1) * pi * double(i) / double(nx - 1));

  std::vector<double> mine, single;
  rank_report report{my_count, 0.0, {}};
  {
    df::spline<double, df::cubic_spline::natural, 1> spline(q, ny, false);
    spline.set_partitions(x, nx, df::partition_hint::uniform).set_function_values(y).set_coefficients(coeffs);
    const auto start = std::chrono::steady_clock::now();
    sycl::event built = spline.construct();
    mine = evaluate(q, spline, built, my_first, my_count);
    report.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (rank == 0) single = evaluate(q, spline, built, 0, nsites);
  }
  for (double* p : {x, y, coeffs}) sycl::free(p, q);
  const std::string name = q.get_device().get_info<sycl::info::device::name>();
  name.copy(report.device, sizeof report.device - 1);  // report.device stays terminated

  // Rank 0 receives rank r's ny values per site at offset first[r]*ny.
  std::vector<int> counts(n), offsets(n);
  for (std::size_t r = 0; r < n; ++r) {
    counts[r] = int((first[r + 1] - first[r]) * ny);
    offsets[r] = int(first[r] * ny);
  }
  std::vector<double> all(rank == 0 ? std::size_t(nsites * ny) : 0);
  MPI_Gatherv(mine.data(), int(mine.size()), MPI_DOUBLE, all.data(), counts.data(), offsets.data(), MPI_DOUBLE, 0,
              MPI_COMM_WORLD);
  std::vector<rank_report> reports(n);
  MPI_Gather(&report, int(sizeof report), MPI_BYTE, reports.data(), int(sizeof report), MPI_BYTE, 0,
             MPI_COMM_WORLD);
  if (rank != 0) return 0;

  for (std::size_t r = 0; r < n; ++r)
    std::printf("rank %zu: %lld sites, built and evaluated in %.1f ms on %s\n", r, reports[r].sites,
                reports[r].milliseconds, reports[r].device);

  // Check 1: every gathered value against sin(kx) itself.
  double error = 0;
  for (std::int64_t s = 0; s < nsites; ++s)
    for (std::int64_t k = 0; k < ny; ++k) {
      const double e = std::abs(all[std::size_t(s * ny + k)] - std::sin(double(k + 1) * site(s)));
      error = std::isnan(e) ? HUGE_VAL : std::max(error, e);
    }
  // Check 2: against the evaluation of all sites on rank 0 alone. The shares
  // are evaluated by the same code, so on one kind of device they agree
  // exactly; ranks on different kinds of devices may differ by roundings.
  double difference = 0;
  for (std::size_t i = 0; i < single.size(); ++i) {
    const double d = std::abs(all[i] - single[i]);
    difference = std::isnan(d) ? HUGE_VAL : std::max(difference, d);
  }
  std::printf("%lld sites x %lld functions: largest error %.3g, largest difference from one rank alone %.3g\n",
              static_cast<long long>(nsites), static_cast<long long>(ny), error, difference);
  if (!(error <= tolerance) || !(difference <= 1e-12)) {
    std::printf("mpi_sites: FAILED\n");
    return 1;
  }
  std::printf("mpi_sites: ranks %d, gathered results agree with the exact values and with one rank alone\n", ranks);
  return 0;
}

int main(int argc, char** argv) {
  // The SYCL runtime has threads of its own; only this thread calls MPI.
  int provided = 0;
  MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
  int rank = 0, ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  int status = 1;
  try {
    status = run(rank, ranks);
  } catch (const std::exception& e) {
    // The other ranks would wait in MPI_Gatherv for ever: end them all.
    std::fprintf(stderr, "mpi_sites: rank %d: %s\n", rank, e.what());
    MPI_Abort(MPI_COMM_WORLD, 1);
  }
  MPI_Finalize();
  return status;
}
