#include "detail/cpu_impl/df_frontend.hpp"

#include <type_traits>

#include "detail/cpu_impl/df_status.hpp"
#include "detail/cpu_impl/kernel_loader.hpp"
#include "detail/cpu_impl/threader_blocks.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace velora::qrx::experimental::data_fitting::detail {
namespace {

// Values the front-end's checks accept beyond those the kernel library
// names: a third row-major function hint, the quadratic spline's second
// type, and the spline types evaluated without coefficient storage.
constexpr std::int64_t function_hint_row_major_alt = 128;
constexpr std::int64_t quadratic_type_alt = 1;
constexpr std::int64_t first_type_without_coefficients = 6;
constexpr std::int64_t last_type_without_coefficients = 8;

// The fields of the task record that the checks read.
struct task_view {
  std::int64_t ny;
  const void* functions;
  std::int64_t function_hint;
  std::int64_t order;
  std::int64_t type;
  std::int64_t ic_type;
  const void* internal_conditions;
  const void* coeffs;
  bool skip_checks;
};

task_view view_of(const task_record* task) noexcept {
  return {read_task_field<std::int64_t>(task, task_field::ny),
          read_task_field<const void*>(task, task_field::functions),
          read_task_field<std::int64_t>(task, task_field::function_hint),
          read_task_field<std::int64_t>(task, task_field::order),
          read_task_field<std::int64_t>(task, task_field::type),
          read_task_field<std::int64_t>(task, task_field::ic_type),
          read_task_field<const void*>(task, task_field::internal_conditions),
          read_task_field<const void*>(task, task_field::coeffs),
          read_task_field<std::uint32_t>(task, task_field::skip_checks) != 0};
}

// True when the pointer array is null or one of its first n entries is.
bool any_null(const void* array, std::int64_t n) noexcept {
  if (array == nullptr) return true;
  for (std::int64_t i = 0; i < n; ++i) {
    if (pointer_entry(array, i) == nullptr) return true;
  }
  return false;
}

std::int32_t check_construct_arguments(const task_view& t, std::int64_t format, std::int64_t method) noexcept {
  if (format != 0 || method != 0) return df_status::bad_format_or_method;
  const std::int64_t m = t.ny >= 1 ? t.ny : 1;
  if (any_null(t.coeffs, m)) return df_status::no_coefficients;
  if (t.functions == nullptr) return df_status::no_function_values;
  switch (t.function_hint) {
    case QRX_DF_FUNCTIONS_DEFAULT:
    case QRX_DF_FUNCTIONS_ROW_MAJOR:
    case function_hint_row_major_alt:
      return any_null(t.functions, m) ? df_status::no_function_values : df_status::ok;
    case QRX_DF_FUNCTIONS_COL_MAJOR:
      return any_null(t.functions, 1) ? df_status::no_function_values : df_status::ok;
    default:
      return df_status::bad_function_hint;
  }
}

// The construction kernel for the task's order and type, or the status that
// refuses them.
struct construct_choice {
  std::int32_t status;
  kernel_id kernel;
};

template <typename T>
construct_choice choose_construct_kernel(const task_view& t) noexcept {
  using k = precision_kernels<T>;
  // Default and Hermite cubics need internal conditions of a type they
  // take (Hermite: shared or per-function first derivatives).
  auto with_conditions = [&](kernel_id id, std::int64_t ic_type, std::int64_t other_ic_type) -> construct_choice {
    if (t.internal_conditions == nullptr) return {df_status::no_internal_conditions, id};
    if (t.ic_type != ic_type && t.ic_type != other_ic_type) return {df_status::bad_ic_type, id};
    return {df_status::ok, id};
  };
  switch (t.order) {
    case QRX_DF_ORDER_LINEAR:
      return {df_status::ok, k::linear};
    case QRX_DF_ORDER_QUADRATIC:
      if (t.type == QRX_DF_CUBIC_DEFAULT || t.type == quadratic_type_alt) return {df_status::ok, k::quadratic};
      return {df_status::bad_type_for_order, k::quadratic};
    case QRX_DF_ORDER_CUBIC:
      switch (t.type) {
        case QRX_DF_CUBIC_DEFAULT:
          return with_conditions(k::default_cubic, QRX_DF_IC_SECOND_DERIVATIVES, QRX_DF_IC_SECOND_DERIVATIVES);
        case QRX_DF_CUBIC_NATURAL: return {df_status::ok, k::natural_cubic};
        case QRX_DF_CUBIC_HERMITE:
          return with_conditions(k::hermite_cubic, QRX_DF_IC_FIRST_DERIVATIVES, QRX_DF_IC_FUNCTION_FIRST_DERIVATIVES);
        case QRX_DF_CUBIC_BESSEL: return {df_status::ok, k::bessel_cubic};
        case QRX_DF_CUBIC_AKIMA: return {df_status::ok, k::akima_cubic};
        case QRX_DF_CUBIC_HYMAN: return {df_status::ok, k::hyman_cubic};
        case QRX_DF_CUBIC_PCHIP: return {df_status::ok, k::pchip_cubic};
        case QRX_DF_CUBIC_MAKIMA: return {df_status::ok, k::makima_cubic};
        case QRX_DF_CUBIC_STEFFEN: return {df_status::ok, k::steffen_cubic};
        default: return {df_status::bad_type_for_order, k::default_cubic};
      }
    default:
      return {df_status::bad_order, k::linear};
  }
}

// Every construction kernel has the linear kernel's signature.
using construct_kernel = kernel_type<kernel_id::sDFLinearSpline1D>;
static_assert(std::is_same_v<construct_kernel, kernel_type<kernel_id::dDFAkimaCubicSpline1D>>);

std::int32_t check_derivative_request(std::int64_t der_count, const std::int64_t* der_indicators) noexcept {
  if (der_count <= 0 && der_indicators != nullptr) return df_status::orders_without_count;
  if (der_count != 0 && der_indicators == nullptr) return df_status::bad_der_count;
  return df_status::ok;
}

bool known_site_hint(std::int64_t hint) noexcept {
  return hint == QRX_DF_SITES_NON_UNIFORM || hint == QRX_DF_SITES_UNIFORM || hint == QRX_DF_SITES_SORTED ||
         hint == QRX_DF_SITES_DEFAULT;
}

// Spline types whose evaluation needs no coefficient storage.
bool needs_no_coefficients(std::int64_t type) noexcept {
  return type >= first_type_without_coefficients && type <= last_type_without_coefficients;
}

}  // namespace

