// The public spline API, driven by short programs decoded from the input:
// splines of every kind created on the GPU-class and the CPU device of
// the bundled runtime (and refused on the accelerator), then setters
// (extrapolation modes and partitions out of order included),
// construct, interpolate through all four overloads (also on the other
// device's queue), integrate, solve, size queries and destruction, with every hint, size and
// flag value including invalid ones. Smoothing splines get weights and a
// given or cross-validated parameter, least-squares splines data of any
// count with sites inside, outside and NaN.
//
// The harness uses the API as a correct caller would, except where an
// argument is meant to be refused: every array is USM holding exactly the
// elements the README documents for the recorded sizes and stays allocated
// until all work has finished; no set_partitions makes the function values or
// internal conditions too small, nor the coefficients given before it;
// construct runs after every earlier operation of its spline, interpolate
// after the latest construct. Invariants:
// - every failure is a velora::qrx::exception or a sycl::exception, thrown on
//   the calling thread or delivered to the queue's asynchronous handler;
// - no crash, sanitizer report or hang;
// - refusals the README promises happen (ny <= 0, a device that is neither
//   CPU nor GPU, a partition the coefficient array is too small for), and
//   get_required_coeffs_size returns (nx - 1)*ny*m when it returns;
// - interpolate leaves the result slots of orders not asked for, or beyond
//   the spline's, untouched;
// - a cross-validated smoothing construction that succeeds writes a
//   positive, finite parameter for every function;
// - solve stores at most min(count, max_roots) roots per function and
//   level and leaves the other slots untouched, and finds no root of a NaN
//   or infinite level;
// - coefficients the caller supplies are never written, even with function
//   values recorded and construct called again after new conditions or
//   values changed in place.

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include <data_fitting/data_fitting.hpp>

#include "fuzz_support.hpp"

namespace {

namespace df = velora::qrx::experimental::data_fitting;
using qrx_fuzz::fail;
using qrx_fuzz::fuzz_input;
using qrx_fuzz::product;

// USM arrays longer than this are handed over as null.
constexpr std::int64_t max_elements = std::int64_t{1} << 16;

void async_handler(sycl::exception_list errors) {
  for (const std::exception_ptr& error : errors) {
    try {
      std::rethrow_exception(error);
    } catch (const velora::qrx::exception&) {
    } catch (const sycl::exception&) {
    } catch (const std::exception& e) {
      fail("asynchronous error of a foreign kind: %s", e.what());
    } catch (...) {
      fail("asynchronous error that is not an exception");
    }
  }
}

// The two queues live for the whole run: creating them is the dearest part
// of an input.
sycl::queue& device_queue(bool cpu) {
  static sycl::queue gpu(sycl::gpu_selector_v, async_handler);
  static sycl::queue host_cpu(sycl::cpu_selector_v, async_handler);
  return cpu ? host_cpu : gpu;
}

// Every USM array of an input, freed when the input is done (after all work).
class usm_arrays {
 public:
  usm_arrays() = default;
  usm_arrays(const usm_arrays&) = delete;
  usm_arrays& operator=(const usm_arrays&) = delete;
  ~usm_arrays() {
    for (auto& [p, q] : owned_) sycl::free(p, q);
  }

  // n elements on q's device, or null when n is not positive, too large, or
  // the input asks for null.
  template <typename T>
  T* make(fuzz_input& in, sycl::queue& q, std::int64_t n) {
    if (in.pick(32) == 0 || n <= 0 || n > max_elements) return nullptr;
    T* p = sycl::malloc_shared<T>(static_cast<std::size_t>(n), q);
    if (p == nullptr) fail("USM allocation of %lld elements failed", (long long)n);
    owned_.emplace_back(p, q);
    return p;
  }

