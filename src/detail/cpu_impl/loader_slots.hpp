#pragma once

#include "detail/cpu_impl/kernel_table.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Read-only view of the loader's process-wide slots, for tests.
void* kernel_module_slot() noexcept;
void* kernel_function_slot(kernel_id id) noexcept;

}  // namespace velora::qrx::experimental::data_fitting::detail
