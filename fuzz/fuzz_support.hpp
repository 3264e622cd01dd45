#pragma once

// What the harnesses share: exactly sized arrays, the report of a broken
// invariant, and the decoding of a fuzzer's byte stream into sizes, flags,
// hint values and floating-point data. Once the bytes run out every read
// yields zero, which decodes to the plainest choice (first option, small
// sizes, ordinary values), so short inputs still describe complete calls.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>

namespace qrx_fuzz {

// Reports a broken invariant and stops the process, so libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::fputs("fuzz invariant broken: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
  va_end(args);
  std::abort();
}

// A heap array of exactly n elements (n may be 0), so that AddressSanitizer
// reports any read or write past its end.
template <typename T>
std::unique_ptr<T[]> exact_array(std::int64_t n) {
  return std::unique_ptr<T[]>(new T[static_cast<std::size_t>(n)]());
}

// a*b*c, or -1 when a factor is negative or the product overflows: the
// element count of an array that the harnesses can or cannot hand over.
inline std::int64_t product(std::int64_t a, std::int64_t b, std::int64_t c = 1) {
  std::int64_t p = 0;
  if (a < 0 || b < 0 || c < 0 || __builtin_mul_overflow(a, b, &p) || __builtin_mul_overflow(p, c, &p)) return -1;
  return p;
}

class fuzz_input {
 public:
  fuzz_input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  bool flag() { return (byte() & 1) != 0; }

  // An index in [0, n), n >= 1.
  std::uint32_t pick(std::uint32_t n) { return static_cast<std::uint32_t>(byte()) % n; }

  // An integer in [lo, hi], hi - lo < 2^16.
  std::int64_t in_range(std::int64_t lo, std::int64_t hi) {
    const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
    const std::uint64_t raw = (std::uint64_t{byte()} << 8) | byte();
    return lo + static_cast<std::int64_t>(raw % span);
  }

  std::uint64_t raw64() {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | byte();
    return v;
  }

  // A count or size argument: mostly small ([lo, hi]), sometimes one of the
  // values that break careless arithmetic. The extremes are negative or at
  // least 2^60, so that code which checks its products refuses them before
  // it allocates anything.
  std::int64_t count(std::int64_t lo, std::int64_t hi) {
    static constexpr std::int64_t extremes[] = {std::numeric_limits<std::int64_t>::min(),
                                                std::numeric_limits<std::int64_t>::min() + 1,
                                                -1,
                                                -2,
                                                std::int64_t{1} << 60,
                                                std::int64_t{1} << 62,
                                                std::numeric_limits<std::int64_t>::max() - 1,
                                                std::numeric_limits<std::int64_t>::max()};
    const std::uint8_t selector = byte();
    if (selector >= 248) return extremes[selector - 248];
    return in_range(lo, hi);
  }

  // A hint or type value: mostly one of `known`, sometimes a single other
  // bit, zero or an arbitrary 64-bit value.
  template <std::size_t N>
  std::int64_t hint(const std::int64_t (&known)[N]) {
    const std::uint8_t selector = byte();
    if (selector < 224) return known[selector % N];
    if (selector < 240) return std::int64_t{1} << (selector - 224);
    if (selector < 244) return 0;
    return static_cast<std::int64_t>(raw64());
  }

  // A floating-point value: mostly a modest number, sometimes a special one
  // (NaN, infinities, extremes, subnormals, signed zeros) or raw bits.
  template <typename T>
  T value() {
    const std::uint8_t selector = byte();
    switch (selector) {
      case 240: return std::numeric_limits<T>::quiet_NaN();
      case 241: return std::numeric_limits<T>::infinity();
      case 242: return -std::numeric_limits<T>::infinity();
      case 243: return std::numeric_limits<T>::max();
      case 244: return std::numeric_limits<T>::lowest();
      case 245: return std::numeric_limits<T>::denorm_min();
      case 246: return -T(0);
      case 247: return std::numeric_limits<T>::min();
      case 248: return T(1) / std::numeric_limits<T>::epsilon();
      case 249:
      case 250:
      case 251: return bits<T>();
      default: break;
    }
    if (selector >= 252) return static_cast<T>(static_cast<std::int8_t>(byte())) * T(1e30);
    // Quarter steps in [-30, 30): exact in both precisions, with repeats.
    return static_cast<T>(static_cast<int>(selector) - 120) * T(0.25);
  }

  // Breakpoints: increasing by positive steps in most inputs, else with
  // repeats, decreasing, or arbitrary values.
  template <typename T>
  void breakpoints(T* x, std::int64_t n) {
    const std::uint32_t mode = pick(8);
    T v = value<T>();
    for (std::int64_t i = 0; i < n; ++i) {
      if (mode >= 5) {
        x[i] = value<T>();
        continue;
      }
      const std::uint8_t b = byte();
      const T step = static_cast<T>(b % 64 + (mode == 4 ? 0 : 1)) * T(0.125);
      if (i > 0) v = mode == 3 ? v - step : v + step;
      if (b >= 250) v = value<T>();  // an occasional special breakpoint
      x[i] = v;
    }
  }

  bool exhausted() const { return pos_ >= size_; }

 private:
  template <typename T>
  T bits() {
    using U = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
    const auto u = static_cast<U>(raw64());
    T v;
    std::memcpy(&v, &u, sizeof v);
    return v;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace qrx_fuzz
