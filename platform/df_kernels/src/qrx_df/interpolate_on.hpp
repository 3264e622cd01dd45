#pragma once

#include <cstdint>

#include "qrx_df/isa.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace qrx_df {

// How an interpolation runs: the instruction-set variant, which the
// processor must run (isa_supported), and the size of the results from which
// they bypass the caches where the variant can do so. The entry points take
// the defaults; tests take each variant in turn, with and without streamed
// results, and hold it to the plain loops.
struct run_options {
  isa target = best_isa();
  // Larger results would not stay in the last-level cache (32 MiB on the
  // machines this was measured on) for the caller to read anyway.
  std::int64_t stream_results_from = std::int64_t{32} << 20;
  // Many functions: the longest block of sites whose cells are found once
  // (their cells and offsets, 96 KiB in double, stay in the core's cache
  // while every function is evaluated over them), and the results of a
  // site-major tile that stay in the core's cache while a chunk of
  // functions fills their lines. Tests take small tiles to reach the edges.
  std::int64_t function_block = 8192;
  std::int64_t tile_bytes = std::int64_t{256} << 10;
  // Many functions' results stream from a larger size: near the cache's
  // size the calls that follow still find part of them there (1000
  // functions, 10^5 sites, two threads, AVX-512: 2.4 GB of orders 0-2 took
  // about 15 % less time streamed, 800 MB of values the same, 38 MB of 16
  // functions' orders 0-2 about 7 % more).
  std::int64_t stream_many_results_from = std::int64_t{256} << 20;
};

// The standard interpolation of a task, run as the options say.
std::int32_t interpolate_on(const run_options& run, qrx_df_task* task, std::int64_t type, std::int64_t nsites, const float* sites,
                            std::int64_t site_hint, std::int64_t der_count, const std::int64_t* der_indicators,
                            float* results, std::int64_t result_hint, std::int64_t* cells,
                            const qrx_df_threader_block* threader);
std::int32_t interpolate_on(const run_options& run, qrx_df_task* task, std::int64_t type, std::int64_t nsites,
                            const double* sites, std::int64_t site_hint, std::int64_t der_count,
                            const std::int64_t* der_indicators, double* results, std::int64_t result_hint,
                            std::int64_t* cells, const qrx_df_threader_block* threader);

}  // namespace qrx_df
