// Smoothing and least-squares splines on both back-ends, against references
// written here in long double: the smoothing spline by Reinsch's dense
// formulation (fitted values f = (W + lambda K)^{-1} W y, K = Q R^{-1} Q^T)
// with its cross-validation score, and the least-squares spline by dense
// normal equations on the truncated power basis.

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "support/backend_fixture.hpp"
#include "support/collecting_queue.hpp"

namespace backend_test {
namespace {

using smoothing = df::cubic_spline::smoothing;
using least_squares = df::cubic_spline::least_squares;
using natural = df::cubic_spline::natural;
using real = long double;
using matrix = std::vector<std::vector<real>>;

// Solves a x = b by Gaussian elimination with partial pivoting.
std::vector<real> solve_dense(matrix a, std::vector<real> b) {
  const std::size_t n = b.size();
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t p = c;
    for (std::size_t r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    std::swap(a[c], a[p]);
    std::swap(b[c], b[p]);
    for (std::size_t r = c + 1; r < n; ++r) {
      const real m = a[r][c] / a[c][c];
      for (std::size_t k = c; k < n; ++k) a[r][k] -= m * a[c][k];
      b[r] -= m * b[c];
    }
  }
  std::vector<real> x(n);
  for (std::size_t r = n; r-- > 0;) {
    real s = b[r];
    for (std::size_t k = r + 1; k < n; ++k) s -= a[r][k] * x[k];
    x[r] = s / a[r][r];
  }
  return x;
}

// The inverse of a, by Gauss-Jordan elimination with partial pivoting.
matrix inverse(matrix a) {
  const std::size_t n = a.size();
  for (std::size_t i = 0; i < n; ++i) {
    a[i].resize(2 * n, 0);
    a[i][n + i] = 1;
  }
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t p = c;
    for (std::size_t r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
    std::swap(a[c], a[p]);
    const real pivot = a[c][c];
    for (real& v : a[c]) v /= pivot;
    for (std::size_t r = 0; r < n; ++r) {
      if (r == c || a[r][c] == 0) continue;
      const real m = a[r][c];
      for (std::size_t k = c; k < 2 * n; ++k) a[r][k] -= m * a[c][k];
    }
  }
  for (auto& row : a) row.erase(row.begin(), row.begin() + std::ptrdiff_t(n));
  return a;
}

// The smoothing spline's fitted values at the sites and its cross-validation
// score, by Reinsch's dense formulation.
struct reinsch_fit {
  std::vector<real> fit;
  real score;
};

class reinsch {
 public:
  reinsch(const std::vector<real>& x, const std::vector<real>& w, const std::vector<real>& y) : w_(w), y_(y) {
    const std::size_t n = x.size(), m = n - 2;
    std::vector<real> h(n - 1);
    for (std::size_t i = 0; i + 1 < n; ++i) h[i] = x[i + 1] - x[i];
    matrix q(n, std::vector<real>(m, 0)), r(m, std::vector<real>(m, 0));
    for (std::size_t c = 0; c < m; ++c) {
      q[c][c] = 1 / h[c];
      q[c + 1][c] = -1 / h[c] - 1 / h[c + 1];
      q[c + 2][c] = 1 / h[c + 1];
      r[c][c] = (h[c] + h[c + 1]) / 3;
      if (c + 1 < m) r[c][c + 1] = r[c + 1][c] = h[c + 1] / 6;
    }
    // K = Q R^{-1} Q^T: the penalty is f^T K f.
    const matrix ri = inverse(r);
    k_.assign(n, std::vector<real>(n, 0));
    for (std::size_t a = 0; a < n; ++a)
      for (std::size_t b = 0; b < n; ++b)
        for (std::size_t c = 0; c < m; ++c)
          for (std::size_t d = 0; d < m; ++d) k_[a][b] += q[a][c] * ri[c][d] * q[b][d];
  }

