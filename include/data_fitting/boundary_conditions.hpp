#pragma once

/// \file
/// Boundary conditions of the cubic spline kinds.

#include <cstdint>

namespace velora::qrx::experimental::data_fitting {

/// Boundary conditions of a cubic spline.
///
/// A spline accumulates the kinds of successive
/// spline::set_boundary_conditions calls with bitwise OR; each call also
/// records its value, for the right end with first_right_der and
/// second_right_der, else for the left end. The sums that construction
/// accepts depend on the kind:
///
/// | kind | accepted sums |
/// |---|---|
/// | hermite | 0, 1, 2, 64, 128 and one left with one right kind (12, 24, 36, 48); with shared slopes at least one call is needed (set_boundary_conditions(bc_type(0), 0) for no end rule), with every function's own slopes none is taken |
/// | natural, hyman | 0 (free ends), 2, 12, 24, 36, 48, 64, 256 |
/// | akima, makima, bessel, pchip, steffen | 0 (their own end slopes), 12 |
///
/// Derivative values are in units of the function values per unit of the
/// breakpoints (first) and per unit squared (second).
enum class bc_type : std::int64_t {
  /// Kind 1 of the kernel interface. Hermite: no end rule; the end cells are
  /// quadratics (as with no kind at all).
  kind_1 = 1,
  /// Second derivative zero at both ends.
  free_end = 2,
  /// The left-end value is the first derivative at the left end.
  first_left_der = 4,
  /// The right-end value is the first derivative at the right end.
  first_right_der = 8,
  /// The left-end value is the second derivative at the left end.
  second_left_der = 16,
  /// The right-end value is the second derivative at the right end.
  second_right_der = 32,
  /// Hermite: the left-end value is the first derivative at both ends.
  /// Natural and Hyman: the periodic spline (the values at the two ends must
  /// agree); the value is not used.
  periodic = 64,
  /// Kind 128 of the kernel interface. Hermite: no end rule; the end cells
  /// are quadratics, as with kind_1.
  kind_128 = 128,
  /// Natural and Hyman: third derivative continuous at the second and the
  /// second-to-last breakpoint; with three breakpoints, the parabola through
  /// them. The value is not used.
  not_a_knot = 256,
};

}  // namespace velora::qrx::experimental::data_fitting
