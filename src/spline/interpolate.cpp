#include "data_fitting/interpolate.hpp"

#include "data_fitting/export.hpp"
#include "detail/spline_kind.hpp"
#include "spline/spline_access.hpp"

namespace velora::qrx::experimental::data_fitting {

// Every overload forwards to the implementation's interpolate, which makes
// all the checks.

template <typename FpType, typename SplineType, int Dimensions>
sycl::event interpolate(spline<FpType, SplineType, Dimensions>& spline, FpType* sites, std::int64_t nsites,
                        FpType* results, std::bitset<32> der_mask, const std::vector<sycl::event>& dependencies,
                        interpolate_hint ih, site_hint sh) {
  auto& impl = detail::spline_access::impl(spline);
  return impl.interpolate(impl.queue, sites, nsites, results, der_mask, dependencies, ih, sh);
}

template <typename FpType, typename SplineType, int Dimensions>
sycl::event interpolate(spline<FpType, SplineType, Dimensions>& spline, FpType* sites, std::int64_t nsites,
                        FpType* results, const std::vector<sycl::event>& dependencies, interpolate_hint ih,
                        site_hint sh) {
  auto& impl = detail::spline_access::impl(spline);
  return impl.interpolate(impl.queue, sites, nsites, results, std::bitset<32>(1), dependencies, ih, sh);
}

template <typename FpType, typename SplineType, int Dimensions>
sycl::event interpolate(sycl::queue& queue, const spline<FpType, SplineType, Dimensions>& spline, FpType* sites,
                        std::int64_t nsites, FpType* results, std::bitset<32> der_mask,
                        const std::vector<sycl::event>& dependencies, interpolate_hint ih, site_hint sh) {
  return detail::spline_access::impl(spline).interpolate(queue, sites, nsites, results, der_mask, dependencies, ih,
                                                         sh);
}

template <typename FpType, typename SplineType, int Dimensions>
sycl::event interpolate(sycl::queue& queue, const spline<FpType, SplineType, Dimensions>& spline, FpType* sites,
                        std::int64_t nsites, FpType* results, const std::vector<sycl::event>& dependencies,
                        interpolate_hint ih, site_hint sh) {
  return detail::spline_access::impl(spline).interpolate(queue, sites, nsites, results, std::bitset<32>(1),
                                                         dependencies, ih, sh);
}

// The four overloads for each spline, exported.
#define QRX_DF_INSTANTIATE_INTERPOLATE(T, S)                                                                     \
  template QRX_DF_EXPORT sycl::event interpolate(spline<T, S, 1>&, T*, std::int64_t, T*, std::bitset<32>,        \
                                                 const std::vector<sycl::event>&, interpolate_hint, site_hint); \
  template QRX_DF_EXPORT sycl::event interpolate(spline<T, S, 1>&, T*, std::int64_t, T*,                         \
                                                 const std::vector<sycl::event>&, interpolate_hint, site_hint); \
  template QRX_DF_EXPORT sycl::event interpolate(sycl::queue&, const spline<T, S, 1>&, T*, std::int64_t, T*,     \
                                                 std::bitset<32>, const std::vector<sycl::event>&,              \
                                                 interpolate_hint, site_hint);                                  \
  template QRX_DF_EXPORT sycl::event interpolate(sycl::queue&, const spline<T, S, 1>&, T*, std::int64_t, T*,     \
                                                 const std::vector<sycl::event>&, interpolate_hint, site_hint);

QRX_DF_FOR_EACH_SPLINE(QRX_DF_INSTANTIATE_INTERPOLATE)

#undef QRX_DF_INSTANTIATE_INTERPOLATE

}  // namespace velora::qrx::experimental::data_fitting
