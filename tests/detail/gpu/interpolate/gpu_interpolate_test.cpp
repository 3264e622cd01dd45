// GPU interpolation on the GPU-class device: the cell search (a plain function on the host and inside a kernel),
// values and derivatives against a host evaluation of the same coefficients, layouts, the dispatcher.
#include <sys/mman.h>
#include <unistd.h>

#include <bitset>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>
#include <thread>

#include "detail/gpu/interpolate/cell_search.hpp"
#include "detail/gpu/interpolate/dispatch_interpolate.hpp"
#include "detail/gpu/interpolate/function_block.hpp"
#include "detail/interpolate_hints.hpp"
#include "detail/gpu/launch_range.hpp"
#include "support/spline_test_support.hpp"
#include "support/uniform_breakpoints.hpp"

namespace spline_test {

// The uniform search of contracted_cell_search.cpp, compiled with contraction into fused multiply-adds.
std::int64_t contracted_uniform_cell(const float* p, std::int64_t nx, float x);
std::int64_t contracted_uniform_cell(const double* p, std::int64_t nx, double x);

namespace {

namespace dfd = df::detail;
using df::partition_hint;
using std::vector;

// Calls f(V) for every value of a hint list of the dispatch table.
template <typename T, T... Vs, typename F>
void for_each_value(dfd::value_list<T, Vs...>, F&& f) {
  (f(Vs), ...);
}

// Derivative count K and indicators of a mask; entries from K on are 1, like garbage a caller may leave: unread.
struct indicators {
  explicit indicators(std::bitset<32> mask) {
    for (int d = 0; d < 32; ++d) count = mask[d] ? d + 1 : count, flags[d] = mask[d];
    for (int d = count; d < 32; ++d) flags[d] = 1;
  }
  std::int32_t count = 0, flags[32] = {};
};

// One interpolation into ny*nsites*K + 1 elements that start as `fill`; the last catches writes past the end.
// block 0 lets the dispatcher pick how many functions a work-item evaluates; `refused` is what the kernels read as
// the outcome of the construction.
template <typename T, typename Kind>
vector<T> interpolate(const vector<T>& partition, std::int64_t nx, const vector<T>& coeffs, std::int64_t ny,
                      const vector<T>& sites, std::int64_t nsites, std::bitset<32> mask, std::int64_t ph,
                      std::int64_t sh, std::int64_t ih, T fill, std::int64_t block = 0, std::int32_t refused = 0) {
  sycl::queue q = test_support::kernel_queue();
  const indicators ind(mask);
  usm_array<T> p(q, partition), c(q, coeffs), x(q, sites), out(q, ny * nsites * ind.count + 1, fill);
  usm_array<T*> cell(q, {c.get()});
  usm_array<std::int32_t> outcome(q, vector<std::int32_t>{refused});
  dfd::dispatch_interpolate<T, Kind>(q, nx, ny, p.get(), cell.get(), x.get(), nsites, out.get(), ind.count, ind.flags,
                                     {}, ph, sh, ih, outcome.get(), block)
      .wait();
  return out.to_vector();
}

using cell_pair = std::pair<std::int64_t, std::int64_t>;

// Whether the processor has the instructions contracted_cell_search.cpp may use.
bool contracted_search_runs() {
#ifdef QRX_TEST_CONTRACTED_NEEDS_FMA
  return __builtin_cpu_supports("fma");
#else
  return true;
#endif
}

constexpr double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();

// (host, device) cell of each site; the device shows it as the slope of a linear spline whose slope on cell k is k.
template <typename T>
vector<cell_pair> cells(partition_hint ph, const vector<T>& p, const T* host_p, std::int64_t nx, const vector<T>& x) {
  vector<T> coeffs;
  for (std::int64_t k = 0; k < nx - 1; ++k) coeffs.insert(coeffs.end(), {T(0), T(k)});
  const auto out = interpolate<T, linear>(p, nx, coeffs, 1, x, x.size(), 0b10, std::int64_t(ph), 1, 16, T(-1));
  vector<cell_pair> c(x.size());
  dfd::select(dfd::partition_hint_list{}, ph, [&](auto h) {
    // A NaN site gives NaN in every order: its kernel cell is not seen, only
    // that the search reads nothing outside the partition.
    for (std::size_t i = 0; i < x.size(); ++i) {
      const std::int64_t host = dfd::find_cell<h.value>(host_p, nx, x[i]);
      c[i] = {host, std::isnan(x[i]) ? host : std::int64_t(out[2 * i + 1])};
    }
  });
  return c;
}

// One row of the boundary table in cell_search.hpp: the site is x[i] + offset on seven breakpoints (uneven ones, or
// a = 0, b = 6 for uniform partitions), or offset alone when i < 0.
struct row {
  const char* name;
  int i;
  double offset;
  std::int64_t cell;  // -1: any cell in [0, 5]
};
class BoundaryTable : public ::testing::TestWithParam<row> {};

TEST_P(BoundaryTable, HoldsForFloatAndDouble) {
  const row& r = GetParam();
  auto check = [&](auto zero) {
    using T = decltype(zero);
    const vector<T> uneven{0, 0.5, 1.25, 2, 3.5, 4, 5};
    for_each_value(dfd::partition_hint_list{}, [&](partition_hint ph) {
      const bool uniform = ph == partition_hint::uniform;
      const vector<T> p = uniform ? vector<T>{0, 6} : uneven;
      const T site = r.i < 0 ? T(r.offset) : (uniform ? T(r.i) : uneven[r.i]) + T(r.offset);
      const auto [host, device] = cells(ph, p, p.data(), 7, {site})[0];
      for (std::int64_t got : {host, device})
        EXPECT_TRUE(r.cell < 0 ? got >= 0 && got <= 5 : got == r.cell) << "hint " << int(ph) << ": " << got;
    });
  };
  check(0.0f);
  check(0.0);
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
struct CellSearch : ::testing::Test {};
using fp_types = ::testing::Types<float, double>;
TYPED_TEST_SUITE(CellSearch, fp_types);

using test_support::uniform_breakpoint_site;

// Every interior breakpoint of uniform partitions of many sizes and ranges (cells of at least 64 units of rounding):
// the breakpoint lies within 4 units of rounding of a + i*h, the site on it gets cell i and the site just below it cell
// i - 1, on the host, in the kernel, and in a translation unit whose multiply-adds are contracted into fused ones.
TYPED_TEST(CellSearch, SitesOnUniformBreakpointsGetTheSameCellInEveryBuild) {
  using T = TypeParam;
  const std::pair<double, double> ranges[] = {{0, 1},         {-1, 1},      {0.1, 0.7}, {-3.7, -1.1},
                                              {1000, 1001.5}, {1e-3, 2e-3}, {-2e5, 3e5}};
  int failures = 0;
  for (auto [lo, hi] : ranges) {
    for (std::int64_t nx : {3, 4, 7, 10, 11, 100, 101, 1000, 4097, 65536}) {
      const vector<T> p{T(lo), T(hi)};
      const T h = (p[1] - p[0]) / T(nx - 1), ulp = std::numeric_limits<T>::epsilon() * std::max(-p[0], p[1]);
      if (h < 64 * ulp) continue;
      vector<T> x;
      for (std::int64_t i = 1; i < nx - 1; ++i) {
        const T on = uniform_breakpoint_site(p[0], p[1], nx, i);
        EXPECT_LE(std::abs(on - (p[0] + T(i) * h)), 4 * ulp) << lo << " " << hi << " " << nx << " " << i;
        x.insert(x.end(), {on, std::nextafter(on, p[0])});
      }
      const auto got = cells(partition_hint::uniform, p, p.data(), nx, x);
      for (std::size_t k = 0; k < x.size(); ++k) {
        const std::int64_t want = std::int64_t(k / 2) + (k % 2 == 0 ? 1 : 0);
        const std::int64_t contracted = contracted_search_runs() ? contracted_uniform_cell(p.data(), nx, x[k]) : want;
        if ((got[k] != cell_pair(want, want) || contracted != want) && ++failures <= 10)
          ADD_FAILURE() << "[" << lo << ", " << hi << "] nx " << nx << " site " << x[k] << ": cell " << want
                        << " expected, host " << got[k].first << ", kernel " << got[k].second << ", contracted "
                        << contracted;
      }
    }
  }
}

// A copy of v against the upper or the lower of two inaccessible pages: a read outside the array faults.
template <typename T>
std::shared_ptr<T> guarded(const vector<T>& v, bool at_end) {
  const std::size_t page = sysconf(_SC_PAGESIZE);
  char* base = static_cast<char*>(mmap(nullptr, 3 * page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  mprotect(base + page, page, PROT_READ | PROT_WRITE);
  T* p = reinterpret_cast<T*>(at_end ? base + 2 * page - v.size() * sizeof(T) : base + page);
  std::copy(v.begin(), v.end(), p);
  return std::shared_ptr<T>(p, [base, page](T*) { munmap(base, 3 * page); });
}

TYPED_TEST(CellSearch, BadPartitionsGiveSomeCellAndReadOnlyThePartition) {
  using T = TypeParam;
  const vector<double> s{-inf, -2, 0, 0.5, 1, 3, 1e30, inf, nan},
      bad[] = {{3, 2, 1, 0, -1}, {1, 1, 1, 1, 1}, {0, 2, 1, 3, 2}, {nan, 0, nan, 1, nan}};
  for (const auto& b : bad) {
    vector<T> p(b.begin(), b.end());
    for_each_value(dfd::partition_hint_list{}, [&](partition_hint ph) {
      if (ph == partition_hint::uniform) p.resize(2);
      for (bool at_end : {false, true}) {
        for (auto [host, device] : cells(ph, p, guarded(p, at_end).get(), 5, vector<T>(s.begin(), s.end())))
          EXPECT_TRUE(host >= 0 && host <= 3 && device >= 0 && device <= 3) << host << " " << device;
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
      vector<T> p{-1};
      while (std::int64_t(p.size()) < nx) p.push_back(p.back() + step(gen));
      vector<T> sites(p);
      std::uniform_real_distribution<T> site(p.front() - 1, p.back() + 1);
      for (int i = 0; i < 200; ++i) sites.push_back(site(gen));
      for (partition_hint ph : {partition_hint::non_uniform, partition_hint::quasi_uniform}) {
        const auto got = cells(ph, p, p.data(), nx, sites);
        for (std::size_t i = 0; i < sites.size(); ++i) {
          const std::int64_t cell =
              std::clamp<std::int64_t>(std::upper_bound(p.begin(), p.end(), sites[i]) - p.begin() - 1, 0, nx - 2);
          EXPECT_EQ(got[i], cell_pair(cell, cell)) << "hint " << int(ph) << " nx " << nx << " site " << sites[i];
        }
      }
    }
  }
}

template <typename P>
struct Kernels : ::testing::Test {
  using T = std::tuple_element_t<0, P>;
  using Kind = std::tuple_element_t<1, P>;
  static constexpr int m = std::is_same_v<Kind, linear> ? 2 : 4;  // coefficients per cell, orders
  static constexpr std::int64_t nx = 9, max_ny = 7;

  Kernels() {  // uneven breakpoints on about [0.3, 3.5]; sites from 3 beyond one end to 3 beyond the other
    for (int i = 0; i < nx; ++i) xs.push_back(T(0.3 + 0.4 * i + 0.15 * std::sin(3.0 * i)));
    for (int i = 0; i < (nx - 1) * max_ny * m; ++i) coeffs.push_back(T(2 * std::sin(1.7 * i + 1)));
    for (int i = 0; i < 23; ++i) sites.push_back(xs[0] - 3 + (xs[nx - 1] - xs[0] + 6) * T(std::fmod(0.618 * i, 1.0)));
  }
  T x(partition_hint ph, std::int64_t i) const {
    return ph != partition_hint::uniform ? xs[i] : (xs.back() - xs.front()) / T(nx - 1) * T(i) + xs.front();
  }

  // Every element of the results of ny functions, block of them to a work-item (0: the dispatcher's choice): the
  // host value where an order is asked for and exists, at the documented slot of its layout; untouched elsewhere.
  void check(partition_hint ph, df::site_hint sh, df::interpolate_hint ih, std::bitset<32> mask, const vector<T>& given,
             std::int64_t n, std::int64_t ny = 3, std::int64_t block = 0) {
    SCOPED_TRACE(::testing::Message() << "hints " << int(ph) << " " << int(sh) << " " << int(ih) << " mask " << mask
                                      << " nsites " << n << " ny " << ny << " block " << block);
    const vector<T> p = ph == partition_hint::uniform ? vector<T>{xs.front(), xs.back()} : xs;
    const auto out = interpolate<T, Kind>(p, nx, coeffs, ny, given, n, mask, std::int64_t(ph), std::int64_t(sh),
                                          std::int64_t(ih), T(-777.25), block);
    const std::int64_t K = indicators(mask).count;
    vector<T> want(out.size(), T(-777.25)), tol(out.size(), 0);  // untouched where nothing is asked for
    for (std::int64_t s = 0; s < n; ++s) {
      const T step = n > 1 ? (given[1] - given[0]) / T(n - 1) : T(0),
              site = sh == df::site_hint::uniform ? step * T(s) + given[0] : given[s];
      std::int64_t cell = 0;
      while (cell < nx - 2 && site >= x(ph, cell + 1)) ++cell;
      for (std::int64_t f = 0; f < ny; ++f) {
        for (int d = 0; d < std::min<int>(m, K); ++d) {
          if (!mask[d]) continue;
          const std::int64_t i = ih == df::interpolate_hint::funcs_sites_ders   ? (f * n + s) * K + d
                                 : ih == df::interpolate_hint::funcs_ders_sites ? (f * K + d) * n + s
                                 : ih == df::interpolate_hint::sites_funcs_ders ? (s * ny + f) * K + d
                                                                                : (s * K + d) * ny + f;
          // Rounding bound: the magnitudes of the terms, and of the next order times the error of t.
          const T* cc = &coeffs[(f * (nx - 1) + cell) * m];
          T mag[m];
          std::transform(cc, cc + m, mag, [](T v) { return std::abs(v); });
          const double t = double(site) - x(ph, cell), error_of_t = std::abs(site) + std::abs(x(ph, cell));
          want[i] = T(piece(cc, m, t, d));
          tol[i] =
              tolerance<T>(0.25) * (piece(mag, m, std::abs(t), d) + piece(mag, m, std::abs(t), d + 1) * error_of_t);
        }
      }
    }
    for (std::size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], want[i], tol[i]) << "element " << i;
  }

  vector<T> xs, coeffs, sites;
};
TYPED_TEST_SUITE(Kernels, spline_types);

// Sites inside and on both sides of the partition, every instantiated combination of layout, site and partition
// hint, all orders; also masks with gaps, orders the spline lacks (a linear spline with only bit 3 writes nothing)
// and K from the highest bit. One uniform site is the first (the NaN last site is not read); two are both ends.
TYPED_TEST(Kernels, EveryHintCombinationAndMaskMatchesTheHostValuesAndDerivatives) {
  using T = typename TestFixture::T;
  const vector<T> ends{this->xs.front() - T(0.7), this->xs.back() + T(0.9)},
      first{this->xs[2], std::numeric_limits<T>::quiet_NaN()};
  for_each_value(dfd::interpolate_hint_list{}, [&](df::interpolate_hint ih) {
    for_each_value(dfd::site_hint_list{}, [&](df::site_hint sh) {
      for_each_value(dfd::partition_hint_list{}, [&](partition_hint ph) {
        if (sh == df::site_hint::uniform) {
          for (std::int64_t n : {31, 2}) this->check(ph, sh, ih, 0b1111, ends, n);
          return this->check(ph, sh, ih, 0b1111, first, 1);
        }
        for (std::bitset<32> mask : {0b1111, 0b1, 0b10, 0b1001, 0b1000, 0b100001, 0b10000000})
          this->check(ph, sh, ih, mask, this->sites, 23);
      });
    });
  });
}

// A work-item finds its site's cell once and evaluates a block of functions there: blocks of one function, of
// several that divide ny or not (the last block is short), of all and of more than ny, for every layout, site and
// partition hint, with many sites and with one. Behind a refused construction no block writes anything.
TYPED_TEST(Kernels, BlocksOfFunctionsMatchTheHostValuesInEveryLayout) {
  using T = typename TestFixture::T;
  const vector<T> ends{this->xs.front() - T(0.7), this->xs.back() + T(0.9)};
  for_each_value(dfd::interpolate_hint_list{}, [&](df::interpolate_hint ih) {
    for_each_value(dfd::site_hint_list{}, [&](df::site_hint sh) {
      for_each_value(dfd::partition_hint_list{}, [&](partition_hint ph) {
        const vector<T>& sites = sh == df::site_hint::uniform ? ends : this->sites;
        for (std::int64_t n : {sh == df::site_hint::uniform ? 31 : 23, 1}) {
          for (std::int64_t block : {1, 2, 3, 7, 8}) this->check(ph, sh, ih, 0b111, sites, n, this->max_ny, block);
          this->check(ph, sh, ih, 0b1011, sites, n, 5, 0);
          for (std::int64_t block : {0, 3}) {
            const vector<T> p = ph == partition_hint::uniform ? vector<T>{this->xs.front(), this->xs.back()} : this->xs;
            const auto out = interpolate<T, typename TestFixture::Kind>(
                p, this->nx, this->coeffs, this->max_ny, sites, n, 0b111, std::int64_t(ph), std::int64_t(sh),
                std::int64_t(ih), T(-5), block, 1);
            EXPECT_EQ(std::count(out.begin(), out.end(), T(-5)), std::int64_t(out.size())) << "refused, block " << block;
          }
        }
      });
    });
  });
}

// Each call gets blocks of at least one function and at most ny, whose work-items cover every (function, site) pair
// and stay below 2^31.
TEST(FunctionBlock, CoversEveryPairWithFewerWorkItemsThanPairs) {
  for (std::int64_t nsites : {1, 2, 1000, 1 << 14, 1 << 20, std::int32_t(dfd::max_work_items)}) {
    for (std::int64_t ny : {1, 2, 3, 16, 31, 33, 1000, 1 << 20}) {
      if (nsites > dfd::max_work_items / ny) continue;
      const std::int64_t block = dfd::function_block(nsites, ny);
      const std::int64_t items = dfd::function_block_work_items(nsites, ny, block);
      EXPECT_TRUE(block >= 1 && block <= std::min(ny, dfd::max_function_block)) << nsites << " " << ny << " " << block;
      EXPECT_TRUE(items * block >= nsites * ny && items <= nsites * ny) << nsites << " " << ny << " " << block;
    }
  }
}

// Invalid calls are refused on the calling thread before anything is submitted, in the order interpolate, site
// and partition hint, nsites, sites, results; launches of 2^31 work-items or more with nd_range. A valid call waits
// for its dependencies (a slow host task writes the coefficients 1 + 2x on [0, 2]) and copies the indicators,
// overwritten right after it returns; nsites = 0 needs no arrays.
TEST(Dispatch, RefusesInOrderThenFollowsDependenciesAndCopiesTheIndicators) {
  sycl::queue q = test_support::kernel_queue();
  usm_array<double> p(q, {0, 1, 2}), c(q, 4), x(q, std::vector<double>{1.5}), out(q, {-5, -5});
  usm_array<double*> cell(q, {c.get()});
  indicators ind(0b10);
  auto dispatch = [&](double* sites, std::int64_t n, double* results, std::int64_t ny, std::int64_t ph, std::int64_t sh,
                      std::int64_t ih, const vector<sycl::event>& deps = {}) {
    return dfd::dispatch_interpolate<double, linear>(q, 3, ny, p.get(), cell.get(), sites, n, results, ind.count,
                                                     ind.flags, deps, ph, sh, ih);
  };
  const struct {
    std::int64_t ih, sh, ph, nsites;  // the sites are given when nsites is 2, the results never
    const char* info;
  } refusals[] = {{17, 2, 3, -1, "invalid interpolate hint"}, {16, 0, 3, -1, "invalid site hint"},
                  {512, 64, 8, -1, "invalid partition hint"}, {256, 4, 2, -1, "nsites < 0"},
                  {32, 1, 4, 1, "sites is nullptr"},          {16, 1, 1, 2, "results is nullptr"}};
  for (const auto& r : refusals) {
    auto call = [&] { dispatch(r.nsites == 2 ? x.get() : nullptr, r.nsites, nullptr, 1, r.ph, r.sh, r.ih); };
    expect_invalid(call, "interpolate", r.info);
  }
  for (auto [nsites, ny] : {std::pair<std::int64_t, std::int64_t>{std::int64_t(1) << 31, 1}, {1 << 16, 1 << 15}}) {
    try {
      dispatch(x.get(), nsites, out.get(), ny, 1, 1, 16);
      ADD_FAILURE() << "no exception";
    } catch (const sycl::exception& e) {
      EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::nd_range));
    }
  }
  const sycl::event written = test_support::host_work(q, [coeffs = c.get()] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (int i = 0; i < 4; ++i) coeffs[i] = i % 2 == 0 ? 1 + i : 2;
  });
  sycl::event done = dispatch(x.get(), 1, out.get(), 1, 1, 1, 16, {written});
  std::fill(std::begin(ind.flags), std::end(ind.flags), 1);
  done.wait();
  EXPECT_TRUE(out[0] == -5 && out[1] == 2) << out[0] << " " << out[1];
  dispatch(nullptr, 0, nullptr, 1, 1, 1, 16, {written}).wait();
}

}  // namespace
}  // namespace spline_test
