#pragma once

#include <bitset>
#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "data_fitting/exceptions.hpp"
#include "data_fitting/hints.hpp"
#include "detail/spline_base/error_domain.hpp"
#include "detail/spline_base/spline_base.hpp"
#include "detail/spline_base/spline_impl.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// CPU back-end. It holds the spline's state already; construction and
// interpolation on a CPU device refuse until that back-end exists, so that
// nothing pretends to work.
template <typename FpType, typename SplineType>
class spline_impl<FpType, SplineType, 1, cpu_backend> final : public spline_base<FpType, SplineType, 1> {
 public:
  using spline_base<FpType, SplineType, 1>::spline_base;

  sycl::event construct(const std::vector<sycl::event>&) override { throw not_available("construct"); }

  sycl::event interpolate(sycl::queue&, FpType*, std::int64_t, FpType*, std::bitset<32>,
                          const std::vector<sycl::event>&, interpolate_hint, site_hint) override {
    throw not_available("interpolate");
  }

  sycl::event construct_event;

 private:
  static velora::qrx::computation_error not_available(const char* operation) {
    return velora::qrx::computation_error(error_domain, operation, "the CPU back-end is not available yet");
  }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
