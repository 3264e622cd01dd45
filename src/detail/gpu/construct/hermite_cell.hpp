#pragma once

namespace velora::qrx::experimental::data_fitting::detail {

// Writes the four coefficients of the cubic on one cell that takes the value
// y0 and the slope dl at its left end, y0 + s/r and the slope dr at its right
// end (s: the cell's secant, r: its reciprocal width). With t = x - x[k]:
//   S = y0 + dl*t + c2*t^2 + c3*t^3,  c2 = (3s - 2dl - dr)*r,  c3 = (dl + dr - 2s)*r^2.
// Every cubic kind stores its cells this way; the kinds differ in the slopes.
template <typename T>
void store_hermite_cell(T* cell, T y0, T s, T r, T dl, T dr) {
  cell[0] = y0;
  cell[1] = dl;
  cell[2] = (T(3) * s - T(2) * dl - dr) * r;
  cell[3] = (dl + dr - T(2) * s) * r * r;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
