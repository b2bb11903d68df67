// simd_level.hpp: which instruction set the block loops of the sweeps run on.
//
// sh_sweep and psv_sweep compile their block loops once per level below and
// pick one through a small table at each call: by default the best level the
// processor supports, or a level the caller names (the tests run every level
// on the same inputs and require the same bits). Every level performs the same
// IEEE operations lane by lane, with no contraction into fused operations, so
// the level changes the speed and never the results.
//
//   BASELINE  the portable loops: SSE2 on x86-64 (its baseline), and the only
//             level elsewhere (AArch64's loops use its NEON baseline)
//   AVX2      x86-64 AVX2
//   AVX512    x86-64 AVX-512F
#pragma once

#include <cstddef>

namespace velmar::detail {

enum class SimdLevel { BASELINE, AVX2, AVX512 };

constexpr std::size_t SIMD_LEVELS = 3;

// Whether this processor runs code compiled for `level` (BASELINE always;
// AVX2 and AVX512 only on x86-64 processors that have them).
bool simd_level_supported(SimdLevel level);

// The highest supported level, found on the first call and kept.
SimdLevel best_simd_level();

// Entry `level` of a table of SIMD_LEVELS entries indexed by level.
template <typename Table>
auto for_level(const Table& table, SimdLevel level) {
  return table[static_cast<std::size_t>(level)];
}

}  // namespace velmar::detail
