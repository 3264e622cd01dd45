#pragma once

#include <type_traits>

namespace velora::qrx::experimental::data_fitting::detail {

// A compile-time list of the accepted values of one hint.
template <typename T, T... Values>
struct value_list {
  static constexpr bool contains(T v) { return ((v == Values) || ...); }
};

// Calls f(std::integral_constant<T, V>{}) for the V of `list` equal to the
// run-time value v and returns true, or returns false when v is not in the
// list. This is how a run-time hint picks a kernel instantiation: the list is
// the only place that names the accepted values.
template <typename T, T... Values, typename F>
constexpr bool select(value_list<T, Values...>, T v, F&& f) {
  return ((v == Values ? (f(std::integral_constant<T, Values>{}), true) : false) || ...);
}

}  // namespace velora::qrx::experimental::data_fitting::detail
