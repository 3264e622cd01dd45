#pragma once

#include <cstdint>

#include "data_fitting/hints.hpp"
#include "detail/gpu/interpolate/cell_search.hpp"
#include "detail/outside_modes.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// How a kernel evaluates site x. A site inside the partition keeps its own
// polynomial whatever the modes, so the full plan (plan_site) is made only
// for a NaN site or, when some mode replaces the extension, a site beyond
// an end: with every site inside, a mode costs two comparisons.
template <partition_hint PH, typename FpType>
site_plan<FpType> planned_site(outside_modes modes, const FpType* partitions, std::int64_t nx, FpType x) {
  const site_plan<FpType> own{site_treatment::polynomial, x, FpType(0)};
  if (!modes.replace_extension()) {
    return x == x ? own : site_plan<FpType>{site_treatment::not_a_number, x, FpType(0)};
  }
  const FpType a = partition_start<PH>(partitions, nx);
  const FpType b = partition_end<PH>(partitions, nx);
  // [a, b) when periodic: b itself moves to a, as plan_site moves it.
  if (x >= a && (modes.periodic() ? x < b : x <= b)) return own;
  return plan_site(modes, a, b, x);
}

}  // namespace velora::qrx::experimental::data_fitting::detail
