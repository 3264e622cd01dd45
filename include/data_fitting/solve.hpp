#pragma once

/// \file
/// Solutions of f(x) = y on constructed splines.

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/spline.hpp"

namespace velora::qrx::experimental::data_fitting {

/// Finds, for every function of a constructed spline and each of n levels,
/// the sites x in [a, b] where the function equals the level, on the
/// spline's own queue.
///
/// For function j and level `y[i]`, `counts[j*n + i]` is the number of
/// roots found and `roots[(j*n + i)*max_roots + r]`, r < min(count,
/// max_roots), the roots in ascending order; only the first max_roots are
/// stored, the count may be larger. A root on a breakpoint is reported once,
/// a touching point (a root of even multiplicity) is reported, and a piece
/// on which the function equals the level throughout is reported once, at
/// its left end. A NaN or infinite level has no root. With max_roots = 1 on
/// a monotone spline this is the inverse function.
///
/// The first solve after each construction (and every solve of a spline
/// whose coefficients the caller supplied) first computes, in one pass over
/// the coefficients, each function's range of values over blocks of cells,
/// kept as a tree in memory the spline owns; a level then visits only the
/// blocks whose range holds it, so it costs about (roots + 1) * log(nx)
/// steps, one search for a monotone function.
///
/// \param spline a spline whose coefficients were computed (or supplied).
/// \param y n levels.
/// \param n number of levels; 0 writes nothing.
/// \param roots room for ny*n*max_roots elements; may be null when
///   max_roots is 0.
/// \param counts room for ny*n elements.
/// \param max_roots roots stored per function and level, >= 0.
/// \param dependencies events to wait for first; the spline's latest
///   construction is waited for whether listed or not.
/// \return the event of the submitted work; nothing is waited for.
/// \throws computation_error "coefficients were not computed", "spline
///   isn't initialized", "coefficients were not set".
/// \throws invalid_argument "n < 0", "max_roots < 0", "y is nullptr",
///   "roots is nullptr", "counts is nullptr", "result array size overflows".
template <typename FpType, typename SplineType, int Dimensions>
sycl::event solve(spline<FpType, SplineType, Dimensions>& spline, const FpType* y, std::int64_t n, FpType* roots,
                  std::int64_t* counts, std::int64_t max_roots, const std::vector<sycl::event>& dependencies = {});

}  // namespace velora::qrx::experimental::data_fitting
