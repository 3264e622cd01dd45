#pragma once

#include <cstdint>

#include "data_fitting/hints.hpp"
#include "detail/fit_description.hpp"
#include "detail/outside_modes.hpp"
#include "detail/spline_conditions.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// What the caller has recorded on one spline, one field per fact, as the
// setters left it. The back-ends take a copy when they submit work, so the
// work sees the spline as it was at that call; the dispatchers receive it
// whole. Arrays are the caller's; function values and coefficients are read
// through pointer cells (one-element USM arrays holding the address) so that
// kernels can read them when they run.
template <typename FpType>
struct spline_description {
  std::int64_t ny = 0;

  // The breakpoints: nx of them, or the two ends of a uniform partition.
  FpType* partition = nullptr;  // null until recorded
  std::int64_t nx = 0;
  partition_hint partition_layout = partition_hint::non_uniform;

  FpType** function_values = nullptr;  // pointer cell; null until recorded
  function_hint function_layout = function_hint::row_major;

  FpType** coefficients = nullptr;  // pointer cell; null until recorded
  coefficient_hint coefficient_layout = coefficient_hint::row_major;
  // Element count of the coefficient array: the size in force when the
  // caller gave it, or that of the first partition recorded after it; -1
  // while no array is held.
  std::int64_t coefficient_capacity = -1;
  // The caller supplies finished coefficients (is_coeff_computed): nothing
  // ever computes or writes them.
  bool coefficients_supplied = false;

  // Hermite's slopes at the interior breakpoints, shared by every function.
  FpType* internal_conditions = nullptr;  // null until recorded
  internal_conditions_type internal_type = internal_conditions_type::none;

  // Hermite's slopes of every function at every breakpoint, laid out as
  // the function values; they replace the internal and boundary conditions.
  FpType* first_derivatives = nullptr;  // null until recorded
  // The boundary conditions recorded so far and the values of the two ends.
  bool boundary_recorded = false;
  boundary_sum boundary = boundary_sum::none;
  FpType left_value = 0;
  FpType right_value = 0;

  // What evaluations give outside [a, b], per side.
  outside_modes outside;

  // The smoothing and least-squares kinds' weights, parameter and data.
  fit_description<FpType> fit;

  bool has_partition() const { return partition != nullptr; }
  bool has_function_values() const { return function_values != nullptr; }
  bool has_coefficients() const { return coefficients != nullptr; }
  bool has_internal_conditions() const { return internal_conditions != nullptr; }
  bool has_first_derivatives() const { return first_derivatives != nullptr; }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