  // f = (W + lambda K)^{-1} W y; A = (W + lambda K)^{-1} W, so tr A sums
  // w_i times the inverse's diagonal. m counts the positive weights.
  reinsch_fit operator()(real lambda) const {
    const std::size_t n = w_.size();
    matrix a = k_;
    for (std::size_t i = 0; i < n; ++i) {
      for (real& v : a[i]) v *= lambda;
      a[i][i] += w_[i];
    }
    const matrix ai = inverse(a);
    reinsch_fit out{std::vector<real>(n, 0), 0};
    real trace = 0, rss = 0, positive = 0;
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j < n; ++j) out.fit[i] += ai[i][j] * w_[j] * y_[j];
      trace += w_[i] * ai[i][i];
      positive += w_[i] > 0 ? 1 : 0;
    }
    for (std::size_t i = 0; i < n; ++i) rss += w_[i] * (y_[i] - out.fit[i]) * (y_[i] - out.fit[i]);
    out.score = positive * rss / ((positive - trace) * (positive - trace));
    return out;
  }

 private:
  std::vector<real> w_, y_;
  matrix k_;
};

// The least-squares spline on `knots` through (x, y) with weights w, at the
// sites `at`: dense normal equations on 1, x, x^2, x^3, (x - t_k)_+^3.
std::vector<real> least_squares_reference(const std::vector<real>& knots, const std::vector<real>& x,
                                          const std::vector<real>& y, const std::vector<real>& w,
                                          const std::vector<real>& at) {
  const std::size_t size = knots.size() + 2;
  auto basis = [&](real s) {
    std::vector<real> b(size);
    const real u = s - knots.front();
    b[0] = 1, b[1] = u, b[2] = u * u, b[3] = u * u * u;
    for (std::size_t k = 1; k + 1 < knots.size(); ++k) {
      const real d = std::max<real>(s - knots[k], 0);
      b[3 + k] = d * d * d;
    }
    return b;
  };
  matrix g(size, std::vector<real>(size, 0));
  std::vector<real> rhs(size, 0);
  for (std::size_t i = 0; i < x.size(); ++i) {
    const std::vector<real> b = basis(x[i]);
    for (std::size_t p = 0; p < size; ++p) {
      rhs[p] += w[i] * b[p] * y[i];
      for (std::size_t q = 0; q < size; ++q) g[p][q] += w[i] * b[p] * b[q];
    }
  }
  const std::vector<real> c = solve_dense(g, rhs);
  std::vector<real> out;
  for (real s : at) {
    const std::vector<real> b = basis(s);
    real v = 0;
    for (std::size_t p = 0; p < size; ++p) v += c[p] * b[p];
    out.push_back(v);
  }
  return out;
}

// Function j of computed cubic coefficients (row-major cells of four) at x.
template <typename T>
real evaluate(const std::vector<T>& c, const std::vector<T>& knots, std::int64_t j, real x) {
  const std::int64_t cells = std::int64_t(knots.size()) - 1;
  std::int64_t k = 0;
  while (k + 1 < cells && x >= knots[std::size_t(k + 1)]) ++k;
  const real t = x - knots[std::size_t(k)];
  const T* p = c.data() + (j * cells + k) * 4;
  return real(p[0]) + t * (real(p[1]) + t * (real(p[2]) + t * real(p[3])));
}

// Largest difference relative to the largest reference value.
real relative_difference(const std::vector<real>& got, const std::vector<real>& want) {
  real diff = 0, scale = 0;
  for (std::size_t i = 0; i < got.size(); ++i) {
    diff = std::max(diff, std::fabs(got[i] - want[i]));
    scale = std::max(scale, std::fabs(want[i]));
  }
  return diff / scale;
}

template <typename T>
std::vector<real> widen(const std::vector<T>& v) {
  return std::vector<real>(v.begin(), v.end());
}

