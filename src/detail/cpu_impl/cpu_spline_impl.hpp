#pragma once

#include <atomic>
#include <bitset>
#include <cstdint>
#include <memory>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "data_fitting/spline_types.hpp"
#include "detail/spline_base/spline_base.hpp"
#include "detail/spline_base/spline_impl.hpp"
#include "detail/spline_kind.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename FpType, typename SplineType>
class kernel_task;

// CPU back-end: every construct, interpolate and the destructor submit one
// host task that drives the CPU data-fitting kernels through the front-end.
// The spline's kernel-library task sits in a shared holder: construct makes
// a new one, a spline whose coefficients were supplied makes one for its
// first evaluation, and a new partition drops it. Each host task keeps the
// holder it uses, so a task is deleted only once no work may use it any
// more. Host work takes the spline's state as it was when the work was
// submitted. Failures inside host tasks reach the caller as asynchronous
// errors of the queue.
template <typename FpType, typename SplineType>
class spline_impl<FpType, SplineType, 1, cpu_backend> final : public spline_base<FpType, SplineType, 1> {
 public:
  spline_impl(const sycl::queue& queue, std::int64_t ny, bool is_coeff_computed);

  // Waits for every operation of the spline, then deletes the current task.
  ~spline_impl() override;

  // Computes the coefficients from what is recorded now, on a new task, on
  // every call. Coefficients the caller supplied are never written:
  // construct then submits nothing and returns the latest event.
  sycl::event construct(const std::vector<sycl::event>& dependencies) override;

  // Several threads may evaluate at once.
  sycl::event interpolate(sycl::queue& queue, FpType* sites, std::int64_t nsites, FpType* results,
                          std::bitset<32> der_mask, const std::vector<sycl::event>& dependencies,
                          interpolate_hint ih, site_hint sh) override;

  sycl::event integrate(const FpType* lower, const FpType* upper, std::int64_t n, FpType* results,
                        const std::vector<sycl::event>& dependencies) override;
  sycl::event solve(const FpType* y, std::int64_t n, FpType* roots, std::int64_t* counts, std::int64_t max_roots,
                    const std::vector<sycl::event>& dependencies) override;

  // Set by host work once any new-task call of this spline has succeeded.
  std::atomic<bool> task_created{false};

 private:
  using task_holder = kernel_task<FpType, SplineType>;

  std::shared_ptr<void> forget_partition() override;
  // The holder an integrate or solve submits with, after `check(computed)`
  // on the calling thread; made now for supplied coefficients.
  template <typename Check>
  std::shared_ptr<task_holder> evaluation_task(Check check);
  // Host work of a construct that failed.
  void mark_failed(const std::shared_ptr<task_holder>& task);

  // The current holder; guarded by the spline's mutex.
  std::shared_ptr<task_holder> task_;
};

#define QRX_DF_DECLARE_IMPL(T, S) extern template class spline_impl<T, S, 1, cpu_backend>;
QRX_DF_FOR_EACH_SPLINE(QRX_DF_DECLARE_IMPL)
#undef QRX_DF_DECLARE_IMPL

}  // namespace velora::qrx::experimental::data_fitting::detail
