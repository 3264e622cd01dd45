// qrx_serv_print: the numbered messages of the service library.

#include <cstdarg>
#include <cstdio>

#include "qrx_lumo_thread/service.h"

extern "C" int qrx_serv_print(int channel, int number, int count, ...) {
  if (channel != 1) return -1;
  va_list args;
  va_start(args, count);
  const char* first = count >= 1 ? va_arg(args, const char*) : nullptr;
  va_end(args);
  int written = -1;
  switch (number) {
    case 771:
      written = std::fprintf(stderr, "qrx_lumo_thread 771: the CPU data-fitting kernel library cannot be loaded\n");
      break;
    case 772:
      written = std::fprintf(stderr, "qrx_lumo_thread 772: function %s is missing from the CPU data-fitting kernel library\n",
                              first != nullptr ? first : "(unnamed)");
      break;
    default:
      break;
  }
  std::fflush(stderr);
  return written;
}
