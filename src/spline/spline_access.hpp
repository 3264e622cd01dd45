#pragma once

#include <memory>
#include <utility>

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

  // Puts another implementation object in place of a fresh spline's: lets the
  // internal suites run a back-end on a device the constructor would not
  // choose it for.
  template <typename FpType, typename SplineType, int Dimensions>
  static void replace_impl(spline<FpType, SplineType, Dimensions>& s,
                           std::unique_ptr<spline_base<FpType, SplineType, Dimensions>> impl) {
    s.impl_ = std::move(impl);
  }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
