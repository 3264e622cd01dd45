#pragma once

// The boundary-condition kinds each cubic construction accepts, and whether
// a kind reads the boundary values.

#include <cstdint>

#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/value_select.hpp"

namespace qrx_df {

inline constexpr std::int64_t bc_first_both = QRX_DF_BC_FIRST_LEFT | QRX_DF_BC_FIRST_RIGHT;
inline constexpr std::int64_t bc_second_first = QRX_DF_BC_SECOND_LEFT | QRX_DF_BC_FIRST_RIGHT;
inline constexpr std::int64_t bc_first_second = QRX_DF_BC_FIRST_LEFT | QRX_DF_BC_SECOND_RIGHT;
inline constexpr std::int64_t bc_second_both = QRX_DF_BC_SECOND_LEFT | QRX_DF_BC_SECOND_RIGHT;

// Hermite and default cubics: no end rule (0, 1, 128: quadratic end cells),
// free ends, one left with one right derivative, periodic.
using hermite_bc_kinds = value_list<std::int64_t, 0, QRX_DF_BC_1, QRX_DF_BC_FREE_END, bc_first_both, bc_second_first,
                                    bc_first_second, bc_second_both, QRX_DF_BC_PERIODIC, QRX_DF_BC_128>;

// Natural and Hyman cubics, whose slopes solve the C2 system: 0 means free
// ends; periodic and not-a-knot read no values.
using c2_bc_kinds = value_list<std::int64_t, 0, QRX_DF_BC_FREE_END, bc_first_both, bc_second_first, bc_first_second,
                               bc_second_both, QRX_DF_BC_PERIODIC, QRX_DF_BC_NOT_A_KNOT>;

// Akima and Bessel cubics: their own end slopes, or both end slopes given.
using local_bc_kinds = value_list<std::int64_t, 0, bc_first_both>;

inline constexpr std::int64_t bc_derivative_bits =
    QRX_DF_BC_FIRST_LEFT | QRX_DF_BC_FIRST_RIGHT | QRX_DF_BC_SECOND_LEFT | QRX_DF_BC_SECOND_RIGHT;

// Whether an accepted kind reads boundary values. Hermite and default cubics
// take the periodic end slope from the left value.
inline bool reads_bc_values(std::int64_t bc, bool periodic_reads_left) {
  return (bc & bc_derivative_bits) != 0 || (periodic_reads_left && bc == QRX_DF_BC_PERIODIC);
}

}  // namespace qrx_df