 private:
  std::vector<std::pair<void*, sycl::queue>> owned_;
};

template <typename T>
T sentinel() {
  return T(-7.25e-3);
}

// Position d (order) of each result slot in the four layouts; -1 for a
// layout that does not exist.
std::int64_t order_of_slot(std::int64_t hint, std::int64_t i, std::int64_t ny, std::int64_t nsites, std::int64_t k) {
  switch (hint) {
    case 16: return i % k;                 // funcs_sites_ders
    case 32: return (i / nsites) % k;      // funcs_ders_sites
    case 256: return i % k;                // sites_funcs_ders
    case 512: return (i / ny) % k;         // sites_ders_funcs
    default: return -1;
  }
}

constexpr std::int64_t partition_hints[] = {1, 2, 4};
constexpr std::int64_t function_hints[] = {16, 32};
constexpr std::int64_t site_hints[] = {1, 4, 64};
constexpr std::int64_t interpolate_hints[] = {16, 32, 256, 512};
constexpr std::int64_t bc_kinds[] = {1, 2, 4, 8, 16, 32, 64, 128, 256};

class spline_slot {
 public:
  virtual ~spline_slot() = default;
  virtual void step(fuzz_input& in) = 0;
};

template <typename T, typename S>
class typed_slot final : public spline_slot {
  static constexpr bool hermite = std::is_same_v<S, df::cubic_spline::hermite>;
  static constexpr bool cubic = !std::is_same_v<S, df::linear_spline::default_type>;
  static constexpr bool smoothing = std::is_same_v<S, df::cubic_spline::smoothing>;
  static constexpr bool least_squares = std::is_same_v<S, df::cubic_spline::least_squares>;
  static constexpr std::int64_t per_cell = cubic ? 4 : 2;  // coefficients per cell, and orders

 public:
  typed_slot(sycl::queue& queue, sycl::queue& other, std::int64_t ny, bool supplied, bool via_context,
             usm_arrays& arrays, std::vector<std::function<void()>>& checks)
      : queue_(queue),
        other_(other),
        ny_(ny),
        supplied_(supplied),
        sound_partitions_(via_context),
        arrays_(arrays),
        checks_(checks) {
    spline_ = via_context ? std::make_unique<df::spline<T, S>>(queue.get_device(), queue.get_context(), ny, supplied)
                          : std::make_unique<df::spline<T, S>>(queue, ny, supplied);
  }

  void step(fuzz_input& in) override {
    switch (in.pick(hermite || smoothing || least_squares ? 14 : cubic ? 13 : 11)) {
      case 0: set_partitions(in); break;
      case 1: set_function_values(in); break;
      case 2: set_coefficients(in); break;
      case 3: in.flag() ? sizes() : set_extrapolation(in); break;
      case 4:
      case 5: construct(); break;
      case 6:
      case 7:
      case 8: interpolate(in); break;
      case 9: in.flag() ? integrate(in) : solve(in); break;
      case 10: change_values(in); break;
      case 11: smoothing || least_squares ? set_weights(in) : set_internal_conditions(in); break;
      case 12: set_boundary_conditions(in); break;
      default:
        if constexpr (smoothing) {
          set_smoothing(in);
        } else if constexpr (least_squares) {
          set_data(in);
        } else {
          set_first_derivatives(in);
        }
        break;
    }
  }

 private:
  // The largest nx that the recorded function values and internal
  // conditions hold.
  std::int64_t nx_limit() const {
    std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    for (std::int64_t n : {functions_nx_, ic_nx_, slopes_nx_, weights_nx_}) {
      if (n >= 0) limit = std::min(limit, n);
    }
    return limit;
  }

  // The nx an array is sized for: the recorded partition's, or before there
  // is one, a partition still to come.
  std::int64_t array_nx(fuzz_input& in) { return nx_ != 0 ? nx_ : in.in_range(3, 40); }

  void set_partitions(fuzz_input& in) {
    const std::int64_t nx = in.pick(8) == 0 ? in.count(-1, 64) : in.in_range(-1, 40);
    const std::int64_t hint = in.hint(partition_hints);
    const std::int64_t stored = hint == 4 ? 2 : nx;
    T* data = arrays_.make<T>(in, queue_, stored);
    if (data != nullptr) in.breakpoints(data, stored);
    // The spline's own queue has no handler for a construction's refusal of
    // a bad partition.
    for (std::int64_t i = 0; sound_partitions_ && data != nullptr && i < stored; ++i) data[i] = T(i);
    // A partition longer than the recorded function values or internal
    // conditions would make them too small, and so would the first partition
    // for coefficients given before it; a later one longer than the
    // coefficient array must be refused.
    const bool well_formed = nx >= 3 && data != nullptr;
    if (well_formed && nx > nx_limit()) return;
    if (well_formed && nx_ == 0 && coeffs_nx_ >= 0 && nx > coeffs_nx_) return;
    spline_->set_partitions(data, nx, static_cast<df::partition_hint>(hint));
    if (data != nullptr && stored >= 2) ends_ = {data[0], data[stored - 1]};
    if (well_formed && coeffs_nx_ >= 0 && nx > coeffs_nx_) {
      fail("set_partitions accepted %lld breakpoints for coefficients made for %lld", (long long)nx,
           (long long)coeffs_nx_);
    }
    nx_ = nx;
  }

