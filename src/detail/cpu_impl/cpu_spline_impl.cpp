#include "detail/cpu_impl/cpu_spline_impl.hpp"

#include <initializer_list>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "data_fitting/exceptions.hpp"
#include "detail/cpu_impl/df_frontend.hpp"
#include "detail/cpu_impl/outside_pass.hpp"
#include "detail/cpu_impl/status_exceptions.hpp"
#include "detail/cpu_impl/task_record_fields.hpp"
#include "detail/cpu_impl/threader_blocks.hpp"
#include "detail/derivative_indicators.hpp"
#include "detail/error_domain.hpp"
#include "detail/host_task.hpp"
#include "detail/spline_description.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace velora::qrx::experimental::data_fitting::detail {
namespace {

// An integral table or range tree of `size` elements filled by `fill`
// (a kernel status), for the public call `function`.
template <typename FpType, typename Fill>
std::vector<FpType> derived_table(std::int64_t size, const char* function, Fill fill) {
  std::vector<FpType> table;
  try {
    table.resize(static_cast<std::size_t>(size));
  } catch (const std::exception&) {  // bad_alloc or length_error: no room either way
    throw_on_failure(QRX_DF_STATUS_BAD_ALLOC, function);
  }
  throw_on_failure(fill(table.data()), function);
  return table;
}

// Element counts of the tables; -1 when they do not fit in 64 bits.
inline std::int64_t integral_table_size(std::int64_t nx, std::int64_t ny) {
  std::int64_t size = 0;
  return __builtin_mul_overflow(nx, ny, &size) || __builtin_mul_overflow(size, 2, &size) ? -1 : size;
}

inline std::int64_t range_tree_size(std::int64_t nx, std::int64_t ny) {
  std::int64_t size = 0;
  return __builtin_mul_overflow(4 * qrx_df_range_tree_leaves(nx), ny, &size) ? -1 : size;
}

template <typename FpType>
std::vector<FpType> integral_table_of(task_record* record, std::int64_t nx, std::int64_t ny) {
  return derived_table<FpType>(integral_table_size(nx, ny), "integrate",
                               [&](FpType* table) { return df_integral_table_1d<FpType>(record, table); });
}

template <typename FpType>
std::vector<FpType> range_tree_of(task_record* record, std::int64_t nx, std::int64_t ny) {
  return derived_table<FpType>(range_tree_size(nx, ny), "solve",
                               [&](FpType* tree) { return df_range_tree_1d<FpType>(record, tree); });
}

}  // namespace

// One kernel-library task and the description it is made from, copied when
// the work was submitted. The task is made once,
// under the holder's lock, by construct's host work or, for coefficients
// the caller supplied, by whichever evaluation needs it first; once ready it
// is only read, by any number of evaluations at once. The holder deletes
// the task when the last host task holding it lets it go.
template <typename FpType, typename SplineType>
class kernel_task {
 public:
  // for_construct: the task computes coefficients from the recorded values
  // and conditions; otherwise it only evaluates supplied coefficients.
  kernel_task(const spline_description<FpType>& spline, bool for_construct)
      : spline_(spline), for_construct_(for_construct) {}
  kernel_task(const kernel_task&) = delete;
  kernel_task& operator=(const kernel_task&) = delete;
  ~kernel_task() { release(); }

