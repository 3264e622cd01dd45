#ifndef QRX_LUMO_THREAD_THREADER_H
#define QRX_LUMO_THREAD_THREADER_H

/* The threader: the service library's parallel loops. Kernel libraries do not
 * link a threading library; they receive the addresses of these entry points
 * from their caller and run their parallel work through them.
 *
 * Every entry point returns QRX_SERV_THREADER_OK once all callbacks it made
 * have returned, or QRX_SERV_THREADER_FAILED when it could not run the work
 * (an invalid argument, or no resources to start tasks); after a failure some
 * callbacks may have run. Callbacks must not throw or fail. */

#include <stdint.h>

#include "qrx_lumo_thread/api.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QRX_SERV_THREADER_OK 0
#define QRX_SERV_THREADER_FAILED (-1)

/* A callback over the half-open index range [begin, end). */
typedef void qrx_serv_range_body(void* context, int64_t begin, int64_t end);
/* A callback for one section of a sectioned run. */
typedef void qrx_serv_section_body(void* context, int64_t section);

/* Calls body over [0, n), split into ranges of at most `grain` indices, in
 * parallel and in no particular order. Every index is covered exactly once. */
typedef int32_t qrx_serv_threader_for_t(int64_t n, int64_t grain, void* context, qrx_serv_range_body* body);

/* Like qrx_df_serv_threader_for, and in addition calls ordered(context, begin,
 * end) for every range once its body call has returned, one range at a time
 * and in ascending order: parallel work whose results are committed in order. */
typedef int32_t qrx_serv_threader_for_ordered_t(int64_t n, int64_t grain, void* context, qrx_serv_range_body* body,
                                                qrx_serv_range_body* ordered);

/* Calls section(context, i) for every i in [0, nsections), in parallel. */
typedef int32_t qrx_serv_threader_sections_t(int64_t nsections, void* context, qrx_serv_section_body* section);

/* Calls body over [0, n) in consecutive ranges of at most `grain` indices,
 * one range at a time and in ascending order. */
typedef int32_t qrx_serv_threader_ordered_t(int64_t n, int64_t grain, void* context, qrx_serv_range_body* body);

/* The largest number of threads that the threader runs callbacks on at once
 * for a caller on the current thread (at least 1). */
typedef int32_t qrx_serv_threader_get_num_threads_limit_t(void);

QRX_SERV_API qrx_serv_threader_for_t qrx_df_serv_threader_for;
QRX_SERV_API qrx_serv_threader_for_ordered_t qrx_df_serv_threader_for_ordered;
QRX_SERV_API qrx_serv_threader_sections_t qrx_df_serv_threader_sections;
QRX_SERV_API qrx_serv_threader_ordered_t qrx_df_serv_threader_ordered;
QRX_SERV_API qrx_serv_threader_get_num_threads_limit_t qrx_df_serv_threader_get_num_threads_limit;

#ifdef __cplusplus
}
#endif

#endif