template <typename T>
std::int32_t df_new_task_1d(task_record** task, std::int64_t nx, T* partitions, std::int64_t part_hint,
                            std::int64_t ny, T* functions, std::int64_t func_hint) noexcept {
  return kernel<precision_kernels<T>::new_task>()(task, nx, partitions, part_hint, ny, functions, func_hint, 1);
}

std::int32_t df_edit_val(task_record* task, std::int64_t attribute, std::int64_t value) noexcept {
  return kernel<kernel_id::iEditVal>()(task, attribute, value);
}

template <typename T>
std::int32_t df_edit_pp_spline_1d(task_record* task, std::int64_t order, std::int64_t type, std::int64_t bc_type,
                                  T* bc_values, std::int64_t ic_type, T* internal_conditions, T* coeffs,
                                  std::int64_t coeff_hint) noexcept {
  return kernel<precision_kernels<T>::edit_pp_spline>()(task, order, type, bc_type, bc_values, ic_type,
                                                        internal_conditions, coeffs, coeff_hint);
}

template <typename T>
std::int32_t df_construct_1d(task_record* task, std::int64_t format, std::int64_t method) noexcept {
  if (task == nullptr) return df_status::null_task;
  const task_view t = view_of(task);
  if (!t.skip_checks) {
    if (const std::int32_t status = check_construct_arguments(t, format, method); status != df_status::ok) {
      return status;
    }
  }
  const construct_choice choice = choose_construct_kernel<T>(t);
  if (choice.status != df_status::ok) return choice.status;
  // Only the chosen kernel is resolved.
  const auto run = reinterpret_cast<construct_kernel>(kernel_address(choice.kernel));
  return run(task, format, method, construct_threader_block<T>());
}

template <typename T>
std::int32_t df_interpolate_1d(task_record* task, std::int64_t type, std::int64_t method, std::int64_t nsites,
                               T* sites, std::int64_t site_hint, std::int64_t der_count, std::int64_t* der_indicators,
                               std::int64_t data_hint, T* results, std::int64_t result_hint,
                               std::int64_t* cells) noexcept {
  if (task == nullptr) return df_status::null_task;
  const task_view t = view_of(task);
  if (!t.skip_checks) {
    if ((type & (1 | 2 | 4)) == 0) return df_status::nothing_to_compute;
    if (method != 1) return df_status::bad_format_or_method;
    if (sites == nullptr) return df_status::no_sites;
    if (nsites < 1) return df_status::bad_nsites;
    if (!known_site_hint(site_hint)) return df_status::bad_site_hint;
  }
  const qrx_df_threader_block* threader = interpolate_threader_block<T>();
  if ((type & 4) != 0 || (type & 1) != 0) {
    if (!needs_no_coefficients(t.type) && any_null(t.coeffs, t.ny > 0 ? t.ny : 0)) return df_status::no_coefficients;
    if (results == nullptr) return df_status::no_results;
    if (const std::int32_t status = check_derivative_request(der_count, der_indicators); status != df_status::ok) {
      return status;
    }
    if ((type & 2) != 0 && !t.skip_checks && cells == nullptr) return df_status::no_cells;
    // Values from given cells: the kernel gets that bit alone.
    const std::int64_t kernel_type_bits = (type & 4) != 0 ? 4 : type;
    return kernel<precision_kernels<T>::interpolate>()(task, kernel_type_bits, method, nsites, sites, site_hint,
                                                       der_count, der_indicators, data_hint, results, result_hint,
                                                       cells, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                       nullptr, nullptr, threader);
  }
  if ((type & 2) != 0) {
    if (!t.skip_checks && cells == nullptr) return df_status::no_cells;
    return kernel<precision_kernels<T>::search>()(task, method, nsites, sites, site_hint, data_hint, cells, nullptr,
                                                  nullptr, threader);
  }
  return df_status::nothing_to_compute;
}

