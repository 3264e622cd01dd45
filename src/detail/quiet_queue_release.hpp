#pragma once

#include <new>
#include <utility>

#include <sycl/sycl.hpp>

#if defined(__ADAPTIVECPP__) || defined(__ACPP__)
#include <vector>

#include <hipSYCL/runtime/application.hpp>
#include <hipSYCL/runtime/async_errors.hpp>
#include <hipSYCL/runtime/error.hpp>
#endif

namespace velora::qrx::experimental::data_fitting::detail {

// Ends the lifetime of a queue object the library holds without handing any
// asynchronous error to a handler. Errors belong to the caller, who collects
// them at the next wait_and_throw or throw_asynchronous of their own queue;
// a destructor of ours that delivered them would call the caller's handler
// at a moment the caller did not choose, and a rethrowing handler there ends
// the process.
//
// AdaptiveCpp delivers the program's pending errors whenever any queue
// object is destroyed, so there they are taken aside for the destruction and
// put back in the same order afterwards (the runtime prints each again when
// it is put back). An error that other work registers during those few
// instructions is delivered by the destruction as the runtime would anyway.
inline void release_queue_quietly(sycl::queue& queue) noexcept {
#if defined(__ADAPTIVECPP__) || defined(__ACPP__)
  hipsycl::rt::async_error_list& errors = hipsycl::rt::application::errors();
  std::vector<hipsycl::rt::result> kept;
  try {
    errors.pop_each_error([&](const hipsycl::rt::result& r) { kept.push_back(r); });
  } catch (...) {
    // Out of memory while copying: the list was left whole, so nothing is
    // put back twice.
    kept.clear();
  }
  queue.~queue();
  for (const hipsycl::rt::result& r : kept) {
    try {
      errors.add(r);
    } catch (...) {
      // Nothing is left to put it back through.
    }
  }
#else
  queue.~queue();
#endif
}

// A queue the library makes for a moment (from a device and a context),
// released quietly when it goes out of scope.
class scoped_queue {
 public:
  template <typename... Args>
  explicit scoped_queue(Args&&... args) {
    new (&queue_) sycl::queue(std::forward<Args>(args)...);
  }
  scoped_queue(const scoped_queue&) = delete;
  scoped_queue& operator=(const scoped_queue&) = delete;
  ~scoped_queue() { release_queue_quietly(queue_); }

  sycl::queue& get() { return queue_; }

 private:
  union {
    sycl::queue queue_;
  };
};

}  // namespace velora::qrx::experimental::data_fitting::detail
