#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "qrx_df/candidate_count.hpp"
#include "qrx_df/isa.hpp"
#include "qrx_df/parallel.hpp"

namespace qrx_df {

// Cell search. For a site x the search index j in [0, nx] is the number of
// breakpoints not greater than x, with the end rules of the table; the cell
// whose polynomial evaluates x is min(max(j - 1, 0), nx - 2).
//
//   site x                        | j, listed partition | j, uniform partition (a, b)
//   ------------------------------+---------------------+----------------------------------
//   x < x_0                       | 0                   | 0
//   x_0 <= x < x_{nx-1}           | #{i : x_i <= x}     | #{i : x at or right of x_i} (*)
//   x == x_{nx-1}                 | nx - 1              | nx - 1
//   x > x_{nx-1}                  | nx                  | nx
//   NaN                           | nx                  | 1
//   partition not increasing      | some j in [0, nx]   | some j in [0, nx]
//
// (*) x is at or right of the uniform breakpoint x_i = a + i*h,
// h = (b - a)/(nx - 1), when (x - a)*(nx - 1) >= (b - a)*i, each side rounded
// once: products are compared, never a product added to something, so no
// contraction into fused multiply-adds changes a cell, and the spline
// library's GPU search decides by the same rule. The candidate from the
// quotient of the two sides is moved by at most one cell, which gives the
// exact count whenever the quotient's rounding moves it by less than one cell
// (cells wider than a few units of rounding of the sites). Both breakpoint
// numbers are converted from integers, so that the count never decreases as
// the site grows even where the type cannot tell g from g + 1.
//
// Floating-point values are compared before any conversion to an integer, so
// NaN, infinite and huge sites never reach a conversion out of range, and no
// read leaves the arrays.

template <typename Index>
constexpr Index cell_of_index(Index j, Index nx) {
  const Index cell = j - 1;
  const Index low = cell < 0 ? 0 : cell;
  return low > nx - 2 ? nx - 2 : low;
}

// The uniform partition [a, b] with nx breakpoints. Conv is the integer type
// the quotient is truncated to: std::int32_t when nx is small enough for the
// clamped quotient to fit, so that the conversion vectorises.
template <typename T>
struct uniform_partition {
  T a;
  T b;
  T h;  // (b - a)/(nx - 1), the cell width
  std::int64_t nx;
  T last;  // nx - 2, rounded: candidates from `last` on are the last cell
  // The value just below `last`, the largest quotient that is converted.
  // `last` itself may not be convertible, as when nx - 2 near 2^63 rounds up
  // to 2^63.
  T top;

  uniform_partition(T a_, T b_, std::int64_t nx_)
      : a(a_),
        b(b_),
        h((b_ - a_) / static_cast<T>(nx_ - 1)),
        nx(nx_),
        last(static_cast<T>(nx_ - 2)),
        top(std::nextafter(last, T(0))) {}

  // Selects instead of branches, so that a loop over sites vectorises. The
  // candidate cell g is the quotient clamped into [0, top] before it is
  // converted (0 for NaN), then moved one cell down or up by the rule above;
  // the end rules come last.
  template <typename Conv>
  Conv index(T x) const {
    const T width = b - a;
    const T scaled = (x - a) * static_cast<T>(nx - 1);
    const T q = scaled / width;
    T clamped = q > T(0) ? q : T(0);  // also NaN
    clamped = clamped < top ? clamped : top;
    const auto n = static_cast<Conv>(nx);
    Conv g = static_cast<Conv>(clamped);
    g = q >= last ? n - 2 : g;  // also where float rounding made `last` smaller than nx - 2
    Conv j = scaled < width * static_cast<T>(g) ? g : g + 1;
    j = g < n - 2 && scaled >= width * static_cast<T>(g + 1) ? g + 2 : j;
    j = x > b ? n : j;  // also where b - a overflows and the quotient is NaN
    j = x < a ? 0 : j;
    return x == b ? n - 1 : j;
  }

