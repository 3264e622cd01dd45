// Builds as given; with HOSTSYCL_REJECT_MUTABLE (a mutable kernel) or HOSTSYCL_REJECT_CAPTURE (a capture
// that is not trivially copyable) it must not.

#include <array>
#include <vector>

#include <sycl/sycl.hpp>

void submit_kernel(sycl::queue& q, int* out) {
#ifdef HOSTSYCL_REJECT_CAPTURE
  const std::vector<int> values{1, 2, 3};
#else
  const std::array<int, 3> values{1, 2, 3};
#endif
#ifdef HOSTSYCL_REJECT_MUTABLE
  q.parallel_for(3, [=](sycl::item<1> i) mutable { out[i] = values[i]; });
#else
  q.parallel_for(3, [=](sycl::item<1> i) { out[i] = values[i]; });
#endif
}
