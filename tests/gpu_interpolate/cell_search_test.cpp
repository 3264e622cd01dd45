// Cell search boundary table: one test per row, for every partition hint,
// checked on the host (plain function calls) and through a kernel on the
// GPU-class device, whose cell shows as the slope of a linear spline whose
// slope on cell k is k (whatever the site, infinite ones included).
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "detail/gpu/interpolate/cell_search.hpp"
#include "detail/gpu/interpolate/site_at.hpp"
#include "interpolate_test_support.hpp"

namespace qrx_test {
namespace {

using linear = df::linear_spline::default_type;

template <typename T>
std::int64_t host_cell(df::partition_hint ph, const T* p, std::int64_t nx, T x) {
  std::int64_t cell = -1;
  dfd::select(dfd::partition_hint_list{}, ph, [&](auto h) { cell = dfd::find_cell<h.value>(p, nx, x); });
  return cell;
}

template <typename T>
std::vector<std::int64_t> device_cells(sycl::queue& q, df::partition_hint ph, const std::vector<T>& p, std::int64_t nx,
                                       const std::vector<T>& sites) {
  std::vector<T> coeffs;
  for (std::int64_t k = 0; k < nx - 1; ++k) coeffs.insert(coeffs.end(), {T(0), T(k)});
  device_spline<T> s(q, p, nx, coeffs);
  usm_array<T> x(q, sites), out(q, std::vector<T>(2 * sites.size(), T(-1)));
  interpolate<T, linear>(q, s, 1, x.data(), std::int64_t(sites.size()), out.data(), 0b10, value_of(ph),
                         value_of(df::site_hint::non_uniform), value_of(df::interpolate_hint::funcs_sites_ders))
      .wait();
  std::vector<std::int64_t> cells;
  for (std::size_t i = 0; i < sites.size(); ++i) cells.push_back(static_cast<std::int64_t>(out[2 * i + 1]));
  return cells;
}

// The partition of each hint: nx = 7 breakpoints, uneven for non_uniform and
// quasi_uniform, a = 0 and b = 6 (exact breakpoints 0..6) for uniform.
template <typename T>
class CellSearch : public ::testing::Test {
 protected:
  static constexpr std::int64_t nx = 7;
  std::vector<T> partition(df::partition_hint ph) const {
    if (ph == df::partition_hint::uniform) return {0, 6};
    return {0, 0.5, 1.25, 2, 3.5, 4, 5};
  }
  T breakpoint(df::partition_hint ph, std::int64_t i) const {
    return ph == df::partition_hint::uniform ? T(i) : partition(ph)[i];
  }
  // Expects `expected(ph, site)` (or, with -1, any cell in [0, nx - 2]) on host and device.
  template <typename Sites, typename Expected>
  void expect_cells(Sites sites_of, Expected expected) {
    for_each_value(dfd::partition_hint_list{}, [&](df::partition_hint ph) {
      const std::vector<T> p = partition(ph), sites = sites_of(ph);
      const std::vector<std::int64_t> on_device = device_cells(q, ph, p, nx, sites);
      for (std::size_t i = 0; i < sites.size(); ++i) {
        const std::int64_t want = expected(ph, i);
        for (std::int64_t got : {host_cell(ph, p.data(), nx, sites[i]), on_device[i]}) {
          SCOPED_TRACE(::testing::Message() << "hint " << value_of(ph) << " site " << sites[i]);
          if (want >= 0) {
            EXPECT_EQ(got, want);
          }
          EXPECT_TRUE(got >= 0 && got <= nx - 2) << got;
        }
      }
    });
  }
  sycl::queue q = gpu_queue();
};
using FpTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(CellSearch, FpTypes);

template <typename T>
constexpr T inf = std::numeric_limits<T>::infinity();

TYPED_TEST(CellSearch, LeftOfFirstBreakpointTakesFirstCell) {
  using T = TypeParam;
  this->expect_cells(
      [](auto) {
        return std::vector<T>{T(-0.25), T(-1e30), std::numeric_limits<T>::lowest(), -inf<T>};
      },
      [](auto, auto) { return 0; });
}

TYPED_TEST(CellSearch, FirstBreakpointTakesFirstCell) {
  this->expect_cells([](auto) { return std::vector<TypeParam>{0}; }, [](auto, auto) { return 0; });
}

TYPED_TEST(CellSearch, InteriorBreakpointTakesCellToItsRight) {
  this->expect_cells(
      [&](auto ph) {
        std::vector<TypeParam> x;
        for (std::int64_t i = 1; i < this->nx - 1; ++i) x.push_back(this->breakpoint(ph, i));
        return x;
      },
      [](auto, std::size_t i) { return std::int64_t(i) + 1; });
}

TYPED_TEST(CellSearch, InsideCellTakesThatCell) {
  this->expect_cells(
      [&](auto ph) {
        std::vector<TypeParam> x;
        for (std::int64_t i = 0; i < this->nx - 1; ++i)
          x.push_back((this->breakpoint(ph, i) + this->breakpoint(ph, i + 1)) / 2);
        return x;
      },
      [](auto, std::size_t i) { return std::int64_t(i); });
}

TYPED_TEST(CellSearch, LastBreakpointAndBeyondTakeLastCell) {
  using T = TypeParam;
  this->expect_cells(
      [&](auto ph) {
        const T last = this->breakpoint(ph, this->nx - 1);
        return std::vector<T>{last, last + T(0.25), T(1e30), std::numeric_limits<T>::max(), inf<T>};
      },
      [&](auto, auto) { return this->nx - 2; });
}

TYPED_TEST(CellSearch, NanSiteStaysInRange) {
  this->expect_cells([](auto) { return std::vector<TypeParam>{std::numeric_limits<TypeParam>::quiet_NaN()}; },
                     [](auto, auto) { return -1; });
}

// x = a + i*h may round so that (x - a)/h falls just below i: the cell is
// then i - 1, whose polynomial also reaches x.
TYPED_TEST(CellSearch, UniformInteriorBreakpointRoundsToEitherNeighbour) {
  using T = TypeParam;
  const std::int64_t nx = 11;
  const std::vector<T> p{T(0.1), T(0.7)};
  const T h = (p[1] - p[0]) / T(nx - 1);
  std::vector<T> sites;
  for (std::int64_t i = 1; i < nx - 1; ++i) sites.push_back(p[0] + T(i) * h);
  const auto ph = df::partition_hint::uniform;
  const std::vector<std::int64_t> on_device = device_cells(this->q, ph, p, nx, sites);
  for (std::int64_t i = 1; i < nx - 1; ++i) {
    const T x = sites[i - 1];
    EXPECT_EQ(host_cell(ph, p.data(), nx, x), static_cast<std::int64_t>((x - p[0]) / h));
    EXPECT_TRUE(on_device[i - 1] == i || on_device[i - 1] == i - 1) << on_device[i - 1];
  }
}

// Pages around an array make every read outside it fault: one copy starts
// right after an inaccessible page, another ends right before one.
template <typename T>
class guarded {
 public:
  explicit guarded(const std::vector<T>& v) : page_(sysconf(_SC_PAGESIZE)) {
    base_ = static_cast<char*>(mmap(nullptr, 3 * page_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base_ + page_, page_, PROT_READ | PROT_WRITE);
    const std::size_t bytes = v.size() * sizeof(T);
    at_start = reinterpret_cast<T*>(base_ + page_);
    at_end = reinterpret_cast<T*>(base_ + 2 * page_ - bytes);
    std::memcpy(at_start, v.data(), bytes);
    std::memcpy(at_end, v.data(), bytes);
  }
  ~guarded() { munmap(base_, 3 * page_); }
  T* at_start;
  T* at_end;

 private:
  std::size_t page_;
  char* base_;
};

TYPED_TEST(CellSearch, BadPartitionsStayInRangeAndInsideTheArray) {
  using T = TypeParam;
  const T nan = std::numeric_limits<T>::quiet_NaN();
  const std::vector<T> sites{-inf<T>, T(-2), T(0), T(0.5), T(1), T(3), T(1e30), inf<T>, nan};
  const std::vector<std::vector<T>> bad{{3, 2, 1, 0, -1}, {1, 1, 1, 1, 1}, {0, 2, 1, 3, 2}, {nan, 0, nan, 1, nan}};
  for (const auto& p : bad) {
    for_each_value(dfd::partition_hint_list{}, [&](df::partition_hint ph) {
      const std::int64_t nx = 5;
      const std::vector<T> given = ph == df::partition_hint::uniform ? std::vector<T>{p[0], p[1]} : p;
      const guarded<T> g(given);
      const std::vector<std::int64_t> on_device = device_cells(this->q, ph, given, nx, sites);
      for (std::size_t i = 0; i < sites.size(); ++i) {
        for (std::int64_t c :
             {host_cell(ph, g.at_start, nx, sites[i]), host_cell(ph, g.at_end, nx, sites[i]), on_device[i]}) {
          EXPECT_TRUE(c >= 0 && c <= nx - 2) << "hint " << value_of(ph) << " site " << sites[i] << ": " << c;
        }
      }
    });
  }
}

// On increasing partitions both searches give the upper-bound cell of a plain
// search, for sites inside, outside and on breakpoints.
TYPED_TEST(CellSearch, QuasiUniformEqualsNonUniformOnRandomPartitions) {
  using T = TypeParam;
  std::mt19937 gen(7);
  for (std::int64_t nx : {2, 3, 17, 1000}) {
    for (T jitter : {T(0.1), T(0.9), T(20)}) {
      std::uniform_real_distribution<T> step(T(0.05), T(0.05) + jitter);
      std::vector<T> p{T(-1)};
      while (std::int64_t(p.size()) < nx) p.push_back(p.back() + step(gen));
      std::uniform_real_distribution<T> site(p.front() - 1, p.back() + 1);
      std::vector<T> sites(p);
      for (int i = 0; i < 200; ++i) sites.push_back(site(gen));
      const auto non = device_cells(this->q, df::partition_hint::non_uniform, p, nx, sites);
      const auto quasi = device_cells(this->q, df::partition_hint::quasi_uniform, p, nx, sites);
      for (std::size_t i = 0; i < sites.size(); ++i) {
        const std::int64_t j = std::upper_bound(p.begin(), p.end(), sites[i]) - p.begin();
        const std::int64_t want = std::clamp<std::int64_t>(j - 1, 0, nx - 2);
        EXPECT_EQ(host_cell(df::partition_hint::non_uniform, p.data(), nx, sites[i]), want);
        EXPECT_EQ(host_cell(df::partition_hint::quasi_uniform, p.data(), nx, sites[i]), want);
        EXPECT_EQ(non[i], want);
        EXPECT_EQ(quasi[i], want) << "nx " << nx << " site " << sites[i];
      }
    }
  }
}

// Uniform sites: one site is sites[0] alone (sites[1] is not read); with two,
// the second is computed as (sites[1] - sites[0])*1 + sites[0].
TYPED_TEST(CellSearch, UniformSitesExpandFromTheirEnds) {
  using T = TypeParam;
  const T nan = std::numeric_limits<T>::quiet_NaN();
  const std::vector<T> one{T(3.25), nan}, two{T(1.5), T(7.2)};
  EXPECT_EQ(dfd::site_at<df::site_hint::uniform>(one.data(), 1, 0), T(3.25));
  EXPECT_EQ(dfd::site_at<df::site_hint::uniform>(two.data(), 2, 1), (two[1] - two[0]) * T(1) + two[0]);
  // Device: the spline x on [0, 10] (c0 = 0, c1 = 1) returns the site.
  device_spline<T> s(this->q, {0, 10}, 3, {0, 1, 5, 1});
  for (const auto& [given, n] : {std::pair{one, 1}, std::pair{two, 2}}) {
    usm_array<T> x(this->q, given), out(this->q, {nan, nan});
    interpolate<T, linear>(this->q, s, 1, x.data(), n, out.data(), 1, value_of(df::partition_hint::uniform),
                           value_of(df::site_hint::uniform), value_of(df::interpolate_hint::funcs_sites_ders))
        .wait();
    for (int i = 0; i < n; ++i) EXPECT_NEAR(out[i], dfd::site_at<df::site_hint::uniform>(given.data(), n, i), 1e-5);
  }
}

}  // namespace
}  // namespace qrx_test
