#pragma once

#include <bitset>
#include <cstdint>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "data_fitting/hints.hpp"
#include "data_fitting/spline_types.hpp"
#include "detail/gpu/interpolate/dispatch_interpolate.hpp"
#include "detail/gpu/interpolate/interpolate_hints.hpp"

namespace qrx_test {

namespace df = velora::qrx::experimental::data_fitting;
namespace dfd = df::detail;

// Calls f(V) for every value of a hint list, as the dispatcher's table has them.
template <typename T, T... Vs, typename F>
void for_each_value(dfd::value_list<T, Vs...>, F&& f) {
  (f(Vs), ...);
}

template <typename E>
std::int64_t value_of(E e) {
  return static_cast<std::int64_t>(e);
}

// A shared USM copy of a host vector, freed with the object.
template <typename T>
class usm_array {
 public:
  usm_array(sycl::queue& q, const std::vector<T>& init) : q_(q), size_(init.size()) {
    data_ = sycl::malloc_shared<T>(size_ == 0 ? 1 : size_, q_);
    for (std::size_t i = 0; i < size_; ++i) data_[i] = init[i];
  }
  usm_array(const usm_array&) = delete;
  usm_array& operator=(const usm_array&) = delete;
  ~usm_array() { sycl::free(data_, q_); }
  T* data() const { return data_; }
  T& operator[](std::size_t i) const { return data_[i]; }
  std::vector<T> to_vector() const { return std::vector<T>(data_, data_ + size_); }

 private:
  sycl::queue q_;
  std::size_t size_;
  T* data_;
};

// A spline as the GPU back-end holds it: partition, coefficient array and
// the pointer cell the kernels read the coefficient address from.
template <typename T>
struct device_spline {
  device_spline(sycl::queue& q, const std::vector<T>& partition, std::int64_t nx, const std::vector<T>& coeffs)
      : nx(nx), partition(q, partition), coeffs(q, coeffs), cell(q, {this->coeffs.data()}) {}
  std::int64_t nx;
  usm_array<T> partition;
  usm_array<T> coeffs;
  usm_array<T*> cell;
};

// Derivative count and indicators of a mask, as the back-end derives them.
struct indicators {
  explicit indicators(std::bitset<32> mask) {
    for (int d = 0; d < 32; ++d) {
      if (mask[d]) count = d + 1;
      flags[d] = mask[d] ? 1 : 0;
    }
  }
  std::int32_t count = 0;
  std::int32_t flags[32] = {};
};

template <typename T, typename Kind>
sycl::event interpolate(sycl::queue& q, const device_spline<T>& s, std::int64_t ny, T* sites, std::int64_t nsites,
                        T* results, std::bitset<32> mask, std::int64_t ph, std::int64_t sh, std::int64_t ih,
                        const std::vector<sycl::event>& deps = {}) {
  const indicators ind(mask);
  return dfd::dispatch_interpolate<T, Kind>(q, s.nx, ny, s.partition.data(), s.cell.data(), sites, nsites, results,
                                            ind.count, ind.flags, deps, ph, sh, ih);
}

inline sycl::queue gpu_queue() {
  return sycl::queue{sycl::gpu_selector_v};
}

}  // namespace qrx_test
