#pragma once

#include "data_fitting/hints.hpp"
#include "detail/value_list.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// The hint values the GPU interpolation kernels exist for, in the order the
// dispatcher tries them. Validation, kernel selection and the tests all use
// these lists; no other place names the accepted values.
using interpolate_hint_list =
    value_list<interpolate_hint, interpolate_hint::funcs_sites_ders, interpolate_hint::funcs_ders_sites,
               interpolate_hint::sites_funcs_ders, interpolate_hint::sites_ders_funcs>;

using site_hint_list = value_list<site_hint, site_hint::non_uniform, site_hint::kind_64, site_hint::uniform>;

using partition_hint_list =
    value_list<partition_hint, partition_hint::non_uniform, partition_hint::quasi_uniform, partition_hint::uniform>;

}  // namespace velora::qrx::experimental::data_fitting::detail
