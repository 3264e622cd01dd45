// Construction on the GPU-class device, checked against the data, polynomials a spline must reproduce and the
// property each boundary condition fixes.

#include <cmath>
#include <utility>

#include "detail/gpu/construct/dispatch_construct.hpp"
#include "support/spline_test_support.hpp"

namespace spline_test {
namespace {

using df::bc_type;
using df::function_hint;
using df::partition_hint;
using std::vector;

constexpr int nx = 5, ny = 2;

// Builds through the public interface the spline of functions f + j on the breakpoints x (the ends only for uniform
// partitions) and returns its coefficients, checking that nothing past them was written and that a refused second
// set_function_values kept the layout given first.
template <typename T, typename S, typename F>
vector<T> construct(sycl::queue& q, const vector<double>& x, partition_hint ph, function_hint fh, const F& f,
                    const vector<std::pair<bc_type, double>>& bcs) {
  const std::size_t count = (std::is_same_v<S, hermite> ? 4 : 2) * (nx - 1) * ny;
  usm_array<T> partition(
      q, ph == partition_hint::uniform ? vector<T>{T(x[0]), T(x[nx - 1])} : vector<T>(x.begin(), x.end()));
  usm_array<T> values(q, nx * ny), coeffs(q, count + 4, T(-12345)), ic(q, nx - 2);
  for (int i = 0; i < nx; ++i) {
    for (int j = 0; j < ny; ++j) values[fh == function_hint::row_major ? j * nx + i : i * ny + j] = T(f(x[i], 0) + j);
    if (i > 0 && i + 1 < nx) ic[i - 1] = T(f(x[i], 1));
  }
  df::spline<T, S, 1> s(q, ny, false);
  s.set_partitions(partition.get(), nx, ph).set_function_values(values.get(), fh).set_coefficients(coeffs.get());
  EXPECT_THROW(s.set_function_values(values.get(), function_hint(48 - int(fh))), velora::qrx::invalid_argument);
  if constexpr (std::is_same_v<S, hermite>) {
    s.set_internal_conditions(ic.get());
    for (auto [kind, value] : bcs) s.set_boundary_conditions(kind, T(value));
  }
  s.construct();
  q.wait_and_throw();
  const vector<T> c = coeffs.to_vector();
  EXPECT_EQ(vector<T>(c.begin() + count, c.end()), vector<T>(4, T(-12345))) << "written past the coefficients";
  return vector<T>(c.begin(), c.begin() + count);
}

// What a boundary-condition kind fixes: the derivative of `order` at the left (ends & 1) and/or right end (ends & 2),
// to the value given or to 0.
struct condition {
  bc_type kind;
  int order, ends;
  bool given;
};
const condition l1{bc_type::first_left_der, 1, 1, true}, r1{bc_type::first_right_der, 1, 2, true},
    l2{bc_type::second_left_der, 2, 1, true}, r2{bc_type::second_right_der, 2, 2, true},
    periodic{bc_type::periodic, 1, 3, true}, free_end{bc_type::free_end, 2, 3, false}, kind_0{bc_type(0), 3, 3, false},
    kind_1{bc_type::kind_1, 3, 3, false}, kind_128{bc_type::kind_128, 3, 3, false};
// Every accepted combination, in either call order; none for linear splines.
const vector<vector<condition>> bc_cases = {{l1, r1},   {r1, l2}, {r2, l1}, {l2, r2},  {free_end},
                                            {periodic}, {kind_0}, {kind_1}, {kind_128}};

template <typename P>
struct ConstructTest : spline_suite<P> {};
TYPED_TEST_SUITE(ConstructTest, spline_types);

// A polynomial the spline reproduces (given its exact derivatives) matches every order of every cell at both ends.
// Any data: each cell meets the values, Hermite cells the given slopes, at both ends; the end cells meet the boundary
// conditions. quasi_uniform computes exactly as non_uniform, uniform as the same breakpoints given one by one.
TYPED_TEST(ConstructTest, ReproducesPolynomialsAndMeetsTheDataAndEveryBoundaryCondition) {
  using T = typename TestFixture::T;
  constexpr int m = TestFixture::m;
  const double tol = tolerance<T>(16);
  for (const vector<condition>& kinds : TestFixture::is_hermite ? bc_cases : vector<vector<condition>>{{}}) {
    vector<T> previous;
    for (int run = 0; run < 16; ++run) {
      const function_hint fh = run & 8 ? function_hint::col_major : function_hint::row_major;
      const bool exact = run & 4;
      const int variant = run & 3;  // non_uniform, quasi_uniform, uniform, and the uniform one given point by point
      const auto ph = partition_hint(variant == 3 ? 1 : 1 << variant);
      SCOPED_TRACE(::testing::Message() << "kind " << (kinds.empty() ? 0 : int(kinds[0].kind)) << " run " << run);
      // A polynomial the spline reproduces: any cubic, but a line for linear splines and free ends, a quadratic
      // for quadratic end cells, and equal end values and slopes on [-1.5, 1.5] when periodic (other data are
      // even functions there, then).
      const bool periodic_ends = !kinds.empty() && kinds[0].kind == bc_type::periodic;
      vector<double> a = {0.5, -1, 0.75, 0.25};
      if (kinds.empty() || !kinds[0].given) std::fill(a.begin() + (kinds.empty() ? 2 : kinds[0].order), a.end(), 0);
      if (periodic_ends) a = {0, -2.25, 0, 1};
      const auto f = [&](double at, int order) {
        if (exact) return piece(a.data(), 4, at, order);
        if (periodic_ends) return order == 0 ? std::cos(2 * at) : -2 * std::sin(2 * at) + 0.3;
        return order == 0 ? std::sin(2 * at) : 2 * std::cos(2 * at) + 0.3;
      };
      vector<double> x(nx);
      for (int i = 0; i < nx; ++i) x[i] = -1.5 + 0.75 * i + (variant < 2 && i % 4 ? 0.15 * std::sin(3.0 * i) : 0);
      vector<std::pair<bc_type, double>> bcs;
      for (const condition& b : kinds)
        bcs.emplace_back(b.kind, exact ? f(x[b.ends & 1 ? 0 : nx - 1], b.order) : b.ends & 1 ? 0.7 : -0.4);
      const vector<T> c = construct<T, typename TestFixture::S>(this->q, x, ph, fh, f, bcs);
      for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < 2 * (nx - 1); ++i) {  // cell i / 2 at its left or right end
          const int k = i / 2, at = k + i % 2, orders = exact ? m : m == 4 && at > 0 && at + 1 < nx ? 2 : 1;
          for (int d = 0; d < orders; ++d)
            EXPECT_NEAR(piece(&c[(j * (nx - 1) + k) * m], m, x[at] - x[k], d), f(x[at], d) + (d ? 0 : j), tol) << i;
        }
        for (std::size_t b = 0; b < kinds.size() * 2; ++b) {  // condition b / 2 at its left or right end
          const condition& kind = kinds[b / 2];
          const int end = b % 2, k = end * (nx - 2);
          if (!(kind.ends >> end & 1)) continue;
          EXPECT_NEAR(piece(&c[(j * (nx - 1) + k) * 4], 4, x[k + end] - x[k], kind.order),
                      kind.given ? bcs[b / 2].second : 0, tol);
        }
      }
      for (std::size_t i = 0; variant % 2 && i < c.size(); ++i)  // compared with the previous variant
        EXPECT_NEAR(c[i], previous[i], variant == 1 ? 0 : tolerance<T>(4 * (1 + std::abs(c[i])))) << i;
      previous = c;
    }
  }
}

