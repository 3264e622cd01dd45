#ifndef QRX_DF_KERNELS_DF_KERNELS_H
#define QRX_DF_KERNELS_DF_KERNELS_H

/* The CPU data-fitting kernel library: its task type, status codes, argument
 * values and the kernel functions. Callers that load the library at run
 * time include this header for the types only and look the functions up by
 * name. Every kernel returns a status (0 on success) and never throws. */

#include <stdint.h>

#include "qrx_lumo_thread/threader.h"

#if defined(_WIN32)
#define QRX_DF_KERNEL_API
#else
#define QRX_DF_KERNEL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A task: one partition, ny functions over it and their spline. Created by a
 * new-task kernel, released by qrx_df_kernel_DeleteTask. */
typedef struct qrx_df_task qrx_df_task;

/* The threader entry points, handed to the kernels that run parallel work.
 * The block holds the same five entry points three times; the kernels use
 * entries[0]. A null block makes the kernels run serially. */
typedef struct qrx_df_threader_entries {
  qrx_serv_threader_for_t* threader_for;
  qrx_serv_threader_for_ordered_t* threader_for_ordered;
  qrx_serv_threader_sections_t* threader_sections;
  qrx_serv_threader_ordered_t* threader_ordered;
  qrx_serv_threader_get_num_threads_limit_t* get_num_threads_limit;
} qrx_df_threader_entries;

typedef struct qrx_df_threader_block {
  qrx_df_threader_entries entries[3];
} qrx_df_threader_block;

/* Statuses. */
#define QRX_DF_STATUS_OK 0
#define QRX_DF_STATUS_NULL_TASK (-1000)
#define QRX_DF_STATUS_BAD_ALLOC (-1001)         /* memory, or the threader's tasks, could not be obtained */
#define QRX_DF_STATUS_BAD_METHOD (-1002)        /* unknown format or method */
#define QRX_DF_STATUS_BAD_TYPE (-1003)          /* interpolation type asks for nothing known */
#define QRX_DF_STATUS_NO_FUNCTIONS (-1008)      /* function values missing */
#define QRX_DF_STATUS_BAD_FUNCTION_HINT (-1009)
#define QRX_DF_STATUS_BAD_ORDER (-1010)         /* spline order not handled by this kernel */
#define QRX_DF_STATUS_BAD_SPLINE_TYPE (-1011)   /* spline type not handled by this kernel */
#define QRX_DF_STATUS_BAD_IC_TYPE (-1012)       /* internal-condition type */
#define QRX_DF_STATUS_NO_IC (-1013)             /* internal conditions missing */
#define QRX_DF_STATUS_NO_COEFFS (-1016)         /* coefficient storage missing */
#define QRX_DF_STATUS_NOT_PERIODIC (-1018)      /* end values of a function differ beyond rounding */
#define QRX_DF_STATUS_BAD_NSITES (-1021)        /* negative number of sites */
#define QRX_DF_STATUS_NO_SITES (-1022)
#define QRX_DF_STATUS_BAD_SITE_HINT (-1023)
#define QRX_DF_STATUS_BAD_DER_ORDERS (-1024)    /* derivative orders given without a positive count */
#define QRX_DF_STATUS_BAD_DER_COUNT (-1025)     /* negative count, or a count without orders */
#define QRX_DF_STATUS_NO_RESULTS (-1027)
#define QRX_DF_STATUS_NO_CELLS (-1029)          /* cells asked for or given, but no cell array */
/* The construction method exists in the interface but this kernel library
 * does not compute it (quadratic splines). Nothing is written. */
