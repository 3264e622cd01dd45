#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/interpolate/cell_search.hpp"
#include "detail/gpu/interpolate/function_block.hpp"
#include "detail/gpu/interpolate/interpolate_args.hpp"
#include "detail/gpu/interpolate/planned_site.hpp"
#include "detail/result_slot.hpp"
#include "detail/gpu/interpolate/site_at.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename FpType, interpolate_hint IH, site_hint SH, partition_hint PH>
class linear_interpolate_kernel;

// Work-item k of a linear interpolation: site s, planned (plan_site) and
// found in its cell once, and
// functions first..last-1 of its block (site_and_functions). On its cell a
// function is c0 + c1*(x - x_cell); orders 2 and up do not exist and are
// never written.
template <interpolate_hint IH, site_hint SH, partition_hint PH, typename FpType>
void linear_interpolate_at(const interpolate_args<FpType, 2>& a, std::int64_t k) {
  if (construction_refused(a)) return;
  const site_and_functions item(k, a.nsites, a.function_block, a.ny);
  const FpType x = site_at<SH>(a.sites, a.nsites, item.s);
  const site_plan<FpType> plan = planned_site<PH>(a.outside, a.partitions, a.nx, x);
  const std::int64_t cell = find_cell<PH>(a.partitions, a.nx, plan.at);
  const FpType t = plan.at - cell_origin<PH>(a.partitions, a.nx, cell);
  // Locals, so that the stores to the results cannot make the compiler read
  // the arguments again for every function.
  const FpType* const coeffs = *a.coeffs;
  FpType* const results = a.results;
  const bool value = a.der_flags[0], d1 = a.der_flags[1];
  const std::int64_t row = (a.nx - 1) * 2;  // coefficients of one function
  const result_strides step = result_strides_of<IH>(a.ny, a.nsites, a.der_count);
  std::int64_t c = item.first * row + cell * 2;
  std::int64_t r = result_slot<IH>(a.ny, a.nsites, a.der_count, item.first, item.s, 0);
  if (plan.how == site_treatment::polynomial) {
    for (std::int64_t f = item.first; f < item.last; ++f, c += row, r += step.function) {
      const FpType c0 = coeffs[c];
      const FpType c1 = coeffs[c + 1];
      if (value) results[r] = t * c1 + c0;
      if (d1) results[r + step.order] = c1;
    }
    return;
  }
  // Outside the partition or a NaN site: the end's value and slope, or NaN.
  for (std::int64_t f = item.first; f < item.last; ++f, c += row, r += step.function) {
    const FpType c0 = coeffs[c];
    const FpType c1 = coeffs[c + 1];
    const FpType p0 = t * c1 + c0;
    if (value) results[r] = treated_order(plan, 0, p0, c1, p0);
    if (d1) results[r + step.order] = treated_order(plan, 1, p0, c1, c1);
  }
}

// Submits one command group: depends_on(dependencies), then one work-item per
// site and block of functions over `range` (already checked).
template <typename FpType, interpolate_hint IH, site_hint SH, partition_hint PH>
sycl::event gpu_linear_interpolate(sycl::queue& queue, const interpolate_args<FpType, 2>& args, sycl::range<1> range,
                                   const std::vector<sycl::event>& dependencies) {
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    const interpolate_args<FpType, 2> a = args;
    cgh.parallel_for<linear_interpolate_kernel<FpType, IH, SH, PH>>(range, [=](sycl::item<1> item) {
      linear_interpolate_at<IH, SH, PH>(a, static_cast<std::int64_t>(item.get_linear_id()));
    });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