// Noisy samples of smooth curves at nx random increasing sites.
template <typename T>
struct noisy_data {
  noisy_data(std::int64_t nx, std::int64_t ny, double noise, unsigned seed = 11) : nx(nx), ny(ny) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> step(0.5, 1.5);
    std::normal_distribution<double> error(0.0, noise);
    double at = 0;
    for (std::int64_t i = 0; i < nx; ++i, at += step(rng)) x.push_back(T(at));
    for (std::int64_t j = 0; j < ny; ++j)
      for (std::int64_t i = 0; i < nx; ++i) {
        truth.push_back(curve(j, double(x[std::size_t(i)])));
        y.push_back(T(truth.back() + error(rng)));
      }
  }
  double curve(std::int64_t j, double at) const { return std::sin(0.3 * at + 0.7 * double(j)) + 0.01 * at; }
  std::vector<T> row(std::int64_t j) const { return {y.begin() + j * nx, y.begin() + (j + 1) * nx}; }

  std::int64_t nx, ny;
  std::vector<T> x, y;
  std::vector<double> truth;
};

// A smoothing spline built and constructed on back-end b; lambda < 0 asks
// for cross-validation. Row-major values unless col_major.
template <typename T>
struct smoothing_run {
  smoothing_run(backend b, const std::vector<T>& x, const std::vector<T>& y, std::int64_t ny, T lambda,
                const std::vector<T>& weights = {}, bool col_major = false)
      : q(queue_for(b)), xs(q, x), ys(q, y), ws(q, weights.empty() ? std::vector<T>{T(1)} : weights),
        cs(q, (x.size() - 1) * std::size_t(ny) * 4), chosen_lambda(q, std::size_t(ny), T(-7)) {
    if (col_major) {
      for (std::int64_t j = 0; j < ny; ++j)
        for (std::size_t i = 0; i < x.size(); ++i) {
          ys[i * std::size_t(ny) + std::size_t(j)] = y[std::size_t(j) * x.size() + i];
        }
    }
    auto s = make_spline<T, smoothing>(b, q, ny, false);
    s->set_partitions(xs.get(), std::int64_t(x.size()))
        .set_function_values(ys.get(), col_major ? df::function_hint::col_major : df::function_hint::row_major)
        .set_coefficients(cs.get());
    if (!weights.empty()) s->set_weights(ws.get());
    if (lambda < 0) {
      s->set_smoothing_by_gcv(chosen_lambda.get());
    } else {
      s->set_smoothing(lambda);
    }
    s->construct();
    q.wait_and_throw();
    coeffs = cs.to_vector();
    chosen = chosen_lambda.to_vector();
  }
  sycl::queue q;
  usm_array<T> xs, ys, ws, cs, chosen_lambda;
  std::vector<T> coeffs, chosen;
};

template <typename T>
real tolerance() {
  return std::is_same_v<T, double> ? 1e-10L : 2e-6L;
}

template <typename T>
class fitting_test : public ::testing::Test {};
using element_types = ::testing::Types<float, double>;
TYPED_TEST_SUITE(fitting_test, element_types);

TYPED_TEST(fitting_test, smoothing_matches_the_dense_reference_over_lambda_and_weights) {
  using T = TypeParam;
  const noisy_data<T> d(40, 1, 0.1);
  std::vector<T> w(40, T(1));
  w[3] = T(0), w[17] = T(2.5), w[39] = T(0.25);
  for (backend b : both_backends) {
    for (T lambda : {T(1e-3), T(0.3), T(30), T(3e3)}) {
      SCOPED_TRACE(std::string(name(b)) + ", lambda " + std::to_string(double(lambda)));
      const smoothing_run<T> run(b, d.x, d.y, 1, lambda, w);
      const reinsch_fit ref = reinsch(widen(d.x), widen(w), widen(d.y))(lambda);
      std::vector<real> got;
      for (T at : d.x) got.push_back(evaluate(run.coeffs, d.x, 0, at));
      EXPECT_LT(relative_difference(got, ref.fit), tolerance<T>());
    }
  }
}

