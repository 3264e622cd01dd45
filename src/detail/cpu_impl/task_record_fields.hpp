#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "qrx_df_kernels/df_kernels.h"

namespace velora::qrx::experimental::data_fitting::detail {

// The kernel library's task record. Its layout belongs to the library; the
// front-end reads the fields it needs at their byte offsets, copying the
// bytes rather than casting the record to a type.
using task_record = ::qrx_df_task;

namespace task_field {
inline constexpr std::size_t ny = 40;                   // int64
inline constexpr std::size_t functions = 48;            // array of function-value pointers
inline constexpr std::size_t function_hint = 56;        // int64
inline constexpr std::size_t order = 64;                // int64
inline constexpr std::size_t type = 72;                 // int64
inline constexpr std::size_t ic_type = 80;              // int64
inline constexpr std::size_t internal_conditions = 88;  // pointer
inline constexpr std::size_t coeffs = 112;              // array of ny coefficient pointers
inline constexpr std::size_t skip_checks = 128;         // uint32
}  // namespace task_field

template <typename Field>
Field read_task_field(const task_record* task, std::size_t offset) noexcept {
  Field value;
  std::memcpy(&value, reinterpret_cast<const unsigned char*>(task) + offset, sizeof(Field));
  return value;
}

// Entry i of an array of pointers held by the record.
inline const void* pointer_entry(const void* array, std::int64_t i) noexcept {
  const void* entry;
  std::memcpy(&entry, static_cast<const unsigned char*>(array) + i * static_cast<std::int64_t>(sizeof(void*)),
              sizeof(void*));
  return entry;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
