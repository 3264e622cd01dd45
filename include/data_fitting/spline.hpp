#pragma once

/// \file
/// The spline object: what a spline is made of and how it is constructed.

#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/boundary_conditions.hpp"
#include "data_fitting/export.hpp"
#include "data_fitting/extrapolation.hpp"
#include "data_fitting/hints.hpp"
#include "data_fitting/spline_types.hpp"

namespace velora::qrx::experimental::data_fitting {

/// \cond INTERNAL
namespace detail {
template <typename FpType, typename SplineType, int Dimensions>
class spline_base;
struct spline_access;
}  // namespace detail
/// \endcond

/// A one-dimensional spline of ny functions over one partition, working on
/// the device of a SYCL queue: GPU queues run the library's own kernels, CPU
/// queues run host tasks that drive the CPU kernel library.
///
/// The spline records pointers to caller-owned USM arrays (shared, device
/// or host allocations of the queue's context), never copies of them: keep
/// every array valid and unchanged until the events of the operations that
/// use it have completed. Setters return the spline for chaining and change
/// nothing when they throw.
///
/// Errors of arguments and state are thrown on the calling thread, before
/// any work is submitted. Failures found by submitted work reach the
/// queue's asynchronous error handler, at queue::wait_and_throw or
/// queue::throw_asynchronous. Every message starts with
/// "velora::qrx::data_fitting::" followed by the function's name.
///
/// Setters and construct must not overlap with other calls on the same
/// spline; several threads may evaluate one spline at once.
///
/// \tparam FpType float or double: the element type of every array.
/// \tparam SplineType linear_spline::default_type, or one of the cubic kinds
///   cubic_spline::hermite, natural, akima, bessel, hyman, pchip, makima,
///   steffen, smoothing, least_squares.
/// \tparam Dimensions 1.
template <typename FpType, typename SplineType, int Dimensions = 1>
class QRX_DF_EXPORT spline {
  static_assert(Dimensions == 1, "only one-dimensional splines exist");

  template <typename S>
  using if_hermite = std::enable_if_t<std::is_same_v<S, cubic_spline::hermite>, int>;
  template <typename S>
  using if_cubic = std::enable_if_t<!std::is_same_v<S, linear_spline::default_type>, int>;
  template <typename S>
  using if_smoothing = std::enable_if_t<std::is_same_v<S, cubic_spline::smoothing>, int>;
  template <typename S>
  using if_least_squares = std::enable_if_t<std::is_same_v<S, cubic_spline::least_squares>, int>;
  template <typename S>
  using if_fitting = std::enable_if_t<std::is_same_v<S, cubic_spline::smoothing> ||
                                          std::is_same_v<S, cubic_spline::least_squares>,
                                      int>;

 public:
  /// Makes a spline of ny functions on the queue's device.
  /// \param queue its device chooses the back-end (CPU or GPU); the spline
  ///   keeps a copy and submits its work there.
  /// \param ny number of functions, at least 1.
  /// \param is_coeff_computed true when the array given to set_coefficients
  ///   already holds the coefficients: construct then computes nothing and
  ///   interpolate may be called once the partition and the coefficients are set.
  /// \throws unsupported_device for a device that is neither a CPU nor a GPU.
  /// \throws invalid_argument "ny <= 0".
  spline(const sycl::queue& queue, std::int64_t ny, bool is_coeff_computed);
  /// Makes a spline on a new queue of `device` in `context` (that queue has
  /// no asynchronous error handler: failures of the spline's work reach the
  /// context's handler, or end the program by SYCL's default handler).
  /// Otherwise as the constructor from a queue.
  spline(const sycl::device& device, const sycl::context& context, std::int64_t ny, bool is_coeff_computed);
  /// Waits for every operation of the spline that may still be running,
  /// then releases what the spline holds (never the caller's arrays).
  ~spline();

  spline(const spline&) = delete;
  spline& operator=(const spline&) = delete;

