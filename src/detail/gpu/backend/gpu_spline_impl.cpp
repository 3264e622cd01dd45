#include "detail/gpu/backend/gpu_spline_impl.hpp"

#include <utility>

#include "detail/gpu/backend/device_array.hpp"
#include "detail/gpu/backend/host_flags.hpp"

#include "data_fitting/boundary_conditions.hpp"
#include "data_fitting/exceptions.hpp"
#include "detail/gpu/calculus/calculus_args.hpp"
#include "detail/gpu/calculus/dispatch_integrate.hpp"
#include "detail/gpu/calculus/dispatch_solve.hpp"
#include "detail/gpu/construct/dispatch_construct.hpp"
#include "detail/gpu/launch_range.hpp"
#include "detail/gpu/construct/partition_check.hpp"
#include "detail/gpu/interpolate/dispatch_interpolate.hpp"
#include "detail/host_task.hpp"
#include "detail/partition_fault.hpp"
#include "detail/periodic_mismatch.hpp"
#include "detail/derivative_indicators.hpp"
#include "detail/error_domain.hpp"
#include "detail/fitting_fault.hpp"
#include "detail/spline_kind.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename FpType, typename SplineType>
spline_impl<FpType, SplineType, 1, gpu_backend>::spline_impl(const sycl::queue& queue, std::int64_t ny,
                                                             bool is_coeff_computed)
    : spline_base<FpType, SplineType, 1>(queue, ny, is_coeff_computed) {}

