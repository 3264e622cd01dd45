// The threader entry points on TBB.

#include <algorithm>
#include <cstdint>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include "qrx_lumo_thread/threader.h"
#include "tsan_order.hpp"

namespace {

using qrx_serv::tsan_order;

// Synchronisation objects of a loop's fork and join (tsan_order.hpp).
constexpr std::size_t fork_sync = 0;
constexpr std::size_t join_sync = 1;

// Runs f and turns anything it throws into a failure status: the entry
// points are C functions and must not let an exception escape.
template <typename F>
std::int32_t guarded(F&& f) noexcept {
  try {
    f();
    return QRX_SERV_THREADER_OK;
  } catch (...) {
    return QRX_SERV_THREADER_FAILED;
  }
}

bool valid_loop(std::int64_t n, std::int64_t grain, const void* body) { return n >= 0 && grain >= 1 && body != nullptr; }

}  // namespace

extern "C" std::int32_t qrx_df_serv_threader_for(std::int64_t n, std::int64_t grain, void* context,
                                                 qrx_serv_range_body* body) {
  if (!valid_loop(n, grain, reinterpret_cast<const void*>(body))) return QRX_SERV_THREADER_FAILED;
  if (n == 0) return QRX_SERV_THREADER_OK;
  return guarded([&] {
    tsan_order order;
    order.release(fork_sync);
    // simple_partitioner keeps every range at most `grain` long, as promised.
    tbb::parallel_for(
        tbb::blocked_range<std::int64_t>(0, n, static_cast<std::size_t>(grain)),
        [&](const tbb::blocked_range<std::int64_t>& r) {
          order.acquire(fork_sync);
          body(context, r.begin(), r.end());
          order.release(join_sync);
        },
        tbb::simple_partitioner{});
    order.acquire(join_sync);
  });
}

extern "C" std::int32_t qrx_df_serv_threader_for_ordered(std::int64_t n, std::int64_t grain, void* context,
                                                         qrx_serv_range_body* body, qrx_serv_range_body* ordered) {
  if (!valid_loop(n, grain, reinterpret_cast<const void*>(body)) || ordered == nullptr) {
    return QRX_SERV_THREADER_FAILED;
  }
  if (n == 0) return QRX_SERV_THREADER_OK;
  return guarded([&] {
    struct range {
      std::int64_t begin;
      std::int64_t end;
    };
    std::int64_t next = 0;
    // A pipeline: ranges are cut in order, their bodies run in parallel, and
    // the ordered stage sees them again in the order they were cut.
    const auto tokens = static_cast<std::size_t>(2 * std::max(1, tbb::this_task_arena::max_concurrency()));
    // Order for ThreadSanitizer (tsan_order.hpp): the fork and join, each
    // serial stage after its previous call, and a range's ordered call after
    // its body. At most `tokens` ranges are in flight, so ranges `tokens`
    // apart can share an object (beyond the object's capacity, nearer ones
    // share one too, which only adds order).
    constexpr std::size_t cut = 2, in_order = 3, first_range = 4;
    tsan_order order;
    const std::size_t range_syncs = std::min(tokens, tsan_order::capacity - first_range);
    auto range_sync = [&](const range& r) {
      return first_range + static_cast<std::size_t>(r.begin / grain) % range_syncs;
    };
    order.release(fork_sync);
    tbb::parallel_pipeline(
        tokens,
        tbb::make_filter<void, range>(tbb::filter_mode::serial_in_order,
                                      [&](tbb::flow_control& fc) -> range {
                                        order.acquire(fork_sync);
                                        order.acquire(cut);
                                        range r{};
                                        if (next >= n) {
                                          fc.stop();
                                        } else {
                                          r = range{next, next + std::min(grain, n - next)};
                                          next = r.end;
                                        }
                                        order.release(cut);
                                        return r;
                                      }) &
            tbb::make_filter<range, range>(tbb::filter_mode::parallel,
                                           [&](range r) {
                                             order.acquire(fork_sync);
                                             body(context, r.begin, r.end);
                                             order.release(range_sync(r));
                                             return r;
                                           }) &
            tbb::make_filter<range, void>(tbb::filter_mode::serial_in_order, [&](range r) {
              order.acquire(fork_sync);
              order.acquire(in_order);
              order.acquire(range_sync(r));
              ordered(context, r.begin, r.end);
              order.release(in_order);
              order.release(join_sync);
            }));
    order.acquire(join_sync);
  });
}

extern "C" std::int32_t qrx_df_serv_threader_sections(std::int64_t nsections, void* context,
                                                      qrx_serv_section_body* section) {
  if (nsections < 0 || section == nullptr) return QRX_SERV_THREADER_FAILED;
  if (nsections == 0) return QRX_SERV_THREADER_OK;
  return guarded([&] {
    tsan_order order;
    order.release(fork_sync);
    tbb::parallel_for(
        tbb::blocked_range<std::int64_t>(0, nsections, 1),
        [&](const tbb::blocked_range<std::int64_t>& r) {
          order.acquire(fork_sync);
          for (std::int64_t i = r.begin(); i < r.end(); ++i) section(context, i);
          order.release(join_sync);
        },
        tbb::simple_partitioner{});
    order.acquire(join_sync);
  });
}

extern "C" std::int32_t qrx_df_serv_threader_ordered(std::int64_t n, std::int64_t grain, void* context,
                                                     qrx_serv_range_body* body) {
  if (!valid_loop(n, grain, reinterpret_cast<const void*>(body))) return QRX_SERV_THREADER_FAILED;
  for (std::int64_t begin = 0; begin < n; begin += std::min(grain, n - begin)) {
    body(context, begin, begin + std::min(grain, n - begin));
  }
  return QRX_SERV_THREADER_OK;
}

extern "C" std::int32_t qrx_df_serv_threader_get_num_threads_limit(void) {
  return std::max(1, tbb::this_task_arena::max_concurrency());
}