TYPED_TEST(fitting_test, smoothing_limits_are_the_natural_spline_and_the_least_squares_line) {
  using T = TypeParam;
  const noisy_data<T> d(25, 2, 0.2);
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    // lambda = 0: the natural interpolating spline.
    const smoothing_run<T> exact(b, d.x, d.y, 2, T(0));
    spline_data<T> nd;
    nd.nx = 25, nd.ny = 2, nd.partition = d.x, nd.values = d.y;
    const built_spline<T, natural> nat(b, nd);
    const std::vector<T> natural_coeffs = nat.c.to_vector();
    for (std::size_t i = 0; i < natural_coeffs.size(); ++i) {
      EXPECT_NEAR(exact.coeffs[i], natural_coeffs[i], 64 * tolerance<T>() * (1 + std::fabs(natural_coeffs[i])));
    }
    // A large lambda: the least-squares straight line.
    const smoothing_run<T> flat(b, d.x, d.y, 2, T(1e9));
    for (std::int64_t j = 0; j < 2; ++j) {
      real sx = 0, sy = 0, sxx = 0, sxy = 0;
      for (std::int64_t i = 0; i < 25; ++i) {
        const real x = d.x[std::size_t(i)], y = d.y[std::size_t(j * 25 + i)];
        sx += x, sy += y, sxx += x * x, sxy += x * y;
      }
      const real slope = (25 * sxy - sx * sy) / (25 * sxx - sx * sx), icept = (sy - slope * sx) / 25;
      for (T at : d.x) EXPECT_NEAR(double(evaluate(flat.coeffs, d.x, j, at)), double(icept + slope * at), 1e-4);
    }
  }
}

TYPED_TEST(fitting_test, many_functions_agree_with_one_at_a_time_in_both_layouts) {
  using T = TypeParam;
  const noisy_data<T> d(60, 5, 0.1);
  for (backend b : both_backends) {
    for (T lambda : {T(2), T(-1)}) {
      SCOPED_TRACE(std::string(name(b)) + (lambda < 0 ? ", cross-validation" : ", given lambda"));
      const smoothing_run<T> all(b, d.x, d.y, 5, lambda, {}, true);
      for (std::int64_t j = 0; j < 5; ++j) {
        const smoothing_run<T> one(b, d.x, d.row(j), 1, lambda);
        for (std::size_t e = 0; e < one.coeffs.size(); ++e)
          EXPECT_EQ(all.coeffs[std::size_t(j) * one.coeffs.size() + e], one.coeffs[e]) << "function " << j;
        if (lambda < 0) {
          EXPECT_EQ(all.chosen[std::size_t(j)], one.chosen[0]);
        }
      }
    }
  }
}

// The chosen lambda's score is the best of a fine grid over 16 decades, and
// its curve is closer to the truth than the data.
TYPED_TEST(fitting_test, cross_validation_finds_the_best_score_and_removes_noise) {
  using T = TypeParam;
  for (unsigned seed : {1u, 2u, 3u}) {
    const noisy_data<T> d(50, 1, 0.15, seed);
    const reinsch score(widen(d.x), std::vector<real>(50, 1), widen(d.y));
    real best = std::numeric_limits<real>::infinity();
    for (int g = 0; g <= 640; ++g) best = std::min(best, score(std::pow(10.0L, -8 + g / 40.0L)).score);
    for (backend b : both_backends) {
      SCOPED_TRACE(std::string(name(b)) + ", seed " + std::to_string(seed));
      const smoothing_run<T> run(b, d.x, d.y, 1, T(-1));
      ASSERT_GT(run.chosen[0], T(0));
      const reinsch_fit at = score(run.chosen[0]);
      EXPECT_LT(at.score, best * (1 + (std::is_same_v<T, double> ? 1e-4L : 1e-3L)));
      real fit_error = 0, data_error = 0;
      for (std::size_t i = 0; i < 50; ++i) {
        fit_error += std::pow(evaluate(run.coeffs, d.x, 0, d.x[i]) - d.truth[i], 2);
        data_error += std::pow(real(d.y[i]) - d.truth[i], 2);
      }
      EXPECT_LT(fit_error, 0.5L * data_error);
    }
  }
}

