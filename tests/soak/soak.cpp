// Soak: several threads build, evaluate and destroy many splines of the four
// kinds on both devices, destroying each spline at a random moment, often
// while its work is still pending. Every call is ordered correctly by events,
// so every result is checked against the functions sampled (f + x/2, which
// both spline kinds reproduce). The run is bounded by a count of batches, and
// by a deadline as a safety net.
//
// Memory: the resident set size is read after a warm-up phase (heap arenas,
// runtime threads, the loaded kernel library and its caches near their steady
// size) and again after the main phase, which makes and destroys about 38000
// splines (half of them with a kernel-library task) in about 115000
// operations. It may grow by at most 16 MiB. Measured without any leak, it
// grows by 2 to 6 MiB and levels off near 10 MiB on much longer runs: glibc's
// per-thread arenas fragment as the runtime's host-task threads come and go
// (no allocation of the main phase is still live at its end). A leak of
// anything made per spline or per operation (a kernel-library task with its
// pointer arrays and search table, about 1.5 KiB; pointer cells with their
// registry entries; event records; host-task closures) of 500 bytes or more
// per spline exceeds the bound. Sanitizer builds check leaks themselves, and their
// shadow memory and quarantine make the resident set meaningless here: they
// run a tenth of the batches and skip the bound.
//
// Usage: soak [batches per thread in the main phase, default 1600]

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <memory>
#include <random>
#include <thread>
#include <type_traits>
#include <vector>

#include <data_fitting/data_fitting.hpp>

#include "support/devices.hpp"

namespace {

namespace df = velora::qrx::experimental::data_fitting;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

constexpr int thread_count = 4;
constexpr int splines_per_batch = 6;
constexpr int default_batches = sanitized ? 160 : 1600;
constexpr long rss_growth_bound = 16L << 20;
constexpr auto deadline = std::chrono::seconds(50);

std::atomic<long> async_errors{0};
std::atomic<long> wrong_values{0};
std::atomic<long> splines_made{0};
std::atomic<long> operations{0};
std::atomic<bool> out_of_time{false};

void count_async_errors(sycl::exception_list errors) {
  for (const std::exception_ptr& error : errors) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "asynchronous error: %s\n", e.what());
    }
    ++async_errors;
  }
}

long resident_bytes() {
  long pages_total = 0;
  long pages_resident = 0;
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr || std::fscanf(f, "%ld %ld", &pages_total, &pages_resident) != 2) {
    std::fprintf(stderr, "cannot read /proc/self/statm\n");
    std::exit(1);
  }
  std::fclose(f);
  return pages_resident * sysconf(_SC_PAGESIZE);
}

template <typename T>
T* usm_array(sycl::queue& q, std::int64_t n) {
  T* p = sycl::malloc_shared<T>(static_cast<std::size_t>(n), q);
  if (p == nullptr) {
    std::fprintf(stderr, "USM allocation failed\n");
    std::exit(1);
  }
  return p;
}

// Slot of order d of function f at site s, K = 2 orders, in layout ih.
std::int64_t slot(std::int64_t ih, std::int64_t f, std::int64_t s, std::int64_t d, std::int64_t ny,
                  std::int64_t nsites) {
  switch (ih) {
    case 16: return (f * nsites + s) * 2 + d;
    case 32: return (f * 2 + d) * nsites + s;
    case 256: return (s * ny + f) * 2 + d;
    default: return (s * 2 + d) * ny + f;
  }
}

// One spline with its arrays: the arrays outlive the spline and are freed
// only after the queues have been drained.
class job {
 public:
  virtual ~job() = default;
  virtual void destroy_spline() = 0;  // waits for the spline's work
  virtual long wrong() const = 0;
};

template <typename T, typename S>
class typed_job final : public job {
  static constexpr bool hermite = std::is_same_v<S, df::cubic_spline::hermite>;

  struct evaluation {
    T* sites;
    T* results;
    std::int64_t nsites;
    std::int64_t ih;
    std::int64_t sh;
  };

