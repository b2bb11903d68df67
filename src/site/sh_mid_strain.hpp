// sh_mid_strain.hpp: the SH shear strain at the middle of every layer, all
// layers in one sweep, for the equivalent-linear iteration.
//
// Glossary (entry j = 0 .. n-1 the layers, n the half-space; omega = 2 pi f):
//   c_j    vertical slowness of entry j (Im >= 0), as in sh_response.hpp
//   A, B   amplitudes of the down- and up-going waves at the top of a layer:
//          u = A e^{i omega c zeta} + B e^{-i omega c zeta}, zeta below the top
//   rho_j  A_j / B_j: 1 at the free surface; bounded by 1 in modulus in a
//          dissipative column, so the sweep never overflows
//   E_j    e^{i omega c_j h_j}, |E| <= 1; alpha_j = M_j c_j / (M_{j+1} c_{j+1})
// Per unit incident displacement (B_n = 1), the strain du/dz at the middle
// of layer j is i omega c_j (rho_j e^{i phi} - e^{-i phi}) B_j, phi the phase
// across half the layer, and B_j = prod_{m >= j} E_m / G_m with
// G_m = B_{m+1} E_m / B_m = ((1 - alpha) rho_m E_m^2 + 1 + alpha) / 2: every
// factor is bounded, a forward sweep gives rho and G, a backward one the
// products.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "site/sh_response.hpp"

namespace velmar::detail {

// Scratch of sh_mid_strain, sized on first use and kept by the caller.
struct MidStrainWork {
  std::vector<double> store;
};

// Optional scaling of the strains: at frequency k, times (re[k], im[k]) and,
// with within_floor > 0, times conj(u_k) / max(|u_k|^2, within_floor), u_k the
// displacement at the depth (u_at): a record's spectrum, and the divisor of
// a record observed inside the profile.
struct MidStrainScale {
  const double* re = nullptr;  // nf values each, or none
  const double* im = nullptr;
  double within_floor = 0.0;
};

// Strain du/dz per unit incident displacement at the middle of every layer of
// `medium`, at the frequencies k df, k = 0 .. nf - 1 (df in Hz, > 0), as
// real and imaginary parts, depth-major (element j * nf + k), n * nf values
// each. The phase factors of a
// layer come from one exponential per block of frequencies times a table of
// steps. Returns false, writing nothing, when the sweep cannot serve the
// medium (a vertical slowness near 0 at oblique incidence): the caller then
// uses sh_response. Agrees with sh_response to rounding.
// @param[in]  medium     the profile (checked by the caller)
// @param[in]  angle_deg  incidence angle in the half-space, |angle| < 90
// With `depth` (m, >= 0: in a layer, on an interface, or in the half-space,
// where a depth so deep that the up-going wave could leave the double range
// makes the call return false) the displacement there per unit incident
// displacement goes to u_at (nf values): the divisor of a record observed
// inside the profile. With
// `scale`, the strains are scaled as MidStrainScale says (its floor needs
// the depth).
bool sh_mid_strain(const ShMedium& medium, double angle_deg, double df, std::size_t nf, std::span<double> strain_re,
                   std::span<double> strain_im, MidStrainWork& work, std::optional<double> depth = std::nullopt,
                   std::span<cdouble> u_at = {}, const MidStrainScale& scale = {});

}  // namespace velmar::detail
