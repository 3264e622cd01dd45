// Task management kernels: new task, integer attributes, spline parameters,
// deletion.

#include <cstdint>
#include <cstdlib>

#include "qrx_df/partition_table.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/task_record.hpp"
#include "qrx_df/value_select.hpp"

namespace qrx_df {
namespace {

using partition_hints = value_list<std::int64_t, QRX_DF_PARTITION_NON_UNIFORM, QRX_DF_PARTITION_QUASI_UNIFORM,
                                   QRX_DF_PARTITION_UNIFORM>;
using function_hints =
    value_list<std::int64_t, QRX_DF_FUNCTIONS_DEFAULT, QRX_DF_FUNCTIONS_ROW_MAJOR, QRX_DF_FUNCTIONS_COL_MAJOR>;

// Fills the per-function pointers from the caller's arrays. Row-major values
// get one pointer per function; column-major values only entry 0.
template <typename T>
void fill_function_pointers(qrx_df_task* task) {
  const auto* values = static_cast<const T*>(task->function_values);
  const bool col_major = task->function_hint == QRX_DF_FUNCTIONS_COL_MAJOR;
  for (std::int64_t j = 0; j < task->pointer_slots; ++j) {
    task->functions[j] = (values == nullptr || (col_major && j > 0)) ? nullptr : values + j * task->nx;
  }
}

// One pointer per function into the coefficient array, cells of `order`
// coefficients each; orders below 1 give every function the array start.
template <typename T>
void fill_coeff_pointers(qrx_df_task* task) {
  auto* coeffs = static_cast<T*>(task->coeff_values);
  const std::int64_t stride = (task->nx - 1) * (task->order > 0 ? task->order : 0);
  for (std::int64_t j = 0; j < task->pointer_slots; ++j) {
    task->coeffs[j] = coeffs == nullptr ? nullptr : coeffs + j * stride;
  }
}

template <typename T>
void fill_pointers(qrx_df_task* task) {
  fill_function_pointers<T>(task);
  fill_coeff_pointers<T>(task);
}

void fill_pointers_for_precision(qrx_df_task* task) {
  if (has_precision<float>(task)) {
    fill_pointers<float>(task);
  } else {
    fill_pointers<double>(task);
  }
}

// Allocates the two pointer arrays for ny functions; false when out of memory.
bool allocate_pointer_slots(std::int64_t ny, const void*** functions, void*** coeffs, std::int64_t* slots) {
  const std::int64_t n = ny > 0 ? ny : 1;
  if (!product_fits(n, static_cast<std::int64_t>(sizeof(void*)))) return false;
  auto* f = static_cast<const void**>(std::calloc(static_cast<std::size_t>(n), sizeof(void*)));
  auto* c = static_cast<void**>(std::calloc(static_cast<std::size_t>(n), sizeof(void*)));
  if (f == nullptr || c == nullptr) {
    std::free(f);
    std::free(c);
    return false;
  }
  *functions = f;
  *coeffs = c;
  *slots = n;
  return true;
}

void free_table(qrx_df_task* task) {
  if (has_precision<float>(task)) {
    delete_table_holder<float>(task->search_table);
  } else {
    delete_table_holder<double>(task->search_table);
  }
}

template <typename T>
std::int32_t new_task(qrx_df_task** out, std::int64_t nx, const T* partition, std::int64_t partition_hint,
                      std::int64_t ny, const T* functions, std::int64_t function_hint, std::int64_t record_version) {
  if (out == nullptr) return QRX_DF_STATUS_NULL_TASK;
  *out = nullptr;
  if (record_version != 1) return QRX_DF_STATUS_BAD_ARGUMENT;
  if (nx < 2) return QRX_DF_STATUS_BAD_NX;
  if (partition == nullptr) return QRX_DF_STATUS_NO_PARTITION;
  if (!partition_hints::contains(partition_hint)) return QRX_DF_STATUS_BAD_PARTITION_HINT;
  if (ny < 0 || !product_fits(ny, nx, sizeof(T))) return QRX_DF_STATUS_BAD_NY;
  if (!function_hints::contains(function_hint)) return QRX_DF_STATUS_BAD_FUNCTION_HINT;

  auto* task = static_cast<qrx_df_task*>(std::calloc(1, sizeof(qrx_df_task)));
  if (task == nullptr) return QRX_DF_STATUS_BAD_ALLOC;
  task->nx = nx;
  task->partition = partition;
  task->partition_hint = partition_hint;
  task->element_size = static_cast<std::int32_t>(sizeof(T));
  task->ny = ny;
  task->function_hint = function_hint;
  task->function_values = functions;
  task->coeff_hint = QRX_DF_COEFFS_ROW_MAJOR;
  if (!allocate_pointer_slots(ny, &task->functions, &task->coeffs, &task->pointer_slots)) {
    std::free(task);
    return QRX_DF_STATUS_BAD_ALLOC;
  }
  if (partition_hint != QRX_DF_PARTITION_UNIFORM) {
    task->search_table = new_table_holder();  // the table comes with the first kernel that needs it
    if (task->search_table == nullptr) {
      qrx_df_task* partial = task;
      qrx_df_kernel_DeleteTask(&partial);
      return QRX_DF_STATUS_BAD_ALLOC;
    }
  }
  fill_pointers<T>(task);
  *out = task;
  return QRX_DF_STATUS_OK;
}

std::int32_t set_ny(qrx_df_task* task, std::int64_t ny) {
  if (ny < 0 || !product_fits(ny, task->nx, task->element_size)) return QRX_DF_STATUS_BAD_NY;
  if (task->spline_set != 0 && !product_fits(ny, task->nx - 1, task->order, task->element_size)) {
    return QRX_DF_STATUS_BAD_NY;
  }
  const void** functions = nullptr;
  void** coeffs = nullptr;
  std::int64_t slots = 0;
  if (!allocate_pointer_slots(ny, &functions, &coeffs, &slots)) return QRX_DF_STATUS_BAD_ALLOC;
  std::free(task->functions);
  std::free(task->coeffs);
  task->functions = functions;
  task->coeffs = coeffs;
  task->pointer_slots = slots;
  task->ny = ny;
  fill_pointers_for_precision(task);
  return QRX_DF_STATUS_OK;
}

template <typename T>
std::int32_t edit_pp_spline(qrx_df_task* task, std::int64_t order, std::int64_t type, std::int64_t bc_type,
                            const T* bc_values, std::int64_t ic_type, const T* internal_conditions, T* coeffs,
                            std::int64_t coeff_hint) {
  if (task == nullptr) return QRX_DF_STATUS_NULL_TASK;
  if (!has_precision<T>(task)) return QRX_DF_STATUS_WRONG_PRECISION;
  if (coeff_hint != QRX_DF_COEFFS_ROW_MAJOR) return QRX_DF_STATUS_BAD_COEFF_HINT;
  if (!product_fits(task->ny > 0 ? task->ny : 1, task->nx - 1, order > 0 ? order : 0, sizeof(T))) {
    return QRX_DF_STATUS_BAD_NY;
  }
  task->order = order;
  task->type = type;
  task->bc_type = bc_type;
  task->has_bc_values = bc_values != nullptr ? 1U : 0U;
  task->bc_values[0] = bc_values != nullptr ? static_cast<double>(bc_values[0]) : 0.0;
  // The right value is read only for kinds that use it, so a one-value array
  // serves the left-only kinds.
  const bool uses_right = (bc_type & (QRX_DF_BC_FIRST_RIGHT | QRX_DF_BC_SECOND_RIGHT)) != 0;
  task->bc_values[1] = (bc_values != nullptr && uses_right) ? static_cast<double>(bc_values[1]) : 0.0;
  task->ic_type = ic_type;
  task->internal_conditions = internal_conditions;
  task->coeff_values = coeffs;
  task->coeff_hint = coeff_hint;
  task->spline_set = 1;
  fill_coeff_pointers<T>(task);
  return QRX_DF_STATUS_OK;
}

}  // namespace
}  // namespace qrx_df

