// The smoothing spline's GPU kernels against the CPU kernel library on the
// same data: given lambdas over several decades (0 included) and lambdas
// chosen by cross-validation, zero weights, both function layouts, listed
// and uniform partitions, one and many functions; and the faults the work
// reports for bad weights and a lambda too large for double.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "detail/construct_hints.hpp"
#include "detail/gpu/fitting/gpu_construct_1d_smoothing.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "support/devices.hpp"
#include "support/spline_test_support.hpp"

namespace {

namespace df = velora::qrx::experimental::data_fitting;
namespace detail = df::detail;
using df::function_hint;
using df::partition_hint;
using spline_test::usm_array;

template <typename T>
struct cpu_kernels;
template <>
struct cpu_kernels<float> {
  static constexpr auto new_task = &qrx_df_kernel_sNewTask1D;
  static constexpr auto edit = &qrx_df_kernel_sEditPPSpline1D;
  static constexpr auto smooth = &qrx_df_kernel_sDFSmoothingCubicSpline1D;
};
template <>
struct cpu_kernels<double> {
  static constexpr auto new_task = &qrx_df_kernel_dNewTask1D;
  static constexpr auto edit = &qrx_df_kernel_dEditPPSpline1D;
  static constexpr auto smooth = &qrx_df_kernel_dDFSmoothingCubicSpline1D;
};

struct layout {
  partition_hint part;
  function_hint func;
};

// Noisy smooth functions on uneven sites of [-1, 3], laid out as `how`
// says; a uniform partition is given by its two ends.
template <typename T>
struct problem {
  std::int64_t n, ny;
  layout how;
  std::vector<T> x, y, w;

  problem(std::int64_t n_, std::int64_t ny_, layout how_, unsigned seed) : n(n_), ny(ny_), how(how_) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 0.1);
    double at = -1.0;
    for (std::int64_t i = 0; i < n; ++i) {
      x.push_back(T(how.part == partition_hint::uniform ? -1.0 + 4.0 * double(i) / double(n - 1) : at));
      at += 4.0 / double(n) * (0.4 + 1.2 * u(rng));
    }
    y.resize(std::size_t(n * ny));
    for (std::int64_t j = 0; j < ny; ++j) {
      for (std::int64_t i = 0; i < n; ++i) {
        const double v = std::sin(1.3 * double(x[std::size_t(i)]) + double(j)) + noise(rng);
        y[std::size_t(how.func == function_hint::row_major ? j * n + i : i * ny + j)] = T(v);
      }
    }
    for (std::int64_t i = 0; i < n; ++i) w.push_back(T(0.5 + u(rng)));
  }
  std::vector<T> partition() const {
    return how.part == partition_hint::uniform ? std::vector<T>{x.front(), x.back()} : x;
  }
};

template <typename T>
struct result {
  std::int32_t status;  // CPU status or GPU fault bits
  std::vector<T> coeffs, chosen;
};

template <typename T>
result<T> on_cpu(const problem<T>& p, const T* weights, T lambda) {
  result<T> r{0, std::vector<T>(std::size_t(4 * (p.n - 1) * p.ny)), std::vector<T>(std::size_t(p.ny))};
  const std::vector<T> partition = p.partition();
  qrx_df_task* task = nullptr;
  EXPECT_EQ(cpu_kernels<T>::new_task(&task, p.n, partition.data(), std::int64_t(p.how.part), p.ny, p.y.data(),
                                     std::int64_t(p.how.func), 1),
            0);
  EXPECT_EQ(cpu_kernels<T>::edit(task, QRX_DF_ORDER_CUBIC, QRX_DF_CUBIC_SMOOTHING, 0, nullptr, 0, nullptr,
                                 r.coeffs.data(), QRX_DF_COEFFS_ROW_MAJOR),
            0);
  r.status = cpu_kernels<T>::smooth(task, weights, lambda, r.chosen.data(), nullptr);
  qrx_df_kernel_DeleteTask(&task);
  return r;
}

