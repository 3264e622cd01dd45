#pragma once

// The cubic of a cell from its end values and end slopes: the one cell
// formula every cubic construction of this library ends in.

namespace qrx_df {

// The four coefficients of the cubic with values y0, y1 and slopes dl, dr at
// the ends of a cell of reciprocal width r, slope s = (y1 - y0)*r.
template <typename T>
void hermite_cell(T* c, T y0, T s, T r, T dl, T dr) {
  c[0] = y0;
  c[1] = dl;
  c[2] = (T(3) * s - T(2) * dl - dr) * r;
  c[3] = (dl + dr - T(2) * s) * r * r;
}

}  // namespace qrx_df
