#pragma once

namespace qrx_df {

// Error-free transformations: s + e is exactly a + b (the kernels are built
// without contraction and without reassociation, so the steps stay as
// written).
template <typename T>
inline void two_sum(T a, T b, T& s, T& e) {
  s = a + b;
  const T bb = s - a;
  e = (a - (s - bb)) + (b - bb);
}

// A running sum kept as hi + lo: each addition's rounding error is collected
// in lo.
template <typename T>
struct compensated_sum {
  T hi = T(0);
  T lo = T(0);

  void add(T v) {
    T e;
    two_sum(hi, v, hi, e);
    lo += e;
  }
  void add(const compensated_sum& v) {
    T e;
    two_sum(hi, v.hi, hi, e);
    lo += e + v.lo;
  }
  // The same value with hi the rounded sum.
  compensated_sum normalized() const {
    compensated_sum r;
    r.hi = hi + lo;
    r.lo = lo - (r.hi - hi);
    return r;
  }
};

}  // namespace qrx_df
