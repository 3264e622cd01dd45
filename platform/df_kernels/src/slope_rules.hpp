#pragma once

// Slopes at breakpoints from the secants of the cells around them: the
// three-point parabola, Akima's weighted mean and Hyman's monotonicity limit.

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

// Akima's slope at breakpoint i from the secants s[i-2], s[i-1], s[i],
// s[i+1]: a mean of s[i-1] and s[i] that leans towards the side where the
// data bend less; their plain mean where neither side bends.
template <typename T>
T akima_slope(T s_m2, T s_m1, T s_0, T s_p1) {
  const T w_left = std::fabs(s_p1 - s_0);
  const T w_right = std::fabs(s_m1 - s_m2);
  const T sum = w_left + w_right;
  if (sum > T(0)) return (w_left * s_m1 + w_right * s_0) / sum;
  return T(0.5) * (s_m1 + s_0);
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
