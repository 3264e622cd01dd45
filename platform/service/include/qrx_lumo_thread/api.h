#ifndef QRX_LUMO_THREAD_API_H
#define QRX_LUMO_THREAD_API_H

/* Entry points of the service library; everything else in it is hidden. */
#if defined(_WIN32)
#define QRX_SERV_API
#else
#define QRX_SERV_API __attribute__((visibility("default")))
#endif

#endif
