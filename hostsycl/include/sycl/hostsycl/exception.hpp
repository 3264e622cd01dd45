#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace sycl {

enum class errc {
  success = 0,
  runtime,
  kernel,
  accessor,
  nd_range,
  event,
  kernel_argument,
  build,
  invalid,
  memory_allocation,
  platform,
  profiling,
  feature_not_supported,
  kernel_not_supported,
  backend_mismatch,
};

const std::error_category& sycl_category() noexcept;
std::error_code make_error_code(errc e) noexcept;

}  // namespace sycl

namespace std {
template <>
struct is_error_code_enum<sycl::errc> : true_type {};
}  // namespace std

namespace sycl {

class exception : public virtual std::exception {
 public:
  exception(std::error_code ec, const std::string& what_arg);
  exception(std::error_code ec, const char* what_arg);
  exception(std::error_code ec);
  exception(const exception&) = default;
  exception& operator=(const exception&) = default;
  ~exception() override;

  const std::error_code& code() const noexcept { return code_; }
  const std::error_category& category() const noexcept { return code_.category(); }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::error_code code_;
  std::string what_;
};

namespace detail {
struct exception_list_access;
}

// The asynchronous errors handed to an async_handler in one delivery.
class exception_list {
 public:
  using value_type = std::exception_ptr;
  using reference = value_type&;
  using const_reference = const value_type&;
  using size_type = std::size_t;
  using iterator = std::vector<std::exception_ptr>::const_iterator;
  using const_iterator = std::vector<std::exception_ptr>::const_iterator;

  size_type size() const { return errors_.size(); }
  iterator begin() const { return errors_.begin(); }
  iterator end() const { return errors_.end(); }

 private:
  friend struct detail::exception_list_access;
  explicit exception_list(std::vector<std::exception_ptr> errors) : errors_(std::move(errors)) {}
  std::vector<std::exception_ptr> errors_;
};

using async_handler = std::function<void(sycl::exception_list)>;

}  // namespace sycl