// The dispatcher directly, for values the setters never record: both internal-condition types read the same
// derivatives; hints and kinds without a kernel are refused in order before anything is submitted.
TYPED_TEST(ConstructTest, DispatcherTreatsBothInternalConditionTypesAlikeAndRefusesInOrder) {
  using T = typename TestFixture::T;
  sycl::queue& q = this->q;
  usm_array<T> x(q, {0, 1, 2, 3, 4}), y(q, {1, 2, 0, 3, 5}), ic(q, {1, -1, 2}), c0(q, 16), c1(q, 16);
  usm_array<T*> values(q, {y.get()}), cell0(q, {c0.get()}), cell1(q, {c1.get()});
  T bc_values[] = {0.5, -0.5};
  auto run = [&](T** cell, std::int64_t ph, std::int64_t fh, std::int64_t ch, std::int64_t ic_type, std::int64_t bc) {
    namespace detail = df::detail;
    detail::spline_description<T> d;
    d.ny = 1;
    d.partition = x.get();
    d.nx = 5;
    d.partition_layout = df::partition_hint(ph);
    d.function_values = values.get();
    d.function_layout = df::function_hint(fh);
    d.coefficients = cell;
    d.coefficient_layout = df::coefficient_hint(ch);
    d.internal_conditions = ic.get();
    d.internal_type = detail::internal_conditions_type(ic_type);
    d.boundary = detail::boundary_sum(bc);
    d.left_value = bc_values[0];
    d.right_value = bc_values[1];
    return detail::dispatch_construct<T, typename TestFixture::S>(q, d, {});
  };
  const struct {
    std::int64_t ph, fh, ch, ic_type, bc;
    const char* info;
  } refusals[] = {
      {3, 64, 32, 2, 5, "invalid partition hint"},      {1, 64, 32, 2, 5, "invalid function hint"},
      {2, 32, 32, 2, 5, "invalid coefficient hint"},    {4, 16, 16, 2, 5, "invalid internal conditions type"},
      {1, 16, 16, 1, 4, "invalid boundary conditions"}, {1, 16, 16, 0, 20, "invalid boundary conditions"},
      {1, 16, 16, 1, 10, "invalid boundary conditions"}};
  for (const auto& r : refusals)
    expect_invalid([&] { run(cell1.get(), r.ph, r.fh, r.ch, r.ic_type, r.bc); }, "construct", r.info);
  q.wait();
  EXPECT_EQ(c1.to_vector(), vector<T>(16));
  run(cell0.get(), 1, 16, 16, 0, 12).wait();
  run(cell1.get(), 1, 16, 16, 1, 12).wait();
  EXPECT_EQ(c0.to_vector(), c1.to_vector());
  EXPECT_EQ(c0[0], 1);
}

}  // namespace
}  // namespace spline_test
