#pragma once

#include <cstdint>

#include "detail/spline_description.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// What a construction kernel captures by value: plain numbers and USM
// pointers only, copied from the spline's description when the work is
// submitted. functions and coeffs are the spline's pointer cells, read when
// the kernel runs.
template <typename T>
struct construct_args {
  std::int64_t nx;
  std::int64_t ny;
  const T* partitions;
  T* const* functions;
  T* const* coeffs;
  const T* internal_conditions;
  const T* first_derivatives;  // Hermite slopes of every function, or null
  T left_value;
  T right_value;

  std::int64_t cells() const { return nx - 1; }
};

template <typename T>
construct_args<T> construct_args_of(const spline_description<T>& d) {
  return {d.nx,           d.ny,         d.partition,   d.function_values, d.coefficients, d.internal_conditions,
          d.first_derivatives, d.left_value, d.right_value};
}

// Function j and cell k of work-item g of a launch over (function, cell).
struct function_and_cell {
  function_and_cell(std::int64_t g, std::int64_t cells) : j(g / cells), k(g % cells) {}
  std::int64_t j;
  std::int64_t k;
};

}  // namespace velora::qrx::experimental::data_fitting::detail
