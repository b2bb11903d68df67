// sh_lane.hpp: one frequency's step of the SH column across a layer, the
// body of the block loops of sh_sweep and of the library's sh_response.
//
// The column (u, s) holds the displacement and the stress in units of mu nu
// of the layer above; the step first turns s into this layer's units by
// rho = (mu nu above) / (mu nu here). In those units the layer matrix is
// [cos z, sin z; -sin z, cos z], which the waves w = u -+ i s diagonalise:
// w+ is multiplied by e^{iz} (the wave decaying downwards) and w- by e^{-iz}.
// With Im z = b >= 0 and the growth e^b moved to the caller's log-scale:
//   s <- rho s;  w+ <- e^{-2b} e^{i Re z} w+;  w- <- e^{-i Re z} w-;
//   u = (w+ + w-) / 2,  s = i (w+ - w-) / 2.
// Straight-line code over doubles, so a loop over lanes vectorises.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "common/platform.hpp"
#include "layers/poly_math.hpp"

namespace velmar::detail {

// A column leaving these bounds is brought back near 1 by a power of two.
constexpr double SH_RESCALE_HIGH = 0x1p+400;
constexpr double SH_RESCALE_LOW = 0x1p-400;

struct ShColumn {
  double ur, ui, sr, si;
};

// The column after a layer of phase x + i b (b >= 0) with the unit ratio
// (rr, ri). Clamp: 2b may exceed -EXP_FLOOR, where e^{-2b} is taken as
// e^{EXP_FLOOR} (negligible beside 1; the polynomial's range ends there).
template <bool Clamp>
VELMAR_ALWAYS_INLINE ShColumn sh_lane_step(double x, double b, double rr, double ri, ShColumn c) {
  double half_e;  // e^{-2b} / 2
  if constexpr (Clamp) {
    // max(-2b, FLOOR) = -2b + max(g, 0) with g = 2b + FLOOR, and
    // max(g, 0) = 0.5 g + 0.5 |g| is exactly 0 for g <= 0 (a select here
    // would keep the loop from being vectorised).
    const double g = 2.0 * b + poly::EXP_FLOOR;
    half_e = poly::half_exp_poly(-2.0 * b + (0.5 * g + 0.5 * std::abs(g)));
  } else {
    half_e = poly::half_exp_poly(-2.0 * b);
  }
  const poly::SinCos sc = poly::sincos_poly(x);
  const double pr = half_e * sc.c, pi = half_e * sc.s;  // e^{-2b} e^{ix} / 2
  const double mr = 0.5 * sc.c, mi = -0.5 * sc.s;       // e^{-ix} / 2
  const double s_r = c.sr * rr - c.si * ri, s_i = c.sr * ri + c.si * rr;
  const double wpr = c.ur + s_i, wpi = c.ui - s_r;  // u - i s
  const double wmr = c.ur - s_i, wmi = c.ui + s_r;  // u + i s
  const double ar = pr * wpr - pi * wpi, ai = pr * wpi + pi * wpr;
  const double br = mr * wmr - mi * wmi, bi = mr * wmi + mi * wmr;
  return {ar + br, ai + bi, bi - ai, ar - br};
}

// Sign bit set when the column has left the rescaling bounds (collected
// across lanes with | and no branch).
VELMAR_ALWAYS_INLINE std::uint64_t sh_out_of_range_bits(const ShColumn& c) {
  const double big = std::max(std::max(std::abs(c.ur), std::abs(c.ui)), std::max(std::abs(c.sr), std::abs(c.si)));
  return poly::bits_of(SH_RESCALE_HIGH - big) | poly::bits_of(big - SH_RESCALE_LOW);
}

}  // namespace velmar::detail