 public:
  typed_job(sycl::queue& q, sycl::queue& other, std::mt19937& rng) : q_(q) {
    auto pick = [&](auto const& options) { return options[rng() % std::size(options)]; };
    static constexpr std::int64_t part_hints[] = {1, 2, 4};
    static constexpr std::int64_t func_hints[] = {16, 32};
    static constexpr std::int64_t layouts[] = {16, 32, 256, 512};
    static constexpr std::int64_t site_hints[] = {1, 4, 64};
    nx_ = 4 + static_cast<std::int64_t>(rng() % 120);
    ny_ = 1 + static_cast<std::int64_t>(rng() % 3);
    const std::int64_t part_hint = pick(part_hints);
    const std::int64_t func_hint = pick(func_hints);

    // Breakpoints in [-1, 2], unevenly spaced unless uniform.
    std::vector<T> x(static_cast<std::size_t>(nx_));
    for (std::int64_t i = 0; i < nx_; ++i) {
      const double u = (double(i) + (part_hint == 4 ? 0.0 : 0.3 * std::sin(double(i)))) / double(nx_ - 1);
      x[i] = static_cast<T>(-1.0 + 3.0 * std::min(1.0, u));
    }
    x[0] = T(-1);
    x[nx_ - 1] = T(2);
    const std::int64_t stored = part_hint == 4 ? 2 : nx_;
    T* partition = keep(usm_array<T>(q, stored));
    if (part_hint == 4) {
      partition[0] = T(-1);
      partition[1] = T(2);
    } else {
      std::copy(x.begin(), x.end(), partition);
    }
    T* values = keep(usm_array<T>(q, nx_ * ny_));
    for (std::int64_t f = 0; f < ny_; ++f) {
      for (std::int64_t i = 0; i < nx_; ++i) values[func_hint == 32 ? i * ny_ + f : f * nx_ + i] = exact(f, x[i]);
    }
    const std::int64_t per_cell = hermite ? 4 : 2;
    T* coeffs = keep(usm_array<T>(q, (nx_ - 1) * ny_ * per_cell));

    spline_ = std::make_unique<df::spline<T, S>>(q, ny_, false);
    spline_->set_partitions(partition, nx_, static_cast<df::partition_hint>(part_hint))
        .set_function_values(values, static_cast<df::function_hint>(func_hint))
        .set_coefficients(coeffs);
    if constexpr (hermite) {
      T* ic = keep(usm_array<T>(q, nx_ - 2));
      std::fill(ic, ic + nx_ - 2, T(0.5));
      spline_->set_internal_conditions(ic)
          .set_boundary_conditions(df::bc_type::first_right_der, T(0.5))
          .set_boundary_conditions(df::bc_type::first_left_der, T(0.5));
    }
    const sycl::event built = spline_->construct();
    ++operations;

    // One to three evaluations after the construction, unordered among
    // themselves, some on the other device's queue.
    const int evaluations = 1 + static_cast<int>(rng() % 3);
    for (int e = 0; e < evaluations; ++e) {
      evaluation ev{};
      ev.nsites = 1 + static_cast<std::int64_t>(rng() % 200);
      ev.ih = pick(layouts);
      ev.sh = pick(site_hints);
      const std::int64_t stored_sites = ev.sh == 4 ? 2 : ev.nsites;
      ev.sites = keep(usm_array<T>(q, stored_sites));
      for (std::int64_t s = 0; s < stored_sites; ++s) {
        // Inside the partition: a cubic end cell amplifies the rounding of
        // its coefficients far outside it.
        ev.sites[s] = ev.sh == 4 ? (s == 0 ? T(-1) : T(2)) : static_cast<T>(-1.0 + 3.0 * double(rng() % 1000) / 999.0);
      }
      if (ev.sh == 64) std::sort(ev.sites, ev.sites + stored_sites);
      ev.results = keep(usm_array<T>(q, ny_ * ev.nsites * 2));
      const std::bitset<32> values_and_slopes(0b11);
      const auto ih = static_cast<df::interpolate_hint>(ev.ih);
      const auto sh = static_cast<df::site_hint>(ev.sh);
      if (rng() % 4 == 0) {
        df::interpolate(other, *spline_, ev.sites, ev.nsites, ev.results, values_and_slopes, {built}, ih, sh);
      } else {
        df::interpolate(*spline_, ev.sites, ev.nsites, ev.results, values_and_slopes, {built}, ih, sh);
      }
      ++operations;
      evaluations_.push_back(ev);
    }
    ++splines_made;
  }

  ~typed_job() override {
    spline_.reset();
    for (void* p : owned_) sycl::free(p, q_);
  }

  void destroy_spline() override { spline_.reset(); }

  long wrong() const override {
    // Slopes of short cubic cells carry the rounding of the values divided
    // by the cell width (cells down to about 0.01 wide here).
    const T tolerance = T(2048) * std::numeric_limits<T>::epsilon();
    const T slope_tolerance = T(16384) * std::numeric_limits<T>::epsilon();
    long wrong = 0;
    for (const evaluation& ev : evaluations_) {
      const T step = ev.nsites > 1 ? (ev.sites[1] - ev.sites[0]) / static_cast<T>(ev.nsites - 1) : T(0);
      for (std::int64_t s = 0; s < ev.nsites; ++s) {
        const T site = ev.sh == 4 ? step * static_cast<T>(s) + ev.sites[0] : ev.sites[s];
        for (std::int64_t f = 0; f < ny_; ++f) {
          const T value = ev.results[slot(ev.ih, f, s, 0, ny_, ev.nsites)];
          const T slope = ev.results[slot(ev.ih, f, s, 1, ny_, ev.nsites)];
          const T want = exact(f, site);
          wrong += !(std::fabs(value - want) <= tolerance * std::max(T(1), std::fabs(want)));
          wrong += !(std::fabs(slope - T(0.5)) <= slope_tolerance);
        }
      }
    }
    return wrong;
  }