  void set_function_values(fuzz_input& in) {
    const std::int64_t nx = array_nx(in);
    const std::int64_t n = product(nx, ny_);
    T* data = arrays_.make<T>(in, queue_, n);
    for (std::int64_t i = 0; data != nullptr && i < n; ++i) data[i] = in.value<T>();
    spline_->set_function_values(data, static_cast<df::function_hint>(in.hint(function_hints)));
    functions_nx_ = nx;
    functions_ = data;
    functions_n_ = n;
  }

  // New values in the recorded array, once no work reads it, for the next
  // construct to take.
  void change_values(fuzz_input& in) {
    if (functions_ == nullptr || functions_n_ <= 0) return;
    sycl::event::wait(events_);
    const std::int64_t changes = in.in_range(1, 4);
    for (std::int64_t c = 0; c < changes; ++c) functions_[in.in_range(0, functions_n_ - 1)] = in.value<T>();
  }

  void set_coefficients(fuzz_input& in) {
    const std::int64_t nx = array_nx(in);
    const std::int64_t n = product(nx - 1, ny_, per_cell);
    T* data = arrays_.make<T>(in, queue_, n);
    for (std::int64_t i = 0; data != nullptr && i < n; ++i) data[i] = supplied_ ? in.value<T>() : T(0);
    const std::int64_t hint = in.pick(8) == 0 ? in.hint(interpolate_hints) : 16;
    spline_->set_coefficients(data, static_cast<df::coefficient_hint>(hint));
    coeffs_nx_ = nx;
    if (supplied_ && data != nullptr && n > 0) {
      // Coefficients the caller supplies are never written, whatever else is
      // recorded and however often construct runs.
      std::vector<T> given(data, data + n);
      checks_.push_back([data, given] {
        if (std::memcmp(data, given.data(), given.size() * sizeof(T)) != 0) {
          fail("the library wrote coefficients the caller supplied");
        }
      });
    }
  }

  void set_internal_conditions(fuzz_input& in) {
    if constexpr (hermite) {
      const std::int64_t nx = array_nx(in);
      T* data = arrays_.make<T>(in, queue_, nx - 2);
      for (std::int64_t i = 0; data != nullptr && i < nx - 2; ++i) data[i] = in.value<T>();
      spline_->set_internal_conditions(data);
      ic_nx_ = nx;
    }
  }

  // Every function's own slopes, laid out as the function values; with
  // internal or boundary conditions beside them construct refuses.
  void set_first_derivatives(fuzz_input& in) {
    if constexpr (hermite) {
      const std::int64_t nx = array_nx(in);
      const std::int64_t n = product(nx, ny_);
      T* data = arrays_.make<T>(in, queue_, n);
      for (std::int64_t i = 0; data != nullptr && i < n; ++i) data[i] = in.value<T>();
      spline_->set_first_derivatives(data);
      slopes_nx_ = nx;
    }
  }

  // Weights of any value (negative, NaN, infinite, too few positive
  // included): nx for smoothing, sized for the partition like the values;
  // ndata for least squares, never fewer than the recorded data.
  void set_weights(fuzz_input& in) {
    if constexpr (smoothing || least_squares) {
      const std::int64_t n = smoothing ? array_nx(in) : (ndata_ >= 0 ? ndata_ : in.in_range(0, 64));
      T* data = arrays_.make<T>(in, queue_, n);
      for (std::int64_t i = 0; data != nullptr && i < n; ++i) data[i] = in.flag() ? T(in.pick(4)) : in.value<T>();
      spline_->set_weights(data);
      (smoothing ? weights_nx_ : weights_n_) = n;
    }
  }

