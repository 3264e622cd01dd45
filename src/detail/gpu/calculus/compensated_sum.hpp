#pragma once

namespace velora::qrx::experimental::data_fitting::detail {

// A sum kept as the unevaluated pair hi + lo: each addition's rounding error
// (TwoSum, exact in any rounding-to-nearest arithmetic) collects in lo, so
// that long running sums keep the digits a plain sum loses.
template <typename FpType>
struct compensated_sum {
  FpType hi = 0;
  FpType lo = 0;

  void add(FpType x) {
    const FpType sum = hi + x;
    const FpType x_part = sum - hi;
    const FpType error = (hi - (sum - x_part)) + (x - x_part);
    hi = sum;
    lo += error;
  }
  void add(const compensated_sum& other) {
    add(other.hi);
    lo += other.lo;
  }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
