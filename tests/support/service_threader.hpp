#pragma once

#include "qrx_df_kernels/df_kernels.h"
#include "qrx_lumo_thread/threader.h"

namespace kernel_test {

// The service library's threader as the kernels receive it, for tests that
// call the kernels directly and compare serial with threaded work.
inline const qrx_df_threader_entries service_entries{
    &qrx_df_serv_threader_for, &qrx_df_serv_threader_for_ordered, &qrx_df_serv_threader_sections,
    &qrx_df_serv_threader_ordered, &qrx_df_serv_threader_get_num_threads_limit};
inline const qrx_df_threader_block threaded{{service_entries, service_entries, service_entries}};

}  // namespace kernel_test
