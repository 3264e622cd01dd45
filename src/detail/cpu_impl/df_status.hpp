#pragma once

#include <cstdint>

namespace velora::qrx::experimental::data_fitting::detail {

// Statuses that the front-end returns itself; every other status comes from
// a kernel and is returned unchanged. 0 is success.
namespace df_status {
inline constexpr std::int32_t ok = 0;
inline constexpr std::int32_t null_task = -1000;
inline constexpr std::int32_t bad_format_or_method = -1002;
inline constexpr std::int32_t nothing_to_compute = -1003;   // interpolation type has none of bits 1, 2, 4
inline constexpr std::int32_t no_function_values = -1008;
inline constexpr std::int32_t bad_function_hint = -1009;
inline constexpr std::int32_t bad_order = -1010;
inline constexpr std::int32_t bad_type_for_order = -1011;
inline constexpr std::int32_t bad_ic_type = -1012;
inline constexpr std::int32_t no_internal_conditions = -1013;
inline constexpr std::int32_t no_coefficients = -1016;
inline constexpr std::int32_t bad_nsites = -1021;
inline constexpr std::int32_t no_sites = -1022;
inline constexpr std::int32_t bad_site_hint = -1023;
inline constexpr std::int32_t orders_without_count = -1024;
inline constexpr std::int32_t bad_der_count = -1025;
inline constexpr std::int32_t no_results = -1027;
inline constexpr std::int32_t no_cells = -1029;
}  // namespace df_status

}  // namespace velora::qrx::experimental::data_fitting::detail
