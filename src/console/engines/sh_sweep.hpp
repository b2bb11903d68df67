// sh_sweep.hpp: the SH response at one interface over a whole frequency grid.
//
// Glossary (per layer n, frequency-independent unless IQF = 2):
//   c_n     vertical wavenumber per unit angular frequency, nu = omega * c_n,
//           sqrt((1 + i d)^2 / VSC^2 - (sin(theta) / VSC_half-space)^2), Im >= 0
//   zc_n    c_n * THICK: the phase across the layer is z = omega * zc_n
//   mc_n    mu_n * c_n: mu nu = omega * mc_n (mu the damped shear modulus)
//   rho_n   mc_{n-1} / mc_n
// Block scratch (SH_BLOCK frequencies side by side, one array per real
// quantity, so that the compiler can run the layer loop over the block in
// vector registers):
//   omega   angular frequency 2*pi*F, formed in float as HASSH forms it
//   cu, cs  displacement and stress at the bottom of the current layer per
//           unit surface displacement, as mantissa times e^{log_c}; the
//           stress in units of mu nu of that layer
//   ku      the displacement kept at the interface LOUT (0-based LOUT-1)
//   x, zi, mn, rr, ri   per-frequency layer quantities when IQF = 2
#pragma once

#include <array>
#include <span>

#include "console/engines/layer_table.hpp"
#include "layers/simd_level.hpp"

namespace velmar::console {

using namespace detail;  // the shared kernels

constexpr int SH_BLOCK = 64;  // frequencies evaluated side by side

using ShLayerArray = std::array<double, MAX_ENTRIES - 1>;
using ShBlockArray = std::array<double, SH_BLOCK>;

// Storage of sh_sweep: layer constants of the run and the block scratch.
// Owned by the caller (the driver keeps one in its run state); nothing in it
// carries meaning from one sh_sweep call to the next.
struct ShSweepWork {
  // Constant Q: z = omega zc, mu nu = omega mc, rho = mc_{n-1} / mc_n.
  ShLayerArray zc_re{}, zc_im{}, mc_re{}, mc_im{}, rho_re{}, rho_im{};
  // IQF = 2: the frequency-independent parts of each layer's damping law.
  ShLayerArray qs{}, ivs_re{}, ivs_im{}, vs_re{}, vs_im{};
  ShBlockArray omega{}, fhz{};
  // Two column slots: the layer loop reads one and writes the other.
  std::array<ShBlockArray, 2> cu_re{}, cu_im{}, cs_re{}, cs_im{};
  ShBlockArray log_c{};
  ShBlockArray ku_re{}, ku_im{}, k_log{};
  // IQF = 2, per lane: phase, mu nu of this and the layer above, their ratio.
  ShBlockArray x{}, zi{}, rr{}, ri{};
  std::array<ShBlockArray, 2> mn_re{}, mn_im{};
  // Lanes left to HASSH, and its result arrays.
  std::array<bool, SH_BLOCK> by_hassh{};
  ResponseArray ush{}, tsh{};
};

// USH(LOUT) of HASSH(table, 0.0, ANGLE, F[i], ISGNT, IPROF) for every i, with
// IPROF = 0 when LOUT = 1 and 1 otherwise: the same layer-matrix response,
// with ANGAZ = 0, evaluated for SH_BLOCK frequencies at a time. An exact 0.0
// in F is replaced by 1.0e-6 in place, as HASSH does. Layer quantities that do
// not depend on the frequency are formed once per call; the exponential, sine
// and cosine of the layer phases come from polynomials accurate to 1e-14
// relative or better (poly_math.hpp states and tests the bounds)
// (library functions for phases beyond 2^19 pi/2, where the reduction would
// lose digits: such frequencies, and any whose evaluation meets a non-finite
// value such as a zero vertical wavenumber, are left to HASSH itself).
// Precision and range as HASSH: double precision, exponential growth carried
// as a log-scale (a column leaving the safe double range is rescaled by a
// power of two), rounded to float once per value. The block loops exist in
// SSE2 (the x86-64 baseline), AVX2 and AVX-512 forms, the best one the
// processor runs chosen at run time (portable loops only, off x86-64); all
// give the same results bit for bit.
//
// @param[in]    table  the model (read only), as for HASSH; 0 <= NLAYER <= 49
// @param[in]    ANGLE  incidence angle in the half-space, degrees
// @param[in]    LOUT   reported interface, 1 (free surface) .. NLAYER+1
// @param[in]    ISGNT  +1 for exp(+i w t) (the complex conjugate), else -1
// @param[inout] F      the frequencies; exact zeros become 1.0e-6
// @param[out]   RE, IM real and imaginary parts of USH(LOUT), F.size() entries
// @param        work   scratch
void sh_sweep(const LayerTable& table, float ANGLE, int LOUT, int ISGNT, std::span<float> F,
              std::span<float> RE, std::span<float> IM, ShSweepWork& work);

// The same with the block loops of a named instruction set, which the
// processor must support (simd_level_supported; not checked).
void sh_sweep(const LayerTable& table, float ANGLE, int LOUT, int ISGNT, std::span<float> F,
              std::span<float> RE, std::span<float> IM, ShSweepWork& work, SimdLevel level);

}  // namespace velmar::console