  void set_smoothing(fuzz_input& in) {
    if constexpr (smoothing) {
      if (in.flag()) {
        spline_->set_smoothing(in.flag() ? T(in.pick(1000)) / T(10) : in.value<T>());
        chosen_ = nullptr;
        return;
      }
      T* chosen = arrays_.make<T>(in, queue_, ny_);
      spline_->set_smoothing_by_gcv(chosen);
      chosen_ = chosen;
    }
  }

  // Data of any count, sites of any value; never more than the recorded
  // weights cover.
  void set_data(fuzz_input& in) {
    if constexpr (least_squares) {
      const std::int64_t ndata = in.pick(8) == 0 ? in.count(-1, 64) : in.in_range(0, 64);
      if (weights_n_ >= 0 && ndata > weights_n_) return;
      T* x = arrays_.make<T>(in, queue_, ndata);
      T* y = arrays_.make<T>(in, queue_, product(ndata, ny_));
      // Mostly sites between the recorded partition's ends.
      const T a = ends_[0], b = ends_[1];
      for (std::int64_t i = 0; x != nullptr && i < ndata; ++i) {
        x[i] = in.flag() ? a + (b - a) * T(in.pick(256)) / T(255) : in.value<T>();
      }
      for (std::int64_t i = 0; y != nullptr && i < product(ndata, ny_); ++i) y[i] = in.value<T>();
      spline_->set_data(x, y, ndata, static_cast<df::function_hint>(in.hint(function_hints)));
      ndata_ = ndata;
    }
  }

  void set_boundary_conditions(fuzz_input& in) {
    if constexpr (cubic) {
      spline_->set_boundary_conditions(static_cast<df::bc_type>(in.hint(bc_kinds)), in.value<T>());
    }
  }

  // Any pair of values, the refused ones (periodic on one side, values that
  // are no mode) included.
  void set_extrapolation(fuzz_input& in) {
    auto mode = [&] { return static_cast<df::extrapolation>(in.pick(8) == 0 ? in.count(-1, 8) : in.pick(5)); };
    const df::extrapolation left = mode();
    spline_->set_extrapolation(left, in.pick(4) == 0 ? left : mode());
  }

  void sizes() {
    (void)spline_->is_initialized();
    const std::int64_t expected = product(nx_ - 1, ny_, per_cell);
    // Throws before set_partitions and when the size does not fit in 64 bits.
    const std::int64_t size = spline_->get_required_coeffs_size();
    if (size != expected) fail("get_required_coeffs_size: %lld, expected %lld", (long long)size, (long long)expected);
  }

  void construct() {
    // After every earlier operation of the spline, which may read the
    // coefficients that this construct writes.
    const sycl::event done = spline_->construct(events_);
    events_.push_back(done);
    latest_construct_ = {done};
    if (smoothing && chosen_ != nullptr && !supplied_) check_chosen(done);
  }

  // Once the construction's work is done: when the spline evaluates (its
  // construction succeeded), every chosen parameter is positive and finite.
  void check_chosen(sycl::event done) {
    done.wait();
    // One site and its value for each function.
    T* sites = sycl::malloc_shared<T>(static_cast<std::size_t>(1 + ny_), queue_);
    if (sites == nullptr) fail("USM allocation of %lld elements failed", (long long)(1 + ny_));
    sites[0] = T(0);
    bool evaluates = true;
    try {
      df::interpolate(*spline_, sites, 1, sites + 1).wait();
    } catch (const velora::qrx::exception&) {
      evaluates = false;
    }
    sycl::free(sites, queue_);
    for (std::int64_t j = 0; evaluates && j < ny_; ++j) {
      if (!(chosen_[j] > T(0) && chosen_[j] < std::numeric_limits<T>::infinity())) {
        fail("cross-validation chose %g for function %lld", double(chosen_[j]), (long long)j);
      }
    }
  }

