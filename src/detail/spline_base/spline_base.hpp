#pragma once

#include <atomic>
#include <bitset>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <type_traits>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/exceptions.hpp"
#include "data_fitting/hints.hpp"
#include "detail/check_interpolate_arguments.hpp"
#include "detail/checked_size.hpp"
#include "detail/construct_hints.hpp"
#include "detail/error_domain.hpp"
#include "detail/pending_events.hpp"
#include "detail/quiet_queue_release.hpp"
#include "detail/spline_kind.hpp"
#include "detail/spline_description.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename FpType, typename SplineType, int Dimensions>
class spline_base;

// One spline: what the caller recorded (`recorded`, written by the public
// spline's setters), the state of its work, and the operations every
// back-end provides. A back-end (spline_impl) turns the description into
// work.
template <typename FpType, typename SplineType>
class spline_base<FpType, SplineType, 1> {
 public:
  using description = spline_description<FpType>;

  spline_base(const sycl::queue& queue, std::int64_t ny, bool is_coeff_computed) : coeffs_computed(is_coeff_computed) {
    if (ny <= 0) throw velora::qrx::invalid_argument(error_domain, "spline", "ny <= 0");
    recorded.ny = ny;
    recorded.coefficients_supplied = is_coeff_computed;
    new (&this->queue) sycl::queue(queue);
  }

  spline_base(const spline_base&) = delete;
  spline_base& operator=(const spline_base&) = delete;

  // Waits for every operation of the spline that may still read a pointer
  // cell, then releases the cells and the spline's copy of the queue. A
  // plain wait: asynchronous errors, the spline's and the caller's, stay
  // with the queue for the caller's next wait_and_throw.
  virtual ~spline_base() {
    pending.wait_all();
    sycl::free(recorded.coefficients, queue);
    sycl::free(recorded.function_values, queue);
    release_queue_quietly(queue);
  }

  virtual sycl::event construct(const std::vector<sycl::event>& dependencies) = 0;
  virtual sycl::event interpolate(sycl::queue& queue, FpType* sites, std::int64_t nsites, FpType* results,
                                  std::bitset<32> der_mask, const std::vector<sycl::event>& dependencies,
                                  interpolate_hint ih, site_hint sh) = 0;
  // results[j*n + i]: the integral of function j from lower[i] to upper[i].
  virtual sycl::event integrate(const FpType* lower, const FpType* upper, std::int64_t n, FpType* results,
                                const std::vector<sycl::event>& dependencies) = 0;
  // counts[j*n + i] roots of f_j(x) = y[i] on [a, b], the first max_roots of
  // them ascending at roots[(j*n + i)*max_roots].
  virtual sycl::event solve(const FpType* y, std::int64_t n, FpType* roots, std::int64_t* counts,
                            std::int64_t max_roots, const std::vector<sycl::event>& dependencies) = 0;

