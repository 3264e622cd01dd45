#pragma once

#include <cstdint>

#include "data_fitting/hints.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Index of the value of function j at breakpoint i in the function-value
// array, for the layout FuncHint. Holds its own copies of nx and ny so that a
// kernel can capture it by value.
template <function_hint FuncHint>
struct value_index {
  static_assert(FuncHint == function_hint::row_major || FuncHint == function_hint::col_major);

  std::int64_t nx;
  std::int64_t ny;

  std::int64_t operator()(std::int64_t j, std::int64_t i) const {
    if constexpr (FuncHint == function_hint::row_major) {
      return j * nx + i;
    } else {
      return i * ny + j;
    }
  }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
