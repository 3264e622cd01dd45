// Interpolation and search kernels. Sites are handled in blocks: one cell
// search per site serves every function, then each function's pieces are
// evaluated over the block.

#include <cstdint>
#include <initializer_list>

#include "cell_search.hpp"
#include "evaluate.hpp"
#include "parallel.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "task_record.hpp"
#include "value_select.hpp"

namespace qrx_df {
namespace {

constexpr std::int64_t block_sites = 512;

// How a block finds its cells.
enum class partition_kind { uniform, listed, listed_sorted_sites };
enum class site_kind { listed, uniform };

using site_hints = value_list<std::int64_t, QRX_DF_SITES_DEFAULT, QRX_DF_SITES_NON_UNIFORM, QRX_DF_SITES_UNIFORM,
                              QRX_DF_SITES_SORTED>;
using result_hints = value_list<std::int64_t, QRX_DF_RESULTS_FUNCS_SITES_DERS, QRX_DF_RESULTS_FUNCS_DERS_SITES,
                                QRX_DF_RESULTS_SITES_FUNCS_DERS, QRX_DF_RESULTS_SITES_DERS_FUNCS>;

template <typename T>
struct interpolate_setup;

template <typename T>
using locate_fn = void (*)(const interpolate_setup<T>&, std::int64_t, std::int64_t, std::int64_t*, T*);

template <typename T>
struct interpolate_setup {
  std::int64_t nx = 0;
  std::int64_t ny = 0;
  std::int64_t nsites = 0;
  uniform_partition<T> uniform{T(0), T(1), 2};
  const search_table<T>* table = nullptr;
  const T* sites = nullptr;
  T first_site = 0;
  T site_step = 0;
  const std::int64_t* cells_in = nullptr;  // search indices given by the caller
  std::int64_t* cells_out = nullptr;       // search indices asked for
  T* const* coeffs = nullptr;
  T* results = nullptr;
  std::int64_t function_stride = 0;
  std::int64_t site_stride = 0;
  std::int64_t der_stride = 0;
  locate_fn<T> locate = nullptr;
  evaluate_fn<T> evaluate = nullptr;  // null: nothing to evaluate
};

// Site s of the call: listed, or step*s + first for uniform sites.
template <typename T, site_kind S>
T site_at(const interpolate_setup<T>& st, std::int64_t s) {
  if constexpr (S == site_kind::uniform) {
    return st.site_step * static_cast<T>(s) + st.first_site;
  } else {
    return st.sites[s];
  }
}

// Cells and offsets t = x - x_cell of the n sites from s0; writes the search
// indices to cells_out when asked for.
template <typename T, partition_kind P, site_kind S, bool GivenCells>
void locate(const interpolate_setup<T>& st, std::int64_t s0, std::int64_t n, std::int64_t* cell, T* t) {
  const std::int64_t nx = st.nx;
  for (std::int64_t i = 0; i < n; ++i) t[i] = site_at<T, S>(st, s0 + i);
  if constexpr (GivenCells) {
    for (std::int64_t i = 0; i < n; ++i) {
      const std::int64_t j = st.cells_in[s0 + i];
      cell[i] = j < 0 ? 0 : (j > nx ? nx : j);
    }
  } else if constexpr (P == partition_kind::uniform) {
    for (std::int64_t i = 0; i < n; ++i) cell[i] = st.uniform.index(t[i]);
  } else if constexpr (P == partition_kind::listed) {
    for (std::int64_t i = 0; i < n; ++i) cell[i] = st.table->index(t[i]);
  } else {
    std::int64_t j = st.table->index(t[0]);
    cell[0] = j;
    for (std::int64_t i = 1; i < n; ++i) cell[i] = j = st.table->index_from(t[i], j);
  }
  if (st.cells_out != nullptr) {
    for (std::int64_t i = 0; i < n; ++i) st.cells_out[s0 + i] = cell[i];
  }
  for (std::int64_t i = 0; i < n; ++i) {
    const std::int64_t c = cell_of_index(cell[i], nx);
    cell[i] = c;
    if constexpr (P == partition_kind::uniform) {
      t[i] -= st.uniform.origin(c);
    } else {
      t[i] -= st.table->xp[c];
    }
  }
}

// The one place that maps the call's hints onto a search instantiation.
template <typename T>
locate_fn<T> choose_locate(bool uniform_partition, bool sorted_sites, bool uniform_sites, bool given_cells) {
  const partition_kind p = uniform_partition ? partition_kind::uniform
                           : sorted_sites    ? partition_kind::listed_sorted_sites
                                             : partition_kind::listed;
  const site_kind s = uniform_sites ? site_kind::uniform : site_kind::listed;
  using partitions = value_list<partition_kind, partition_kind::uniform, partition_kind::listed,
                                partition_kind::listed_sorted_sites>;
  using sites = value_list<site_kind, site_kind::listed, site_kind::uniform>;
  using flags = value_list<bool, false, true>;
  locate_fn<T> fn = nullptr;
  select(partitions{}, p, [&](auto pk) {
    select(sites{}, s, [&](auto sk) {
      select(flags{}, given_cells, [&](auto gc) { fn = &locate<T, pk.value, sk.value, gc.value>; });
    });
  });
  return fn;
}

// The one place that maps the asked-for orders onto an evaluation
// instantiation; null when no order of the piece is asked for.
template <typename T>
evaluate_fn<T> choose_evaluate(std::int64_t order, unsigned mask) {
  evaluate_fn<T> fn = nullptr;
  if (order == QRX_DF_ORDER_LINEAR) {
    select(value_list<unsigned, 1, 2, 3>{}, mask, [&](auto m) { fn = &evaluate_block<T, 2, m.value>; });
  } else {
    select(value_list<unsigned, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15>{}, mask,
           [&](auto m) { fn = &evaluate_block<T, 4, m.value>; });
  }
  return fn;
}

// Strides of function, site and derivative order in a result layout with K
// slots per (function, site).
void result_strides(std::int64_t hint, std::int64_t ny, std::int64_t nsites, std::int64_t k, std::int64_t* f,
                    std::int64_t* s, std::int64_t* d) {
  switch (hint) {
    case QRX_DF_RESULTS_FUNCS_SITES_DERS:
      *f = nsites * k, *s = k, *d = 1;
      break;
    case QRX_DF_RESULTS_FUNCS_DERS_SITES:
      *f = k * nsites, *s = 1, *d = nsites;
      break;
    case QRX_DF_RESULTS_SITES_FUNCS_DERS:
      *f = k, *s = ny * k, *d = 1;
      break;
    default:  // sites_ders_funcs
      *f = 1, *s = k * ny, *d = ny;
      break;
  }
}

// Runs the blocks of sites, each for a group of functions.
template <typename T>
std::int32_t run_blocks(const interpolate_setup<T>& st, const qrx_df_threader_block* threader) {
  const std::int64_t blocks = (st.nsites + block_sites - 1) / block_sites;
  const std::int64_t ny = st.evaluate != nullptr ? st.ny : 0;
  // Few blocks but many functions: split the functions as well, so that all
  // threads get work; each group searches its block again.
  std::int64_t per_group = ny > 0 ? ny : 1;
  if (blocks < 16 && ny > 1) {
    const std::int64_t wanted = (16 + blocks - 1) / blocks;
    per_group = (ny + wanted - 1) / wanted;
  }
  const std::int64_t groups = ny > 0 ? (ny + per_group - 1) / per_group : 1;
  auto job = [&](std::int64_t begin, std::int64_t end) {
    std::int64_t cell[block_sites];
    T t[block_sites];
    for (std::int64_t u = begin; u < end; ++u) {
      const std::int64_t block = u / groups;
      const std::int64_t group = u % groups;
      const std::int64_t s0 = block * block_sites;
      const std::int64_t n = st.nsites - s0 < block_sites ? st.nsites - s0 : block_sites;
      interpolate_setup<T> local = st;
      if (group != 0) local.cells_out = nullptr;  // the first group writes them
      st.locate(local, s0, n, cell, t);
      const std::int64_t f_end = (group + 1) * per_group < ny ? (group + 1) * per_group : ny;
      for (std::int64_t f = group * per_group; f < f_end; ++f) {
        st.evaluate(st.coeffs[f], cell, t, n, st.results + f * st.function_stride + s0 * st.site_stride,
                    st.site_stride, st.der_stride);
      }
    }
  };
  return run_units(threader, blocks * groups, st.nsites * (ny > 0 ? ny : 1), job);
}

bool fits(std::int64_t a, std::int64_t b, std::int64_t c) {
  std::int64_t p = 0;
  return !__builtin_mul_overflow(a, b, &p) && !__builtin_mul_overflow(p, c, &p);
}

// Fills the partition and site parts of the setup.
template <typename T>
void describe_sites(const qrx_df_task* task, std::int64_t nsites, const T* sites, std::int64_t site_hint,
                    interpolate_setup<T>* st) {
  st->nx = task->nx;
  st->ny = task->ny;
  st->nsites = nsites;
  const auto* x = static_cast<const T*>(task->partition);
  if (task->partition_hint == QRX_DF_PARTITION_UNIFORM) {
    st->uniform = uniform_partition<T>(x[0], x[1], task->nx);
  } else {
    st->table = static_cast<const search_table<T>*>(task->search_table);
  }
  st->sites = sites;
  if (site_hint == QRX_DF_SITES_UNIFORM) {
    st->first_site = sites[0];
    st->site_step = nsites > 1 ? (sites[1] - sites[0]) / static_cast<T>(nsites - 1) : T(0);
  }
}

template <typename T>
std::int32_t check_common(const qrx_df_task* task, std::int64_t method, std::int64_t nsites, const T* sites,
                          std::int64_t site_hint, std::int64_t data_hint, bool reserved_null) {
  if (task == nullptr) return QRX_DF_STATUS_NULL_TASK;
  if (!has_precision<T>(task)) return QRX_DF_STATUS_WRONG_PRECISION;
  if (method != QRX_DF_METHOD_STANDARD) return QRX_DF_STATUS_BAD_METHOD;
  if (nsites < 0) return QRX_DF_STATUS_BAD_NSITES;
  if (nsites > 0 && sites == nullptr) return QRX_DF_STATUS_NO_SITES;
  if (!site_hints::contains(site_hint)) return QRX_DF_STATUS_BAD_SITE_HINT;
  if (data_hint != 0 || !reserved_null) return QRX_DF_STATUS_BAD_ARGUMENT;
  return QRX_DF_STATUS_OK;
}

template <typename T>
std::int32_t interpolate(qrx_df_task* task, std::int64_t type, std::int64_t method, std::int64_t nsites,
                         const T* sites, std::int64_t site_hint, std::int64_t der_count,
                         const std::int64_t* der_indicators, std::int64_t data_hint, T* results,
                         std::int64_t result_hint, std::int64_t* cells, bool reserved_null,
                         const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_common(task, method, nsites, sites, site_hint, data_hint, reserved_null);
      status != QRX_DF_STATUS_OK) {
    return status;
  }
  const bool from_cells = (type & QRX_DF_INTERP_FROM_CELLS) != 0;
  const bool evaluate = from_cells || (type & QRX_DF_INTERP_VALUES) != 0;
  const bool cells_out = !from_cells && (type & QRX_DF_INTERP_CELLS) != 0;
  if (!evaluate && !cells_out) return QRX_DF_STATUS_BAD_TYPE;
  if ((from_cells || cells_out) && nsites > 0 && cells == nullptr) return QRX_DF_STATUS_NO_CELLS;

