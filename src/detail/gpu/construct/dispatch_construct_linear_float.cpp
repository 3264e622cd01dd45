#include "detail/gpu/construct/dispatch_construct_impl.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

template sycl::event dispatch_construct<float, linear_spline::default_type>(
    sycl::queue&, std::int64_t, std::int64_t, float*, float**, float**, const std::vector<sycl::event>&,
    std::int64_t, std::int64_t, std::int64_t, float*, std::int64_t, float*, std::int64_t);

}  // namespace velora::qrx::experimental::data_fitting::detail
