#pragma once

#include <cmath>

namespace sycl {

// The SYCL 2020 math functions kernels of this project call, for the scalar
// floating-point types (§4.17.5): the standard library's, which host kernels
// may call.
inline float sqrt(float x) { return std::sqrt(x); }
inline double sqrt(double x) { return std::sqrt(x); }
inline float fabs(float x) { return std::fabs(x); }
inline double fabs(double x) { return std::fabs(x); }
// 10^x, as pow(10, x) computes it.
inline float exp10(float x) { return std::pow(10.0f, x); }
inline double exp10(double x) { return std::pow(10.0, x); }

}  // namespace sycl
