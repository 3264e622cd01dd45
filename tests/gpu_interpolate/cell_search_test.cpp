// The cell search, checked for every partition hint both as a plain function
// on the host and inside a kernel on the GPU-class device.
#include <sys/mman.h>
#include <unistd.h>

#include <limits>
#include <random>

#include "detail/gpu/interpolate/cell_search.hpp"
#include "detail/gpu/interpolate/site_at.hpp"
#include "interpolate_test_support.hpp"

namespace qrx_test {
namespace {

using cell_pair = std::pair<std::int64_t, std::int64_t>;
constexpr double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();

template <typename T>
std::vector<T> as(std::initializer_list<double> v) {
  return std::vector<T>(v.begin(), v.end());
}

// (host, device) cell of each site. The device shows its cell as the slope of
// a linear spline whose slope on cell k is k, which is finite for any site.
template <typename T>
std::vector<cell_pair> cells(df::partition_hint ph, const std::vector<T>& p, const T* host_p, std::int64_t nx,
                             const std::vector<T>& x) {
  std::vector<T> coeffs;
  for (std::int64_t k = 0; k < nx - 1; ++k) coeffs.insert(coeffs.end(), {T(0), T(k)});
  const auto out = interpolate<T, linear>(p, nx, coeffs, 1, x, x.size(), 0b10, value_of(ph), 1, 16, T(-1));
  std::vector<cell_pair> c(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    dfd::select(dfd::partition_hint_list{}, ph, [&](auto h) {
      c[i] = {dfd::find_cell<h.value>(host_p, nx, x[i]), static_cast<std::int64_t>(out[2 * i + 1])};
    });
  }
  return c;
}

// One row of the boundary table in the comment of cell_search.hpp, on seven
// breakpoints x: uneven ones, or a = 0, b = 6 for uniform partitions.
using sites_of = std::vector<double> (*)(const std::vector<double>& x);
struct row {
  const char* name;
  sites_of sites;
  std::int64_t cell;  // -1: any cell in [0, 5]
};
class BoundaryTable : public ::testing::TestWithParam<row> {};

template <typename T>
void check_row(const row& r) {
  const std::vector<T> uneven{0, 0.5, 1.25, 2, 3.5, 4, 5};
  for_each_value(dfd::partition_hint_list{}, [&](df::partition_hint ph) {
    const bool uniform = ph == df::partition_hint::uniform;
    std::vector<double> x(uneven.begin(), uneven.end());
    if (uniform) x = {0, 1, 2, 3, 4, 5, 6};
    const std::vector<double> s = r.sites(x);
    const std::vector<T> p = uniform ? std::vector<T>{0, 6} : uneven, sites(s.begin(), s.end());
    for (auto [host, device] : cells(ph, p, p.data(), 7, sites)) {
      for (std::int64_t got : {host, device}) {
        EXPECT_TRUE(r.cell < 0 ? got >= 0 && got <= 5 : got == r.cell) << "hint " << value_of(ph) << ": " << got;
      }
    }
  });
}

TEST_P(BoundaryTable, HoldsForFloatAndDouble) {
  check_row<float>(GetParam());
  check_row<double>(GetParam());
}

using V = std::vector<double>;
INSTANTIATE_TEST_SUITE_P(CellSearch, BoundaryTable,
                         ::testing::Values(row{"LeftOfFirstBreakpoint",
                                               [](const V&) {
                                                 return V{-0.25, -1e30, -inf};
                                               },
                                               0},
                                           row{"AtFirstBreakpoint", [](const V& x) { return V{x[0]}; }, 0},
                                           row{"AtFirstInteriorBreakpoint", [](const V& x) { return V{x[1]}; }, 1},
                                           row{"AtInteriorBreakpoint", [](const V& x) { return V{x[3]}; }, 3},
                                           row{"InsideACell", [](const V& x) { return V{(x[2] + x[3]) / 2}; }, 2},
                                           row{"AtLastInteriorBreakpoint", [](const V& x) { return V{x[5]}; }, 5},
                                           row{"AtLastBreakpoint", [](const V& x) { return V{x[6]}; }, 5},
                                           row{"RightOfLastBreakpoint",
                                               [](const V& x) {
                                                 return V{x[6] + 0.25, 1e30, inf};
                                               },
                                               5},
                                           row{"NanSite", [](const V&) { return V{nan}; }, -1}),
                         [](const auto& info) { return std::string(info.param.name); });

template <typename T>
class CellSearch : public ::testing::Test {};
using FpTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(CellSearch, FpTypes);

// x = a + i*h may give a quotient (x - a)/h just below i, hence cell i - 1,
// whose polynomial also reaches x.
TYPED_TEST(CellSearch, UniformInteriorBreakpointTakesTheTruncatedQuotient) {
  using T = TypeParam;
  const std::vector<T> p{0.1, 0.7};
  const T h = (p[1] - p[0]) / T(10);
  std::vector<T> x;
  for (int i = 1; i < 10; ++i) x.push_back(p[0] + T(i) * h);
  const auto c = cells(df::partition_hint::uniform, p, p.data(), 11, x);
  for (int i = 1; i < 10; ++i) {
    EXPECT_EQ(c[i - 1].first, static_cast<std::int64_t>((x[i - 1] - p[0]) / h));
    EXPECT_TRUE(c[i - 1].second == i || c[i - 1].second == i - 1) << c[i - 1].second;
  }
}

// A copy of v between inaccessible pages, against the upper or the lower one:
// a read outside the array faults.
template <typename T>
std::shared_ptr<T> guarded(const std::vector<T>& v, bool at_end) {
  const std::size_t page = sysconf(_SC_PAGESIZE);
  char* base = static_cast<char*>(mmap(nullptr, 3 * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  mprotect(base + page, page, PROT_READ | PROT_WRITE);
  T* p = reinterpret_cast<T*>(at_end ? base + 2 * page - v.size() * sizeof(T) : base + page);
  std::copy(v.begin(), v.end(), p);
  return std::shared_ptr<T>(p, [base, page](T*) { munmap(base, 3 * page); });
}

TYPED_TEST(CellSearch, BadPartitionsGiveSomeCellAndReadOnlyThePartition) {
  using T = TypeParam;
  const std::vector<T> sites = as<T>({-inf, -2, 0, 0.5, 1, 3, 1e30, inf, nan});
  for (std::vector<T> p :
       {as<T>({3, 2, 1, 0, -1}), as<T>({1, 1, 1, 1, 1}), as<T>({0, 2, 1, 3, 2}), as<T>({nan, 0, nan, 1, nan})}) {
    for_each_value(dfd::partition_hint_list{}, [&](df::partition_hint ph) {
      if (ph == df::partition_hint::uniform) p.resize(2);
      for (bool at_end : {false, true}) {
        for (auto [host, device] : cells(ph, p, guarded(p, at_end).get(), 5, sites)) {
          EXPECT_TRUE(host >= 0 && host <= 3 && device >= 0 && device <= 3) << host << " " << device;
        }
      }
    });
  }
}

// On increasing partitions both searches give the cell of a plain upper-bound
// search, for sites inside, outside and on breakpoints.
TYPED_TEST(CellSearch, QuasiUniformAndNonUniformAgreeOnRandomPartitions) {
  using T = TypeParam;
  std::mt19937 gen(7);
  for (std::int64_t nx : {2, 3, 17, 1000}) {
    for (T jitter : {0.1, 0.9, 20.0}) {
      std::uniform_real_distribution<T> step(0.05, 0.05 + jitter);
      std::vector<T> p{-1};
      while (std::int64_t(p.size()) < nx) p.push_back(p.back() + step(gen));
      std::vector<T> sites(p);
      std::uniform_real_distribution<T> site(p.front() - 1, p.back() + 1);
      for (int i = 0; i < 200; ++i) sites.push_back(site(gen));
      const auto non = cells(df::partition_hint::non_uniform, p, p.data(), nx, sites);
      const auto quasi = cells(df::partition_hint::quasi_uniform, p, p.data(), nx, sites);
      for (std::size_t i = 0; i < sites.size(); ++i) {
        const std::int64_t cell =
            std::clamp<std::int64_t>(std::upper_bound(p.begin(), p.end(), sites[i]) - p.begin() - 1, 0, nx - 2);
        EXPECT_EQ(non[i], cell_pair(cell, cell)) << "nx " << nx << " site " << sites[i];
        EXPECT_EQ(quasi[i], cell_pair(cell, cell)) << "nx " << nx << " site " << sites[i];
      }
    }
  }
}

// One uniform site is sites[0] (sites[1] is not read); with two, the second
// is (sites[1] - sites[0])*1 + sites[0]. The spline x returns its sites.
TYPED_TEST(CellSearch, UniformSitesExpandFromTheFirstAndLastSite) {
  using T = TypeParam;
  for (const std::vector<T>& ends : {as<T>({3.25, nan}), as<T>({1.5, 7.2})}) {
    const std::int64_t n = std::isnan(ends[1]) ? 1 : 2;
    const auto out = interpolate<T, linear>({0, 10}, 3, {0, 1, 5, 1}, 1, ends, n, 1, 4, 4, 16, T(-1));
    for (std::int64_t s = 0; s < n; ++s) {
      EXPECT_EQ(dfd::site_at<df::site_hint::uniform>(ends.data(), n, s),
                s == 0 ? ends[0] : (ends[1] - ends[0]) * T(1) + ends[0]);
      EXPECT_NEAR(out[s], ends[s], 1e-5);
    }
  }
}

}  // namespace
}  // namespace qrx_test
