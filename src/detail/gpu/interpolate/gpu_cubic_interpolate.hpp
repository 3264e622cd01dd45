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
class cubic_interpolate_kernel;

// Factors of the derivatives of c0 + c1*t + c2*t^2 + c3*t^3, captured with
// the arguments.
template <typename FpType>
struct derivative_factors {
  FpType two = 2;
  FpType three = 3;
  FpType six = 6;
};

// Work-item k of a cubic interpolation: function k / nsites, site k % nsites,
// t = x - x_cell. Each flagged order is a Horner form in t; orders 4 and up
// do not exist and are never written.
template <interpolate_hint IH, site_hint SH, partition_hint PH, typename FpType>
void cubic_interpolate_at(const interpolate_args<FpType, 4>& a, const derivative_factors<FpType>& m, std::int64_t k) {
  if (construction_refused(a)) return;
  const function_and_site item(k, a.nsites);
  const std::int64_t f = item.f;
  const std::int64_t s = item.s;
  const FpType x = site_at<SH>(a.sites, a.nsites, s);
  const std::int64_t cell = find_cell<PH>(a.partitions, a.nx, x);
  const FpType* c = *a.coeffs + ((a.nx - 1) * f + cell) * 4;
  const FpType c0 = c[0];
  const FpType c1 = c[1];
  const FpType c2 = c[2];
  const FpType c3 = c[3];
  const FpType t = x - cell_origin<PH>(a.partitions, a.nx, cell);
  auto slot = [&](std::int64_t d) -> FpType& {
    return a.results[result_slot<IH>(a.ny, a.nsites, a.der_count, f, s, d)];
  };
  if (a.der_flags[0]) slot(0) = ((c3 * t + c2) * t + c1) * t + c0;
  if (a.der_flags[1]) slot(1) = ((c3 * t) * m.three + m.two * c2) * t + c1;
  if (a.der_flags[2]) slot(2) = (t * c3) * m.six + c2 * m.two;
  if (a.der_flags[3]) slot(3) = c3 * m.six;
}

// Submits one command group: depends_on(dependencies), then one work-item per
// (function, site) pair over `range` (nsites*ny, already checked).
template <typename FpType, coefficient_hint CH, interpolate_hint IH, site_hint SH, partition_hint PH>
sycl::event gpu_cubic_interpolate(sycl::queue& queue, const interpolate_args<FpType, 4>& args, sycl::range<1> range,
                                  const std::vector<sycl::event>& dependencies) {
  static_assert(CH == coefficient_hint::row_major, "coefficients are row_major only");
  return queue.submit([&](sycl::handler& cgh) {
    cgh.depends_on(dependencies);
    const interpolate_args<FpType, 4> a = args;
    const derivative_factors<FpType> m{};
    cgh.parallel_for<cubic_interpolate_kernel<FpType, CH, IH, SH, PH>>(range, [=](sycl::item<1> item) {
      cubic_interpolate_at<IH, SH, PH>(a, m, static_cast<std::int64_t>(item.get_linear_id()));
    });
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
