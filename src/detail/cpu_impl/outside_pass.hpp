#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "data_fitting/hints.hpp"
#include "detail/outside_modes.hpp"
#include "detail/result_slot.hpp"
#include "qrx_df_kernels/df_kernels.h"

namespace velora::qrx::experimental::data_fitting::detail {

// Sites outside the partition and NaN sites on the CPU back-end. The CPU
// kernels evaluate every site by its cell's polynomial (the end cell's
// beyond the ends); around them the host work moves periodic sites into the
// period before the kernels run (periodic_sites) and writes what the modes
// give after (outside_pass::write). The treatment of each site is
// plan_site's, as in the GPU kernels.
template <typename T>
struct outside_pass {
  // Sites per block of the parallel inside test: enough to make a block's
  // loop the cost.
  static constexpr std::int64_t inside_block = std::int64_t(1) << 16;

  outside_modes modes;
  const T* partition;
  std::int64_t nx;
  bool uniform_partition;
  const T* coeffs;  // row-major, m per cell
  std::int64_t m;   // coefficients per cell: 2 linear, 4 cubic
  std::int64_t ny;

  T start() const { return partition[0]; }
  T end() const { return uniform_partition ? partition[1] : partition[nx - 1]; }

  // Whether anything may be left to write after the kernels (when some site
  // is outside or NaN): a mode other than extend. The kernels themselves
  // give NaN in every order at a NaN site.
  static bool needed(outside_modes modes) { return modes.replace_extension(); }

  // Site s of a call: listed, or step*s + first for uniform sites (as the
  // kernels place them).
  static T site(const T* sites, std::int64_t nsites, site_hint hint, std::int64_t s) {
    if (hint != site_hint::uniform) return sites[s];
    const T step = nsites > 1 ? (sites[1] - sites[0]) / static_cast<T>(nsites - 1) : T(0);
    return step * static_cast<T>(s) + sites[0];
  }

  // Every site moved into [a, b), for a periodic spline; NaN where no period
  // count is exact.
  std::vector<T> periodic_sites(const T* sites, std::int64_t nsites, site_hint hint) const {
    std::vector<T> moved(static_cast<std::size_t>(nsites));
    for (std::int64_t s = 0; s < nsites; ++s) moved[s] = plan_site(modes, start(), end(), site(sites, nsites, hint, s)).at;
    return moved;
  }

  // Value and first derivative of function j's cell `cell` at t, by the
  // formulas of the evaluation kernels.
  void value_and_slope(std::int64_t j, std::int64_t cell, T t, T& p0, T& p1) const {
    const T* c = coeffs + (j * (nx - 1) + cell) * m;
    if (m == 2) {
      p0 = t * c[1] + c[0];
      p1 = c[1];
    } else {
      p0 = ((c[3] * t + c[2]) * t + c[1]) * t + c[0];
      p1 = ((c[3] * t) * T(3) + T(2) * c[2]) * t + c[1];
    }
  }

  // Whether every site of the call lies on [a, b] ([a, b) for a periodic
  // spline), none NaN: plain passes that vectorise, over blocks of sites on
  // the kernels' threads (one thread reads the sites at a fraction of the
  // memory's speed), after which a call whose sites are all inside needs
  // nothing more.
  bool all_inside(const T* sites, std::int64_t nsites, site_hint hint, const qrx_df_threader_block* threader) const {
    const std::int64_t stored = hint == site_hint::uniform ? (nsites > 1 ? 2 : 1) : nsites;
    struct blocks_job {
      const outside_pass* pass;
      const T* sites;
      std::int64_t stored;
      std::atomic<bool> inside{true};
    } job{this, sites, stored};
    auto run = [](void* context, std::int64_t begin, std::int64_t end) {
      auto* j = static_cast<blocks_job*>(context);
      const std::int64_t first = begin * inside_block, last = std::min(j->stored, end * inside_block);
      if (!j->pass->inside_range(j->sites, first, last)) j->inside.store(false, std::memory_order_relaxed);
    };
    const std::int64_t blocks = (stored + inside_block - 1) / inside_block;
    const qrx_df_threader_entries* e = threader != nullptr ? &threader->entries[0] : nullptr;
    if (blocks <= 1 || e == nullptr || e->threader_for == nullptr ||
        e->threader_for(blocks, 1, &job, run) != QRX_SERV_THREADER_OK) {
      return inside_range(sites, 0, stored);
    }
    return job.inside.load(std::memory_order_relaxed);
  }

  // Sites [first, last) of the stored ones, all inside.
  bool inside_range(const T* sites, std::int64_t first, std::int64_t last) const {
    const T a = start(), b = end();
    const bool half_open = modes.periodic();
    bool inside = true;
    for (std::int64_t s = first; s < last; ++s) {
      const T x = sites[s];
      inside &= x >= a && (half_open ? x < b : x <= b);
    }
    return inside;
  }

  // Writes the results of every site the kernels' polynomial does not
  // serve: the constant or linear continuation of an end, or NaN.
  void write(const T* sites, std::int64_t nsites, site_hint hint, T* results, interpolate_hint layout,
             const std::int64_t* flags, std::int64_t count) const {
    const T a = start(), b = end();
    // The right end measured from the last cell's origin, as the kernels
    // measure a site there.
    const T last_origin = uniform_partition ? (b - a) * (T(1) / static_cast<T>(nx - 1)) * static_cast<T>(nx - 2) + a
                                            : partition[nx - 2];
    const std::int64_t orders = count < m ? count : m;
    for (std::int64_t s = 0; s < nsites; ++s) {
      const site_plan<T> plan = plan_site(modes, a, b, site(sites, nsites, hint, s));
      if (plan.how == site_treatment::polynomial) continue;
      const bool right = plan.at == b && plan.how != site_treatment::not_a_number;
      for (std::int64_t j = 0; j < ny; ++j) {
        T p0 = 0, p1 = 0;
        if (plan.how != site_treatment::not_a_number) {
          value_and_slope(j, right ? nx - 2 : 0, right ? b - last_origin : T(0), p0, p1);
        }
        for (std::int64_t d = 0; d < orders; ++d) {
          if (flags[d] == 0) continue;
          results[result_slot_of(layout, ny, nsites, count, j, s, d)] =
              treated_order(plan, static_cast<int>(d), p0, p1, T(0));
        }
      }
    }
  }
};

}  // namespace velora::qrx::experimental::data_fitting::detail
