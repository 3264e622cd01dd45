#pragma once

#include <cstddef>

namespace sycl {

template <int Dimensions = 1>
class range;
template <int Dimensions = 1>
class id;
template <int Dimensions = 1, bool WithOffset = false>
class item;

namespace detail {
struct item_access;
}

template <>
class range<1> {
 public:
  range() = default;
  range(std::size_t dim0) : value_(dim0) {}

  std::size_t get(int) const { return value_; }
  std::size_t& operator[](int) { return value_; }
  std::size_t operator[](int) const { return value_; }
  std::size_t size() const { return value_; }

  friend bool operator==(const range& a, const range& b) { return a.value_ == b.value_; }
  friend bool operator!=(const range& a, const range& b) { return a.value_ != b.value_; }
  friend range operator+(const range& a, const range& b) { return range(a.value_ + b.value_); }
  friend range operator-(const range& a, const range& b) { return range(a.value_ - b.value_); }
  friend range operator*(const range& a, const range& b) { return range(a.value_ * b.value_); }
  friend range operator/(const range& a, const range& b) { return range(a.value_ / b.value_); }
  friend range operator%(const range& a, const range& b) { return range(a.value_ % b.value_); }

 private:
  std::size_t value_ = 0;
};

template <>
class item<1, true>;

template <>
class item<1, false> {
 public:
  item() = delete;

  id<1> get_id() const;
  std::size_t get_id(int) const { return index_; }
  std::size_t operator[](int) const { return index_; }
  range<1> get_range() const { return range_; }
  std::size_t get_range(int) const { return range_.size(); }
  std::size_t get_linear_id() const { return index_; }
  operator std::size_t() const { return index_; }

  friend bool operator==(const item& a, const item& b) { return a.index_ == b.index_ && a.range_ == b.range_; }
  friend bool operator!=(const item& a, const item& b) { return !(a == b); }

 private:
  friend struct detail::item_access;
  item(range<1> r, std::size_t index) : range_(r), index_(index) {}
  range<1> range_;
  std::size_t index_;
};

template <>
class id<1> {
 public:
  id() = default;
  id(std::size_t dim0) : value_(dim0) {}
  id(const range<1>& r) : value_(r.size()) {}
  template <bool WithOffset>
  id(const item<1, WithOffset>& it) : value_(it.get_id(0)) {}

  std::size_t get(int) const { return value_; }
  std::size_t& operator[](int) { return value_; }
  std::size_t operator[](int) const { return value_; }
  operator std::size_t() const { return value_; }

  friend bool operator==(const id& a, const id& b) { return a.value_ == b.value_; }
  friend bool operator!=(const id& a, const id& b) { return a.value_ != b.value_; }

 private:
  std::size_t value_ = 0;
};

inline id<1> item<1, false>::get_id() const { return id<1>(index_); }

namespace detail {
struct item_access {
  static item<1> make(range<1> r, std::size_t index) { return item<1>(r, index); }
};
}  // namespace detail

}  // namespace sycl
