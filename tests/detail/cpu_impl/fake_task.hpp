#pragma once

// A task record built by hand, in the kernel library's own layout, so that
// the front-end's checks can be driven field by field.

#include <cstdint>
#include <vector>

#include "qrx_df/task_record.hpp"

struct fake_task {
  qrx_df_task record{};
  std::vector<double> storage = std::vector<double>(64, 1.0);
  std::vector<const void*> functions;
  std::vector<void*> coeffs;

  explicit fake_task(std::int64_t ny) {
    record.ny = ny;
    const std::size_t slots = ny > 0 ? static_cast<std::size_t>(ny) : 1;
    functions.assign(slots, storage.data());
    coeffs.assign(slots, storage.data());
    record.functions = functions.data();
    record.coeffs = coeffs.data();
    record.function_hint = 16;
    record.order = 4;
    record.type = 3;
    record.ic_type = 1;
    record.internal_conditions = storage.data();
  }
  qrx_df_task* task() { return &record; }
};
