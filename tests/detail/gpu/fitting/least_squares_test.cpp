// The least-squares spline's GPU kernels against the CPU kernel library on
// the same data: random sites in any order, weights with zeros (whose values
// are NaN, so a read would show), both data layouts, every partition hint,
// one and many functions, data over many blocks; and the faults the work
// reports.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "detail/fitting_fault.hpp"
#include "detail/gpu/fitting/gpu_construct_1d_least_squares.hpp"
#include "qrx_df_kernels/df_kernels.h"
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
  static constexpr auto fit = &qrx_df_kernel_sDFLeastSquaresCubicSpline1D;
};
template <>
struct cpu_kernels<double> {
  static constexpr auto new_task = &qrx_df_kernel_dNewTask1D;
  static constexpr auto edit = &qrx_df_kernel_dEditPPSpline1D;
  static constexpr auto fit = &qrx_df_kernel_dDFLeastSquaresCubicSpline1D;
};

// nx knots on [-1, 2] (uneven, or uniform), ndata sites in random order,
// ny noisy functions kept row-major; weights in [0.2, 3] with some zero, or
// none.
template <typename T>
struct data_case {
  std::int64_t nx, ndata, ny;
  partition_hint part;
  function_hint layout = function_hint::row_major;
  std::vector<T> t, x, y, w;

  data_case(std::int64_t nx_, std::int64_t ndata_, std::int64_t ny_, partition_hint part_, unsigned seed)
      : nx(nx_), ndata(ndata_), ny(ny_), part(part_) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> steps;
    double total = 0;
    for (std::int64_t k = 0; k + 1 < nx; ++k) total += steps.emplace_back(uniform() ? 1.0 : 0.5 + u(rng));
    double at = 0;
    t.push_back(T(-1));
    for (std::int64_t k = 0; k + 2 < nx; ++k) t.push_back(T(-1 + 3 * (at += steps[k]) / total));
    t.push_back(T(2));
    for (std::int64_t i = 0; i < ndata; ++i) x.push_back(T(-1 + 3 * u(rng)));
    if (ndata > 1) x[0] = T(2), x[ndata - 1] = T(-1);  // both ends as sites
    std::normal_distribution<double> noise(0.0, 0.05);
    for (std::int64_t j = 0; j < ny; ++j) {
      for (std::int64_t i = 0; i < ndata; ++i) y.push_back(T(std::sin(2.0 * x[i] + j) + noise(rng)));
    }
    std::uniform_real_distribution<double> weight(0.2, 3.0);
    for (std::int64_t i = 0; i < ndata; ++i) w.push_back(i % 11 == 5 ? T(0) : T(weight(rng)));
  }

  bool uniform() const { return part == partition_hint::uniform; }
  std::vector<T> partition() const { return uniform() ? std::vector<T>{t.front(), t.back()} : t; }
  // The values in the case's layout; those of sites of weight zero NaN.
  std::vector<T> values() const {
    std::vector<T> v(y.size());
    for (std::int64_t j = 0; j < ny; ++j) {
      for (std::int64_t i = 0; i < ndata; ++i) {
        const T value = !w.empty() && w[i] == T(0) ? std::numeric_limits<T>::quiet_NaN() : y[j * ndata + i];
        v[layout == function_hint::col_major ? i * ny + j : j * ndata + i] = value;
      }
    }
    return v;
  }
  const T* weights() const { return w.empty() ? nullptr : w.data(); }
};

// The CPU kernel library's fit: its status and coefficients.
template <typename T>
std::int32_t cpu_fit(const data_case<T>& c, std::vector<T>& coeffs) {
  coeffs.assign(std::size_t(4 * (c.nx - 1) * c.ny), T(0));
  const std::vector<T> partition = c.partition(), values = c.values();
  const std::int64_t y_hint = static_cast<std::int64_t>(c.layout);
  qrx_df_task* task = nullptr;
  std::int32_t s = cpu_kernels<T>::new_task(&task, c.nx, partition.data(),
                                            c.uniform() ? QRX_DF_PARTITION_UNIFORM : QRX_DF_PARTITION_NON_UNIFORM, c.ny,
                                            nullptr, QRX_DF_FUNCTIONS_ROW_MAJOR, 1);
  if (s == 0) {
    s = cpu_kernels<T>::edit(task, QRX_DF_ORDER_CUBIC, QRX_DF_CUBIC_LEAST_SQUARES, 0, nullptr, 0, nullptr,
                             coeffs.data(), QRX_DF_COEFFS_ROW_MAJOR);
  }
  if (s == 0) s = cpu_kernels<T>::fit(task, c.x.data(), values.data(), c.ndata, y_hint, c.weights(), nullptr);
  qrx_df_kernel_DeleteTask(&task);
  return s;
}