  template <typename Index>
  T origin(Index cell) const {
    return h * static_cast<T>(cell) + a;
  }
};

// Index of a listed partition for constant-time searches: the range [x_0,
// x_{nx-1}) is cut into equal buckets, and first[b] counts the breakpoints in
// the buckets before b. Bucket numbers are computed by the same monotone
// function for breakpoints and sites, so every breakpoint of an earlier bucket
// is below a site of bucket b and every one of a later bucket above it: j is
// first[b] plus the breakpoints of bucket b that are not above x. A bucket
// holds fewer than `span` breakpoints, so counting the `span` candidates from
// first[b] (or a bisection of log2(span) steps over them) finds them. The
// breakpoint copy has sentinels: xp[-1] = -inf and +inf from xp[nx] on.
template <typename T>
struct search_table {
  std::int64_t nx;
  std::int64_t nbuckets;
  T x0;
  T xl;
  T bucket_scale;      // nbuckets / (xl - x0), or 0 when that is not finite and positive
  std::int64_t span;   // power of two above the largest bucket occupancy
  int steps;           // log2(span), the bisection length
  std::int64_t* first; // nbuckets entries
  T* xp;               // nx breakpoints, xp[-1] and span + 1 entries after them are sentinels
  void* storage;

  std::int64_t bucket(T x) const {
    const T last = static_cast<T>(nbuckets - 1);
    const T u = (x - x0) * bucket_scale;
    T clamped = u > T(0) ? u : T(0);  // also NaN
    clamped = clamped < last ? clamped : last;
    const auto b = static_cast<std::int64_t>(clamped);
    return b < nbuckets - 1 ? b : nbuckets - 1;
  }

  // The search index of x. Span is the table's span when known at compile
  // time (-1: read from the table): the candidates are then counted with
  // Span independent comparisons over neighbouring breakpoints, else found by
  // bisection. Entries past the bucket are above x, so they never count.
  // Selects instead of branches: the end rules are applied after the search,
  // which stays inside the arrays for every x.
  template <int Span, isa Target = isa::baseline>
  std::int64_t index(T x) const {
    std::int64_t j = first[bucket(x)];
    if constexpr (Span > 0) {
      j += count_not_above_for<Target, T, Span>(xp + j, x);
    } else {
      for (int s = steps - 1; s >= 0; --s) {
        const std::int64_t half = std::int64_t{1} << s;
        j += (xp[j + half - 1] <= x) ? half : 0;
      }
    }
    j = j < nx ? j : nx;  // only a partition that is not increasing gets past nx
    j = x > xl ? nx : j;
    j = x == xl ? nx - 1 : j;
    j = x < x0 ? 0 : j;
    return x != x ? nx : j;  // NaN
  }

