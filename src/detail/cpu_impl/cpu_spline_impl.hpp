#pragma once

#include <bitset>
#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "data_fitting/spline_types.hpp"
#include "detail/cpu_impl/task_record_fields.hpp"
#include "detail/spline_base/spline_base.hpp"
#include "detail/spline_base/spline_impl.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// CPU back-end: every construct, interpolate and the destructor submit one
// host task that drives the CPU data-fitting kernels through the front-end.
// The spline keeps one kernel-library task, created by construct (or lazily
// by the first interpolate of a spline whose coefficients were supplied) and
// deleted when the spline goes. Failures inside host tasks reach the caller
// as asynchronous errors of the queue.
template <typename FpType, typename SplineType>
class spline_impl<FpType, SplineType, 1, cpu_backend> final : public spline_base<FpType, SplineType, 1> {
 public:
  spline_impl(const sycl::queue& queue, std::int64_t ny, bool is_coeff_computed);

  // Deletes the task after every operation of the spline has finished, and
  // waits for that.
  ~spline_impl() override;

  // Creates a new task (deleting the earlier one) and constructs on every
  // successful call.
  sycl::event construct(const std::vector<sycl::event>& dependencies) override;

  sycl::event interpolate(sycl::queue& queue, FpType* sites, std::int64_t nsites, FpType* results,
                          std::bitset<32> der_mask, const std::vector<sycl::event>& dependencies,
                          interpolate_hint ih, site_hint sh) override;

  task_record* task = nullptr;
  // The event of the latest construct or interpolate.
  sycl::event construct_event;
  bool task_created = false;

 private:
  // Host work, run on a runtime thread.
  void construct_task(const FpType bc_values_at_submission[2]);
  void create_task_for_supplied_coefficients();
  void interpolate_task(FpType* sites, std::int64_t nsites, FpType* results, std::bitset<32> der_mask,
                        std::int64_t ih, std::int64_t sh);
  void delete_task() noexcept;
};

extern template class spline_impl<float, linear_spline::default_type, 1, cpu_backend>;
extern template class spline_impl<double, linear_spline::default_type, 1, cpu_backend>;
extern template class spline_impl<float, cubic_spline::hermite, 1, cpu_backend>;
extern template class spline_impl<double, cubic_spline::hermite, 1, cpu_backend>;

}  // namespace velora::qrx::experimental::data_fitting::detail
