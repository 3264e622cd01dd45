// One behavioural suite, run on the GPU-class and the CPU device: both
// back-ends must produce the same coefficients and the same results, within
// a few units of rounding, for every hint, boundary kind, layout and mask;
// and each must reproduce the polynomials its spline kind can represent,
// inside the partition and beyond its ends.

#include <algorithm>
#include <cmath>

#include "support/backend_fixture.hpp"

namespace backend_test {
namespace {

using df::bc_type;
using df::function_hint;
using df::interpolate_hint;
using df::partition_hint;
using df::site_hint;

const partition_hint partition_hints[] = {partition_hint::non_uniform, partition_hint::quasi_uniform,
                                          partition_hint::uniform};
const function_hint function_hints[] = {function_hint::row_major, function_hint::col_major};
const site_hint site_hints[] = {site_hint::non_uniform, site_hint::uniform, site_hint::kind_64};
const interpolate_hint layouts[] = {interpolate_hint::funcs_sites_ders, interpolate_hint::funcs_ders_sites,
                                    interpolate_hint::sites_funcs_ders, interpolate_hint::sites_ders_funcs};
// values; all four orders; derivatives only; a single high order
const unsigned long masks[] = {0b1, 0b1111, 0b0110, 0b1000};

// Every accepted boundary-condition kind, as the calls that record it.
std::vector<std::vector<bc_type>> boundary_kinds() {
  return {{},
          {bc_type::kind_1},
          {bc_type::free_end},
          {bc_type::first_left_der, bc_type::first_right_der},
          {bc_type::second_left_der, bc_type::first_right_der},
          {bc_type::first_left_der, bc_type::second_right_der},
          {bc_type::second_left_der, bc_type::second_right_der},
          {bc_type::periodic},
          {bc_type::kind_128}};
}

// Smooth functions whose first and last values agree, so that every kind,
// periodic included, is accepted by both back-ends.
double wave(std::int64_t f, double x, int order) {
  const double w = 2 * M_PI / 3.75, p = w * (x + 1.25);
  const double scale = 1 + 0.5 * double(f);
  return order == 0 ? scale * std::sin(p) + double(f) : scale * w * std::cos(p);
}

template <typename T>
double ulp_scale(const std::vector<T>& v) {
  double m = 1;
  for (T e : v)
    if (std::isfinite(double(e))) m = std::max(m, std::abs(double(e)));
  return m;
}

template <typename T>
void expect_close(const std::vector<T>& gpu, const std::vector<T>& cpu, const std::string& what) {
  ASSERT_EQ(gpu.size(), cpu.size()) << what;
  const double tol = 64 * std::numeric_limits<T>::epsilon() * ulp_scale(gpu);
  for (std::size_t i = 0; i < gpu.size(); ++i)
    ASSERT_NEAR(double(gpu[i]), double(cpu[i]), tol) << what << " at element " << i;
}

template <typename C>
class BackendsAgree : public ::testing::Test {};
TYPED_TEST_SUITE(BackendsAgree, configs);

TYPED_TEST(BackendsAgree, CoefficientsAndResultsForEveryHintKindLayoutAndMask) {
  using T = typename TypeParam::fp;
  using S = typename TypeParam::kind;
  const auto kinds = std::is_same_v<S, hermite> ? boundary_kinds() : std::vector<std::vector<bc_type>>{{}};
  const std::int64_t nx = 11, ny = 3, nsites = 23;
  const T sentinel = T(-12345);

  // Unsorted sites, some outside the partition; the sorted copy for kind_64;
  // the two ends for uniform sites.
  std::vector<T> unsorted;
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-2.0, 3.5);
  for (std::int64_t s = 0; s < nsites; ++s) unsorted.push_back(T(u(rng)));
  std::vector<T> sorted = unsorted;
  std::sort(sorted.begin(), sorted.end());
  const std::vector<T> ends = {T(-1.75), T(2.75)};

