#pragma once

// Helpers shared by the spline suites: USM arrays, exact message texts and a
// host evaluation of one polynomial piece.

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "data_fitting/data_fitting.hpp"

namespace spline_test {

namespace df = velora::qrx::experimental::data_fitting;
using linear = df::linear_spline::default_type;
using hermite = df::cubic_spline::hermite;

// A shared USM array, freed with the object.
template <typename T>
class usm_array {
 public:
  usm_array(const sycl::queue& q, std::size_t n, T fill = T(0))
      : q_(q), n_(n), data_(sycl::malloc_shared<T>(n + 1, q)) {
    std::fill_n(data_, n, fill);
  }
  usm_array(const sycl::queue& q, const std::vector<T>& init) : usm_array(q, init.size()) {
    std::copy(init.begin(), init.end(), data_);
  }
  usm_array(const usm_array&) = delete;
  usm_array& operator=(const usm_array&) = delete;
  ~usm_array() { sycl::free(data_, q_); }
  T* get() const { return data_; }
  T& operator[](std::size_t i) const { return data_[i]; }
  std::vector<T> to_vector() const { return std::vector<T>(data_, data_ + n_); }

 private:
  sycl::queue q_;
  std::size_t n_;
  T* data_;
};

// what() of an invalid_argument or computation_error of the library.
inline std::string invalid(const std::string& function, const std::string& info) {
  return "velora::qrx::data_fitting::" + function + ": invalid argument: " + info;
}
inline std::string computation(const std::string& function, const std::string& info) {
  return "velora::qrx::data_fitting::" + function + ": computation error: " + info;
}

// Runs f and expects an exception of class E whose what() is `text`.
template <typename E, typename F>
void expect_refusal(F&& f, const std::string& text) {
  try {
    f();
    ADD_FAILURE() << "nothing thrown, expected " << text;
  } catch (const E& e) {
    EXPECT_EQ(e.what(), text);
  }
}

// Derivative `order` at t of the piece c[0] + c[1] t + ... + c[m-1] t^(m-1).
template <typename T>
double piece(const T* c, int m, double t, int order) {
  double sum = 0;
  for (int q = m - 1; q >= order; --q) {
    double falling = 1;
    for (int i = 0; i < order; ++i) falling *= q - i;
    sum = sum * t + falling * c[q];
  }
  return sum;
}

template <typename T>
constexpr double tolerance(double scale = 1) {
  return 256 * std::numeric_limits<T>::epsilon() * scale;
}

inline sycl::queue gpu_queue() { return sycl::queue(sycl::gpu_selector_v); }

}  // namespace spline_test
