// Interpolation kernels and their dispatcher on the GPU-class device: values
// and derivatives against a plain host evaluation of the same coefficients,
// result layouts, refusals and dependencies.
#include <atomic>
#include <chrono>
#include <cmath>
#include <random>
#include <string>
#include <thread>

#include "data_fitting/exceptions.hpp"
#include "interpolate_test_support.hpp"

namespace qrx_test {
namespace {

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
      const T site = sh == df::site_hint::uniform ? (given[1] - given[0]) / T(n - 1) * T(s) + given[0] : given[s];
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
// combination of layout, site and partition hint, all orders.
TYPED_TEST(Kernels, EveryHintCombinationMatchesTheHostValuesAndDerivatives) {
  using T = typename TestFixture::T;
  const std::vector<T> ends{this->xs.front() - T(0.7), this->xs.back() + T(0.9)};
  for_each_value(dfd::interpolate_hint_list{}, [&](df::interpolate_hint ih) {
    for_each_value(dfd::site_hint_list{}, [&](df::site_hint sh) {
      for_each_value(dfd::partition_hint_list{}, [&](df::partition_hint ph) {
        const bool uniform = sh == df::site_hint::uniform;
        this->check(ph, sh, ih, 0b1111, uniform ? ends : this->sites, uniform ? 31 : 23);
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
