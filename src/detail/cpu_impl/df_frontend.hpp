#pragma once

#include <cstdint>

#include "detail/cpu_impl/task_record_fields.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// The front-end of the CPU data-fitting kernels. Each operation resolves its
// kernel on first use, checks the arguments that the kernel needs valid
// (construction and interpolation), and returns the kernel's status
// unchanged, or a df_status of its own. Nothing is thrown. T is float or
// double; task deletion and integer attributes serve both precisions.

template <typename T>
std::int32_t df_new_task_1d(task_record** task, std::int64_t nx, T* partitions, std::int64_t part_hint,
                            std::int64_t ny, T* functions, std::int64_t func_hint) noexcept;

// Attribute 16 sets the number of functions.
std::int32_t df_edit_val(task_record* task, std::int64_t attribute, std::int64_t value) noexcept;

template <typename T>
std::int32_t df_edit_pp_spline_1d(task_record* task, std::int64_t order, std::int64_t type, std::int64_t bc_type,
                                  T* bc_values, std::int64_t ic_type, T* internal_conditions, T* coeffs,
                                  std::int64_t coeff_hint) noexcept;

// Runs the construction kernel chosen by the task's spline order and type.
template <typename T>
std::int32_t df_construct_1d(task_record* task, std::int64_t format, std::int64_t method) noexcept;

// type bits: 1 values (and derivatives), 2 cell indices, 4 values from the
// cell indices given in `cells`. Bit 2 alone runs the search kernel.
template <typename T>
std::int32_t df_interpolate_1d(task_record* task, std::int64_t type, std::int64_t method, std::int64_t nsites,
                               T* sites, std::int64_t site_hint, std::int64_t der_count, std::int64_t* der_indicators,
                               std::int64_t data_hint, T* results, std::int64_t result_hint,
                               std::int64_t* cells) noexcept;

// Fills the task's integral table (QRX_DF_INTEGRAL_TABLE_SIZE(nx, ny)
// elements) from its coefficients.
template <typename T>
std::int32_t df_integral_table_1d(task_record* task, T* table) noexcept;

// results[j*n + i]: function j's integral from lower[i] to upper[i], read
// from the filled table, with the extrapolation modes 0..4 of each side.
template <typename T>
std::int32_t df_integrate_1d(task_record* task, const T* table, std::int64_t n, const T* lower, const T* upper,
                             std::int64_t left_mode, std::int64_t right_mode, T* results) noexcept;

// Fills the task's range tree (qrx_df_range_tree_size(nx, ny) elements).
template <typename T>
std::int32_t df_range_tree_1d(task_record* task, T* tree) noexcept;

// counts[j*n + i] roots of function j at level y[i], the first max_roots of
// them at roots[(j*n + i)*max_roots], found through the filled tree.
template <typename T>
std::int32_t df_solve_1d(task_record* task, const T* tree, std::int64_t n, const T* y, std::int64_t max_roots,
                         T* roots, std::int64_t* counts) noexcept;

// The fitting kernels, on a task of their spline type: the smoothing
// spline for one lambda >= 0 or, for a negative lambda, each function's
// chosen by cross-validation into chosen[j]; the least-squares spline on
// the task's knots through ndata data (values laid out as y_hint says).
// Null weights are all 1.
template <typename T>
std::int32_t df_smoothing_1d(task_record* task, const T* weights, T lambda, T* chosen) noexcept;
template <typename T>
std::int32_t df_least_squares_1d(task_record* task, const T* x, const T* y, std::int64_t ndata, std::int64_t y_hint,
                                 const T* weights) noexcept;

std::int32_t df_delete_task(task_record** task) noexcept;

}  // namespace velora::qrx::experimental::data_fitting::detail
