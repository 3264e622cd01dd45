// Construction on the GPU-class device, checked against the data, against
// polynomials a spline must reproduce and against the property each boundary
// condition fixes.

#include <cmath>
#include <functional>
#include <future>
#include <utility>
#include <vector>

#include "detail/gpu/construct/dispatch_construct.hpp"
#include "spline_test_support.hpp"

namespace spline_test {
namespace {

using df::bc_type;
using df::function_hint;
using df::partition_hint;
using std::vector;

constexpr partition_hint partition_hints[] = {partition_hint::non_uniform, partition_hint::quasi_uniform,
                                              partition_hint::uniform};
constexpr function_hint function_hints[] = {function_hint::row_major, function_hint::col_major};
constexpr float sentinel = -12345;

// A spline's data: function j is f + j, so all functions share their slopes.
struct problem {
  problem(partition_hint ph, function_hint fh, std::function<double(double, int)> f) : ph(ph), fh(fh), f(f) {}
  partition_hint ph;
  function_hint fh;
  std::function<double(double x, int order)> f;
  vector<std::pair<bc_type, double>> bcs;  // Hermite, in call order
  bool even = false;                       // evenly spaced breakpoints for every partition hint
  int nx = 5, ny = 2;

  vector<double> x() const {  // breakpoints on about [-1, 2]
    vector<double> x(nx);
    const bool irregular = !even && ph != partition_hint::uniform;
    for (int i = 0; i < nx; ++i) x[i] = -1 + 3.0 * i / (nx - 1) + (irregular ? 0.15 * std::sin(3.0 * i) : 0);
    return x;
  }
};

// Builds the spline of `p` through the public interface and returns its
// coefficients, checking that nothing past them was written.
template <typename T, typename S>
vector<T> construct(sycl::queue& q, const problem& p) {
  constexpr int m = std::is_same_v<S, hermite> ? 4 : 2;
  const vector<double> x = p.x();
  vector<T> given(x.begin(), x.end());
  if (p.ph == partition_hint::uniform) given = {T(x.front()), T(x.back())};
  const std::size_t count = std::size_t(m) * (p.nx - 1) * p.ny;
  usm_array<T> partition(q, given), values(q, p.nx * p.ny), coeffs(q, count + 4, T(sentinel)), ic(q, p.nx - 2);
  for (int j = 0; j < p.ny; ++j)
    for (int i = 0; i < p.nx; ++i)
      values[p.fh == function_hint::row_major ? j * p.nx + i : i * p.ny + j] = T(p.f(x[i], 0) + j);
  df::spline<T, S, 1> s(q, p.ny, false);
  s.set_partitions(partition.get(), p.nx, p.ph).set_function_values(values.get(), p.fh);
  s.set_coefficients(coeffs.get());
  if constexpr (m == 4) {
    for (int i = 1; i + 1 < p.nx; ++i) ic[i - 1] = T(p.f(x[i], 1));
    s.set_internal_conditions(ic.get());
    for (auto [kind, value] : p.bcs) s.set_boundary_conditions(kind, T(value));
  }
  s.construct().wait_and_throw();
  vector<T> c = coeffs.to_vector();
  for (std::size_t i = count; i < c.size(); ++i) EXPECT_EQ(c[i], T(sentinel)) << "written past the coefficients";
  c.resize(count);
  return c;
}

// quasi_uniform computes exactly as non_uniform, uniform as its expansion.
template <typename T, typename S>
void expect_partition_hints_agree(sycl::queue& q, problem p) {
  p.ph = partition_hint::non_uniform;
  const vector<T> irregular = construct<T, S>(q, p);
  p.ph = partition_hint::quasi_uniform;
  EXPECT_EQ((construct<T, S>(q, p)), irregular);
  p.even = true;
  p.ph = partition_hint::non_uniform;
  const vector<T> expanded = construct<T, S>(q, p);
  p.ph = partition_hint::uniform;
  const vector<T> uniform = construct<T, S>(q, p);
  for (std::size_t i = 0; i < expanded.size(); ++i) EXPECT_NEAR(uniform[i], expanded[i], tolerance<T>(4)) << i;
}

template <typename T>
class ConstructTest : public ::testing::Test {
 protected:
  sycl::queue q = gpu_queue();
};
using element_types = ::testing::Types<float, double>;
TYPED_TEST_SUITE(ConstructTest, element_types);

TYPED_TEST(ConstructTest, LinearCellsStartAtTheDataWithTheCellSlope) {
  using T = TypeParam;
  for (partition_hint ph : partition_hints) {
    for (function_hint fh : function_hints) {
      const problem p(ph, fh, [](double x, int) { return std::cos(x); });
      const vector<T> c = construct<T, linear>(this->q, p);
      const vector<double> x = p.x();
      for (int j = 0; j < p.ny; ++j) {
        for (int k = 0; k + 1 < p.nx; ++k) {
          const T y0 = T(p.f(x[k], 0) + j), y1 = T(p.f(x[k + 1], 0) + j);
          EXPECT_EQ(c[(j * (p.nx - 1) + k) * 2], y0);
          EXPECT_NEAR(c[(j * (p.nx - 1) + k) * 2 + 1], (double(y1) - y0) / (x[k + 1] - x[k]), tolerance<T>(4));
        }
      }
    }
  }
  const problem smooth(partition_hint::uniform, function_hint::row_major, [](double x, int) { return std::exp(x); });
  expect_partition_hints_agree<T, linear>(this->q, smooth);
}

// Every accepted combination of boundary-condition kinds; the order of the
// calls does not matter.
const vector<bc_type> bc_cases[] = {{bc_type::first_left_der, bc_type::first_right_der},
                                    {bc_type::first_right_der, bc_type::second_left_der},
                                    {bc_type::second_right_der, bc_type::first_left_der},
                                    {bc_type::second_left_der, bc_type::second_right_der},
                                    {bc_type::free_end},
                                    {bc_type::periodic},
                                    {bc_type::kind_1},
                                    {bc_type::kind_128}};

bool at_right(bc_type kind) { return kind == bc_type::first_right_der || kind == bc_type::second_right_der; }
int order_of(bc_type kind) { return kind == bc_type::second_left_der || kind == bc_type::second_right_der ? 2 : 1; }

// A polynomial the spline of `kinds` reproduces: a quadratic without end
// conditions, a line for free ends, equal end slopes when periodic.
vector<double> reproduced(const vector<bc_type>& kinds, double x0, double xn) {
  const double m = (x0 + xn) / 2;
  switch (kinds[0]) {
    case bc_type::kind_1:
    case bc_type::kind_128: return {0.5, -1, 0.75, 0};
    case bc_type::free_end: return {0.5, -1, 0, 0};
    case bc_type::periodic: return {-m * m * m, 3 * m * m - 0.5, -3 * m, 1};  // (x - m)^3 - x/2
    default: return {0.5, -1, 0.75, 0.25};
  }
}

// Checks the condition `kind` with `value` on the first and last cell of one function.
template <typename T>
void expect_end_condition(bc_type kind, double value, const T* first, const T* last, double h, double tol) {
  const double left_slope = first[1], left_curvature = 2 * first[2];
  const double right_slope = piece(last, 4, h, 1), right_curvature = piece(last, 4, h, 2);
  auto near = [&](double actual, double expected) { EXPECT_NEAR(actual, expected, tol) << int(kind); };
  switch (kind) {
    case bc_type::first_left_der: near(left_slope, value); break;
    case bc_type::first_right_der: near(right_slope, value); break;
    case bc_type::second_left_der: near(left_curvature, value); break;
    case bc_type::second_right_der: near(right_curvature, value); break;
    case bc_type::periodic: near(left_slope, value), near(right_slope, value); break;
    case bc_type::free_end: near(left_curvature, 0), near(right_curvature, 0); break;
    default: near(first[3], 0), near(last[3], 0);  // quadratic end cells
  }
}

TYPED_TEST(ConstructTest, HermiteReproducesPolynomialsAndMeetsEveryBoundaryCondition) {
  using T = TypeParam;
  const double tol = tolerance<T>(16);
  for (const vector<bc_type>& kinds : bc_cases) {
    const std::string name = std::to_string(int(kinds[0])) + "+" + std::to_string(int(kinds.back()));
    for (partition_hint ph : partition_hints) {
      for (function_hint fh : function_hints) {
        problem p(ph, fh, nullptr);
        const vector<double> x = p.x();
        const vector<double> a = reproduced(kinds, x.front(), x.back());
        p.f = [&](double at, int order) { return piece(a.data(), 4, at, order); };
        for (bc_type kind : kinds) {
          p.bcs.emplace_back(kind, p.f(at_right(kind) ? x.back() : x.front(), order_of(kind)));
        }
        const vector<T> c = construct<T, hermite>(this->q, p);
        for (int j = 0; j < p.ny; ++j) {
          for (int k = 0; k + 1 < p.nx; ++k) {
            const double taylor[] = {p.f(x[k], 0) + j, p.f(x[k], 1), p.f(x[k], 2) / 2, p.f(x[k], 3) / 6};
            for (int q = 0; q < 4; ++q) EXPECT_NEAR(c[(j * (p.nx - 1) + k) * 4 + q], taylor[q], tol) << name;
          }
        }
      }

      // Any data: the values and slopes join up, and the ends meet the conditions.
      problem p(ph, function_hint::row_major, [](double at, int order) {
        return order == 0 ? std::sin(2 * at) : 2 * std::cos(2 * at) + 0.3;
      });
      for (bc_type kind : kinds) p.bcs.emplace_back(kind, at_right(kind) ? -0.4 : 0.7);
      const vector<T> c = construct<T, hermite>(this->q, p);
      const vector<double> x = p.x();
      for (int j = 0; j < p.ny; ++j) {
        const T* cells = &c[j * (p.nx - 1) * 4];
        for (int k = 0; k + 1 < p.nx; ++k) {
          const double h = x[k + 1] - x[k];
          EXPECT_EQ(cells[4 * k], T(p.f(x[k], 0) + j)) << name;
          EXPECT_NEAR(piece(cells + 4 * k, 4, h, 0), p.f(x[k + 1], 0) + j, tol) << name;
          if (k + 2 < p.nx) {
            EXPECT_NEAR(piece(cells + 4 * k, 4, h, 1), cells[4 * k + 5], tol) << name;
            EXPECT_NEAR(cells[4 * k + 5], p.f(x[k + 1], 1), tol) << name;
          }
        }
        const double h = x[p.nx - 1] - x[p.nx - 2];
        for (auto [kind, value] : p.bcs) expect_end_condition(kind, value, cells, cells + 4 * (p.nx - 2), h, tol);
      }
    }
  }
  problem p(partition_hint::non_uniform, function_hint::row_major, [](double at, int) { return std::exp(at / 2); });
  p.bcs = {{bc_type::second_left_der, 0.25}, {bc_type::second_right_der, 0.5}};
  expect_partition_hints_agree<T, hermite>(this->q, p);
}

TYPED_TEST(ConstructTest, RunsAfterItsDependenciesOnceAndWithTheValuesOfTheCall) {
  using T = TypeParam;
  sycl::queue& q = this->q;
  usm_array<T> x(q, {0, 1, 2, 3}), y(q, 4), c(q, 12), ic(q, {2, 4}), line_c(q, 6);
  df::spline<T, linear, 1> line(q, 1, false);
  line.set_partitions(x.get(), 4).set_function_values(y.get()).set_coefficients(line_c.get());
  df::spline<T, hermite, 1> s(q, 1, false);
  s.set_partitions(x.get(), 4).set_function_values(y.get()).set_coefficients(c.get());
  s.set_internal_conditions(ic.get()).set_boundary_conditions(bc_type::first_left_der, 0);
  s.set_boundary_conditions(bc_type::first_right_der, 6);

  // The producer of the values waits for a gate that opens only after construct returned.
  std::promise<void> gate;
  const sycl::event opened = q.submit([w = gate.get_future().share()](sycl::handler& cgh) {
    cgh.host_task([w] { w.wait(); });
  });
  T* values = y.get();
  const sycl::event producer = q.parallel_for(sycl::range<1>(4), opened, [=](sycl::item<1> i) {
    values[i.get_id(0)] = T(i.get_id(0) * i.get_id(0));  // y = x^2
  });
  sycl::event first = s.construct({producer}), line_event = line.construct({producer});
  s.set_boundary_conditions(bc_type::first_left_der, 100);  // after the call: not used
  gate.set_value();
  first.wait_and_throw();
  line_event.wait_and_throw();
  EXPECT_EQ(line_c.to_vector(), (vector<T>{0, 1, 1, 3, 4, 5}));
  const vector<T> parabola = {0, 0, 1, 0, 1, 2, 1, 0, 4, 4, 1, 0};
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(c[i], parabola[i], tolerance<T>(4)) << i;

  // Computed once: a second call returns the first event and submits nothing.
  y[1] = 50;
  sycl::event second = s.construct({producer});
  EXPECT_TRUE(second == first);
  second.wait();
  EXPECT_NEAR(c[4], 1, tolerance<T>());
}

TYPED_TEST(ConstructTest, RefusedSecondFunctionValuesKeepTheirLayout) {
  using T = TypeParam;
  usm_array<T> x(this->q, {0, 1, 2}), y(this->q, {0, 10, 1, 11, 2, 12}), c(this->q, 8);  // col-major, 2 functions
  df::spline<T, linear, 1> s(this->q, 2, false);
  s.set_partitions(x.get(), 3).set_coefficients(c.get()).set_function_values(y.get(), function_hint::col_major);
  EXPECT_THROW(s.set_function_values(y.get(), function_hint::row_major), velora::qrx::invalid_argument);
  s.construct().wait_and_throw();
  EXPECT_EQ(c.to_vector(), (vector<T>{0, 1, 1, 1, 10, 1, 11, 1}));
}

// The dispatcher directly, for values the public setters never record.
TYPED_TEST(ConstructTest, DispatcherTreatsBothInternalConditionTypesAlikeAndRefusesUnknownLayouts) {
  using T = TypeParam;
  namespace dfd = df::detail;
  sycl::queue& q = this->q;
  usm_array<T> x(q, {0, 1, 2, 3, 4}), y(q, {1, 2, 0, 3, 5}), ic(q, {1, -1, 2}), c0(q, 16), c1(q, 16);
  usm_array<T*> values(q, {y.get()}), cell0(q, {c0.get()}), cell1(q, {c1.get()});
  T bc_values[] = {0.5, -0.5};
  auto run = [&](T** cell, std::int64_t coeff_hint, std::int64_t ic_type) {  // no boundary condition recorded
    return dfd::dispatch_construct<T, hermite>(q, 5, 1, x.get(), values.get(), cell, {}, coeff_hint, 16, 1,
                                               ic.get(), ic_type, bc_values, 0);
  };
  run(cell0.get(), 16, 0).wait();  // both internal-condition types read the same derivatives
  run(cell1.get(), 16, 1).wait();
  EXPECT_EQ(c0.to_vector(), c1.to_vector());
  EXPECT_NEAR(c0[3], 0, tolerance<T>(8));  // quadratic end cells
  EXPECT_NEAR(c0[15], 0, tolerance<T>(8));
  expect_refusal<velora::qrx::invalid_argument>([&] { run(cell0.get(), 32, 1); },
                                                invalid("construct", "invalid coefficient hint"));
  expect_refusal<velora::qrx::invalid_argument>([&] { run(cell0.get(), 16, 2); },
                                                invalid("construct", "invalid internal conditions type"));
}

}  // namespace
}  // namespace spline_test
