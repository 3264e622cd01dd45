// Evaluation and result layouts of the interpolation kernels on the
// GPU-class device, against a plain host evaluation of the same coefficients.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <type_traits>

#include "interpolate_test_support.hpp"

namespace qrx_test {
namespace {

using linear = df::linear_spline::default_type;
using cubic = df::cubic_spline::hermite;

// Derivative d at t of sum c[q] t^q (q < m), and the same sum over absolute
// values, which bounds the rounding of the evaluation.
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

// Index of order d of function f at site s in each documented layout.
std::int64_t slot(df::interpolate_hint ih, std::int64_t ny, std::int64_t n, std::int64_t K, std::int64_t f,
                  std::int64_t s, std::int64_t d) {
  switch (ih) {
    case df::interpolate_hint::funcs_sites_ders:
      return (f * n + s) * K + d;
    case df::interpolate_hint::funcs_ders_sites:
      return (f * K + d) * n + s;
    case df::interpolate_hint::sites_funcs_ders:
      return (s * ny + f) * K + d;
    case df::interpolate_hint::sites_ders_funcs:
      return (s * K + d) * ny + f;
  }
  return -1;
}

template <typename P>
class Kernels : public ::testing::Test {
 protected:
  using T = std::tuple_element_t<0, P>;
  using Kind = std::tuple_element_t<1, P>;
  static constexpr int m = std::is_same_v<Kind, linear> ? 2 : 4;  // coefficients per cell = orders
  static constexpr std::int64_t nx = 9, ny = 3;
  static constexpr T sentinel = T(-777.25);

  Kernels() {
    std::mt19937 gen(11);
    std::uniform_real_distribution<T> step(T(0.2), T(0.6)), coef(-2, 2);
    xs.push_back(T(0.3));
    while (std::int64_t(xs.size()) < nx) xs.push_back(xs.back() + step(gen));
    for (std::int64_t i = 0; i < (nx - 1) * ny * m; ++i) coeffs.push_back(coef(gen));
    std::uniform_real_distribution<T> site(xs.front() - 1, xs.back() + 1);
    for (int i = 0; i < 23; ++i) sites.push_back(site(gen));
  }

  T breakpoint(df::partition_hint ph, std::int64_t i) const {
    if (ph != df::partition_hint::uniform) return xs[i];
    return (xs.back() - xs.front()) / T(nx - 1) * T(i) + xs.front();
  }
  std::vector<T> partition(df::partition_hint ph) const {
    return ph == df::partition_hint::uniform ? std::vector<T>{xs.front(), xs.back()} : xs;
  }

