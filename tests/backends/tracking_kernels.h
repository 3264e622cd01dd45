#ifndef QRX_TEST_TRACKING_KERNELS_H
#define QRX_TEST_TRACKING_KERNELS_H

// A test-only kernel library that forwards the kernels of double-precision
// linear splines to the real kernel library and keeps account of the tasks.
// A deleted task is never freed, so its address is not handed out again and
// every later use of it is seen. Tests reach these entry points by dlsym.

#include <stdint.h>

struct tracking_counts {
  int64_t created;            // tasks made by the new-task kernel
  int64_t live;               // made and not yet deleted
  int64_t used_after_delete;  // kernel calls on, or deletions of, a deleted task
  int64_t interpolating;      // interpolation calls in progress
};

typedef struct tracking_counts tracking_counts_t(void);
// Non-zero: interpolation calls wait inside the kernel until it is set to 0.
typedef void tracking_hold_interpolation_t(int32_t hold);
// The new-task kernel sleeps this many milliseconds before it creates a task.
typedef void tracking_slow_new_task_t(int32_t milliseconds);

#endif
