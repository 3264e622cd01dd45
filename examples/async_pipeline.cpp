// Every operation of the library only submits work and returns its event;
// nothing waits until the program asks. This example chains four commands
// (a kernel that makes the function values, a kernel that makes the sites,
// construct, interpolate) and waits once, at the end, with
// queue::wait_and_throw. It does so twice:
//
//   1. with two queues on the same device and context: construct runs on
//      the spline's queue, interpolate on the other one, and the order comes
//      from the events passed as dependencies;
//   2. with one in-order queue (sycl::property::queue::in_order): each
//      command starts after the previous one of that queue, so no
//      dependencies are passed at all.
//
// For each it prints the events' states right after submission (they depend
// on timing: typically some are still submitted or running), the time the
// submissions took against the time until the results were there, and the
// largest error of the results against the exact values. Exits 1 if a result
// is wrong or an event is not complete after the wait.
#include <bitset>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

#include <sycl/sycl.hpp>

#include <data_fitting/data_fitting.hpp>

namespace df = velora::qrx::experimental::data_fitting;
using spline_type = df::spline<double, df::linear_spline::default_type, 1>;

constexpr std::int64_t nx = 1001;       // evenly spaced breakpoints on [0, 1]
constexpr std::int64_t ny = 8;          // functions f(x) = j + (j + 1)x, j = 0..7
constexpr std::int64_t nsites = 200000;  // sites spread over [0, 1)

// The arrays one pipeline uses, all USM shared memory.
struct arrays {
  double* x;        // the two ends of the partition
  double* y;        // nx*ny function values, made on the device
  double* sites;    // made on the device
  double* coeffs;   // (nx - 1)*ny*2
  double* results;  // ny*nsites*2: values and first derivatives
};

arrays allocate(const sycl::queue& q) {
  arrays a{sycl::malloc_shared<double>(2, q), sycl::malloc_shared<double>(nx * ny, q),
           sycl::malloc_shared<double>(nsites, q), sycl::malloc_shared<double>((nx - 1) * ny * 2, q),
           sycl::malloc_shared<double>(ny * nsites * 2, q)};
  a.x[0] = 0;
  a.x[1] = 1;
  // A result never written stays NaN and fails the check.
  for (std::int64_t i = 0; i < ny * nsites * 2; ++i) a.results[i] = std::numeric_limits<double>::quiet_NaN();
  return a;
}

void release(const arrays& a, const sycl::queue& q) {
  for (double* p : {a.x, a.y, a.sites, a.coeffs, a.results}) sycl::free(p, q);
}

// A kernel that writes the function values: y[j*nx + i] = j + (j + 1)*x_i.
sycl::event make_values(sycl::queue& q, double* y) {
  return q.parallel_for(sycl::range<1>(nx * ny), [=](sycl::id<1> id) {
    const std::int64_t k = std::int64_t(id[0]);
    const std::int64_t j = k / nx;
    const double x = double(k % nx) / double(nx - 1);
    y[k] = double(j) + double(j + 1) * x;
  });
}

// A kernel that writes the sites: the fractional parts of s times the golden
// ratio, which spread evenly over [0, 1) in no particular order.
sycl::event make_sites(sycl::queue& q, double* sites) {
  return q.parallel_for(sycl::range<1>(nsites), [=](sycl::id<1> id) {
    const double t = double(id[0]) * 0.6180339887498949;
    sites[id[0]] = t - double(std::int64_t(t));
  });
}

// Largest difference between the results (funcs_sites_ders) and the exact
// values and slopes; infinite if any result is NaN.
double largest_error(const arrays& a) {
  double worst = 0;
  for (std::int64_t j = 0; j < ny; ++j)
    for (std::int64_t s = 0; s < nsites; ++s) {
      const double* r = a.results + (j * nsites + s) * 2;
      const double value = double(j) + double(j + 1) * a.sites[s];
      const double e = std::fmax(std::abs(r[0] - value), std::abs(r[1] - double(j + 1)));
      worst = std::isnan(e) ? std::numeric_limits<double>::infinity() : std::fmax(worst, e);
    }
  return worst;
}

const char* state(const sycl::event& e) {
  switch (e.get_info<sycl::info::event::command_execution_status>()) {
    case sycl::info::event_command_status::submitted: return "submitted";
    case sycl::info::event_command_status::running: return "running";
    default: return "complete";
  }
}

double ms_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

