// Integration kernels: the integral table of a task, and definite integrals
// over intervals read from it. An interval costs two cell searches (the
// search interpolation uses) and two piece integrals per function. Blocks
// whose bounds all start from a cell of the first period go the block path
// (integrate_block.hpp); the others bound by bound, through lines beyond the
// ends and whole periods as their modes say.

#include <algorithm>
#include <cstdint>
#include <limits>

#include "qrx_df/cell_locator.hpp"
#include "qrx_df/evaluable_task.hpp"
#include "qrx_df/integral_table.hpp"
#include "qrx_df/integrate_block.hpp"
#include "qrx_df/integrate_on.hpp"
#include "qrx_df/locate_variants.hpp"
#include "qrx_df/parallel.hpp"
#include "qrx_df/piece_integral.hpp"
#include "qrx_df/task_record.hpp"
#include "qrx_df/value_select.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace qrx_df {
namespace {

// Where a bound lies, the same for every function.
enum class bound_kind : std::int32_t { cell, left_line, right_line, not_a_number };

template <typename T>
struct bound_plan {
  bound_kind kind = bound_kind::not_a_number;
  std::int64_t cell = 0;
  T t = 0;        // cell: offset from the cell's origin; lines: distance from the end
  T periods = 0;  // whole periods before the bound (periodic mode)
  bool line_slope = false;  // the line includes the end's slope
};

// x = a + m (b - a) + r, r in [0, b - a), moved as interpolation moves a
// periodic site (NaN for sites that are not finite or more than 2^52
// periods away, where no period count is exact); m in `periods`.
template <typename T>
T move_into_period(T x, T a, T b, T& periods_out) {
  periods_out = T(0);
  const T period = b - a;
  const T periods = (x - a) / period;
  if (!(periods < T(4503599627370496.0) && periods > T(-4503599627370496.0))) {
    return std::numeric_limits<T>::quiet_NaN();
  }
  if (periods >= T(0) && periods < T(1)) return x;
  auto whole = static_cast<std::int64_t>(periods);
  if (static_cast<T>(whole) > periods) whole -= 1;
  T moved = (x - a) - static_cast<T>(whole) * period + a;
  if (moved >= b) {
    moved -= period;
    whole += 1;
  }
  if (moved < a) moved = a;
  periods_out = static_cast<T>(whole);
  return moved;
}

template <typename T>
bound_plan<T> plan_bound(const cell_locator<T>& loc, std::int64_t left_mode, std::int64_t right_mode, T x) {
  bound_plan<T> p;
  if (x != x) return p;
  if (left_mode == QRX_DF_EXTRAPOLATE_PERIODIC) {
    if (!(x >= loc.a && x < loc.b)) x = move_into_period(x, loc.a, loc.b, p.periods);
    if (x != x) return p;
  } else if (x < loc.a || x > loc.b) {
    const bool left = x < loc.a;
    switch (left ? left_mode : right_mode) {
      case QRX_DF_EXTRAPOLATE_CONSTANT:
      case QRX_DF_EXTRAPOLATE_LINEAR:
        p.kind = left ? bound_kind::left_line : bound_kind::right_line;
        p.t = x - (left ? loc.a : loc.b);
        p.line_slope = (left ? left_mode : right_mode) == QRX_DF_EXTRAPOLATE_LINEAR;
        return p;
      case QRX_DF_EXTRAPOLATE_NAN:
        return p;
      default:
        break;  // extend: the end cell's polynomial, as the clamped search gives it
    }
  }
  p.kind = bound_kind::cell;
  p.cell = loc.cell(x);
  p.t = x - loc.origin(p.cell);
  return p;
}

// One function's integrals between planned bounds. The pieces are
// integrated in factored form and whole cells come from the table, so that
// no two antiderivative values of similar size are subtracted: from lower l
// to upper u >= l (else the negative of the swapped integral), the line left
// of a from l, then from the start S (l's cell position, or a) to the end E
// (u's cell position, or b): I_kS(tS, tE) in one cell of one period, else
// whole periods + table[kE] - table[kS + 1] + I_kS(tS, h_kS) + I_kE(0, tE),
// then the line right of b up to u.
template <typename T>
struct function_integrals {
  const T* coeffs;
  const T* table;  // this function's entries
  std::int64_t order;
  std::int64_t nx;
  const cell_locator<T>* loc;
  T last_t;  // b from the last cell's origin

