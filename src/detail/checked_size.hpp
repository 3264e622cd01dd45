#pragma once

#include <cstdint>
#include <limits>
#include <optional>

#include "data_fitting/exceptions.hpp"
#include "detail/error_domain.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// The product of non-negative sizes, or nothing when a factor is negative or
// the product does not fit in std::int64_t. Never overflows.
inline std::optional<std::int64_t> size_product(std::int64_t a, std::int64_t b) noexcept {
  if (a < 0 || b < 0) return std::nullopt;
  if (a != 0 && b > std::numeric_limits<std::int64_t>::max() / a) return std::nullopt;
  return a * b;
}

template <typename... Rest>
std::optional<std::int64_t> size_product(std::int64_t a, std::int64_t b, std::int64_t c, Rest... rest) noexcept {
  const std::optional<std::int64_t> ab = size_product(a, b);
  if (!ab) return std::nullopt;
  return size_product(*ab, c, rest...);
}

// The product of the sizes, or invalid_argument naming `function` with
// `info` when it does not fit.
template <typename... Sizes>
std::int64_t checked_size(const char* function, const char* info, Sizes... sizes) {
  const std::optional<std::int64_t> product = size_product(static_cast<std::int64_t>(sizes)...);
  if (!product) throw velora::qrx::invalid_argument(error_domain, function, info);
  return *product;
}

}  // namespace velora::qrx::experimental::data_fitting::detail
