#pragma once

#include <cstdint>

#include "qrx_df_kernels/df_kernels.h"

namespace velora::qrx::experimental::data_fitting::detail {

// Statuses that the front-end returns itself, under the front-end's names
// for the kernel library's codes; every other status comes from a kernel
// and is returned unchanged. 0 is success.
namespace df_status {
inline constexpr std::int32_t ok = QRX_DF_STATUS_OK;
inline constexpr std::int32_t null_task = QRX_DF_STATUS_NULL_TASK;
inline constexpr std::int32_t bad_format_or_method = QRX_DF_STATUS_BAD_METHOD;
inline constexpr std::int32_t nothing_to_compute = QRX_DF_STATUS_BAD_TYPE;   // interpolation type has none of bits 1, 2, 4
inline constexpr std::int32_t no_function_values = QRX_DF_STATUS_NO_FUNCTIONS;
inline constexpr std::int32_t bad_function_hint = QRX_DF_STATUS_BAD_FUNCTION_HINT;
inline constexpr std::int32_t bad_order = QRX_DF_STATUS_BAD_ORDER;
inline constexpr std::int32_t bad_type_for_order = QRX_DF_STATUS_BAD_SPLINE_TYPE;
inline constexpr std::int32_t bad_ic_type = QRX_DF_STATUS_BAD_IC_TYPE;
inline constexpr std::int32_t no_internal_conditions = QRX_DF_STATUS_NO_IC;
inline constexpr std::int32_t no_coefficients = QRX_DF_STATUS_NO_COEFFS;
inline constexpr std::int32_t bad_nsites = QRX_DF_STATUS_BAD_NSITES;
inline constexpr std::int32_t no_sites = QRX_DF_STATUS_NO_SITES;
inline constexpr std::int32_t bad_site_hint = QRX_DF_STATUS_BAD_SITE_HINT;
inline constexpr std::int32_t orders_without_count = QRX_DF_STATUS_BAD_DER_ORDERS;
inline constexpr std::int32_t bad_der_count = QRX_DF_STATUS_BAD_DER_COUNT;
inline constexpr std::int32_t no_results = QRX_DF_STATUS_NO_RESULTS;
inline constexpr std::int32_t no_cells = QRX_DF_STATUS_NO_CELLS;
}  // namespace df_status

}  // namespace velora::qrx::experimental::data_fitting::detail
