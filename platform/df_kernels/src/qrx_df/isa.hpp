#pragma once

// Instruction-set variants of the hot loops. Each variant is a wrapper with
// a target attribute that inlines (flattens) the portable loop into itself,
// so the same source is compiled once per instruction set and the variant is
// picked at run time; the hottest loops also have hand-vectorised forms.
// Floating-point contraction is off for the whole library, and the
// hand-vectorised forms do the operations of the portable loops in the same
// order, so every variant computes exactly the same IEEE results.

#include <initializer_list>

namespace qrx_df {

// Ordered: a variant may use everything of the ones before it.
enum class isa { baseline, avx2, avx512 };

#if defined(__x86_64__) && defined(__GNUC__)
#define QRX_DF_HAVE_AVX2_VARIANT 1
#define QRX_DF_HAVE_AVX512_VARIANT 1
#define QRX_DF_TARGET_AVX2 __attribute__((target("arch=x86-64-v3"), flatten))
#define QRX_DF_TARGET_AVX512 __attribute__((target("arch=x86-64-v4"), flatten))

// Whether this processor runs the variant.
inline bool isa_supported(isa target) {
  switch (target) {
    case isa::avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") && isa_supported(isa::avx2);
    case isa::avx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("bmi2");
    default:
      return true;
  }
}
#else
#define QRX_DF_HAVE_AVX2_VARIANT 0
#define QRX_DF_HAVE_AVX512_VARIANT 0
inline bool isa_supported(isa target) { return target == isa::baseline; }
#endif

// The widest variant this processor runs.
inline isa best_isa() {
  for (isa target : {isa::avx512, isa::avx2}) {
    if (isa_supported(target)) return target;
  }
  return isa::baseline;
}

}  // namespace qrx_df