template <typename T>
result<T> on_gpu(const problem<T>& p, const T* weights, T lambda) {
  sycl::queue q = test_support::kernel_queue();
  usm_array<T> x(q, p.partition()), y(q, p.y), c(q, std::size_t(4 * (p.n - 1) * p.ny)), chosen(q, std::size_t(p.ny));
  usm_array<T*> y_cell(q, std::vector<T*>{y.get()}), c_cell(q, std::vector<T*>{c.get()});
  std::unique_ptr<usm_array<T>> w;
  if (weights != nullptr) w = std::make_unique<usm_array<T>>(q, std::vector<T>(weights, weights + p.n));
  std::int32_t* fault = sycl::malloc_host<std::int32_t>(1, q);
  *fault = 0;
  const detail::construct_args<T> args{p.n, p.ny, x.get(), y_cell.get(), c_cell.get(), nullptr, nullptr, T(0), T(0)};
  {
    detail::kept_until_complete kept;
    const T* wp = w ? w->get() : nullptr;
    detail::select(detail::construct_partition_hints{}, p.how.part, [&](auto part) {
      detail::select(detail::construct_function_hints{}, p.how.func, [&](auto func) {
        detail::gpu_construct_1d_smoothing<T, decltype(part)::value, decltype(func)::value>(
            q, args, wp, lambda, chosen.get(), fault, kept, {});
      });
    });
    q.wait_and_throw();
  }
  result<T> r{*fault, c.to_vector(), chosen.to_vector()};
  sycl::free(fault, q);
  return r;
}

// Roundings of T, a few of them times the scale of what is compared.
template <typename T>
double tolerance() {
  return std::is_same_v<T, double> ? 1e-9 : 2e-5;
}

template <typename T>
void expect_agreement(const result<T>& gpu, const result<T>& cpu, std::int64_t ny) {
  ASSERT_EQ(cpu.status, 0);
  ASSERT_EQ(gpu.status, 0);
  // Coefficient p of every cell against the largest of that order in its function.
  const std::size_t per_function = cpu.coeffs.size() / std::size_t(ny);
  for (std::size_t j = 0; j < std::size_t(ny); ++j) {
    for (std::size_t p = 0; p < 4; ++p) {
      double scale = 0;
      for (std::size_t k = p; k < per_function; k += 4) {
        scale = std::max(scale, std::fabs(double(cpu.coeffs[j * per_function + k])));
      }
      for (std::size_t k = p; k < per_function; k += 4) {
        const std::size_t at = j * per_function + k;
        ASSERT_NEAR(gpu.coeffs[at], cpu.coeffs[at], tolerance<T>() * scale) << "function " << j << " slot " << k;
      }
    }
  }
}

template <typename T>
class GpuSmoothing : public testing::Test {};
using precisions = testing::Types<float, double>;
TYPED_TEST_SUITE(GpuSmoothing, precisions);

const layout layouts[] = {{partition_hint::non_uniform, function_hint::row_major},
                          {partition_hint::quasi_uniform, function_hint::col_major},
                          {partition_hint::uniform, function_hint::row_major},
                          {partition_hint::uniform, function_hint::col_major}};

TYPED_TEST(GpuSmoothing, GivenLambdaAgreesWithTheCpuKernels) {
  using T = TypeParam;
  for (const layout how : layouts) {
    for (const std::int64_t ny : {1, 37}) {
      problem<T> p(60, ny, how, unsigned(ny));
      p.w[0] = p.w[10] = p.w[59] = T(0);  // the end sites too: the curve runs straight there
      for (const T lambda : {T(0), T(1e-4), T(1e-2), T(1), T(1e2)}) {
        SCOPED_TRACE(::testing::Message() << "lambda " << lambda << " ny " << ny << " part " << int(how.part));
        expect_agreement(on_gpu(p, p.w.data(), lambda), on_cpu(p, p.w.data(), lambda), ny);
        expect_agreement(on_gpu<T>(p, nullptr, lambda), on_cpu<T>(p, nullptr, lambda), ny);
      }
    }
  }
}

TYPED_TEST(GpuSmoothing, CrossValidatedLambdaAgreesWithTheCpuKernels) {
  using T = TypeParam;
  for (const layout how : layouts) {
    for (const std::int64_t ny : {1, 37}) {
      SCOPED_TRACE(::testing::Message() << "ny " << ny << " part " << int(how.part));
      problem<T> p(80, ny, how, 7u + unsigned(ny));
      p.w[0] = p.w[41] = T(0);
      for (const T* weights : {static_cast<const T*>(p.w.data()), static_cast<const T*>(nullptr)}) {
        const result<T> gpu = on_gpu(p, weights, T(-1));
        const result<T> cpu = on_cpu(p, weights, T(-1));
        expect_agreement(gpu, cpu, ny);
        for (std::int64_t j = 0; j < ny; ++j) {
          EXPECT_GT(cpu.chosen[std::size_t(j)], T(0));
          EXPECT_NEAR(gpu.chosen[std::size_t(j)], cpu.chosen[std::size_t(j)],
                      tolerance<T>() * cpu.chosen[std::size_t(j)]);
        }
      }
    }
  }
}