  void interpolate(fuzz_input& in) {
    const std::uint32_t overload = in.pick(4);
    const bool with_mask = overload % 2 == 0;
    const bool on_given_queue = overload >= 2;
    sycl::queue& q = on_given_queue && in.flag() ? other_ : queue_;

    const std::int64_t nsites = in.pick(8) == 0 ? in.count(-1, 64) : in.in_range(0, 40);
    const std::int64_t site_hint = in.hint(site_hints);
    const std::int64_t stored_sites = site_hint == 4 ? 2 : nsites;
    T* sites = arrays_.make<T>(in, queue_, stored_sites);
    for (std::int64_t s = 0; sites != nullptr && s < stored_sites; ++s) sites[s] = in.value<T>();

    std::bitset<32> mask(1);
    if (with_mask) {
      const std::uint8_t b = in.byte();
      mask = b < 200 ? std::bitset<32>(b % 16) : std::bitset<32>(static_cast<std::uint32_t>(in.raw64()));
    }
    std::int64_t k = 0;
    for (std::int64_t d = 0; d < 32; ++d) {
      if (mask.test(static_cast<std::size_t>(d))) k = d + 1;
    }
    const std::int64_t count = product(ny_, nsites, k);
    T* results = arrays_.make<T>(in, queue_, count);
    for (std::int64_t i = 0; results != nullptr && i < count; ++i) results[i] = sentinel<T>();
    const std::int64_t ih = in.hint(interpolate_hints);

    // After the latest construct; other interpolates may run alongside.
    const std::vector<sycl::event> after = in.flag() ? events_ : latest_construct_;
    const auto ih_value = static_cast<df::interpolate_hint>(ih);
    const auto sh_value = static_cast<df::site_hint>(site_hint);
    df::spline<T, S>& sp = *spline_;
    sycl::event done;
    switch (overload) {
      case 0: done = df::interpolate(sp, sites, nsites, results, mask, after, ih_value, sh_value); break;
      case 1: done = df::interpolate(sp, sites, nsites, results, after, ih_value, sh_value); break;
      case 2: done = df::interpolate(q, sp, sites, nsites, results, mask, after, ih_value, sh_value); break;
      default: done = df::interpolate(q, sp, sites, nsites, results, after, ih_value, sh_value); break;
    }
    events_.push_back(done);
    if (results != nullptr && count > 0) {
      const std::int64_t ny = ny_;
      checks_.push_back([=] { check_untouched(results, count, ny, nsites, k, ih, mask); });
    }
  }

  // Intervals with any bounds (outside, reversed, NaN, infinite), after the
  // latest construct or every earlier operation.
  void integrate(fuzz_input& in) {
    const std::int64_t n = in.pick(8) == 0 ? in.count(-1, 64) : in.in_range(0, 40);
    T* lower = arrays_.make<T>(in, queue_, n);
    T* upper = arrays_.make<T>(in, queue_, n);
    for (std::int64_t i = 0; lower != nullptr && i < n; ++i) lower[i] = in.value<T>();
    for (std::int64_t i = 0; upper != nullptr && i < n; ++i) upper[i] = in.value<T>();
    T* results = arrays_.make<T>(in, queue_, product(ny_, n));
    const std::vector<sycl::event> after = in.flag() ? events_ : latest_construct_;
    events_.push_back(df::integrate(*spline_, lower, upper, n, results, after));
  }

  // Any levels and max_roots; a solve stores at most min(count, max_roots)
  // roots per (function, level) and leaves the other slots, and finds no
  // root of a level that is not finite.
  void solve(fuzz_input& in) {
    const std::int64_t n = in.pick(8) == 0 ? in.count(-1, 64) : in.in_range(0, 40);
    const std::int64_t max_roots = in.pick(8) == 0 ? in.count(-1, 8) : in.in_range(0, 4);
    T* levels = arrays_.make<T>(in, queue_, n);
    for (std::int64_t i = 0; levels != nullptr && i < n; ++i) levels[i] = in.value<T>();
    const std::int64_t slots = product(ny_, n);
    const std::int64_t count = product(slots, std::max<std::int64_t>(max_roots, 0));
    T* roots = arrays_.make<T>(in, queue_, count);
    auto* counts = arrays_.make<std::int64_t>(in, queue_, slots);
    for (std::int64_t i = 0; roots != nullptr && i < count; ++i) roots[i] = sentinel<T>();
    for (std::int64_t i = 0; counts != nullptr && i < slots; ++i) counts[i] = -1;
    const std::vector<sycl::event> after = in.flag() ? events_ : latest_construct_;
    events_.push_back(df::solve(*spline_, levels, n, roots, counts, max_roots, after));
    if (roots != nullptr && counts != nullptr && count > 0) {
      checks_.push_back([=] { check_roots(roots, counts, slots, max_roots); });
    }
    if (levels != nullptr && counts != nullptr && n > 0) {
      checks_.push_back([=] { check_unreachable_levels(levels, n, counts, slots); });
    }
  }