  // The line beyond one end as a linear piece {value, slope} at the end.
  void end_line(bool left, bool slope_too, T* line) const {
    T f = 0, slope = 0;
    piece_value_slope(coeffs + (left ? 0 : nx - 2) * order, order, left ? T(0) : last_t, f, slope);
    line[0] = f;
    line[1] = slope_too ? slope : T(0);
  }

  T line_between(const bound_plan<T>& p, T d1, T d2) const {
    T line[2];
    end_line(p.kind == bound_kind::left_line, p.line_slope, line);
    return piece_integral_between(line, 2, d1, d2);
  }

  // From cell position (ks, ts) in period ms to (ke, te) in period me.
  T inside(std::int64_t ks, T ts, T ms, std::int64_t ke, T te, T me) const {
    if (ks == ke && ms == me) return piece_integral_between(coeffs + ks * order, order, ts, te);
    T r = (table[2 * ke] - table[2 * (ks + 1)]) + (table[2 * ke + 1] - table[2 * (ks + 1) + 1]);
    r += piece_integral_between(coeffs + ks * order, order, ts, loc->width(ks));
    r += piece_integral_between(coeffs + ke * order, order, T(0), te);
    const T m = me - ms;
    if (m != T(0)) r = m * table[2 * (nx - 1)] + (r + m * table[2 * (nx - 1) + 1]);
    return r;
  }

  // l <= u, neither NaN.
  T ordered(const bound_plan<T>& l, const bound_plan<T>& u) const {
    if (l.kind == u.kind && l.kind != bound_kind::cell) return line_between(l, l.t, u.t);  // one line
    T r = 0;
    std::int64_t ks = 0, ke = nx - 2;
    T ts = 0, te = last_t, ms = 0, me = 0;
    if (l.kind == bound_kind::left_line) {
      r = line_between(l, l.t, T(0));
    } else {
      ks = l.cell, ts = l.t, ms = l.periods;
    }
    if (u.kind == bound_kind::cell) ke = u.cell, te = u.t, me = u.periods;
    r += inside(ks, ts, ms, ke, te, me);
    if (u.kind == bound_kind::right_line) r += line_between(u, T(0), u.t);
    return r;
  }

  T integral(const bound_plan<T>& lower, const bound_plan<T>& upper, bool swapped) const {
    if (lower.kind == bound_kind::not_a_number || upper.kind == bound_kind::not_a_number) {
      return std::numeric_limits<T>::quiet_NaN();
    }
    return swapped ? -ordered(upper, lower) : ordered(lower, upper);
  }
};

template <typename T>
std::int32_t integral_table(qrx_df_task* task, T* table, const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_evaluable<T>(task); status != QRX_DF_STATUS_OK) return status;
  if (task->ny > 0 && table == nullptr) return QRX_DF_STATUS_NO_TABLE;
  if (!product_fits(2, task->nx, task->ny, sizeof(T))) return QRX_DF_STATUS_BAD_NY;
  cell_locator<T> loc;
  if (!loc.attach(task, threader)) return QRX_DF_STATUS_BAD_ALLOC;
  return build_integral_table(loc, reinterpret_cast<T* const*>(task->coeffs), task->ny, task->order, table, threader);
}

bool known_mode(std::int64_t mode) { return mode >= QRX_DF_EXTRAPOLATE_EXTEND && mode <= QRX_DF_EXTRAPOLATE_PERIODIC; }

// Cells take 32 bits, which vectorises best, where the coefficient and table
// offsets of every cell fit them too.
constexpr std::int64_t narrow_cell_limit = std::int64_t{1} << 28;

