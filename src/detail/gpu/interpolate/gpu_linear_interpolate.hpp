#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "detail/gpu/interpolate/cell_search.hpp"
#include "detail/gpu/interpolate/interpolate_args.hpp"
#include "detail/gpu/interpolate/result_slot.hpp"
#include "detail/gpu/interpolate/site_at.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template <typename FpType, coefficient_hint CH, interpolate_hint IH, site_hint SH, partition_hint PH>
class linear_interpolate_kernel;

// Work-item k of a linear interpolation: function k / nsites, site k % nsites.
// On its cell the spline is c0 + c1*(x - x_cell); orders 2 and up do not
// exist and are never written.
template <interpolate_hint IH, site_hint SH, partition_hint PH, typename FpType>
void linear_interpolate_at(const interpolate_args<FpType, 2>& a, std::int64_t k) {
  if (construction_refused(a)) return;
  const function_and_site item(k, a.nsites);
  const std::int64_t f = item.f;
  const std::int64_t s = item.s;
  const FpType x = site_at<SH>(a.sites, a.nsites, s);
  const std::int64_t cell = find_cell<PH>(a.partitions, a.nx, x);
  const FpType* c = *a.coeffs + ((a.nx - 1) * f + cell) * 2;
  const FpType c0 = c[0];
  const FpType c1 = c[1];
  if (a.der_flags[0]) {
    const FpType t = x - cell_origin<PH>(a.partitions, a.nx, cell);
    a.results[result_slot<IH>(a.ny, a.nsites, a.der_count, f, s, 0)] = t * c1 + c0;
  }
  if (a.der_flags[1]) a.results[result_slot<IH>(a.ny, a.nsites, a.der_count, f, s, 1)] = c1;
}

// Submits one command group: depends_on(dependencies), then one work-item per
// (function, site) pair over `range` (nsites*ny, already checked).
template <typename FpType, coefficient_hint CH, interpolate_hint IH, site_hint SH, partition_hint PH>
sycl::event gpu_linear_interpolate(sycl::queue& queue, const interpolate_args<FpType, 2>& args, sycl::range<1> range,
                                   const std::vector<sycl::event>& dependencies) {
  static_assert(CH == coefficient_hint::row_major, "coefficients are row_major only");
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    const interpolate_args<FpType, 2> a = args;
    cgh.parallel_for<linear_interpolate_kernel<FpType, CH, IH, SH, PH>>(range, [=](sycl::item<1> item) {
      linear_interpolate_at<IH, SH, PH>(a, static_cast<std::int64_t>(item.get_linear_id()));
    });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
