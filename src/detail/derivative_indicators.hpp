#pragma once

#include <bitset>
#include <cstddef>

namespace velora::qrx::experimental::data_fitting::detail {

// What a derivative mask asks for, in the integer width a back-end hands on:
// count is one plus the highest order set (0 for an empty mask), and flags[d]
// is 1 when order d is asked for, for d < count. Entries from count on are
// left unwritten; nothing reads them.
template <typename Int>
struct derivative_indicators {
  explicit derivative_indicators(std::bitset<32> mask) {
    for (std::size_t d = 0; d < 32; ++d)
      if (mask.test(d)) count = static_cast<Int>(d + 1);
    for (Int d = 0; d < count; ++d) flags[d] = mask.test(static_cast<std::size_t>(d)) ? 1 : 0;
  }

  Int count = 0;
  Int flags[32];
};

}  // namespace velora::qrx::experimental::data_fitting::detail
