#pragma once

// Builds a spline from host data on any queue, constructs it and evaluates
// it, so that the same case can run on both back-ends.

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "detail/gpu/backend/gpu_spline_impl.hpp"
#include "spline/spline_access.hpp"
#include "support/spline_test_support.hpp"

namespace backend_test {

using namespace spline_test;

template <typename T, typename S>
struct config {
  using fp = T;
  using kind = S;
  static constexpr int coeffs_per_cell = std::is_same_v<S, linear> ? 2 : 4;
};
using configs = ::testing::Types<config<float, linear>, config<double, linear>, config<float, hermite>,
                                 config<double, hermite>>;

// The two back-ends. The GPU back-end runs on the GPU device; where the SYCL
// implementation has none, it runs on the CPU device with its implementation
// object put in place, since its kernels are plain SYCL kernels: the suites
// still hold its results to the CPU back-end's.
enum class backend { gpu, cpu };
inline const backend both_backends[] = {backend::gpu, backend::cpu};

inline sycl::queue queue_for(backend b) {
  return b == backend::gpu ? test_support::kernel_queue() : sycl::queue(sycl::cpu_selector_v);
}

// A spline on the queue of back-end `b`, run by that back-end.
template <typename T, typename S>
std::unique_ptr<df::spline<T, S, 1>> make_spline(backend b, const sycl::queue& q, std::int64_t ny,
                                                 bool is_coeff_computed) {
  namespace detail = df::detail;
  auto s = std::make_unique<df::spline<T, S, 1>>(q, ny, is_coeff_computed);
  if (b == backend::gpu && !q.get_device().is_gpu()) {
    std::unique_ptr<detail::spline_base<T, S, 1>> gpu_impl =
        std::make_unique<detail::spline_impl<T, S, 1, detail::gpu_backend>>(q, ny, is_coeff_computed);
    detail::spline_access::replace_impl(*s, std::move(gpu_impl));
  }
  return s;
}

inline const char* name(backend b) { return b == backend::gpu ? "GPU back-end" : "CPU back-end"; }

// The extrapolation mode's name, for test names and traces.
inline const char* mode_name(df::extrapolation e) {
  switch (e) {
    case df::extrapolation::extend: return "extend";
    case df::extrapolation::constant: return "constant";
    case df::extrapolation::linear: return "linear";
    case df::extrapolation::nan: return "nan";
    default: return "periodic";
  }
}

// Everything that describes one spline, on the host.
template <typename T>
struct spline_data {
  std::int64_t nx = 0, ny = 0;
  df::partition_hint part_hint = df::partition_hint::non_uniform;
  df::function_hint func_hint = df::function_hint::row_major;
  std::vector<T> partition;  // nx breakpoints, or {a, b} for uniform
  std::vector<T> values;     // nx*ny, laid out per func_hint
  std::vector<T> internal;   // nx - 2 first derivatives
  std::vector<T> own_slopes;  // Hermite: nx*ny first derivatives laid out as the values, or none
  std::vector<df::bc_type> bc_kinds;
  T bc_left = 0, bc_right = 0;

  // Breakpoint i, as the construction treats it.
  double x(std::int64_t i) const {
    if (part_hint != df::partition_hint::uniform) return partition[i];
    return partition[0] + double(i) * (double(partition[1]) - partition[0]) / double(nx - 1);
  }
  T& value(std::int64_t f, std::int64_t i) {
    return func_hint == df::function_hint::row_major ? values[f * nx + i] : values[i * ny + f];
  }
};

// Samples of f(function, x) over a partition of nx points in [a, b]: random
// increasing breakpoints, or the two ends for a uniform partition.
template <typename T, typename F>
spline_data<T> sample(std::int64_t nx, std::int64_t ny, df::partition_hint ph, df::function_hint fh, F&& f,
                      unsigned seed = 7) {
  spline_data<T> d;
  d.nx = nx;
  d.ny = ny;
  d.part_hint = ph;
  d.func_hint = fh;
  const double a = -1.25, b = 2.5;
  if (ph == df::partition_hint::uniform) {
    d.partition = {T(a), T(b)};
  } else {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> jitter(-0.3, 0.3);
    const double h = (b - a) / double(nx - 1);
    for (std::int64_t i = 0; i < nx; ++i)
      d.partition.push_back(T(i == 0 || i == nx - 1 ? a + h * double(i) : a + h * (double(i) + jitter(rng))));
  }
  d.values.resize(std::size_t(nx * ny));
  for (std::int64_t fn = 0; fn < ny; ++fn)
    for (std::int64_t i = 0; i < nx; ++i) d.value(fn, i) = T(f(fn, d.x(i), 0));
  for (std::int64_t i = 1; i + 1 < nx; ++i) d.internal.push_back(T(f(0, d.x(i), 1)));
  return d;
}

// Builds the spline on `q`, constructs it and returns its coefficients.
template <typename T, typename S>
struct built_spline {
  built_spline(backend b, const spline_data<T>& d) : built_spline(b, queue_for(b), d) {}
  built_spline(backend b, sycl::queue queue, const spline_data<T>& d)
      : q(queue),
        x(q, d.partition),
        y(q, d.values),
        ic(q, d.internal.empty() ? std::vector<T>{T(0)} : d.internal),
        slopes(q, d.own_slopes.empty() ? std::vector<T>{T(0)} : d.own_slopes),
        c(q, std::size_t((d.nx - 1) * d.ny * config<T, S>::coeffs_per_cell)),
        sp(make_spline<T, S>(b, q, d.ny, false)),
        s(*sp),
        ny_(d.ny) {
    s.set_partitions(x.get(), d.nx, d.part_hint).set_function_values(y.get(), d.func_hint);
    s.set_coefficients(c.get());
    if constexpr (!std::is_same_v<S, linear>) {
      for (df::bc_type kind : d.bc_kinds) {
        const bool right = kind == df::bc_type::first_right_der || kind == df::bc_type::second_right_der;
        s.set_boundary_conditions(kind, right ? d.bc_right : d.bc_left);
      }
    }
    if constexpr (std::is_same_v<S, hermite>) {
      if (!d.own_slopes.empty()) {
        s.set_first_derivatives(slopes.get());
      } else {
        s.set_internal_conditions(ic.get());
        if (d.bc_kinds.empty()) s.set_boundary_conditions(df::bc_type(0), T(0));
      }
    }
    constructed = s.construct();
    q.wait_and_throw();
  }

  // Evaluates at `sites` (all, or the two ends for uniform sites) into a
  // result array of ny*nsites*K elements prefilled with `sentinel`.
  std::vector<T> evaluate(const std::vector<T>& sites, std::int64_t nsites, std::bitset<32> mask,
                          df::interpolate_hint ih, df::site_hint sh, T sentinel, std::int64_t k) {
    usm_array<T> where(q, sites);
    usm_array<T> out(q, std::size_t(ny_ * nsites * k), sentinel);
    df::interpolate(s, where.get(), nsites, out.get(), mask, {constructed}, ih, sh);
    q.wait_and_throw();
    return out.to_vector();
  }

  sycl::queue q;
  usm_array<T> x, y, ic, slopes, c;
  std::unique_ptr<df::spline<T, S, 1>> sp;
  df::spline<T, S, 1>& s;
  sycl::event constructed;
  std::int64_t ny_;
};

}  // namespace backend_test
