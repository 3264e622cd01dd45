#pragma once

#include <cstddef>
#include <cstdint>

#include "qrx_df_kernels/df_kernels.h"

// The task record. Callers that load this library read some fields by their
// byte offsets (checked below), so the layout is part of the interface:
//   40 ny, 48 function-value pointers, 56 function hint, 64 order, 72 type,
//   80 internal-condition type, 88 internal conditions, 112 coefficient
//   pointers, 128 skip_checks (uint32).
struct qrx_df_task {
  std::int64_t nx;                   // 0
  const void* partition;             // 8: caller's array, float or double
  std::int64_t partition_hint;       // 16
  std::int32_t element_size;         // 24: sizeof(float) or sizeof(double)
  std::uint32_t unused;              // 28
  void* search_table;                // 32: cell-search index of a non-uniform partition
  std::int64_t ny;                   // 40
  const void** functions;            // 48: row-major: one pointer per function; col-major: entry 0
  std::int64_t function_hint;        // 56
  std::int64_t order;                // 64
  std::int64_t type;                 // 72
  std::int64_t ic_type;              // 80
  const void* internal_conditions;   // 88
  std::int64_t bc_type;              // 96
  std::int64_t spline_set;           // 104: 1 once the spline parameters were given
  void** coeffs;                     // 112: one pointer per function into the coefficient array
  std::int64_t coeff_hint;           // 120
  std::uint32_t skip_checks;         // 128
  std::uint32_t has_bc_values;       // 132
  const void* function_values;       // 136: caller's function-value array
  void* coeff_values;                // 144: caller's coefficient array
  double bc_values[2];               // 152: copies (exact for float too), left then right
  std::int64_t pointer_slots;        // 168: entries of functions and coeffs, max(ny, 1)
};

static_assert(offsetof(qrx_df_task, ny) == 40);
static_assert(offsetof(qrx_df_task, functions) == 48);
static_assert(offsetof(qrx_df_task, function_hint) == 56);
static_assert(offsetof(qrx_df_task, order) == 64);
static_assert(offsetof(qrx_df_task, type) == 72);
static_assert(offsetof(qrx_df_task, ic_type) == 80);
static_assert(offsetof(qrx_df_task, internal_conditions) == 88);
static_assert(offsetof(qrx_df_task, coeffs) == 112);
static_assert(offsetof(qrx_df_task, skip_checks) == 128);

namespace qrx_df {

template <typename T>
bool has_precision(const qrx_df_task* task) {
  return task->element_size == static_cast<std::int32_t>(sizeof(T));
}

// Whether the product of the factors fits in 64 bits. Counts of elements are
// checked with the element size as the last factor, so that every offset into
// an array of that many elements can be formed; signs are the callers' checks.
template <typename... Factors>
bool product_fits(std::int64_t first, Factors... rest) {
  std::int64_t p = first;
  return (!__builtin_mul_overflow(p, static_cast<std::int64_t>(rest), &p) && ...);
}

}  // namespace qrx_df
