#pragma once

/// \file
/// The hints that describe the layout of a spline's arrays and of the
/// results. Every hint value is a single bit; the values are part of the
/// interface and are passed unchanged to the back-ends.

#include <cstdint>

namespace velora::qrx::experimental::data_fitting {

/// How the breakpoints of the partition are given.
enum class partition_hint : std::int64_t {
  /// nx strictly increasing breakpoints x[0] < ... < x[nx-1].
  non_uniform = 1,
  /// nx strictly increasing breakpoints, nearly evenly spaced.
  quasi_uniform = 2,
  /// Two values: the ends a < b of nx evenly spaced breakpoints.
  uniform = 4,
};

/// Layout of the function values: the value of function j at breakpoint i.
enum class function_hint : std::int64_t {
  /// functions[j*nx + i]
  row_major = 16,
  /// functions[i*ny + j]
  col_major = 32,
};

/// Layout of the coefficients: coefficient q of function j on cell k is
/// coeffs[(j*(nx - 1) + k)*m + q], m = 2 (linear) or 4 (cubic).
enum class coefficient_hint : std::int64_t {
  /// The only layout.
  row_major = 16,
};

/// Layout of the results: the derivative of order d of function f at site
/// s, with K slots per (function, site), K = 1 + the highest order asked for.
enum class interpolate_hint : std::int64_t {
  /// results[(f*nsites + s)*K + d]
  funcs_sites_ders = 16,
  /// results[(f*K + d)*nsites + s]
  funcs_ders_sites = 32,
  /// results[(s*ny + f)*K + d]
  sites_funcs_ders = 256,
  /// results[(s*K + d)*ny + f]
  sites_ders_funcs = 512,
};

/// How the interpolation sites are given.
enum class site_hint : std::int64_t {
  /// nsites sites in any order.
  non_uniform = 1,
  /// Two values: the first and the last of nsites evenly spaced sites.
  uniform = 4,
  /// Kind 64 of the kernel interface: nsites sites, ascending. The GPU
  /// back-end reads them as non_uniform; the CPU kernels walk from each
  /// site's cell to the next one's (unsorted sites still give correct
  /// results, more slowly).
  kind_64 = 64,
};

}  // namespace velora::qrx::experimental::data_fitting