// The blocks of a call, each by the block path where it takes every bound,
// else by slow(i0, m): the block search (with the bucket span known at
// compile time where it is small) and the integration of the variant.
template <typename T, typename Index, partition_kind P, int Order, typename Slow>
std::int32_t run_blocks(const integrate_options& run, const cell_locator<T>& loc, qrx_df_task* task, const T* table,
                        std::int64_t n, const T* lower, const T* upper, std::int64_t left_mode,
                        std::int64_t right_mode, T* results, const qrx_df_threader_block* threader, Slow& slow) {
  block_call<T, Index> call{};
  call.locate = locate_variant<T, Index, P, -1, site_kind::listed, false>(run.target);
  if constexpr (P == partition_kind::listed) {
    const std::int64_t span = loc.table->span;
    const int known = span >= 1 && span <= 16 ? static_cast<int>(span) : -1;
    select(value_list<int, 1, 2, 4, 8, 16>{}, known, [&](auto s) {
      call.locate = locate_variant<T, Index, P, decltype(s)::value, site_kind::listed, false>(run.target);
    });
    call.cells.xp = loc.table->xp;
    call.lower.table = call.upper.table = loc.table;
  } else {
    call.cells.up = loc.up;
    call.lower.uniform = call.upper.uniform = loc.up;
  }
  call.lower.nx = call.upper.nx = loc.nx;
  call.lower.sites = lower;
  call.upper.sites = upper;
  call.cells.b = loc.b;
  call.cells.nx = loc.nx;
  call.range = block_range_of(loc.a, loc.b, left_mode, right_mode);
  call.coeffs = reinterpret_cast<T* const*>(task->coeffs);
  call.table = table;
  call.ny = task->ny;
  call.n = n;
  call.results = results;
  const integrate_block_fn<T, Index, P, Order> block = integrate_block_variant<T, Index, P, Order>(run.target);
  const std::int64_t blocks = (n + block_intervals - 1) / block_intervals;
  auto job = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t u = begin; u < end; ++u) {
      const std::int64_t i0 = u * block_intervals;
      const std::int64_t m = std::min(n - i0, block_intervals);
      if (!block(call, i0, m)) slow(i0, m);
    }
  };
  return run_units(threader, blocks, n * task->ny * 2, job);
}

