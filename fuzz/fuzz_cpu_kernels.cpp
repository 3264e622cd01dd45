// The CPU kernel library, loaded and driven through the front-end, with
// arbitrary arguments: each input is a short program of task creation,
// attribute and spline-parameter edits, constructions, interpolations,
// searches, integrations, solutions and deletions, in either precision (also the one the task was not
// made for), with arbitrary hints, orders, types, boundary and internal
// condition kinds, counts and data (NaN and infinities included).
//
// Every array handed over holds exactly the elements its arguments claim, or
// is null when that would be more than a few thousand: the kernels must
// never read or write past it. A call whose recorded arrays are too small
// for what the task now claims (after its ny or order was changed) would be
// the caller's fault and is not made. Invariants:
// - no crash, hang or sanitizer report;
// - every status is 0 or one the kernel library documents;
// - a successful interpolation leaves the result slots of orders that were
//   not asked for (or that the spline lacks) untouched, and writes search
//   indices in [0, nx].

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "detail/cpu_impl/df_frontend.hpp"
#include "detail/cpu_impl/kernel_loader.hpp"
#include "detail/cpu_impl/task_record_fields.hpp"
#include "fuzz_support.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace {

namespace dd = velora::qrx::experimental::data_fitting::detail;
using qrx_fuzz::fail;
using qrx_fuzz::fuzz_input;
using qrx_fuzz::product;

// Arrays longer than this are handed over as null.
constexpr std::int64_t max_elements = std::int64_t{1} << 16;

constexpr std::int32_t known_statuses[] = {
    QRX_DF_STATUS_OK,           QRX_DF_STATUS_NULL_TASK,        QRX_DF_STATUS_BAD_ALLOC,
    QRX_DF_STATUS_BAD_METHOD,   QRX_DF_STATUS_BAD_TYPE,         QRX_DF_STATUS_NO_FUNCTIONS,
    QRX_DF_STATUS_BAD_FUNCTION_HINT, QRX_DF_STATUS_BAD_ORDER,   QRX_DF_STATUS_BAD_SPLINE_TYPE,
    QRX_DF_STATUS_BAD_IC_TYPE,  QRX_DF_STATUS_NO_IC,            QRX_DF_STATUS_NO_COEFFS,
    QRX_DF_STATUS_NOT_PERIODIC, QRX_DF_STATUS_BAD_NSITES,       QRX_DF_STATUS_NO_SITES,
    QRX_DF_STATUS_BAD_SITE_HINT, QRX_DF_STATUS_BAD_DER_ORDERS,  QRX_DF_STATUS_BAD_DER_COUNT,
    QRX_DF_STATUS_NO_RESULTS,   QRX_DF_STATUS_NO_CELLS,         QRX_DF_STATUS_METHOD_NOT_PROVIDED,
    QRX_DF_STATUS_WRONG_PRECISION, QRX_DF_STATUS_BAD_PARTITION_HINT, QRX_DF_STATUS_BAD_NX,
    QRX_DF_STATUS_NO_PARTITION, QRX_DF_STATUS_BAD_NY,           QRX_DF_STATUS_BAD_BC_TYPE,
    QRX_DF_STATUS_NO_BC_VALUES, QRX_DF_STATUS_BAD_COEFF_HINT,   QRX_DF_STATUS_BAD_ATTRIBUTE,
    QRX_DF_STATUS_BAD_RESULT_HINT, QRX_DF_STATUS_BAD_ARGUMENT, QRX_DF_STATUS_PARTITION_NOT_FINITE,
    QRX_DF_STATUS_PARTITION_NOT_INCREASING, QRX_DF_STATUS_NO_TABLE, QRX_DF_STATUS_BAD_EXTRAPOLATION,
    QRX_DF_STATUS_NO_LEVELS,    QRX_DF_STATUS_BAD_MAX_ROOTS};

