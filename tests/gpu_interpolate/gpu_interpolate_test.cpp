// GPU interpolation on the GPU-class device: the cell search (as a plain
// function on the host and inside a kernel), values and derivatives against a
// plain host evaluation of the same coefficients, result layouts, the
// dispatcher's refusals and dependencies.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "data_fitting/exceptions.hpp"
#include "data_fitting/hints.hpp"
#include "data_fitting/spline_types.hpp"
#include "detail/gpu/interpolate/cell_search.hpp"
#include "detail/gpu/interpolate/dispatch_interpolate.hpp"
#include "detail/gpu/interpolate/interpolate_hints.hpp"

namespace qrx_test {
namespace {

namespace df = velora::qrx::experimental::data_fitting;
namespace dfd = df::detail;
using linear = df::linear_spline::default_type;
using cubic = df::cubic_spline::hermite;

// Calls f(V) for every value of a hint list of the dispatch table.
template <typename T, T... Vs, typename F>
void for_each_value(dfd::value_list<T, Vs...>, F&& f) {
  (f(Vs), ...);
}

template <typename E>
std::int64_t value_of(E e) {
  return static_cast<std::int64_t>(e);
}

// A shared USM copy of v, freed with the returned pointer.
template <typename T>
auto usm(sycl::queue& q, const std::vector<T>& v) {
  auto release = [q](T* p) { sycl::free(p, q); };
  std::unique_ptr<T[], decltype(release)> p(sycl::malloc_shared<T>(std::max<std::size_t>(v.size(), 1), q), release);
  std::copy(v.begin(), v.end(), p.get());
  return p;
}

// Derivative count K and indicators of a mask, as the back-end derives them.
// Entries from K on are left as 1, where a caller leaves garbage: unread.
struct indicators {
  explicit indicators(std::bitset<32> mask) {
    for (int d = 0; d < 32; ++d) count = mask[d] ? d + 1 : count, flags[d] = mask[d];
    for (int d = count; d < 32; ++d) flags[d] = 1;
  }
  std::int32_t count = 0;
  std::int32_t flags[32] = {};
};

// One interpolation on the GPU-class device into ny*nsites*K + 1 elements
// that start as `fill`; the last one catches writes past the end.
template <typename T, typename Kind>
std::vector<T> interpolate(const std::vector<T>& partition, std::int64_t nx, const std::vector<T>& coeffs,
                           std::int64_t ny, const std::vector<T>& sites, std::int64_t nsites, std::bitset<32> mask,
                           std::int64_t ph, std::int64_t sh, std::int64_t ih, T fill) {
  sycl::queue q{sycl::gpu_selector_v};
  const indicators ind(mask);
  const std::size_t size = ny * nsites * ind.count + 1;
  auto p = usm(q, partition), c = usm(q, coeffs), x = usm(q, sites), out = usm(q, std::vector<T>(size, fill));
  auto cell = usm(q, std::vector<T*>{c.get()});
  dfd::dispatch_interpolate<T, Kind>(q, nx, ny, p.get(), cell.get(), x.get(), nsites, out.get(), ind.count, ind.flags,
                                     {}, ph, sh, ih)
      .wait();
  return std::vector<T>(out.get(), out.get() + size);
}

using cell_pair = std::pair<std::int64_t, std::int64_t>;
constexpr double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();

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

// One row of the boundary table in the comment of cell_search.hpp. The site
// is x[i] + offset on seven breakpoints x (uneven ones, or a = 0, b = 6 for
// uniform partitions), or offset alone when i < 0.
struct row {
  const char* name;
  int i;
  double offset;
  std::int64_t cell;  // -1: any cell in [0, 5]
};
class BoundaryTable : public ::testing::TestWithParam<row> {};

template <typename T>
void check_row(const row& r) {
  const std::vector<T> uneven{0, 0.5, 1.25, 2, 3.5, 4, 5};
  for_each_value(dfd::partition_hint_list{}, [&](df::partition_hint ph) {
    const bool uniform = ph == df::partition_hint::uniform;
    const std::vector<T> p = uniform ? std::vector<T>{0, 6} : uneven;
    const T site = r.i < 0 ? T(r.offset) : (uniform ? T(r.i) : uneven[r.i]) + T(r.offset);
    const auto [host, device] = cells(ph, p, p.data(), 7, {site})[0];
    for (std::int64_t got : {host, device}) {
      EXPECT_TRUE(r.cell < 0 ? got >= 0 && got <= 5 : got == r.cell) << "hint " << value_of(ph) << ": " << got;
    }
  });
}

TEST_P(BoundaryTable, HoldsForFloatAndDouble) {
  check_row<float>(GetParam());
  check_row<double>(GetParam());
}

INSTANTIATE_TEST_SUITE_P(CellSearch, BoundaryTable,
                         ::testing::Values(row{"LeftOfFirstBreakpoint", 0, -0.25, 0}, row{"FarLeft", -1, -1e30, 0},
                                           row{"MinusInfinity", -1, -inf, 0}, row{"AtFirstBreakpoint", 0, 0, 0},
                                           row{"AtFirstInteriorBreakpoint", 1, 0, 1},
                                           row{"AtInteriorBreakpoint", 3, 0, 3},
                                           row{"AtLastInteriorBreakpoint", 5, 0, 5}, row{"InsideACell", 2, 0.1, 2},
                                           row{"AtLastBreakpoint", 6, 0, 5}, row{"RightOfLastBreakpoint", 6, 0.25, 5},
                                           row{"FarRight", -1, 1e30, 5}, row{"PlusInfinity", -1, inf, 5},
                                           row{"NanSite", -1, nan, -1}),
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
  const std::vector<double> s{-inf, -2, 0, 0.5, 1, 3, 1e30, inf, nan},
      bad[] = {{3, 2, 1, 0, -1}, {1, 1, 1, 1, 1}, {0, 2, 1, 3, 2}, {nan, 0, nan, 1, nan}};
  const std::vector<T> sites(s.begin(), s.end());
  for (const auto& b : bad) {
    std::vector<T> p(b.begin(), b.end());
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

// Derivative d at t of sum c[q] t^q (q < m), and the same sum of absolute
// values, which bounds the rounding of its evaluation.
template <typename T>
std::pair<long double, long double> derivative(const T* c, int m, int d, long double t) {
  long double v = 0, bound = 0;
  for (int q = d; q < m; ++q) {
    long double f = 1;
    for (int r = 0; r < d; ++r) f *= q - r;
    v += f * c[q] * std::pow(t, q - d);
    bound += std::fabs(f * c[q]) * std::pow(std::fabs(t), q - d);
  }
  return {v, bound};
}

template <typename P>
class Kernels : public ::testing::Test {
 protected:
  using T = std::tuple_element_t<0, P>;
  using Kind = std::tuple_element_t<1, P>;
  static constexpr int m = std::is_same_v<Kind, linear> ? 2 : 4;  // coefficients per cell, orders
  static constexpr std::int64_t nx = 9, ny = 3;

  Kernels() {
    std::mt19937 gen(11);
    std::uniform_real_distribution<T> step(0.2, 0.6), coef(-2, 2);
    for (xs.push_back(0.3); std::int64_t(xs.size()) < nx;) xs.push_back(xs.back() + step(gen));
    for (std::int64_t i = 0; i < (nx - 1) * ny * m; ++i) coeffs.push_back(coef(gen));
    std::uniform_real_distribution<T> site(xs.front() - 1, xs.back() + 1);
    for (int i = 0; i < 21; ++i) sites.push_back(site(gen));
    sites.insert(sites.begin(), {xs.front() - 3, xs.back() + 3});  // far outside: first and last cell
  }
  T x(df::partition_hint ph, std::int64_t i) const {
    return ph != df::partition_hint::uniform ? xs[i] : (xs.back() - xs.front()) / T(nx - 1) * T(i) + xs.front();
  }

  // Every element of the results: the host value where an order is asked for
  // and exists, at the documented slot of its layout; untouched elsewhere.
  void check(df::partition_hint ph, df::site_hint sh, df::interpolate_hint ih, std::bitset<32> mask,
             const std::vector<T>& given, std::int64_t n) {
    SCOPED_TRACE(::testing::Message() << "hints " << value_of(ph) << " " << value_of(sh) << " " << value_of(ih)
                                      << " mask " << mask);
    const T untouched = -777.25;
    const std::vector<T> p = ph == df::partition_hint::uniform ? std::vector<T>{xs.front(), xs.back()} : xs;
    const auto out =
        interpolate<T, Kind>(p, nx, coeffs, ny, given, n, mask, value_of(ph), value_of(sh), value_of(ih), untouched);
    const std::int64_t K = indicators(mask).count;
    std::vector<T> want(out.size(), untouched), tol(out.size(), 0);
    for (std::int64_t s = 0; s < n; ++s) {
      const T step = n > 1 ? (given[1] - given[0]) / T(n - 1) : T(0);
      const T site = sh == df::site_hint::uniform ? step * T(s) + given[0] : given[s];
      std::int64_t cell = 0;
      while (cell < nx - 2 && site >= x(ph, cell + 1)) ++cell;
      for (std::int64_t f = 0; f < ny; ++f) {
        for (int d = 0; d < std::min<int>(m, K); ++d) {
          if (!mask[d]) continue;
          const std::int64_t slot[] = {(f * n + s) * K + d, (f * K + d) * n + s, (s * ny + f) * K + d,
                                       (s * K + d) * ny + f};
          const std::int64_t i = slot[ih == df::interpolate_hint::funcs_sites_ders   ? 0
                                      : ih == df::interpolate_hint::funcs_ders_sites ? 1
                                      : ih == df::interpolate_hint::sites_funcs_ders ? 2
                                                                                     : 3];
          const T* cc = &coeffs[(f * (nx - 1) + cell) * m];
          const auto [v, bound] = derivative(cc, m, d, (long double)site - x(ph, cell));
          const auto [v1, bound1] = derivative(cc, m, d + 1, (long double)site - x(ph, cell));
          want[i] = T(v);
          tol[i] =
              64 * std::numeric_limits<T>::epsilon() * (bound + bound1 * (std::fabs(site) + std::fabs(x(ph, cell))));
        }
      }
    }
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], want[i], tol[i]) << "element " << i;
  }

  std::vector<T> xs, coeffs, sites;
};
using Splines = ::testing::Types<std::tuple<float, linear>, std::tuple<double, linear>, std::tuple<float, cubic>,
                                 std::tuple<double, cubic>>;
TYPED_TEST_SUITE(Kernels, Splines);

// Sites inside and on both sides of the partition, every instantiated
// combination of layout, site and partition hint, all orders. One uniform
// site is the first (the NaN last site is not read); two are both ends.
TYPED_TEST(Kernels, EveryHintCombinationMatchesTheHostValuesAndDerivatives) {
  using T = typename TestFixture::T;
  const std::vector<T> ends{this->xs.front() - T(0.7), this->xs.back() + T(0.9)};
  const std::vector<T> first{this->xs[2], std::numeric_limits<T>::quiet_NaN()};
  for_each_value(dfd::interpolate_hint_list{}, [&](df::interpolate_hint ih) {
    for_each_value(dfd::site_hint_list{}, [&](df::site_hint sh) {
      for_each_value(dfd::partition_hint_list{}, [&](df::partition_hint ph) {
        if (sh != df::site_hint::uniform) return this->check(ph, sh, ih, 0b1111, this->sites, 23);
        for (std::int64_t n : {31, 2}) this->check(ph, sh, ih, 0b1111, ends, n);
        this->check(ph, sh, ih, 0b1111, first, 1);
      });
    });
  });
}

// Gaps in the mask, orders the spline lacks (a linear spline with only bit 3
// writes nothing), K from the highest bit.
TYPED_TEST(Kernels, OnlyRequestedExistingOrdersAreWrittenInEveryLayout) {
  for (std::bitset<32> mask : {0b1, 0b10, 0b1001, 0b1000, 0b100001, 0b10000000}) {
    for_each_value(dfd::interpolate_hint_list{}, [&](df::interpolate_hint ih) {
      this->check(df::partition_hint::non_uniform, df::site_hint::non_uniform, ih, mask, this->sites, 5);
    });
  }
}

// Invalid calls are refused on the calling thread, in the order interpolate,
// site and partition hint, nsites, sites, results; nothing is written.
TEST(Dispatch, RefusesInvalidArgumentsInOrderAndWritesNothing) {
  struct {
    std::int64_t ih, sh, ph, nsites;
    bool null_sites, null_results;
    const char* info;
  } const refusals[] = {
      {17, 2, 3, -1, true, true, "invalid interpolate hint"}, {16, 0, 3, -1, true, true, "invalid site hint"},
      {512, 64, 8, -1, true, true, "invalid partition hint"}, {256, 4, 2, -1, true, true, "nsites < 0"},
      {32, 1, 4, 2, true, true, "sites is nullptr"},          {16, 1, 1, 2, false, true, "results is nullptr"}};
  sycl::queue q{sycl::gpu_selector_v};
  auto p = usm<double>(q, {0, 1, 2}), c = usm<double>(q, {1, 2, 3, 2}), x = usm<double>(q, {0.5, 1.5});
  auto cell = usm<double*>(q, {c.get()});
  auto out = usm<double>(q, {-5, -5});
  const indicators ind(1);
  for (const auto& r : refusals) {
    try {
      dfd::dispatch_interpolate<double, linear>(q, 3, 1, p.get(), cell.get(), r.null_sites ? nullptr : x.get(),
                                                r.nsites, r.null_results ? nullptr : out.get(), 1, ind.flags, {}, r.ph,
                                                r.sh, r.ih);
      ADD_FAILURE() << "no exception for " << r.info;
    } catch (const velora::qrx::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()),
                std::string("velora::qrx::data_fitting::interpolate: invalid argument: ") + r.info);
    }
  }
  q.wait();
  EXPECT_TRUE(out[0] == -5 && out[1] == -5);
}

