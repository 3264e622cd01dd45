#pragma once

namespace velora::qrx::experimental::data_fitting::detail {

// The domain every exception of the data-fitting library carries.
inline constexpr const char* error_domain = "data_fitting";

}  // namespace velora::qrx::experimental::data_fitting::detail