// A long partition with few functions is solved by blocks of rows: the
// same fit to roundings, and a lambda too large still refused. The blocks
// round differently from the serial sweep, so the lambdas are those whose
// systems at 20000 sites are conditioned well enough for the tolerance
// (larger ones differ by about 1e-8 in double, as any other order would).
TYPED_TEST(GpuSmoothing, GivenLambdaByBlocksAgreesWithTheCpuKernels) {
  using T = TypeParam;
  const std::int64_t n = 20000;
  for (const std::int64_t ny : {1, 3}) {
    ASSERT_GT(detail::band_blocks(n + 2, ny).blocks, 1);
    for (const layout how : {layouts[0], layouts[3]}) {
      problem<T> p(n, ny, how, 11u + unsigned(ny));
      p.w[0] = p.w[n / 2] = T(0);
      for (const T lambda : {T(1e-10), T(1e-8)}) {
        SCOPED_TRACE(::testing::Message() << "lambda " << lambda << " ny " << ny << " part " << int(how.part));
        expect_agreement(on_gpu(p, p.w.data(), lambda), on_cpu(p, p.w.data(), lambda), ny);
      }
      const T huge = std::is_same_v<T, double> ? T(1e300) : std::numeric_limits<T>::infinity();
      EXPECT_EQ(on_gpu(p, p.w.data(), huge).status, detail::fitting_bad_lambda);
    }
  }
}

// lambda = 0 by blocks: the positive sites listed by blocks of sites (9
// blocks of about 2222 here), with zero weights at the ends, alone, and in
// a run over a whole block of sites.
TYPED_TEST(GpuSmoothing, NaturalLimitByBlocksAgreesWithTheCpuKernels) {
  using T = TypeParam;
  const std::int64_t n = 20000;
  for (const std::int64_t ny : {1, 3}) {
    ASSERT_EQ(detail::band_blocks(n, ny).blocks, 9);
    for (const layout how : {layouts[0], layouts[3]}) {
      SCOPED_TRACE(::testing::Message() << "ny " << ny << " part " << int(how.part));
      problem<T> p(n, ny, how, 13u + unsigned(ny));
      expect_agreement(on_gpu<T>(p, nullptr, T(0)), on_cpu<T>(p, nullptr, T(0)), ny);
      p.w[0] = p.w[1] = p.w[n / 2] = p.w[n - 1] = T(0);
      std::fill(p.w.begin() + 2000, p.w.begin() + 4700, T(0));  // the second block of sites and more
      expect_agreement(on_gpu(p, p.w.data(), T(0)), on_cpu(p, p.w.data(), T(0)), ny);
    }
  }
}

// Lambdas chosen with every factor, trace and solve by blocks. A fast wave
// keeps the chosen lambda small: at the large lambdas the slow sine alone
// leads to, any order of elimination other than the serial sweep differs by
// about 1e-8 in double (as the given lambdas above).
TYPED_TEST(GpuSmoothing, CrossValidatedLambdaByBlocksAgreesWithTheCpuKernels) {
  using T = TypeParam;
  const std::int64_t n = 20000;
  for (const std::int64_t ny : {1, 3}) {
    ASSERT_GT(detail::band_blocks(n + 2, ny).blocks, 1);
    for (const layout how : {layouts[0], layouts[3]}) {
      SCOPED_TRACE(::testing::Message() << "ny " << ny << " part " << int(how.part));
      problem<T> p(n, ny, how, 17u + unsigned(ny));
      p.w[0] = p.w[n / 3] = T(0);
      for (std::size_t k = 0; k < p.y.size(); ++k) {
        const std::size_t i = how.func == function_hint::row_major ? k % std::size_t(n) : k / std::size_t(ny);
        p.y[k] += T(std::sin(300.0 * double(p.x[i])));
      }
      const result<T> gpu = on_gpu(p, p.w.data(), T(-1));
      const result<T> cpu = on_cpu(p, p.w.data(), T(-1));
      expect_agreement(gpu, cpu, ny);
      for (std::size_t j = 0; j < std::size_t(ny); ++j) {
        EXPECT_NEAR(gpu.chosen[j], cpu.chosen[j], tolerance<T>() * cpu.chosen[j]);
      }
    }
  }
}

