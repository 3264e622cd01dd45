#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <mutex>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "data_fitting/spline_types.hpp"
#include "detail/gpu/backend/kept_until_complete.hpp"
#include "detail/spline_base/spline_base.hpp"
#include "detail/spline_base/spline_impl.hpp"
#include "detail/spline_kind.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// GPU back-end: checks the spline's state on the calling thread and hands it
// to the construction and interpolation dispatchers, which submit the
// kernels. It never waits, except in its destructor.
template <typename FpType, typename SplineType>
class spline_impl<FpType, SplineType, 1, gpu_backend> final : public spline_base<FpType, SplineType, 1> {
 public:
  spline_impl(const sycl::queue& queue, std::int64_t ny, bool is_coeff_computed);

  // Waits for every operation still running; asynchronous errors stay with
  // the queue.
  ~spline_impl() override;

  // Computes the coefficients from what is recorded now, on every call.
  // Coefficients the caller supplied are never written: construct then
  // submits nothing and returns the latest event.
  sycl::event construct(const std::vector<sycl::event>& dependencies) override;

  // Evaluates on `queue` after `dependencies` and after the spline's latest
  // construction. Refuses on the calling thread what check_interpolation
  // names. While the latest construction's own checks may still refuse it,
  // the kernels read its outcome and write nothing when it did, and host
  // work after them reports "coefficients were not computed". Several
  // threads may evaluate at once.
  sycl::event interpolate(sycl::queue& queue, FpType* sites, std::int64_t nsites, FpType* results,
                          std::bitset<32> der_mask, const std::vector<sycl::event>& dependencies,
                          interpolate_hint ih, site_hint sh) override;

  // Integrate and solve run on the spline's queue after `dependencies` and
  // the latest construction, with interpolate's refusal protocol. The first
  // call after a construction builds the table it reads (the integrals up to
  // each breakpoint, or the ranges of values over blocks of cells), kept
  // until the next construction or partition; supplied coefficients, which
  // may change in place, get a table of their own on every call.
  sycl::event integrate(const FpType* lower, const FpType* upper, std::int64_t n, FpType* results,
                        const std::vector<sycl::event>& dependencies) override;
  sycl::event solve(const FpType* y, std::int64_t n, FpType* roots, std::int64_t* counts, std::int64_t max_roots,
                    const std::vector<sycl::event>& dependencies) override;

 private:
  // A table of the latest construction in device memory, and the event of
  // its build.
  struct built_table {
    std::shared_ptr<FpType> data;
    sycl::event built;
  };
  struct calculus_tables {
    built_table integral;
    built_table ranges;
  };
  // The table `which` for a call that runs after `after`, built with
  // build(memory, after) when the construction has none yet; `after` then
  // holds what the call's kernels must follow. Called with construct_order
  // held. host_bad_alloc naming `function` when memory cannot be had.
  template <typename Build>
  std::shared_ptr<FpType> table_for_call(built_table calculus_tables::*which, std::int64_t elements,
                                         const char* function, std::vector<sycl::event>& after, Build&& build);
  // One integrate or solve (`function`) of n intervals or levels:
  // check(computed) refuses on the calling thread; then, for n > 0, the
  // table `which` of elements(nx, ny) elements, built by build(spline,
  // memory, after) when the construction has none yet, and run(spline,
  // table, after) submits the call's kernels.
  template <typename Check, typename Build, typename Run>
  sycl::event calculus_call(const char* function, std::int64_t n, built_table calculus_tables::*which,
                            std::int64_t (*elements)(std::int64_t, std::int64_t),
                            const std::vector<sycl::event>& dependencies, Check&& check, Build&& build, Run&& run);
  // The refusal flags and whether the coefficients are computed, as
  // interpolate reads them.
  std::pair<std::shared_ptr<std::int32_t>, bool> evaluation_state();
  // `event` followed, when `flags` are open, by host work that reports
  // "coefficients were not computed" for `function` once the kernels, which
  // wrote nothing, have seen the refusal.
  sycl::event report_refusal(sycl::queue& queue, const std::shared_ptr<std::int32_t>& flags, sycl::event event,
                             const char* function);
  std::shared_ptr<void> forget_partition() override;

  // What the latest construction's own work decides after its submission:
  // whether the partition is finite and strictly increasing, and whether a
  // periodic spline's functions end where they start, and whether a fit's
  // data are sound. flags[1 + b] is set by the partition check for its run b
  // of breakpoints, the entries after those by the kernels for each function
  // of a periodic spline, the last one by a fitting construction's work
  // (fitting_fault bits); flags[0],
  // set by the check host work once it refuses, is what evaluations read.
  // No flags: nothing left to decide.
  struct outcome {
    std::shared_ptr<std::int32_t> flags;
    std::optional<sycl::event> decided;  // the check, once submitted
  };
  // Whether construct must refuse, after its kernels, functions whose end
  // values differ: periodic Hermite, natural and Hyman splines.
  bool checks_periodic_values() const;
  // Whether construct's work reports the faults of a fit to data:
  // smoothing and least squares.
  bool fits_data() const;
  // Follows the work of construct number `generation` with host work that
  // refuses it when the partition check found a fault or, for periodic
  // splines, a function's end values differ (the coefficients stay
  // uncomputed and flags[0] is set).
  sycl::event refuse_failed_checks(const std::vector<sycl::event>& work, std::int32_t* flags,
                                   std::int64_t check_items, std::uint64_t generation);
  // The refusal flag evaluations must read, or null when the latest
  // construction's outcome is known; called with the spline's mutex held.
  std::shared_ptr<std::int32_t> open_outcome_flags() const;

  kept_until_complete kept_;
  outcome latest_outcome_;        // guarded by the spline's mutex
  std::uint64_t constructs_ = 0;  // guarded by the spline's mutex
  std::mutex tables_mutex_;       // taken after the spline's mutex, never before
  calculus_tables tables_;        // guarded by tables_mutex_
};

#define QRX_DF_DECLARE_IMPL(T, S) extern template class spline_impl<T, S, 1, gpu_backend>;
QRX_DF_FOR_EACH_SPLINE(QRX_DF_DECLARE_IMPL)
#undef QRX_DF_DECLARE_IMPL

}  // namespace velora::qrx::experimental::data_fitting::detail
