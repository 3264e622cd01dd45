#pragma once

#include <type_traits>

namespace sycl {

// The function objects SYCL 2020 names for reductions (§4.17.2), for the
// operators whose result does not depend on the order of combination on
// integers.
template <typename T = void>
struct bit_or {
  T operator()(const T& x, const T& y) const { return x | y; }
};
template <typename T = void>
struct bit_and {
  T operator()(const T& x, const T& y) const { return x & y; }
};
template <typename T = void>
struct minimum {
  T operator()(const T& x, const T& y) const { return y < x ? y : x; }
};
template <typename T = void>
struct maximum {
  T operator()(const T& x, const T& y) const { return x < y ? y : x; }
};

// What a work-item of a kernel with a reduction combines its values into
// (§4.9.2.3); one per run of work-items here, so combining touches no
// shared memory.
template <typename T, typename BinaryOperation>
class reducer {
 public:
  reducer(const reducer&) = delete;
  reducer& operator=(const reducer&) = delete;

  void combine(const T& partial) { value_ = op_(value_, partial); }
  T identity() const { return identity_; }

  friend void operator|=(reducer& r, const T& partial) { r.combine(partial); }
  friend void operator&=(reducer& r, const T& partial) { r.combine(partial); }

 private:
  template <typename, typename>
  friend struct detail_reduction_access;
  reducer(T identity, BinaryOperation op) : value_(identity), identity_(identity), op_(op) {}
  T value_;
  T identity_;
  BinaryOperation op_;
};

namespace detail {

// The reduction a kernel is launched with: the variable, in USM, combined
// with what the work-items found when the kernel ends.
template <typename T, typename BinaryOperation>
struct reduction_spec {
  T* var;
  T identity;
  BinaryOperation op;
};

}  // namespace detail

template <typename T, typename BinaryOperation>
struct detail_reduction_access {
  static reducer<T, BinaryOperation> make(const detail::reduction_spec<T, BinaryOperation>& spec) {
    return reducer<T, BinaryOperation>(spec.identity, spec.op);
  }
  static T value(const reducer<T, BinaryOperation>& r) { return r.value_; }
};

// sycl::reduction (§4.9.2.1) over USM: the result is combined with *var's
// value before the kernel. Integers only, with the operators above, so that
// the result is the same whatever the runtime's threads do.
template <typename T, typename BinaryOperation>
detail::reduction_spec<T, BinaryOperation> reduction(T* var, const T& identity, BinaryOperation combiner) {
  static_assert(std::is_integral_v<T>, "hostsycl reduces integers only: their result does not depend on order");
  return {var, identity, combiner};
}

}  // namespace sycl
