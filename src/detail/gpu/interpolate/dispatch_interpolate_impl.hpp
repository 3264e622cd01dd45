#pragma once

#include <cstdint>
#include <type_traits>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "data_fitting/spline_types.hpp"
#include "detail/check_interpolate_arguments.hpp"
#include "detail/gpu/interpolate/function_block.hpp"
#include "detail/gpu/interpolate/dispatch_interpolate.hpp"
#include "detail/gpu/interpolate/gpu_cubic_interpolate.hpp"
#include "detail/gpu/interpolate/gpu_linear_interpolate.hpp"
#include "detail/interpolate_hints.hpp"
#include "detail/gpu/interpolate/site_at.hpp"
#include "detail/gpu/launch_range.hpp"
#include "detail/value_list.hpp"

// Definition of dispatch_interpolate; included only by the translation units
// that instantiate it, so each kernel family is compiled once.

namespace velora::qrx::experimental::data_fitting::detail {

template <typename SplineType>
inline constexpr bool is_linear_spline = std::is_same_v<SplineType, linear_spline::default_type>;

// Derivative orders a spline kind has: 0..1 linear, 0..3 cubic.
template <typename SplineType>
inline constexpr int spline_orders = is_linear_spline<SplineType> ? 2 : 4;

// Calls f(ih, sh, ph) with the three hints as std::integral_constant. Every
// accepted combination reaches f exactly once; the lists are the dispatch table.
template <typename F>
void select_interpolate_kernel(std::int64_t interp_hint, std::int64_t site_hint_value, std::int64_t part_hint, F&& f) {
  select(interpolate_hint_list{}, static_cast<interpolate_hint>(interp_hint), [&](auto ih) {
    select(site_hint_list{}, static_cast<site_hint>(site_hint_value), [&](auto sh) {
      select(partition_hint_list{}, static_cast<partition_hint>(part_hint), [&](auto ph) { f(ih, sh, ph); });
    });
  });
}

template <typename FpType, typename SplineType>
sycl::event dispatch_interpolate(sycl::queue& queue, std::int64_t nx, std::int64_t ny, FpType* partitions,
                                 FpType** coeffs, FpType* sites, std::int64_t nsites, FpType* results,
                                 std::int32_t der_count, const std::int32_t* der_indicators,
                                 const std::vector<sycl::event>& dependencies, std::int64_t part_hint,
                                 std::int64_t site_hint_value, std::int64_t interp_hint,
                                 const std::int32_t* refused, std::int64_t block, outside_modes outside) {
  check_interpolate_arguments(part_hint, site_hint_value, interp_hint, nsites, ny, sites, results);
  // The call is refused from 2^31 (function, site) pairs on, whatever the
  // blocks, so that the limit does not depend on how the work is shared out.
  if (checked_launch_range(nsites, ny).size() == 0) {
    // No work-item, but the event still completes only after the dependencies.
    return queue.submit([&](sycl::handler& cgh) { cgh.depends_on(dependencies); });
  }

  constexpr int orders = spline_orders<SplineType>;
  if (block <= 0) block = function_block(nsites, ny);
  interpolate_args<FpType, orders> args{nsites, sites, nx,      partitions, ny,   coeffs, results,
                                        der_count, {}, refused, block, outside};
  set_derivative_flags(args, der_count, der_indicators);
  const sycl::range<1> range(static_cast<std::size_t>(function_block_work_items(nsites, ny, block)));

  sycl::event event;
  select_interpolate_kernel(interp_hint, site_hint_value, part_hint, [&](auto ih, auto sh, auto ph) {
    constexpr interpolate_hint IH = ih.value;
    constexpr site_hint SH = kernel_site_hint(sh.value);
    constexpr partition_hint PH = ph.value;
    if constexpr (is_linear_spline<SplineType>) {
      event = gpu_linear_interpolate<FpType, IH, SH, PH>(queue, args, range, dependencies);
    } else {
      event = gpu_cubic_interpolate<FpType, IH, SH, PH>(queue, args, range, dependencies);
    }
  });
  return event;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
