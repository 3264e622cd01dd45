#pragma once

#include <cstddef>

// Order that TBB gives but ThreadSanitizer cannot see. The system TBB is not
// instrumented: it hands work to its threads, passes pipeline items between
// stages and joins its threads through atomics inside libtbb. Where the
// threader relies on that order, it declares it to ThreadSanitizer; in other
// builds these calls are empty.
#if defined(__SANITIZE_THREAD__)
#define QRX_SERV_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QRX_SERV_TSAN 1
#endif
#endif

#ifdef QRX_SERV_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace qrx_serv {

// `count` synchronisation objects, at most `capacity`: what a thread did
// before release(i) happens before what a thread does after a later
// acquire(i). The object's own bytes serve, so that no thread reads anything
// before it acquires; the object lives on the calling thread's stack, so a
// later call that finds the same address runs on the same thread, after this
// one.
class tsan_order {
 public:
  static constexpr std::size_t capacity = 68;
  tsan_order() = default;
  tsan_order(const tsan_order&) = delete;
  tsan_order& operator=(const tsan_order&) = delete;
  void release(std::size_t i) {
#ifdef QRX_SERV_TSAN
    __tsan_release(&sync_[i]);
#else
    (void)i;
#endif
  }
  void acquire(std::size_t i) {
#ifdef QRX_SERV_TSAN
    __tsan_acquire(&sync_[i]);
#else
    (void)i;
#endif
  }

 private:
  [[maybe_unused]] char sync_[capacity] = {};  // read only by ThreadSanitizer builds
};

}  // namespace qrx_serv
