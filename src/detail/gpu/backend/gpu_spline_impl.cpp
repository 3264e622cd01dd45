#include "detail/gpu/backend/gpu_spline_impl.hpp"

#include "data_fitting/exceptions.hpp"
#include "detail/gpu/construct/dispatch_construct.hpp"
#include "detail/spline_base/error_domain.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename FpType, typename SplineType>
spline_impl<FpType, SplineType, 1, gpu_backend>::spline_impl(const sycl::queue& queue, std::int64_t ny,
                                                             bool is_coeff_computed)
    : spline_base<FpType, SplineType, 1>(queue, ny, is_coeff_computed) {}

template <typename FpType, typename SplineType>
spline_impl<FpType, SplineType, 1, gpu_backend>::~spline_impl() {
  construct_event.wait_and_throw();
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
    return construct_event;
  }
  sycl::event event = dispatch_construct<FpType, SplineType>(
      this->queue, this->nx, this->ny, this->partitions, this->functions, this->coeffs, dependencies,
      this->coeff_hint, this->func_hint, this->part_hint, this->internal_conditions, this->ic_type,
      this->bc_values, this->bc_type);
  this->pending.add(event);
  construct_event = event;
  this->coeffs_computed = true;
  return construct_event;
}

template <typename FpType, typename SplineType>
sycl::event spline_impl<FpType, SplineType, 1, gpu_backend>::interpolate(
    sycl::queue&, FpType*, std::int64_t, FpType*, std::bitset<32>, const std::vector<sycl::event>&,
    interpolate_hint, site_hint) {
  throw velora::qrx::computation_error(error_domain, "interpolate", "GPU interpolation is not available yet");
}

template class spline_impl<float, linear_spline::default_type, 1, gpu_backend>;
template class spline_impl<double, linear_spline::default_type, 1, gpu_backend>;
template class spline_impl<float, cubic_spline::hermite, 1, gpu_backend>;
template class spline_impl<double, cubic_spline::hermite, 1, gpu_backend>;

}  // namespace velora::qrx::experimental::data_fitting::detail
