#pragma once

#include "data_fitting/hints.hpp"
#include "detail/spline_conditions.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// How the slope at an outer breakpoint of a cubic Hermite spline is fixed.
enum class end_rule {
  quadratic,        // the end cell is a quadratic
  natural,          // zero second derivative
  given_slope,      // the boundary value is the first derivative
  given_curvature,  // the boundary value is the second derivative
};

struct end_rules {
  end_rule left;
  end_rule right;
};

// Rule at each end for every accepted boundary-condition sum. Periodic
// takes the left value as the slope at both ends: its kernel is handed the
// left value in place of the right one.
constexpr end_rules hermite_end_rules(boundary_sum bc) {
  switch (bc) {
    case boundary_sum::free_end: return {end_rule::natural, end_rule::natural};
    case boundary_sum::first_derivatives: return {end_rule::given_slope, end_rule::given_slope};
    case boundary_sum::second_left_first_right: return {end_rule::given_curvature, end_rule::given_slope};
    case boundary_sum::first_left_second_right: return {end_rule::given_slope, end_rule::given_curvature};
    case boundary_sum::second_derivatives: return {end_rule::given_curvature, end_rule::given_curvature};
    case boundary_sum::periodic: return {end_rule::given_slope, end_rule::given_slope};
    default: return {end_rule::quadratic, end_rule::quadratic};  // none, kind_1, kind_128: no end condition
  }
}

// Width of one cell as the end formulas need it. A uniform partition is
// never expanded: only the reciprocal width r is formed, and a product with
// the width becomes a division by r.
template <partition_hint PartHint, typename T>
struct cell_width {
  T r;  // 1 / width
  T h;  // width; unused for uniform partitions

  T quarter_width_times(T value) const {
    if constexpr (PartHint == partition_hint::uniform) {
      return (T(0.25) * value) / r;
    } else {
      return T(0.25) * h * value;
    }
  }
};

// Slope at x[0], from the first cell's slope s, the slope dr at its right
// end and the left boundary value.
template <partition_hint PartHint, typename T>
T left_end_slope(end_rule rule, T s, T dr, const cell_width<PartHint, T>& width, T value) {
  switch (rule) {
    case end_rule::quadratic: return T(2) * s - dr;
    case end_rule::natural: return T(1.5) * s - T(0.5) * dr;
    case end_rule::given_slope: return value;
    default: return T(1.5) * s - T(0.5) * dr - width.quarter_width_times(value);
  }
}

// Slope at x[nx - 1], from the last cell's slope s, the slope dl at its left
// end and the right boundary value.
template <partition_hint PartHint, typename T>
T right_end_slope(end_rule rule, T s, T dl, const cell_width<PartHint, T>& width, T value) {
  switch (rule) {
    case end_rule::quadratic: return T(2) * s - dl;
    case end_rule::natural: return T(1.5) * s - T(0.5) * dl;
    case end_rule::given_slope: return value;
    default: return T(1.5) * s - T(0.5) * dl + width.quarter_width_times(value);
  }
}

}  // namespace velora::qrx::experimental::data_fitting::detail
