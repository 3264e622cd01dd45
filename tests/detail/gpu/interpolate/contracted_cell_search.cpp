// The uniform cell search compiled with multiply-adds contracted into fused ones (see CMakeLists.txt), as a SYCL
// compiler may compile the kernels: the suite checks that it gives the cells of the plain build.
#include <cstdint>
#include <limits>

#include "data_fitting/hints.hpp"

// The search is included into an unnamed namespace, so that its instantiations are this unit's own: the linker must
// not merge them with the plain build's (which would also leave fused instructions where the plain build has none).
// Everything the header includes is included above, so that only the search itself lands in the unnamed namespace.
namespace {
namespace velora::qrx::experimental::data_fitting {
using ::velora::qrx::experimental::data_fitting::partition_hint;
}
#include "detail/gpu/interpolate/cell_search.hpp"

template <typename T>
std::int64_t contracted_cell(const T* p, std::int64_t nx, T x) {
  namespace df = velora::qrx::experimental::data_fitting;
  return df::detail::find_cell<df::partition_hint::uniform>(p, nx, x);
}
}  // namespace

namespace spline_test {

std::int64_t contracted_uniform_cell(const float* p, std::int64_t nx, float x) { return contracted_cell(p, nx, x); }
std::int64_t contracted_uniform_cell(const double* p, std::int64_t nx, double x) { return contracted_cell(p, nx, x); }

}  // namespace spline_test