std::int32_t checked(std::int32_t status, const char* operation) {
  for (std::int32_t known : known_statuses) {
    if (status == known) return status;
  }
  fail("%s returned the unknown status %d", operation, status);
}

// Owns every array handed to the kernels; they stay alive until the input is done.
class arrays {
 public:
  // An exact array of n elements of T filled by `fill`, or null when n is
  // negative or too large, or when the input asks for null.
  template <typename T, typename Fill>
  T* make(fuzz_input& in, std::int64_t n, Fill fill) {
    if (in.pick(16) == 0 || n < 0 || n > max_elements) return nullptr;
    std::shared_ptr<T[]> a = qrx_fuzz::exact_array<T>(n);
    for (std::int64_t i = 0; i < n; ++i) a[i] = fill(i);
    owned_.push_back(a);
    return a.get();
  }

 private:
  std::vector<std::shared_ptr<void>> owned_;
};

// What the harness knows of the task beyond the record's own fields: how
// many elements the arrays it recorded hold (-1: none recorded).
struct task_state {
  dd::task_record* task = nullptr;
  bool is_double = false;
  std::int64_t nx = 0;
  std::int64_t function_rows = -1;  // the function-value array holds nx*function_rows values
  std::int64_t coeff_capacity = -1;
  std::int64_t own_slope_rows = -1;  // per-function Hermite slopes: the array holds nx*own_slope_rows

  std::int64_t ny() const { return dd::read_task_field<std::int64_t>(task, dd::task_field::ny); }
  std::int64_t order() const { return dd::read_task_field<std::int64_t>(task, dd::task_field::order); }

  // Whether the recorded arrays hold everything the task now claims.
  bool arrays_suffice() const {
    const std::int64_t ny_now = ny();
    if (function_rows >= 0 && ny_now > function_rows) return false;
    if (own_slope_rows >= 0 && ny_now > own_slope_rows) return false;
    if (coeff_capacity < 0) return true;
    const std::int64_t order_now = order();
    const std::int64_t needed = product(nx - 1, ny_now, order_now > 0 ? order_now : 0);
    return needed >= 0 && needed <= coeff_capacity;
  }
};

constexpr std::int64_t partition_hints[] = {1, 2, 4};
constexpr std::int64_t function_hints[] = {16, 32, 0, 128};
constexpr std::int64_t orders[] = {2, 4, 3, 1};
constexpr std::int64_t cubic_types[] = {3, 0, 2, 4, 5, 9, 10, 11, 12, 1, 6};
constexpr std::int64_t bc_kinds[] = {0, 1, 2, 12, 24, 36, 48, 64, 128, 4, 20};
constexpr std::int64_t ic_types[] = {1, 2, 4, 0};
constexpr std::int64_t interpolation_types[] = {1, 2, 3, 4, 5, 6, 7};
constexpr std::int64_t site_hints[] = {1, 4, 64, 0};
constexpr std::int64_t result_hints[] = {16, 32, 256, 512};
constexpr std::int64_t attributes[] = {16, 32};

// A task must refuse the kernels of the other precision.
template <typename T>
void check_precision(const task_state& st, std::int32_t status, const char* operation) {
  if (status == 0 && (sizeof(T) == sizeof(double)) != st.is_double) {
    fail("%s accepted a task of the other precision", operation);
  }
}

std::int64_t breakpoint_count(fuzz_input& in) {
  const std::uint32_t k = in.pick(8);
  if (k == 0) return in.count(2, 1100);  // enough for the threaded paths, or an extreme
  return in.in_range(2, 40);
}

