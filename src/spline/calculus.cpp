#include "data_fitting/export.hpp"
#include "data_fitting/integrate.hpp"
#include "data_fitting/solve.hpp"
#include "detail/spline_kind.hpp"
#include "spline/spline_access.hpp"

namespace velora::qrx::experimental::data_fitting {

// Both forward to the implementation, which makes all the checks.

template <typename FpType, typename SplineType, int Dimensions>
sycl::event integrate(spline<FpType, SplineType, Dimensions>& spline, const FpType* lower, const FpType* upper,
                      std::int64_t n, FpType* results, const std::vector<sycl::event>& dependencies) {
  return detail::spline_access::impl(spline).integrate(lower, upper, n, results, dependencies);
}

template <typename FpType, typename SplineType, int Dimensions>
sycl::event solve(spline<FpType, SplineType, Dimensions>& spline, const FpType* y, std::int64_t n, FpType* roots,
                  std::int64_t* counts, std::int64_t max_roots, const std::vector<sycl::event>& dependencies) {
  return detail::spline_access::impl(spline).solve(y, n, roots, counts, max_roots, dependencies);
}

#define QRX_DF_INSTANTIATE_CALCULUS(T, S)                                                                         \
  template QRX_DF_EXPORT sycl::event integrate(spline<T, S, 1>&, const T*, const T*, std::int64_t, T*,           \
                                               const std::vector<sycl::event>&);                                 \
  template QRX_DF_EXPORT sycl::event solve(spline<T, S, 1>&, const T*, std::int64_t, T*, std::int64_t*,          \
                                           std::int64_t, const std::vector<sycl::event>&);

QRX_DF_FOR_EACH_SPLINE(QRX_DF_INSTANTIATE_CALCULUS)

#undef QRX_DF_INSTANTIATE_CALCULUS

}  // namespace velora::qrx::experimental::data_fitting
