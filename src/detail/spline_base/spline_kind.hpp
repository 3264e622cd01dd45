#pragma once

#include <cstdint>

#include "data_fitting/spline_types.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// What the rest of the library needs to know about a spline kind.
template <typename SplineType>
struct spline_kind;

template <>
struct spline_kind<linear_spline::default_type> {
  static constexpr const char* name = "linear_spline::default_type";
  static constexpr std::int64_t coeffs_per_cell = 2;
  // Linear splines take no internal or boundary conditions.
  static constexpr bool has_conditions = false;
};

template <>
struct spline_kind<cubic_spline::hermite> {
  static constexpr const char* name = "cubic_spline::hermite";
  static constexpr std::int64_t coeffs_per_cell = 4;
  static constexpr bool has_conditions = true;
};

}  // namespace velora::qrx::experimental::data_fitting::detail