#define QRX_DF_STATUS_METHOD_NOT_PROVIDED (-1100)
#define QRX_DF_STATUS_WRONG_PRECISION (-1101)   /* a float kernel on a double task or back */
#define QRX_DF_STATUS_BAD_PARTITION_HINT (-1102)
#define QRX_DF_STATUS_BAD_NX (-1103)            /* fewer breakpoints than the spline needs */
#define QRX_DF_STATUS_NO_PARTITION (-1104)
#define QRX_DF_STATUS_BAD_NY (-1105)            /* negative, or too many functions or results to address */
#define QRX_DF_STATUS_BAD_BC_TYPE (-1106)       /* boundary-condition kind */
#define QRX_DF_STATUS_NO_BC_VALUES (-1107)      /* the kind needs boundary values that are missing */
#define QRX_DF_STATUS_BAD_COEFF_HINT (-1108)
#define QRX_DF_STATUS_BAD_ATTRIBUTE (-1109)     /* unknown attribute, or a value it cannot take */
#define QRX_DF_STATUS_BAD_RESULT_HINT (-1110)
#define QRX_DF_STATUS_BAD_ARGUMENT (-1111)      /* an argument that must be 0 or 1 is not */
/* Construction: a listed partition must be finite and strictly increasing,
 * a uniform one finite with a < b. Nothing is written. */
#define QRX_DF_STATUS_PARTITION_NOT_FINITE (-1112)
#define QRX_DF_STATUS_PARTITION_NOT_INCREASING (-1113)
/* Integration and solving. */
#define QRX_DF_STATUS_NO_TABLE (-1114)          /* integral table or range tree missing */
#define QRX_DF_STATUS_BAD_EXTRAPOLATION (-1115) /* mode outside 0..4, or periodic on one side only */
#define QRX_DF_STATUS_NO_LEVELS (-1116)         /* levels missing */
#define QRX_DF_STATUS_BAD_MAX_ROOTS (-1117)     /* negative number of roots to store */
/* Smoothing splines. Nothing is written. */
#define QRX_DF_STATUS_BAD_WEIGHTS (-1118)       /* a weight not finite or negative, or fewer than three positive */
#define QRX_DF_STATUS_BAD_LAMBDA (-1119)        /* lambda NaN or infinite, or too large to form the system */
/* Least-squares splines. Nothing is written. */
#define QRX_DF_STATUS_DATA_SITE_OUTSIDE (-1120) /* a data site NaN, or outside the partition's [a, b] */
#define QRX_DF_STATUS_DATA_UNDETERMINED (-1121) /* the sites of positive weight do not determine the spline */

/* Attributes of qrx_df_kernel_iEditVal. */
#define QRX_DF_ATTR_NY 16          /* number of functions (>= 0) */
#define QRX_DF_ATTR_SKIP_CHECKS 32 /* non-zero: callers may skip their argument checks */

/* Partition hints. */
#define QRX_DF_PARTITION_NON_UNIFORM 1
#define QRX_DF_PARTITION_QUASI_UNIFORM 2
#define QRX_DF_PARTITION_UNIFORM 4 /* the partition holds only its two ends */

/* Function-value layouts (function j at breakpoint i). */
#define QRX_DF_FUNCTIONS_DEFAULT 0    /* same as row-major */
#define QRX_DF_FUNCTIONS_ROW_MAJOR 16 /* functions[j*nx + i] */
#define QRX_DF_FUNCTIONS_COL_MAJOR 32 /* functions[i*ny + j] */

/* Coefficient layout: coeffs[(j*(nx - 1) + k)*order + q]. */
#define QRX_DF_COEFFS_ROW_MAJOR 16

/* Spline orders and types. */
#define QRX_DF_ORDER_LINEAR 2
#define QRX_DF_ORDER_QUADRATIC 3
#define QRX_DF_ORDER_CUBIC 4
#define QRX_DF_LINEAR_DEFAULT 0 /* the one linear type */
#define QRX_DF_CUBIC_DEFAULT 0
#define QRX_DF_CUBIC_NATURAL 2
#define QRX_DF_CUBIC_HERMITE 3
#define QRX_DF_CUBIC_BESSEL 4
#define QRX_DF_CUBIC_AKIMA 5
#define QRX_DF_CUBIC_HYMAN 9
#define QRX_DF_CUBIC_PCHIP 10   /* Fritsch-Butland monotone slopes */
#define QRX_DF_CUBIC_MAKIMA 11  /* modified Akima slopes */
#define QRX_DF_CUBIC_STEFFEN 12 /* Steffen's monotone slopes */
#define QRX_DF_CUBIC_SMOOTHING 13 /* penalised least squares, DFSmoothingCubicSpline1D */
#define QRX_DF_CUBIC_LEAST_SQUARES 14 /* least squares on the partition, DFLeastSquaresCubicSpline1D */

