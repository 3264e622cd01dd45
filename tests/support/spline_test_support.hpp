#pragma once

// Helpers shared by the spline suites.

#include <algorithm>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "data_fitting/data_fitting.hpp"
#include "support/devices.hpp"
#include "support/host_work.hpp"

namespace spline_test {

namespace df = velora::qrx::experimental::data_fitting;
using linear = df::linear_spline::default_type;
using hermite = df::cubic_spline::hermite;

// A shared USM array of n elements (and one spare), freed with the object.
template <typename T>
struct usm_array {
  usm_array(const sycl::queue& q, std::size_t n, T fill = T(0))
      : n_(n), data_(sycl::malloc_shared<T>(n + 1, q), [q](T* p) { sycl::free(p, q); }) {
    std::fill_n(get(), n, fill);
  }
  usm_array(const sycl::queue& q, const std::vector<T>& init) : usm_array(q, init.size()) {
    std::copy(init.begin(), init.end(), get());
  }
  T* get() const { return data_.get(); }
  T& operator[](std::size_t i) const { return get()[i]; }
  std::vector<T> to_vector() const { return std::vector<T>(get(), get() + n_); }
  std::size_t n_;
  std::unique_ptr<T, std::function<void(T*)>> data_;
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
template <typename F>
void expect_invalid(F&& f, const std::string& function, const std::string& info) {
  expect_refusal<velora::qrx::invalid_argument>(f, invalid(function, info));
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

// A command on q that completes only once `open` is set.
inline sycl::event held_until(sycl::queue& q, std::promise<void>& open) {
  return test_support::held_until(q, open.get_future().share());
}

// Base of the suites typed over the four splines, on the GPU-class device.
template <typename P>
struct spline_suite : ::testing::Test {
  using T = std::tuple_element_t<0, P>;
  using S = std::tuple_element_t<1, P>;
  using spline_t = df::spline<T, S, 1>;
  static constexpr bool is_hermite = std::is_same_v<S, hermite>;
  static constexpr int m = is_hermite ? 4 : 2;  // coefficients per cell, derivative orders
  void SetUp() override { QRX_REQUIRE_GPU_DEVICE(); }
  sycl::queue q = test_support::kernel_queue();
};
using spline_types = ::testing::Types<std::tuple<float, linear>, std::tuple<double, linear>, std::tuple<float, hermite>,
                                      std::tuple<double, hermite>>;

}  // namespace spline_test
