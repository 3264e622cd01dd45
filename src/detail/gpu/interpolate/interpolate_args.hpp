#pragma once

#include <cstdint>

#include "detail/outside_modes.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// What an interpolation kernel captures by value: plain numbers and USM
// pointers only. Orders is the number of derivative orders the spline kind
// has (2 linear, 4 cubic); order d is computed and stored when der_flags[d]
// is set. coeffs is the spline's pointer cell, read when the kernel runs.
// refused, when not null, is the outcome of a construction whose own check
// had not finished when the evaluation was submitted: a work-item writes
// nothing when it reads non-zero there.
// Each work-item evaluates up to function_block functions at one site.
// outside says what sites outside the partition get.
template <typename FpType, int Orders>
struct interpolate_args {
  std::int64_t nsites;
  const FpType* sites;
  std::int64_t nx;
  const FpType* partitions;
  std::int64_t ny;
  FpType* const* coeffs;
  FpType* results;
  std::int32_t der_count;
  bool der_flags[Orders];
  const std::int32_t* refused;
  std::int64_t function_block;
  outside_modes outside;
};

// Whether the construction the evaluation follows was refused by its own work.
template <typename FpType, int Orders>
bool construction_refused(const interpolate_args<FpType, Orders>& a) {
  return a.refused != nullptr && *a.refused != 0;
}

// Flag d is set when order d is asked for: d < der_count and indicator d is 1.
// Indicators from der_count on are never read. Filled on the host, so the
// caller's indicator array may go away once the dispatcher returns.
template <typename FpType, int Orders>
void set_derivative_flags(interpolate_args<FpType, Orders>& args, std::int32_t der_count,
                          const std::int32_t* der_indicators) {
  for (int d = 0; d < Orders; ++d) args.der_flags[d] = d < der_count && der_indicators[d] == 1;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
