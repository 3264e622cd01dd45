// qrx_serv_load_zorp: finds and opens the CPU data-fitting kernel library.

#include <dlfcn.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "qrx_lumo_thread/service.h"

namespace {

constexpr const char* kernel_library_name = "libqrx_df_kernels.so";

std::mutex path_mutex;
std::string path_override;  // empty: search beside this library, then the loader path
std::atomic<std::int64_t> load_calls{0};

// The directory of this service library as the dynamic loader knows it, with
// its trailing slash, or an empty string.
std::string own_directory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&qrx_serv_load_zorp), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  const std::string file = info.dli_fname;
  const auto slash = file.find_last_of('/');
  return slash == std::string::npos ? std::string{} : file.substr(0, slash + 1);
}

void* open_library(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

}  // namespace

extern "C" void* qrx_serv_load_zorp(void) {
  load_calls.fetch_add(1, std::memory_order_relaxed);
  try {
    std::string override_path;
    {
      const std::lock_guard<std::mutex> lock(path_mutex);
      override_path = path_override;
    }
    if (!override_path.empty()) return open_library(override_path);
    const std::string dir = own_directory();
    if (!dir.empty()) {
      if (void* handle = open_library(dir + kernel_library_name)) return handle;
    }
    return open_library(kernel_library_name);
  } catch (...) {
    return nullptr;  // no memory for a path: the library cannot be loaded
  }
}

extern "C" void qrx_serv_set_kernel_library_path(const char* path) {
  try {
    const std::lock_guard<std::mutex> lock(path_mutex);
    path_override = path != nullptr ? path : "";
  } catch (...) {
    // Keeping the previous setting is all that can be done without memory.
  }
}

extern "C" std::int64_t qrx_serv_load_count(void) { return load_calls.load(std::memory_order_relaxed); }
