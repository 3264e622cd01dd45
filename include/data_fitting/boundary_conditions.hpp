#pragma once

#include <cstdint>

namespace velora::qrx::experimental::data_fitting {

// Boundary conditions of a cubic spline. A spline accumulates the kinds of
// successive set_boundary_conditions calls with bitwise OR. The sums that
// construction accepts depend on the kind:
//   hermite           0, 1, 2, 64, 128, 12, 24, 36, 48
//   natural, hyman    0 (free ends), 2, 12, 24, 36, 48, 64, 256
//   akima, bessel     0 (their own end slopes), 12
// where 12, 24, 36, 48 are one left kind with one right kind.
enum class bc_type : std::int64_t {
  kind_1 = 1,
  free_end = 2,          // second derivative zero at both ends
  first_left_der = 4,    // left-end value: first derivative at the left end
  first_right_der = 8,   // right-end value: first derivative at the right end
  second_left_der = 16,  // left-end value: second derivative at the left end
  second_right_der = 32, // right-end value: second derivative at the right end
  // Hermite: the left-end value is the first derivative at both ends.
  // Natural and Hyman: the periodic spline (the values at the two ends must
  // agree); the value is not used.
  periodic = 64,
  kind_128 = 128,
  // Natural and Hyman: third derivative continuous at the second and the
  // second-to-last breakpoint; with three breakpoints, the parabola through
  // them. The value is not used.
  not_a_knot = 256,
};

}  // namespace velora::qrx::experimental::data_fitting
