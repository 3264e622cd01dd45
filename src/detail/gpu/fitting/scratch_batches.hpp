#pragma once

// Work whose units each need their own scratch (a function's right side, a
// factorisation per score) is launched in batches that reuse one scratch
// array, so that the scratch stays within a budget however many units
// there are. One batch holds at least one unit.

#include <cstdint>

namespace velora::qrx::experimental::data_fitting::detail {

// 256 MB of doubles.
inline constexpr std::int64_t scratch_budget_doubles = std::int64_t{32} << 20;

struct scratch_batches {
  std::int64_t units;
  std::int64_t per_batch;  // >= 1

  std::int64_t count() const { return (units + per_batch - 1) / per_batch; }
  std::int64_t first(std::int64_t b) const { return b * per_batch; }
  std::int64_t size(std::int64_t b) const { return units - first(b) < per_batch ? units - first(b) : per_batch; }
};

// Batches of `units` whose scratch, doubles_per_unit each, fits the budget.
inline scratch_batches batches_within_budget(std::int64_t units, std::int64_t doubles_per_unit) {
  std::int64_t per_batch = doubles_per_unit > 0 ? scratch_budget_doubles / doubles_per_unit : units;
  if (per_batch > units) per_batch = units;
  if (per_batch < 1) per_batch = 1;
  return {units, per_batch};
}

}  // namespace velora::qrx::experimental::data_fitting::detail