  /// Records the partition.
  /// \param data nx breakpoints, or for partition_hint::uniform the two ends.
  /// \param nx number of breakpoints, at least 3.
  /// \param hint how `data` gives the breakpoints.
  /// May be called again: coefficients computed for the old partition
  /// become stale (interpolate refuses them until the next construct).
  /// \throws invalid_argument "nx <= 2", "data is nullptr", or "coefficient
  ///   array is too small for this partition" when the coefficient array
  ///   given earlier cannot hold the new partition's coefficients.
  spline& set_partitions(FpType* data, std::int64_t nx, partition_hint hint = partition_hint::non_uniform);
  /// Records the function values: nx*ny elements laid out as `hint` says.
  /// Accepted once per spline.
  /// \throws invalid_argument "data is nullptr", "functions were already set".
  spline& set_function_values(FpType* data, function_hint hint = function_hint::row_major);
  /// Records the coefficient array: room for get_required_coeffs_size()
  /// elements, laid out as coefficient_hint::row_major says. Accepted once
  /// per spline.
  /// \throws invalid_argument "data is nullptr", "CoeffHint should be
  ///   row_major", "coefficients were already set", "coefficient array size
  ///   overflows".
  spline& set_coefficients(FpType* data, coefficient_hint hint = coefficient_hint::row_major);

  /// Cubic Hermite only: the nx - 2 first derivatives at the interior
  /// breakpoints x[1] .. x[nx-2], shared by all functions.
  /// \throws invalid_argument "data is nullptr".
  template <typename S = SplineType, if_hermite<S> = 0>
  spline& set_internal_conditions(FpType* data) {
    return record_internal_conditions(data);
  }

  /// Cubic Hermite only: every function's own first derivative at every
  /// breakpoint, ends included: nx*ny elements laid out as the function
  /// values (the hint given to set_function_values). With them recorded,
  /// construct needs neither internal nor boundary conditions, and refuses
  /// either beside them.
  /// \throws invalid_argument "data is nullptr".
  template <typename S = SplineType, if_hermite<S> = 0>
  spline& set_first_derivatives(FpType* data) {
    return record_first_derivatives(data);
  }

  /// Cubic kinds: adds one boundary-condition kind (kinds accumulate by OR)
  /// with its value, for the right end for first_right_der and
  /// second_right_der, else for the left end. Which sums construct accepts
  /// depends on the kind (see bc_type). Hermite needs at least one call; the
  /// other kinds have their own ends when none is made. Never throws.
  template <typename S = SplineType, if_cubic<S> = 0>
  spline& set_boundary_conditions(bc_type kind, FpType value) {
    return record_boundary_condition(kind, value);
  }

  /// Smoothing and least squares: the weight of each data site, shared by
  /// every function (nx of them for smoothing, ndata for least squares); all
  /// 1 until called. They must be finite and not negative, and for smoothing
  /// at least three positive. A site of weight 0 does not pull the curve
  /// (least squares never reads its values). The construction's work reads
  /// them, so they may be written by the work it depends on; bad weights are
  /// refused through the queue's handler.
  /// \throws invalid_argument "data is nullptr".
  template <typename S = SplineType, if_fitting<S> = 0>
  spline& set_weights(const FpType* weights) {
    return record_weights(weights);
  }

  /// Smoothing: one smoothing parameter lambda >= 0 for every function, in
  /// the units of x and of the data (lambda = 0 gives the natural spline
  /// through the data). Replaces a choice by set_smoothing_by_gcv.
  /// \throws invalid_argument "lambda < 0", "lambda is not finite".
  template <typename S = SplineType, if_smoothing<S> = 0>
  spline& set_smoothing(FpType lambda) {
    return record_smoothing(lambda);
  }

  /// Smoothing: each function's lambda chosen by minimising the generalised
  /// cross-validation score V = m RSS / (m - tr A)^2 (m the number of
  /// positive weights, RSS the weighted residual sum of squares, A the
  /// influence matrix) over 16 decades, and written to chosen[j] (ny
  /// entries) by the construction's work. Replaces a lambda given by
  /// set_smoothing.
  /// \throws invalid_argument "chosen is nullptr".
  template <typename S = SplineType, if_smoothing<S> = 0>
  spline& set_smoothing_by_gcv(FpType* chosen) {
    return record_smoothing_by_gcv(chosen);
  }

