#pragma once

#include <cstdint>

#include "data_fitting/hints.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// How a smoothing spline's parameter is given.
enum class smoothing_rule : std::int64_t {
  none = 0,  // not yet recorded: the spline cannot be constructed
  given,     // one lambda for every function
  by_gcv,    // each function's own, chosen by generalised cross-validation
};

// What the fitting kinds record beyond the other kinds' fields: the
// smoothing spline's weights and parameter, the least-squares spline's data
// and weights. Arrays are the caller's, read by the construction's work.
template <typename FpType>
struct fit_description {
  // One weight per data site (nx for smoothing, ndata for least squares),
  // shared by every function; null: all 1.
  const FpType* weights = nullptr;

  smoothing_rule smoothing = smoothing_rule::none;
  FpType lambda = 0;          // for smoothing_rule::given
  FpType* chosen = nullptr;   // for smoothing_rule::by_gcv: ny entries written by the work

  // Least squares: ndata sites and their values, ndata*ny elements laid out
  // as `values_layout` says (as function values, with ndata in place of nx).
  const FpType* sites = nullptr;  // null until recorded
  const FpType* values = nullptr;
  std::int64_t ndata = 0;
  function_hint values_layout = function_hint::row_major;

  bool has_smoothing() const { return smoothing != smoothing_rule::none; }
  bool has_data() const { return sites != nullptr; }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
