#pragma once

#include <cstdint>

#include "detail/outside_modes.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// What the integration and solve kernels capture of the spline: plain
// numbers and USM pointers only. coeffs is the spline's pointer cell, read
// when the kernels run; coeffs_per_cell is 2 (linear) or 4 (cubic).
// refused, when not null, is the outcome of a construction whose own check
// had not finished when the call was submitted: a work-item writes nothing
// when it reads non-zero there.
template <typename FpType>
struct calculus_spline {
  std::int64_t nx;
  std::int64_t ny;
  const FpType* partitions;
  FpType* const* coeffs;
  std::int64_t coeffs_per_cell;
  const std::int32_t* refused;
  outside_modes outside;

  std::int64_t cells() const { return nx - 1; }
  bool construction_refused() const { return refused != nullptr && *refused != 0; }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
