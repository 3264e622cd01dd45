#pragma once

#include <cstdint>

#include "data_fitting/exceptions.hpp"
#include "data_fitting/hints.hpp"
#include "detail/error_domain.hpp"
#include "detail/spline_conditions.hpp"
#include "detail/spline_description.hpp"
#include "detail/value_list.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// The values construction accepts, on both back-ends. Each list is the
// dispatch table of its hint on the GPU back-end: a value in the list has
// kernels, any other is refused.
using construct_partition_hints =
    value_list<partition_hint, partition_hint::non_uniform, partition_hint::quasi_uniform, partition_hint::uniform>;
using construct_function_hints = value_list<function_hint, function_hint::row_major, function_hint::col_major>;
using construct_coefficient_hints = value_list<coefficient_hint, coefficient_hint::row_major>;
using construct_internal_condition_types =
    value_list<internal_conditions_type, internal_conditions_type::none, internal_conditions_type::first_derivatives>;
// Refuses, on the calling thread, what the described spline records that
// no kernel serves: an unknown hint or internal-condition type, or boundary
// conditions outside BoundarySums.
template <typename BoundarySums, typename FpType>
void validate_construct_hints(const spline_description<FpType>& d) {
  auto refuse = [](const char* reason) { return velora::qrx::invalid_argument(error_domain, "construct", reason); };
  if (!construct_partition_hints::contains(d.partition_layout)) throw refuse("invalid partition hint");
  if (!construct_function_hints::contains(d.function_layout)) throw refuse("invalid function hint");
  if (!construct_coefficient_hints::contains(d.coefficient_layout)) throw refuse("invalid coefficient hint");
  if (!construct_internal_condition_types::contains(d.internal_type)) {
    throw refuse("invalid internal conditions type");
  }
  if (!BoundarySums::contains(d.boundary)) throw refuse("invalid boundary conditions");
}

}  // namespace velora::qrx::experimental::data_fitting::detail
