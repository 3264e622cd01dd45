// Uses the installed package: builds and evaluates a linear spline on the
// CPU device, then checks one of the library's exception texts.
#include <cmath>
#include <cstdio>
#include <cstring>

#include <sycl/sycl.hpp>

#include <data_fitting/data_fitting.hpp>

namespace df = velora::qrx::experimental::data_fitting;

int main() {
  sycl::queue q(sycl::cpu_selector_v);
  double* x = sycl::malloc_shared<double>(3, q);
  double* y = sycl::malloc_shared<double>(3, q);
  double* c = sycl::malloc_shared<double>(4, q);
  double* site = sycl::malloc_shared<double>(1, q);
  double* value = sycl::malloc_shared<double>(1, q);
  for (int i = 0; i < 3; ++i) x[i] = i, y[i] = i * i;
  site[0] = 1.5;
  {
    df::spline<double, df::linear_spline::default_type, 1> s(q, 1, false);
    s.set_partitions(x, 3).set_function_values(y).set_coefficients(c);
    sycl::event built = s.construct();
    df::interpolate(s, site, 1, value, {built});
    q.wait_and_throw();
  }
  const bool value_ok = std::abs(value[0] - 2.5) < 1e-12;
  for (double* p : {x, y, c, site, value}) sycl::free(p, q);
  if (!value_ok) {
    std::fprintf(stderr, "unexpected value\n");
    return 1;
  }
  try {
    df::spline<double, df::linear_spline::default_type, 1>(q, 0, false);
  } catch (const velora::qrx::exception& e) {
    const char* expected = "velora::qrx::data_fitting::spline: invalid argument: ny <= 0";
    if (std::strcmp(e.what(), expected) != 0) {
      std::fprintf(stderr, "unexpected message: %s\n", e.what());
      return 1;
    }
  }
  std::puts("consumer: ok");
  return 0;
}