template <typename T>
std::int32_t integrate(const integrate_options& run, qrx_df_task* task, const T* table, std::int64_t n,
                       const T* lower, const T* upper, std::int64_t left_mode, std::int64_t right_mode, T* results,
                       const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_evaluable<T>(task); status != QRX_DF_STATUS_OK) return status;
  if (n < 0) return QRX_DF_STATUS_BAD_NSITES;
  if (!known_mode(left_mode) || !known_mode(right_mode) ||
      ((left_mode == QRX_DF_EXTRAPOLATE_PERIODIC) != (right_mode == QRX_DF_EXTRAPOLATE_PERIODIC))) {
    return QRX_DF_STATUS_BAD_EXTRAPOLATION;
  }
  const std::int64_t ny = task->ny;
  if (!product_fits(ny, n, sizeof(T))) return QRX_DF_STATUS_BAD_NY;
  if (n == 0 || ny == 0) return QRX_DF_STATUS_OK;
  if (lower == nullptr || upper == nullptr) return QRX_DF_STATUS_NO_SITES;
  if (results == nullptr) return QRX_DF_STATUS_NO_RESULTS;
  if (table == nullptr) return QRX_DF_STATUS_NO_TABLE;
  cell_locator<T> loc;
  if (!loc.attach(task, threader)) return QRX_DF_STATUS_BAD_ALLOC;

  const std::int64_t nx = task->nx;
  const std::int64_t order = task->order;
  T* const* coeffs = reinterpret_cast<T* const*>(task->coeffs);
  const T last_t = loc.b - loc.origin(nx - 2);
  // Bound by bound: the m intervals from i0.
  auto slow = [&](std::int64_t i0, std::int64_t m) {
    bound_plan<T> lo[block_intervals];
    bound_plan<T> up[block_intervals];
    for (std::int64_t i = 0; i < m; ++i) {
      lo[i] = plan_bound(loc, left_mode, right_mode, lower[i0 + i]);
      up[i] = plan_bound(loc, left_mode, right_mode, upper[i0 + i]);
    }
    for (std::int64_t j = 0; j < ny; ++j) {
      const function_integrals<T> f{coeffs[j], table + 2 * j * nx, order, nx, &loc, last_t};
      T* out = results + j * n + i0;
      for (std::int64_t i = 0; i < m; ++i) out[i] = f.integral(lo[i], up[i], upper[i0 + i] < lower[i0 + i]);
    }
  };
  if (run.block_path) {
    std::int32_t status = QRX_DF_STATUS_OK;
    auto with_index = [&](auto index) {
      using Index = decltype(index);
      auto with_kind = [&](auto kind) {
        constexpr partition_kind P = decltype(kind)::value;
        status = order == QRX_DF_ORDER_LINEAR
                     ? run_blocks<T, Index, P, 2>(run, loc, task, table, n, lower, upper, left_mode, right_mode,
                                                  results, threader, slow)
                     : run_blocks<T, Index, P, 4>(run, loc, task, table, n, lower, upper, left_mode, right_mode,
                                                  results, threader, slow);
      };
      if (loc.uniform) {
        with_kind(std::integral_constant<partition_kind, partition_kind::uniform>{});
      } else {
        with_kind(std::integral_constant<partition_kind, partition_kind::listed>{});
      }
    };
    if (nx <= narrow_cell_limit) {
      with_index(std::int32_t{0});
    } else {
      with_index(std::int64_t{0});
    }
    return status;
  }
  const std::int64_t blocks = (n + block_intervals - 1) / block_intervals;
  auto job = [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t u = begin; u < end; ++u) {
      const std::int64_t i0 = u * block_intervals;
      slow(i0, std::min(n - i0, block_intervals));
    }
  };
  return run_units(threader, blocks, n * ny * 2, job);
}

}  // namespace

std::int32_t integrate_on(const integrate_options& run, qrx_df_task* task, const float* table, std::int64_t n,
                          const float* lower, const float* upper, std::int64_t left_mode, std::int64_t right_mode,
                          float* results, const qrx_df_threader_block* threader) {
  return integrate(run, task, table, n, lower, upper, left_mode, right_mode, results, threader);
}

std::int32_t integrate_on(const integrate_options& run, qrx_df_task* task, const double* table, std::int64_t n,
                          const double* lower, const double* upper, std::int64_t left_mode, std::int64_t right_mode,
                          double* results, const qrx_df_threader_block* threader) {
  return integrate(run, task, table, n, lower, upper, left_mode, right_mode, results, threader);
}

}  // namespace qrx_df

extern "C" {

std::int32_t qrx_df_kernel_sDFIntegralTable1D(qrx_df_task* task, float* table, const qrx_df_threader_block* threader) {
  return qrx_df::integral_table(task, table, threader);
}

std::int32_t qrx_df_kernel_dDFIntegralTable1D(qrx_df_task* task, double* table,
                                              const qrx_df_threader_block* threader) {
  return qrx_df::integral_table(task, table, threader);
}

std::int32_t qrx_df_kernel_sDFIntegrate1D(qrx_df_task* task, const float* table, std::int64_t n, const float* lower,
                                          const float* upper, std::int64_t left_mode, std::int64_t right_mode,
                                          float* results, const qrx_df_threader_block* threader) {
  return qrx_df::integrate(qrx_df::integrate_options{}, task, table, n, lower, upper, left_mode, right_mode, results,
                           threader);
}

std::int32_t qrx_df_kernel_dDFIntegrate1D(qrx_df_task* task, const double* table, std::int64_t n,
                                          const double* lower, const double* upper, std::int64_t left_mode,
                                          std::int64_t right_mode, double* results,
                                          const qrx_df_threader_block* threader) {
  return qrx_df::integrate(qrx_df::integrate_options{}, task, table, n, lower, upper, left_mode, right_mode, results,
                           threader);
}

}  // extern "C"
