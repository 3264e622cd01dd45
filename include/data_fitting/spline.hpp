#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/boundary_conditions.hpp"
#include "data_fitting/export.hpp"
#include "data_fitting/hints.hpp"
#include "data_fitting/spline_types.hpp"

namespace velora::qrx::experimental::data_fitting {

namespace detail {
template <typename FpType, typename SplineType, int Dimensions>
class spline_base;
struct spline_access;
}  // namespace detail

// A one-dimensional spline of ny functions over one partition, working on
// the device of a SYCL queue (CPU or GPU). The spline records pointers to
// caller-owned USM arrays, never copies of them: the caller keeps the arrays
// valid and unchanged until the events of the operations using them have
// completed. Setters return the spline for chaining.
//
// Instantiated for FpType float and double, SplineType
// linear_spline::default_type and the cubic kinds cubic_spline::hermite,
// natural, akima, bessel and hyman, Dimensions 1.
template <typename FpType, typename SplineType, int Dimensions = 1>
class QRX_DF_EXPORT spline {
  static_assert(Dimensions == 1, "only one-dimensional splines exist");

  template <typename S>
  using if_hermite = std::enable_if_t<std::is_same_v<S, cubic_spline::hermite>, int>;
  template <typename S>
  using if_cubic = std::enable_if_t<!std::is_same_v<S, linear_spline::default_type>, int>;

 public:
  // Chooses the back-end from the queue's device (CPU or GPU; any other
  // device throws unsupported_device). With is_coeff_computed the array
  // given to set_coefficients already holds the coefficients.
  spline(const sycl::queue& queue, std::int64_t ny, bool is_coeff_computed);
  spline(const sycl::device& device, const sycl::context& context, std::int64_t ny, bool is_coeff_computed);
  // Waits for every operation of the spline that may still be running.
  ~spline();

  spline(const spline&) = delete;
  spline& operator=(const spline&) = delete;

  // nx breakpoints, or for a uniform partition the two ends only.
  spline& set_partitions(FpType* data, std::int64_t nx, partition_hint hint = partition_hint::non_uniform);
  // nx*ny values, laid out as `hint` says. Accepted once per spline.
  spline& set_function_values(FpType* data, function_hint hint = function_hint::row_major);
  // Room for get_required_coeffs_size() values. Accepted once per spline.
  spline& set_coefficients(FpType* data, coefficient_hint hint = coefficient_hint::row_major);

  // Cubic Hermite only: nx - 2 first derivatives at the interior
  // breakpoints, shared by all functions.
  template <typename S = SplineType, if_hermite<S> = 0>
  spline& set_internal_conditions(FpType* data) {
    return record_internal_conditions(data);
  }

  // Cubic kinds: adds one boundary-condition kind (kinds accumulate by OR)
  // with its value, for the right end for first_right_der and
  // second_right_der, else for the left end. Which sums construct accepts
  // depends on the kind (see bc_type). Hermite needs at least one call;
  // the other kinds have their own ends when none is made.
  template <typename S = SplineType, if_cubic<S> = 0>
  spline& set_boundary_conditions(bc_type kind, FpType value) {
    return record_boundary_condition(kind, value);
  }

  // Whether construct has everything it needs.
  bool is_initialized() const;
  // Element count of the coefficient array: (nx - 1)*ny*2 for linear and
  // (nx - 1)*ny*4 for cubic splines.
  std::int64_t get_required_coeffs_size() const;
  // Computes the coefficients after `dependencies`; returns the event of
  // that work without waiting for it.
  sycl::event construct(const std::vector<sycl::event>& dependencies = {});

 private:
  friend struct detail::spline_access;

  spline& record_internal_conditions(FpType* data);
  spline& record_boundary_condition(bc_type kind, FpType value);

  std::unique_ptr<detail::spline_base<FpType, SplineType, Dimensions>> impl_;
};

extern template class QRX_DF_EXPORT spline<float, linear_spline::default_type, 1>;
extern template class QRX_DF_EXPORT spline<double, linear_spline::default_type, 1>;
extern template class QRX_DF_EXPORT spline<float, cubic_spline::hermite, 1>;
extern template class QRX_DF_EXPORT spline<double, cubic_spline::hermite, 1>;
extern template class QRX_DF_EXPORT spline<float, cubic_spline::natural, 1>;
extern template class QRX_DF_EXPORT spline<double, cubic_spline::natural, 1>;
extern template class QRX_DF_EXPORT spline<float, cubic_spline::akima, 1>;
extern template class QRX_DF_EXPORT spline<double, cubic_spline::akima, 1>;
extern template class QRX_DF_EXPORT spline<float, cubic_spline::bessel, 1>;
extern template class QRX_DF_EXPORT spline<double, cubic_spline::bessel, 1>;
extern template class QRX_DF_EXPORT spline<float, cubic_spline::hyman, 1>;
extern template class QRX_DF_EXPORT spline<double, cubic_spline::hyman, 1>;

}  // namespace velora::qrx::experimental::data_fitting