  // Runs one interpolation of `given` sites (all of them, or the two ends of
  // n uniform ones) and checks every element of the results: the host
  // reference where an order is asked for and exists, the sentinel elsewhere,
  // including one element past the end.
  void check(df::partition_hint ph, df::site_hint sh, df::interpolate_hint ih, std::bitset<32> mask,
             const std::vector<T>& given, std::int64_t n) {
    SCOPED_TRACE(::testing::Message() << "hints " << value_of(ph) << "/" << value_of(sh) << "/" << value_of(ih)
                                      << " mask " << mask);
    const std::int64_t K = indicators(mask).count;
    device_spline<T> s(q, partition(ph), nx, coeffs);
    usm_array<T> x(q, given), out(q, std::vector<T>(ny * n * K + 1, sentinel));
    interpolate<T, Kind>(q, s, ny, x.data(), n, out.data(), mask, value_of(ph), value_of(sh), value_of(ih)).wait();
    std::vector<T> want(ny * n * K + 1, sentinel), tol(want.size(), 0);
    for (std::int64_t k = 0; k < n; ++k) {
      const T site = sh == df::site_hint::uniform
                         ? (given[1] - given[0]) / T(std::max<std::int64_t>(n - 1, 1)) * T(k) + given[0]
                         : given[k];
      std::int64_t cell = 0;
      while (cell < nx - 2 && site >= breakpoint(ph, cell + 1)) ++cell;
      const long double t = (long double)site - breakpoint(ph, cell);
      for (std::int64_t f = 0; f < ny; ++f) {
        const T* c = &coeffs[(f * (nx - 1) + cell) * m];
        for (int d = 0; d < std::min<int>(m, K); ++d) {
          if (!mask[d]) continue;
          const auto [v, bound] = derivative(c, m, d, t);
          const auto [v1, bound1] = derivative(c, m, d + 1, t);
          const std::int64_t i = slot(ih, ny, n, K, f, k, d);
          want[i] = T(v);
          tol[i] = 64 * std::numeric_limits<T>::epsilon() *
                   (bound + bound1 * (std::fabs(site) + std::fabs(breakpoint(ph, cell))));
        }
      }
    }
    for (std::size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(out[i], want[i], tol[i]) << "element " << i;
  }

  sycl::queue q = gpu_queue();
  std::vector<T> xs, coeffs, sites;
};

using Splines = ::testing::Types<std::tuple<float, linear>, std::tuple<double, linear>, std::tuple<float, cubic>,
                                 std::tuple<double, cubic>>;
TYPED_TEST_SUITE(Kernels, Splines);

// Every instantiated (layout, site, partition) combination, all orders.
TYPED_TEST(Kernels, MatchesHostReferenceForEveryHintCombination) {
  using T = typename TestFixture::T;
  for_each_value(dfd::interpolate_hint_list{}, [&](df::interpolate_hint ih) {
    for_each_value(dfd::site_hint_list{}, [&](df::site_hint sh) {
      for_each_value(dfd::partition_hint_list{}, [&](df::partition_hint ph) {
        if (sh == df::site_hint::uniform) {
          this->check(ph, sh, ih, 0b1111, {this->xs.front() - T(0.7), this->xs.back() + T(0.9)}, 31);
        } else {
          this->check(ph, sh, ih, 0b1111, this->sites, std::int64_t(this->sites.size()));
        }
      });
    });
  });
}

TYPED_TEST(Kernels, ExtrapolatesWithFirstAndLastCell) {
  using T = typename TestFixture::T;
  const std::vector<T> far{this->xs.front() - T(3), this->xs.front() - T(0.01), this->xs.back() + T(0.01),
                           this->xs.back() + T(3)};
  for_each_value(dfd::partition_hint_list{}, [&](df::partition_hint ph) {
    this->check(ph, df::site_hint::non_uniform, df::interpolate_hint::funcs_sites_ders, 0b1111, far, 4);
  });
}

// Masks with gaps and with orders the spline does not have: only asked-for,
// existing orders are written, each at its slot; K follows the highest bit.
TYPED_TEST(Kernels, EveryLayoutWritesOnlyRequestedOrdersAtTheirSlots) {
  const std::bitset<32> masks[] = {0b1, 0b10, 0b1001, 0b1111, 0b1000, 0b100001, 0b10000000};
  for_each_value(dfd::interpolate_hint_list{}, [&](df::interpolate_hint ih) {
    for (auto mask : masks) {
      this->check(df::partition_hint::non_uniform, df::site_hint::non_uniform, ih, mask, this->sites, 5);
    }
  });
}

// The polynomial of the spline's degree, written on each cell as its Taylor
// coefficients at the cell's left breakpoint, is reproduced with every
// derivative, inside and outside the partition.
TYPED_TEST(Kernels, ReproducesPolynomialsOfItsDegree) {
  using T = typename TestFixture::T;
  constexpr int m = TestFixture::m;
  const long double p[4] = {0.7L, -1.3L, 0.4L, -0.25L};
  for_each_value(dfd::partition_hint_list{}, [&](df::partition_hint ph) {
    std::vector<T> coeffs;
    for (std::int64_t k = 0; k < TestFixture::nx - 1; ++k) {
      const long double x = this->breakpoint(ph, k);
      const long double factorial[4] = {1, 1, 2, 6};
      for (int q = 0; q < m; ++q) coeffs.push_back(T(derivative(p, m, q, x).first / factorial[q]));
    }
    device_spline<T> s(this->q, this->partition(ph), TestFixture::nx, coeffs);
    usm_array<T> x(this->q, this->sites), out(this->q, std::vector<T>(this->sites.size() * 4, 0));
    const std::int64_t n = this->sites.size();
    interpolate<T, typename TestFixture::Kind>(this->q, s, 1, x.data(), n, out.data(), 0b1111, value_of(ph),
                                               value_of(df::site_hint::non_uniform),
                                               value_of(df::interpolate_hint::funcs_sites_ders))
        .wait();
    T pm[4] = {T(p[0]), T(p[1]), T(p[2]), T(p[3])};
    for (std::int64_t k = 0; k < n; ++k) {
      for (int d = 0; d < m; ++d) {
        const auto [v, bound] = derivative(pm, m, d, (long double)this->sites[k]);
        EXPECT_NEAR(out[k * 4 + d], v, 256 * std::numeric_limits<T>::epsilon() * (1 + bound)) << "order " << d;
      }
    }
  });
}

}  // namespace
}  // namespace qrx_test