// The GPU kernels' fit: the fault bits and coefficients.
template <typename T>
std::int32_t gpu_fit(sycl::queue& q, const data_case<T>& c, std::vector<T>& coeffs) {
  usm_array<T> partition(q, c.partition()), x(q, c.x), y(q, c.values()), w(q, c.w);
  usm_array<T> out(q, std::size_t(4 * (c.nx - 1) * c.ny), T(0));
  usm_array<T*> cell(q, std::vector<T*>{out.get()});
  usm_array<std::int32_t> fault(q, 1, 0);
  const detail::construct_args<T> spline{c.nx, c.ny, partition.get(), nullptr, cell.get(), nullptr, nullptr,
                                         T(0), T(0)};
  detail::kept_until_complete kept;
  auto run = [&](auto part, auto layout) {
    detail::gpu_construct_1d_least_squares<T, decltype(part)::value, decltype(layout)::value>(
        q, spline, x.get(), y.get(), c.ndata, c.w.empty() ? nullptr : w.get(), fault.get(), kept, {});
  };
  auto with_layout = [&](auto part) {
    if (c.layout == function_hint::col_major) {
      run(part, std::integral_constant<function_hint, function_hint::col_major>{});
    } else {
      run(part, std::integral_constant<function_hint, function_hint::row_major>{});
    }
  };
  if (c.part == partition_hint::uniform) {
    with_layout(std::integral_constant<partition_hint, partition_hint::uniform>{});
  } else if (c.part == partition_hint::quasi_uniform) {
    with_layout(std::integral_constant<partition_hint, partition_hint::quasi_uniform>{});
  } else {
    with_layout(std::integral_constant<partition_hint, partition_hint::non_uniform>{});
  }
  q.wait_and_throw();
  coeffs = out.to_vector();
  return fault[0];
}

// Each coefficient within `tolerance` of the CPU's, relative to the largest
// magnitude of that power over the function's cells.
template <typename T>
void expect_close(const data_case<T>& c, const std::vector<T>& gpu, const std::vector<T>& cpu, double tolerance) {
  const std::int64_t cells = c.nx - 1;
  for (std::int64_t j = 0; j < c.ny; ++j) {
    for (int p = 0; p < 4; ++p) {
      double scale = 0;
      for (std::int64_t k = 0; k < cells; ++k) scale = std::max(scale, std::fabs(double(cpu[(j * cells + k) * 4 + p])));
      for (std::int64_t k = 0; k < cells; ++k) {
        const std::size_t e = std::size_t((j * cells + k) * 4 + p);
        ASSERT_NEAR(double(gpu[e]), double(cpu[e]), tolerance * (1 + scale))
            << "function " << j << " cell " << k << " power " << p;
      }
    }
  }
}

template <typename T>
class GpuLeastSquares : public ::testing::Test {
 protected:
  sycl::queue q = test_support::kernel_queue();
  static constexpr double tolerance = std::is_same_v<T, double> ? 1e-11 : 2e-6;
};
using precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(GpuLeastSquares, precisions);

// Every partition hint, both layouts, one and many functions, 10^4 sites
// over several blocks: the GPU fit is the CPU's to rounding, and the same
// bits when run again.
TYPED_TEST(GpuLeastSquares, AgreesWithTheCpuKernels) {
  using T = TypeParam;
  for (partition_hint part : {partition_hint::non_uniform, partition_hint::quasi_uniform, partition_hint::uniform}) {
    for (function_hint layout : {function_hint::row_major, function_hint::col_major}) {
      for (std::int64_t ny : {1, 37}) {
        SCOPED_TRACE(::testing::Message() << "partition " << int(part) << " layout " << int(layout) << " ny " << ny);
        data_case<T> c(40, 10000, ny, part, unsigned(ny) + unsigned(part));
        c.layout = layout;
        if (ny == 1) c.w.clear();
        std::vector<T> cpu, gpu, again;
        ASSERT_EQ(cpu_fit(c, cpu), QRX_DF_STATUS_OK);
        ASSERT_EQ(gpu_fit(this->q, c, gpu), detail::fitting_sound);
        expect_close(c, gpu, cpu, this->tolerance);
        ASSERT_EQ(gpu_fit(this->q, c, again), detail::fitting_sound);
        EXPECT_EQ(std::memcmp(gpu.data(), again.data(), gpu.size() * sizeof(T)), 0);
      }
    }
  }
}

// A function's fit does not depend on the functions fitted with it: many
// functions read the sites' recorded terms, one adds its terms as the sites
// are read, and both add the same terms in the same order.
TYPED_TEST(GpuLeastSquares, FitsEachFunctionAsAlone) {
  using T = TypeParam;
  data_case<T> all(30, 5000, 5, partition_hint::quasi_uniform, 2);
  std::vector<T> many, one;
  ASSERT_EQ(gpu_fit(this->q, all, many), detail::fitting_sound);
  for (std::int64_t j : {0, 4}) {
    data_case<T> alone = all;
    alone.ny = 1;
    alone.y.assign(all.y.begin() + j * all.ndata, all.y.begin() + (j + 1) * all.ndata);
    ASSERT_EQ(gpu_fit(this->q, alone, one), detail::fitting_sound);
    EXPECT_EQ(std::memcmp(one.data(), many.data() + j * one.size(), one.size() * sizeof(T)), 0) << j;
  }
}

