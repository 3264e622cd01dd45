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
#include "detail/checked_size.hpp"
#include "detail/quiet_queue_release.hpp"
#include "detail/spline_base/error_domain.hpp"
#include "detail/spline_base/pending_events.hpp"
#include "detail/spline_base/spline_kind.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename FpType, typename SplineType, int Dimensions>
class spline_base;

// The whole state of one spline and the operations every back-end provides.
// The public spline writes the state in its setters and calls construct and
// interpolate; a back-end (spline_impl) turns the state into work.
template <typename FpType, typename SplineType>
class spline_base<FpType, SplineType, 1> {
 public:
  spline_base(const sycl::queue& queue, std::int64_t ny, bool is_coeff_computed)
      : ny(ny), coeffs_computed(is_coeff_computed), coeffs_supplied(is_coeff_computed) {
    if (ny <= 0) throw velora::qrx::invalid_argument(error_domain, "spline", "ny <= 0");
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
    sycl::free(coeffs, queue);
    sycl::free(functions, queue);
    release_queue_quietly(queue);
  }

  virtual sycl::event construct(const std::vector<sycl::event>& dependencies) = 0;
  virtual sycl::event interpolate(sycl::queue& queue, FpType* sites, std::int64_t nsites, FpType* results,
                                  std::bitset<32> der_mask, const std::vector<sycl::event>& dependencies,
                                  interpolate_hint ih, site_hint sh) = 0;

  // Whether everything construct needs has been recorded. With coefficients
  // supplied by the caller only the partition is needed.
  bool is_initialized() const {
    if (coeffs_computed) return partitions_set;
    const bool arrays = partitions_set && functions_set_count == ny && coeffs_set_count == ny;
    if constexpr (spline_kind<SplineType>::needs_conditions) {
      return arrays && internal_conditions_set && bc_set;
    } else {
      return arrays;
    }
  }

  // Refuses, on the calling thread, an accumulated boundary-condition kind
  // that the spline kind does not accept (linear and Hermite splines leave
  // that to their back-ends).
  void check_boundary_kinds() const {
    using kinds = typename spline_kind<SplineType>::boundary_kinds;
    if constexpr (!std::is_void_v<kinds>) {
      if (!kinds::contains(static_cast<long long>(bc_type))) {
        throw velora::qrx::invalid_argument(error_domain, "construct", "invalid boundary conditions");
      }
    }
  }

  // Element count of the coefficient array for the recorded partition;
  // invalid_argument naming `function` when it does not fit in 64 bits.
  std::int64_t coeffs_size(const char* function) const {
    return checked_size(function, "coefficient array size overflows", nx - 1, ny,
                        spline_kind<SplineType>::coeffs_per_cell);
  }

  // Refuses, before anything is submitted, a result array of nsites*ny*orders
  // elements that does not fit in 64 bits. A negative nsites or an empty
  // mask is left to the back-end's own refusal.
  void check_results_size(std::int64_t nsites, std::int64_t orders) const {
    if (nsites >= 0 && orders > 0) checked_size("interpolate", "result array size overflows", nsites, ny, orders);
  }

  // Records a new partition. Coefficients computed for the old one become
  // stale (interpolate refuses them until the next construct); coefficients
  // the caller supplied stay in use. A partition needing more coefficients
  // than the coefficient array holds is refused, and the state stays as it was.
  void record_partition(FpType* data, std::int64_t new_nx, std::int64_t hint) {
    if (coeffs != nullptr) {
      const std::optional<std::int64_t> needed =
          size_product(new_nx - 1, ny, spline_kind<SplineType>::coeffs_per_cell);
      if (!needed || (coeffs_capacity >= 0 && *needed > coeffs_capacity)) {
        throw velora::qrx::invalid_argument(error_domain, "set_partitions",
                                            "coefficient array is too small for this partition");
      }
      // An array given before any partition holds what the first one needs.
      if (coeffs_capacity < 0) coeffs_capacity = *needed;
    }
    std::shared_ptr<void> forgotten;  // released after the lock
    std::lock_guard<std::mutex> lock(mutex);
    partitions = data;
    nx = new_nx;
    part_hint = hint;
    partitions_set = true;
    if (!coeffs_supplied) coeffs_computed = false;
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

  // Keeps `event` until it completes and makes it the latest operation of
  // the spline (`latest` is the back-end's construct_event); returns it.
  sycl::event record(sycl::event& latest, const sycl::event& event) {
    pending.add(event);
    std::lock_guard<std::mutex> lock(mutex);
    latest = event;
    return event;
  }

  // Hint fields hold the enumeration values as 64-bit integers; bc_type is
  // the OR of every boundary-condition kind recorded.
  std::int64_t ny;
  FpType* partitions = nullptr;
  std::int64_t nx = 0;
  std::int64_t coeffs_set_count = 0;
  std::int64_t functions_set_count = 0;
  std::int64_t part_hint = static_cast<std::int64_t>(partition_hint::non_uniform);
  bool partitions_set = false;
  FpType** coeffs = nullptr;  // pointer cell
  std::int64_t coeff_hint = 0;
  // Written by the calling thread and, on the CPU back-end, by host work.
  std::atomic<bool> coeffs_computed;
  FpType** functions = nullptr;  // pointer cell
  std::int64_t func_hint = static_cast<std::int64_t>(function_hint::row_major);
  FpType* internal_conditions = nullptr;
  std::int64_t ic_type = 0;
  bool internal_conditions_set = false;
  FpType bc_values[2] = {0, 0};  // left-end value, right-end value
  std::int64_t bc_type = 0;
  bool bc_set = false;
  // The spline's copy of the caller's queue. Held in a union so that its
  // destruction is the destructor's own step: it must hand no asynchronous
  // error to a handler (release_queue_quietly).
  union {
    sycl::queue queue;
  };

  // Whether the caller supplies the coefficients (is_coeff_computed).
  const bool coeffs_supplied;
  // Element count of the coefficient array: the size in force when the
  // caller gave it, or that of the first partition recorded after it; -1
  // while no array is held.
  std::int64_t coeffs_capacity = -1;
  // Guards what several threads evaluating the spline at once share with
  // each other and with host work: a back-end's construct_event and what it
  // keeps for the partition, and the step from computed to stale.
  std::mutex mutex;
  // Every event handed out that may still be running.
  pending_events pending;
  // Held by construct from its checks to its submission; guards
  // latest_construction.
  std::mutex construct_order;
  // The work of the latest construct that submitted any.
  std::optional<sycl::event> latest_construction;

 protected:
  // Called with `mutex` held when the partition changes: a back-end forgets
  // what it keeps for the old partition and hands it back, to be released
  // once the lock is gone.
  virtual std::shared_ptr<void> forget_partition() { return nullptr; }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