struct named_event {
  const char* name;
  sycl::event event;
};

// Prints the events' states now, waits for `queues`, and checks the results
// and that every event has completed. Returns whether all is well.
bool finish(const char* title, const std::vector<named_event>& events, std::vector<sycl::queue> queues,
            std::chrono::steady_clock::time_point start, const arrays& a) {
  const double submit_ms = ms_since(start);
  std::printf("%s\n  submitted %zu commands in %.2f ms; their events just after:\n", title, events.size(),
              submit_ms);
  for (const named_event& e : events) std::printf("    %-12s %s\n", e.name, state(e.event));

  // The only place the program blocks. wait_and_throw also hands errors
  // that happened inside the work to the queue's asynchronous handler.
  for (sycl::queue& q : queues) q.wait_and_throw();
  std::printf("  wait_and_throw returned %.2f ms after the first submission\n", ms_since(start));

  bool ok = true;
  for (const named_event& e : events)
    if (e.event.get_info<sycl::info::event::command_execution_status>() !=
        sycl::info::event_command_status::complete) {
      std::printf("  FAILED: %s is not complete after the wait\n", e.name);
      ok = false;
    }
  const double error = largest_error(a);
  std::printf("  largest error of %lld values and slopes: %.3g\n", static_cast<long long>(ny * nsites * 2),
              error);
  return ok && error <= 1e-10;  // values up to 15: a few roundings
}

// 1. Two queues of one device and context; dependencies by events.
bool two_queues(sycl::queue& build_q) {
  sycl::queue eval_q(build_q.get_context(), build_q.get_device());
  arrays a = allocate(build_q);
  bool ok;
  {
    spline_type spline(build_q, ny, false);  // construct runs on build_q
    spline.set_partitions(a.x, nx, df::partition_hint::uniform).set_function_values(a.y).set_coefficients(a.coeffs);

    const auto start = std::chrono::steady_clock::now();
    sycl::event values = make_values(build_q, a.y);
    sycl::event sites = make_sites(eval_q, a.sites);
    sycl::event built = spline.construct({values});  // reads the values: after their kernel
    // This overload runs on eval_q. It needs the coefficients (built) and the
    // sites (sites), which come from two different queues.
    sycl::event evaluated = df::interpolate(eval_q, spline, a.sites, nsites, a.results, std::bitset<32>("11"),
                                            {built, sites}, df::interpolate_hint::funcs_sites_ders);
    ok = finish("two queues, dependencies by events:",
                {{"values", values}, {"sites", sites}, {"construct", built}, {"interpolate", evaluated}},
                {eval_q, build_q}, start, a);
  }
  release(a, build_q);
  return ok;
}

// 2. One in-order queue; no dependencies passed.
bool in_order_queue(const sycl::queue& any_q) {
  sycl::queue q(any_q.get_context(), any_q.get_device(), sycl::property_list{sycl::property::queue::in_order{}});
  arrays a = allocate(q);
  bool ok;
  {
    spline_type spline(q, ny, false);
    spline.set_partitions(a.x, nx, df::partition_hint::uniform).set_function_values(a.y).set_coefficients(a.coeffs);

    const auto start = std::chrono::steady_clock::now();
    sycl::event values = make_values(q, a.y);
    sycl::event sites = make_sites(q, a.sites);
    sycl::event built = spline.construct();  // the queue orders it after both kernels
    sycl::event evaluated = df::interpolate(spline, a.sites, nsites, a.results, std::bitset<32>("11"));
    ok = finish("one in-order queue, no dependencies passed:",
                {{"values", values}, {"sites", sites}, {"construct", built}, {"interpolate", evaluated}}, {q},
                start, a);
  }
  release(a, q);
  return ok;
}

sycl::queue first_queue() {
  try {
    return sycl::queue(sycl::gpu_selector_v);
  } catch (const sycl::exception&) {
    return sycl::queue(sycl::cpu_selector_v);
  }
}

int main() {
  sycl::queue q = first_queue();
  std::printf("device: %s\n", q.get_device().get_info<sycl::info::device::name>().c_str());
  const bool ok_events = two_queues(q);
  const bool ok_in_order = in_order_queue(q);
  if (!ok_events || !ok_in_order) {
    std::printf("async_pipeline: FAILED\n");
    return 1;
  }
  std::printf("async_pipeline: both pipelines agree with the exact values\n");
  return 0;
}
