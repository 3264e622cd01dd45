#pragma once

/// \file
/// The spline kinds: empty tag types that select a spline's kind as the
/// second template argument of data_fitting::spline.

namespace velora::qrx::experimental::data_fitting {

/// Piecewise linear splines.
namespace linear_spline {
/// Piecewise linear spline: two coefficients per cell, c0 + c1*t with
/// t = x - x[k] on cell k.
struct default_type {};
}  // namespace linear_spline

/// Cubic splines. Every cubic kind stores four coefficients per cell,
/// c0 + c1*t + c2*t^2 + c3*t^3 with t = x - x[k] on cell k, so they all
/// evaluate alike; they differ in how the slope at each breakpoint is chosen.
namespace cubic_spline {
/// Cubic Hermite spline: the caller gives the first derivatives at the
/// interior breakpoints (spline::set_internal_conditions) and the end rules
/// (spline::set_boundary_conditions).
struct hermite {};
/// The interpolating cubic spline with continuous first and second
/// derivatives. Ends: free (second derivative zero) unless boundary
/// conditions say otherwise; periodic and not-a-knot ends too.
struct natural {};
/// Akima's spline: each slope is a weighted mean of the neighbouring
/// secants, so a change of one value moves only the nearby cells and the
/// curve does not wiggle around outliers. Continuous first derivative.
struct akima {};
/// Bessel's spline: each slope is the derivative of the parabola through
/// the breakpoint and its two neighbours. Continuous first derivative, local.
struct bessel {};
/// Hyman's monotone spline: the natural spline's slopes, limited so that
/// monotone data give a monotone curve. Continuous first derivative.
struct hyman {};
}  // namespace cubic_spline

}  // namespace velora::qrx::experimental::data_fitting