/* Internal-condition types. Hermite cubics take the first derivatives at
 * the nx - 2 interior breakpoints, shared by all functions, or every
 * function's own first derivatives at all nx breakpoints, laid out as the
 * function values (then with boundary-condition kind 0 only); default
 * cubics take the second derivatives at the interior breakpoints. */
#define QRX_DF_IC_FIRST_DERIVATIVES 1
#define QRX_DF_IC_SECOND_DERIVATIVES 2
#define QRX_DF_IC_FUNCTION_FIRST_DERIVATIVES 4

/* Boundary-condition kinds (bits, combined with |). Boundary values: left
 * value first, right value second.
 * - Hermite and default cubics take 0, 1, 2, 4|8, 8|16, 4|32, 16|32, 64 and
 *   128; with 0, 1 and 128 the end cells are quadratics; 64 takes the left
 *   value as the first derivative at both ends.
 * - Natural and Hyman cubics take 0 (free ends), 2, 4|8, 8|16, 4|32, 16|32,
 *   64 (the periodic C2 spline, no value) and 256 (no value).
 * - Akima, Bessel, PCHIP, modified Akima and Steffen cubics take 0 (their
 *   own end slopes) and 4|8. */
#define QRX_DF_BC_1 1
#define QRX_DF_BC_FREE_END 2
#define QRX_DF_BC_FIRST_LEFT 4
#define QRX_DF_BC_FIRST_RIGHT 8
#define QRX_DF_BC_SECOND_LEFT 16
#define QRX_DF_BC_SECOND_RIGHT 32
#define QRX_DF_BC_PERIODIC 64
#define QRX_DF_BC_128 128
/* Not-a-knot: the third derivative is continuous at the second and the
 * second-to-last breakpoints; with three breakpoints the spline is the
 * parabola through them. */
#define QRX_DF_BC_NOT_A_KNOT 256

/* Interpolation: type bits, method, site hints, result layouts. The cells
 * written or read are search indices j in [0, nx]: the number of breakpoints
 * not greater than the site (nx - 1 at the last breakpoint); the polynomial of
 * cell min(max(j - 1, 0), nx - 2) evaluates the site. */
#define QRX_DF_INTERP_VALUES 1     /* values and derivatives */
#define QRX_DF_INTERP_CELLS 2      /* search indices into `cells` */
#define QRX_DF_INTERP_FROM_CELLS 4 /* values and derivatives from the indices in `cells` */
#define QRX_DF_METHOD_STANDARD 1
#define QRX_DF_SITES_DEFAULT 0 /* same as non-uniform */
#define QRX_DF_SITES_NON_UNIFORM 1
#define QRX_DF_SITES_UNIFORM 4 /* the sites array holds the first and the last site */
#define QRX_DF_SITES_SORTED 64 /* ascending sites; unsorted input still gives correct results */
#define QRX_DF_RESULTS_FUNCS_SITES_DERS 16  /* results[(f*nsites + s)*K + d] */
#define QRX_DF_RESULTS_FUNCS_DERS_SITES 32  /* results[(f*K + d)*nsites + s] */
#define QRX_DF_RESULTS_SITES_FUNCS_DERS 256 /* results[(s*ny + f)*K + d] */
#define QRX_DF_RESULTS_SITES_DERS_FUNCS 512 /* results[(s*K + d)*ny + f] */

/* Task management. `record_version` must be 1. The partition, function and
 * coefficient arrays are used in place and must outlive the task, and the
 * partition must not change while it does: a non-uniform partition is
 * indexed for the cell search by the first construction (through its
 * threader), or else by the first interpolation or search. */
QRX_DF_KERNEL_API int32_t qrx_df_kernel_DeleteTask(qrx_df_task** task);
QRX_DF_KERNEL_API int32_t qrx_df_kernel_sNewTask1D(qrx_df_task** task, int64_t nx, const float* partition,
                                                   int64_t partition_hint, int64_t ny, const float* functions,
                                                   int64_t function_hint, int64_t record_version);
QRX_DF_KERNEL_API int32_t qrx_df_kernel_dNewTask1D(qrx_df_task** task, int64_t nx, const double* partition,
                                                   int64_t partition_hint, int64_t ny, const double* functions,
                                                   int64_t function_hint, int64_t record_version);