  // construct's host work: makes the task and, given function values,
  // computes the coefficients into the caller's array.
  void construct(std::atomic<bool>& created) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ready_.load(std::memory_order_relaxed)) return;  // an evaluation made it for the supplied coefficients
    make(created, "construct");
    throw_on_failure(compute_coefficients(), "construct");
    ready_.store(true, std::memory_order_release);
  }

  // The task for an evaluation by the public call `function`, made now for
  // supplied coefficients; null when coefficients are computed here and
  // that has not (yet) succeeded.
  task_record* for_evaluation(std::atomic<bool>& created, const char* function) {
    if (ready_.load(std::memory_order_acquire)) return task_;
    if (for_construct_) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ready_.load(std::memory_order_relaxed)) {
      make(created, function);
      ready_.store(true, std::memory_order_release);
    }
    return task_;
  }

  // The integral table and the range tree of computed coefficients, built by
  // the first integrate / solve that needs them (as part of its work, under
  // the lock) and only read after that. `record` is this holder's ready task.
  const FpType* integral_table(task_record* record) {
    return built(integral_, [&] { return integral_table_of<FpType>(record, spline_.nx, spline_.ny); });
  }
  const FpType* range_tree(task_record* record) {
    return built(tree_, [&] { return range_tree_of<FpType>(record, spline_.nx, spline_.ny); });
  }

  // Deletes the task, if one was made; only once no work uses it.
  void release() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    ready_.store(false, std::memory_order_relaxed);
    for (table* t : {&integral_, &tree_}) {
      t->ready.store(false, std::memory_order_relaxed);
      t->data = std::vector<FpType>{};
    }
    if (task_ == nullptr) return;
    df_delete_task(&task_);  // its status is of no use: the task is gone either way
    task_ = nullptr;
  }

 private:
  struct table {
    std::atomic<bool> ready{false};
    std::vector<FpType> data;
  };

  template <typename Build>
  const FpType* built(table& t, Build build) {
    if (t.ready.load(std::memory_order_acquire)) return t.data.data();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!t.ready.load(std::memory_order_relaxed)) {
      t.data = build();
      t.ready.store(true, std::memory_order_release);
    }
    return t.data.data();
  }

  // The kind's construction kernel on the made task: the fitting kinds have
  // kernels of their own, with their data and parameters.
  std::int32_t compute_coefficients() {
    const fit_description<FpType>& fit = spline_.fit;
    constexpr fit_kind kind = spline_kind<SplineType>::fit;
    if constexpr (kind == fit_kind::smoothing) {
      // The kernel chooses each function's lambda when given a negative one.
      const bool choose = fit.smoothing == smoothing_rule::by_gcv;
      return df_smoothing_1d<FpType>(task_, fit.weights, choose ? FpType(-1) : fit.lambda, fit.chosen);
    } else if constexpr (kind == fit_kind::least_squares) {
      return df_least_squares_1d<FpType>(task_, fit.sites, fit.values, fit.ndata,
                                         static_cast<std::int64_t>(fit.values_layout), fit.weights);
    } else {
      return df_construct_1d<FpType>(task_, 0, 0);
    }
  }

  void make(std::atomic<bool>& created, const char* function) {
    using kind = spline_kind<SplineType>;
    const spline_description<FpType>& d = spline_;
    if (task_ != nullptr) {  // left by an attempt that failed
      df_delete_task(&task_);
      task_ = nullptr;
    }
    const auto partition_hint_value = static_cast<std::int64_t>(d.partition_layout);
    // A least-squares task reads its data from the construction call, not
    // from function values.
    const bool with_values = for_construct_ && kind::fit != fit_kind::least_squares;
    if (with_values) {
      throw_on_failure(df_new_task_1d<FpType>(&task_, d.nx, d.partition, partition_hint_value, d.ny,
                                              *d.function_values, static_cast<std::int64_t>(d.function_layout)),
                       function);
    } else {
      throw_on_failure(df_new_task_1d<FpType>(&task_, d.nx, d.partition, partition_hint_value, 0, nullptr,
                                              QRX_DF_FUNCTIONS_ROW_MAJOR),
                       function);
    }
    created = true;
    if (!with_values) throw_on_failure(df_edit_val(task_, QRX_DF_ATTR_NY, d.ny), function);
    // The kernels read the boundary values through this pointer only during
    // the call. The task an evaluation makes for supplied coefficients takes
    // no conditions. Hermite slopes of every function replace the shared
    // ones and the end rules.
    FpType bc_values[2] = {d.left_value, d.right_value};
    std::int64_t bc_type = 0;
    std::int64_t ic_type = 0;
    FpType* conditions = nullptr;
    if (for_construct_ && d.has_first_derivatives()) {
      ic_type = QRX_DF_IC_FUNCTION_FIRST_DERIVATIVES;
      conditions = d.first_derivatives;
    } else if (for_construct_) {
      bc_type = static_cast<std::int64_t>(d.boundary);
      ic_type = static_cast<std::int64_t>(d.internal_type);
      conditions = d.internal_conditions;
    }
    throw_on_failure(df_edit_pp_spline_1d<FpType>(task_, kind::cpu_order, kind::cpu_type, bc_type,
                                                  bc_type != 0 ? bc_values : nullptr, ic_type, conditions,
                                                  *d.coefficients, static_cast<std::int64_t>(d.coefficient_layout)),
                     function);
  }

  const spline_description<FpType> spline_;
  const bool for_construct_;
  std::mutex mutex_;
  std::atomic<bool> ready_{false};
  task_record* task_ = nullptr;
  table integral_;
  table tree_;
};

template <typename FpType, typename SplineType>
spline_impl<FpType, SplineType, 1, cpu_backend>::spline_impl(const sycl::queue& queue, std::int64_t ny,
                                                             bool is_coeff_computed)
    : spline_base<FpType, SplineType, 1>(queue, ny, is_coeff_computed) {}