  interpolate_setup<T> st;
  if (evaluate) {
    if (task->order != QRX_DF_ORDER_LINEAR && task->order != QRX_DF_ORDER_CUBIC) return QRX_DF_STATUS_BAD_ORDER;
    if (!result_hints::contains(result_hint)) return QRX_DF_STATUS_BAD_RESULT_HINT;
    if (der_count < 0 || (der_count > 0 && der_indicators == nullptr)) return QRX_DF_STATUS_BAD_DER_COUNT;
    if (task->ny > 0 && task->coeff_values == nullptr) return QRX_DF_STATUS_NO_COEFFS;
    if (!fits(task->ny, nsites, der_count)) return QRX_DF_STATUS_BAD_NY;
    unsigned mask = 0;
    for (std::int64_t d = 0; d < der_count && d < task->order; ++d) mask |= der_indicators[d] != 0 ? 1U << d : 0U;
    st.evaluate = choose_evaluate<T>(task->order, mask);
    if (st.evaluate != nullptr && task->ny > 0 && nsites > 0 && results == nullptr) return QRX_DF_STATUS_NO_RESULTS;
    st.coeffs = reinterpret_cast<T* const*>(task->coeffs);
    st.results = results;
    result_strides(result_hint, task->ny, nsites, der_count, &st.function_stride, &st.site_stride, &st.der_stride);
  }
  if (nsites == 0) return QRX_DF_STATUS_OK;
  if (st.evaluate == nullptr && !cells_out) return QRX_DF_STATUS_OK;  // nothing asked for

