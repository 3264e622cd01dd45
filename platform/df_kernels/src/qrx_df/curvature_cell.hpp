#pragma once

// The cubic of a cell from its end values and end second derivatives: how
// a C2 spline known by its values and curvatures at the breakpoints (a
// smoothing spline) fills the piecewise-cubic layout.

namespace qrx_df {

// Values f0, f1 and second derivatives m0, m1 at the ends of a cell of
// reciprocal width r; computed in double, stored in T.
template <typename T>
void curvature_cell(T* c, double f0, double f1, double m0, double m1, double r) {
  c[0] = static_cast<T>(f0);
  c[1] = static_cast<T>((f1 - f0) * r - (2.0 * m0 + m1) / (6.0 * r));
  c[2] = static_cast<T>(0.5 * m0);
  c[3] = static_cast<T>((m1 - m0) * r / 6.0);
}

}  // namespace qrx_df