  for (partition_hint ph : partition_hints)
    for (function_hint fh : function_hints)
      for (const auto& kind : kinds) {
        auto data = sample<T>(nx, ny, ph, fh, wave);
        data.bc_kinds = kind;
        data.bc_left = T(0.75);
        data.bc_right = T(-0.5);
        const std::string where = "partition " + std::to_string(int(ph)) + ", functions " +
                                  std::to_string(int(fh)) + ", boundary kinds " + std::to_string(kind.size());
        built_spline<T, S> gpu(backend::gpu, data), cpu(backend::cpu, data);
        expect_close(gpu.c.to_vector(), cpu.c.to_vector(), "coefficients, " + where);

        for (site_hint sh : site_hints)
          for (interpolate_hint ih : layouts)
            for (unsigned long bits : masks) {
              const std::bitset<32> mask(bits);
              const std::int64_t k = bits >= 8 ? 4 : bits >= 4 ? 3 : bits >= 2 ? 2 : 1;
              const auto& sites = sh == site_hint::uniform ? ends : sh == site_hint::kind_64 ? sorted : unsorted;
              const auto a = gpu.evaluate(sites, nsites, mask, ih, sh, sentinel, k);
              const auto b = cpu.evaluate(sites, nsites, mask, ih, sh, sentinel, k);
              expect_close(a, b,
                           where + ", sites " + std::to_string(int(sh)) + ", layout " + std::to_string(int(ih)) +
                               ", mask " + std::to_string(bits));
            }
      }
}

// Reproduction of the polynomials a kind represents exactly: lines for the
// linear kind, cubics (given their exact derivatives) for Hermite. The sites
// reach beyond both ends, where the first and last pieces extend.
double cubic(std::int64_t f, double x, int order) {
  const double c0 = 1 + double(f), c1 = -0.5, c2 = 0.75, c3 = -0.25;
  switch (order) {
    case 0: return ((c3 * x + c2) * x + c1) * x + c0;
    case 1: return (3 * c3 * x + 2 * c2) * x + c1;
    case 2: return 6 * c3 * x + 2 * c2;
    default: return 6 * c3;
  }
}
double line(std::int64_t f, double x, int order) { return order == 0 ? 2 - double(f) * x : -double(f); }

TYPED_TEST(BackendsAgree, EachBackEndReproducesItsPolynomialsAndExtrapolates) {
  using T = typename TypeParam::fp;
  using S = typename TypeParam::kind;
  constexpr bool is_hermite = std::is_same_v<S, hermite>;
  const auto exact = is_hermite ? cubic : line;
  const int orders = is_hermite ? 4 : 2;
  const std::int64_t nx = 7, ny = 2;
  const std::vector<T> sites = {T(-2.5), T(-1.25), T(-0.3), T(0.0), T(1.1), T(2.5), T(3.75)};
  const auto nsites = std::int64_t(sites.size());

  for (backend be : both_backends)
    for (partition_hint ph : partition_hints) {
      auto data = sample<T>(nx, ny, ph, function_hint::row_major, exact);
      data.bc_kinds = {bc_type::first_left_der, bc_type::first_right_der};
      data.bc_left = T(exact(0, data.x(0), 1));
      data.bc_right = T(exact(0, data.x(nx - 1), 1));
      built_spline<T, S> b(be, data);
      const auto r = b.evaluate(sites, nsites, std::bitset<32>((1u << orders) - 1),
                                interpolate_hint::funcs_sites_ders, site_hint::non_uniform, T(0), orders);
      for (std::int64_t f = 0; f < ny; ++f)
        for (std::int64_t s = 0; s < nsites; ++s)
          for (int d = 0; d < orders; ++d) {
            const double want = exact(f, double(sites[s]), d);
            EXPECT_NEAR(double(r[(f * nsites + s) * orders + d]), want, tolerance<T>(16 + std::abs(want)))
                << name(be) << ", partition " << int(ph)
                << ", function " << f << ", site " << sites[s] << ", order " << d;
          }
    }
}

}  // namespace
}  // namespace backend_test
