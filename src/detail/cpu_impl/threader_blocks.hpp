#pragma once

#include "qrx_df_kernels/df_kernels.h"

namespace velora::qrx::experimental::data_fitting::detail {

// The service library's threader entry points as the kernels receive them:
// four read-only blocks with identical contents, one each for float
// construction, float interpolation and search, double construction, and
// double interpolation and search.
template <typename T>
const qrx_df_threader_block* construct_threader_block() noexcept;

template <typename T>
const qrx_df_threader_block* interpolate_threader_block() noexcept;

}  // namespace velora::qrx::experimental::data_fitting::detail