template <typename T>
void new_task(fuzz_input& in, arrays& keep, task_state& st) {
  if (st.task != nullptr) checked(dd::df_delete_task(&st.task), "delete task");
  st = task_state{};
  st.is_double = sizeof(T) == sizeof(double);
  const std::int64_t nx = breakpoint_count(in);
  const std::int64_t part_hint = in.hint(partition_hints);
  T* partition = keep.make<T>(in, part_hint == 4 ? 2 : nx, [&](std::int64_t) { return T(0); });
  if (partition != nullptr) in.breakpoints(partition, part_hint == 4 ? 2 : nx);
  const std::int64_t ny = in.flag() ? in.count(0, 16) : in.in_range(0, 4);
  const std::int64_t func_hint = in.hint(function_hints);
  T* functions = keep.make<T>(in, product(nx, ny), [&](std::int64_t) { return in.value<T>(); });
  if (in.pick(32) == 0) {  // nowhere to put the task
    checked(dd::df_new_task_1d<T>(nullptr, nx, partition, part_hint, ny, functions, func_hint), "new task");
    return;
  }
  if (checked(dd::df_new_task_1d<T>(&st.task, nx, partition, part_hint, ny, functions, func_hint), "new task") != 0) {
    if (st.task != nullptr) fail("a refused new task left a task behind");
    return;
  }
  if (st.task == nullptr) fail("new task succeeded without a task");
  st.nx = nx;
  st.function_rows = functions != nullptr ? ny : -1;
}

void edit_val(fuzz_input& in, task_state& st) {
  const std::int64_t attribute = in.hint(attributes);
  const std::int64_t value = attribute == 16 ? in.count(0, 12) : static_cast<std::int64_t>(in.byte() % 3);
  checked(dd::df_edit_val(in.pick(32) == 0 ? nullptr : st.task, attribute, value), "edit value");
}

template <typename T>
void edit_pp_spline(fuzz_input& in, arrays& keep, task_state& st) {
  const std::int64_t order = in.pick(16) == 0 ? in.count(0, 8) : in.hint(orders);
  const std::int64_t type = in.hint(cubic_types);
  const std::int64_t bc = in.hint(bc_kinds);
  T* bc_values = keep.make<T>(in, 2, [&](std::int64_t) { return in.value<T>(); });
  const std::int64_t ic_type = in.hint(ic_types);
  const std::int64_t ny = st.task != nullptr ? st.ny() : 0;
  // Per-function slopes cover every breakpoint of every function.
  const bool own_slopes = ic_type == QRX_DF_IC_FUNCTION_FIRST_DERIVATIVES;
  T* ic = keep.make<T>(in, own_slopes ? product(st.nx, ny) : st.nx - 2, [&](std::int64_t) { return in.value<T>(); });
  const std::int64_t capacity = product(st.nx - 1, ny, order > 0 ? order : 0);
  T* coeffs = keep.make<T>(in, capacity, [&](std::int64_t) { return T(0); });
  const std::int64_t coeff_hint = in.pick(8) == 0 ? in.hint(result_hints) : 16;
  dd::task_record* task = in.pick(32) == 0 ? nullptr : st.task;
  const std::int32_t status =
      checked(dd::df_edit_pp_spline_1d<T>(task, order, type, bc, bc_values, ic_type, ic, coeffs, coeff_hint),
              "edit spline");
  if (task == nullptr) return;
  check_precision<T>(st, status, "edit spline");
  if (status == 0) {
    st.coeff_capacity = coeffs != nullptr ? capacity : -1;
    st.own_slope_rows = own_slopes && ic != nullptr ? ny : -1;
  }
}

template <typename T>
void construct(fuzz_input& in, task_state& st) {
  const std::int64_t format = in.pick(8) == 0 ? in.count(0, 2) : 0;
  const std::int64_t method = in.pick(8) == 0 ? in.count(0, 2) : 0;
  if (in.pick(32) == 0) {
    if (checked(dd::df_construct_1d<T>(nullptr, format, method), "construct") != QRX_DF_STATUS_NULL_TASK) {
      fail("construct without a task did not report the null task");
    }
    return;
  }
  if (st.task == nullptr || !st.arrays_suffice()) return;
  check_precision<T>(st, checked(dd::df_construct_1d<T>(st.task, format, method), "construct"), "construct");
}