// A long partition with few functions is solved by blocks of rows: the
// CPU's fit to rounding, and data leaving a stretch of knots in the middle
// empty still refused.
TYPED_TEST(GpuLeastSquares, AgreesWhenSolvedByBlocks) {
  using T = TypeParam;
  const std::int64_t nx = 20000;
  for (std::int64_t ny : {1, 3}) {
    ASSERT_GT(detail::band_blocks(nx + 2, ny).blocks, 1);
    SCOPED_TRACE(::testing::Message() << "ny " << ny);
    data_case<T> c(nx, 8 * nx, ny, ny == 1 ? partition_hint::uniform : partition_hint::non_uniform, 5);
    std::vector<T> cpu, gpu;
    ASSERT_EQ(cpu_fit(c, cpu), QRX_DF_STATUS_OK);
    ASSERT_EQ(gpu_fit(this->q, c, gpu), detail::fitting_sound);
    expect_close(c, gpu, cpu, this->tolerance);
    for (std::int64_t i = 0; i < c.ndata; ++i) {
      if (c.x[i] > c.t[nx / 2] && c.x[i] < c.t[nx / 2 + 5]) c.w[i] = T(0);
    }
    EXPECT_EQ(cpu_fit(c, cpu), QRX_DF_STATUS_DATA_UNDETERMINED);
    EXPECT_EQ(gpu_fit(this->q, c, gpu), detail::fitting_undetermined);
  }
}

// Few sites per basis function, one block: the undetermined edge of the
// data still agrees (only the last cell empty: the right end is a site).
TYPED_TEST(GpuLeastSquares, AgreesOnSparseData) {
  using T = TypeParam;
  data_case<T> c(12, 60, 3, partition_hint::non_uniform, 4);
  for (std::int64_t i = 0; i < c.ndata; ++i) {
    if (c.x[i] > c.t[10] && c.x[i] < c.t[11]) c.w[i] = T(0);
  }
  std::vector<T> cpu, gpu;
  ASSERT_EQ(cpu_fit(c, cpu), QRX_DF_STATUS_OK);
  ASSERT_EQ(gpu_fit(this->q, c, gpu), detail::fitting_sound);
  expect_close(c, gpu, cpu, 100 * this->tolerance);
}

// What the work refuses, with the fault the CPU kernels report for it, for
// one function (right sides gathered with the sites) and three (recorded).
TYPED_TEST(GpuLeastSquares, ReportsFaults) {
  using T = TypeParam;
  struct refusal {
    const char* what;
    std::int32_t fault;
    std::int32_t status;
    void (*spoil)(data_case<T>&);
  };
  const refusal refusals[] = {
      {"site beyond b", detail::fitting_data_outside, QRX_DF_STATUS_DATA_SITE_OUTSIDE,
       [](data_case<T>& c) { c.x[3000] = T(2.5); }},
      {"site NaN of weight zero", detail::fitting_data_outside, QRX_DF_STATUS_DATA_SITE_OUTSIDE,
       [](data_case<T>& c) { c.x[5] = std::numeric_limits<T>::quiet_NaN(); }},
      {"negative weight", detail::fitting_bad_weights, QRX_DF_STATUS_BAD_WEIGHTS,
       [](data_case<T>& c) { c.w[7000] = T(-1); }},
      {"infinite weight", detail::fitting_bad_weights, QRX_DF_STATUS_BAD_WEIGHTS,
       [](data_case<T>& c) { c.w[9999] = std::numeric_limits<T>::infinity(); }},
      {"all data in one cell", detail::fitting_undetermined, QRX_DF_STATUS_DATA_UNDETERMINED,
       [](data_case<T>& c) {
         for (T& v : c.x) v = T(0.5) * (c.t[3] + c.t[4]) + (v - T(0.5)) * T(1e-3) * (c.t[4] - c.t[3]);
       }},
      {"nx + 1 distinct sites, repeated", detail::fitting_undetermined, QRX_DF_STATUS_DATA_UNDETERMINED,
       [](data_case<T>& c) {
         for (std::size_t i = 0; i < c.x.size(); ++i) c.x[i] = c.t[i % c.t.size()] + (i % 40 == 1 ? T(0.01) : T(0));
       }},
      {"every weight zero", detail::fitting_undetermined, QRX_DF_STATUS_DATA_UNDETERMINED,
       [](data_case<T>& c) { std::fill(c.w.begin(), c.w.end(), T(0)); }},
      {"no data", detail::fitting_undetermined, QRX_DF_STATUS_DATA_UNDETERMINED,
       [](data_case<T>& c) {
         c.ndata = 0;
         c.x.clear(), c.y.clear(), c.w.clear();
       }},
  };
  for (partition_hint part : {partition_hint::non_uniform, partition_hint::uniform}) {
    for (const refusal& r : refusals) {
      SCOPED_TRACE(::testing::Message() << r.what << ", partition " << int(part));
      data_case<T> c(20, 10000, part == partition_hint::uniform ? 1 : 3, part, 9);
      r.spoil(c);
      std::vector<T> cpu, gpu;
      EXPECT_EQ(cpu_fit(c, cpu), r.status);
      EXPECT_EQ(gpu_fit(this->q, c, gpu), r.fault);
    }
  }
}

}  // namespace
