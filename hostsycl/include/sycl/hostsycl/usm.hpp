#pragma once

#include <cstddef>

#include "sycl/hostsycl/context.hpp"
#include "sycl/hostsycl/device.hpp"
#include "sycl/hostsycl/queue.hpp"

namespace sycl {

namespace usm {
enum class alloc { host, device, shared, unknown };
}

// All USM kinds are host memory here. Allocations are remembered with their
// context, kind and size so that frees through a foreign context and double
// frees are diagnosed. Zero bytes, failure or an alignment that is not a
// power of two give nullptr.
void* aligned_alloc_device(std::size_t alignment, std::size_t numBytes, const device& syclDevice,
                           const context& syclContext);
void* aligned_alloc_host(std::size_t alignment, std::size_t numBytes, const context& syclContext);
void* aligned_alloc_shared(std::size_t alignment, std::size_t numBytes, const device& syclDevice,
                           const context& syclContext);

inline void* malloc_device(std::size_t numBytes, const device& syclDevice, const context& syclContext) {
  return aligned_alloc_device(0, numBytes, syclDevice, syclContext);
}
inline void* malloc_device(std::size_t numBytes, const queue& q) {
  return malloc_device(numBytes, q.get_device(), q.get_context());
}
inline void* aligned_alloc_device(std::size_t alignment, std::size_t numBytes, const queue& q) {
  return aligned_alloc_device(alignment, numBytes, q.get_device(), q.get_context());
}
inline void* malloc_host(std::size_t numBytes, const context& syclContext) {
  return aligned_alloc_host(0, numBytes, syclContext);
}
inline void* malloc_host(std::size_t numBytes, const queue& q) { return malloc_host(numBytes, q.get_context()); }
inline void* aligned_alloc_host(std::size_t alignment, std::size_t numBytes, const queue& q) {
  return aligned_alloc_host(alignment, numBytes, q.get_context());
}
inline void* malloc_shared(std::size_t numBytes, const device& syclDevice, const context& syclContext) {
  return aligned_alloc_shared(0, numBytes, syclDevice, syclContext);
}
inline void* malloc_shared(std::size_t numBytes, const queue& q) {
  return malloc_shared(numBytes, q.get_device(), q.get_context());
}
inline void* aligned_alloc_shared(std::size_t alignment, std::size_t numBytes, const queue& q) {
  return aligned_alloc_shared(alignment, numBytes, q.get_device(), q.get_context());
}

namespace detail {
// Typed forms take an element count: count elements of T through the untyped
// allocation `alloc(alignment, bytes)`; an overflowing byte count fails.
template <typename T, typename Alloc>
T* typed_alloc(std::size_t alignment, std::size_t count, Alloc&& alloc) {
  if (count > static_cast<std::size_t>(-1) / sizeof(T)) return nullptr;
  return static_cast<T*>(alloc(alignment == 0 ? alignof(T) : alignment, count * sizeof(T)));
}
}  // namespace detail

template <typename T>
T* aligned_alloc_device(std::size_t alignment, std::size_t count, const queue& q) {
  return detail::typed_alloc<T>(alignment, count,
                                [&](std::size_t a, std::size_t n) { return aligned_alloc_device(a, n, q); });
}
template <typename T>
T* aligned_alloc_host(std::size_t alignment, std::size_t count, const queue& q) {
  return detail::typed_alloc<T>(alignment, count,
                                [&](std::size_t a, std::size_t n) { return aligned_alloc_host(a, n, q); });
}
template <typename T>
T* aligned_alloc_shared(std::size_t alignment, std::size_t count, const queue& q) {
  return detail::typed_alloc<T>(alignment, count,
                                [&](std::size_t a, std::size_t n) { return aligned_alloc_shared(a, n, q); });
}
template <typename T>
T* malloc_device(std::size_t count, const queue& q) {
  return aligned_alloc_device<T>(0, count, q);
}
template <typename T>
T* malloc_host(std::size_t count, const queue& q) {
  return aligned_alloc_host<T>(0, count, q);
}
template <typename T>
T* malloc_shared(std::size_t count, const queue& q) {
  return aligned_alloc_shared<T>(0, count, q);
}
template <typename T>
T* malloc_device(std::size_t count, const device& syclDevice, const context& syclContext) {
  return detail::typed_alloc<T>(
      0, count, [&](std::size_t a, std::size_t n) { return aligned_alloc_device(a, n, syclDevice, syclContext); });
}
template <typename T>
T* malloc_host(std::size_t count, const context& syclContext) {
  return detail::typed_alloc<T>(0, count,
                                [&](std::size_t a, std::size_t n) { return aligned_alloc_host(a, n, syclContext); });
}
template <typename T>
T* malloc_shared(std::size_t count, const device& syclDevice, const context& syclContext) {
  return detail::typed_alloc<T>(
      0, count, [&](std::size_t a, std::size_t n) { return aligned_alloc_shared(a, n, syclDevice, syclContext); });
}

// Null is a no-op; an unknown pointer or a foreign context throws errc::invalid.
void free(void* ptr, const context& syclContext);
void free(void* ptr, const queue& q);

usm::alloc get_pointer_type(const void* ptr, const context& syclContext);

}  // namespace sycl
