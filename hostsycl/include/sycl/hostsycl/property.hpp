#pragma once

#include <any>
#include <type_traits>
#include <typeindex>
#include <utility>
#include <vector>

#include "sycl/hostsycl/exception.hpp"

namespace sycl {

namespace property::queue {
// Each command behaves as if it depended on the previous command of its queue.
struct in_order {};
}  // namespace property::queue

template <typename T>
struct is_property : std::false_type {};
template <>
struct is_property<property::queue::in_order> : std::true_type {};
template <typename T>
inline constexpr bool is_property_v = is_property<T>::value;

class property_list {
 public:
  template <typename... Properties, typename = std::enable_if_t<(is_property_v<Properties> && ...)>>
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
