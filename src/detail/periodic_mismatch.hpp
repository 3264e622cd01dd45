#pragma once

#include "data_fitting/exceptions.hpp"
#include "detail/error_domain.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// The refusal of a periodic spline whose functions do not take the same
// value at both ends, the same on both back-ends.
inline velora::qrx::invalid_argument periodic_mismatch() {
  return velora::qrx::invalid_argument(error_domain, "function values do not correspond to periodic boundary conditions",
                                       "");
}

}  // namespace velora::qrx::experimental::data_fitting::detail