// The influence matrix's trace from the blocked factor (the separators'
// inverse on its band, the blocks' inverses and spikes) against the serial
// one, from a smoothing spline's tables over lambdas that weigh G, both
// alike, and Omega.
TEST(PartitionedTrace, EqualsTheSerialInfluenceTrace) {
  const std::int64_t n = 6000;
  const problem<double> p(n, 1, layouts[0], 19u);
  std::vector<double> w = p.w;
  w[0] = w[100] = w[101] = 0.0;
  std::vector<double> data(std::size_t(detail::smoothing_tables::doubles(n)));
  const detail::smoothing_tables t{data.data(), n};
  const detail::scaled_partition<double, partition_hint::non_uniform> x{p.x.data(), n};
  for (std::int64_t i = 0; i < n; ++i) detail::fill_site(t, x, w.data(), i);
  for (std::int64_t a = 0; a < t.size(); ++a) detail::gather_band_row(t, a);
  ASSERT_TRUE(detail::summarise(t, x));
  const detail::band_partition parts{t.size(), 8};
  for (const double log_rho : {-4.0, 0.0, 4.0}) {
    const double lambda_u = detail::gcv_lambda(t, log_rho);
    std::vector<double> rows(std::size_t(detail::banded_factor_doubles(t.size())));
    ASSERT_TRUE(detail::factor_penalised(t, lambda_u, rows.data()));
    const double serial = detail::influence_trace(t, rows.data());
    std::vector<double> storage(std::size_t(detail::blocked_penalised::doubles(parts)));
    const detail::blocked_penalised f{parts, storage.data()};
    const detail::penalised_matrix m{t, lambda_u};
    for (std::int64_t b = 0; b < parts.blocks; ++b) ASSERT_TRUE(f.band().factor_block(m, 0.0, b));
    ASSERT_TRUE(f.factor_separators(m));
    for (std::int64_t b = 0; b < parts.blocks; ++b) f.trace_block(t, b);
    EXPECT_NEAR(f.trace(), serial, 1e-10 * serial) << "log10 rho " << log_rho;
  }
}

// The blocked factor and solve against the serial ones on random SPD bands
// cut into several blocks, and a matrix that is not positive definite
// refused whether its bad pivot falls in a block's interior or in a
// separator.
TEST(PartitionedBand, SolvesAsTheSerialFactorAndRefusesWhereItDoes) {
  for (const std::int64_t size : {512, 3000, 20002}) {
    const detail::band_partition parts{size, size / 256};
    std::mt19937 rng(static_cast<unsigned>(size));
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> band(std::size_t(4 * size));
    for (std::int64_t a = 0; a < size; ++a) {
      band[std::size_t(4 * a)] = 6.5 + u(rng);
      for (int d = 1; d < 4; ++d) band[std::size_t(4 * a + d)] = a >= d ? u(rng) : 0.0;
    }
    std::vector<double> r(static_cast<std::size_t>(size));
    for (double& v : r) v = u(rng);
    auto solve_both = [&](std::vector<double>& serial, std::vector<double>& blocked) {
      auto m = [&](int d, std::int64_t a) { return band[std::size_t(4 * a + d)]; };
      std::vector<double> rows(std::size_t(detail::banded_factor_doubles(size)));
      const bool serial_ok = detail::factor_band(size, m, 0.0, rows.data());
      serial = r;
      if (serial_ok) detail::solve_banded(size, rows.data(), serial.data());
      std::vector<double> shared(std::size_t(detail::partitioned_band::shared_doubles(parts)));
      std::vector<double> g(std::size_t(detail::partitioned_band::function_doubles(parts)));
      const detail::partitioned_band solver{parts, shared.data()};
      bool blocked_ok = true;
      for (std::int64_t b = 0; b < parts.blocks; ++b) blocked_ok = solver.factor_block(m, 0.0, b) && blocked_ok;
      blocked_ok = blocked_ok && solver.factor_separators(m, 0.0);
      blocked = r;
      if (blocked_ok) {
        for (std::int64_t b = 0; b < parts.blocks; ++b) solver.solve_block(m, blocked.data(), g.data(), b);
        solver.solve_separators(blocked.data(), g.data());
        for (std::int64_t b = 0; b < parts.blocks; ++b) solver.finish_block(blocked.data(), b);
      }
      EXPECT_EQ(serial_ok, blocked_ok);
      return blocked_ok;
    };
    std::vector<double> serial, blocked;
    ASSERT_TRUE(solve_both(serial, blocked)) << size;
    for (std::int64_t a = 0; a < size; ++a) {
      ASSERT_NEAR(blocked[std::size_t(a)], serial[std::size_t(a)], 1e-14) << "size " << size << " row " << a;
    }
    // A negative diagonal entry: in block 1's interior, then in separator 1's
    // last row.
    for (const std::int64_t row : {parts.interior(1) + 7, parts.first(1) + 2}) {
      const double kept = band[std::size_t(4 * row)];
      band[std::size_t(4 * row)] = -1.0;
      EXPECT_FALSE(solve_both(serial, blocked)) << "size " << size << " row " << row;
      band[std::size_t(4 * row)] = kept;
    }
  }
}

