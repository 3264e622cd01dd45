// Many splines on both devices, created, constructed, evaluated and
// destroyed from several threads at once (each spline used by one thread).

#include <thread>

#include "support/backend_fixture.hpp"

namespace backend_test {
namespace {

double slope_line(std::int64_t f, double x, int order) { return order == 0 ? double(f) + 0.5 * x : 0.5; }

template <typename T, typename S>
int run_one(backend be, sycl::queue q, unsigned seed) {
  const std::int64_t nx = 5 + seed % 7, ny = 1 + seed % 3, nsites = 9;
  auto data = sample<T>(nx, ny, df::partition_hint(1 << (seed % 3)), df::function_hint(16 << (seed % 2)),
                        slope_line, seed);
  data.bc_kinds = {df::bc_type::first_left_der, df::bc_type::first_right_der};
  data.bc_left = data.bc_right = T(0.5);
  built_spline<T, S> b(be, q, data);
  std::vector<T> sites;
  for (std::int64_t s = 0; s < nsites; ++s) sites.push_back(T(-1.5 + 0.5 * double(s)));
  const auto r = b.evaluate(sites, nsites, std::bitset<32>(0b11), df::interpolate_hint::sites_funcs_ders,
                            df::site_hint::non_uniform, T(0), 2);
  int wrong = 0;
  for (std::int64_t s = 0; s < nsites; ++s)
    for (std::int64_t f = 0; f < ny; ++f) {
      const double x = double(sites[s]);
      wrong += std::abs(double(r[(s * ny + f) * 2]) - slope_line(f, x, 0)) > tolerance<T>(8);
      wrong += std::abs(double(r[(s * ny + f) * 2 + 1]) - 0.5) > tolerance<T>(8);
    }
  return wrong;
}

TEST(BackendsStress, ManySplinesFromSeveralThreads) {
  constexpr int threads = 4, splines_per_thread = 24;
  std::vector<int> wrong(threads, 0);
  std::vector<std::thread> pool;
  const sycl::queue queues[] = {queue_for(backend::gpu), queue_for(backend::cpu)};
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([&, t] {
      for (int i = 0; i < splines_per_thread; ++i) {
        const unsigned seed = unsigned(t * splines_per_thread + i);
        const backend be = both_backends[seed % 2];
        const sycl::queue& q = queues[seed % 2];
        switch ((seed / 2) % 4) {
          case 0: wrong[t] += run_one<float, linear>(be, q, seed); break;
          case 1: wrong[t] += run_one<double, linear>(be, q, seed); break;
          case 2: wrong[t] += run_one<float, hermite>(be, q, seed); break;
          default: wrong[t] += run_one<double, hermite>(be, q, seed); break;
        }
      }
    });
  for (auto& th : pool) th.join();
  for (int t = 0; t < threads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace backend_test
