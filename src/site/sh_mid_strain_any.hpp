// sh_mid_strain_any.hpp: the modulus of the SH shear strain at the middle of
// every layer per unit incident displacement, at any frequencies (a random
// vibration analysis's log-spaced grid), all layers in one sweep.
//
// The same wave-amplitude sweep as sh_mid_strain.hpp (rho_j = A_j / B_j
// down, the products of E_m / G_m up; every factor bounded), with each
// layer's half-layer phase factor e^{i phi}, phi = omega c h / 2, formed per
// frequency by the straight-line polynomials of layers/poly_math.hpp, so a
// block of frequencies runs in vector registers whatever their spacing.
#pragma once

#include <span>
#include <vector>

#include "site/sh_response.hpp"

namespace velmar::detail {

// Scratch of sh_mid_strain_moduli, sized on first use and kept by the caller:
// a call on the sizes of an earlier one allocates nothing.
struct MidStrainAnyWork {
  std::vector<double> store;
  std::vector<double> cr, ci, ar, ai, h;
};

// |du/dz| per unit incident displacement (its square with `squared`) at the
// middle of every layer of `medium` (n layers) at `freqs` (Hz, >= 0),
// depth-major (element j * nf + k) into `out` (n * nf values). Returns false, writing nothing, when the
// sweep cannot serve the medium (a vertical slowness near 0 at oblique
// incidence, or a phase beyond the polynomials' range): the caller then uses
// sh_response. Agrees with sh_response to rounding.
bool sh_mid_strain_moduli(const ShMedium& medium, double angle_deg, std::span<const double> freqs,
                          std::span<double> out, MidStrainAnyWork& work, bool squared = false);

}  // namespace velmar::detail
