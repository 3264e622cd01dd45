#pragma once

#include "data_fitting/spline.hpp"
#include "detail/spline_base/spline_base.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Lets the library's own free functions reach a spline's implementation
// object, which the public header keeps opaque.
struct spline_access {
  template <typename FpType, typename SplineType, int Dimensions>
  static spline_base<FpType, SplineType, Dimensions>& impl(const spline<FpType, SplineType, Dimensions>& s) {
    return *s.impl_;
  }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
