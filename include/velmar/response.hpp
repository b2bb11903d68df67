// response.hpp: the complex response of a layered profile to a plane wave.
//
// Conventions (the same as the console program's):
//   - time factor exp(-i w t); a wave decays as it travels (Im of its vertical
//     wavenumber >= 0);
//   - depth z in m, positive downwards from the free surface; the vertical
//     displacement is positive downwards too;
//   - every value is per unit displacement amplitude of the wave incident
//     from the half-space (the up-going wave at the top of the half-space):
//     a bare half-space gives 2 at its free surface for SH at any angle, 2
//     horizontally for SV and -2 vertically for P at vertical incidence.
//     An outcrop motion of the half-space's rock is 2 x the incident one.
//   - angle: of the incident wave in the half-space, degrees from the
//     vertical, |angle| < 90.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "velmar/profile.hpp"

namespace velmar {

enum class Wave { SH, P, SV };
enum class Component { HORIZONTAL, VERTICAL };
// What a response or a history describes. ACCELERATION, VELOCITY and
// DISPLACEMENT have the same transfer function (a ratio of motions).
enum class Quantity { ACCELERATION, VELOCITY, DISPLACEMENT, STRAIN, STRESS };

Wave wave_from_name(std::string_view name);            // "SH", "P", "SV"
Component component_from_name(std::string_view name);  // "horizontal", "vertical"
Quantity quantity_from_name(std::string_view name);    // "accel", "velocity", "displacement", "strain", "stress"

// The incident wave and the damping law.
struct WaveSetup {
  Wave wave = Wave::SH;
  double angle = 0.0;
  DampingLaw law = DampingLaw::VELMAR;
};

// Response at every requested depth and frequency; element d * nf + i is
// depth d, frequency i.
struct ResponseGrid {
  std::size_t nf = 0;
  std::size_t nd = 0;
  std::vector<cdouble> u;       // SH: the out-of-plane displacement; P-SV: horizontal
  std::vector<cdouble> w;       // P-SV: vertical (down positive); empty for SH
  std::vector<cdouble> strain;  // SH: shear strain du/dz, 1/m per m of incident displacement
  std::vector<cdouble> stress;  // SH: shear stress M* du/dz, kPa per m of incident displacement
};

// The response at every depth in `depths` (m, >= 0; anywhere: inside a layer,
// on an interface, in the half-space) and every frequency in `freqs` (Hz,
// finite; a negative frequency gives the complex conjugate of its positive
// twin, 0 the static limit). Double precision; finite for every valid
// profile. Throws InvalidArgument for a bad angle, depth or frequency, or a
// profile without P velocities for P-SV.
ResponseGrid response(const Profile& profile, std::span<const double> freqs,
                      std::span<const double> depths, const WaveSetup& setup);

// One transfer function: `quantity` (displacement, strain or stress; strain
// and stress for SH only) of `component` at `depth`, per unit incident
// displacement, at every frequency. The component defaults to the wave's own
// (SH: the only one; P: vertical; SV: horizontal).
std::vector<cdouble> transfer(const Profile& profile, std::span<const double> freqs,
                              const WaveSetup& setup, double depth = 0.0,
                              Quantity quantity = Quantity::DISPLACEMENT,
                              std::optional<Component> component = std::nullopt);

}  // namespace velmar
