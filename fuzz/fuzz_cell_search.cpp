// Both cell searches on arbitrary partitions and sites: the GPU back-end's
// device functions, called directly, and the CPU kernel library's search
// kernel, called through the front-end. Invariants, for every input:
// - the search index lies in [0, nx] and the cell in [0, nx - 2];
// - no read leaves the exactly sized partition, site and cell arrays;
// - where the answer is defined (a finite, strictly increasing partition and
//   a site that is not NaN), every search returns the number of breakpoints
//   not above the site (nx - 1 at the last one);
// - on a uniform partition with finite ends a < b, the cell never
//   decreases as the site grows (on either back-end).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "data_fitting/hints.hpp"
#include "detail/cpu_impl/df_frontend.hpp"
#include "detail/cpu_impl/kernel_loader.hpp"
#include "detail/gpu/interpolate/cell_search.hpp"
#include "detail/gpu/interpolate/site_at.hpp"
#include "fuzz_support.hpp"

namespace {

namespace df = velora::qrx::experimental::data_fitting;
namespace dd = df::detail;
using qrx_fuzz::fail;
using qrx_fuzz::fuzz_input;

template <typename T>
bool finite_and_increasing(const T* x, std::int64_t nx) {
  for (std::int64_t i = 0; i < nx; ++i) {
    if (!std::isfinite(x[i]) || (i > 0 && !(x[i - 1] < x[i]))) return false;
  }
  return true;
}

// The number of breakpoints not above x, nx - 1 at the last breakpoint.
template <typename T>
std::int64_t reference_index(const T* x, std::int64_t nx, T site) {
  if (site == x[nx - 1]) return nx - 1;
  std::int64_t j = 0;
  while (j < nx && x[j] <= site) ++j;
  return j;
}

// Number of breakpoints: small, or for a uniform partition (two stored
// values) anything from 2 up to the largest int64.
std::int64_t breakpoint_count(fuzz_input& in, bool uniform) {
  if (!uniform || in.pick(4) != 0) return in.in_range(2, 64);
  static constexpr std::int64_t huge[] = {std::int64_t{1} << 30,
                                          (std::int64_t{1} << 30) + 1,
                                          std::int64_t{1} << 31,
                                          (std::int64_t{1} << 53) + 1,
                                          std::int64_t{1} << 62,
                                          std::numeric_limits<std::int64_t>::max() - 1,
                                          std::numeric_limits<std::int64_t>::max()};
  const std::uint32_t k = in.pick(8);
  if (k < 7) return huge[k];
  return 2 + static_cast<std::int64_t>(in.raw64() % static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() - 1));
}

// A site: an arbitrary value, a breakpoint, or a neighbour of one.
template <typename T>
T site_value(fuzz_input& in, const T* x, std::int64_t stored) {
  const std::uint32_t kind = in.pick(4);
  if (kind < 2) return in.value<T>();
  const T b = x[in.pick(static_cast<std::uint32_t>(stored))];
  if (kind == 2) return b;
  return std::nextafter(b, in.flag() ? std::numeric_limits<T>::infinity() : -std::numeric_limits<T>::infinity());
}

// Cells of sites (NaN excluded) must not decrease as the sites grow.
template <typename T>
void check_monotone(std::vector<std::pair<T, std::int64_t>> cells, const char* search) {
  std::sort(cells.begin(), cells.end());
  for (std::size_t i = 1; i < cells.size(); ++i) {
    if (cells[i].second < cells[i - 1].second) {
      fail("%s search on a uniform partition: site %a gets cell %lld, the larger site %a cell %lld", search,
           double(cells[i - 1].first), (long long)cells[i - 1].second, double(cells[i].first), (long long)cells[i].second);
    }
  }
}

template <df::partition_hint PH, typename T>
std::int64_t checked_search(const T* x, std::int64_t nx, T site) {
  const std::int64_t j = dd::search_index<PH>(x, nx, site);
  if (j < 0 || j > nx) fail("GPU search (hint %d): index %lld outside [0, %lld]", int(PH), (long long)j, (long long)nx);
  const std::int64_t cell = dd::find_cell<PH>(x, nx, site);
  if (cell < 0 || cell > nx - 2) fail("GPU search (hint %d): cell %lld outside [0, nx - 2]", int(PH), (long long)cell);
  volatile T origin = dd::cell_origin<PH>(x, nx, cell);  // reads the partition at the cell
  (void)origin;
  return j;
}