  // Whether everything construct needs has been recorded. With coefficients
  // supplied by the caller only the partition is needed. Hermite needs its
  // slopes: every function's own, or the shared interior ones with end rules;
  // a smoothing spline its parameter; a least-squares spline its data in
  // place of function values.
  bool is_initialized() const {
    const description& d = recorded;
    if (coeffs_computed) return d.has_partition();
    using kind = spline_kind<SplineType>;
    const bool arrays = d.has_partition() && d.has_coefficients();
    if constexpr (kind::fit == fit_kind::least_squares) {
      return arrays && d.fit.has_data();
    } else if constexpr (kind::fit == fit_kind::smoothing) {
      return arrays && d.has_function_values() && d.fit.has_smoothing();
    } else if constexpr (kind::needs_conditions) {
      return arrays && d.has_function_values() &&
             (d.has_first_derivatives() || (d.has_internal_conditions() && d.boundary_recorded));
    } else {
      return arrays && d.has_function_values();
    }
  }
  // Refuses, on the calling thread and the same on both back-ends, what
  // construct cannot build from: per-function first derivatives recorded
  // beside internal or boundary conditions, which they would contradict; an
  // unknown hint or internal-condition type; boundary conditions the spline
  // kind does not accept.
  void check_construction() const {
    const description& d = recorded;
    if (d.has_first_derivatives() && (d.has_internal_conditions() || d.boundary_recorded)) {
      throw velora::qrx::invalid_argument(error_domain, "construct",
                                          "first derivatives exclude internal and boundary conditions");
    }
    validate_construct_hints<typename spline_kind<SplineType>::boundary_kinds>(d);
    if constexpr (spline_kind<SplineType>::fit == fit_kind::least_squares) {
      if (!construct_function_hints::contains(d.fit.values_layout)) {
        throw velora::qrx::invalid_argument(error_domain, "construct", "invalid data hint");
      }
    }
  }
  // Refuses, on the calling thread and the same on both back-ends, an
  // evaluation no back-end can run: a spline without what it needs,
  // coefficients not computed (or stale), an empty derivative mask, sizes
  // that do not fit in 64 bits, unknown hints, a negative nsites, null
  // arrays when there is work. `computed` is whether the coefficients may be
  // evaluated as far as the calling thread can tell.
  void check_interpolation(bool computed, const FpType* sites, std::int64_t nsites, const FpType* results,
                           std::int64_t orders, interpolate_hint ih, site_hint sh) const {
    check_evaluable("interpolate", computed);
    if (orders == 0) throw velora::qrx::invalid_argument(error_domain, "interpolate", "all indicators are set to 0");
    coeffs_size("interpolate");
    check_results_size(nsites, orders);
    check_interpolate_arguments(static_cast<std::int64_t>(recorded.partition_layout), static_cast<std::int64_t>(sh),
                                static_cast<std::int64_t>(ih), nsites, recorded.ny, sites, results);
  }
  // Refuses, on the calling thread and the same on both back-ends, an
  // integration no back-end can run: what check_interpolation refuses of the
  // spline, a negative n, results that do not fit in 64 bits, null arrays
  // when there is work.
  void check_integration(bool computed, const FpType* lower, const FpType* upper, std::int64_t n,
                         const FpType* results) const {
    check_evaluable("integrate", computed);
    coeffs_size("integrate");
    auto refuse = [](const char* info) { throw velora::qrx::invalid_argument(error_domain, "integrate", info); };
    if (n < 0) refuse("n < 0");
    checked_size("integrate", "result array size overflows", n, recorded.ny);
    if (n == 0) return;
    if (lower == nullptr) refuse("lower is nullptr");
    if (upper == nullptr) refuse("upper is nullptr");
    if (results == nullptr) refuse("results is nullptr");
  }
  // As check_integration, for solve: also a negative max_roots, and a null
  // roots array only when roots are to be stored.
  void check_solving(bool computed, const FpType* y, std::int64_t n, const FpType* roots, const std::int64_t* counts,
                     std::int64_t max_roots) const {
    check_evaluable("solve", computed);
    coeffs_size("solve");
    auto refuse = [](const char* info) { throw velora::qrx::invalid_argument(error_domain, "solve", info); };
    if (n < 0) refuse("n < 0");
    if (max_roots < 0) refuse("max_roots < 0");
    checked_size("solve", "result array size overflows", n, recorded.ny, max_roots > 0 ? max_roots : 1);
    if (n == 0) return;
    if (y == nullptr) refuse("y is nullptr");
    if (max_roots > 0 && roots == nullptr) refuse("roots is nullptr");
    if (counts == nullptr) refuse("counts is nullptr");
  }
  // Element count of the coefficient array for the recorded partition;
  // invalid_argument naming `function` when it does not fit in 64 bits.
  std::int64_t coeffs_size(const char* function) const {
    return checked_size(function, "coefficient array size overflows", recorded.nx - 1, recorded.ny,
                        spline_kind<SplineType>::coeffs_per_cell);
  }

  // Refuses, before anything is submitted, a result array of nsites*ny*orders
  // elements that does not fit in 64 bits. A negative nsites or an empty
  // mask is refused by check_interpolation.
  void check_results_size(std::int64_t nsites, std::int64_t orders) const {
    if (nsites >= 0 && orders > 0) {
      checked_size("interpolate", "result array size overflows", nsites, recorded.ny, orders);
    }
  }

