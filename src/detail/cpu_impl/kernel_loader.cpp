#include "detail/cpu_impl/kernel_loader.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "detail/cpu_impl/loader_slots.hpp"
#include "qrx_lumo_thread/service.h"

namespace velora::qrx::experimental::data_fitting::detail {
namespace {

// Constant-initialised: nothing runs when the library is loaded.
std::atomic<void*> module_slot{nullptr};
std::atomic<void*> function_slots[kernel_count]{};

[[noreturn]] void end_process(int message, const char* name) noexcept {
  if (name != nullptr) {
    qrx_serv_print(1, message, 1, name);
  } else {
    qrx_serv_print(1, message, 0);
  }
  std::fflush(stderr);
  _exit(2);
}

}  // namespace

void* load_kernel_library() noexcept {
  void* module = module_slot.load(std::memory_order_acquire);
  if (module == nullptr) {
    module = qrx_serv_load_zorp();
    if (module != nullptr) module_slot.store(module, std::memory_order_release);
  }
  return module;
}

void* resolve_kernel(const char* name) noexcept {
  void* module = module_slot.load(std::memory_order_acquire);
  if (module == nullptr) end_process(771, nullptr);
  void* address = dlsym(module, name);
  if (address == nullptr) end_process(772, name);
  return address;
}

void* kernel_address(kernel_id id) noexcept {
  const auto index = static_cast<std::size_t>(id);
  void* address = function_slots[index].load(std::memory_order_acquire);
  if (address == nullptr) {
    load_kernel_library();
    address = resolve_kernel(kernel_names[index]);
    function_slots[index].store(address, std::memory_order_release);
  }
  return address;
}

void* kernel_module_slot() noexcept { return module_slot.load(std::memory_order_acquire); }

void* kernel_function_slot(kernel_id id) noexcept {
  return function_slots[static_cast<std::size_t>(id)].load(std::memory_order_acquire);
}

}  // namespace velora::qrx::experimental::data_fitting::detail
