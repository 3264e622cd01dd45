// Array sizes and partitions replaced after the coefficient array was given,
// for the four splines on both devices: sizes that overflow are refused, and
// no coefficients are evaluated against a partition they were not made for.

#include <cstdint>

#include "support/checked_queue.hpp"
#include "support/spline_test_support.hpp"

namespace spline_test {
namespace {

// A queue on one device with arrays for splines of kind S over 4 or 64
// breakpoints, ny = 1.
template <typename T, typename S>
struct sized_case {
  using spline_t = df::spline<T, S, 1>;
  static constexpr bool is_hermite = std::is_same_v<S, hermite>;
  static constexpr std::size_t m = is_hermite ? 4 : 2;  // coefficients per cell

  explicit sized_case(const sycl::device& device) : cq(device) {}

  // Everything construct needs, over the nx breakpoints `x`; the value and
  // condition arrays are long enough for either partition.
  void record(spline_t& s, const usm_array<T>& x, std::int64_t nx, const usm_array<T>& c) {
    s.set_partitions(x.get(), nx).set_function_values(y.get()).set_coefficients(c.get());
    if constexpr (is_hermite) {
      s.set_internal_conditions(ic.get());
      s.set_boundary_conditions(df::bc_type::first_left_der, T(1));
      s.set_boundary_conditions(df::bc_type::first_right_der, T(-1));
    }
  }

  // Values at the five sites, after `dependencies`.
  std::vector<T> evaluate(spline_t& s, const std::vector<sycl::event>& dependencies = {}) {
    usm_array<T> out(cq.q, 5);
    df::interpolate(s, sites.get(), 5, out.get(), dependencies);
    cq.q.wait_and_throw();
    return out.to_vector();
  }

  static std::vector<T> pattern(int n, int step, int mod, int shift) {
    std::vector<T> v;
    for (int i = 0; i < n; ++i) v.push_back(T((i * step) % mod - shift));
    return v;
  }

  checked_queue cq;
  usm_array<T> x4{cq.q, {0, 2, 4, 6}}, x64{cq.q, pattern(64, 1, 64, 0)}, y{cq.q, pattern(64, 7, 11, 3)},
      ic{cq.q, pattern(62, 3, 5, 2)}, sites{cq.q, {0.5, 1.5, 3, 4.5, 5.9}};
  usm_array<T> c4{cq.q, 3 * m}, c64{cq.q, 63 * m};
};

template <typename P>
struct SplineSizes : ::testing::Test {
  using T = std::tuple_element_t<0, P>;
  using S = std::tuple_element_t<1, P>;
  using spline_t = df::spline<T, S, 1>;
  using on_device = sized_case<T, S>;
};
TYPED_TEST_SUITE(SplineSizes, spline_types);

TYPED_TEST(SplineSizes, ProductsThatOverflowAreRefusedOnTheCallingThread) {
  using T = typename TestFixture::T;
  using spline_t = typename TestFixture::spline_t;
  for (const sycl::device& device : backend_devices()) {
    SCOPED_TRACE(device.is_gpu() ? "GPU device" : "CPU device");
    typename TestFixture::on_device k(device);
    usm_array<T> ends(k.cq.q, {0, 1});

    spline_t s(k.cq.q, std::int64_t(1) << 31, false);
    s.set_partitions(ends.get(), std::int64_t(1) << 33, df::partition_hint::uniform);
    EXPECT_EQ(k.cq.refusal([&] { s.get_required_coeffs_size(); }),
              invalid("get_required_coeffs_size", "coefficient array size overflows"));
    EXPECT_EQ(k.cq.refusal([&] { s.set_coefficients(k.c4.get()); }),
              invalid("set_coefficients", "coefficient array size overflows"));

    // Coefficients supplied for 2^40 functions: 2^23 sites need 2^63 results.
    spline_t u(k.cq.q, std::int64_t(1) << 40, true);
    u.set_partitions(ends.get(), 3, df::partition_hint::uniform).set_coefficients(k.c4.get());
    EXPECT_EQ(k.cq.refusal([&] { df::interpolate(u, k.sites.get(), std::int64_t(1) << 23, k.c64.get()); }),
              invalid("interpolate", "result array size overflows"));
  }
}

TYPED_TEST(SplineSizes, RepartitionBeyondTheCoefficientArrayIsRefused) {
  using spline_t = typename TestFixture::spline_t;
  for (const sycl::device& device : backend_devices()) {
    SCOPED_TRACE(device.is_gpu() ? "GPU device" : "CPU device");
    typename TestFixture::on_device k(device);
    const std::string too_small = invalid("set_partitions", "coefficient array is too small for this partition");

    spline_t s(k.cq.q, 1, false);
    k.record(s, k.x4, 4, k.c4);
    const sycl::event built = s.construct();
    const auto before = k.evaluate(s, {built});
    EXPECT_EQ(k.cq.refusal([&] { s.set_partitions(k.x64.get(), 64); }), too_small);
    EXPECT_EQ(k.evaluate(s, {built}), before);  // still the spline over four breakpoints

    // Given before any partition, the array holds what the first one needs.
    spline_t t(k.cq.q, 1, false);
    t.set_coefficients(k.c4.get()).set_partitions(k.x4.get(), 4);
    EXPECT_EQ(k.cq.refusal([&] { t.set_partitions(k.x64.get(), 64); }), too_small);
  }
}

TYPED_TEST(SplineSizes, RepartitionLeavesComputedCoefficientsStaleUntilTheNextConstruct) {
  using spline_t = typename TestFixture::spline_t;
  for (const sycl::device& device : backend_devices()) {
    SCOPED_TRACE(device.is_gpu() ? "GPU device" : "CPU device");
    typename TestFixture::on_device k(device);
    spline_t s(k.cq.q, 1, false);
    k.record(s, k.x64, 64, k.c64);
    const sycl::event built = s.construct();
    k.cq.q.wait_and_throw();

    s.set_partitions(k.x4.get(), 4);
    usm_array<typename TestFixture::T> out(k.cq.q, 5);
    EXPECT_EQ(k.cq.refusal([&] { df::interpolate(s, k.sites.get(), 5, out.get(), {built}); }),
              computation("interpolate", "coefficients were not computed"));
    const auto rebuilt = k.evaluate(s, {s.construct()});

    spline_t fresh(k.cq.q, 1, false);
    k.record(fresh, k.x4, 4, k.c4);
    EXPECT_EQ(rebuilt, k.evaluate(fresh, {fresh.construct()}));
  }
}

TYPED_TEST(SplineSizes, SuppliedCoefficientsFollowARepartitionThatFits) {
  using T = typename TestFixture::T;
  using spline_t = typename TestFixture::spline_t;
  for (const sycl::device& device : backend_devices()) {
    SCOPED_TRACE(device.is_gpu() ? "GPU device" : "CPU device");
    typename TestFixture::on_device k(device);
    usm_array<T> x(k.cq.q, {0, 1, 2, 3}), c(k.cq.q, k.pattern(int(3 * k.m), 5, 7, 3));
    spline_t s(k.cq.q, 1, true);
    s.set_partitions(x.get(), 4).set_coefficients(c.get());
    k.evaluate(s);  // the CPU back-end makes its task for these breakpoints
    s.set_partitions(k.x4.get(), 4);

    spline_t fresh(k.cq.q, 1, true);
    fresh.set_partitions(k.x4.get(), 4).set_coefficients(c.get());
    EXPECT_EQ(k.evaluate(s), k.evaluate(fresh));
  }
}

}  // namespace
}  // namespace spline_test
