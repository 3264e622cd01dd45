#pragma once

// Where the cell searches place the breakpoints of a uniform partition.

#include <cstdint>

namespace test_support {

// Uniform breakpoint i of [a, b] with nx breakpoints is the least site x with
// (x - a)*(nx - 1) >= (b - a)*i, each side rounded once (the rule both cell
// searches follow), found here by bisection.
template <typename T>
T uniform_breakpoint_site(T a, T b, std::int64_t nx, std::int64_t i) {
  auto at_or_right = [&](T x) { return (x - a) * T(nx - 1) >= (b - a) * T(i); };
  T left = a, right = b;  // bisection: left is not at or right of the breakpoint, right is
  for (;;) {
    const T mid = left + (right - left) / 2;
    if (mid == left || mid == right) return right;
    (at_or_right(mid) ? right : left) = mid;
  }
}

}  // namespace test_support
