#pragma once

// Slopes at breakpoints from the secants of the cells around them: the
// three-point parabola and Hyman's monotonicity limit (Akima's weighted mean
// is a vectorised loop of its kernel).

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
  if (sl > T(0) && sr > T(0) && d > T(0)) return std::fmin(d, T(3) * std::fmin(sl, sr));
  if (sl < T(0) && sr < T(0) && d < T(0)) return std::fmax(d, T(3) * std::fmax(sl, sr));
  return T(0);
}

}  // namespace qrx_df
