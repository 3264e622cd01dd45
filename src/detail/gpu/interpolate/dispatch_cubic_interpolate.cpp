#include "detail/gpu/interpolate/dispatch_interpolate_impl.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

#define QRX_INSTANTIATE_DISPATCH_INTERPOLATE(FpType)                                                             \
  template sycl::event dispatch_interpolate<FpType, cubic_spline::hermite>(                                      \
      sycl::queue&, std::int64_t, std::int64_t, FpType*, FpType**, FpType*, std::int64_t, FpType*, std::int32_t, \
      const std::int32_t*, const std::vector<sycl::event>&, std::int64_t, std::int64_t, std::int64_t, \
      const std::int32_t*);

QRX_INSTANTIATE_DISPATCH_INTERPOLATE(float)
QRX_INSTANTIATE_DISPATCH_INTERPOLATE(double)

#undef QRX_INSTANTIATE_DISPATCH_INTERPOLATE

}  // namespace velora::qrx::experimental::data_fitting::detail
