// profile.hpp: a horizontally layered profile over a half-space, and the
// complex moduli its damping gives.
//
// Glossary (entry 0 is the top layer, entry n the half-space; n = layers()):
//   thickness  m (any consistent length unit); the half-space entry is unused
//   density    t/m3 (with m/s velocities, moduli come out in kPa)
//   vs, vp     S and P velocities, m/s; vp only needed for P-SV waves
//   damping_s  damping ratio xi of shear waves (a plain ratio, 0.05 = 5 %);
//              Q = 1 / (2 xi); 0 is elastic
//   damping_p  damping ratio of P waves (P-SV only)
// The half-space is damped only when its damping is above 0.
#pragma once

#include <complex>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmar {

using cdouble = std::complex<double>;

// How a damping ratio xi turns a modulus M = rho V^2 into a complex one.
// The library's time factor is exp(-i w t), so every law gives Im M* <= 0:
//   VELMAR    complex velocity V / (1 + i xi) (the console program's law, xi = 1/(2Q)),
//             M* = M / (1 + i xi)^2
//   SEED      M (1 - 2 i xi)                      (frequency-independent, "Seed")
//   KRAMER    M (1 - xi^2 - 2 i xi)               (simplified Kramer)
//   DORMIEUX  M (sqrt(1 - 4 xi^2) - 2 i xi)       (Dormieux and Canou; xi <= 0.5)
// Each law dissipates energy; they differ by a few per cent in resonance
// heights at xi = 0.1.
enum class DampingLaw { VELMAR, SEED, KRAMER, DORMIEUX };

// Parses "velmar", "seed", "kramer", "dormieux" (case-insensitive); throws
// InvalidArgument naming `what` otherwise.
DampingLaw damping_law_from_name(std::string_view name, std::string_view what = "modulus");
std::string damping_law_name(DampingLaw law);

// M* of a modulus `modulus` with damping ratio `xi` under `law` (time factor
// exp(-i w t)). Throws InvalidArgument for xi outside [0, 1), or above 0.5
// for DORMIEUX.
cdouble complex_modulus(double modulus, double xi, DampingLaw law);

// The complex velocity sqrt(M*/rho) = V sqrt(M*/M), the root with Re > 0
// (and Im <= 0). 1/V* then has Im >= 0: waves decay as they travel.
cdouble complex_velocity(double velocity, double xi, DampingLaw law);

class Profile {
 public:
  Profile() = default;
  // All arrays have one entry per layer plus one for the half-space (last),
  // top down. vp and damping_p may be empty (then P-SV calls refuse the
  // profile); damping_p empty with vp given takes the shear damping for P
  // waves too. Throws InvalidArgument with the argument, index and value of
  // the first bad entry: a length that differs, a non-finite value, a
  // thickness of a layer not above 0, a density or velocity not above 0, a
  // damping ratio outside [0, 1), vp not above vs; a density above 5 t/m3
  // (denser than any earth material: a unit weight in kN/m3 or a density in
  // kg/m3 typed as t/m3), the message naming the layer counted from 1.
  Profile(std::vector<double> thickness, std::vector<double> density, std::vector<double> vs,
          std::vector<double> damping_s, std::vector<double> vp = {},
          std::vector<double> damping_p = {});

  // The same with quality factors instead of damping ratios (xi = 1/(2Q));
  // a Q of 0 or infinity means no damping (an elastic entry).
  static Profile from_quality(std::vector<double> thickness, std::vector<double> density,
                              std::vector<double> vs, std::vector<double> qs,
                              std::vector<double> vp = {}, std::vector<double> qp = {});

  // The same as from_quality without the density limit, for tables in any
  // consistent units (the console's decks): transfer functions and linear
  // responses depend on density ratios only. Calls that need densities in
  // t/m3 (the equivalent-linear analysis, through its stresses) check them
  // with check_density.
  static Profile from_quality_any_density(std::vector<double> thickness, std::vector<double> density,
                                          std::vector<double> vs, std::vector<double> qs,
                                          std::vector<double> vp = {}, std::vector<double> qp = {});

  // The constructor above without the density limit, with damping ratios:
  // rebuilds any profile exactly from its own columns (a deck's table in
  // kg/m3 included), as copying and pickling need.
  static Profile any_density(std::vector<double> thickness, std::vector<double> density, std::vector<double> vs,
                             std::vector<double> damping_s, std::vector<double> vp = {},
                             std::vector<double> damping_p = {});

  std::size_t layers() const { return vs_.empty() ? 0 : vs_.size() - 1; }
  bool has_p() const { return !vp_.empty(); }
  const std::vector<double>& thickness() const { return thickness_; }
  const std::vector<double>& density() const { return density_; }
  const std::vector<double>& vs() const { return vs_; }
  const std::vector<double>& damping_s() const { return damping_s_; }
  const std::vector<double>& vp() const { return vp_; }
  const std::vector<double>& damping_p() const { return damping_p_; }

  // Depth of the top of entry i (0 for the top layer; depth of the
  // half-space for i = layers()), m.
  double top_depth(std::size_t i) const;
  // Total thickness of the layers: the depth of the half-space.
  double halfspace_depth() const { return top_depth(layers()); }
  // The entry that holds depth z >= 0: a depth on an interface belongs to the
  // entry below it; at or below the half-space's top, layers().
  std::size_t entry_at(double z) const;

 private:
  Profile(std::vector<double> thickness, std::vector<double> density, std::vector<double> vs,
          std::vector<double> damping_s, std::vector<double> vp, std::vector<double> damping_p,
          bool density_in_t_m3);
  std::vector<double> thickness_, density_, vs_, damping_s_, vp_, damping_p_;
  std::vector<double> tops_;  // top depth of every entry
};

// Throws InvalidArgument as the Profile constructor does when a density is
// above 5 t/m3 (for profiles built by from_quality_any_density).
void check_density(const Profile& profile);

}  // namespace velmar
