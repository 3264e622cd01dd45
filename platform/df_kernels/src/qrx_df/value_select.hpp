#pragma once

#include <type_traits>

namespace qrx_df {

// The accepted values of one argument, as a compile-time list.
template <typename T, T... Values>
struct value_list {
  static constexpr bool contains(T v) { return ((v == Values) || ...); }
};

// Calls f(std::integral_constant<T, V>{}) for the V of the list equal to v;
// false when v is not in the list. A run-time value picks an instantiation.
template <typename T, T... Values, typename F>
constexpr bool select(value_list<T, Values...>, T v, F&& f) {
  return ((v == Values ? (f(std::integral_constant<T, Values>{}), true) : false) || ...);
}

}  // namespace qrx_df
