#pragma once

/// \file
/// Evaluation of constructed splines and their derivatives.

#include <bitset>
#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "data_fitting/spline.hpp"

/// The library's public namespace: spline kinds, hints, boundary
/// conditions, the spline object and interpolate.
namespace velora::qrx::experimental::data_fitting {

/// Evaluates a constructed spline, and on request its derivatives, at
/// nsites sites, on the spline's own queue.
///
/// \param spline a spline whose coefficients were computed (or supplied).
/// \param sites nsites sites (any order), or for site_hint::uniform two
///   values, the first and the last of nsites evenly spaced sites. Sites
///   outside the partition get what the spline's extrapolation modes say
///   (spline::set_extrapolation; by default the end cells' polynomials).
/// \param nsites number of sites; 0 writes nothing.
/// \param results room for ny*nsites*K elements, K = 1 + the highest order
///   asked for, laid out as `ih` says. Slots of orders not asked for, or
///   beyond the spline's degree, keep their contents.
/// \param der_mask bit d asks for the derivative of order d (bit 0: values).
/// \param dependencies events to wait for first; the spline's latest
///   construction is waited for whether listed or not.
/// \param ih layout of the results.
/// \param sh how `sites` gives the sites.
/// \return the event of the submitted work; nothing is waited for.
/// \throws computation_error "coefficients were not computed" (also when a
///   new partition made them stale), "spline isn't initialized",
///   "coefficients were not set"; "coefficients were not computed" arrives
///   through the queue's handler instead when the construction's own checks
///   refuse it after this call was submitted.
/// \throws invalid_argument "all indicators are set to 0" (an empty mask),
///   "result array size overflows", "nsites < 0", "sites is nullptr",
///   "results is nullptr", "invalid interpolate hint", "invalid site hint";
///   the same on both devices, before anything is submitted.
/// \throws sycl::exception with errc::nd_range for 2^31 work-items or more.
///
/// The call `interpolate(s, sites, n, results, {})` does not compile: the
/// braces fit both der_mask and dependencies. Write
/// `interpolate(s, sites, n, results)` for values with no dependencies, or
/// `interpolate(s, sites, n, results, std::bitset<32>("1"), {})`.
template <typename FpType, typename SplineType, int Dimensions>
sycl::event interpolate(spline<FpType, SplineType, Dimensions>& spline, FpType* sites, std::int64_t nsites,
                        FpType* results, std::bitset<32> der_mask,
                        const std::vector<sycl::event>& dependencies = {},
                        interpolate_hint ih = interpolate_hint::funcs_sites_ders,
                        site_hint sh = site_hint::non_uniform);

/// Evaluates the values only (der_mask with bit 0 alone), on the spline's
/// own queue; otherwise as the overload with a mask.
template <typename FpType, typename SplineType, int Dimensions>
sycl::event interpolate(spline<FpType, SplineType, Dimensions>& spline, FpType* sites, std::int64_t nsites,
                        FpType* results, const std::vector<sycl::event>& dependencies = {},
                        interpolate_hint ih = interpolate_hint::funcs_sites_ders,
                        site_hint sh = site_hint::non_uniform);

/// Evaluates on `queue`, which may differ from the spline's own (same
/// context); several threads may evaluate one spline this way at once.
/// Otherwise as the overload on the spline's own queue.
template <typename FpType, typename SplineType, int Dimensions>
sycl::event interpolate(sycl::queue& queue, const spline<FpType, SplineType, Dimensions>& spline, FpType* sites,
                        std::int64_t nsites, FpType* results, std::bitset<32> der_mask,
                        const std::vector<sycl::event>& dependencies = {},
                        interpolate_hint ih = interpolate_hint::funcs_sites_ders,
                        site_hint sh = site_hint::non_uniform);

/// Evaluates the values only on `queue`; otherwise as the overload with a
/// queue and a mask.
template <typename FpType, typename SplineType, int Dimensions>
sycl::event interpolate(sycl::queue& queue, const spline<FpType, SplineType, Dimensions>& spline, FpType* sites,
                        std::int64_t nsites, FpType* results, const std::vector<sycl::event>& dependencies = {},
                        interpolate_hint ih = interpolate_hint::funcs_sites_ders,
                        site_hint sh = site_hint::non_uniform);

}  // namespace velora::qrx::experimental::data_fitting
