#pragma once

// Slopes at breakpoints from the secants of the cells around them: the
// three-point parabola, Hyman's monotonicity limit, and the rules of PCHIP
// and Steffen's spline (Akima's weighted means are vectorised loops of
// their kernel). The rules that take cell widths use only their ratios, so
// a uniform partition passes 1 for every width.

#include <cmath>

namespace qrx_df {

// Weights of the left and the right cell's secant in the parabola's slope at
// the breakpoint they share: each is the other cell's share of both widths.
template <typename T>
struct secant_weights {
  T left;
  T right;
};

// Slopes of the parabola through three breakpoints, at each of them, from
// the secants sl, sr of the two cells and their weights at the middle.
template <typename T>
struct parabola_slopes {
  T left;
  T middle;
  T right;
};

template <typename T>
parabola_slopes<T> parabola(T sl, T sr, secant_weights<T> w) {
  return {sl + (sl - sr) * w.right, w.left * sl + w.right * sr, sr + (sr - sl) * w.left};
}

// Hyman's limit on a slope d between secants sl and sr (both the end
// secant at an end): where the data rise (fall) on both sides, a rising
// (falling) slope keeps at most three times the smaller secant's magnitude
// and any other slope becomes zero; at a local extremum or a flat secant the
// slope is zero. Cells whose end slopes pass the limit are monotone.
template <typename T>
T hyman_limit(T d, T sl, T sr) {
  if (std::isnan(d) || std::isnan(sl) || std::isnan(sr)) return d + sl + sr;  // a bad value stays visible
  if (sl > T(0) && sr > T(0) && d > T(0)) return std::fmin(d, T(3) * std::fmin(sl, sr));
  if (sl < T(0) && sr < T(0) && d < T(0)) return std::fmax(d, T(3) * std::fmax(sl, sr));
  return T(0);
}

// -1, 0 or 1 as v is negative, zero or positive; NaN stays NaN, so that the
// rules below never hide a bad value.
template <typename T>
T sign_of(T v) {
  return v > T(0) ? T(1) : v < T(0) ? T(-1) : v * T(0);
}

// PCHIP's slope between the secants sl, sr of cells of widths hl, hr: zero
// where the data turn or stop, otherwise the harmonic mean of the secants
// weighted towards the shorter cell, which keeps the curve monotone.
template <typename T>
T pchip_interior(T sl, T sr, T hl, T hr) {
  if (sign_of(sl) * sign_of(sr) <= T(0)) return T(0);
  const T w_left = T(2) * hr + hl;
  const T w_right = hr + T(2) * hl;
  return (w_left + w_right) / (w_left / sl + w_right / sr);
}

// PCHIP's slope at an end: the three-point estimate from the end secant s0
// (cell width h0) and the next one s1 (width h1), made zero when it points
// against s0 and cut to 3 s0 where the data turn and it is steeper than that.
template <typename T>
T pchip_end(T s0, T s1, T h0, T h1) {
  const T d = ((T(2) * h0 + h1) * s0 - h0 * s1) / (h0 + h1);
  if (std::isnan(d)) return d;
  if (sign_of(d) != sign_of(s0)) return T(0);
  if (sign_of(s0) != sign_of(s1) && std::fabs(d) > T(3) * std::fabs(s0)) return T(3) * s0;
  return d;
}

// Steffen's slope between the secants sl, sr of cells of widths hl, hr: the
// parabola's slope p, limited to twice the smaller secant (and to zero where
// the data turn), so that no cell leaves the range of its end values.
template <typename T>
T steffen_interior(T sl, T sr, T hl, T hr) {
  const T p = (sl * hr + sr * hl) / (hl + hr);
  const T limit = std::fmin(std::fmin(std::fabs(sl), std::fabs(sr)), T(0.5) * std::fabs(p));  // NaN: sign_of's
  return (sign_of(sl) + sign_of(sr)) * limit;
}

}  // namespace qrx_df