QRX_DF_KERNEL_API int32_t qrx_df_kernel_iEditVal(qrx_df_task* task, int64_t attribute, int64_t value);
QRX_DF_KERNEL_API int32_t qrx_df_kernel_sEditPPSpline1D(qrx_df_task* task, int64_t order, int64_t type,
                                                        int64_t bc_type, const float* bc_values, int64_t ic_type,
                                                        const float* internal_conditions, float* coeffs,
                                                        int64_t coeff_hint);
QRX_DF_KERNEL_API int32_t qrx_df_kernel_dEditPPSpline1D(qrx_df_task* task, int64_t order, int64_t type,
                                                        int64_t bc_type, const double* bc_values, int64_t ic_type,
                                                        const double* internal_conditions, double* coeffs,
                                                        int64_t coeff_hint);

/* Construction: format and method must be 0. */
#define QRX_DF_DECLARE_CONSTRUCT(name) \
  QRX_DF_KERNEL_API int32_t name(qrx_df_task* task, int64_t format, int64_t method, \
                                 const qrx_df_threader_block* threader)
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_sDFLinearSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_sDFQuadraticSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_sDFDefaultCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_sDFNaturalCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_sDFHermiteCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_sDFBesselCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_sDFHymanCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_sDFAkimaCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_sDFPchipCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_sDFMakimaCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_sDFSteffenCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_dDFLinearSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_dDFQuadraticSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_dDFDefaultCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_dDFNaturalCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_dDFHermiteCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_dDFBesselCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_dDFHymanCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_dDFAkimaCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_dDFPchipCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_dDFMakimaCubicSpline1D);
QRX_DF_DECLARE_CONSTRUCT(qrx_df_kernel_dDFSteffenCubicSpline1D);
#undef QRX_DF_DECLARE_CONSTRUCT

/* Smoothing cubic spline (type QRX_DF_CUBIC_SMOOTHING, boundary kind 0 or
 * free ends, at least three breakpoints): for each function y_j the C2 cubic
 * f with breakpoints at the partition and f'' = 0 at its ends minimising
 *   sum_i w_i (y_j(x_i) - f(x_i))^2 + lambda * integral f''(x)^2 dx.
 * The nx weights are shared by every function; null means all 1; they must
 * be finite and not negative, at least three positive. A site of weight 0
 * stays a breakpoint but does not pull the curve. lambda = 0 gives the
 * natural spline through the sites of positive weight. A negative lambda
 * (-1, say) chooses each function's lambda by generalised cross-validation,
 *   V = m RSS_w / (m - tr A)^2, m the number of positive weights,
 * over 16 decades of lambda, and writes it to chosen[j] (ny entries; chosen
 * may be null otherwise). Computed in double for float tasks too. */
QRX_DF_KERNEL_API int32_t qrx_df_kernel_sDFSmoothingCubicSpline1D(qrx_df_task* task, const float* weights,
                                                                  float lambda, float* chosen,
                                                                  const qrx_df_threader_block* threader);
QRX_DF_KERNEL_API int32_t qrx_df_kernel_dDFSmoothingCubicSpline1D(qrx_df_task* task, const double* weights,
                                                                  double lambda, double* chosen,
                                                                  const qrx_df_threader_block* threader);

/* Least-squares cubic spline (type QRX_DF_CUBIC_LEAST_SQUARES, boundary kind
 * 0): for each function the C2 cubic f with breakpoints at the partition's
 * nx >= 2 knots (the nx + 2 cubic B-splines on them, end knots four-fold)
 * minimising sum_i w_i (y_ji - f(x_i))^2 over ndata data sites x_i in
 * [a, b], in any order, shared by every function. The data values are laid
 * out as the function hint says for function values, with ndata in place of
 * nx: y[j*ndata + i] (default, row-major) or y[i*ny + j] (column-major); the
 * task's own function values are not read. The ndata weights must be finite
 * and not negative (null: all 1); a site of weight 0 is ignored, its value
 * never read. Refused with QRX_DF_STATUS_DATA_UNDETERMINED when the sites of
 * positive weight do not determine the spline (Schoenberg-Whitney: some
 * increasing distinct sites s_0 < ... < s_{nx+1} with B_i(s_i) != 0), or the
 * normal equations are singular to rounding. The result does not depend on
 * the number of threads. Computed in double for float tasks too. */
