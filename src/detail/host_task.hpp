#pragma once

#include <exception>
#include <type_traits>
#include <utility>
#include <vector>

#include <sycl/sycl.hpp>

#if defined(__ADAPTIVECPP__) || defined(__ACPP__)
#include <hipSYCL/runtime/error.hpp>
#endif

namespace velora::qrx::experimental::data_fitting::detail {

// Whether the SYCL implementation offers handler::host_task.
template <typename Handler, typename = void>
struct has_host_task : std::false_type {};
template <typename Handler>
struct has_host_task<Handler, std::void_t<decltype(std::declval<Handler&>().host_task(std::declval<void (*)()>()))>>
    : std::true_type {};

#if defined(__ADAPTIVECPP__) || defined(__ACPP__)
// AdaptiveCpp ends the process when an exception leaves a custom operation,
// so the work's failure is handed to the runtime's asynchronous error list
// instead: the queue's handler receives it at wait_and_throw or
// throw_asynchronous, as a sycl::exception whose what() ends with the
// library's own text.
template <typename Work>
void run_reporting_errors(Work& work) noexcept {
  auto report = [](const char* text) noexcept {
    try {
      hipsycl::rt::register_error(hipsycl::rt::source_location{"", "", 0}, hipsycl::rt::error_info{text});
    } catch (...) {
      // Nothing is left to report through; the work has ended either way.
    }
  };
  try {
    work();
  } catch (const std::exception& e) {
    report(e.what());
  } catch (...) {
    report("unknown error in host work");
  }
}
#endif

// Submits one command group holding one host task that runs `work` after
// `dependencies`. Every host task of the library goes through here:
// handler::host_task where the SYCL implementation has it, AdaptiveCpp's
// custom operation where it does not. An exception thrown by `work` reaches
// the queue's asynchronous handler either way.
template <typename Work>
sycl::event submit_host_task(sycl::queue& queue, const std::vector<sycl::event>& dependencies, Work&& work) {
  return queue.submit([&](auto& cgh) {
    cgh.depends_on(dependencies);
    using handler_type = std::decay_t<decltype(cgh)>;
    if constexpr (has_host_task<handler_type>::value) {
      cgh.host_task(std::forward<Work>(work));
    } else {
#if defined(__ADAPTIVECPP__) || defined(__ACPP__)
      cgh.AdaptiveCpp_enqueue_custom_operation(
          [work = std::forward<Work>(work)](sycl::interop_handle&) mutable { run_reporting_errors(work); });
#else
      static_assert(has_host_task<handler_type>::value, "this SYCL implementation has no host tasks");
#endif
    }
  });
}

}  // namespace velora::qrx::experimental::data_fitting::detail