  /// Least squares: the data the spline is fitted to, in place of function
  /// values. x: ndata sites in [a, b], in any order, shared by every
  /// function; y: ndata*ny values laid out as `hint` says for function
  /// values, with ndata in place of nx. May be called again: the next
  /// construct fits the new data. The construction's work refuses, through
  /// the queue's handler, a site outside [a, b] or NaN, and data that do not
  /// determine the spline (fewer than nx + 2 distinct sites of positive
  /// weight spread over the knots).
  /// \throws invalid_argument "x is nullptr", "y is nullptr", "ndata < 0",
  ///   "data array size overflows".
  template <typename S = SplineType, if_least_squares<S> = 0>
  spline& set_data(const FpType* x, const FpType* y, std::int64_t ndata,
                   function_hint hint = function_hint::row_major) {
    return record_data(x, y, ndata, hint);
  }

  /// Chooses what evaluations give at sites left of the first breakpoint
  /// (`left`) and right of the last (`right`); extrapolation::extend on both
  /// sides until called. Evaluations submitted later use it; those already
  /// submitted keep what they were given.
  /// \throws invalid_argument "invalid extrapolation" for periodic on one
  ///   side only, or a value that is not an extrapolation.
  spline& set_extrapolation(extrapolation left, extrapolation right);

  /// Whether construct has everything it needs: the partition, the function
  /// values and the coefficient array (and for Hermite either the first
  /// derivatives of every function or the internal and boundary
  /// conditions); with is_coeff_computed only the partition.
  bool is_initialized() const;
  /// Element count of the coefficient array: (nx - 1)*ny*2 for linear and
  /// (nx - 1)*ny*4 for cubic splines.
  /// \throws computation_error "partitions were not set".
  /// \throws invalid_argument "coefficient array size overflows" when the
  ///   count does not fit in 64 bits.
  std::int64_t get_required_coeffs_size() const;
  /// Computes the coefficients into the caller's array after
  /// `dependencies`, and returns the event of that work without waiting for
  /// it. Pass the event to interpolate (or use an in-order queue).
  /// \throws invalid_argument "spline isn't initialized", "coefficients were
  ///   not set" (is_coeff_computed without an array), "first derivatives
  ///   exclude internal and boundary conditions" (Hermite given both), "invalid
  ///   boundary conditions" (a sum the kind does not accept; on a CPU queue Hermite
  ///   leaves this to the kernels, whose refusal arrives asynchronously as
  ///   computation_error "internal error"), and on a GPU queue "invalid
  ///   partition hint", "invalid function hint", "invalid coefficient hint".
  /// \throws sycl::exception with errc::nd_range for a launch of 2^31
  ///   work-items or more.
  /// Asynchronously, through the queue's handler: invalid_argument
  /// "function values do not correspond to periodic boundary conditions"
  /// for a periodic spline whose functions' end values differ (Hermite on a
  /// CPU queue; natural and Hyman on both), which leaves the coefficients
  /// uncomputed. The fitting kinds likewise: "invalid weights", "smoothing
  /// parameter is too large" (lambda beyond what double precision can
  /// weigh against the data), "data site is outside the partition", "data
  /// do not determine the spline". Least squares also refuses "invalid data
  /// hint" on the calling thread. Smoothing and least squares compute in
  /// double for float splines too.
  sycl::event construct(const std::vector<sycl::event>& dependencies = {});

 private:
  /// \cond INTERNAL
  friend struct detail::spline_access;
  /// \endcond

  spline& record_internal_conditions(FpType* data);
  spline& record_first_derivatives(FpType* data);
  spline& record_boundary_condition(bc_type kind, FpType value);
  spline& record_weights(const FpType* weights);
  spline& record_smoothing(FpType lambda);
  spline& record_smoothing_by_gcv(FpType* chosen);
  spline& record_data(const FpType* x, const FpType* y, std::int64_t ndata, function_hint hint);

  std::unique_ptr<detail::spline_base<FpType, SplineType, Dimensions>> impl_;
};

/// \cond INTERNAL
#define QRX_DF_DECLARE_SPLINE(T, S) extern template class QRX_DF_EXPORT spline<T, S, 1>;
QRX_DF_FOR_EACH_SPLINE(QRX_DF_DECLARE_SPLINE)
#undef QRX_DF_DECLARE_SPLINE
/// \endcond

}  // namespace velora::qrx::experimental::data_fitting
