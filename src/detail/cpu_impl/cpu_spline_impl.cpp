#include "detail/cpu_impl/cpu_spline_impl.hpp"

#include <mutex>
#include <utility>

#include "data_fitting/exceptions.hpp"
#include "detail/cpu_impl/df_frontend.hpp"
#include "detail/host_task.hpp"
#include "detail/cpu_impl/status_exceptions.hpp"
#include "detail/cpu_impl/task_record_fields.hpp"
#include "detail/spline_base/derivative_indicators.hpp"
#include "detail/spline_base/error_domain.hpp"

namespace velora::qrx::experimental::data_fitting::detail {
namespace {

constexpr std::int64_t attribute_ny = 16;
constexpr std::int64_t row_major_hint = 16;

// What a kernel-library task is made from, taken from the spline's state on
// the calling thread when the work is submitted.
template <typename FpType>
struct task_recipe {
  std::int64_t nx, ny;
  FpType* partitions;
  std::int64_t part_hint;
  FpType* functions;  // null: the coefficients are given, nothing is computed
  std::int64_t func_hint;
  FpType* coeffs;
  std::int64_t coeff_hint;
  std::int64_t bc_type;
  FpType bc_values[2];
  std::int64_t ic_type;
  FpType* internal_conditions;
  // construct's task carries the recorded hint and conditions; the task an
  // evaluation makes for supplied coefficients takes hint 16 and none.
  bool for_construct;
};

template <typename FpType, typename SplineType>
task_recipe<FpType> recipe_of(const spline_base<FpType, SplineType, 1>& s, bool for_construct) {
  task_recipe<FpType> r{};
  r.nx = s.nx;
  r.ny = s.ny;
  r.partitions = s.partitions;
  r.part_hint = s.part_hint;
  r.functions = for_construct && s.functions != nullptr ? s.functions[0] : nullptr;
  r.func_hint = for_construct ? s.func_hint : row_major_hint;
  r.coeffs = s.coeffs[0];
  r.coeff_hint = s.coeff_hint;
  r.bc_type = for_construct ? s.bc_type : 0;
  r.bc_values[0] = s.bc_values[0];
  r.bc_values[1] = s.bc_values[1];
  r.ic_type = for_construct ? s.ic_type : 0;
  r.internal_conditions = for_construct ? s.internal_conditions : nullptr;
  r.for_construct = for_construct;
  return r;
}

}  // namespace

// One kernel-library task and what it is made from. The task is made once,
// under the holder's lock, by construct's host work or, for coefficients
// the caller supplied, by whichever evaluation needs it first; once ready it
// is only read, by any number of evaluations at once. The holder deletes
// the task when the last host task holding it lets it go.
template <typename FpType, typename SplineType>
class kernel_task {
 public:
  explicit kernel_task(const task_recipe<FpType>& recipe) : recipe_(recipe) {}
  kernel_task(const kernel_task&) = delete;
  kernel_task& operator=(const kernel_task&) = delete;
  ~kernel_task() { release(); }

