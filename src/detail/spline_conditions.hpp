#pragma once

#include <cstdint>

#include "data_fitting/boundary_conditions.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// The boundary conditions of a spline: the OR of every bc_type recorded on
// it. The named sums are the ones some spline kind accepts; any other OR is
// refused by construct.
enum class boundary_sum : std::int64_t {
  none = 0,
  kind_1 = static_cast<std::int64_t>(bc_type::kind_1),
  free_end = static_cast<std::int64_t>(bc_type::free_end),
  first_derivatives = static_cast<std::int64_t>(bc_type::first_left_der) |
                      static_cast<std::int64_t>(bc_type::first_right_der),  // 12
  second_left_first_right = static_cast<std::int64_t>(bc_type::second_left_der) |
                            static_cast<std::int64_t>(bc_type::first_right_der),  // 24
  first_left_second_right = static_cast<std::int64_t>(bc_type::first_left_der) |
                            static_cast<std::int64_t>(bc_type::second_right_der),  // 36
  second_derivatives = static_cast<std::int64_t>(bc_type::second_left_der) |
                       static_cast<std::int64_t>(bc_type::second_right_der),  // 48
  periodic = static_cast<std::int64_t>(bc_type::periodic),
  kind_128 = static_cast<std::int64_t>(bc_type::kind_128),
  not_a_knot = static_cast<std::int64_t>(bc_type::not_a_knot),
};

// The sum with one more kind recorded.
constexpr boundary_sum with_kind(boundary_sum sum, bc_type kind) {
  return static_cast<boundary_sum>(static_cast<std::int64_t>(sum) | static_cast<std::int64_t>(kind));
}

// Whether the sum holds a given kind.
constexpr bool holds(boundary_sum sum, bc_type kind) {
  return (static_cast<std::int64_t>(sum) & static_cast<std::int64_t>(kind)) != 0;
}

// What the internal conditions of a Hermite spline hold.
enum class internal_conditions_type : std::int64_t {
  none = 0,
  first_derivatives = 1,  // the slopes at the interior breakpoints
};

}  // namespace velora::qrx::experimental::data_fitting::detail