  describe_sites(task, nsites, sites, site_hint, &st);
  st.cells_in = from_cells ? cells : nullptr;
  st.cells_out = cells_out ? cells : nullptr;
  st.locate = choose_locate<T>(task->partition_hint == QRX_DF_PARTITION_UNIFORM,
                               site_hint == QRX_DF_SITES_SORTED || site_hint == QRX_DF_SITES_UNIFORM,
                               site_hint == QRX_DF_SITES_UNIFORM, from_cells);
  return run_blocks(st, threader);
}

template <typename T>
std::int32_t search(qrx_df_task* task, std::int64_t method, std::int64_t nsites, const T* sites,
                    std::int64_t site_hint, std::int64_t data_hint, std::int64_t* cells, bool reserved_null,
                    const qrx_df_threader_block* threader) {
  if (const std::int32_t status = check_common(task, method, nsites, sites, site_hint, data_hint, reserved_null);
      status != QRX_DF_STATUS_OK) {
    return status;
  }
  if (nsites > 0 && cells == nullptr) return QRX_DF_STATUS_NO_CELLS;
  if (nsites == 0) return QRX_DF_STATUS_OK;
  interpolate_setup<T> st;
  describe_sites(task, nsites, sites, site_hint, &st);
  st.cells_out = cells;
  st.locate = choose_locate<T>(task->partition_hint == QRX_DF_PARTITION_UNIFORM,
                               site_hint == QRX_DF_SITES_SORTED || site_hint == QRX_DF_SITES_UNIFORM,
                               site_hint == QRX_DF_SITES_UNIFORM, false);
  return run_blocks(st, threader);
}

bool all_null(std::initializer_list<const void*> pointers) {
  for (const void* p : pointers) {
    if (p != nullptr) return false;
  }
  return true;
}

}  // namespace
}  // namespace qrx_df

