// Construction throughput of every cubic kind on both devices, through the
// public spline, in (cell x function) pairs per second. A spline computes
// its coefficients once, so every run builds a new spline over the same
// arrays. The construct_then_evaluate rows add one evaluation of random
// sites, which builds the partition's search table. Devices the SYCL
// implementation lacks are left out.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <sycl/sycl.hpp>
#include <type_traits>
#include <vector>

#include "data_fitting/interpolate.hpp"
#include "data_fitting/spline.hpp"

namespace {

namespace df = velora::qrx::experimental::data_fitting;

template <typename T>
struct usm_vector {
  usm_vector(const sycl::queue& q, std::int64_t n) : q(q), data(sycl::malloc_shared<T>(std::size_t(n), q)) {}
  ~usm_vector() { sycl::free(data, q); }
  sycl::queue q;
  T* data;
};

// OwnSlopes: a Hermite spline from every function's own slopes at every
// breakpoint instead of shared ones with end rules.
template <typename T, typename Kind, bool OwnSlopes = false>
void construct(benchmark::State& state, sycl::queue q, std::int64_t nx, std::int64_t ny) {
  const std::int64_t slopes = OwnSlopes ? nx * ny : nx;
  usm_vector<T> partition(q, nx), values(q, nx * ny), coeffs(q, (nx - 1) * ny * 4), derivatives(q, slopes);
  if (partition.data == nullptr || values.data == nullptr || coeffs.data == nullptr || derivatives.data == nullptr) {
    state.SkipWithError("cannot allocate the arrays");
    return;
  }
  for (std::int64_t i = 0; i < nx; ++i) partition.data[i] = T(i) + T(0.25) * T(std::sin(double(i)));
  for (std::int64_t i = 0; i < slopes; ++i) derivatives.data[i] = T(std::cos(double(i)));
  for (std::int64_t j = 0; j < ny; ++j)
    for (std::int64_t i = 0; i < nx; ++i) values.data[j * nx + i] = T(std::sin(0.01 * double(i) + double(j)));
  // Pages touched before timing: the first write to fresh memory would
  // otherwise cost more than the construction.
  std::fill(coeffs.data, coeffs.data + (nx - 1) * ny * 4, T(0));
  for (auto _ : state) {
    df::spline<T, Kind> s(q, ny, false);
    s.set_partitions(partition.data, nx).set_function_values(values.data).set_coefficients(coeffs.data);
    if constexpr (OwnSlopes) {
      s.set_first_derivatives(derivatives.data);
    } else if constexpr (std::is_same_v<Kind, df::cubic_spline::hermite>) {
      s.set_internal_conditions(derivatives.data).set_boundary_conditions(df::bc_type::free_end, T(0));
    }
    s.construct();
    q.wait_and_throw();
  }
  state.SetItemsProcessed(state.iterations() * (nx - 1) * ny);
}

// A Hermite construction followed by one evaluation of nsites random sites
// (values only): what a spline made for a single use costs, the partition's
// search table included, which the first search builds.
template <typename T>
void construct_then_evaluate(benchmark::State& state, sycl::queue q, std::int64_t nx, std::int64_t nsites) {
  usm_vector<T> partition(q, nx), values(q, nx), coeffs(q, (nx - 1) * 4), derivatives(q, nx), sites(q, nsites),
      results(q, nsites);
  if (partition.data == nullptr || values.data == nullptr || coeffs.data == nullptr || derivatives.data == nullptr ||
      sites.data == nullptr || results.data == nullptr) {
    state.SkipWithError("cannot allocate the arrays");
    return;
  }
  for (std::int64_t i = 0; i < nx; ++i) {
    partition.data[i] = T(i) + T(0.25) * T(std::sin(double(i)));
    values.data[i] = T(std::sin(0.01 * double(i)));
    derivatives.data[i] = T(std::cos(double(i)));
  }
  std::uint64_t state_bits = 88172645463325252ull;
  for (std::int64_t k = 0; k < nsites; ++k) {
    state_bits ^= state_bits << 13, state_bits ^= state_bits >> 7, state_bits ^= state_bits << 17;
    sites.data[k] = T(double(state_bits % 1000000007ull) / 1000000007.0 * double(nx - 1));
  }
  std::fill(coeffs.data, coeffs.data + (nx - 1) * 4, T(0));
  std::fill(results.data, results.data + nsites, T(0));
  for (auto _ : state) {
    df::spline<T, df::cubic_spline::hermite> s(q, 1, false);
    s.set_partitions(partition.data, nx).set_function_values(values.data).set_coefficients(coeffs.data);
    s.set_internal_conditions(derivatives.data).set_boundary_conditions(df::bc_type::free_end, T(0));
    df::interpolate(s, sites.data, nsites, results.data, {s.construct()});
    q.wait_and_throw();
  }
  state.SetItemsProcessed(state.iterations() * (nx - 1));
}

template <typename T, typename Kind, bool OwnSlopes = false>
void register_kind(const std::string& kind, const std::string& device, const sycl::queue& q) {
  const std::string type = std::is_same_v<T, float> ? "float" : "double";
  for (std::int64_t nx : {1000, 1000000}) {
    for (std::int64_t ny : {1, 64}) {
      const std::string n = "construct/" + device + "/" + kind + "/" + type + "/nx:" + std::to_string(nx) +
                            "/ny:" + std::to_string(ny);
      benchmark::RegisterBenchmark(n.c_str(), construct<T, Kind, OwnSlopes>, q, nx, ny)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime()
          ->MinTime(0.2);
    }
  }
}

template <typename T>
void register_device(const std::string& device, const sycl::queue& q) {
  register_kind<T, df::cubic_spline::hermite>("hermite", device, q);
  register_kind<T, df::cubic_spline::natural>("natural", device, q);
  register_kind<T, df::cubic_spline::akima>("akima", device, q);
  register_kind<T, df::cubic_spline::bessel>("bessel", device, q);
  register_kind<T, df::cubic_spline::hyman>("hyman", device, q);
  register_kind<T, df::cubic_spline::pchip>("pchip", device, q);
  register_kind<T, df::cubic_spline::makima>("makima", device, q);
  register_kind<T, df::cubic_spline::steffen>("steffen", device, q);
  register_kind<T, df::cubic_spline::hermite, true>("hermite_own_slopes", device, q);
  const std::string type = std::is_same_v<T, float> ? "float" : "double";
  for (std::int64_t nsites : {100, 100000}) {
    const std::string n = "construct_then_evaluate/" + device + "/hermite/" + type + "/nx:1000000/sites:" +
                          std::to_string(nsites);
    benchmark::RegisterBenchmark(n.c_str(), construct_then_evaluate<T>, q, std::int64_t{1000000}, nsites)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MinTime(0.2);
  }
}

const bool registered = [] {
  for (auto type : {sycl::info::device_type::gpu, sycl::info::device_type::cpu}) {
    const std::vector<sycl::device> devices = sycl::device::get_devices(type);
    if (devices.empty()) continue;
    const sycl::queue q{devices.front()};
    const std::string name = type == sycl::info::device_type::gpu ? "gpu" : "cpu";
    register_device<double>(name, q);
    register_device<float>(name, q);
  }
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