// A least-squares spline through sites in any order, with weights.
template <typename T>
struct least_squares_run {
  least_squares_run(backend b, const std::vector<T>& knots, const std::vector<T>& x, const std::vector<T>& y,
                    std::int64_t ny, const std::vector<T>& weights = {})
      : q(queue_for(b)), ks(q, knots), xs(q, x), ys(q, y), ws(q, weights.empty() ? std::vector<T>{T(1)} : weights),
        cs(q, (knots.size() - 1) * std::size_t(ny) * 4) {
    auto s = make_spline<T, least_squares>(b, q, ny, false);
    s->set_partitions(ks.get(), std::int64_t(knots.size())).set_coefficients(cs.get());
    s->set_data(xs.get(), ys.get(), std::int64_t(x.size()));
    if (!weights.empty()) s->set_weights(ws.get());
    s->construct();
    q.wait_and_throw();
    coeffs = cs.to_vector();
  }
  sycl::queue q;
  usm_array<T> ks, xs, ys, ws, cs;
  std::vector<T> coeffs;
};

TYPED_TEST(fitting_test, least_squares_matches_the_dense_reference_and_ignores_zero_weights) {
  using T = TypeParam;
  const std::vector<T> knots = {T(0), T(0.7), T(1.1), T(2), T(2.4), T(3.3), T(4)};
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> site(0.0, 4.0), noise(-0.1, 0.1);
  std::vector<T> x, y, w;
  for (int i = 0; i < 300; ++i) {
    x.push_back(T(site(rng)));
    y.push_back(T(std::cos(double(x.back())) + noise(rng)));
    w.push_back(T(i % 7 == 0 ? 0 : 1 + (i % 3)));
  }
  const std::vector<real> ref = least_squares_reference(widen(knots), widen(x), widen(y), widen(w), widen(x));
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    const least_squares_run<T> run(b, knots, x, y, 1, w);
    std::vector<real> got;
    for (T at : x) got.push_back(evaluate(run.coeffs, knots, 0, at));
    EXPECT_LT(relative_difference(got, ref), tolerance<T>());
    // Values of weight 0 are never read.
    std::vector<T> moved = y;
    for (std::size_t i = 0; i < moved.size(); i += 7) moved[i] = std::numeric_limits<T>::quiet_NaN();
    EXPECT_EQ(least_squares_run<T>(b, knots, x, moved, 1, w).coeffs, run.coeffs);
  }
}

TYPED_TEST(fitting_test, least_squares_reproduces_a_cubic_for_many_functions) {
  using T = TypeParam;
  const std::vector<T> knots = {T(-1), T(-0.2), T(0.5), T(1.5), T(2)};
  std::vector<T> x, y;
  for (int i = 0; i < 40; ++i) x.push_back(T(-1 + 3.0 * ((i * 17) % 40) / 39.0));
  auto cubic = [](int j, double s) { return 1 + j - 0.5 * s + 0.25 * j * s * s - 0.125 * s * s * s; };
  for (int j = 0; j < 3; ++j)
    for (T s : x) y.push_back(T(cubic(j, double(s))));
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    const least_squares_run<T> run(b, knots, x, y, 3);
    for (int j = 0; j < 3; ++j)
      for (double s = -1; s <= 2; s += 0.125) EXPECT_NEAR(double(evaluate(run.coeffs, knots, j, s)), cubic(j, s),
                                                          1e4 * double(tolerance<T>()));
  }
}

