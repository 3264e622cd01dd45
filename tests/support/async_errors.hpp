#pragma once

// The library's own text of an asynchronous error, whichever SYCL
// implementation delivered it.

#include <exception>
#include <string>

#include <sycl/sycl.hpp>

namespace test_support {

#if defined(__ADAPTIVECPP__) || defined(__ACPP__)
// AdaptiveCpp carries a failure of host work as a sycl::exception with
// errc::runtime whose what() puts the origin of the error before the text.
inline constexpr const char* async_error_prefix = "from :0 @ (): ";
#endif

// The text of an exception taken from an exception_list. An error that does
// not arrive in the implementation's expected form keeps its whole what(),
// so a comparison with the library's text fails visibly.
inline std::string async_error_text(const std::exception& e) {
  const std::string text = e.what();
#if defined(__ADAPTIVECPP__) || defined(__ACPP__)
  const auto* carried = dynamic_cast<const sycl::exception*>(&e);
  const std::string prefix = async_error_prefix;
  if (carried != nullptr && carried->code() == sycl::make_error_code(sycl::errc::runtime) &&
      text.compare(0, prefix.size(), prefix) == 0)
    return text.substr(prefix.size());
#endif
  return text;
}

}  // namespace test_support
