#pragma once

#include <cstdint>

#include "qrx_df/isa.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace qrx_df {

// How an integration runs: the instruction-set variant, which the processor
// must run (isa_supported), and whether blocks of bounds that all start from
// a cell of the first period are searched and integrated as a block. The
// entry points take the defaults; tests hold every variant of the block path
// to the bound-by-bound path, which takes every bound.
struct integrate_options {
  isa target = best_isa();
  bool block_path = true;
};

// The definite integrals of a task's functions, run as the options say.
std::int32_t integrate_on(const integrate_options& run, qrx_df_task* task, const float* table, std::int64_t n,
                          const float* lower, const float* upper, std::int64_t left_mode, std::int64_t right_mode,
                          float* results, const qrx_df_threader_block* threader);
std::int32_t integrate_on(const integrate_options& run, qrx_df_task* task, const double* table, std::int64_t n,
                          const double* lower, const double* upper, std::int64_t left_mode, std::int64_t right_mode,
                          double* results, const qrx_df_threader_block* threader);

}  // namespace qrx_df
