// Kernels are invoked through a const reference and must capture only
// trivially copyable values. As given this file compiles; with
// HOSTSYCL_REJECT_MUTABLE or HOSTSYCL_REJECT_CAPTURE it must not.

#include <array>
#include <vector>

#include <sycl/sycl.hpp>

#ifdef HOSTSYCL_REJECT_MUTABLE
#define KERNEL_QUALIFIER mutable
#else
#define KERNEL_QUALIFIER
#endif
#ifdef HOSTSYCL_REJECT_CAPTURE
using captured = std::vector<int>;
#else
using captured = std::array<int, 3>;
#endif

void submit_kernel(sycl::queue& q, int* out) {
  const captured values{1, 2, 3};
  q.submit([&](sycl::handler& h) {
    h.parallel_for(sycl::range<1>(3), [=](sycl::item<1> i) KERNEL_QUALIFIER { out[i] = values[i]; });
  });
}
