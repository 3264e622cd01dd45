#pragma once

#include <bitset>
#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "data_fitting/spline_types.hpp"
#include "detail/gpu/backend/host_flag_arrays.hpp"
#include "detail/spline_base/spline_base.hpp"
#include "detail/spline_base/spline_impl.hpp"
#include "detail/spline_base/spline_kind.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// GPU back-end: checks the spline's state on the calling thread and hands it
// to the construction and interpolation dispatchers, which submit the
// kernels. It never waits, except in its destructor.
template <typename FpType, typename SplineType>
class spline_impl<FpType, SplineType, 1, gpu_backend> final : public spline_base<FpType, SplineType, 1> {
 public:
  spline_impl(const sycl::queue& queue, std::int64_t ny, bool is_coeff_computed);

  // Waits for the latest operation (delivering its asynchronous errors to
  // the queue's handler) and for every other one still running.
  ~spline_impl() override;

  // Computes the coefficients on the first successful call; later calls
  // return the stored event without new work.
  sycl::event construct(const std::vector<sycl::event>& dependencies) override;

  // Evaluates on `queue` after `dependencies` (not after construct_event:
  // the caller orders the two). Refuses an unconstructed spline, a missing
  // partition or coefficient array, an empty mask and a result array size
  // that overflows, in that order. Several threads may evaluate at once.
  sycl::event interpolate(sycl::queue& queue, FpType* sites, std::int64_t nsites, FpType* results,
                          std::bitset<32> der_mask, const std::vector<sycl::event>& dependencies,
                          interpolate_hint ih, site_hint sh) override;

  // The event of the latest construct that did work or the latest interpolate.
  sycl::event construct_event;

 private:
  // Whether construct must refuse, after its kernels, functions whose end
  // values differ: periodic natural and Hyman splines.
  bool checks_periodic_values() const;
  // Follows the kernels of construct number `generation` with host work that
  // refuses them when a function's end values differ (the coefficients stay
  // uncomputed) and frees the flags.
  sycl::event refuse_unequal_ends(const sycl::event& kernels, std::int32_t* flags, std::uint64_t generation);

  host_flag_arrays periodic_flags_;
  std::uint64_t constructs_ = 0;  // guarded by the spline's mutex
};

#define QRX_DF_DECLARE_IMPL(T, S) extern template class spline_impl<T, S, 1, gpu_backend>;
QRX_DF_FOR_EACH_SPLINE(QRX_DF_DECLARE_IMPL)
#undef QRX_DF_DECLARE_IMPL

}  // namespace velora::qrx::experimental::data_fitting::detail
