#pragma once

// The one tridiagonal solve of the kernel library's C2 constructions (the
// serial solve of a whole function and the separator systems of the blocked
// solve), for R right-hand sides at once. Rows come from a callable and
// eliminated rows go to storage the caller chooses (the constructions keep
// them in coefficient slots, so nothing is allocated). Each pivot is
// inverted once and multiplied, in the same order everywhere, so the
// serial and blocked solves round alike.

#include <cstdint>

namespace qrx_df {

// Row i: sub x[i-1] + diag x[i] + super x[i+1] = rhs.
template <typename T, int R>
struct sweep_row {
  T sub, diag, super;
  T rhs[R];
};

// Row i after forward elimination: x[i] = y - factor x[i+1].
template <typename T, int R>
struct eliminated_row {
  T factor;
  T y[R];
};

// Eliminates rows 0 .. n-1 (n >= 1) in order; row 0's sub and row n-1's
// super are taken as given. keep(i, e) receives each eliminated row.
// Returns the last one, whose y is x[n-1].
template <typename T, int R, typename Row, typename Keep>
eliminated_row<T, R> eliminate_forward(std::int64_t n, Row&& row, Keep&& keep) {
  eliminated_row<T, R> previous{};
  for (std::int64_t i = 0; i < n; ++i) {
    const sweep_row<T, R> r = row(i);
    const T inverse = T(1) / (r.diag - r.sub * previous.factor);
    eliminated_row<T, R> e;
    e.factor = r.super * inverse;
    for (int q = 0; q < R; ++q) e.y[q] = (r.rhs[q] - r.sub * previous.y[q]) * inverse;
    keep(i, e);
    previous = e;
  }
  return previous;
}

// Back substitution after eliminate_forward: put(i, x) receives x[i] for i
// from n-1 down to 0; kept(i) returns eliminated row i, read once before
// put(i, ...), so put may overwrite its storage.
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
// x[n-1] through its sub and row n-1 to x[0] through its super, by
// Sherman-Morrison: A = B + u v^T with B tridiagonal, u = (g, 0, .., 0,
// alpha), v = (1, 0, .., 0, beta/g), beta = A[0][n-1], alpha = A[n-1][0],
// g = -A[0][0]; then x = y - q z with B y = f, B z = u and q = (y_0 + beta
// y_{n-1}/g) / (1 + z_0 + beta z_{n-1}/g). keep and kept store and read one
// eliminated row of two right-hand sides per index (later the partial
// solutions y, z in its place); put(i, x) receives x[i] from n-1 down.
template <typename T, typename Row, typename Keep, typename Kept, typename Put>
void solve_cyclic(std::int64_t n, Row&& row, Keep&& keep, Kept&& kept, Put&& put) {
  T beta = 0, alpha = 0, g = 0;
  auto corrected = [&](std::int64_t i) {
    const sweep_row<T, 1> plain = row(i);
    sweep_row<T, 2> r{plain.sub, plain.diag, plain.super, {plain.rhs[0], T(0)}};
    if (i == 0) {
      beta = r.sub;
      g = -r.diag;
      r.sub = 0;
      r.diag -= g;
      r.rhs[1] = g;
    }
    if (i == n - 1) {
      alpha = r.super;
      r.super = 0;
      r.diag -= alpha * beta / g;
      r.rhs[1] = alpha;
    }
    return r;
  };
  const eliminated_row<T, 2> last = eliminate_forward<T, 2>(n, corrected, keep);
  substitute_back<T, 2>(n, last, kept, [&](std::int64_t i, const T* x) {
    keep(i, eliminated_row<T, 2>{T(0), {x[0], x[1]}});
  });
  const eliminated_row<T, 2> first = kept(0);
  const eliminated_row<T, 2> final_row = kept(n - 1);
  const T q = (first.y[0] + beta * final_row.y[0] / g) / (T(1) + first.y[1] + beta * final_row.y[1] / g);
  for (std::int64_t i = n - 1; i >= 0; --i) {
    const eliminated_row<T, 2> partial = kept(i);
    put(i, partial.y[0] - q * partial.y[1]);
  }
}

}  // namespace qrx_df
