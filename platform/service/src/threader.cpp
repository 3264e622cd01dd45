// The threader entry points on TBB.

#include <algorithm>
#include <cstdint>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include "qrx_lumo_thread/threader.h"

namespace {

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
    // simple_partitioner keeps every range at most `grain` long, as promised.
    tbb::parallel_for(
        tbb::blocked_range<std::int64_t>(0, n, static_cast<std::size_t>(grain)),
        [&](const tbb::blocked_range<std::int64_t>& r) { body(context, r.begin(), r.end()); },
        tbb::simple_partitioner{});
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
    tbb::parallel_pipeline(
        tokens,
        tbb::make_filter<void, range>(tbb::filter_mode::serial_in_order,
                                      [&](tbb::flow_control& fc) -> range {
                                        if (next >= n) {
                                          fc.stop();
                                          return {};
                                        }
                                        const range r{next, next + std::min(grain, n - next)};
                                        next = r.end;
                                        return r;
                                      }) &
            tbb::make_filter<range, range>(tbb::filter_mode::parallel,
                                           [&](range r) {
                                             body(context, r.begin, r.end);
                                             return r;
                                           }) &
            tbb::make_filter<range, void>(tbb::filter_mode::serial_in_order,
                                          [&](range r) { ordered(context, r.begin, r.end); }));
  });
}

extern "C" std::int32_t qrx_df_serv_threader_sections(std::int64_t nsections, void* context,
                                                      qrx_serv_section_body* section) {
  if (nsections < 0 || section == nullptr) return QRX_SERV_THREADER_FAILED;
  if (nsections == 0) return QRX_SERV_THREADER_OK;
  return guarded([&] {
    tbb::parallel_for(
        tbb::blocked_range<std::int64_t>(0, nsections, 1),
        [&](const tbb::blocked_range<std::int64_t>& r) {
          for (std::int64_t i = r.begin(); i < r.end(); ++i) section(context, i);
        },
        tbb::simple_partitioner{});
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
