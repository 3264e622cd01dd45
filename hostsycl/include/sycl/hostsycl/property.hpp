#pragma once

#include <any>
#include <typeindex>
#include <utility>
#include <vector>

#include "sycl/hostsycl/exception.hpp"

namespace sycl {

namespace property::queue {
// Each command behaves as if it depended on the previous command of its queue.
struct in_order {};
}  // namespace property::queue

class property_list {
 public:
  template <typename... Properties>
  property_list(Properties... props) {
    (entries_.emplace_back(std::type_index(typeid(Properties)), std::any(props)), ...);
  }

  template <typename Property>
  bool has_property() const noexcept {
    return find(typeid(Property)) != nullptr;
  }

  template <typename Property>
  Property get_property() const {
    const std::any* value = find(typeid(Property));
    if (value == nullptr) throw sycl::exception(make_error_code(errc::invalid), "property not in the list");
    return std::any_cast<Property>(*value);
  }

 private:
  const std::any* find(std::type_index type) const noexcept {
    for (const auto& entry : entries_)
      if (entry.first == type) return &entry.second;
    return nullptr;
  }
  std::vector<std::pair<std::type_index, std::any>> entries_;
};

}  // namespace sycl