  // Records a new partition. Coefficients computed for the old one become
  // stale (interpolate refuses them until the next construct); coefficients
  // the caller supplied stay in use. A partition needing more coefficients
  // than the coefficient array holds is refused, and the state stays as it was.
  void record_partition(FpType* data, std::int64_t nx, partition_hint hint) {
    description& d = recorded;
    if (d.has_coefficients()) {
      const std::optional<std::int64_t> needed = size_product(nx - 1, d.ny, spline_kind<SplineType>::coeffs_per_cell);
      if (!needed || (d.coefficient_capacity >= 0 && *needed > d.coefficient_capacity)) {
        throw velora::qrx::invalid_argument(error_domain, "set_partitions",
                                            "coefficient array is too small for this partition");
      }
      // An array given before any partition holds what the first one needs.
      if (d.coefficient_capacity < 0) d.coefficient_capacity = *needed;
    }
    std::shared_ptr<void> forgotten;  // released after the lock
    std::lock_guard<std::mutex> lock(mutex);
    d.partition = data;
    d.nx = nx;
    d.partition_layout = hint;
    if (!d.coefficients_supplied) coeffs_computed = false;
    forgotten = forget_partition();
  }

  // Construct calls on one spline, from any threads, take effect one after
  // the other: each call holds `construct_order` while it checks and
  // submits, and its work runs after `dependencies` and after the previous
  // construction's work, so two constructions never write the coefficients
  // at once and the last one called is the one that stays.
  std::vector<sycl::event> after_latest_construction(const std::vector<sycl::event>& dependencies) const {
    std::vector<sycl::event> after = dependencies;
    if (latest_construction) after.push_back(*latest_construction);
    return after;
  }

  // Every evaluation of the spline runs after its latest construction,
  // whether or not the caller lists that event: `dependencies` with it.
  std::vector<sycl::event> after_construction(const std::vector<sycl::event>& dependencies) {
    std::lock_guard<std::mutex> order(construct_order);
    return after_latest_construction(dependencies);
  }
  // Keeps `event` until it completes and makes it the spline's latest
  // event; returns it.
  sycl::event record(const sycl::event& event) {
    pending.add(event);
    std::lock_guard<std::mutex> lock(mutex);
    latest_event = event;
    return event;
  }

  // The spline's latest event (of a construct or an interpolate).
  sycl::event latest() {
    std::lock_guard<std::mutex> lock(mutex);
    return latest_event;
  }

  // What the caller has recorded; written by the setters on the calling
  // thread, which must not overlap with other calls on the spline.
  description recorded;
  // Whether the coefficients may be evaluated. Written by the calling
  // thread and by the construction's own work.
  std::atomic<bool> coeffs_computed;
  // The spline's copy of the caller's queue. Held in a union so that its
  // destruction is the destructor's own step: it must hand no asynchronous
  // error to a handler (release_queue_quietly).
  union {
    sycl::queue queue;
  };
  // Guards what several threads evaluating the spline at once share with
  // each other and with host work: the latest event, what a back-end keeps
  // for the partition, and the step from computed to stale.
  std::mutex mutex;
  // Every event handed out that may still be running.
  pending_events pending;
  // Held by construct from its checks to its submission; guards
  // latest_construction.
  std::mutex construct_order;
  // The work of the latest construct that submitted any.
  std::optional<sycl::event> latest_construction;

 protected:
  // Refuses an evaluation (by `function`) of a spline whose coefficients
  // cannot be read: not computed or stale, the spline not described, or no
  // coefficient array.
  void check_evaluable(const char* function, bool computed) const {
    auto refuse = [function](const char* reason) {
      return velora::qrx::computation_error(error_domain, function, reason);
    };
    if (!computed) throw refuse("coefficients were not computed");
    if (!is_initialized()) throw refuse("spline isn't initialized");
    if (!recorded.has_coefficients()) throw refuse("coefficients were not set");
  }

  // Called with `mutex` held when the partition changes: a back-end forgets
  // what it keeps for the old partition and hands it back, to be released
  // once the lock is gone.
  virtual std::shared_ptr<void> forget_partition() { return nullptr; }

 private:
  sycl::event latest_event;  // guarded by `mutex`
};

}  // namespace velora::qrx::experimental::data_fitting::detail
