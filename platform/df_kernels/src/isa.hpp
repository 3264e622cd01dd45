#pragma once

// Instruction-set variants of the hot loops. Each variant is a wrapper with
// a target attribute that inlines (flattens) the portable loop into itself,
// so the same source is compiled once per instruction set and the variant is
// picked at run time. Floating-point contraction is off for the whole
// library, so every variant computes exactly the same IEEE operations.

namespace qrx_df {

enum class isa { baseline, avx2 };

#if defined(__x86_64__) && defined(__GNUC__)
#define QRX_DF_HAVE_AVX2_VARIANT 1
#define QRX_DF_TARGET_AVX2 __attribute__((target("arch=x86-64-v3"), flatten))
inline isa best_isa() {
  return (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("bmi2")) ? isa::avx2
                                                                                                          : isa::baseline;
}
#else
#define QRX_DF_HAVE_AVX2_VARIANT 0
inline isa best_isa() { return isa::baseline; }
#endif

}  // namespace qrx_df
