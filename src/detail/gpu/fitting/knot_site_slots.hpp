#pragma once

// Whether the sites of positive weight determine a cubic spline on the knots
// t_0 < ... < t_{nx-1} (basis of knot_basis_table.hpp): Schoenberg and
// Whitney's condition, that some increasing sequence of distinct sites
// s_0 < ... < s_{nx+1} has B_i(s_i) != 0 for every i, i.e.
// tau_i < s_i < tau_{i+4}, where B_0 also takes t_0 and B_{nx+1} also
// t_{nx-1}.
//
// The sites are not sorted: they are bucketed into slots in increasing
// order, knot t_0, the inside of cell 0, knot t_1, ..., knot t_{nx-1}, and
// the slots keep how many distinct sites they hold, at most 4 inside a cell
// (no more basis functions reach into one cell) and at most 1 on a knot.
// Walking the basis functions in order and giving each the first free site
// of its support (greedy on supports whose both ends never move left) finds
// such a sequence whenever one exists. Each block of data fills slots of its
// own; the blocks' slots are merged knot by knot, in block order.

#include <cstdint>
#include <limits>

namespace velora::qrx::experimental::data_fitting::detail {

// A view of doubles(nx) doubles: 4 per cell for the distinct sites inside
// it (NaN = empty), then a hit flag per knot. Captured by value.
class knot_site_slots {
 public:
  static std::int64_t doubles(std::int64_t nx) { return 4 * (nx - 1) + nx; }

  knot_site_slots(std::int64_t nx, double* storage) : nx_(nx), inside_(storage), on_knot_(storage + 4 * (nx - 1)) {}

  void clear() const {
    const double empty = std::numeric_limits<double>::quiet_NaN();
    for (std::int64_t e = 0; e < 4 * (nx_ - 1); ++e) inside_[e] = empty;
    for (std::int64_t k = 0; k < nx_; ++k) on_knot_[k] = 0.0;
  }

  // A site of cell k at offset s from t_k; h is the cell's width. Offsets
  // at or beyond the ends (rounding of a uniform partition's search) count
  // as the knot.
  void add(std::int64_t k, double s, double h, double x) const {
    if (s <= 0.0) {
      on_knot_[k] = 1.0;
    } else if (s >= h) {
      on_knot_[k + 1] = 1.0;
    } else {
      add_inside(k, x);
    }
  }

  // Adds another block's sites of knot k and, below the last knot, of the
  // inside of cell k.
  void merge_knot(const knot_site_slots& other, std::int64_t k) const {
    if (k + 1 < nx_) {
      for (int q = 0; q < 4; ++q) {
        const double x = other.inside_[4 * k + q];
        if (x == x) add_inside(k, x);
      }
    }
    on_knot_[k] = on_knot_[k] > 0.0 || other.on_knot_[k] > 0.0 ? 1.0 : 0.0;
  }

  // The condition on the sites seen.
  bool determine_spline() const {
    const std::int64_t last_slot = 2 * (nx_ - 1);  // knot t_{nx-1}
    std::int64_t slot = 0;                         // next slot with possibly free sites
    std::int64_t used = 0;                         // sites of `slot` already given
    for (std::int64_t i = 0; i < nx_ + 2; ++i) {
      const std::int64_t first = i == 0 ? 0 : 2 * clamp_cell(i - 3) + 1;
      const std::int64_t last = i == nx_ + 1 ? last_slot : 2 * clamp_cell(i) + 1;
      if (slot < first) slot = first, used = 0;
      while (slot <= last && used >= capacity(slot)) ++slot, used = 0;
      if (slot > last) return false;
      ++used;
    }
    return true;
  }

 private:
  std::int64_t clamp_cell(std::int64_t k) const { return k < 0 ? 0 : (k > nx_ - 2 ? nx_ - 2 : k); }

  std::int64_t capacity(std::int64_t slot) const {
    if (slot % 2 == 0) return on_knot_[slot / 2] > 0.0 ? 1 : 0;
    const double* c = inside_ + 4 * (slot / 2);
    std::int64_t n = 0;
    for (int q = 0; q < 4; ++q) n += c[q] == c[q] ? 1 : 0;
    return n;
  }

  void add_inside(std::int64_t k, double x) const {
    double* c = inside_ + 4 * k;
    for (int q = 0; q < 4; ++q) {
      if (c[q] == x) return;
      if (c[q] != c[q]) {
        c[q] = x;
        return;
      }
    }
  }

  std::int64_t nx_;
  double* inside_;
  double* on_knot_;
};

}  // namespace velora::qrx::experimental::data_fitting::detail