// The calculus kernels check their own arguments; the front-end refuses only
// a missing task, as for every kernel.
template <typename T>
std::int32_t df_integral_table_1d(task_record* task, T* table) noexcept {
  if (task == nullptr) return df_status::null_task;
  return kernel<precision_kernels<T>::integral_table>()(task, table, interpolate_threader_block<T>());
}

template <typename T>
std::int32_t df_integrate_1d(task_record* task, const T* table, std::int64_t n, const T* lower, const T* upper,
                             std::int64_t left_mode, std::int64_t right_mode, T* results) noexcept {
  if (task == nullptr) return df_status::null_task;
  return kernel<precision_kernels<T>::integrate>()(task, table, n, lower, upper, left_mode, right_mode, results,
                                                   interpolate_threader_block<T>());
}

template <typename T>
std::int32_t df_range_tree_1d(task_record* task, T* tree) noexcept {
  if (task == nullptr) return df_status::null_task;
  return kernel<precision_kernels<T>::range_tree>()(task, tree, interpolate_threader_block<T>());
}

template <typename T>
std::int32_t df_solve_1d(task_record* task, const T* tree, std::int64_t n, const T* y, std::int64_t max_roots,
                         T* roots, std::int64_t* counts) noexcept {
  if (task == nullptr) return df_status::null_task;
  return kernel<precision_kernels<T>::solve>()(task, tree, n, y, max_roots, roots, counts,
                                               interpolate_threader_block<T>());
}

// The fitting kernels check their own arguments, as the calculus kernels.
template <typename T>
std::int32_t df_smoothing_1d(task_record* task, const T* weights, T lambda, T* chosen) noexcept {
  if (task == nullptr) return df_status::null_task;
  return kernel<precision_kernels<T>::smoothing>()(task, weights, lambda, chosen, construct_threader_block<T>());
}

template <typename T>
std::int32_t df_least_squares_1d(task_record* task, const T* x, const T* y, std::int64_t ndata, std::int64_t y_hint,
                                 const T* weights) noexcept {
  if (task == nullptr) return df_status::null_task;
  return kernel<precision_kernels<T>::least_squares>()(task, x, y, ndata, y_hint, weights,
                                                       construct_threader_block<T>());
}

std::int32_t df_delete_task(task_record** task) noexcept { return kernel<kernel_id::DeleteTask>()(task); }

#define QRX_DF_FRONTEND_INSTANTIATE(T)                                                                          \
  template std::int32_t df_new_task_1d<T>(task_record**, std::int64_t, T*, std::int64_t, std::int64_t, T*,      \
                                          std::int64_t) noexcept;                                               \
  template std::int32_t df_edit_pp_spline_1d<T>(task_record*, std::int64_t, std::int64_t, std::int64_t, T*,     \
                                                std::int64_t, T*, T*, std::int64_t) noexcept;                   \
  template std::int32_t df_construct_1d<T>(task_record*, std::int64_t, std::int64_t) noexcept;                  \
  template std::int32_t df_interpolate_1d<T>(task_record*, std::int64_t, std::int64_t, std::int64_t, T*,        \
                                             std::int64_t, std::int64_t, std::int64_t*, std::int64_t, T*,       \
                                             std::int64_t, std::int64_t*) noexcept;                         \
  template std::int32_t df_integral_table_1d<T>(task_record*, T*) noexcept;                                     \
  template std::int32_t df_integrate_1d<T>(task_record*, const T*, std::int64_t, const T*, const T*,            \
                                           std::int64_t, std::int64_t, T*) noexcept;                            \
  template std::int32_t df_range_tree_1d<T>(task_record*, T*) noexcept;                                         \
  template std::int32_t df_solve_1d<T>(task_record*, const T*, std::int64_t, const T*, std::int64_t, T*,        \
                                       std::int64_t*) noexcept;                                                 \
  template std::int32_t df_smoothing_1d<T>(task_record*, const T*, T, T*) noexcept;                             \
  template std::int32_t df_least_squares_1d<T>(task_record*, const T*, const T*, std::int64_t, std::int64_t,    \
                                               const T*) noexcept;
QRX_DF_FRONTEND_INSTANTIATE(float)
QRX_DF_FRONTEND_INSTANTIATE(double)
#undef QRX_DF_FRONTEND_INSTANTIATE

}  // namespace velora::qrx::experimental::data_fitting::detail
