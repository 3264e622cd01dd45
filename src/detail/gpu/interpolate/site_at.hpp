#pragma once

#include <cstdint>

#include "data_fitting/hints.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// kind_64 sites are read exactly like non_uniform ones, so both hints share
// one kernel body.
constexpr site_hint kernel_site_hint(site_hint h) {
  return h == site_hint::kind_64 ? site_hint::non_uniform : h;
}

// Site s (0 <= s < nsites) of an interpolation.
//   non_uniform, kind_64: sites[s]
//   uniform:              sites holds the first and the last site; site s is
//                         step*s + sites[0] with step = (sites[1] - sites[0])/(nsites - 1),
//                         step = 0 when nsites == 1 (sites[1] is then not read).
// Every work-item recomputes the step from the two stored values.
template <site_hint SH, typename FpType>
FpType site_at(const FpType* sites, std::int64_t nsites, std::int64_t s) {
  if constexpr (SH == site_hint::uniform) {
    const FpType step = nsites > 1 ? (sites[1] - sites[0]) / static_cast<FpType>(nsites - 1) : FpType(0);
    return step * static_cast<FpType>(s) + sites[0];
  } else {
    static_assert(SH == site_hint::non_uniform || SH == site_hint::kind_64, "unknown site hint");
    return sites[s];
  }
}

}  // namespace velora::qrx::experimental::data_fitting::detail
