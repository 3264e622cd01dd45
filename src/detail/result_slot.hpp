#pragma once

#include <cstdint>

#include "data_fitting/hints.hpp"

namespace velora::qrx::experimental::data_fitting::detail {

// Index in the results array of derivative order d of function f at site s,
// with K slots per (function, site) pair. The slot of an order never depends
// on which other orders were asked for.
template <interpolate_hint IH>
constexpr std::int64_t result_slot(std::int64_t ny, std::int64_t nsites, std::int64_t K, std::int64_t f, std::int64_t s,
                                   std::int64_t d) {
  if constexpr (IH == interpolate_hint::funcs_sites_ders) {
    return (f * nsites + s) * K + d;
  } else if constexpr (IH == interpolate_hint::funcs_ders_sites) {
    return (f * K + d) * nsites + s;
  } else if constexpr (IH == interpolate_hint::sites_funcs_ders) {
    return (s * ny + f) * K + d;
  } else {
    static_assert(IH == interpolate_hint::sites_ders_funcs, "unknown interpolate hint");
    return (s * K + d) * ny + f;
  }
}

// result_slot for a layout known at run time.
constexpr std::int64_t result_slot_of(interpolate_hint layout, std::int64_t ny, std::int64_t nsites, std::int64_t K,
                                      std::int64_t f, std::int64_t s, std::int64_t d) {
  switch (layout) {
    case interpolate_hint::funcs_sites_ders: return result_slot<interpolate_hint::funcs_sites_ders>(ny, nsites, K, f, s, d);
    case interpolate_hint::funcs_ders_sites: return result_slot<interpolate_hint::funcs_ders_sites>(ny, nsites, K, f, s, d);
    case interpolate_hint::sites_funcs_ders: return result_slot<interpolate_hint::sites_funcs_ders>(ny, nsites, K, f, s, d);
    default: return result_slot<interpolate_hint::sites_ders_funcs>(ny, nsites, K, f, s, d);
  }
}

// How far apart a layout keeps the results of neighbouring functions and of
// neighbouring orders: result_slot(f + 1, s, d) - result_slot(f, s, d) and
// result_slot(f, s, d + 1) - result_slot(f, s, d), the same for every f, s, d.
struct result_strides {
  std::int64_t function;
  std::int64_t order;
};

template <interpolate_hint IH>
constexpr result_strides result_strides_of(std::int64_t ny, std::int64_t nsites, std::int64_t K) {
  if constexpr (IH == interpolate_hint::funcs_sites_ders) {
    return {nsites * K, 1};
  } else if constexpr (IH == interpolate_hint::funcs_ders_sites) {
    return {K * nsites, nsites};
  } else if constexpr (IH == interpolate_hint::sites_funcs_ders) {
    return {K, 1};
  } else {
    static_assert(IH == interpolate_hint::sites_ders_funcs, "unknown interpolate hint");
    return {1, ny};
  }
}

}  // namespace velora::qrx::experimental::data_fitting::detail
