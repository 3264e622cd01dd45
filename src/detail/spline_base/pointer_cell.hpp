#pragma once

#include <cstddef>
#include <new>

#include <sycl/sycl.hpp>

#include "data_fitting/exceptions.hpp"
#include "detail/error_domain.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// A pointer cell is a one-element shared-USM array holding the address of a
// caller's array. Kernels receive the cell and read the address when they
// run, so the cell must stay allocated until they have completed.
//
// Allocates a cell on `queue` holding `target`. A failed allocation throws
// host_bad_alloc naming `setter`, before anything is stored.
template <typename T>
T** make_pointer_cell(const sycl::queue& queue, T* target, const char* setter) {
  constexpr std::size_t alignment = alignof(T*);
  constexpr std::size_t bytes = (sizeof(T*) + alignment - 1) / alignment * alignment;
  void* storage = sycl::aligned_alloc_shared(alignment, bytes, queue);
  if (storage == nullptr) throw velora::qrx::host_bad_alloc(error_domain, setter);
  return ::new (storage) T*(target);
}

}  // namespace velora::qrx::experimental::data_fitting::detail
