// simd_level.cpp: the processor's instruction sets, asked once.
#include "layers/simd_level.hpp"

#include "common/platform.hpp"

namespace velmar::detail {

bool simd_level_supported(SimdLevel level) {
#if VELMAR_X86_DISPATCH
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  static const bool avx512 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") != 0;
  }();
  switch (level) {
    case SimdLevel::AVX2: return avx2;
    case SimdLevel::AVX512: return avx512;
    case SimdLevel::BASELINE: break;
  }
  return true;
#else
  return level == SimdLevel::BASELINE;
#endif
}

SimdLevel best_simd_level() {
  static const SimdLevel best = [] {
    if (simd_level_supported(SimdLevel::AVX512)) return SimdLevel::AVX512;
    if (simd_level_supported(SimdLevel::AVX2)) return SimdLevel::AVX2;
    return SimdLevel::BASELINE;
  }();
  return best;
}

}  // namespace velmar::detail
