#pragma once

namespace velora::qrx::experimental::data_fitting {

namespace linear_spline {
// Piecewise linear spline: two coefficients per cell.
struct default_type {};
}  // namespace linear_spline

namespace cubic_spline {
// Cubic Hermite spline: four coefficients per cell, built from values and
// first derivatives at the breakpoints.
struct hermite {};
}  // namespace cubic_spline

}  // namespace velora::qrx::experimental::data_fitting
