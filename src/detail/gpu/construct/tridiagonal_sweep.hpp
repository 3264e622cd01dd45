#pragma once

#include <cstdint>

namespace velora::qrx::experimental::data_fitting::detail {

// The one tridiagonal solve of the GPU construction kernels, for any number
// R of right-hand sides at once. Rows come from a callable and eliminated
// rows go to storage the caller chooses (the kernels keep them in
// coefficient slots, so nothing is allocated).

// Row i: a x[i-1] + b x[i] + c x[i+1] = rhs.
template <typename T, int R>
struct sweep_row {
  T a, b, c;
  T rhs[R];
};

// Row i after forward elimination: x[i] = y - factor x[i+1].
template <typename T, int R>
struct eliminated_row {
  T factor;
  T y[R];
};

// Eliminates rows 0 .. n-1 (n >= 1) in order (Thomas); row 0's a and row
// n-1's c are taken as given, so a caller that couples them elsewhere zeroes
// them. keep(i, e) receives each eliminated row. Returns the last one, whose
// y is x[n-1].
template <typename T, int R, typename Row, typename Keep>
eliminated_row<T, R> eliminate_forward(std::int64_t n, Row&& row, Keep&& keep) {
  eliminated_row<T, R> previous{};
  for (std::int64_t i = 0; i < n; ++i) {
    const sweep_row<T, R> r = row(i);
    const T pivot = r.b - r.a * previous.factor;
    eliminated_row<T, R> e;
    e.factor = r.c / pivot;
    for (int q = 0; q < R; ++q) e.y[q] = (r.rhs[q] - r.a * previous.y[q]) / pivot;
    keep(i, e);
    previous = e;
  }
  return previous;
}

// Back substitution after eliminate_forward: put(i, x) receives x[i] for i
// from n-1 down to 0, kept(i) returns eliminated row i (read once, before
// put(i, ...), so put may overwrite its storage).
template <typename T, int R, typename Kept, typename Put>
void substitute_back(std::int64_t n, const eliminated_row<T, R>& last, Kept&& kept, Put&& put) {
  if (n <= 0) return;
  T x[R];
  for (int q = 0; q < R; ++q) x[q] = last.y[q];
  put(n - 1, x);
  for (std::int64_t i = n - 2; i >= 0; --i) {
    const eliminated_row<T, R> e = kept(i);
    for (int q = 0; q < R; ++q) x[q] = e.y[q] - e.factor * x[q];
    put(i, x);
  }
}

// Solves the cyclic tridiagonal system (n >= 2) whose row 0 couples to
// x[n-1] through its a and row n-1 to x[0] through its c, by
// Sherman-Morrison: the corners become a rank-one correction of a plain
// system, solved for two right-hand sides at once. keep and kept store and
// read one eliminated row of two right-hand sides per index (later the two
// partial solutions in its place); put(i, x) receives x[i] from n-1 down.
template <typename T, typename Row, typename Keep, typename Kept, typename Put>
void solve_cyclic(std::int64_t n, Row&& row, Keep&& keep, Kept&& kept, Put&& put) {
  T corner_top = 0, corner_bottom = 0, gamma = 0;
  auto corrected = [&](std::int64_t i) {
    const sweep_row<T, 1> plain = row(i);
    sweep_row<T, 2> r{plain.a, plain.b, plain.c, {plain.rhs[0], T(0)}};
    if (i == 0) {
      corner_top = r.a;
      gamma = -r.b;
      r.a = 0;
      r.b -= gamma;
      r.rhs[1] = gamma;
    }
    if (i == n - 1) {
      corner_bottom = r.c;
      r.c = 0;
      r.b -= corner_bottom * corner_top / gamma;
      r.rhs[1] = corner_bottom;
    }
    return r;
  };
  const eliminated_row<T, 2> last = eliminate_forward<T, 2>(n, corrected, keep);
  substitute_back<T, 2>(n, last, kept, [&](std::int64_t i, const T* x) {
    keep(i, eliminated_row<T, 2>{T(0), {x[0], x[1]}});
  });
  const eliminated_row<T, 2> first = kept(0);
  const eliminated_row<T, 2> final_row = kept(n - 1);
  const T weight = (first.y[0] + corner_top * final_row.y[0] / gamma) /
                   (T(1) + first.y[1] + corner_top * final_row.y[1] / gamma);
  for (std::int64_t i = n - 1; i >= 0; --i) {
    const eliminated_row<T, 2> partial = kept(i);
    put(i, partial.y[0] - weight * partial.y[1]);
  }
}

}  // namespace velora::qrx::experimental::data_fitting::detail