// The CPU kernel library's search indices of every site.
template <typename T>
std::unique_ptr<std::int64_t[]> cpu_search(T* x, std::int64_t nx, std::int64_t part_hint, T* sites,
                                           std::int64_t nsites, std::int64_t site_hint) {
  dd::task_record* task = nullptr;
  std::int32_t status = dd::df_new_task_1d<T>(&task, nx, x, part_hint, 0, nullptr, 16);
  if (status != 0) fail("CPU new task (nx %lld, hint %lld): status %d", (long long)nx, (long long)part_hint, status);
  auto cells = qrx_fuzz::exact_array<std::int64_t>(nsites);
  status = dd::df_interpolate_1d<T>(task, 2, 1, nsites, sites, site_hint, 0, nullptr, 0, nullptr, 16, cells.get());
  dd::df_delete_task(&task);
  if (status != 0) fail("CPU search (site hint %lld): status %d", (long long)site_hint, status);
  for (std::int64_t s = 0; s < nsites; ++s) {
    if (cells[s] < 0 || cells[s] > nx) fail("CPU search: index %lld outside [0, %lld]", (long long)cells[s], (long long)nx);
  }
  return cells;
}

template <typename T>
void run(fuzz_input& in) {
  const bool uniform = in.pick(4) == 0;
  const std::int64_t nx = breakpoint_count(in, uniform);
  const std::int64_t stored = uniform ? 2 : nx;
  auto x = qrx_fuzz::exact_array<T>(stored);
  in.breakpoints(x.get(), stored);
  const std::int64_t part_hint = uniform ? 4 : (in.flag() ? 1 : 2);

  const bool uniform_sites = in.pick(4) == 0;
  const std::int64_t nsites = in.in_range(1, 64);
  const std::int64_t stored_sites = uniform_sites ? 2 : nsites;
  auto sites = qrx_fuzz::exact_array<T>(stored_sites);
  for (std::int64_t s = 0; s < stored_sites; ++s) sites[s] = site_value(in, x.get(), stored);
  // Listed sites go to the kernels as default, listed or sorted (taken as a
  // hint only: unsorted input must still give the right cells).
  static constexpr std::int64_t listed_hints[] = {0, 1, 64};
  const std::int64_t site_hint = uniform_sites ? 4 : listed_hints[in.pick(3)];

  const auto cpu = cpu_search(x.get(), nx, part_hint, sites.get(), nsites, site_hint);

  const bool defined = !uniform && finite_and_increasing(x.get(), nx);
  const bool ordered_ends = uniform && std::isfinite(x[0]) && std::isfinite(x[1]) && x[0] < x[1];
  std::vector<std::pair<T, std::int64_t>> gpu_cells;
  std::vector<std::pair<T, std::int64_t>> cpu_cells;
  for (std::int64_t s = 0; s < nsites; ++s) {
    const T site = uniform_sites ? dd::site_at<df::site_hint::uniform>(sites.get(), nsites, s)
                                 : dd::site_at<df::site_hint::non_uniform>(sites.get(), nsites, s);
    if (uniform) {
      const std::int64_t j = checked_search<df::partition_hint::uniform>(x.get(), nx, site);
      if (ordered_ends && !std::isnan(site)) {
        gpu_cells.emplace_back(site, dd::cell_of_index(j, nx));
        cpu_cells.emplace_back(site, dd::cell_of_index(cpu[s], nx));
      }
      continue;
    }
    const std::int64_t j_listed = checked_search<df::partition_hint::non_uniform>(x.get(), nx, site);
    const std::int64_t j_quasi = checked_search<df::partition_hint::quasi_uniform>(x.get(), nx, site);
    if (defined && !std::isnan(site)) {
      const std::int64_t want = reference_index(x.get(), nx, site);
      if (j_listed != want || j_quasi != want || cpu[s] != want) {
        fail("site %lld (%a): index %lld expected, GPU non-uniform %lld, GPU quasi-uniform %lld, CPU %lld",
             (long long)s, double(site), (long long)want, (long long)j_listed, (long long)j_quasi, (long long)cpu[s]);
      }
    }
  }
  check_monotone(std::move(gpu_cells), "GPU");
  check_monotone(std::move(cpu_cells), "CPU");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Load the kernel library before fuzzing starts, so that its coverage
  // counters are known from the first input on.
  dd::load_kernel_library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_input in(data, size);
  if (in.flag()) {
    run<double>(in);
  } else {
    run<float>(in);
  }
  return 0;
}