QRX_DF_KERNEL_API int32_t qrx_df_kernel_sDFLeastSquaresCubicSpline1D(qrx_df_task* task, const float* x,
                                                                     const float* y, int64_t ndata, int64_t y_hint,
                                                                     const float* weights,
                                                                     const qrx_df_threader_block* threader);
QRX_DF_KERNEL_API int32_t qrx_df_kernel_dDFLeastSquaresCubicSpline1D(qrx_df_task* task, const double* x,
                                                                     const double* y, int64_t ndata, int64_t y_hint,
                                                                     const double* weights,
                                                                     const qrx_df_threader_block* threader);

/* Interpolation. der_indicators holds der_count entries; order d is computed
 * when entry d is non-zero (orders 0-1 of linear, 0-3 of cubic splines), and
 * results has der_count slots per (function, site). data_hint must be 0 and
 * the eight reserved arguments null. */
QRX_DF_KERNEL_API int32_t qrx_df_kernel_sDFInterpolate1D(
    qrx_df_task* task, int64_t type, int64_t method, int64_t nsites, const float* sites, int64_t site_hint,
    int64_t der_count, const int64_t* der_indicators, int64_t data_hint, float* results, int64_t result_hint,
    int64_t* cells, const void* reserved0, const void* reserved1, const void* reserved2, const void* reserved3,
    const void* reserved4, const void* reserved5, const void* reserved6, const void* reserved7,
    const qrx_df_threader_block* threader);
QRX_DF_KERNEL_API int32_t qrx_df_kernel_dDFInterpolate1D(
    qrx_df_task* task, int64_t type, int64_t method, int64_t nsites, const double* sites, int64_t site_hint,
    int64_t der_count, const int64_t* der_indicators, int64_t data_hint, double* results, int64_t result_hint,
    int64_t* cells, const void* reserved0, const void* reserved1, const void* reserved2, const void* reserved3,
    const void* reserved4, const void* reserved5, const void* reserved6, const void* reserved7,
    const qrx_df_threader_block* threader);

/* Cell search only: writes the search index of every site into cells. */
QRX_DF_KERNEL_API int32_t qrx_df_kernel_sDFSearch1D(qrx_df_task* task, int64_t method, int64_t nsites,
                                                    const float* sites, int64_t site_hint, int64_t data_hint,
                                                    int64_t* cells, const void* reserved0, const void* reserved1,
                                                    const qrx_df_threader_block* threader);
QRX_DF_KERNEL_API int32_t qrx_df_kernel_dDFSearch1D(qrx_df_task* task, int64_t method, int64_t nsites,
                                                    const double* sites, int64_t site_hint, int64_t data_hint,
                                                    int64_t* cells, const void* reserved0, const void* reserved1,
                                                    const qrx_df_threader_block* threader);

/* Integration. The integral table of a task holds, for function j and
 * breakpoint k (0 <= k < nx), the integral of the function from the first
 * breakpoint to breakpoint k as an unevaluated sum of two numbers:
 * table[2*(j*nx + k)] + table[2*(j*nx + k) + 1]. It is filled by
 * DFIntegralTable1D in fixed blocks of cells, so that it does not depend on
 * the number of threads, and read by DFIntegrate1D, which needs the same
 * coefficients. The caller allocates QRX_DF_INTEGRAL_TABLE_SIZE(nx, ny)
 * elements. */
#define QRX_DF_INTEGRAL_TABLE_SIZE(nx, ny) (2 * (nx) * (ny))

/* Extrapolation modes of DFIntegrate1D, per side. Periodic is given for
 * both sides or neither. */
#define QRX_DF_EXTRAPOLATE_EXTEND 0   /* the end cell's polynomial */
#define QRX_DF_EXTRAPOLATE_CONSTANT 1 /* the end value */
#define QRX_DF_EXTRAPOLATE_LINEAR 2   /* the end value and slope */
#define QRX_DF_EXTRAPOLATE_NAN 3      /* NaN beyond that end */
#define QRX_DF_EXTRAPOLATE_PERIODIC 4 /* whole periods plus the rest */

