#include "data_fitting/spline.hpp"

#include <memory>

#include "data_fitting/exceptions.hpp"
#include "detail/cpu_impl/cpu_spline_impl.hpp"
#include "detail/gpu/backend/gpu_spline_impl.hpp"
#include "detail/checked_size.hpp"
#include "detail/quiet_queue_release.hpp"
#include "detail/error_domain.hpp"
#include "detail/spline_base/pointer_cell.hpp"
#include "detail/spline_base/spline_base.hpp"
#include "detail/spline_kind.hpp"

namespace velora::qrx::experimental::data_fitting {
namespace {

using velora::qrx::invalid_argument;

// The back-end follows the device type; the device is tested before ny.
template <typename FpType, typename SplineType>
std::unique_ptr<detail::spline_base<FpType, SplineType, 1>> make_impl(const sycl::queue& queue, std::int64_t ny,
                                                                      bool is_coeff_computed) {
  const sycl::device device = queue.get_device();
  if (device.is_cpu()) {
    return std::make_unique<detail::spline_impl<FpType, SplineType, 1, detail::cpu_backend>>(queue, ny,
                                                                                             is_coeff_computed);
  }
  if (device.is_gpu()) {
    return std::make_unique<detail::spline_impl<FpType, SplineType, 1, detail::gpu_backend>>(queue, ny,
                                                                                             is_coeff_computed);
  }
  throw velora::qrx::unsupported_device(detail::error_domain, detail::spline_kind<SplineType>::name, device);
}

// A spline made from a device and a context gets its own queue; the
// temporary one it is copied from must not hand the caller's pending
// asynchronous errors to a handler when it goes.
template <typename FpType, typename SplineType>
std::unique_ptr<detail::spline_base<FpType, SplineType, 1>> make_impl(const sycl::device& device,
                                                                      const sycl::context& context, std::int64_t ny,
                                                                      bool is_coeff_computed) {
  detail::scoped_queue queue(context, device, sycl::property_list{});
  return make_impl<FpType, SplineType>(queue.get(), ny, is_coeff_computed);
}

}  // namespace

template <typename FpType, typename SplineType, int Dimensions>
spline<FpType, SplineType, Dimensions>::spline(const sycl::queue& queue, std::int64_t ny, bool is_coeff_computed)
    : impl_(make_impl<FpType, SplineType>(queue, ny, is_coeff_computed)) {}

template <typename FpType, typename SplineType, int Dimensions>
spline<FpType, SplineType, Dimensions>::spline(const sycl::device& device, const sycl::context& context,
                                               std::int64_t ny, bool is_coeff_computed)
    : impl_(make_impl<FpType, SplineType>(device, context, ny, is_coeff_computed)) {}

template <typename FpType, typename SplineType, int Dimensions>
spline<FpType, SplineType, Dimensions>::~spline() = default;

template <typename FpType, typename SplineType, int Dimensions>
spline<FpType, SplineType, Dimensions>& spline<FpType, SplineType, Dimensions>::set_partitions(
    FpType* data, std::int64_t nx, partition_hint hint) {
  if (nx < 3) throw invalid_argument(detail::error_domain, "set_partitions", "nx <= 2");
  if (data == nullptr) throw invalid_argument(detail::error_domain, "set_partitions", "data is nullptr");
  impl_->record_partition(data, nx, hint);
  return *this;
}

// A refused call changes nothing: the recorded hint keeps describing the
// values recorded first.
template <typename FpType, typename SplineType, int Dimensions>
spline<FpType, SplineType, Dimensions>& spline<FpType, SplineType, Dimensions>::set_function_values(
    FpType* data, function_hint hint) {
  if (data == nullptr) throw invalid_argument(detail::error_domain, "set_function_values", "data is nullptr");
  detail::spline_description<FpType>& d = impl_->recorded;
  if (d.has_function_values()) {
    throw invalid_argument(detail::error_domain, "set_function_values", "functions were already set");
  }
  d.function_values = detail::make_pointer_cell(impl_->queue, data, "set_function_values");
  d.function_layout = hint;
  return *this;
}

template <typename FpType, typename SplineType, int Dimensions>
spline<FpType, SplineType, Dimensions>& spline<FpType, SplineType, Dimensions>::set_coefficients(
    FpType* data, coefficient_hint hint) {
  if (data == nullptr) throw invalid_argument(detail::error_domain, "set_coefficients", "data is nullptr");
  if (hint != coefficient_hint::row_major) {
    throw invalid_argument(detail::error_domain, "set_coefficients", "CoeffHint should be row_major");
  }
  detail::spline_description<FpType>& d = impl_->recorded;
  if (d.has_coefficients()) {
    throw invalid_argument(detail::error_domain, "set_coefficients", "coefficients were already set");
  }
  // The array holds what the recorded partition needs; a size that does not
  // fit in 64 bits describes no array.
  const std::int64_t capacity = d.has_partition() ? impl_->coeffs_size("set_coefficients") : -1;
  d.coefficients = detail::make_pointer_cell(impl_->queue, data, "set_coefficients");
  d.coefficient_layout = hint;
  d.coefficient_capacity = capacity;
  return *this;
}

template <typename FpType, typename SplineType, int Dimensions>
spline<FpType, SplineType, Dimensions>& spline<FpType, SplineType, Dimensions>::record_internal_conditions(
    FpType* data) {
  if (data == nullptr) throw invalid_argument(detail::error_domain, "set_internal_conditions", "data is nullptr");
  detail::spline_description<FpType>& d = impl_->recorded;
  d.internal_conditions = data;
  d.internal_type = detail::internal_conditions_type::first_derivatives;
  return *this;
}

template <typename FpType, typename SplineType, int Dimensions>
spline<FpType, SplineType, Dimensions>& spline<FpType, SplineType, Dimensions>::record_first_derivatives(
    FpType* data) {
  if (data == nullptr) throw invalid_argument(detail::error_domain, "set_first_derivatives", "data is nullptr");
  impl_->recorded.first_derivatives = data;
  return *this;
}

template <typename FpType, typename SplineType, int Dimensions>
spline<FpType, SplineType, Dimensions>& spline<FpType, SplineType, Dimensions>::record_boundary_condition(
    bc_type kind, FpType value) {
  detail::spline_description<FpType>& d = impl_->recorded;
  d.boundary = detail::with_kind(d.boundary, kind);
  const bool right_end = kind == bc_type::first_right_der || kind == bc_type::second_right_der;
  (right_end ? d.right_value : d.left_value) = value;
  d.boundary_recorded = true;
  return *this;
}

template <typename FpType, typename SplineType, int Dimensions>
spline<FpType, SplineType, Dimensions>& spline<FpType, SplineType, Dimensions>::record_weights(
    const FpType* weights) {
  if (weights == nullptr) throw invalid_argument(detail::error_domain, "set_weights", "data is nullptr");
  impl_->recorded.fit.weights = weights;
  return *this;
}

// A NaN lambda passes the sign test and fails the finiteness test.
template <typename FpType, typename SplineType, int Dimensions>
spline<FpType, SplineType, Dimensions>& spline<FpType, SplineType, Dimensions>::record_smoothing(FpType lambda) {
  if (lambda < FpType(0)) throw invalid_argument(detail::error_domain, "set_smoothing", "lambda < 0");
  if (!(lambda - lambda == FpType(0))) {
    throw invalid_argument(detail::error_domain, "set_smoothing", "lambda is not finite");
  }
  detail::fit_description<FpType>& fit = impl_->recorded.fit;
  fit.smoothing = detail::smoothing_rule::given;
  fit.lambda = lambda;
  fit.chosen = nullptr;
  return *this;
}

template <typename FpType, typename SplineType, int Dimensions>
spline<FpType, SplineType, Dimensions>& spline<FpType, SplineType, Dimensions>::record_smoothing_by_gcv(
    FpType* chosen) {
  if (chosen == nullptr) throw invalid_argument(detail::error_domain, "set_smoothing_by_gcv", "chosen is nullptr");
  detail::fit_description<FpType>& fit = impl_->recorded.fit;
  fit.smoothing = detail::smoothing_rule::by_gcv;
  fit.lambda = 0;
  fit.chosen = chosen;
  return *this;
}

template <typename FpType, typename SplineType, int Dimensions>
spline<FpType, SplineType, Dimensions>& spline<FpType, SplineType, Dimensions>::record_data(const FpType* x,
                                                                                            const FpType* y,
                                                                                            std::int64_t ndata,
                                                                                            function_hint hint) {
  auto refuse = [](const char* info) { return invalid_argument(detail::error_domain, "set_data", info); };
  if (x == nullptr) throw refuse("x is nullptr");
  if (y == nullptr) throw refuse("y is nullptr");
  if (ndata < 0) throw refuse("ndata < 0");
  detail::checked_size("set_data", "data array size overflows", ndata, impl_->recorded.ny);
  detail::fit_description<FpType>& fit = impl_->recorded.fit;
  fit.sites = x;
  fit.values = y;
  fit.ndata = ndata;
  fit.values_layout = hint;
  return *this;
}

template <typename FpType, typename SplineType, int Dimensions>
spline<FpType, SplineType, Dimensions>& spline<FpType, SplineType, Dimensions>::set_extrapolation(
    extrapolation left, extrapolation right) {
  auto known = [](extrapolation e) {
    return static_cast<std::int64_t>(e) >= static_cast<std::int64_t>(extrapolation::extend) &&
           static_cast<std::int64_t>(e) <= static_cast<std::int64_t>(extrapolation::periodic);
  };
  const bool one_side_periodic = (left == extrapolation::periodic) != (right == extrapolation::periodic);
  if (!known(left) || !known(right) || one_side_periodic) {
    throw invalid_argument(detail::error_domain, "set_extrapolation", "invalid extrapolation");
  }
  impl_->recorded.outside = {left, right};
  return *this;
}

template <typename FpType, typename SplineType, int Dimensions>
bool spline<FpType, SplineType, Dimensions>::is_initialized() const {
  return impl_->is_initialized();
}

template <typename FpType, typename SplineType, int Dimensions>
std::int64_t spline<FpType, SplineType, Dimensions>::get_required_coeffs_size() const {
  if (!impl_->recorded.has_partition()) {
    throw velora::qrx::computation_error(detail::error_domain, "get_required_coeffs_size",
                                         "partitions were not set");
  }
  return impl_->coeffs_size("get_required_coeffs_size");
}

template <typename FpType, typename SplineType, int Dimensions>
sycl::event spline<FpType, SplineType, Dimensions>::construct(const std::vector<sycl::event>& dependencies) {
  return impl_->construct(dependencies);
}

#define QRX_DF_INSTANTIATE_SPLINE(T, S) template class spline<T, S, 1>;
QRX_DF_FOR_EACH_SPLINE(QRX_DF_INSTANTIATE_SPLINE)
#undef QRX_DF_INSTANTIATE_SPLINE

}  // namespace velora::qrx::experimental::data_fitting