  // construct's host work: makes the task and, given function values,
  // computes the coefficients into the caller's array.
  void construct(std::atomic<bool>& created) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ready_.load(std::memory_order_relaxed)) return;  // an evaluation made it for the supplied coefficients
    make(created);
    if (recipe_.functions != nullptr) throw_on_failure(df_construct_1d<FpType>(task_, 0, 0));
    ready_.store(true, std::memory_order_release);
  }

  // The task for an evaluation, made now for supplied coefficients; null
  // when coefficients are computed here and that has not (yet) succeeded.
  task_record* for_evaluation(std::atomic<bool>& created) {
    if (ready_.load(std::memory_order_acquire)) return task_;
    if (recipe_.functions != nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ready_.load(std::memory_order_relaxed)) {
      make(created);
      ready_.store(true, std::memory_order_release);
    }
    return task_;
  }

  // Deletes the task, if one was made; only once no work uses it.
  void release() noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    ready_.store(false, std::memory_order_relaxed);
    if (task_ == nullptr) return;
    df_delete_task(&task_);  // its status is of no use: the task is gone either way
    task_ = nullptr;
  }

 private:
  void make(std::atomic<bool>& created) {
    using kind = spline_kind<SplineType>;
    const task_recipe<FpType>& r = recipe_;
    if (task_ != nullptr) {  // left by an attempt that failed
      df_delete_task(&task_);
      task_ = nullptr;
    }
    const bool with_values = r.functions != nullptr;
    throw_on_failure(df_new_task_1d<FpType>(&task_, r.nx, r.partitions, r.part_hint, with_values ? r.ny : 0,
                                            r.functions, r.func_hint));
    created = true;
    if (!with_values) throw_on_failure(df_edit_val(task_, attribute_ny, r.ny));
    // The kernels read the boundary values through this pointer only during the call.
    FpType bc_values[2] = {r.bc_values[0], r.bc_values[1]};
    throw_on_failure(df_edit_pp_spline_1d<FpType>(task_, kind::cpu_order, kind::cpu_type, r.bc_type,
                                                  r.for_construct ? bc_values : nullptr, r.ic_type,
                                                  r.internal_conditions, r.coeffs, r.coeff_hint));
  }

  const task_recipe<FpType> recipe_;
  std::mutex mutex_;
  std::atomic<bool> ready_{false};
  task_record* task_ = nullptr;
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
  after.push_back(construct_event);
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
  if (this->coeffs == nullptr) {
    throw velora::qrx::invalid_argument(error_domain, "construct", "coefficients were not set");
  }
  if (this->coeffs_supplied) {
    // Coefficients given by the caller are never recomputed: their task is
    // made by the first evaluation.
    std::lock_guard<std::mutex> lock(this->mutex);
    return construct_event;
  }
  std::lock_guard<std::mutex> order(this->construct_order);
  this->check_boundary_kinds();
  this->coeffs_size("construct");
  auto task = std::make_shared<task_holder>(recipe_of(*this, true));
  std::shared_ptr<task_holder> replaced;  // stays with the work still holding it
  {
    std::lock_guard<std::mutex> lock(this->mutex);
    replaced = std::exchange(task_, task);
  }
  const sycl::event event = submit_host_task(this->queue, this->after_latest_construction(dependencies), [this, task] {
    task->construct(task_created);
    mark_computed(task);
  });
  this->latest_construction = event;
  return this->record(construct_event, event);
}

template <typename FpType, typename SplineType>
void spline_impl<FpType, SplineType, 1, cpu_backend>::mark_computed(const std::shared_ptr<task_holder>& task) {
  // Only the construction of the current holder marks the coefficients
  // computed: those of a holder replaced meanwhile stay stale.
  std::lock_guard<std::mutex> lock(this->mutex);
  if (task_ == task) this->coeffs_computed = true;
}

template <typename FpType, typename SplineType>
std::shared_ptr<void> spline_impl<FpType, SplineType, 1, cpu_backend>::forget_partition() {
  return std::exchange(task_, nullptr);
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, cpu_backend>::interpolate(
    sycl::queue& queue, FpType* sites, std::int64_t nsites, FpType* results, std::bitset<32> der_mask,
    const std::vector<sycl::event>& dependencies, interpolate_hint ih, site_hint sh) {
  if (!this->is_initialized()) {
    throw velora::qrx::computation_error(error_domain, "interpolate", "spline isn't initialized");
  }
  if (this->coeffs == nullptr) {
    throw velora::qrx::computation_error(error_domain, "interpolate", "coefficients were not set");
  }
  this->coeffs_size("interpolate");
  this->check_results_size(nsites, derivative_indicators<std::int64_t>(der_mask).count);

  // No holder: coefficients that were never computed, or were computed for
  // a partition since replaced; the host work refuses them.
  std::shared_ptr<task_holder> task;
  {
    std::lock_guard<std::mutex> lock(this->mutex);
    if (task_ == nullptr && this->coeffs_supplied) task_ = std::make_shared<task_holder>(recipe_of(*this, false));
    task = task_;
  }
  const auto ih_value = static_cast<std::int64_t>(ih);
  const auto sh_value = static_cast<std::int64_t>(sh);
  std::atomic<bool>* created = &task_created;
  const sycl::event event = submit_host_task(queue, dependencies, [=] {
    task_record* record = task ? task->for_evaluation(*created) : nullptr;
    if (record == nullptr) {
      throw velora::qrx::computation_error(error_domain, "interpolate", "coefficients were not computed");
    }
    derivative_indicators<std::int64_t> ders(der_mask);
    if (ders.count == 0) {
      throw velora::qrx::invalid_argument(error_domain, "interpolate", "all indicators are set to 0");
    }
    throw_on_failure(df_interpolate_1d<FpType>(record, 1, 1, nsites, sites, sh_value, ders.count, ders.flags, 0,
                                               results, ih_value, nullptr));
  });
  return this->record(construct_event, event);
}

#define QRX_DF_INSTANTIATE_IMPL(T, S) template class spline_impl<T, S, 1, cpu_backend>;
QRX_DF_FOR_EACH_SPLINE(QRX_DF_INSTANTIATE_IMPL)
#undef QRX_DF_INSTANTIATE_IMPL

}  // namespace velora::qrx::experimental::data_fitting::detail