TEST(Dispatch, RefusesLaunchesOf2To31WorkItemsBeforeSubmitting) {
  sycl::queue q{sycl::gpu_selector_v};
  auto p = usm<double>(q, {0, 1, 2}), x = usm<double>(q, {0.5}), out = usm<double>(q, {-5});
  auto cell = usm<double*>(q, {nullptr});
  const indicators ind(1);
  for (auto [nsites, ny] : {std::pair<std::int64_t, std::int64_t>{std::int64_t(1) << 31, 1}, {1 << 16, 1 << 15}}) {
    try {
      dfd::dispatch_interpolate<double, cubic>(q, 3, ny, p.get(), cell.get(), x.get(), nsites, out.get(), 1, ind.flags,
                                               {}, 1, 1, 16);
      ADD_FAILURE() << "no exception";
    } catch (const sycl::exception& e) {
      EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::nd_range));
    }
  }
}

// The kernel waits for its dependencies: here a slow host task writes the
// coefficients (1 + 2x on [0, 2]). The indicators are overwritten right after
// the call returns, before the kernel runs. nsites = 0 needs no arrays.
TEST(Dispatch, FollowsDependenciesAndCopiesTheIndicators) {
  sycl::queue q{sycl::gpu_selector_v};
  auto p = usm<double>(q, {0, 1, 2}), c = usm<double>(q, {0, 0, 0, 0}), x = usm<double>(q, {1.5});
  auto cell = usm<double*>(q, {c.get()});
  auto out = usm<double>(q, {-5, -5});
  auto ind = std::make_unique<indicators>(0b10);
  double* coeffs = c.get();
  const sycl::event written = q.submit([&](sycl::handler& h) {
    h.host_task([coeffs] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      for (int i = 0; i < 4; ++i) coeffs[i] = i % 2 == 0 ? 1 + i : 2;
    });
  });
  sycl::event done = dfd::dispatch_interpolate<double, linear>(q, 3, 1, p.get(), cell.get(), x.get(), 1, out.get(),
                                                               ind->count, ind->flags, {written}, 1, 1, 16);
  std::fill(std::begin(ind->flags), std::end(ind->flags), 1);
  done.wait();
  EXPECT_TRUE(out[0] == -5 && out[1] == 2) << out[0] << " " << out[1];
  dfd::dispatch_interpolate<double, linear>(q, 3, 1, p.get(), cell.get(), nullptr, 0, nullptr, 1, ind->flags, {written},
                                            1, 1, 16)
      .wait();
}

}  // namespace
}  // namespace qrx_test
