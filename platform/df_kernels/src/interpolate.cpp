// Interpolation and search kernels. Sites are handled in blocks: one cell
// search per site serves every function. Function-major layouts then
// evaluate each function's pieces over the block, sites as vector lanes;
// site-major layouts of many functions evaluate chunks of functions site
// after site, functions as vector lanes, so that either way the results are
// written in the order of their layout.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <type_traits>

#include "qrx_df/cell_search.hpp"
#include "qrx_df/evaluate.hpp"
#include "qrx_df/evaluate_avx2.hpp"
#include "qrx_df/evaluate_avx512.hpp"
#include "qrx_df/interpolate_on.hpp"
#include "qrx_df/isa.hpp"
#include "qrx_df/locate.hpp"
#include "qrx_df/locate_variants.hpp"
#include "qrx_df/parallel.hpp"
#include "qrx_df/partition_table.hpp"
#include "qrx_df_kernels/df_kernels.h"
#include "qrx_df/task_record.hpp"
#include "qrx_df/value_select.hpp"

namespace qrx_df {
namespace {

constexpr std::int64_t block_sites = 512;

// Sorted sites are walked from cell to cell from this many sites a cell on
// average; sparser ones are searched one by one.
constexpr std::int64_t walk_sites_per_cell = 4;

// Cell indices take 32 bits, which vectorises best, up to this many
// breakpoints (also for float quotients, whose rounding stays below 2^31).
constexpr std::int64_t narrow_index_limit = std::int64_t{1} << 30;

using site_hints = value_list<std::int64_t, QRX_DF_SITES_DEFAULT, QRX_DF_SITES_NON_UNIFORM, QRX_DF_SITES_UNIFORM,
                              QRX_DF_SITES_SORTED>;
using result_hints = value_list<std::int64_t, QRX_DF_RESULTS_FUNCS_SITES_DERS, QRX_DF_RESULTS_FUNCS_DERS_SITES,
                                QRX_DF_RESULTS_SITES_FUNCS_DERS, QRX_DF_RESULTS_SITES_DERS_FUNCS>;

// What the evaluation of a call writes where.
template <typename T>
struct result_target {
  std::int64_t ny = 0;
  T* const* coeffs = nullptr;
  T* results = nullptr;
  std::int64_t function_stride = 0;
  std::int64_t site_stride = 0;
  std::int64_t der_stride = 0;
  unsigned mask = 0;  // orders asked for; 0: nothing to evaluate
  std::int64_t bytes = 0;  // size of the results
  bool site_major = false;  // the slots of one site are adjacent
  std::int64_t coeff_stride = 0;  // between the coefficient arrays of two functions
};

// The variants of the evaluation: the portable loops compiled for each
// instruction set; on AVX-512 with 32-bit cells, their hand-vectorised form.
#if QRX_DF_HAVE_AVX2_VARIANT
// Double cubic pieces, values only or every order, have a hand-vectorised
// form; everything else is the plain loop compiled for AVX2.
template <typename T, typename Index, int Order, unsigned Mask, int SiteStride>
QRX_DF_TARGET_AVX2 void evaluate_avx2(const T* coef, const Index* cell, const T* t, std::int64_t n, T* out,
                                      std::int64_t site_stride, std::int64_t der_stride, unsigned mask) {
  constexpr bool transposed = std::is_same_v<T, double> && std::is_same_v<Index, std::int32_t> && Order == 4 &&
                              ((Mask == 1U && SiteStride == 1) || (Mask == 15U && SiteStride == 4));
  if constexpr (transposed) {
    evaluate_cubic_avx2<Mask, SiteStride>(coef, cell, t, n, out, site_stride, der_stride, mask);
  } else {
    evaluate_block<T, Index, Order, Mask, SiteStride>(coef, cell, t, n, out, site_stride, der_stride, mask);
  }
}
#endif

#if QRX_DF_HAVE_AVX512_VARIANT
template <typename T, typename Index, int Order, unsigned Mask, int SiteStride, bool Stream>
QRX_DF_TARGET_AVX512 void evaluate_avx512_variant(const T* coef, const Index* cell, const T* t, std::int64_t n,
                                                  T* out, std::int64_t site_stride, std::int64_t der_stride,
                                                  unsigned mask) {
  if constexpr (std::is_same_v<Index, std::int32_t>) {
    evaluate_avx512<T, Order, Mask, SiteStride, Stream>(coef, cell, t, n, out, site_stride, der_stride, mask);
  } else {
    evaluate_block<T, Index, Order, Mask, SiteStride>(coef, cell, t, n, out, site_stride, der_stride, mask);
  }
}
#endif

// Orders 0 .. K-1 with lanes adjacent, or with the K orders of a lane
// adjacent: the layouts written as whole vectors, which can be streamed.
template <unsigned Mask, int LaneStride>
inline constexpr bool whole_vectors =
    Mask != 0U && (Mask & (Mask + 1U)) == 0U &&
    (LaneStride == 1 || (LaneStride >= 2 && Mask == (1U << LaneStride) - 1U));

#if QRX_DF_HAVE_AVX2_VARIANT
template <typename T, typename Index, int Order, unsigned Mask, int FunctionStride>
QRX_DF_TARGET_AVX2 void evaluate_tile_avx2(const T* coef, std::int64_t fstride, std::int64_t nf, const Index* cell,
                                           const T* t, std::int64_t n, T* out, std::int64_t site_stride,
                                           std::int64_t function_stride, std::int64_t der_stride, unsigned mask) {
  evaluate_tile<T, Index, Order, Mask, FunctionStride>(coef, fstride, nf, cell, t, n, out, site_stride,
                                                       function_stride, der_stride, mask);
}
#endif

#if QRX_DF_HAVE_AVX512_VARIANT
template <typename T, typename Index, int Order, unsigned Mask, int FunctionStride>
QRX_DF_TARGET_AVX512 void evaluate_tile_avx512_variant(const T* coef, std::int64_t fstride, std::int64_t nf,
                                                       const Index* cell, const T* t, std::int64_t n, T* out,
                                                       std::int64_t site_stride, std::int64_t function_stride,
                                                       std::int64_t der_stride, unsigned mask) {
  if constexpr (std::is_same_v<Index, std::int32_t>) {
    evaluate_tile_avx512<T, Order, Mask, FunctionStride>(coef, fstride, nf, cell, t, n, out, site_stride,
                                                         function_stride, der_stride, mask);
  } else {
    evaluate_tile<T, Index, Order, Mask, FunctionStride>(coef, fstride, nf, cell, t, n, out, site_stride,
                                                         function_stride, der_stride, mask);
  }
}
#endif

template <typename T, typename Index, int Order, unsigned Mask, int FunctionStride>
tile_fn<T, Index> tile_variant(isa target) {
  switch (target) {
#if QRX_DF_HAVE_AVX512_VARIANT
    case isa::avx512:
      return &evaluate_tile_avx512_variant<T, Index, Order, Mask, FunctionStride>;
#endif
#if QRX_DF_HAVE_AVX2_VARIANT
    case isa::avx2:
      return &evaluate_tile_avx2<T, Index, Order, Mask, FunctionStride>;
#endif
    default:
      return &evaluate_tile<T, Index, Order, Mask, FunctionStride>;
  }
}

// stream: the results bypass the caches where the variant can do so.
template <typename T, typename Index, int Order, unsigned Mask, int SiteStride>
evaluate_fn<T, Index> evaluate_variant(isa target, bool stream) {
  (void)stream;
  switch (target) {
#if QRX_DF_HAVE_AVX512_VARIANT
    case isa::avx512:
      if constexpr (whole_vectors<Mask, SiteStride>) {
        if (stream) return &evaluate_avx512_variant<T, Index, Order, Mask, SiteStride, true>;
      }
      return &evaluate_avx512_variant<T, Index, Order, Mask, SiteStride, false>;
#endif
#if QRX_DF_HAVE_AVX2_VARIANT
    case isa::avx2:
      return &evaluate_avx2<T, Index, Order, Mask, SiteStride>;
#endif
    default:
      return &evaluate_block<T, Index, Order, Mask, SiteStride>;
  }
}

// Partitions of more than 2^30 breakpoints take 64-bit cells and only the
// general instantiations: they are rare, and the fast ones need 32 bits.
template <typename Index>
inline constexpr bool wide_index = sizeof(Index) == sizeof(std::int64_t);

// The one place that maps a call onto a search instantiation: site kind,
// then partition kind; only the bucket table has a span, and given cells
// need no search.
template <typename T, typename Index>
locate_fn<T, Index> choose_locate(isa target, partition_kind p, std::int64_t span, site_kind s, bool given_cells) {
  using site_kinds = value_list<site_kind, site_kind::listed, site_kind::uniform>;
  using partition_kinds =
      value_list<partition_kind, partition_kind::uniform, partition_kind::listed, partition_kind::listed_sorted_sites>;
  using spans = std::conditional_t<wide_index<Index>, value_list<int, -1>, value_list<int, 1, 2, 4, 8, 16, -1>>;
  const int known_span = (span >= 1 && span <= 16 && !wide_index<Index>) ? static_cast<int>(span) : -1;
  locate_fn<T, Index> fn = nullptr;
  select(site_kinds{}, s, [&](auto sk) {
    constexpr site_kind S = decltype(sk)::value;
    if (given_cells) {
      fn = p == partition_kind::uniform ? locate_variant<T, Index, partition_kind::uniform, -1, S, true>(target)
                                        : locate_variant<T, Index, partition_kind::listed, -1, S, true>(target);
      return;
    }
    select(partition_kinds{}, p, [&](auto pk) {
      constexpr partition_kind P = decltype(pk)::value;
      if constexpr (P == partition_kind::listed) {
        select(spans{}, known_span, [&](auto n) { fn = locate_variant<T, Index, P, decltype(n)::value, S, false>(target); });
      } else {
        fn = locate_variant<T, Index, P, -1, S, false>(target);
      }
    });
  });
  return fn;
}

// The fast forms of an evaluation: orders 0 .. K-1 with lanes (sites, or
// functions at one site) adjacent and orders der_stride apart, or with the K
// orders of a lane in adjacent slots; any other set or layout at run time.
// A kind is lane stride * 16 + mask, 0 meaning "at run time".
template <typename Index>
int evaluation_kind(std::int64_t order, unsigned mask, std::int64_t lane_stride, std::int64_t der_stride) {
  const unsigned every = order == QRX_DF_ORDER_LINEAR ? 3U : 15U;
  const bool leading = mask != 0 && (mask & (mask + 1)) == 0 && (mask & ~every) == 0;
  const auto k = static_cast<std::int64_t>(__builtin_popcount(mask));
  if (wide_index<Index> || !leading) return 0;
  if (lane_stride == 1) return 16 + static_cast<int>(mask);
  if (lane_stride == k && der_stride == 1 && k > 1) return static_cast<int>(k) * 16 + static_cast<int>(mask);
  return 0;
}

template <typename Index>
using linear_kinds = std::conditional_t<wide_index<Index>, value_list<int, 0>, value_list<int, 17, 19, 35, 0>>;
template <typename Index>
using cubic_kinds =
    std::conditional_t<wide_index<Index>, value_list<int, 0>, value_list<int, 17, 19, 23, 31, 35, 55, 79, 0>>;

// The one place that maps the asked-for orders and the result layout onto an
// evaluation instantiation, sites as lanes.
template <typename T, typename Index>
evaluate_fn<T, Index> choose_evaluate(isa target, std::int64_t order, unsigned mask, std::int64_t site_stride,
                                      std::int64_t der_stride, bool stream) {
  const int kind = evaluation_kind<Index>(order, mask, site_stride, der_stride);
  evaluate_fn<T, Index> fn = nullptr;
  if (order == QRX_DF_ORDER_LINEAR) {
    select(linear_kinds<Index>{}, kind, [&](auto c) {
      constexpr int K = decltype(c)::value;
      fn = evaluate_variant<T, Index, 2, static_cast<unsigned>(K % 16), K / 16>(target, stream);
    });
  } else {
    select(cubic_kinds<Index>{}, kind, [&](auto c) {
      constexpr int K = decltype(c)::value;
      fn = evaluate_variant<T, Index, 4, static_cast<unsigned>(K % 16), K / 16>(target, stream);
    });
  }
  return fn;
}

// The same for the tiles of site-major layouts, functions as lanes.
template <typename T, typename Index>
tile_fn<T, Index> choose_tile(isa target, std::int64_t order, unsigned mask, std::int64_t function_stride,
                              std::int64_t der_stride) {
  const int kind = evaluation_kind<Index>(order, mask, function_stride, der_stride);
  tile_fn<T, Index> fn = nullptr;
  if (order == QRX_DF_ORDER_LINEAR) {
    select(linear_kinds<Index>{}, kind, [&](auto c) {
      constexpr int K = decltype(c)::value;
      fn = tile_variant<T, Index, 2, static_cast<unsigned>(K % 16), K / 16>(target);
    });
  } else {
    select(cubic_kinds<Index>{}, kind, [&](auto c) {
      constexpr int K = decltype(c)::value;
      fn = tile_variant<T, Index, 4, static_cast<unsigned>(K % 16), K / 16>(target);
    });
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

// How the sites and functions of a call are cut into tiles: blocks of sites
// whose cells are found once, and within a block, chunks of functions.
struct tiling {
  std::int64_t block = block_sites;
  std::int64_t chunk = 1;
};

// One function: blocks small enough for the stack. Many functions: long
// blocks, so that each function's coefficients, read from memory once per
// block, serve many sites while the block's cells and offsets stay in the
// core's cache. Function-major layouts take one function at a time over
// the block, each function's results being one run. Site-major layouts
// take chunks of functions whose coefficients stay in the core's cache,
// evaluated site after site, a site's results for a chunk being one run.
// Chunks are whole numbers of 16 functions, so that a chunk's results start
// on the same vector boundary at every site when a site's do.
template <typename T>
tiling tiling_of(const run_options& run, const result_target<T>& out, std::int64_t nsites) {
  tiling tile;
  if (out.ny <= 1 || out.mask == 0) return tile;
  tile.block = std::min(run.function_block, std::max<std::int64_t>(std::min(block_sites, run.function_block), nsites));
  if (out.site_major) {
    const std::int64_t function_bytes = std::max<std::int64_t>(1, out.coeff_stride * std::int64_t{sizeof(T)});
    tile.chunk = std::min(std::max<std::int64_t>(run.tile_bytes / function_bytes / 16 * 16, 16), out.ny);
  }
  return tile;
}

// Runs the tiles of a call. A unit of work is a block of sites and a group
// of chunks of functions; few blocks of many functions are split into
// several groups, so that all threads get work (each group searches its
// block again).
template <typename T, typename Index>
std::int32_t run_blocks(const run_options& run, const site_source<T>& src, std::int64_t nsites,
                        const result_target<T>& out, locate_fn<T, Index> locate_block, evaluate_fn<T, Index> evaluate,
                        tile_fn<T, Index> evaluate_tile, const qrx_df_threader_block* threader) {
  const bool evaluates = evaluate != nullptr || evaluate_tile != nullptr;
  const tiling tile = evaluates ? tiling_of(run, out, nsites) : tiling{};
  const std::int64_t blocks = (nsites + tile.block - 1) / tile.block;
  const std::int64_t ny = evaluates ? out.ny : 0;
  const std::int64_t chunks = ny > 0 ? (ny + tile.chunk - 1) / tile.chunk : 1;
  std::int64_t chunks_per_group = chunks;
  if (blocks < 16 && chunks > 1) {
    const std::int64_t wanted = (16 + blocks - 1) / blocks;
    chunks_per_group = (chunks + wanted - 1) / wanted;
  }
  const std::int64_t per_group = chunks_per_group * tile.chunk;
  const std::int64_t groups = ny > 0 ? (ny + per_group - 1) / per_group : 1;
  std::atomic<bool> out_of_memory{false};
  auto job = [&](std::int64_t begin, std::int64_t end) {
    Index stack_cell[block_sites];
    T stack_t[block_sites];
    Index* cell = stack_cell;
    T* t = stack_t;
    void* heap = nullptr;
    if (tile.block > block_sites) {
      heap = std::malloc(static_cast<std::size_t>(tile.block) * (sizeof(T) + sizeof(Index)));
      if (heap == nullptr) {
        out_of_memory.store(true, std::memory_order_relaxed);
        return;
      }
      t = static_cast<T*>(heap);
      cell = reinterpret_cast<Index*>(t + tile.block);
    }
    site_source<T> without_cells = src;
    without_cells.cells_out = nullptr;
    for (std::int64_t u = begin; u < end; ++u) {
      const std::int64_t block = u / groups;
      const std::int64_t group = u % groups;
      const std::int64_t s0 = block * tile.block;
      const std::int64_t n = std::min(nsites - s0, tile.block);
      locate_block(group == 0 ? src : without_cells, s0, n, cell, t);  // the first group writes the cells
      const std::int64_t f_end = std::min((group + 1) * per_group, ny);
      if (evaluate_tile != nullptr) {
        for (std::int64_t f = group * per_group; f < f_end; f += tile.chunk) {
          evaluate_tile(out.coeffs[f], out.coeff_stride, std::min(tile.chunk, f_end - f), cell, t, n,
                        out.results + f * out.function_stride + s0 * out.site_stride, out.site_stride,
                        out.function_stride, out.der_stride, out.mask);
        }
        continue;
      }
      for (std::int64_t f = group * per_group; f < f_end; ++f) {
        evaluate(out.coeffs[f], cell, t, n, out.results + f * out.function_stride + s0 * out.site_stride,
                 out.site_stride, out.der_stride, out.mask);
      }
    }
    std::free(heap);
  };
  const std::int32_t status = run_units(threader, blocks * groups, nsites * (ny > 0 ? ny : 1), job);
  return out_of_memory.load(std::memory_order_relaxed) ? QRX_DF_STATUS_BAD_ALLOC : status;
}

// Chooses the instantiations for the index width and runs the call.
template <typename T, typename Index>
std::int32_t run_call(const run_options& run, const site_source<T>& src, std::int64_t nsites,
                      const result_target<T>& out, partition_kind p, site_kind s, bool given_cells,
                      std::int64_t order, const qrx_df_threader_block* threader) {
  const isa target = run.target;
  const std::int64_t span = src.table != nullptr ? src.table->span : -1;
  const locate_fn<T, Index> locate_block = choose_locate<T, Index>(target, p, span, s, given_cells);
  // Results past the caches are streamed, many functions' from a larger
  // size than one function's.
  const bool stream = out.bytes >= (out.ny == 1 ? run.stream_results_from : run.stream_many_results_from);
  // Many functions in a site-major layout go by tiles, functions as lanes.
  const bool tiles = out.mask != 0 && out.site_major && out.ny > 1;
  const evaluate_fn<T, Index> evaluate =
      out.mask != 0 && !tiles
          ? choose_evaluate<T, Index>(target, order, out.mask, out.site_stride, out.der_stride, stream)
          : nullptr;
  const tile_fn<T, Index> evaluate_tile =
      tiles ? choose_tile<T, Index>(target, order, out.mask, out.function_stride, out.der_stride) : nullptr;
  return run_blocks<T, Index>(run, src, nsites, out, locate_block, evaluate, evaluate_tile, threader);
}

template <typename T>
std::int32_t run_call(const run_options& run, const qrx_df_task* task, const site_source<T>& src, std::int64_t nsites,
                      const result_target<T>& out, std::int64_t site_hint, bool given_cells,
                      const qrx_df_threader_block* threader) {
  const bool uniform_partition = task->partition_hint == QRX_DF_PARTITION_UNIFORM;
  // Sorted sites, and uniform ones (ascending when their step is), are found
  // by walking on from the previous site's cell when they are dense enough
  // for runs in one cell to pay for the walk's steps: at one site a cell the
  // bucket search took a fifth of the walk's time, at ten a cell twice its
  // time (nx = 10^4, bench_public_call's kernel path).
  const bool ascending = (site_hint == QRX_DF_SITES_SORTED || site_hint == QRX_DF_SITES_UNIFORM) &&
                         nsites / walk_sites_per_cell >= task->nx;
  const partition_kind p = uniform_partition ? partition_kind::uniform
                           : ascending       ? partition_kind::listed_sorted_sites
                                             : partition_kind::listed;
  const site_kind s = site_hint == QRX_DF_SITES_UNIFORM ? site_kind::uniform : site_kind::listed;
  if (task->nx <= narrow_index_limit) {
    return run_call<T, std::int32_t>(run, src, nsites, out, p, s, given_cells, task->order, threader);
  }
  return run_call<T, std::int64_t>(run, src, nsites, out, p, s, given_cells, task->order, threader);
}

// The partition and the sites of a call.
template <typename T>
site_source<T> source_of(const qrx_df_task* task, std::int64_t nsites, const T* sites, std::int64_t site_hint,
                         const qrx_df_threader_block* threader) {
  site_source<T> src;
  src.nx = task->nx;
  const auto* x = static_cast<const T*>(task->partition);
  if (task->partition_hint == QRX_DF_PARTITION_UNIFORM) {
    src.uniform = uniform_partition<T>(x[0], x[1], task->nx);
  } else {
    src.table = partition_table<T>(task, threader);
  }
  src.sites = sites;
  if (site_hint == QRX_DF_SITES_UNIFORM) {
    src.first_site = sites[0];
    src.site_step = nsites > 1 ? (sites[1] - sites[0]) / static_cast<T>(nsites - 1) : T(0);
  }
  return src;
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
std::int32_t interpolate(const run_options& run, qrx_df_task* task, std::int64_t type, std::int64_t method, std::int64_t nsites,
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

  result_target<T> out;
  if (evaluate) {
    if (task->order != QRX_DF_ORDER_LINEAR && task->order != QRX_DF_ORDER_CUBIC) return QRX_DF_STATUS_BAD_ORDER;
    if (!result_hints::contains(result_hint)) return QRX_DF_STATUS_BAD_RESULT_HINT;
    if (der_count < 0 || (der_count > 0 && der_indicators == nullptr)) return QRX_DF_STATUS_BAD_DER_COUNT;
    if (task->ny > 0 && task->coeff_values == nullptr) return QRX_DF_STATUS_NO_COEFFS;
    if (!product_fits(task->ny, nsites, der_count, sizeof(T))) return QRX_DF_STATUS_BAD_NY;
    for (std::int64_t d = 0; d < der_count && d < task->order; ++d) {
      out.mask |= der_indicators[d] != 0 ? 1U << d : 0U;
    }
    if (out.mask != 0 && task->ny > 0 && nsites > 0 && results == nullptr) return QRX_DF_STATUS_NO_RESULTS;
    out.ny = task->ny;
    out.coeffs = reinterpret_cast<T* const*>(task->coeffs);
    out.results = results;
    result_strides(result_hint, task->ny, nsites, der_count, &out.function_stride, &out.site_stride, &out.der_stride);
    out.bytes = task->ny * nsites * der_count * static_cast<std::int64_t>(sizeof(T));
    out.site_major = result_hint == QRX_DF_RESULTS_SITES_FUNCS_DERS || result_hint == QRX_DF_RESULTS_SITES_DERS_FUNCS;
    out.coeff_stride = (task->nx - 1) * task->order;
  }
  if (nsites == 0 || (out.mask == 0 && !cells_out)) return QRX_DF_STATUS_OK;  // nothing to write

  site_source<T> src = source_of(task, nsites, sites, site_hint, threader);
  if (task->partition_hint != QRX_DF_PARTITION_UNIFORM && src.table == nullptr) return QRX_DF_STATUS_BAD_ALLOC;
  src.cells_in = from_cells ? cells : nullptr;
  src.cells_out = cells_out ? cells : nullptr;
  return run_call(run, task, src, nsites, out, site_hint, from_cells, threader);
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
  site_source<T> src = source_of(task, nsites, sites, site_hint, threader);
  if (task->partition_hint != QRX_DF_PARTITION_UNIFORM && src.table == nullptr) return QRX_DF_STATUS_BAD_ALLOC;
  src.cells_out = cells;
  return run_call(run_options{}, task, src, nsites, result_target<T>{}, site_hint, false, threader);
}

bool all_null(std::initializer_list<const void*> pointers) {
  for (const void* p : pointers) {
    if (p != nullptr) return false;
  }
  return true;
}

}  // namespace

std::int32_t interpolate_on(const run_options& run, qrx_df_task* task, std::int64_t type, std::int64_t nsites, const float* sites,
                            std::int64_t site_hint, std::int64_t der_count, const std::int64_t* der_indicators,
                            float* results, std::int64_t result_hint, std::int64_t* cells,
                            const qrx_df_threader_block* threader) {
  return interpolate(run, task, type, QRX_DF_METHOD_STANDARD, nsites, sites, site_hint, der_count,
                     der_indicators, 0, results, result_hint, cells, true, threader);
}

std::int32_t interpolate_on(const run_options& run, qrx_df_task* task, std::int64_t type, std::int64_t nsites,
                            const double* sites, std::int64_t site_hint, std::int64_t der_count,
                            const std::int64_t* der_indicators, double* results, std::int64_t result_hint,
                            std::int64_t* cells, const qrx_df_threader_block* threader) {
  return interpolate(run, task, type, QRX_DF_METHOD_STANDARD, nsites, sites, site_hint, der_count,
                     der_indicators, 0, results, result_hint, cells, true, threader);
}

}  // namespace qrx_df

extern "C" {

std::int32_t qrx_df_kernel_sDFInterpolate1D(qrx_df_task* task, std::int64_t type, std::int64_t method,
                                            std::int64_t nsites, const float* sites, std::int64_t site_hint,
                                            std::int64_t der_count, const std::int64_t* der_indicators,
                                            std::int64_t data_hint, float* results, std::int64_t result_hint,
                                            std::int64_t* cells, const void* r0, const void* r1, const void* r2,
                                            const void* r3, const void* r4, const void* r5, const void* r6,
                                            const void* r7, const qrx_df_threader_block* threader) {
  return qrx_df::interpolate(qrx_df::run_options{}, task, type, method, nsites, sites, site_hint, der_count, der_indicators, data_hint,
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
  return qrx_df::interpolate(qrx_df::run_options{}, task, type, method, nsites, sites, site_hint, der_count, der_indicators, data_hint,
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