  static void check_roots(const T* roots, const std::int64_t* counts, std::int64_t slots, std::int64_t max_roots) {
    const T mark = sentinel<T>();
    for (std::int64_t j = 0; j < slots; ++j) {
      const std::int64_t stored = std::min(std::max<std::int64_t>(counts[j], 0), max_roots);
      const T* r = roots + j * max_roots;
      for (std::int64_t i = 0; i < max_roots; ++i) {
        const bool untouched = std::memcmp(&r[i], &mark, sizeof(T)) == 0;
        if (i >= stored && !untouched) fail("solve wrote root slot %lld beyond its count", (long long)i);
      }
    }
  }

  static void check_unreachable_levels(const T* levels, std::int64_t n, const std::int64_t* counts,
                                       std::int64_t slots) {
    for (std::int64_t j = 0; j < slots; ++j) {
      if (!std::isfinite(levels[j % n]) && counts[j] > 0) fail("solve found roots of a level that is not finite");
    }
  }

  // Run after all work has finished.
  static void check_untouched(const T* results, std::int64_t count, std::int64_t ny, std::int64_t nsites,
                              std::int64_t k, std::int64_t ih, std::bitset<32> mask) {
    const T mark = sentinel<T>();
    for (std::int64_t i = 0; i < count; ++i) {
      const std::int64_t d = order_of_slot(ih, i, ny, nsites, k);
      const bool asked = d >= 0 && d < per_cell && mask.test(static_cast<std::size_t>(d));
      if (!asked && std::memcmp(&results[i], &mark, sizeof(T)) != 0) {
        fail("interpolate (layout %lld) wrote slot %lld of order %lld, which was not asked for", (long long)ih,
             (long long)i, (long long)d);
      }
    }
  }

