#pragma once

#include <cstddef>

#include "qrx_df_kernels/df_kernels.h"

namespace velora::qrx::experimental::data_fitting::detail {

// The kernels of the CPU data-fitting kernel library, in the order of their
// slots. Each entry gives the name suffix after "qrx_df_kernel_"; the
// signature is taken from the library's header with decltype, so it is
// written once. The library is never linked: decltype does not refer to the
// functions, and their addresses come from the dynamic loader.
#define QRX_DF_KERNEL_TABLE(X)                                                              \
  X(DeleteTask) X(sNewTask1D) X(iEditVal) X(sEditPPSpline1D) X(sDFLinearSpline1D)           \
  X(sDFQuadraticSpline1D) X(sDFDefaultCubicSpline1D) X(sDFNaturalCubicSpline1D)             \
  X(sDFHermiteCubicSpline1D) X(sDFBesselCubicSpline1D) X(sDFHymanCubicSpline1D)             \
  X(sDFAkimaCubicSpline1D) X(sDFInterpolate1D) X(sDFSearch1D) X(dNewTask1D)                 \
  X(dEditPPSpline1D) X(dDFLinearSpline1D) X(dDFQuadraticSpline1D) X(dDFDefaultCubicSpline1D) \
  X(dDFNaturalCubicSpline1D) X(dDFHermiteCubicSpline1D) X(dDFBesselCubicSpline1D)           \
  X(dDFHymanCubicSpline1D) X(dDFAkimaCubicSpline1D) X(dDFInterpolate1D) X(dDFSearch1D)      \
  X(sDFPchipCubicSpline1D) X(sDFMakimaCubicSpline1D) X(sDFSteffenCubicSpline1D)             \
  X(dDFPchipCubicSpline1D) X(dDFMakimaCubicSpline1D) X(dDFSteffenCubicSpline1D)             \
  X(sDFIntegralTable1D) X(sDFIntegrate1D) X(sDFRangeTree1D) X(sDFSolve1D)                   \
  X(dDFIntegralTable1D) X(dDFIntegrate1D) X(dDFRangeTree1D) X(dDFSolve1D)                   \
  X(sDFSmoothingCubicSpline1D) X(dDFSmoothingCubicSpline1D)                                 \
  X(sDFLeastSquaresCubicSpline1D) X(dDFLeastSquaresCubicSpline1D)

enum class kernel_id : std::size_t {
#define QRX_DF_KERNEL_ID(name) name,
  QRX_DF_KERNEL_TABLE(QRX_DF_KERNEL_ID)
#undef QRX_DF_KERNEL_ID
};

#define QRX_DF_KERNEL_COUNT(name) +1
inline constexpr std::size_t kernel_count = 0 QRX_DF_KERNEL_TABLE(QRX_DF_KERNEL_COUNT);
#undef QRX_DF_KERNEL_COUNT

inline constexpr const char* kernel_names[kernel_count] = {
#define QRX_DF_KERNEL_NAME(name) "qrx_df_kernel_" #name,
    QRX_DF_KERNEL_TABLE(QRX_DF_KERNEL_NAME)
#undef QRX_DF_KERNEL_NAME
};

// kernel_type<id>: pointer to the kernel's function type.
template <kernel_id Id>
struct kernel_signature;
#define QRX_DF_KERNEL_SIGNATURE(name)                    \
  template <>                                            \
  struct kernel_signature<kernel_id::name> {             \
    using type = decltype(&::qrx_df_kernel_##name);      \
  };
QRX_DF_KERNEL_TABLE(QRX_DF_KERNEL_SIGNATURE)
#undef QRX_DF_KERNEL_SIGNATURE

template <kernel_id Id>
using kernel_type = typename kernel_signature<Id>::type;

// The kernels of one precision.
template <typename T>
struct precision_kernels;

template <>
struct precision_kernels<float> {
  static constexpr kernel_id new_task = kernel_id::sNewTask1D;
  static constexpr kernel_id edit_pp_spline = kernel_id::sEditPPSpline1D;
  static constexpr kernel_id linear = kernel_id::sDFLinearSpline1D;
  static constexpr kernel_id quadratic = kernel_id::sDFQuadraticSpline1D;
  static constexpr kernel_id default_cubic = kernel_id::sDFDefaultCubicSpline1D;
  static constexpr kernel_id natural_cubic = kernel_id::sDFNaturalCubicSpline1D;
  static constexpr kernel_id hermite_cubic = kernel_id::sDFHermiteCubicSpline1D;
  static constexpr kernel_id bessel_cubic = kernel_id::sDFBesselCubicSpline1D;
  static constexpr kernel_id hyman_cubic = kernel_id::sDFHymanCubicSpline1D;
  static constexpr kernel_id akima_cubic = kernel_id::sDFAkimaCubicSpline1D;
  static constexpr kernel_id pchip_cubic = kernel_id::sDFPchipCubicSpline1D;
  static constexpr kernel_id makima_cubic = kernel_id::sDFMakimaCubicSpline1D;
  static constexpr kernel_id steffen_cubic = kernel_id::sDFSteffenCubicSpline1D;
  static constexpr kernel_id interpolate = kernel_id::sDFInterpolate1D;
  static constexpr kernel_id search = kernel_id::sDFSearch1D;
  static constexpr kernel_id integral_table = kernel_id::sDFIntegralTable1D;
  static constexpr kernel_id integrate = kernel_id::sDFIntegrate1D;
  static constexpr kernel_id range_tree = kernel_id::sDFRangeTree1D;
  static constexpr kernel_id solve = kernel_id::sDFSolve1D;
  static constexpr kernel_id smoothing = kernel_id::sDFSmoothingCubicSpline1D;
  static constexpr kernel_id least_squares = kernel_id::sDFLeastSquaresCubicSpline1D;
};

template <>
struct precision_kernels<double> {
  static constexpr kernel_id new_task = kernel_id::dNewTask1D;
  static constexpr kernel_id edit_pp_spline = kernel_id::dEditPPSpline1D;
  static constexpr kernel_id linear = kernel_id::dDFLinearSpline1D;
  static constexpr kernel_id quadratic = kernel_id::dDFQuadraticSpline1D;
  static constexpr kernel_id default_cubic = kernel_id::dDFDefaultCubicSpline1D;
  static constexpr kernel_id natural_cubic = kernel_id::dDFNaturalCubicSpline1D;
  static constexpr kernel_id hermite_cubic = kernel_id::dDFHermiteCubicSpline1D;
  static constexpr kernel_id bessel_cubic = kernel_id::dDFBesselCubicSpline1D;
  static constexpr kernel_id hyman_cubic = kernel_id::dDFHymanCubicSpline1D;
  static constexpr kernel_id akima_cubic = kernel_id::dDFAkimaCubicSpline1D;
  static constexpr kernel_id pchip_cubic = kernel_id::dDFPchipCubicSpline1D;
  static constexpr kernel_id makima_cubic = kernel_id::dDFMakimaCubicSpline1D;
  static constexpr kernel_id steffen_cubic = kernel_id::dDFSteffenCubicSpline1D;
  static constexpr kernel_id interpolate = kernel_id::dDFInterpolate1D;
  static constexpr kernel_id search = kernel_id::dDFSearch1D;
  static constexpr kernel_id integral_table = kernel_id::dDFIntegralTable1D;
  static constexpr kernel_id integrate = kernel_id::dDFIntegrate1D;
  static constexpr kernel_id range_tree = kernel_id::dDFRangeTree1D;
  static constexpr kernel_id solve = kernel_id::dDFSolve1D;
  static constexpr kernel_id smoothing = kernel_id::dDFSmoothingCubicSpline1D;
  static constexpr kernel_id least_squares = kernel_id::dDFLeastSquaresCubicSpline1D;
};

}  // namespace velora::qrx::experimental::data_fitting::detail
