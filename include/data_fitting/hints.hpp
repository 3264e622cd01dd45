#pragma once

#include <cstdint>

namespace velora::qrx::experimental::data_fitting {

// Every hint value is a single bit; the values are part of the interface and
// are passed unchanged to the back-ends.

// How the breakpoints are given.
enum class partition_hint : std::int64_t {
  non_uniform = 1,    // nx ascending breakpoints
  quasi_uniform = 2,  // nx breakpoints, nearly evenly spaced
  uniform = 4,        // two values: the ends a and b
};

// Layout of the function values: value of function j at breakpoint i.
enum class function_hint : std::int64_t {
  row_major = 16,  // functions[j*nx + i]
  col_major = 32,  // functions[i*ny + j]
};

// Layout of the coefficients: coeffs[(j*(nx - 1) + k)*m + q].
enum class coefficient_hint : std::int64_t {
  row_major = 16,
};

// Layout of the results: d-th derivative of function f at site s, K slots.
enum class interpolate_hint : std::int64_t {
  funcs_sites_ders = 16,   // results[(f*nsites + s)*K + d]
  funcs_ders_sites = 32,   // results[(f*K + d)*nsites + s]
  sites_funcs_ders = 256,  // results[(s*ny + f)*K + d]
  sites_ders_funcs = 512,  // results[(s*K + d)*ny + f]
};

// How the interpolation sites are given.
enum class site_hint : std::int64_t {
  non_uniform = 1,  // nsites sites in any order
  uniform = 4,      // two values: first and last site
  kind_64 = 64,     // nsites sites; the GPU back-end reads them as non_uniform, the CPU kernels may take them as sorted
};

}  // namespace velora::qrx::experimental::data_fitting
