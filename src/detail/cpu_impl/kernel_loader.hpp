#pragma once

#include "detail/cpu_impl/kernel_table.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Loading of the CPU data-fitting kernel library and resolution of its
// kernels by name. The module handle and each kernel address live in
// process-wide slots: empty at first, filled on first use, never cleared.
// No lock is taken; threads that find a slot empty each resolve it and store
// the same address.

// Fills the module slot through the service library if it is empty; returns
// the slot's content (null when the library could not be loaded).
void* load_kernel_library() noexcept;

// The address of `name` in the loaded kernel library. Without a library,
// prints message 771 and ends the process with exit status 2; without the
// name, prints message 772 with the name and ends it the same way.
void* resolve_kernel(const char* name) noexcept;

// The kernel's address from its slot, resolving it on first use.
void* kernel_address(kernel_id id) noexcept;

template <kernel_id Id>
kernel_type<Id> kernel() noexcept {
  return reinterpret_cast<kernel_type<Id>>(kernel_address(Id));
}

}  // namespace velora::qrx::experimental::data_fitting::detail
