#pragma once

// A queue on one back-end's device whose asynchronous handler keeps the
// library's text of every error it is handed, for the suites that hold both
// back-ends to the same refusals.

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "support/async_errors.hpp"
#include "support/backend_fixture.hpp"

namespace backend_test {

struct collecting {
  explicit collecting(backend b)
      : q(queue_for(b).get_device(), [errors = errors](sycl::exception_list list) {
          for (const auto& e : list) {
            try {
              std::rethrow_exception(e);
            } catch (const std::exception& x) {
              errors->push_back(test_support::async_error_text(x));
            }
          }
        }) {}
  // Waits for the queue's work and hands over the texts kept so far.
  std::vector<std::string> take() {
    q.wait_and_throw();
    std::vector<std::string> taken;
    taken.swap(*errors);
    return taken;
  }
  std::shared_ptr<std::vector<std::string>> errors = std::make_shared<std::vector<std::string>>();
  sycl::queue q;
};

}  // namespace backend_test