  sycl::queue queue_;
  sycl::queue other_;
  std::int64_t ny_;
  bool supplied_;
  bool sound_partitions_;  // a spline on a queue of its own gets increasing breakpoints
  usm_arrays& arrays_;
  std::vector<std::function<void()>>& checks_;
  std::unique_ptr<df::spline<T, S>> spline_;
  std::int64_t nx_ = 0;  // of the recorded partition; 0 before there is one
  // The nx each recorded array was sized for; -1 while none is recorded.
  std::int64_t functions_nx_ = -1;
  std::int64_t coeffs_nx_ = -1;
  std::int64_t ic_nx_ = -1;
  std::int64_t slopes_nx_ = -1;
  std::int64_t weights_nx_ = -1;  // smoothing: the weights' count
  std::int64_t weights_n_ = -1;   // least squares: the weights' count
  std::int64_t ndata_ = -1;       // least squares: the recorded data's count
  T* chosen_ = nullptr;           // smoothing: where cross-validation writes
  std::array<T, 2> ends_{T(0), T(8)};  // the recorded partition's first and last entries
  T* functions_ = nullptr;  // the recorded function values and their count
  std::int64_t functions_n_ = 0;
  std::vector<sycl::event> events_;  // of every construct and interpolate
  std::vector<sycl::event> latest_construct_;
};

// A spline of the kind, device and settings the input picks, or nothing when
// creation is refused (as it must be for ny <= 0 and for the accelerator).
std::unique_ptr<spline_slot> create(fuzz_input& in, usm_arrays& arrays, std::vector<std::function<void()>>& checks) {
  const std::uint32_t device = in.pick(16);
  const bool accelerator = device == 15;
  const bool cpu = device % 2 == 1;
  const std::uint32_t kind = in.pick(22);
  const std::int64_t ny = in.pick(8) == 0 ? in.count(-1, 8) : in.in_range(1, 4);
  const bool supplied = in.pick(4) == 0;
  // A spline made from a device and a context owns a queue without an
  // asynchronous handler: an asynchronous failure of its work (possible only
  // on the CPU device, for the periodic check of natural and Hyman splines,
  // and for a bad partition) would end the process by the runtime's default
  // handler, so such splines are made on the GPU-class device only, of the
  // other kinds, and get increasing breakpoints.
  const bool checks_periodic = kind / 2 == 2 || kind / 2 == 5;
  const bool fits = kind / 2 >= 9;  // refuses bad weights and data through the handler
  const bool via_context = !cpu && !checks_periodic && !fits && in.pick(4) == 0;
  std::unique_ptr<spline_slot> slot;
  try {
    if (accelerator) {
      sycl::queue q(sycl::accelerator_selector_v, async_handler);
      df::spline<float, df::linear_spline::default_type> refused(q, ny, supplied);
      fail("a spline was created on the accelerator");
    }
    sycl::queue& q = device_queue(cpu);
    sycl::queue& other = device_queue(!cpu);
    auto make = [&](auto fp, auto kind_tag) {
      using T = decltype(fp);
      using S = decltype(kind_tag);
      slot = std::make_unique<typed_slot<T, S>>(q, other, ny, supplied, via_context, arrays, checks);
    };
    namespace cubic = df::cubic_spline;
    switch (kind / 2) {
      case 0: kind % 2 ? make(0.0, df::linear_spline::default_type{}) : make(0.0f, df::linear_spline::default_type{}); break;
      case 1: kind % 2 ? make(0.0, cubic::hermite{}) : make(0.0f, cubic::hermite{}); break;
      case 2: kind % 2 ? make(0.0, cubic::natural{}) : make(0.0f, cubic::natural{}); break;
      case 3: kind % 2 ? make(0.0, cubic::akima{}) : make(0.0f, cubic::akima{}); break;
      case 4: kind % 2 ? make(0.0, cubic::bessel{}) : make(0.0f, cubic::bessel{}); break;
      case 5: kind % 2 ? make(0.0, cubic::hyman{}) : make(0.0f, cubic::hyman{}); break;
      case 6: kind % 2 ? make(0.0, cubic::pchip{}) : make(0.0f, cubic::pchip{}); break;
      case 7: kind % 2 ? make(0.0, cubic::makima{}) : make(0.0f, cubic::makima{}); break;
      case 8: kind % 2 ? make(0.0, cubic::steffen{}) : make(0.0f, cubic::steffen{}); break;
      case 9: kind % 2 ? make(0.0, cubic::smoothing{}) : make(0.0f, cubic::smoothing{}); break;
      default: kind % 2 ? make(0.0, cubic::least_squares{}) : make(0.0f, cubic::least_squares{}); break;
    }
  } catch (const velora::qrx::unsupported_device&) {
    if (!accelerator) fail("unsupported_device for a %s queue", cpu ? "CPU" : "GPU");
    return nullptr;
  } catch (const velora::qrx::invalid_argument&) {
    if (ny > 0 || accelerator) fail("spline refused with invalid_argument for ny %lld", (long long)ny);
    return nullptr;
  }
  if (ny <= 0) fail("a spline was created with ny %lld", (long long)ny);
  return slot;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_input in(data, size);
  usm_arrays arrays;                          // freed last, after all work
  std::vector<std::function<void()>> checks;  // run after all work
  {
    std::vector<std::unique_ptr<spline_slot>> slots;
    for (int n = 0; n < 24 && !in.exhausted(); ++n) {
      const std::uint32_t op = in.pick(16);
      try {
        if (slots.empty() || (op == 0 && slots.size() < 3)) {
          if (auto slot = create(in, arrays, checks)) slots.push_back(std::move(slot));
        } else if (op == 1) {
          slots.erase(slots.begin() + in.pick(static_cast<std::uint32_t>(slots.size())));  // waits for its work
        } else {
          slots[in.pick(static_cast<std::uint32_t>(slots.size()))]->step(in);
        }
      } catch (const velora::qrx::exception&) {
      } catch (const sycl::exception&) {
      } catch (const std::exception& e) {
        fail("a call threw an exception of a foreign kind: %s", e.what());
      }
    }
  }
  device_queue(false).wait_and_throw();
  device_queue(true).wait_and_throw();
  for (const auto& check : checks) check();
  return 0;
}
