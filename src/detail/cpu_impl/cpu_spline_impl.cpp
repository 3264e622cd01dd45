#include "detail/cpu_impl/cpu_spline_impl.hpp"

#include <array>

#include "data_fitting/exceptions.hpp"
#include "detail/cpu_impl/df_frontend.hpp"
#include "detail/cpu_impl/host_task.hpp"
#include "detail/cpu_impl/status_exceptions.hpp"
#include "detail/spline_base/derivative_indicators.hpp"
#include "detail/spline_base/error_domain.hpp"

namespace velora::qrx::experimental::data_fitting::detail {
namespace {

// How the CPU kernels name a spline kind: its order and type.
template <typename SplineType>
struct cpu_spline_description;

template <>
struct cpu_spline_description<linear_spline::default_type> {
  static constexpr std::int64_t order = 2;
  static constexpr std::int64_t type = 0;
};

template <>
struct cpu_spline_description<cubic_spline::hermite> {
  static constexpr std::int64_t order = 4;
  static constexpr std::int64_t type = 3;
};

constexpr std::int64_t attribute_ny = 16;
constexpr std::int64_t row_major_hint = 16;

}  // namespace

template <typename FpType, typename SplineType>
spline_impl<FpType, SplineType, 1, cpu_backend>::spline_impl(const sycl::queue& queue, std::int64_t ny,
                                                             bool is_coeff_computed)
    : spline_base<FpType, SplineType, 1>(queue, ny, is_coeff_computed) {}

template <typename FpType, typename SplineType>
spline_impl<FpType, SplineType, 1, cpu_backend>::~spline_impl() {
  // The clean-up runs after the latest operation and after every other one
  // that may still use the task; a plain wait leaves asynchronous errors with
  // the queue. Anything thrown here ends the program (the destructor is
  // noexcept).
  std::vector<sycl::event> after = this->pending.events();
  after.push_back(construct_event);
  submit_host_task(this->queue, after, [this] { delete_task(); }).wait();
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
  this->coeffs_size("construct");
  // The boundary values are taken now; the rest of the state when the work runs.
  const std::array<FpType, 2> bc_values{this->bc_values[0], this->bc_values[1]};
  sycl::event event =
      submit_host_task(this->queue, dependencies, [this, bc_values] { construct_task(bc_values.data()); });
  this->pending.add(event);
  construct_event = event;
  return construct_event;
}

template <typename FpType, typename SplineType>
void spline_impl<FpType, SplineType, 1, cpu_backend>::construct_task(const FpType bc_values_at_submission[2]) {
  using description = cpu_spline_description<SplineType>;
  // A repeated construct replaces the task; the earlier one is not leaked.
  delete_task();
  const bool has_functions = this->functions != nullptr;
  if (!has_functions && this->coeffs_computed) {
    throw_on_failure(df_new_task_1d<FpType>(&task, this->nx, this->partitions, this->part_hint, 0, nullptr,
                                            this->func_hint));
    task_created = true;
    throw_on_failure(df_edit_val(task, attribute_ny, this->ny));
  } else {
    throw_on_failure(df_new_task_1d<FpType>(&task, this->nx, this->partitions, this->part_hint, this->ny,
                                            this->functions[0], this->func_hint));
    task_created = true;
  }
  // The kernels read the boundary values through this pointer only during the call.
  FpType bc_values[2] = {bc_values_at_submission[0], bc_values_at_submission[1]};
  throw_on_failure(df_edit_pp_spline_1d<FpType>(task, description::order, description::type, this->bc_type,
                                                bc_values, this->ic_type, this->internal_conditions,
                                                this->coeffs[0], this->coeff_hint));
  if (has_functions) throw_on_failure(df_construct_1d<FpType>(task, 0, 0));
  this->coeffs_computed = true;
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
  const auto ih_value = static_cast<std::int64_t>(ih);
  const auto sh_value = static_cast<std::int64_t>(sh);
  sycl::event event = submit_host_task(queue, dependencies, [=] {
    interpolate_task(sites, nsites, results, der_mask, ih_value, sh_value);
  });
  this->pending.add(event);
  construct_event = event;
  return construct_event;
}

template <typename FpType, typename SplineType>
void spline_impl<FpType, SplineType, 1, cpu_backend>::create_task_for_supplied_coefficients() {
  using description = cpu_spline_description<SplineType>;
  throw_on_failure(df_new_task_1d<FpType>(&task, this->nx, this->partitions, this->part_hint, 0, nullptr,
                                          row_major_hint));
  task_created = true;
  throw_on_failure(df_edit_val(task, attribute_ny, this->ny));
  throw_on_failure(df_edit_pp_spline_1d<FpType>(task, description::order, description::type, 0, nullptr, 0,
                                                nullptr, this->coeffs[0], this->coeff_hint));
}

template <typename FpType, typename SplineType>
void spline_impl<FpType, SplineType, 1, cpu_backend>::interpolate_task(FpType* sites, std::int64_t nsites,
                                                                       FpType* results, std::bitset<32> der_mask,
                                                                       std::int64_t ih, std::int64_t sh) {
  if (!this->coeffs_computed) {
    throw velora::qrx::computation_error(error_domain, "interpolate", "coefficients were not computed");
  }
  if (!task_created) create_task_for_supplied_coefficients();

  derivative_indicators<std::int64_t> ders(der_mask);
  if (ders.count == 0) {
    throw velora::qrx::invalid_argument(error_domain, "interpolate", "all indicators are set to 0");
  }

  throw_on_failure(df_interpolate_1d<FpType>(task, 1, 1, nsites, sites, sh, ders.count, ders.flags, 0, results,
                                             ih, nullptr));
}

template <typename FpType, typename SplineType>
void spline_impl<FpType, SplineType, 1, cpu_backend>::delete_task() noexcept {
  if (!task_created) return;
  // Its status is of no use: the task is gone either way.
  df_delete_task(&task);
  task = nullptr;
  task_created = false;
}

template class spline_impl<float, linear_spline::default_type, 1, cpu_backend>;
template class spline_impl<double, linear_spline::default_type, 1, cpu_backend>;
template class spline_impl<float, cubic_spline::hermite, 1, cpu_backend>;
template class spline_impl<double, cubic_spline::hermite, 1, cpu_backend>;

}  // namespace velora::qrx::experimental::data_fitting::detail
