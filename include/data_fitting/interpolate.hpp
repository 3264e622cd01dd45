#pragma once

#include <bitset>
#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "data_fitting/spline.hpp"

namespace velora::qrx::experimental::data_fitting {

// Evaluates a constructed spline at nsites sites (all of them, or for
// site_hint::uniform the first and the last) and writes the results laid out
// as `ih` says. Bit d of der_mask asks for the derivative of order d; each
// (function, site) gets K slots, K = 1 + the highest bit set, and slots of
// orders not asked for or that the spline lacks keep their contents.
// `dependencies` must include the event of the construct call unless the
// caller orders the two otherwise. Returns the event of the submitted work.
//
// These two run on the spline's own queue.
template <typename FpType, typename SplineType, int Dimensions>
sycl::event interpolate(spline<FpType, SplineType, Dimensions>& spline, FpType* sites, std::int64_t nsites,
                        FpType* results, std::bitset<32> der_mask,
                        const std::vector<sycl::event>& dependencies = {},
                        interpolate_hint ih = interpolate_hint::funcs_sites_ders,
                        site_hint sh = site_hint::non_uniform);

// Values only (der_mask with bit 0 alone).
template <typename FpType, typename SplineType, int Dimensions>
sycl::event interpolate(spline<FpType, SplineType, Dimensions>& spline, FpType* sites, std::int64_t nsites,
                        FpType* results, const std::vector<sycl::event>& dependencies = {},
                        interpolate_hint ih = interpolate_hint::funcs_sites_ders,
                        site_hint sh = site_hint::non_uniform);

// These two run on `queue`, which may differ from the spline's own.
template <typename FpType, typename SplineType, int Dimensions>
sycl::event interpolate(sycl::queue& queue, const spline<FpType, SplineType, Dimensions>& spline, FpType* sites,
                        std::int64_t nsites, FpType* results, std::bitset<32> der_mask,
                        const std::vector<sycl::event>& dependencies = {},
                        interpolate_hint ih = interpolate_hint::funcs_sites_ders,
                        site_hint sh = site_hint::non_uniform);

template <typename FpType, typename SplineType, int Dimensions>
sycl::event interpolate(sycl::queue& queue, const spline<FpType, SplineType, Dimensions>& spline, FpType* sites,
                        std::int64_t nsites, FpType* results, const std::vector<sycl::event>& dependencies = {},
                        interpolate_hint ih = interpolate_hint::funcs_sites_ders,
                        site_hint sh = site_hint::non_uniform);

}  // namespace velora::qrx::experimental::data_fitting
