#pragma once

// Order that TBB gives but ThreadSanitizer cannot see. The system TBB is not
// instrumented: it hands work to its threads and joins them through atomics
// inside libtbb. Where the runtime relies on that order, it declares it to
// ThreadSanitizer; in other builds these are empty.
#if defined(__SANITIZE_THREAD__)
#define HOSTSYCL_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define HOSTSYCL_TSAN 1
#endif
#endif

#ifdef HOSTSYCL_TSAN
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace sycl::detail {

// The fork and join of one parallel loop: what the calling thread did before
// the loop happens before every chunk, and every chunk before what the
// calling thread does after the loop. The object's own bytes are the
// synchronisation objects (a chunk reads nothing before it acquires); the
// object lives on the calling thread's stack, so a later loop that finds the
// same address runs on the same thread, after this one.
class fork_join_order {
 public:
  fork_join_order() { release(&fork_); }
  fork_join_order(const fork_join_order&) = delete;
  fork_join_order& operator=(const fork_join_order&) = delete;
  void chunk_begins() { acquire(&fork_); }
  void chunk_ends() { release(&join_); }
  void joined() { acquire(&join_); }

 private:
  static void release(void* sync) {
#ifdef HOSTSYCL_TSAN
    __tsan_release(sync);
#else
    (void)sync;
#endif
  }
  static void acquire(void* sync) {
#ifdef HOSTSYCL_TSAN
    __tsan_acquire(sync);
#else
    (void)sync;
#endif
  }
  char fork_ = 0;
  char join_ = 0;
};

}  // namespace sycl::detail