template <typename T>
T sentinel() {
  return T(-7.25e-3);
}

template <typename T>
void interpolate(fuzz_input& in, arrays& keep, task_state& st) {
  const std::int64_t type = in.hint(interpolation_types);
  const std::int64_t method = in.pick(16) == 0 ? in.count(0, 2) : 1;
  const std::int64_t nsites = in.pick(8) == 0 ? in.count(0, 1100) : in.in_range(0, 40);
  const std::int64_t site_hint = in.hint(site_hints);
  T* sites = keep.make<T>(in, site_hint == 4 ? 2 : nsites, [&](std::int64_t) { return in.value<T>(); });
  const std::int64_t der_count = in.pick(16) == 0 ? in.count(0, 6) : in.in_range(0, 5);
  std::int64_t* ders = keep.make<std::int64_t>(in, der_count, [&](std::int64_t) {
    const std::uint8_t b = in.byte();
    return b < 250 ? std::int64_t{b % 2} : static_cast<std::int64_t>(in.raw64());
  });
  const std::int64_t data_hint = in.pick(16) == 0 ? 1 : 0;
  const std::int64_t ny = st.task != nullptr ? st.ny() : 0;
  const std::int64_t result_count = product(ny, nsites, der_count);
  T* results = keep.make<T>(in, result_count, [](std::int64_t) { return sentinel<T>(); });
  const std::int64_t result_hint = in.hint(result_hints);
  std::int64_t* cells = keep.make<std::int64_t>(in, nsites, [&](std::int64_t) {
    return in.pick(4) == 0 ? static_cast<std::int64_t>(in.raw64()) : in.in_range(-2, 70);
  });

  if (in.pick(32) == 0) {
    const std::int32_t status = checked(dd::df_interpolate_1d<T>(nullptr, type, method, nsites, sites, site_hint,
                                                                 der_count, ders, data_hint, results, result_hint,
                                                                 cells),
                                        "interpolate");
    if (status != QRX_DF_STATUS_NULL_TASK) fail("interpolate without a task did not report the null task");
    return;
  }
  if (st.task == nullptr || !st.arrays_suffice()) return;
  const std::int64_t order = st.order();
  const std::int32_t status =
      checked(dd::df_interpolate_1d<T>(st.task, type, method, nsites, sites, site_hint, der_count, ders, data_hint,
                                       results, result_hint, cells),
              "interpolate");
  check_precision<T>(st, status, "interpolate");
  if (status != 0) return;

  const bool evaluated = (type & 5) != 0;
  if ((type & 2) != 0 && (type & 4) == 0 && cells != nullptr) {
    for (std::int64_t s = 0; s < nsites; ++s) {
      if (cells[s] < 0 || cells[s] > st.nx) fail("search index %lld outside [0, %lld]", (long long)cells[s], (long long)st.nx);
    }
  }
  if (!evaluated || results == nullptr) return;
  // Slots of orders not asked for, or beyond the spline's, keep the sentinel
  // (compared bit for bit: the kernels may write NaN anywhere else).
  const T mark = sentinel<T>();
  for (std::int64_t i = 0; i < result_count; ++i) {
    std::int64_t d = 0;
    switch (result_hint) {
      case 16: d = i % der_count; break;
      case 32: d = (i / nsites) % der_count; break;
      case 256: d = i % der_count; break;
      default: d = (i / ny) % der_count; break;
    }
    const bool asked = d < order && ders[d] != 0;
    if (!asked && std::memcmp(&results[i], &mark, sizeof(T)) != 0) {
      fail("result slot %lld (order %lld, not asked for) was written", (long long)i, (long long)d);
    }
  }
}