QRX_DF_KERNEL_API int32_t qrx_df_kernel_sDFIntegralTable1D(qrx_df_task* task, float* table,
                                                           const qrx_df_threader_block* threader);
QRX_DF_KERNEL_API int32_t qrx_df_kernel_dDFIntegralTable1D(qrx_df_task* task, double* table,
                                                           const qrx_df_threader_block* threader);

/* results[j*n + i]: the integral of function j from lower[i] to upper[i],
 * with the extrapolation modes of each side outside the partition; NaN for
 * a NaN bound. `table` is the task's filled integral table. */
QRX_DF_KERNEL_API int32_t qrx_df_kernel_sDFIntegrate1D(qrx_df_task* task, const float* table, int64_t n,
                                                       const float* lower, const float* upper, int64_t left_mode,
                                                       int64_t right_mode, float* results,
                                                       const qrx_df_threader_block* threader);
QRX_DF_KERNEL_API int32_t qrx_df_kernel_dDFIntegrate1D(qrx_df_task* task, const double* table, int64_t n,
                                                       const double* lower, const double* upper, int64_t left_mode,
                                                       int64_t right_mode, double* results,
                                                       const qrx_df_threader_block* threader);

/* Solving. The range tree of a task holds, per function, the range of values
 * of blocks of QRX_DF_RANGE_TREE_BLOCK consecutive cells (the last block may
 * be partial) as a complete binary tree: with P the smallest power of two
 * not below the number of blocks, node i in 1..2P-1 (children 2i and 2i+1,
 * leaves P..2P-1, padding leaves empty) of function j is
 * [tree[2*(j*2P + i)], tree[2*(j*2P + i) + 1]], widened by the rounding of
 * the values; an empty range is [+inf, -inf]. Node 0 holds the function's
 * direction: tree[2*j*2P] is 1 when every cell's piece rises (its slope
 * nowhere negative, its end above its start), -1 when every one falls, 0
 * otherwise; a level of a rising or falling function is found by one
 * search over the cells' starts. Filled by
 * DFRangeTree1D; the caller allocates qrx_df_range_tree_size(nx, ny)
 * elements. */
#define QRX_DF_RANGE_TREE_BLOCK 32

static inline int64_t qrx_df_range_tree_leaves(int64_t nx) {
  const int64_t blocks = nx > 1 ? (nx - 2) / QRX_DF_RANGE_TREE_BLOCK + 1 : 1;
  int64_t p = 1;
  while (p < blocks) p *= 2;
  return p;
}

static inline int64_t qrx_df_range_tree_size(int64_t nx, int64_t ny) {
  return 4 * qrx_df_range_tree_leaves(nx) * ny;
}

QRX_DF_KERNEL_API int32_t qrx_df_kernel_sDFRangeTree1D(qrx_df_task* task, float* tree,
                                                       const qrx_df_threader_block* threader);
QRX_DF_KERNEL_API int32_t qrx_df_kernel_dDFRangeTree1D(qrx_df_task* task, double* tree,
                                                       const qrx_df_threader_block* threader);

/* For function j and level y[i], the sites x in [a, b] where the function
 * equals the level, ascending: counts[j*n + i] of them (also those not
 * stored), the first max_roots at roots[(j*n + i)*max_roots]. A root on a
 * breakpoint counts once; a touching point counts; a cell on which the
 * function equals the level throughout counts once, at its left end. NaN
 * levels and cells with NaN coefficients have none. `tree` is the task's
 * filled range tree; roots may be null when max_roots is 0. */
QRX_DF_KERNEL_API int32_t qrx_df_kernel_sDFSolve1D(qrx_df_task* task, const float* tree, int64_t n, const float* y,
                                                   int64_t max_roots, float* roots, int64_t* counts,
                                                   const qrx_df_threader_block* threader);
QRX_DF_KERNEL_API int32_t qrx_df_kernel_dDFSolve1D(qrx_df_task* task, const double* tree, int64_t n,
                                                   const double* y, int64_t max_roots, double* roots,
                                                   int64_t* counts, const qrx_df_threader_block* threader);

#ifdef __cplusplus
}
#endif

#endif
