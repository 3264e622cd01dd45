#pragma once

#include <cstdint>

namespace velora::qrx::experimental::data_fitting {

// Boundary conditions of a cubic Hermite spline. A spline accumulates the
// kinds of successive set_boundary_conditions calls with bitwise OR; the
// accepted sums are 0, 1, 2, 64, 128 and one left kind with one right kind
// (12, 24, 36, 48).
enum class bc_type : std::int64_t {
  kind_1 = 1,
  free_end = 2,          // second derivative zero at both ends
  first_left_der = 4,    // left-end value: first derivative at the left end
  first_right_der = 8,   // right-end value: first derivative at the right end
  second_left_der = 16,  // left-end value: second derivative at the left end
  second_right_der = 32, // right-end value: second derivative at the right end
  periodic = 64,         // left-end value: first derivative at both ends
  kind_128 = 128,
};

}  // namespace velora::qrx::experimental::data_fitting
