#pragma once

#include <cstdint>

#include "data_fitting/exceptions.hpp"
#include "data_fitting/hints.hpp"
#include "detail/value_list.hpp"
#include "detail/spline_base/error_domain.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// The values for which construction kernels exist. These lists are the only
// place naming them: dispatch_construct selects the instantiation from them
// and refuses every other value.
using construct_partition_hints =
    value_list<partition_hint, partition_hint::non_uniform, partition_hint::quasi_uniform, partition_hint::uniform>;
using construct_function_hints = value_list<function_hint, function_hint::row_major, function_hint::col_major>;
using construct_coefficient_hints = value_list<coefficient_hint, coefficient_hint::row_major>;
// 0: no internal conditions recorded, 1: first derivatives at interior breakpoints.
using construct_internal_condition_types = value_list<std::int64_t, 0, 1>;
// Accumulated boundary-condition kinds of linear and cubic Hermite splines:
// none, kind_1, free_end, one left with one right kind (12, 24, 36, 48),
// periodic, kind_128. The other cubic kinds list theirs in spline_kind.
using construct_boundary_condition_kinds = value_list<long long, 0, 1, 2, 12, 24, 36, 48, 64, 128>;

// Refuses, on the calling thread and before any submission, recorded values
// that have no construction kernel; BoundaryKinds lists the accumulated
// boundary-condition kinds of the spline kind. Tested in this order; the
// first failure is reported.
template <typename BoundaryKinds = construct_boundary_condition_kinds>
void validate_construct_hints(std::int64_t coeff_hint, std::int64_t func_hint, std::int64_t part_hint,
                                     std::int64_t ic_type, std::int64_t bc_type) {
  auto refuse = [](const char* reason) { return velora::qrx::invalid_argument(error_domain, "construct", reason); };
  if (!construct_partition_hints::contains(static_cast<partition_hint>(part_hint)))
    throw refuse("invalid partition hint");
  if (!construct_function_hints::contains(static_cast<function_hint>(func_hint)))
    throw refuse("invalid function hint");
  if (!construct_coefficient_hints::contains(static_cast<coefficient_hint>(coeff_hint)))
    throw refuse("invalid coefficient hint");
  if (!construct_internal_condition_types::contains(ic_type)) throw refuse("invalid internal conditions type");
  if (!BoundaryKinds::contains(bc_type)) throw refuse("invalid boundary conditions");
}

}  // namespace velora::qrx::experimental::data_fitting::detail