// Refusals: the setters on the calling thread, the data through the
// queue's handler with the same texts on both back-ends, the coefficients
// left uncomputed.
TYPED_TEST(fitting_test, refusals) {
  using T = TypeParam;
  for (backend b : both_backends) {
    SCOPED_TRACE(name(b));
    collecting c(b);
    std::vector<T> x = {0, 1, 2, 3, 4, 5}, y = {1, 0, 2, 1, 3, 2};
    usm_array<T> xs(c.q, x), ys(c.q, y), cs(c.q, 5 * 4), chosen(c.q, 1);
    auto s = make_spline<T, smoothing>(b, c.q, 1, false);
    s->set_partitions(xs.get(), 6).set_function_values(ys.get()).set_coefficients(cs.get());
    EXPECT_FALSE(s->is_initialized());
    expect_invalid([&] { s->set_smoothing(T(-1)); }, "set_smoothing", "lambda < 0");
    expect_invalid([&] { s->set_smoothing(std::numeric_limits<T>::quiet_NaN()); }, "set_smoothing",
                   "lambda is not finite");
    expect_invalid([&] { s->set_smoothing_by_gcv(nullptr); }, "set_smoothing_by_gcv", "chosen is nullptr");
    expect_invalid([&] { s->set_weights(nullptr); }, "set_weights", "data is nullptr");
    EXPECT_FALSE(s->is_initialized());
    s->set_smoothing(T(1));
    EXPECT_TRUE(s->is_initialized());
    auto refused = [&](const std::vector<T>& weights, const char* text) {
      usm_array<T> ws(c.q, weights);
      s->set_weights(ws.get());
      s->construct();
      EXPECT_EQ(c.take(), std::vector<std::string>{invalid("construct", text)});
      usm_array<T> at(c.q, 1, T(1)), out(c.q, 1);
      EXPECT_THROW(df::interpolate(*s, at.get(), 1, out.get()), velora::qrx::computation_error);
    };
    refused({1, 1, -1, 1, 1, 1}, "invalid weights");
    refused({1, 0, 0, 0, 0, 1}, "invalid weights");
    refused({1, 1, std::numeric_limits<T>::infinity(), 1, 1, 1}, "invalid weights");
    s->set_smoothing(std::numeric_limits<T>::max());
    refused({1, 1, 1, 1, 1, 1}, "smoothing parameter is too large");

    auto l = make_spline<T, least_squares>(b, c.q, 1, false);
    std::vector<T> knots = {0, 2, 5};
    usm_array<T> ks(c.q, knots);
    l->set_partitions(ks.get(), 3).set_coefficients(cs.get());
    EXPECT_FALSE(l->is_initialized());
    expect_invalid([&] { l->set_data(nullptr, ys.get(), 6); }, "set_data", "x is nullptr");
    expect_invalid([&] { l->set_data(xs.get(), ys.get(), -1); }, "set_data", "ndata < 0");
    auto refused_data = [&](const std::vector<T>& sites, std::int64_t n, const char* text) {
      usm_array<T> data(c.q, sites);
      l->set_data(data.get(), ys.get(), n);
      l->construct();
      const std::vector<std::string> none;
      EXPECT_EQ(c.take(), *text != 0 ? std::vector<std::string>{invalid("construct", text)} : none);
    };
    refused_data({0, 1, 2, 3, 4, 6}, 6, "data site is outside the partition");
    refused_data({0, 1, 2, std::numeric_limits<T>::quiet_NaN(), 4, 5}, 6, "data site is outside the partition");
    refused_data({0, 0.5, 1, 1.5, 1.75, 1.9}, 6, "data do not determine the spline");
    refused_data({0, 1, 2, 3, 4, 5}, 0, "data do not determine the spline");
    refused_data({0, 1, 2, 3, 4, 5}, 6, "");
  }
}

}  // namespace
}  // namespace backend_test
