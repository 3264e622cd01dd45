#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "detail/gpu/calculus/dispatch_integrate.hpp"
#include "detail/gpu/calculus/integral_table.hpp"
#include "detail/gpu/calculus/integrate_kernel.hpp"
#include "detail/interpolate_hints.hpp"
#include "detail/value_list.hpp"

// Definitions of the integration dispatchers; included only by the
// translation units that instantiate them.

namespace velora::qrx::experimental::data_fitting::detail {

template <typename FpType>
sycl::event dispatch_integral_table(sycl::queue& queue, const calculus_spline<FpType>& spline,
                                    partition_hint layout, FpType* table,
                                    const std::vector<sycl::event>& dependencies) {
  sycl::event event;
  select(partition_hint_list{}, layout, [&](auto ph) {
    event = build_integral_table<FpType, decltype(ph)::value>(queue, spline, table, dependencies);
  });
  return event;
}

template <typename FpType>
sycl::event dispatch_integrate(sycl::queue& queue, const calculus_spline<FpType>& spline, partition_hint layout,
                               const FpType* table, const FpType* lower, const FpType* upper, std::int64_t n,
                               FpType* results, const std::vector<sycl::event>& dependencies) {
  if (n == 0) return queue.submit([&](sycl::handler& cgh) { cgh.depends_on(dependencies); });
  sycl::event event;
  select(partition_hint_list{}, layout, [&](auto ph) {
    const integrate_args<FpType> args{spline,  {const_cast<FpType*>(table), spline.nx, spline.ny},
                                      lower,   upper,
                                      n,       results,
                                      function_block(n, spline.ny)};
    event = submit_integrate<FpType, decltype(ph)::value>(queue, args, dependencies);
  });
  return event;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
