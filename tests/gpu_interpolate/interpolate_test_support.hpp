#pragma once

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <memory>
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
using linear = df::linear_spline::default_type;
using cubic = df::cubic_spline::hermite;

// Calls f(V) for every value of a hint list of the dispatch table.
template <typename T, T... Vs, typename F>
void for_each_value(dfd::value_list<T, Vs...>, F&& f) {
  (f(Vs), ...);
}

template <typename E>
std::int64_t value_of(E e) {
  return static_cast<std::int64_t>(e);
}

// A shared USM copy of v, freed with the returned pointer.
template <typename T>
auto usm(sycl::queue& q, const std::vector<T>& v) {
  auto release = [q](T* p) { sycl::free(p, q); };
  std::unique_ptr<T[], decltype(release)> p(sycl::malloc_shared<T>(std::max<std::size_t>(v.size(), 1), q), release);
  std::copy(v.begin(), v.end(), p.get());
  return p;
}

// Derivative count K and indicators of a mask, as the back-end derives them.
// Entries from K on are left as 1, where a caller leaves garbage: unread.
struct indicators {
  explicit indicators(std::bitset<32> mask) {
    for (int d = 0; d < 32; ++d) count = mask[d] ? d + 1 : count, flags[d] = mask[d];
    for (int d = count; d < 32; ++d) flags[d] = 1;
  }
  std::int32_t count = 0;
  std::int32_t flags[32] = {};
};

// One interpolation on the GPU-class device into ny*nsites*K + 1 elements
// that start as `fill`; the last one catches writes past the end.
template <typename T, typename Kind>
std::vector<T> interpolate(const std::vector<T>& partition, std::int64_t nx, const std::vector<T>& coeffs,
                           std::int64_t ny, const std::vector<T>& sites, std::int64_t nsites, std::bitset<32> mask,
                           std::int64_t ph, std::int64_t sh, std::int64_t ih, T fill) {
  sycl::queue q{sycl::gpu_selector_v};
  const indicators ind(mask);
  const std::size_t size = ny * nsites * ind.count + 1;
  auto p = usm(q, partition), c = usm(q, coeffs), x = usm(q, sites), out = usm(q, std::vector<T>(size, fill));
  auto cell = usm(q, std::vector<T*>{c.get()});
  dfd::dispatch_interpolate<T, Kind>(q, nx, ny, p.get(), cell.get(), x.get(), nsites, out.get(), ind.count, ind.flags,
                                     {}, ph, sh, ih)
      .wait();
  return std::vector<T>(out.get(), out.get() + size);
}

}  // namespace qrx_test
