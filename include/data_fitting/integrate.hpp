#pragma once

/// \file
/// Definite integrals of constructed splines.

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/spline.hpp"

namespace velora::qrx::experimental::data_fitting {

/// Integrates every function of a constructed spline over n intervals, on
/// the spline's own queue.
///
/// `results[j*n + i]` is the integral of function j from `lower[i]` to
/// `upper[i]`: negative when `upper[i] < lower[i]`, 0 when they are equal.
/// Outside the partition [a, b] the spline's extrapolation modes hold:
/// `extend` integrates the end cell's polynomial, `constant` and `linear`
/// their lines, `nan` gives NaN for any interval reaching past that side,
/// `periodic` whole periods plus the rest. A NaN bound gives NaN.
///
/// The first integrate after each construction (and every integrate of a
/// spline whose coefficients the caller supplied, which may change in
/// place) first computes every function's integrals from a to each
/// breakpoint, in one pass over the coefficients, into memory the spline
/// owns (2*nx*ny elements: each cumulative integral as an unevaluated sum
/// of two numbers, so that long partitions lose no digits). Each interval
/// then costs two cell searches.
///
/// \param spline a spline whose coefficients were computed (or supplied).
/// \param lower,upper n bounds each.
/// \param n number of intervals; 0 writes nothing.
/// \param results room for ny*n elements.
/// \param dependencies events to wait for first; the spline's latest
///   construction is waited for whether listed or not.
/// \return the event of the submitted work; nothing is waited for.
/// \throws computation_error "coefficients were not computed", "spline
///   isn't initialized", "coefficients were not set".
/// \throws invalid_argument "n < 0", "lower is nullptr", "upper is nullptr",
///   "results is nullptr", "result array size overflows".
template <typename FpType, typename SplineType, int Dimensions>
sycl::event integrate(spline<FpType, SplineType, Dimensions>& spline, const FpType* lower, const FpType* upper,
                      std::int64_t n, FpType* results, const std::vector<sycl::event>& dependencies = {});

}  // namespace velora::qrx::experimental::data_fitting