// Integration or solving: the table or tree is filled first (exactly as
// large as the task claims, or null), then n intervals or levels. Counts
// must be non-negative.
template <typename T>
void calculus(fuzz_input& in, arrays& keep, task_state& st) {
  if (st.task == nullptr || !st.arrays_suffice()) return;
  const std::int64_t ny = st.ny();
  const bool solving = in.flag();
  const std::int64_t table_size =
      solving ? product(qrx_df_range_tree_size(st.nx, 1), ny) : product(2, st.nx, ny);  // 2*nx*ny, without overflow
  T* table = keep.make<T>(in, table_size, [](std::int64_t) { return T(0); });
  const std::int32_t built = checked(solving ? dd::df_range_tree_1d<T>(st.task, table)
                                             : dd::df_integral_table_1d<T>(st.task, table),
                                     "calculus table");
  check_precision<T>(st, built, "calculus table");
  if (built != 0 && in.flag()) return;  // else go on with whatever the table holds
  const std::int64_t n = in.pick(8) == 0 ? in.count(0, 1100) : in.in_range(0, 40);
  T* a = keep.make<T>(in, n, [&](std::int64_t) { return in.value<T>(); });
  if (!solving) {
    T* b = keep.make<T>(in, n, [&](std::int64_t) { return in.value<T>(); });
    T* results = keep.make<T>(in, product(ny, n), [](std::int64_t) { return T(0); });
    const std::int64_t left = in.in_range(-1, 5), right = in.in_range(-1, 5);
    check_precision<T>(st, checked(dd::df_integrate_1d<T>(st.task, table, n, a, b, left, right, results), "integrate"),
                       "integrate");
    return;
  }
  const std::int64_t max_roots = in.in_range(-1, 4);
  T* roots = keep.make<T>(in, product(ny, n, max_roots > 0 ? max_roots : 0), [](std::int64_t) { return T(0); });
  std::int64_t* counts = keep.make<std::int64_t>(in, product(ny, n), [](std::int64_t) { return std::int64_t{-1}; });
  const std::int32_t status = checked(dd::df_solve_1d<T>(st.task, table, n, a, max_roots, roots, counts), "solve");
  check_precision<T>(st, status, "solve");
  if (status != 0 || counts == nullptr || built != 0) return;
  for (std::int64_t s = 0; s < ny * n; ++s) {
    if (counts[s] < 0) fail("solve wrote the count %lld", (long long)counts[s]);
  }
}

template <typename T>
void step(fuzz_input& in, arrays& keep, task_state& st) {
  if (in.pick(8) == 0) {
    calculus<T>(in, keep, st);
    return;
  }
  switch (in.pick(8)) {
    case 0: new_task<T>(in, keep, st); break;
    case 1: edit_val(in, st); break;
    case 2:
    case 3: edit_pp_spline<T>(in, keep, st); break;
    case 4: construct<T>(in, st); break;
    case 5:
    case 6: interpolate<T>(in, keep, st); break;
    default:
      if (st.task != nullptr) checked(dd::df_delete_task(&st.task), "delete task");
      if (st.task != nullptr) fail("a deleted task was not cleared");
      if (checked(dd::df_delete_task(&st.task), "delete task") != QRX_DF_STATUS_NULL_TASK) {
        fail("deleting no task did not report the null task");
      }
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Load the kernel library before fuzzing starts, so that its coverage
  // counters are known from the first input on.
  dd::load_kernel_library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_input in(data, size);
  arrays keep;
  task_state st;
  // The first task, then up to 12 further operations, each in either
  // precision (a task used with the other one must be refused).
  if (in.flag()) {
    new_task<double>(in, keep, st);
  } else {
    new_task<float>(in, keep, st);
  }
  for (int n = 0; n < 12 && !in.exhausted(); ++n) {
    if (in.flag()) {
      step<double>(in, keep, st);
    } else {
      step<float>(in, keep, st);
    }
  }
  if (st.task != nullptr) checked(dd::df_delete_task(&st.task), "delete task");
  return 0;
}
