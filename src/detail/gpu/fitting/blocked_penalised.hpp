#pragma once

// G + lambda Omega factored by blocks (partitioned_band.hpp) with what a
// cross-validation score needs: the trace of the influence matrix
// tr(M^{-1} G) by blocks (partitioned_trace.hpp), and per function its
// weighted residual sum by blocks of sites. Each lambda tried at once has
// its own storage, so grid points and functions are factored side by side.

#include <algorithm>
#include <cstdint>

#include "detail/gpu/calculus/compensated_sum.hpp"
#include "detail/gpu/fitting/partitioned_trace.hpp"
#include "detail/gpu/fitting/penalised_band.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// G as a band: n(d, a) = G(a, a - d). Captured by kernels.
struct gram_band {
  smoothing_tables t;
  double operator()(int d, std::int64_t a) const { return t.g(d, a); }
};

// One factor in `data` (doubles(parts)): the solver's shared array, S^{-1}
// on its band, the blocks' partial traces and whether it factored.
struct blocked_penalised {
  band_partition parts;
  double* data;

  static std::int64_t doubles(const band_partition& p) {
    return partitioned_band::shared_doubles(p) + partitioned_trace::inverse_doubles(p) + p.blocks + 1;
  }

  partitioned_band band() const { return {parts, data}; }
  partitioned_trace inverse() const { return {band(), data + partitioned_band::shared_doubles(parts)}; }
  double* partial_traces() const { return inverse().sigma + partitioned_trace::inverse_doubles(parts); }
  bool factored() const { return partial_traces()[parts.blocks] != 0.0; }

  // Once every block is factored: the separators, then S^{-1}'s band.
  bool factor_separators(const penalised_matrix& m) const {
    const bool ok = band().factor_separators(m, 0.0);
    if (ok) inverse().invert_separators();
    partial_traces()[parts.blocks] = ok ? 1.0 : 0.0;
    return ok;
  }

  void trace_block(const smoothing_tables& t, std::int64_t b) const {
    partial_traces()[b] = inverse().trace_block(gram_band{t}, b);
  }

  // tr(M^{-1} G), the blocks' parts summed in block order.
  double trace() const {
    compensated_sum<double> sum;
    for (std::int64_t b = 0; b < parts.blocks; ++b) sum.add(partial_traces()[b]);
    return sum.hi + sum.lo;
  }
};

// One function's work with a blocked factor, in `data` (doubles(parts)):
// its right side and solution, the blocks' products g and partial residual
// sums.
struct blocked_fit {
  band_partition parts;
  double* data;

  static std::int64_t doubles(const band_partition& p) {
    return p.size + partitioned_band::function_doubles(p) + p.blocks;
  }

  double* x() const { return data; }
  double* g() const { return data + parts.size; }
  double* residuals() const { return g() + partitioned_band::function_doubles(parts); }

  // Block b's right side, solved with its interior factor.
  template <typename Y>
  void solve_block(const smoothing_tables& t, const partitioned_band& band, const penalised_matrix& m, Y y,
                   std::int64_t b) const {
    for (std::int64_t r = parts.first(b); r < parts.first(b + 1); ++r) x()[r] = penalised_right_side(t, y, r);
    band.solve_block(m, x(), g(), b);
  }

  // The weighted squared residuals of the sites whose rows block b holds,
  // once the block and the separator after it are solved.
  template <typename Y>
  void residual_block(const smoothing_tables& t, Y y, std::int64_t b) const {
    compensated_sum<double> sum;
    const std::int64_t end = std::min(parts.first(b + 1), t.sites());
    for (std::int64_t i = parts.first(b); i < end; ++i) {
      const double e = static_cast<double>(y(i)) - penalised_site_fit(t, x(), i).f;
      sum.add(t.weight(i) * e * e);
    }
    residuals()[b] = sum.hi + sum.lo;
  }

  double residual_sum() const {
    compensated_sum<double> sum;
    for (std::int64_t b = 0; b < parts.blocks; ++b) sum.add(residuals()[b]);
    return sum.hi + sum.lo;
  }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