template <typename FpType, typename SplineType>
spline_impl<FpType, SplineType, 1, cpu_backend>::~spline_impl() {
  // The clean-up runs after the latest operation and after every other one
  // that may still use the task; a plain wait leaves asynchronous errors with
  // the queue. Earlier tasks went with the last work holding them. Anything
  // thrown here ends the program (the destructor is noexcept).
  std::vector<sycl::event> after = this->pending.snapshot();
  after.push_back(this->latest());
  std::shared_ptr<task_holder> task;
  {
    std::lock_guard<std::mutex> lock(this->mutex);
    task.swap(task_);
  }
  submit_host_task(this->queue, after, [task] {
    if (task) task->release();
  }).wait();
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, cpu_backend>::construct(
    const std::vector<sycl::event>& dependencies) {
  if (!this->is_initialized()) {
    throw velora::qrx::invalid_argument(error_domain, "construct", "spline isn't initialized");
  }
  if (!this->recorded.has_coefficients()) {
    throw velora::qrx::invalid_argument(error_domain, "construct", "coefficients were not set");
  }
  if (this->recorded.coefficients_supplied) {
    // Coefficients given by the caller are never recomputed: their task is
    // made by the first evaluation.
    return this->latest();
  }
  std::lock_guard<std::mutex> order(this->construct_order);
  this->check_construction();
  this->coeffs_size("construct");
  auto task = std::make_shared<task_holder>(this->recorded, true);
  std::shared_ptr<task_holder> replaced;  // stays with the work still holding it
  {
    // Marked computed at submission, as on the GPU back-end: evaluations
    // submitted from now on run after this construction, and its work
    // takes the mark back if it fails.
    std::lock_guard<std::mutex> lock(this->mutex);
    replaced = std::exchange(task_, task);
    this->coeffs_computed = true;
  }
  const sycl::event event = submit_host_task(this->queue, this->after_latest_construction(dependencies), [this, task] {
    try {
      task->construct(task_created);
    } catch (...) {
      mark_failed(task);
      throw;
    }
  });
  this->latest_construction = event;
  return this->record(event);
}

template <typename FpType, typename SplineType>
void spline_impl<FpType, SplineType, 1, cpu_backend>::mark_failed(const std::shared_ptr<task_holder>& task) {
  // Only the construction of the current holder decides: a holder replaced
  // meanwhile no longer speaks for the coefficients.
  std::lock_guard<std::mutex> lock(this->mutex);
  if (task_ == task) this->coeffs_computed = false;
}

template <typename FpType, typename SplineType>
std::shared_ptr<void> spline_impl<FpType, SplineType, 1, cpu_backend>::forget_partition() {
  return std::exchange(task_, nullptr);
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, cpu_backend>::interpolate(
    sycl::queue& queue, FpType* sites, std::int64_t nsites, FpType* results, std::bitset<32> der_mask,
    const std::vector<sycl::event>& dependencies, interpolate_hint ih, site_hint sh) {
  const std::int64_t orders = derivative_indicators<std::int64_t>(der_mask).count;
  const std::shared_ptr<task_holder> task = evaluation_task(
      [&](bool computed) { this->check_interpolation(computed, sites, nsites, results, orders, ih, sh); });
  const std::vector<sycl::event> after = this->after_construction(dependencies);
  // No site or no function: nothing to write, the event still completes
  // after the dependencies.
  if (nsites == 0) return this->record(submit_host_task(queue, after, [] {}));

  const spline_description<FpType>& d = this->recorded;
  // Outside the partition and at NaN sites the kernels' polynomial is
  // replaced as the modes say (outside_pass).
  const outside_pass<FpType> outside{d.outside, d.partition, d.nx, d.partition_layout == partition_hint::uniform,
                                     nullptr, spline_kind<SplineType>::coeffs_per_cell, d.ny};
  FpType** coefficients = d.coefficients;
  std::atomic<bool>* created = &task_created;
  const sycl::event event = submit_host_task(queue, after, [=] {
    task_record* record = task ? task->for_evaluation(*created, "interpolate") : nullptr;
    if (record == nullptr) {
      throw velora::qrx::computation_error(error_domain, "interpolate", "coefficients were not computed");
    }
    derivative_indicators<std::int64_t> ders(der_mask);
    const bool replaces = outside_pass<FpType>::needed(outside.modes) &&
                          !outside.all_inside(sites, nsites, sh, interpolate_threader_block<FpType>());
    std::vector<FpType> moved;
    if (replaces && outside.modes.periodic()) moved = outside.periodic_sites(sites, nsites, sh);
    FpType* evaluated = moved.empty() ? sites : moved.data();
    const site_hint evaluated_hint = moved.empty() ? sh : site_hint::non_uniform;
    throw_on_failure(df_interpolate_1d<FpType>(record, QRX_DF_INTERP_VALUES, QRX_DF_METHOD_STANDARD, nsites,
                                               evaluated, static_cast<std::int64_t>(evaluated_hint), ders.count,
                                               ders.flags, 0, results, static_cast<std::int64_t>(ih), nullptr),
                     "interpolate");
    if (replaces) {
      outside_pass<FpType> pass = outside;
      pass.coeffs = *coefficients;
      pass.write(sites, nsites, sh, results, ih, ders.flags, ders.count);
    }
  });
  return this->record(event);
}

template <typename FpType, typename SplineType>
template <typename Check>
std::shared_ptr<kernel_task<FpType, SplineType>> spline_impl<FpType, SplineType, 1, cpu_backend>::evaluation_task(
    Check check) {
  // As for interpolate: no holder means coefficients never computed, or
  // computed for a partition since replaced; the host work then refuses.
  bool computed = false;
  {
    std::lock_guard<std::mutex> lock(this->mutex);
    computed = this->coeffs_computed;
  }
  check(computed);
  std::lock_guard<std::mutex> lock(this->mutex);
  if (task_ == nullptr && this->recorded.coefficients_supplied) {
    task_ = std::make_shared<task_holder>(this->recorded, false);
  }
  return task_;
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, cpu_backend>::integrate(const FpType* lower, const FpType* upper,
                                                                 std::int64_t n, FpType* results,
                                                                 const std::vector<sycl::event>& dependencies) {
  std::shared_ptr<task_holder> task = evaluation_task(
      [&](bool computed) { this->check_integration(computed, lower, upper, n, results); });
  const std::vector<sycl::event> after = this->after_construction(dependencies);
  if (n == 0) return this->record(submit_host_task(this->queue, after, [] {}));

  const spline_description<FpType>& d = this->recorded;
  // Supplied coefficients may change in place between calls: each call
  // integrates them through a table of its own.
  const bool own_table = d.coefficients_supplied;
  const std::int64_t nx = d.nx, ny = d.ny;
  const auto left = static_cast<std::int64_t>(d.outside.left);
  const auto right = static_cast<std::int64_t>(d.outside.right);
  std::atomic<bool>* created = &task_created;
  return this->record(submit_host_task(this->queue, after, [=] {
    task_record* record = task ? task->for_evaluation(*created, "integrate") : nullptr;
    if (record == nullptr) {
      throw velora::qrx::computation_error(error_domain, "integrate", "coefficients were not computed");
    }
    std::vector<FpType> call_table;
    if (own_table) call_table = integral_table_of<FpType>(record, nx, ny);
    const FpType* table = own_table ? call_table.data() : task->integral_table(record);
    throw_on_failure(df_integrate_1d<FpType>(record, table, n, lower, upper, left, right, results), "integrate");
  }));
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, cpu_backend>::solve(const FpType* y, std::int64_t n, FpType* roots,
                                                             std::int64_t* counts, std::int64_t max_roots,
                                                             const std::vector<sycl::event>& dependencies) {
  std::shared_ptr<task_holder> task = evaluation_task(
      [&](bool computed) { this->check_solving(computed, y, n, roots, counts, max_roots); });
  const std::vector<sycl::event> after = this->after_construction(dependencies);
  if (n == 0) return this->record(submit_host_task(this->queue, after, [] {}));

  const spline_description<FpType>& d = this->recorded;
  // Supplied coefficients may change in place between calls: each call
  // solves them through a tree of its own.
  const bool own_tree = d.coefficients_supplied;
  const std::int64_t nx = d.nx, ny = d.ny;
  std::atomic<bool>* created = &task_created;
  return this->record(submit_host_task(this->queue, after, [=] {
    task_record* record = task ? task->for_evaluation(*created, "solve") : nullptr;
    if (record == nullptr) {
      throw velora::qrx::computation_error(error_domain, "solve", "coefficients were not computed");
    }
    std::vector<FpType> call_tree;
    if (own_tree) call_tree = range_tree_of<FpType>(record, nx, ny);
    const FpType* tree = own_tree ? call_tree.data() : task->range_tree(record);
    throw_on_failure(df_solve_1d<FpType>(record, tree, n, y, max_roots, roots, counts), "solve");
  }));
}

#define QRX_DF_INSTANTIATE_IMPL(T, S) template class spline_impl<T, S, 1, cpu_backend>;
QRX_DF_FOR_EACH_SPLINE(QRX_DF_INSTANTIATE_IMPL)
#undef QRX_DF_INSTANTIATE_IMPL

}  // namespace velora::qrx::experimental::data_fitting::detail