// Faults: weights that are negative, not finite or fewer than three
// positive, on every path; a lambda too large for double. The work
// returns (no hang on NaN) and flags what the CPU kernels refuse.
TYPED_TEST(GpuSmoothing, ReportsTheFaultsTheCpuKernelsRefuse) {
  using T = TypeParam;
  const T nan = std::numeric_limits<T>::quiet_NaN(), inf = std::numeric_limits<T>::infinity();
  const problem<T> p(20, 3, layouts[0], 3u);
  for (const T bad : {T(-1), nan, inf}) {
    for (const T lambda : {T(0), T(1), T(-1)}) {
      std::vector<T> w = p.w;
      w[7] = bad;
      EXPECT_EQ(on_gpu(p, w.data(), lambda).status, detail::fitting_bad_weights) << bad << " at lambda " << lambda;
      EXPECT_EQ(on_cpu(p, w.data(), lambda).status, QRX_DF_STATUS_BAD_WEIGHTS);
    }
  }
  std::vector<T> two(std::size_t(p.n), T(0));
  two[4] = two[12] = T(1);
  EXPECT_EQ(on_gpu(p, two.data(), T(-1)).status, detail::fitting_bad_weights);
  EXPECT_EQ(on_gpu(p, two.data(), T(0)).status, detail::fitting_bad_weights);
  // Too large to form G + lambda Omega: 1e300 in double, infinite in float.
  const T huge = std::is_same_v<T, double> ? T(1e300) : inf;
  EXPECT_EQ(on_gpu(p, p.w.data(), huge).status, detail::fitting_bad_lambda);
  EXPECT_EQ(on_cpu(p, p.w.data(), huge).status, QRX_DF_STATUS_BAD_LAMBDA);
  EXPECT_EQ(on_gpu(p, p.w.data(), nan).status, detail::fitting_bad_lambda);
  // No function: the weights are still checked.
  const problem<T> none(20, 0, layouts[0], 3u);
  std::vector<T> w = p.w;
  w[2] = T(-1);
  EXPECT_EQ(on_gpu(none, w.data(), T(-1)).status, detail::fitting_bad_weights);
  EXPECT_EQ(on_gpu(none, p.w.data(), T(1)).status, 0);
}

// A partition with a NaN or out of order is refused after this work: the
// work itself must end and stay in bounds (what it writes is not read).
TYPED_TEST(GpuSmoothing, EndsOnABrokenPartition) {
  using T = TypeParam;
  for (const T broken : {std::numeric_limits<T>::quiet_NaN(), T(5), -std::numeric_limits<T>::infinity()}) {
    for (const layout how : {layouts[0], layouts[2]}) {
      problem<T> p(30, 2, how, 5u);
      p.x[how.part == partition_hint::uniform ? 0 : 11] = broken;
      for (const T lambda : {T(0), T(1), T(-1)}) on_gpu(p, p.w.data(), lambda);
    }
  }
}

}  // namespace