extern "C" {

std::int32_t qrx_df_kernel_DeleteTask(qrx_df_task** handle) {
  if (handle == nullptr || *handle == nullptr) return QRX_DF_STATUS_NULL_TASK;
  qrx_df_task* task = *handle;
  qrx_df::free_table(task);
  std::free(task->functions);
  std::free(task->coeffs);
  std::free(task);
  *handle = nullptr;
  return QRX_DF_STATUS_OK;
}

std::int32_t qrx_df_kernel_sNewTask1D(qrx_df_task** task, std::int64_t nx, const float* partition,
                                      std::int64_t partition_hint, std::int64_t ny, const float* functions,
                                      std::int64_t function_hint, std::int64_t record_version) {
  return qrx_df::new_task(task, nx, partition, partition_hint, ny, functions, function_hint, record_version);
}

std::int32_t qrx_df_kernel_dNewTask1D(qrx_df_task** task, std::int64_t nx, const double* partition,
                                      std::int64_t partition_hint, std::int64_t ny, const double* functions,
                                      std::int64_t function_hint, std::int64_t record_version) {
  return qrx_df::new_task(task, nx, partition, partition_hint, ny, functions, function_hint, record_version);
}

std::int32_t qrx_df_kernel_iEditVal(qrx_df_task* task, std::int64_t attribute, std::int64_t value) {
  if (task == nullptr) return QRX_DF_STATUS_NULL_TASK;
  switch (attribute) {
    case QRX_DF_ATTR_NY:
      return qrx_df::set_ny(task, value);
    case QRX_DF_ATTR_SKIP_CHECKS:
      task->skip_checks = value != 0 ? 1U : 0U;
      return QRX_DF_STATUS_OK;
    default:
      return QRX_DF_STATUS_BAD_ATTRIBUTE;
  }
}

std::int32_t qrx_df_kernel_sEditPPSpline1D(qrx_df_task* task, std::int64_t order, std::int64_t type,
                                           std::int64_t bc_type, const float* bc_values, std::int64_t ic_type,
                                           const float* internal_conditions, float* coeffs, std::int64_t coeff_hint) {
  return qrx_df::edit_pp_spline(task, order, type, bc_type, bc_values, ic_type, internal_conditions, coeffs,
                                coeff_hint);
}

std::int32_t qrx_df_kernel_dEditPPSpline1D(qrx_df_task* task, std::int64_t order, std::int64_t type,
                                           std::int64_t bc_type, const double* bc_values, std::int64_t ic_type,
                                           const double* internal_conditions, double* coeffs,
                                           std::int64_t coeff_hint) {
  return qrx_df::edit_pp_spline(task, order, type, bc_type, bc_values, ic_type, internal_conditions, coeffs,
                                coeff_hint);
}

}  // extern "C"
