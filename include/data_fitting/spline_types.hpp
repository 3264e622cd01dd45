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
/// The piecewise cubic Hermite interpolating polynomial (PCHIP) of
/// Fritsch and Butland: each slope is a weighted harmonic mean of the
/// neighbouring secants, zero where they differ in sign, so monotone data
/// give a monotone curve and extrema stay at breakpoints. Local, continuous
/// first derivative.
struct pchip {};
/// The modified Akima spline: Akima's weighted mean of secants with weights
/// that also count the secants' size, so that flat runs stay flat and
/// symmetric data give a symmetric curve. Local, continuous first
/// derivative.
struct makima {};
/// Steffen's monotone spline: each slope is the parabola's through the
/// breakpoint and its neighbours, limited by purely local rules so that
/// monotone data give a monotone curve and no cell overshoots its data.
/// Local, continuous first derivative.
struct steffen {};
/// The smoothing spline: a curve through noisy data rather than exactly
/// through it. The breakpoints are the data sites and the function values
/// the data; each function's spline is the C2 cubic with natural ends
/// (second derivative zero at a and b) that minimises
///   sum_i w_i (y_i - f(x_i))^2 + lambda * integral_a^b f''(x)^2 dx,
/// with lambda given (spline::set_smoothing) or chosen per function by
/// generalised cross-validation (spline::set_smoothing_by_gcv), and weights
/// w_i (spline::set_weights, default all 1).
struct smoothing {};
/// The least-squares spline on given knots: the breakpoints are the knots,
/// and the data (spline::set_data) are any number of sites in [a, b] with
/// their values; each function's spline is the C2 cubic on the knots that
/// minimises sum_i w_i (y_i - f(x_i))^2.
struct least_squares {};
}  // namespace cubic_spline

}  // namespace velora::qrx::experimental::data_fitting

/// Calls X(FpType, SplineType) for every spline the library instantiates
/// and exports, with SplineType named inside
/// velora::qrx::experimental::data_fitting. The one list of the library's
/// splines: it declares and instantiates them, and the build generates the
/// GPU dispatch units from it.
#define QRX_DF_FOR_EACH_SPLINE(X)                                              \
  X(float, linear_spline::default_type) X(double, linear_spline::default_type) \
  X(float, cubic_spline::hermite) X(double, cubic_spline::hermite)             \
  X(float, cubic_spline::natural) X(double, cubic_spline::natural)             \
  X(float, cubic_spline::akima) X(double, cubic_spline::akima)                 \
  X(float, cubic_spline::bessel) X(double, cubic_spline::bessel)               \
  X(float, cubic_spline::hyman) X(double, cubic_spline::hyman)                 \
  X(float, cubic_spline::pchip) X(double, cubic_spline::pchip)                 \
  X(float, cubic_spline::makima) X(double, cubic_spline::makima)               \
  X(float, cubic_spline::steffen) X(double, cubic_spline::steffen)             \
  X(float, cubic_spline::smoothing) X(double, cubic_spline::smoothing)         \
  X(float, cubic_spline::least_squares) X(double, cubic_spline::least_squares)
