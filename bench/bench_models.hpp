// bench_models.hpp: the layered model and frequency sweep the response
// benchmarks share.
#pragma once

#include <array>

#include "console/engines/layer_table.hpp"

namespace velmar::bench {

using console::LayerTable;

constexpr int SWEEP = 256;       // frequencies per timed sweep
constexpr float F_MAX = 50.0f;   // the sweep covers [0, F_MAX)

// Stiffening with depth: thickness, density and S velocity of every layer and
// the half-space's density and S velocity. The caller sets the quality
// factors (and P velocities) its benchmark needs; s_scale softens the S waves.
inline LayerTable graded_base(int nlayer, float s_scale = 1.0f) {
  LayerTable t;
  t.NLAYER = nlayer;
  t.IQF = 1;
  for (int k = 0; k < nlayer; ++k) {
    const float x = static_cast<float>(k);
    t.THICK[k] = 2.0f + 0.5f * x;
    t.RHO[k] = 1.6f + 0.01f * x;
    t.VSC[k] = {s_scale * (150.0f + 12.0f * x + 40.0f * static_cast<float>(k % 3)), 0.0f};
  }
  t.RHO[nlayer] = 2.5f;
  t.VSC[nlayer] = {2000.0f, 0.0f};
  return t;
}

inline std::array<float, SWEEP> sweep() {
  std::array<float, SWEEP> f{};
  for (int i = 0; i < SWEEP; ++i) f[i] = static_cast<float>(i) * (F_MAX / SWEEP);
  return f;
}

}  // namespace velmar::bench
