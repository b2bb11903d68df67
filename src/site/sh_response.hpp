// sh_response.hpp: the SH response of a profile of any number of layers, at
// any depths, over any frequencies, in double precision.
//
// Glossary (entry 0 the top layer, entry n the half-space; unit angular
// frequency: every wavenumber is omega times a slowness):
//   s_n    complex slowness 1/V*_n of the damped S velocity (Im >= 0)
//   p      horizontal slowness sin(theta) s_h, the same in every entry (Snell)
//   c_n    vertical slowness sqrt(s_n^2 - p^2), Im >= 0; nu_n = omega c_n
//   M_n    complex shear modulus M*_n (kPa with t/m3 and m/s)
//   z      nu_n h, the complex phase across (part of) a layer
// The state at a depth is (u, tau): displacement and shear stress
// tau = M* du/dz, carried down from the free surface (u0, 0) by
//   [ cos z            sin z / (M nu) ]
//   [ -M nu sin z      cos z          ]
// and fixed by the radiation condition: the up-going wave in the half-space
// has unit amplitude at its top.
#pragma once

#include <complex>
#include <span>
#include <vector>

#include "layers/simd_level.hpp"
#include "velmar/profile.hpp"

namespace velmar::detail {

using cdouble = std::complex<double>;

// A profile with its damping applied.
struct ShMedium {
  std::vector<double> thickness;  // n layers, m, each > 0
  std::vector<cdouble> modulus;   // n + 1 complex shear moduli (Im <= 0)
  std::vector<cdouble> slowness;  // n + 1 complex slownesses 1/V* (Re > 0, Im >= 0)
};

// Per-entry constants of the SH engine at unit angular frequency.
struct ShEntry {
  cdouble c;    // vertical slowness
  cdouble mc;   // M c: M nu / omega
  cdouble rho;  // mc of the entry above / mc of this one (1 for the top entry)
  cdouble M;    // complex modulus
  double h;     // thickness (0 for the half-space)
};

// One requested depth: entry, distance below the entry's top, output index.
struct ShTarget {
  std::size_t entry;
  double dz;
  std::size_t out;
};

// The state at every target of a frequency evaluated one at a time.
struct ShTargetStates {
  std::vector<cdouble> u, tau;
  std::vector<double> lg;
};

// Scratch of sh_response, sized on first use and kept by the caller: a call
// on the sizes of an earlier one allocates nothing.
struct ShResponseWork {
  std::vector<ShEntry> entries;
  std::vector<double> tops;
  std::vector<ShTarget> targets;
  std::vector<double> store;
  std::vector<char> scalar;
  ShTargetStates states;
};

// Displacement u, shear strain du/dz and shear stress M* du/dz per unit
// displacement of the incident wave, at every depth (m, >= 0) and frequency
// (Hz; a negative one gives the conjugate of its positive twin, 0 the static
// limit u = 2, strain 0). Outputs are depth-major (element d * nf + i); the
// strain and stress spans may be empty (not computed). Frequencies are taken
// a block at a time through the layers, with the growth of each column
// carried apart as a log-scale, so every value is finite; the block loop
// uses polynomial exp/sin/cos and hands frequencies whose phases exceed their
// range (or that meet a zero vertical wavenumber) to a scalar evaluation with
// the library functions.
// @param[in]  medium     the profile (checked by the caller)
// @param[in]  angle_deg  incidence angle in the half-space, |angle| < 90
void sh_response(const ShMedium& medium, double angle_deg, std::span<const double> freqs,
                 std::span<const double> depths, std::span<cdouble> u, std::span<cdouble> strain,
                 std::span<cdouble> stress);

// The same on a named instruction-set level of the block loop (the tests run
// every level the processor has and require the same bits).
void sh_response(const ShMedium& medium, double angle_deg, std::span<const double> freqs,
                 std::span<const double> depths, std::span<cdouble> u, std::span<cdouble> strain,
                 std::span<cdouble> stress, SimdLevel level);

// The same with the caller's scratch.
void sh_response(const ShMedium& medium, double angle_deg, std::span<const double> freqs,
                 std::span<const double> depths, std::span<cdouble> u, std::span<cdouble> strain,
                 std::span<cdouble> stress, ShResponseWork& work);
void sh_response(const ShMedium& medium, double angle_deg, std::span<const double> freqs,
                 std::span<const double> depths, std::span<cdouble> u, std::span<cdouble> strain,
                 std::span<cdouble> stress, SimdLevel level, ShResponseWork& work);

// The profile with its damping applied, into `medium` (whose storage is
// reused).
void sh_medium(const Profile& profile, DampingLaw law, ShMedium& medium);

}  // namespace velmar::detail