extern "C" {

std::int32_t qrx_df_kernel_sDFInterpolate1D(qrx_df_task* task, std::int64_t type, std::int64_t method,
                                            std::int64_t nsites, const float* sites, std::int64_t site_hint,
                                            std::int64_t der_count, const std::int64_t* der_indicators,
                                            std::int64_t data_hint, float* results, std::int64_t result_hint,
                                            std::int64_t* cells, const void* r0, const void* r1, const void* r2,
                                            const void* r3, const void* r4, const void* r5, const void* r6,
                                            const void* r7, const qrx_df_threader_block* threader) {
  return qrx_df::interpolate(task, type, method, nsites, sites, site_hint, der_count, der_indicators, data_hint,
                             results, result_hint, cells, qrx_df::all_null({r0, r1, r2, r3, r4, r5, r6, r7}),
                             threader);
}

std::int32_t qrx_df_kernel_dDFInterpolate1D(qrx_df_task* task, std::int64_t type, std::int64_t method,
                                            std::int64_t nsites, const double* sites, std::int64_t site_hint,
                                            std::int64_t der_count, const std::int64_t* der_indicators,
                                            std::int64_t data_hint, double* results, std::int64_t result_hint,
                                            std::int64_t* cells, const void* r0, const void* r1, const void* r2,
                                            const void* r3, const void* r4, const void* r5, const void* r6,
                                            const void* r7, const qrx_df_threader_block* threader) {
  return qrx_df::interpolate(task, type, method, nsites, sites, site_hint, der_count, der_indicators, data_hint,
                             results, result_hint, cells, qrx_df::all_null({r0, r1, r2, r3, r4, r5, r6, r7}),
                             threader);
}

std::int32_t qrx_df_kernel_sDFSearch1D(qrx_df_task* task, std::int64_t method, std::int64_t nsites,
                                       const float* sites, std::int64_t site_hint, std::int64_t data_hint,
                                       std::int64_t* cells, const void* r0, const void* r1,
                                       const qrx_df_threader_block* threader) {
  return qrx_df::search(task, method, nsites, sites, site_hint, data_hint, cells, qrx_df::all_null({r0, r1}),
                        threader);
}

std::int32_t qrx_df_kernel_dDFSearch1D(qrx_df_task* task, std::int64_t method, std::int64_t nsites,
                                       const double* sites, std::int64_t site_hint, std::int64_t data_hint,
                                       std::int64_t* cells, const void* r0, const void* r1,
                                       const qrx_df_threader_block* threader) {
  return qrx_df::search(task, method, nsites, sites, site_hint, data_hint, cells, qrx_df::all_null({r0, r1}),
                        threader);
}

}  // extern "C"
