#include "detail/cpu_impl/threader_blocks.hpp"

#include "qrx_lumo_thread/threader.h"

namespace velora::qrx::experimental::data_fitting::detail {
namespace {

constexpr qrx_df_threader_entries threader_entries{
    &qrx_df_serv_threader_for, &qrx_df_serv_threader_for_ordered, &qrx_df_serv_threader_sections,
    &qrx_df_serv_threader_ordered, &qrx_df_serv_threader_get_num_threads_limit};

const qrx_df_threader_block float_construct_block{{threader_entries, threader_entries, threader_entries}};
const qrx_df_threader_block float_interpolate_block{{threader_entries, threader_entries, threader_entries}};
const qrx_df_threader_block double_construct_block{{threader_entries, threader_entries, threader_entries}};
const qrx_df_threader_block double_interpolate_block{{threader_entries, threader_entries, threader_entries}};

}  // namespace

template <>
const qrx_df_threader_block* construct_threader_block<float>() noexcept {
  return &float_construct_block;
}
template <>
const qrx_df_threader_block* interpolate_threader_block<float>() noexcept {
  return &float_interpolate_block;
}
template <>
const qrx_df_threader_block* construct_threader_block<double>() noexcept {
  return &double_construct_block;
}
template <>
const qrx_df_threader_block* interpolate_threader_block<double>() noexcept {
  return &double_interpolate_block;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
