// Uses the installed package: throws and catches one of the library's exceptions.
#include <cstdio>
#include <cstring>

#include <data_fitting/exceptions.hpp>

int main() {
  try {
    throw velora::qrx::invalid_argument("data_fitting", "set_partitions", "nx <= 2");
  } catch (const velora::qrx::exception& e) {
    const char* expected = "velora::qrx::data_fitting::set_partitions: invalid argument: nx <= 2";
    if (std::strcmp(e.what(), expected) != 0) {
      std::fprintf(stderr, "unexpected message: %s\n", e.what());
      return 1;
    }
  }
  std::puts("consumer: ok");
  return 0;
}
