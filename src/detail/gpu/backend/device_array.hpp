#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <sycl/sycl.hpp>

namespace velora::qrx::experimental::data_fitting::detail {

// count elements of device memory on the queue's device, for tables the
// spline's work builds and reads. Freed when the last owner lets go; owners
// let go only once the work using the memory has completed
// (kept_until_complete). Null when memory cannot be had.
template <typename T>
std::shared_ptr<T> make_device_array(const sycl::queue& queue, std::int64_t count) {
  T* data = sycl::malloc_device<T>(static_cast<std::size_t>(count), queue);
  if (data == nullptr) return nullptr;
  const sycl::context context = queue.get_context();
  return std::shared_ptr<T>(data, [context](T* p) { sycl::free(p, context); });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
