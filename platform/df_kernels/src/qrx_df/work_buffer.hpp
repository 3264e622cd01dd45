#pragma once

// A heap array of doubles owned by one scope: the kernels are built without
// exceptions, so a failed allocation shows as an empty buffer the caller
// turns into a status.

#include <cstdint>
#include <cstdlib>

#include "qrx_df/task_record.hpp"

namespace qrx_df {

class work_buffer {
 public:
  explicit work_buffer(std::int64_t count)
      : p_(count > 0 && product_fits(count, static_cast<std::int64_t>(sizeof(double)))
               ? static_cast<double*>(std::malloc(static_cast<std::size_t>(count) * sizeof(double)))
               : nullptr) {}
  ~work_buffer() { std::free(p_); }
  work_buffer(const work_buffer&) = delete;
  work_buffer& operator=(const work_buffer&) = delete;

  bool ok() const { return p_ != nullptr; }
  double* data() const { return p_; }

 private:
  double* p_;
};

}  // namespace qrx_df
