// Test-only kernel library that lacks every kernel but task deletion.

#include "qrx_df_kernels/df_kernels.h"

extern "C" int32_t qrx_df_kernel_DeleteTask(qrx_df_task**) { return 0; }
