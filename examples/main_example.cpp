// Submits a kernel and a host task to every device and prints the results.
#include <cstdio>
#include <vector>

#include <sycl/sycl.hpp>

int main() {
  for (const sycl::device& dev : sycl::device::get_devices()) {
    sycl::queue q(dev);
    constexpr std::size_t n = 8;
    int* squares = sycl::malloc_shared<int>(n, q);
    int sum = 0;
    sycl::event fill = q.parallel_for(sycl::range<1>(n), [=](sycl::item<1> it) {
      const int i = static_cast<int>(it.get_id(0));
      squares[i] = i * i;
    });
    q.submit([&](sycl::handler& h) {
      h.depends_on(fill);
      h.host_task([&sum, squares] {
        for (std::size_t i = 0; i < n; ++i) sum += squares[i];
      });
    });
    q.wait_and_throw();
    std::printf("%-28s sum of squares 0..%zu = %d\n", dev.get_info<sycl::info::device::name>().c_str(), n - 1, sum);
    sycl::free(squares, q);
  }
  return 0;
}
