// The spline object through what the shared library exports: exception
// texts, setter checks and their order, recorded state, refusals of construct.

#include <memory>
#include <string>
#include <tuple>

#include "spline_test_support.hpp"

namespace spline_test {
namespace {

using velora::qrx::computation_error;
using velora::qrx::invalid_argument;

TEST(ExceptionTest, ComposesItsTextAndKeepsItInCopies) {
  EXPECT_STREQ(velora::qrx::exception("", "", "").what(), "velora::qrx");
  EXPECT_STREQ(velora::qrx::exception("", "f", "").what(), "velora::qrx::f");
  EXPECT_STREQ(velora::qrx::exception("d", "", "x").what(), "velora::qrx::d: x");
  EXPECT_STREQ(invalid_argument("data_fitting", "f", "").what(), "velora::qrx::data_fitting::f: invalid argument");
  EXPECT_STREQ(computation_error("data_fitting", "internal error", "").what(),
               "velora::qrx::data_fitting::internal error: computation error");
  auto source = std::make_unique<invalid_argument>("data_fitting", "set_partitions", "nx <= 2");
  const invalid_argument copy(*source);
  source.reset();
  EXPECT_EQ(copy.what(), invalid("set_partitions", "nx <= 2"));
  try {
    throw velora::qrx::host_bad_alloc("data_fitting", "bad alloc");
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "velora::qrx::data_fitting::bad alloc: cannot allocate memory on host");
  }
}

template <typename Spline>
class SplineObjectTest : public ::testing::Test {
 protected:
  using T = std::tuple_element_t<0, Spline>;
  using spline_t = df::spline<T, std::tuple_element_t<1, Spline>, 1>;
  static constexpr bool is_hermite = std::is_same_v<std::tuple_element_t<1, Spline>, hermite>;

  // Records everything construct needs, except what `skip` names.
  void record_all(spline_t& s, const std::string& skip = "") {
    if (skip != "partitions") s.set_partitions(x.get(), 4);
    if (skip != "functions") s.set_function_values(y.get());
    if (skip != "coefficients") s.set_coefficients(c.get());
    if constexpr (is_hermite) {
      if (skip != "internal") s.set_internal_conditions(ic.get());
      if (skip != "boundary") s.set_boundary_conditions(df::bc_type::free_end, T(0));
    }
  }

