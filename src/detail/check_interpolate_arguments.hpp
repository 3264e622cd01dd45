#pragma once

#include <cstdint>

#include "data_fitting/exceptions.hpp"
#include "data_fitting/hints.hpp"
#include "detail/interpolate_hints.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Refuses, on the calling thread and before anything is submitted, what no
// interpolation kernel can run safely. Tests in this order: the interpolate,
// site and partition hints against the instantiated lists, a negative nsites,
// then null arrays when there is work to do (nsites = 0 may pass nulls).
inline void check_interpolate_arguments(std::int64_t part_hint, std::int64_t site_hint_value, std::int64_t interp_hint,
                                        std::int64_t nsites, std::int64_t ny, const void* sites, const void* results) {
  auto refuse = [](const char* info) { throw velora::qrx::invalid_argument("data_fitting", "interpolate", info); };
  if (!interpolate_hint_list::contains(static_cast<interpolate_hint>(interp_hint))) refuse("invalid interpolate hint");
  if (!site_hint_list::contains(static_cast<site_hint>(site_hint_value))) refuse("invalid site hint");
  if (!partition_hint_list::contains(static_cast<partition_hint>(part_hint))) refuse("invalid partition hint");
  if (nsites < 0) refuse("nsites < 0");
  const bool has_work = nsites > 0 && ny > 0;
  if (has_work && sites == nullptr) refuse("sites is nullptr");
  if (has_work && results == nullptr) refuse("results is nullptr");
}

}  // namespace velora::qrx::experimental::data_fitting::detail
