#pragma once

namespace velora::qrx::experimental::data_fitting::detail {

// Back-ends, selected by the device type of the spline's queue.
inline constexpr int cpu_backend = 1;
inline constexpr int gpu_backend = 2;

// The implementation object of a spline: derives from spline_base and is
// specialised once per back-end.
template <typename FpType, typename SplineType, int Dimensions, int Backend>
class spline_impl;

}  // namespace velora::qrx::experimental::data_fitting::detail
