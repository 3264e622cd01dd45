#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <sycl/sycl.hpp>

namespace velora::qrx::experimental::data_fitting::detail {

// count flags in host memory of the queue's context, all 0, that kernels
// write or read and host work reads or writes. Freed when the last owner lets
// go; owners let go only on the calling thread, once the work using the
// flags has completed (kept_until_complete). Null when memory cannot be had.
inline std::shared_ptr<std::int32_t> make_host_flags(const sycl::queue& queue, std::int64_t count) {
  const sycl::context context = queue.get_context();
  std::int32_t* flags = sycl::malloc_host<std::int32_t>(static_cast<std::size_t>(count), context);
  if (flags == nullptr) return nullptr;
  for (std::int64_t i = 0; i < count; ++i) flags[i] = 0;
  return std::shared_ptr<std::int32_t>(flags, [context](std::int32_t* p) { sycl::free(p, context); });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
