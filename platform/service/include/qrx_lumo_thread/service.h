#ifndef QRX_LUMO_THREAD_SERVICE_H
#define QRX_LUMO_THREAD_SERVICE_H

/* Loading of the CPU data-fitting kernel library and the service library's
 * numbered messages. */

#include <stdint.h>

#include "qrx_lumo_thread/api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Loads libqrx_df_kernels.so, looked for beside the service library first and
 * then on the normal loader path, and returns its module handle (usable with
 * dlsym), or null when it cannot be loaded. */
QRX_SERV_API void* qrx_serv_load_zorp(void);

/* Prints message `number` of the catalogue on standard error (channel 1, the
 * only channel) and flushes it. `count` is the number of further arguments,
 * each a null-terminated string that the message quotes. Returns the number of
 * characters written, or -1 for an unknown channel or message.
 *   771: the CPU data-fitting kernel library cannot be loaded (no arguments)
 *   772: a function is missing from it (one argument: its name) */
QRX_SERV_API int qrx_serv_print(int channel, int number, int count, ...);

/* Test settings. qrx_serv_set_kernel_library_path makes qrx_serv_load_zorp
 * load exactly `path` instead of searching (null restores the search); it
 * affects loads that happen after the call. qrx_serv_load_count is the number
 * of qrx_serv_load_zorp calls so far in this process. */
QRX_SERV_API void qrx_serv_set_kernel_library_path(const char* path);
QRX_SERV_API int64_t qrx_serv_load_count(void);

#ifdef __cplusplus
}
#endif

#endif
