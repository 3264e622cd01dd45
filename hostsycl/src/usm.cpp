#include <cstdint>
#include <map>
#include <mutex>
#include <new>

#include "impl.hpp"

namespace sycl {
namespace {

struct allocation {
  std::size_t size;
  usm::alloc kind;
  std::size_t alignment;
  std::shared_ptr<detail::context_impl> ctx;
};

// Every live USM allocation, by start address.
class registry {
 public:
  static registry& instance() {
    static registry* const the_registry = new registry();  // outlives late frees at exit
    return *the_registry;
  }

  void* allocate(std::size_t alignment, std::size_t bytes, usm::alloc kind, const context& ctx) {
    if (alignment == 0) alignment = alignof(std::max_align_t);
    if (bytes == 0 || (alignment & (alignment - 1)) != 0) return nullptr;
    if (bytes > static_cast<std::size_t>(-1) - alignment) return nullptr;
    const std::size_t rounded = (bytes + alignment - 1) / alignment * alignment;
    void* p = ::operator new(rounded, std::align_val_t(alignment), std::nothrow);
    if (p == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    live_[reinterpret_cast<std::uintptr_t>(p)] = allocation{rounded, kind, alignment, detail::impl_access::get(ctx)};
    return p;
  }

  void release(void* p, const context& ctx) {
    if (p == nullptr) return;
    std::size_t alignment = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = live_.find(reinterpret_cast<std::uintptr_t>(p));
      if (it == live_.end())
        throw sycl::exception(make_error_code(errc::invalid), "free of a pointer that is not a live USM allocation");
      if (it->second.ctx != detail::impl_access::get(ctx))
        throw sycl::exception(make_error_code(errc::invalid), "free through a context that did not allocate it");
      alignment = it->second.alignment;
      live_.erase(it);
    }
    ::operator delete(p, std::align_val_t(alignment));
  }

  usm::alloc kind_of(const void* p, const context& ctx) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    auto it = live_.upper_bound(address);
    if (it == live_.begin()) return usm::alloc::unknown;
    --it;
    if (address >= it->first + it->second.size) return usm::alloc::unknown;
    if (it->second.ctx != detail::impl_access::get(ctx)) return usm::alloc::unknown;
    return it->second.kind;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::uintptr_t, allocation> live_;
};

}  // namespace

void* aligned_alloc_device(std::size_t alignment, std::size_t numBytes, const device&, const context& syclContext) {
  return registry::instance().allocate(alignment, numBytes, usm::alloc::device, syclContext);
}
void* aligned_alloc_host(std::size_t alignment, std::size_t numBytes, const context& syclContext) {
  return registry::instance().allocate(alignment, numBytes, usm::alloc::host, syclContext);
}
void* aligned_alloc_shared(std::size_t alignment, std::size_t numBytes, const device&, const context& syclContext) {
  return registry::instance().allocate(alignment, numBytes, usm::alloc::shared, syclContext);
}

void free(void* ptr, const context& syclContext) { registry::instance().release(ptr, syclContext); }
void free(void* ptr, const queue& q) { registry::instance().release(ptr, q.get_context()); }

usm::alloc get_pointer_type(const void* ptr, const context& syclContext) {
  if (ptr == nullptr) return usm::alloc::unknown;
  return registry::instance().kind_of(ptr, syclContext);
}

}  // namespace sycl