  sycl::queue q = gpu_queue();
  usm_array<T> x{q, {0, 1, 2, 3}}, y{q, 8, T(1)}, c{q, 24}, ic{q, 2};
};

using spline_types = ::testing::Types<std::tuple<float, linear>, std::tuple<double, linear>,
                                      std::tuple<float, hermite>, std::tuple<double, hermite>>;
TYPED_TEST_SUITE(SplineObjectTest, spline_types);

TYPED_TEST(SplineObjectTest, ConstructorsRefuseOtherDevicesBeforeBadCounts) {
  using spline_t = typename TestFixture::spline_t;
  const sycl::queue accelerator(sycl::accelerator_selector_v);
  const std::string kind = TestFixture::is_hermite ? "cubic_spline::hermite" : "linear_spline::default_type";
  const std::string text = "velora::qrx::data_fitting::" + kind + ": unsupported device: " +
                           accelerator.get_device().get_info<sycl::info::device::name>();
  expect_refusal<velora::qrx::unsupported_device>([&] { spline_t(accelerator, 0, false); }, text);
  expect_refusal<velora::qrx::exception>(
      [&] { spline_t(accelerator.get_device(), accelerator.get_context(), 0, true); }, text);
  expect_refusal<invalid_argument>([&] { spline_t(this->q, 0, false); }, invalid("spline", "ny <= 0"));
  expect_refusal<invalid_argument>([&] { spline_t(this->q.get_device(), this->q.get_context(), -1, false); },
                                   invalid("spline", "ny <= 0"));
}

TYPED_TEST(SplineObjectTest, SettersCheckInOrder) {
  typename TestFixture::spline_t s(this->q, 2, false);
  auto* data = this->x.get();
  expect_refusal<invalid_argument>([&] { s.set_partitions(nullptr, 2); }, invalid("set_partitions", "nx <= 2"));
  expect_refusal<invalid_argument>([&] { s.set_partitions(nullptr, 3); }, invalid("set_partitions", "data is nullptr"));
  expect_refusal<invalid_argument>([&] { s.set_function_values(nullptr); },
                                   invalid("set_function_values", "data is nullptr"));
  expect_refusal<invalid_argument>([&] { s.set_coefficients(nullptr, df::coefficient_hint(32)); },
                                   invalid("set_coefficients", "data is nullptr"));
  expect_refusal<invalid_argument>([&] { s.set_coefficients(data, df::coefficient_hint(32)); },
                                   invalid("set_coefficients", "CoeffHint should be row_major"));
  s.set_function_values(data).set_coefficients(data);
  expect_refusal<invalid_argument>([&] { s.set_function_values(data, df::function_hint::col_major); },
                                   invalid("set_function_values", "functions were already set"));
  expect_refusal<invalid_argument>([&] { s.set_coefficients(data); },
                                   invalid("set_coefficients", "coefficients were already set"));
  if constexpr (TestFixture::is_hermite) {
    expect_refusal<invalid_argument>([&] { s.set_internal_conditions(nullptr); },
                                     invalid("set_internal_conditions", "data is nullptr"));
  }
  expect_refusal<computation_error>([&] { s.get_required_coeffs_size(); },
                                    computation("get_required_coeffs_size", "partitions were not set"));
  typename TestFixture::spline_t three(this->q, 3, false);
  three.set_partitions(data, 10);
  EXPECT_EQ(three.get_required_coeffs_size(), TestFixture::is_hermite ? 108 : 54);
}

TYPED_TEST(SplineObjectTest, InitializedOnlyWithEverythingConstructNeeds) {
  using spline_t = typename TestFixture::spline_t;
  const std::string refusal = invalid("construct", "spline isn't initialized");
  for (std::string missing : {"partitions", "functions", "coefficients", "internal", "boundary"}) {
    spline_t s(this->q, 2, false);
    this->record_all(s, missing);
    const bool needed = TestFixture::is_hermite || (missing != "internal" && missing != "boundary");
    EXPECT_EQ(s.is_initialized(), !needed) << missing;
    if (needed) expect_refusal<invalid_argument>([&] { s.construct(); }, refusal);
  }
  spline_t given(this->q, 2, true);
  expect_refusal<invalid_argument>([&] { given.construct(); }, refusal);
  given.set_partitions(this->x.get(), 4);
  EXPECT_TRUE(given.is_initialized());
  // Nothing may read a coefficient array that was never given.
  expect_refusal<invalid_argument>([&] { given.construct(); }, invalid("construct", "coefficients were not set"));
  given.set_coefficients(this->c.get());
  EXPECT_NO_THROW(given.construct().wait_and_throw());
}

TYPED_TEST(SplineObjectTest, RefusedConstructionsLeaveTheSplineUnconstructed) {
  typename TestFixture::spline_t s(this->q, 2, false), layout(this->q, 2, false), huge(this->q, 1 << 30, false);
  this->record_all(s);
  s.set_partitions(this->x.get(), 4, df::partition_hint(3));
  expect_refusal<invalid_argument>([&] { s.construct(); }, invalid("construct", "invalid partition hint"));
  s.set_partitions(this->x.get(), 4);
  s.construct().wait_and_throw();
  EXPECT_EQ(this->c[0], 1);

  this->record_all(layout, "functions");
  layout.set_function_values(this->y.get(), df::function_hint(64));
  expect_refusal<invalid_argument>([&] { layout.construct(); }, invalid("construct", "invalid function hint"));

  this->record_all(huge);  // 3 cells x 2^30 functions: refused before anything reads an array
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      huge.construct();
      ADD_FAILURE() << "no exception";
    } catch (const sycl::exception& e) {
      EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::nd_range));
    }
  }
  if constexpr (TestFixture::is_hermite) {  // one end only, two conditions at one end, mixtures
    for (auto kinds : {std::vector<int>{4}, std::vector<int>{4, 16}, std::vector<int>{2, 8}}) {
      typename TestFixture::spline_t ends(this->q, 2, false);
      this->record_all(ends, "boundary");
      for (int kind : kinds) ends.set_boundary_conditions(df::bc_type(kind), 1);
      expect_refusal<invalid_argument>([&] { ends.construct(); }, invalid("construct", "invalid boundary conditions"));
    }
  }
}

}  // namespace
}  // namespace spline_test