template <typename FpType, typename SplineType>
spline_impl<FpType, SplineType, 1, gpu_backend>::~spline_impl() {
  // A plain wait: the spline's errors and the caller's stay with the queue
  // for the caller's next wait_and_throw or throw_asynchronous.
  this->pending.wait_all();
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, gpu_backend>::construct(
    const std::vector<sycl::event>& dependencies) {
  if (!this->is_initialized()) {
    throw velora::qrx::invalid_argument(error_domain, "construct", "spline isn't initialized");
  }
  if (this->recorded.coefficients_supplied) {
    // Coefficients given by the caller must exist before anything may read
    // them; they are never recomputed.
    if (!this->recorded.has_coefficients()) {
      throw velora::qrx::invalid_argument(error_domain, "construct", "coefficients were not set");
    }
    return this->latest();
  }
  std::lock_guard<std::mutex> order(this->construct_order);
  this->check_construction();
  this->coeffs_size("construct");
  // The construction's own checks write flags in host memory: the refusal,
  // then the partition's faults per run of breakpoints, then for a periodic
  // spline whether each function's end values differ.
  const spline_description<FpType>& d = this->recorded;
  const std::int64_t check_items = partition_check_items(d.nx, d.partition_layout);
  const std::int64_t periodic_entries = checks_periodic_values() ? d.ny : 0;
  const std::int64_t fitting_entries = fits_data() ? 1 : 0;
  std::shared_ptr<std::int32_t> flags =
      make_host_flags(this->queue, 1 + check_items + periodic_entries + fitting_entries);
  if (!flags) throw velora::qrx::host_bad_alloc(error_domain, "bad alloc");
  const std::vector<sycl::event> after = this->after_latest_construction(dependencies);
  calculus_tables dropped;  // let go after the lock; work still reading them keeps them
  {
    std::lock_guard<std::mutex> lock(tables_mutex_);
    dropped = std::exchange(tables_, calculus_tables{});
  }
  std::int32_t* fitting_fault = fitting_entries > 0 ? flags.get() + 1 + check_items + periodic_entries : nullptr;
  const sycl::event kernels = dispatch_construct<FpType, SplineType>(
      this->queue, d, after, periodic_entries > 0 ? flags.get() + 1 + check_items : nullptr, flags.get() + 1,
      fitting_outcome{fitting_fault, &kept_});
  // Marked computed before the check is submitted, so that a refusal by the
  // check, which may run at once, is what stays.
  std::uint64_t generation = 0;
  std::shared_ptr<std::int32_t> replaced;  // let go after the lock
  {
    std::lock_guard<std::mutex> lock(this->mutex);
    generation = ++constructs_;
    this->coeffs_computed = true;
    replaced = std::exchange(latest_outcome_.flags, flags);
    latest_outcome_.decided.reset();
  }
  const sycl::event event = refuse_failed_checks({kernels}, flags.get(), check_items, generation);
  kept_.keep(flags, event);
  {
    std::lock_guard<std::mutex> lock(this->mutex);
    if (latest_outcome_.flags == flags) latest_outcome_.decided = event;
  }
  this->latest_construction = event;
  return this->record(event);
}

template <typename FpType, typename SplineType>
bool spline_impl<FpType, SplineType, 1, gpu_backend>::checks_periodic_values() const {
  return spline_kind<SplineType>::checks_periodic_ends && this->recorded.boundary == boundary_sum::periodic;
}

template <typename FpType, typename SplineType>
bool spline_impl<FpType, SplineType, 1, gpu_backend>::fits_data() const {
  return spline_kind<SplineType>::fit != fit_kind::interpolation;
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, gpu_backend>::refuse_failed_checks(
    const std::vector<sycl::event>& work, std::int32_t* flags, std::int64_t check_items, std::uint64_t generation) {
  const std::int64_t ny = this->recorded.ny;
  const bool periodic = checks_periodic_values();
  const bool fitting = fits_data();
  // The spline outlives this work: its destructor waits for every event
  // handed out. The flags are kept until the work has completed.
  return submit_host_task(this->queue, work, [this, flags, ny, check_items, periodic, fitting, generation] {
    auto refuse = [&] {
      {
        std::lock_guard<std::mutex> lock(this->mutex);
        if (constructs_ == generation) this->coeffs_computed = false;
      }
      flags[0] = 1;
    };
    std::int32_t faults = partition_sound;
    for (std::int64_t b = 0; b < check_items; ++b) faults |= flags[1 + b];
    if (faults != partition_sound) {
      refuse();
      throw partition_refusal(faults);
    }
    const std::int32_t* ends_differ = flags + 1 + check_items;
    for (std::int64_t j = 0; periodic && j < ny; ++j) {
      if (ends_differ[j] == 0) continue;
      refuse();
      throw periodic_mismatch();
    }
    const std::int32_t* fitting_fault = ends_differ + (periodic ? ny : 0);
    if (fitting && *fitting_fault != fitting_sound) {
      refuse();
      throw fitting_refusal(*fitting_fault);
    }
  });
}

template <typename FpType, typename SplineType>
std::shared_ptr<std::int32_t> spline_impl<FpType, SplineType, 1, gpu_backend>::open_outcome_flags() const {
  const outcome& o = latest_outcome_;
  if (!o.flags) return nullptr;
  // Not yet submitted by its construct, or submitted and still running.
  const bool open = !o.decided || o.decided->template get_info<sycl::info::event::command_execution_status>() !=
                                      sycl::info::event_command_status::complete;
  return open ? o.flags : nullptr;
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, gpu_backend>::interpolate(
    sycl::queue& queue, FpType* sites, std::int64_t nsites, FpType* results, std::bitset<32> der_mask,
    const std::vector<sycl::event>& dependencies, interpolate_hint ih, site_hint sh) {
  const derivative_indicators<std::int32_t> ders(der_mask);
  std::shared_ptr<std::int32_t> flags;
  bool computed = false;
  {
    // A construction whose check has completed has set coeffs_computed as it
    // decided; one still open is decided by the work itself.
    std::lock_guard<std::mutex> lock(this->mutex);
    computed = this->coeffs_computed;
    flags = open_outcome_flags();
  }
  this->check_interpolation(computed, sites, nsites, results, ders.count, ih, sh);
  const spline_description<FpType>& d = this->recorded;
  const std::int32_t* refused = flags ? flags.get() : nullptr;
  sycl::event event = dispatch_interpolate<FpType, typename spline_kind<SplineType>::evaluated_as>(
      queue, d.nx, d.ny, d.partition, d.coefficients, sites, nsites, results, ders.count, ders.flags,
      this->after_construction(dependencies),
      static_cast<std::int64_t>(d.partition_layout), static_cast<std::int64_t>(sh), static_cast<std::int64_t>(ih),
      refused, 0, d.outside);
  return this->record(report_refusal(queue, flags, event, "interpolate"));
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, gpu_backend>::report_refusal(
    sycl::queue& queue, const std::shared_ptr<std::int32_t>& flags, sycl::event event, const char* function) {
  if (!flags) return event;
  // Reported once per call, after kernels that wrote nothing.
  const std::int32_t* refused = flags.get();
  event = submit_host_task(queue, {event}, [refused, function] {
    if (*refused != 0) throw velora::qrx::computation_error(error_domain, function, "coefficients were not computed");
  });
  kept_.keep(flags, event);
  return event;
}

template <typename FpType, typename SplineType>
std::pair<std::shared_ptr<std::int32_t>, bool> spline_impl<FpType, SplineType, 1, gpu_backend>::evaluation_state() {
  std::lock_guard<std::mutex> lock(this->mutex);
  return {open_outcome_flags(), this->coeffs_computed};
}

template <typename FpType, typename SplineType>
std::shared_ptr<void> spline_impl<FpType, SplineType, 1, gpu_backend>::forget_partition() {
  std::lock_guard<std::mutex> lock(tables_mutex_);
  return std::make_shared<calculus_tables>(std::exchange(tables_, calculus_tables{}));
}

template <typename FpType, typename SplineType>
template <typename Build>
std::shared_ptr<FpType> spline_impl<FpType, SplineType, 1, gpu_backend>::table_for_call(
    built_table calculus_tables::*which, std::int64_t elements, const char* function,
    std::vector<sycl::event>& after, Build&& build) {
  const bool supplied = this->recorded.coefficients_supplied;
  std::lock_guard<std::mutex> lock(tables_mutex_);
  built_table& kept = tables_.*which;
  if (!supplied && kept.data) {
    after.push_back(kept.built);
    return kept.data;
  }
  std::shared_ptr<FpType> data = make_device_array<FpType>(this->queue, elements);
  if (!data) throw velora::qrx::host_bad_alloc(error_domain, function);
  const sycl::event built = build(data.get(), after);
  kept_.keep(data, built);
  if (!supplied) kept = {data, built};
  after = {built};
  return data;
}

template <typename FpType, typename SplineType>
template <typename Check, typename Build, typename Run>
sycl::event spline_impl<FpType, SplineType, 1, gpu_backend>::calculus_call(
    const char* function, std::int64_t n, built_table calculus_tables::*which,
    std::int64_t (*elements)(std::int64_t, std::int64_t), const std::vector<sycl::event>& dependencies,
    Check&& check, Build&& build, Run&& run) {
  // Held while the table is looked up or built, so that the table and the
  // construction it follows belong together.
  std::unique_lock<std::mutex> order(this->construct_order);
  const auto [flags, computed] = evaluation_state();
  check(computed);
  const spline_description<FpType>& d = this->recorded;
  checked_launch_range(d.ny, n);
  std::vector<sycl::event> after = this->after_latest_construction(dependencies);
  if (n == 0) {
    order.unlock();
    return this->record(this->queue.submit([&](sycl::handler& cgh) { cgh.depends_on(after); }));
  }
  const calculus_spline<FpType> s{d.nx,        d.ny,        d.partition, d.coefficients,
                                  spline_kind<SplineType>::coeffs_per_cell, flags.get(), d.outside};
  const std::shared_ptr<FpType> table =
      table_for_call(which, elements(d.nx, d.ny), function, after,
                     [&](FpType* memory, const std::vector<sycl::event>& deps) { return build(s, memory, deps); });
  order.unlock();
  const sycl::event event = run(s, table.get(), after);
  kept_.keep(table, event);
  return this->record(report_refusal(this->queue, flags, event, function));
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, gpu_backend>::integrate(const FpType* lower, const FpType* upper,
                                                                       std::int64_t n, FpType* results,
                                                                       const std::vector<sycl::event>& dependencies) {
  const partition_hint layout = this->recorded.partition_layout;
  return calculus_call(
      "integrate", n, &calculus_tables::integral, integral_table_elements, dependencies, [&](bool computed) { this->check_integration(computed, lower, upper, n, results); },
      [&](const calculus_spline<FpType>& s, FpType* memory, const std::vector<sycl::event>& deps) {
        return dispatch_integral_table(this->queue, s, layout, memory, deps);
      },
      [&](const calculus_spline<FpType>& s, const FpType* table, const std::vector<sycl::event>& after) {
        return dispatch_integrate(this->queue, s, layout, table, lower, upper, n, results, after);
      });
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, gpu_backend>::solve(const FpType* y, std::int64_t n, FpType* roots,
                                                                   std::int64_t* counts, std::int64_t max_roots,
                                                                   const std::vector<sycl::event>& dependencies) {
  const partition_hint layout = this->recorded.partition_layout;
  return calculus_call(
      "solve", n, &calculus_tables::ranges, range_tree_elements, dependencies,
      [&](bool computed) { this->check_solving(computed, y, n, roots, counts, max_roots); },
      [&](const calculus_spline<FpType>& s, FpType* memory, const std::vector<sycl::event>& deps) {
        return dispatch_range_tree(this->queue, s, layout, memory, deps);
      },
      [&](const calculus_spline<FpType>& s, const FpType* tree, const std::vector<sycl::event>& after) {
        return dispatch_solve(this->queue, s, layout, tree, y, n, roots, counts, max_roots, after);
      });
}

#define QRX_DF_INSTANTIATE_IMPL(T, S) template class spline_impl<T, S, 1, gpu_backend>;
QRX_DF_FOR_EACH_SPLINE(QRX_DF_INSTANTIATE_IMPL)
#undef QRX_DF_INSTANTIATE_IMPL

}  // namespace velora::qrx::experimental::data_fitting::detail
