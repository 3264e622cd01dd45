// The SYCL runtime's round trip: one empty command submitted and waited for,
// on an out-of-order and an in-order CPU queue, waited for through the queue
// and through the event; and a chain of empty host tasks, each depending on
// the one before, waited for once. A small public call costs about this much
// on top of its kernel. Host tasks go through the library's own submission
// (a custom operation where the implementation has no host tasks).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <sycl/sycl.hpp>
#include <vector>

#include "detail/host_task.hpp"

namespace {

namespace detail = velora::qrx::experimental::data_fitting::detail;

enum command : std::int64_t { host_task = 0, single_task = 1 };
enum waiter : std::int64_t { queue_wait = 0, event_wait = 1 };

sycl::queue make_queue(bool in_order) {
  const sycl::device cpu = sycl::device::get_devices(sycl::info::device_type::cpu).at(0);
  return in_order ? sycl::queue{cpu, sycl::property::queue::in_order{}} : sycl::queue{cpu};
}

// Args: command, in-order queue (0/1), waiter.
void BM_EmptyCommand(benchmark::State& state) {
  const auto kind = static_cast<command>(state.range(0));
  sycl::queue q = make_queue(state.range(1) == 1);
  const bool through_event = state.range(2) == event_wait;
  for (auto _ : state) {
    sycl::event e = kind == host_task ? detail::submit_host_task(q, {}, [] {}) : q.single_task([] {});
    if (through_event) {
      e.wait_and_throw();
    } else {
      q.wait_and_throw();
    }
  }
}

// Args: chain length. Each host task depends on the one before.
void BM_HostTaskChain(benchmark::State& state) {
  sycl::queue q = make_queue(false);
  const std::int64_t length = state.range(0);
  for (auto _ : state) {
    std::vector<sycl::event> last;
    for (std::int64_t i = 0; i < length; ++i) last = {detail::submit_host_task(q, last, [] {})};
    q.wait_and_throw();
  }
  state.SetItemsProcessed(state.iterations() * length);
}

double fastest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

BENCHMARK(BM_EmptyCommand)
    ->ArgNames({"single_task", "in_order", "event_wait"})
    ->ArgsProduct({{host_task, single_task}, {0, 1}, {queue_wait, event_wait}})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_HostTaskChain)->Arg(16)->Unit(benchmark::kMicrosecond)->UseRealTime()->ComputeStatistics("min", fastest);

}  // namespace

BENCHMARK_MAIN();
