#include "detail/gpu/construct/dispatch_construct_impl.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template sycl::event dispatch_construct<double, cubic_spline::hermite>(
    sycl::queue&, std::int64_t, std::int64_t, double*, double**, double**, const std::vector<sycl::event>&,
    std::int64_t, std::int64_t, std::int64_t, double*, std::int64_t, double*, std::int64_t);

}  // namespace velora::qrx::experimental::data_fitting::detail
