#pragma once

/// \file
/// What a spline gives at sites outside its partition.

#include <cstdint>

namespace velora::qrx::experimental::data_fitting {

/// What a spline gives at a site outside its partition [a, b], chosen for
/// each side by spline::set_extrapolation. Sites on [a, b] are unaffected;
/// a NaN site gives NaN in every order asked for, whatever the mode.
enum class extrapolation : std::int64_t {
  /// The end cell's polynomial, continued (the default).
  extend = 0,
  /// The value at the end; every derivative 0.
  constant = 1,
  /// The value at the end plus the end's first derivative times the
  /// distance from the end; first derivative the end's, second and third 0.
  linear = 2,
  /// A quiet NaN in every order asked for.
  nan = 3,
  /// The site moved by whole periods b - a into [a, b), every order the
  /// spline's there. On both sides or neither. Sites more than 2^52 periods
  /// away (and infinite ones) give NaN.
  periodic = 4,
};

}  // namespace velora::qrx::experimental::data_fitting