 private:
  static T exact(std::int64_t f, T x) { return static_cast<T>(f) + T(0.5) * x; }

  template <typename P>
  P* keep(P* p) {
    owned_.push_back(p);
    return p;
  }

  sycl::queue q_;
  std::int64_t nx_ = 0;
  std::int64_t ny_ = 0;
  std::unique_ptr<df::spline<T, S>> spline_;
  std::vector<evaluation> evaluations_;
  std::vector<void*> owned_;
};

std::unique_ptr<job> make_job(sycl::queue& gpu, sycl::queue& cpu, std::mt19937& rng) {
  const bool on_cpu = rng() % 2 == 1;
  sycl::queue& q = on_cpu ? cpu : gpu;
  sycl::queue& other = on_cpu ? gpu : cpu;
  using linear = df::linear_spline::default_type;
  using hermite = df::cubic_spline::hermite;
  switch (rng() % 4) {
    case 0: return std::make_unique<typed_job<float, linear>>(q, other, rng);
    case 1: return std::make_unique<typed_job<double, linear>>(q, other, rng);
    case 2: return std::make_unique<typed_job<float, hermite>>(q, other, rng);
    default: return std::make_unique<typed_job<double, hermite>>(q, other, rng);
  }
}

// One thread's share: batches of splines, each spline destroyed at a random
// point (right after its work was submitted, or after later splines were
// made), then the queues drained and every result checked.
void run_batches(unsigned seed, int batches, std::chrono::steady_clock::time_point stop_at) {
  std::mt19937 rng(seed);
  // Where the SYCL implementation has no GPU device, both queues are on the CPU.
  sycl::queue gpu(test_support::kernel_queue().get_device(), count_async_errors);
  sycl::queue cpu(sycl::cpu_selector_v, count_async_errors);
  for (int b = 0; b < batches; ++b) {
    if (std::chrono::steady_clock::now() > stop_at) {
      out_of_time = true;
      return;
    }
    std::vector<std::unique_ptr<job>> jobs;
    for (int i = 0; i < splines_per_batch; ++i) {
      jobs.push_back(make_job(gpu, cpu, rng));
      if (rng() % 2 == 0) jobs[static_cast<std::size_t>(rng() % jobs.size())]->destroy_spline();
    }
    std::shuffle(jobs.begin(), jobs.end(), rng);
    for (auto& j : jobs) j->destroy_spline();
    gpu.wait_and_throw();
    cpu.wait_and_throw();
    for (const auto& j : jobs) wrong_values += j->wrong();
  }
}

void run_phase(unsigned seed, int batches, std::chrono::steady_clock::time_point stop_at) {
  std::vector<std::thread> threads;
  for (int t = 0; t < thread_count; ++t) {
    threads.emplace_back([=] {
      try {
        run_batches(seed + static_cast<unsigned>(t) * 7919U, batches, stop_at);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "thread %d: %s\n", t, e.what());
        std::exit(1);
      }
    });
  }
  for (auto& th : threads) th.join();
}

}  // namespace

int main(int argc, char** argv) {
  const int batches = argc > 1 ? std::max(1, std::atoi(argv[1])) : default_batches;
  const int warm_up_batches = std::max(1, batches / 4);
  const auto start = std::chrono::steady_clock::now();
  const auto stop_at = start + deadline;
  const unsigned seed = static_cast<unsigned>(std::random_device{}());
  std::printf("soak: seed %u, %d threads, %d + %d batches of %d splines each\n", seed, thread_count, warm_up_batches,
              batches, splines_per_batch);

  run_phase(seed, warm_up_batches, stop_at);
  const long before = resident_bytes();
  const long made_before = splines_made;
  run_phase(seed + 1U, batches, stop_at);
  const long after = resident_bytes();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("soak: %ld splines, %ld operations in %.1f s (main phase %ld splines)%s\n", long(splines_made),
              long(operations), seconds, long(splines_made) - made_before,
              out_of_time ? ", stopped at the deadline" : "");
  std::printf("soak: resident set %.1f MiB after warm-up, %.1f MiB at the end, growth %.1f MiB (bound %.0f MiB)\n",
              double(before) / 1048576.0, double(after) / 1048576.0, double(after - before) / 1048576.0,
              double(rss_growth_bound) / 1048576.0);
  int failed = 0;
  if (wrong_values != 0) {
    std::printf("soak: %ld wrong values\n", long(wrong_values));
    failed = 1;
  }
  if (async_errors != 0) {
    std::printf("soak: %ld asynchronous errors\n", long(async_errors));
    failed = 1;
  }
  if (sanitized) {
    std::printf("soak: sanitizer build, the resident-set bound is not applied\n");
  } else if (after - before > rss_growth_bound) {
    std::printf("soak: the resident set grew beyond the bound\n");
    failed = 1;
  }
  std::printf("soak: %s\n", failed ? "FAILED" : "passed");
  return failed;
}