  // The search index of x, given that of an earlier site (sorted sites take
  // the first or second test almost always).
  std::int64_t index_from(T x, std::int64_t previous) const {
    std::int64_t j = previous;
    if (xp[j - 1] <= x && x < xp[j]) {
    } else if (xp[j] <= x && x < xp[j + 1]) {
      ++j;
    } else {
      return index<-1>(x);
    }
    return x == xl ? nx - 1 : j;
  }
};

// Counts the breakpoints per bucket into `first` and turns the counts into
// prefix sums: the table of any partition, increasing or not.
template <typename T>
void count_buckets(search_table<T>* table, const T* x) {
  std::int64_t* first = table->first;
  for (std::int64_t b = 0; b < table->nbuckets; ++b) first[b] = 0;
  for (std::int64_t i = 0; i < table->nx; ++i) ++first[table->bucket(x[i])];
  std::int64_t before = 0;
  for (std::int64_t b = 0; b < table->nbuckets; ++b) {
    const std::int64_t count = first[b];
    first[b] = before;
    before += count;
  }
}

// Breakpoints per unit of the parallel passes over the partition.
inline constexpr std::int64_t table_chunk = 16384;
// Sentinel entries a table's breakpoint copy is first made with.
inline constexpr std::int64_t table_spare = 64;

// The largest bucket occupancy of a built table, serially.
template <typename T>
std::int64_t fullest_bucket(const search_table<T>* table) {
  std::int64_t most = 0;
  for (std::int64_t b = 0; b < table->nbuckets; ++b) {
    const std::int64_t count = (b + 1 < table->nbuckets ? table->first[b + 1] : table->nx) - table->first[b];
    most = count > most ? count : most;
  }
  return most;
}

// Builds the index of the nx >= 2 breakpoints x, in parallel through the
// threader when one is given and the partition is long; null when out of
// memory. Buckets of an increasing partition never decrease from one
// breakpoint to the next, so first[b] is the index of the first breakpoint
// in bucket b or later: each range of breakpoints writes the entries of the
// buckets it steps past, independently of the others. The same pass copies
// the breakpoints and measures the buckets it sees from start to end; a
// bucket that spans the edge of a range is measured from the finished
// entries afterwards. Where a bucket decreases (a partition that is not
// increasing, or NaN), the counts and the copy are made again serially.
// Either way the table is the same as the serial count's.
template <typename T>
search_table<T>* make_search_table(const T* x, std::int64_t nx, const qrx_df_threader_block* threader = nullptr) {
  auto* table = static_cast<search_table<T>*>(std::calloc(1, sizeof(search_table<T>)));
  if (table == nullptr) return nullptr;
  table->nx = nx;
  table->nbuckets = nx;
  table->x0 = x[0];
  table->xl = x[nx - 1];
  const T scale = static_cast<T>(nx) / (table->xl - table->x0);
  table->bucket_scale = (scale > T(0) && scale < std::numeric_limits<T>::infinity()) ? scale : T(0);
  auto* first = static_cast<std::int64_t*>(std::malloc(static_cast<std::size_t>(nx) * sizeof(std::int64_t)));
  // The copy's sentinels after the breakpoints need the span, known only
  // after the pass: the storage has room for the spans of partitions that
  // are anywhere near even, and grows for the others.
  auto* xp = static_cast<T*>(std::malloc(static_cast<std::size_t>(nx + 2 + table_spare) * sizeof(T)));
  if (first == nullptr || xp == nullptr) {
    std::free(first);
    std::free(xp);
    std::free(table);
    return nullptr;
  }
  table->first = first;
  T* const copy = xp + 1;
  const std::int64_t units = (nx + table_chunk - 1) / table_chunk;

  std::atomic<bool> decreasing{false};
  std::atomic<std::int64_t> most{0};
  auto pass = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t u = begin; u < end && !decreasing.load(std::memory_order_relaxed); ++u) {
      const std::int64_t i0 = u * table_chunk;
      const std::int64_t i1 = std::min(nx, i0 + table_chunk);
      std::int64_t previous = i0 == 0 ? -1 : table->bucket(x[i0 - 1]);
      std::int64_t start = i0 == 0 ? 0 : -1;  // where the current bucket began; -1: in an earlier range
      std::int64_t m = 0;
      for (std::int64_t i = i0; i < i1; ++i) {
        const T v = x[i];
        copy[i] = v;
        const std::int64_t b = table->bucket(v);
        if (b < previous || v != v) {
          decreasing.store(true, std::memory_order_relaxed);
          return;
        }
        if (b == previous) continue;
        if (start >= 0 && previous >= 0) m = std::max(m, i - start);
        for (std::int64_t q = previous + 1; q <= b; ++q) first[q] = i;
        start = i;
        previous = b;
      }
      if (i1 == nx) {
        if (start >= 0) m = std::max(m, nx - start);
        for (std::int64_t q = previous + 1; q < nx; ++q) first[q] = nx;
      }
      std::int64_t seen = most.load(std::memory_order_relaxed);
      while (m > seen && !most.compare_exchange_weak(seen, m, std::memory_order_relaxed)) {
      }
    }
  };
  std::int64_t fullest = 0;
  if (run_units(threader, units, nx, pass) == QRX_DF_STATUS_OK && !decreasing.load()) {
    fullest = most.load();
    for (std::int64_t u = 1; u < units; ++u) {
      const std::int64_t q = table->bucket(x[u * table_chunk - 1]);
      fullest = std::max(fullest, (q + 1 < nx ? first[q + 1] : nx) - first[q]);
    }
  } else {
    count_buckets(table, x);
    fullest = fullest_bucket(table);
    for (std::int64_t i = 0; i < nx; ++i) copy[i] = x[i];
  }
  std::int64_t span = 1;
  int steps = 0;
  while (span <= fullest) span *= 2, ++steps;
  table->span = span;
  table->steps = steps;

  const std::int64_t entries = nx + span + 2;
  auto* grown = span <= table_spare ? xp : static_cast<T*>(std::realloc(xp, static_cast<std::size_t>(entries) * sizeof(T)));
  if (grown == nullptr) {
    std::free(xp);
    std::free(first);
    std::free(table);
    return nullptr;
  }
  table->storage = grown;
  table->xp = grown + 1;
  grown[0] = -std::numeric_limits<T>::infinity();
  for (std::int64_t i = nx; i < entries - 1; ++i) table->xp[i] = std::numeric_limits<T>::infinity();
  return table;
}

template <typename T>
void free_search_table(search_table<T>* table) {
  if (table == nullptr) return;
  std::free(table->storage);
  std::free(table->first);
  std::free(table);
}

}  // namespace qrx_df
