#include "detail/gpu/backend/gpu_spline_impl.hpp"

#include "data_fitting/boundary_conditions.hpp"
#include "data_fitting/exceptions.hpp"
#include "detail/gpu/construct/dispatch_construct.hpp"
#include "detail/gpu/interpolate/dispatch_interpolate.hpp"
#include "detail/host_task.hpp"
#include "detail/periodic_mismatch.hpp"
#include "detail/spline_base/derivative_indicators.hpp"
#include "detail/spline_base/error_domain.hpp"
#include "detail/spline_base/spline_kind.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename FpType, typename SplineType>
spline_impl<FpType, SplineType, 1, gpu_backend>::spline_impl(const sycl::queue& queue, std::int64_t ny,
                                                             bool is_coeff_computed)
    : spline_base<FpType, SplineType, 1>(queue, ny, is_coeff_computed) {}

template <typename FpType, typename SplineType>
spline_impl<FpType, SplineType, 1, gpu_backend>::~spline_impl() {
  // A plain wait, then the queue's errors to its handler: one SYCL
  // implementation we support loses the errors in event::wait_and_throw.
  construct_event.wait();
  this->queue.throw_asynchronous();
  this->pending.wait_all();
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, gpu_backend>::construct(
    const std::vector<sycl::event>& dependencies) {
  if (!this->is_initialized()) {
    throw velora::qrx::invalid_argument(error_domain, "construct", "spline isn't initialized");
  }
  if (this->coeffs_computed) {
    // Coefficients given by the caller must exist before anything may read them.
    if (this->coeffs == nullptr) {
      throw velora::qrx::invalid_argument(error_domain, "construct", "coefficients were not set");
    }
    std::lock_guard<std::mutex> lock(this->mutex);
    return construct_event;
  }
  this->coeffs_size("construct");
  std::int32_t* flags = nullptr;
  if (checks_periodic_values()) {
    flags = periodic_flags_.acquire(this->queue, this->ny);
    if (flags == nullptr) throw velora::qrx::host_bad_alloc(error_domain, "bad alloc");
  }
  sycl::event event;
  try {
    event = dispatch_construct<FpType, SplineType>(this->queue, this->nx, this->ny, this->partitions,
                                                   this->functions, this->coeffs, dependencies, this->coeff_hint,
                                                   this->func_hint, this->part_hint, this->internal_conditions,
                                                   this->ic_type, this->bc_values, this->bc_type, flags);
  } catch (...) {
    if (flags != nullptr) periodic_flags_.release_after(flags, this->queue, sycl::event{});
    throw;
  }
  // Marked computed before the check is submitted, so that a refusal by the
  // check, which may run at once, is what stays.
  std::uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> lock(this->mutex);
    generation = ++constructs_;
    this->coeffs_computed = true;
  }
  if (flags != nullptr) event = refuse_unequal_ends(event, flags, generation);
  return this->record(construct_event, event);
}

template <typename FpType, typename SplineType>
bool spline_impl<FpType, SplineType, 1, gpu_backend>::checks_periodic_values() const {
  return spline_kind<SplineType>::checks_periodic_ends &&
         this->bc_type == static_cast<std::int64_t>(bc_type::periodic);
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, gpu_backend>::refuse_unequal_ends(const sycl::event& kernels,
                                                                                std::int32_t* flags,
                                                                                std::uint64_t generation) {
  const std::int64_t ny = this->ny;
  // The spline outlives this work: its destructor waits for every event
  // handed out.
  const sycl::event checked = submit_host_task(this->queue, {kernels}, [this, flags, ny, generation] {
    for (std::int64_t j = 0; j < ny; ++j) {
      if (flags[j] == 0) continue;
      {
        std::lock_guard<std::mutex> lock(this->mutex);
        if (constructs_ == generation) this->coeffs_computed = false;
      }
      throw periodic_mismatch();
    }
  });
  periodic_flags_.release_after(flags, this->queue, checked);
  return checked;
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, gpu_backend>::interpolate(
    sycl::queue& queue, FpType* sites, std::int64_t nsites, FpType* results, std::bitset<32> der_mask,
    const std::vector<sycl::event>& dependencies, interpolate_hint ih, site_hint sh) {
  auto refuse = [](const char* reason) { return velora::qrx::computation_error(error_domain, "interpolate", reason); };
  if (!this->coeffs_computed) throw refuse("coefficients were not computed");
  // Coefficients given by the caller: the partition and the coefficient
  // array must exist before a kernel reads them.
  if (!this->is_initialized()) throw refuse("spline isn't initialized");
  if (this->coeffs == nullptr) throw refuse("coefficients were not set");

  const derivative_indicators<std::int32_t> ders(der_mask);
  if (ders.count == 0) {
    throw velora::qrx::invalid_argument(error_domain, "interpolate", "all indicators are set to 0");
  }
  this->coeffs_size("interpolate");
  this->check_results_size(nsites, ders.count);

  sycl::event event;
  if (this->coeff_hint == static_cast<std::int64_t>(coefficient_hint::row_major)) {
    event = dispatch_interpolate<FpType, typename spline_kind<SplineType>::evaluated_as>(
        queue, this->nx, this->ny, this->partitions, this->coeffs, sites, nsites, results, ders.count,
        ders.flags, dependencies, this->part_hint, static_cast<std::int64_t>(sh), static_cast<std::int64_t>(ih));
  }
  return this->record(construct_event, event);
}

#define QRX_DF_INSTANTIATE_IMPL(T, S) template class spline_impl<T, S, 1, gpu_backend>;
QRX_DF_FOR_EACH_SPLINE(QRX_DF_INSTANTIATE_IMPL)
#undef QRX_DF_INSTANTIATE_IMPL

}  // namespace velora::qrx::experimental::data_fitting::detail
