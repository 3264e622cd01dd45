#pragma once

/// \file
/// Symbol visibility of the public interface.

/// Marks a symbol of the public interface, exported from the shared
/// library; everything else is compiled with hidden visibility.
#if defined(_WIN32)
#define QRX_DF_EXPORT
#else
#define QRX_DF_EXPORT __attribute__((visibility("default")))
#endif
