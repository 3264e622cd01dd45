#ifndef QRX_TEST_RECORDING_KERNELS_H
#define QRX_TEST_RECORDING_KERNELS_H

// A test-only kernel library with every kernel name: each kernel records its
// call and returns the status the test chose. Tests reach these two entry
// points by dlopen/dlsym.

#include <stdint.h>

#include "qrx_df_kernels/df_kernels.h"

struct recorded_call {
  const char* kernel;  // name suffix after "qrx_df_kernel_", null before any call
  int64_t args[12];    // integer arguments in order (pointers as integers)
  int64_t nargs;
  const void* reserved[8];  // the interpolation kernel's eight zero arguments
  const qrx_df_threader_block* threader;
  int64_t calls;  // kernel calls since the last reset
};

// The last call, and a reset that also sets the status kernels return.
typedef const struct recorded_call* recording_last_call_t(void);
typedef void recording_reset_t(int32_t status);

#endif
