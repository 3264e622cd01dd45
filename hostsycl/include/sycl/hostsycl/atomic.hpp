#pragma once

#include <cstdint>
#include <type_traits>

namespace sycl {

// Memory orders and scopes of SYCL 2020 atomics (§3.8.3). On the host every
// scope is the whole process, so the scope only has to be accepted.
enum class memory_order : int { relaxed, acquire, release, acq_rel, seq_cst };
enum class memory_scope : int { work_item, sub_group, work_group, device, system };

namespace access {
enum class address_space : int { global_space, local_space, constant_space, private_space, generic_space };
}  // namespace access

namespace detail {

constexpr int builtin_order(memory_order order) {
  switch (order) {
    case memory_order::relaxed:
      return __ATOMIC_RELAXED;
    case memory_order::acquire:
      return __ATOMIC_ACQUIRE;
    case memory_order::release:
      return __ATOMIC_RELEASE;
    case memory_order::acq_rel:
      return __ATOMIC_ACQ_REL;
    case memory_order::seq_cst:
      break;
  }
  return __ATOMIC_SEQ_CST;
}

// Loads may not carry release semantics, nor stores acquire ones.
constexpr int load_order(memory_order order) {
  return order == memory_order::release ? __ATOMIC_RELAXED
         : order == memory_order::acq_rel ? __ATOMIC_ACQUIRE
                                          : builtin_order(order);
}
constexpr int store_order(memory_order order) {
  return order == memory_order::acquire ? __ATOMIC_RELAXED
         : order == memory_order::acq_rel ? __ATOMIC_RELEASE
                                          : builtin_order(order);
}

}  // namespace detail

// sycl::atomic_ref (§4.15.3) for the integral types: atomic operations on an
// object that is not itself atomic, here the compiler's atomic built-ins on
// its address. Floating-point atomics are left out on purpose: their order
// of application would make results depend on scheduling.
template <typename T, memory_order DefaultOrder, memory_scope DefaultScope,
          access::address_space AddressSpace = access::address_space::generic_space>
class atomic_ref {
  static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool> && (sizeof(T) == 4 || sizeof(T) == 8),
                "hostsycl provides atomic_ref for 32- and 64-bit integers only");

 public:
  using value_type = T;
  using difference_type = T;
  static constexpr std::size_t required_alignment = alignof(T);
  static constexpr bool is_always_lock_free = true;
  static constexpr memory_order default_read_order =
      DefaultOrder == memory_order::acq_rel ? memory_order::acquire : DefaultOrder;
  static constexpr memory_order default_write_order =
      DefaultOrder == memory_order::acq_rel ? memory_order::release : DefaultOrder;
  static constexpr memory_order default_read_modify_write_order = DefaultOrder;
  static constexpr memory_scope default_scope = DefaultScope;

  explicit atomic_ref(T& ref) : ptr_(&ref) {}
  atomic_ref(const atomic_ref&) noexcept = default;
  atomic_ref& operator=(const atomic_ref&) = delete;

  bool is_lock_free() const noexcept { return true; }

  void store(T operand, memory_order order = default_write_order,
             memory_scope = default_scope) const noexcept {
    __atomic_store_n(ptr_, operand, detail::store_order(order));
  }
  T operator=(T desired) const noexcept {
    store(desired);
    return desired;
  }
  T load(memory_order order = default_read_order, memory_scope = default_scope) const noexcept {
    return __atomic_load_n(ptr_, detail::load_order(order));
  }
  operator T() const noexcept { return load(); }

  T exchange(T operand, memory_order order = default_read_modify_write_order,
             memory_scope = default_scope) const noexcept {
    return __atomic_exchange_n(ptr_, operand, detail::builtin_order(order));
  }

  bool compare_exchange_strong(T& expected, T desired, memory_order success, memory_order failure,
                               memory_scope = default_scope) const noexcept {
    return __atomic_compare_exchange_n(ptr_, &expected, desired, false, detail::builtin_order(success),
                                       detail::load_order(failure));
  }
  bool compare_exchange_strong(T& expected, T desired, memory_order order = default_read_modify_write_order,
                               memory_scope scope = default_scope) const noexcept {
    return compare_exchange_strong(expected, desired, order, failure_order(order), scope);
  }
  bool compare_exchange_weak(T& expected, T desired, memory_order success, memory_order failure,
                             memory_scope = default_scope) const noexcept {
    return __atomic_compare_exchange_n(ptr_, &expected, desired, true, detail::builtin_order(success),
                                       detail::load_order(failure));
  }
  bool compare_exchange_weak(T& expected, T desired, memory_order order = default_read_modify_write_order,
                             memory_scope scope = default_scope) const noexcept {
    return compare_exchange_weak(expected, desired, order, failure_order(order), scope);
  }

  T fetch_add(T operand, memory_order order = default_read_modify_write_order,
              memory_scope = default_scope) const noexcept {
    return __atomic_fetch_add(ptr_, operand, detail::builtin_order(order));
  }
  T fetch_sub(T operand, memory_order order = default_read_modify_write_order,
              memory_scope = default_scope) const noexcept {
    return __atomic_fetch_sub(ptr_, operand, detail::builtin_order(order));
  }
  T fetch_and(T operand, memory_order order = default_read_modify_write_order,
              memory_scope = default_scope) const noexcept {
    return __atomic_fetch_and(ptr_, operand, detail::builtin_order(order));
  }
  T fetch_or(T operand, memory_order order = default_read_modify_write_order,
             memory_scope = default_scope) const noexcept {
    return __atomic_fetch_or(ptr_, operand, detail::builtin_order(order));
  }
  T fetch_xor(T operand, memory_order order = default_read_modify_write_order,
              memory_scope = default_scope) const noexcept {
    return __atomic_fetch_xor(ptr_, operand, detail::builtin_order(order));
  }
  T fetch_min(T operand, memory_order order = default_read_modify_write_order,
              memory_scope scope = default_scope) const noexcept {
    T old = load(memory_order::relaxed);
    while (operand < old && !compare_exchange_weak(old, operand, order, memory_order::relaxed, scope)) {
    }
    return old;
  }
  T fetch_max(T operand, memory_order order = default_read_modify_write_order,
              memory_scope scope = default_scope) const noexcept {
    T old = load(memory_order::relaxed);
    while (old < operand && !compare_exchange_weak(old, operand, order, memory_order::relaxed, scope)) {
    }
    return old;
  }

  T operator++(int) const noexcept { return fetch_add(1); }
  T operator--(int) const noexcept { return fetch_sub(1); }
  T operator++() const noexcept { return fetch_add(1) + 1; }
  T operator--() const noexcept { return fetch_sub(1) - 1; }
  T operator+=(T operand) const noexcept { return fetch_add(operand) + operand; }
  T operator-=(T operand) const noexcept { return fetch_sub(operand) - operand; }
  T operator&=(T operand) const noexcept { return fetch_and(operand) & operand; }
  T operator|=(T operand) const noexcept { return fetch_or(operand) | operand; }
  T operator^=(T operand) const noexcept { return fetch_xor(operand) ^ operand; }

 private:
  static constexpr memory_order failure_order(memory_order order) {
    return order == memory_order::acq_rel ? memory_order::acquire
           : order == memory_order::release ? memory_order::relaxed
                                            : order;
  }

  T* ptr_;
};

}  // namespace sycl
