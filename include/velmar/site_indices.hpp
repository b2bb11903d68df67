// site_indices.hpp: the numbers that classify and summarise a site: time-averaged
// velocities (Vs30), building-code site classes, fundamental frequencies, kappa0
// and the damping that gives a target kappa0, and quarter-wavelength
// amplification with its inversion.
//
// Velocities in m/s, depths and thicknesses in m, densities in t/m3 (any
// consistent units work for the ratios), frequencies in Hz, kappa in s.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "velmar/profile.hpp"

namespace velmar {

// The time-averaged shear velocity to depth `depth`: depth / (travel time of a
// vertical S wave from the surface to that depth). A profile shallower than
// `depth` is extended by its half-space. Throws InvalidArgument unless depth > 0
// and finite.
double time_averaged_vs(const Profile& profile, double depth);
inline double vs30(const Profile& profile) { return time_averaged_vs(profile, 30.0); }

// Depth of the top of the first entry (layer or half-space) whose Vs is at
// least `vs` (Z1.0 with 1000 m/s, Z2.5 with 2500 m/s); 0 when the top layer
// already reaches it, none when not even the half-space does. Throws
// InvalidArgument unless vs > 0 and finite.
std::optional<double> depth_to_vs(const Profile& profile, double vs);

// kappa0 = sum over the layers (not the half-space) of 2 xi h / Vs, s.
double kappa0(const Profile& profile);

// The profile with its layers' shear damping replaced by xi_i = c / Vs_i (a
// quality factor proportional to Vs), c chosen so that kappa0 equals `target`.
// The half-space and any P damping are kept. Throws InvalidArgument for a
// target below 0 or not finite, a profile without layers (with a target above
// 0), or a target so large that a layer's damping would reach 1.
Profile adjust_damping(const Profile& profile, double target);

// Both estimates of the fundamental frequency of the layers over the half-space.
struct FundamentalFrequency {
  double sh_peak = 0.0;             // first peak of |SH transfer function| at the surface, vertical incidence
  double quarter_wavelength = 0.0;  // 1 / (4 sum h_i / Vs_i) over the layers
};
// Throws InvalidArgument for a profile without layers, or (sh_peak) when the
// transfer function has no peak below 20 times the quarter-wavelength estimate.
FundamentalFrequency fundamental_frequency(const Profile& profile, DampingLaw law = DampingLaw::VELMAR);

// A building code's site class from the profile's Vs30.
struct SiteClass {
  std::string label;        // "C", "BC", "E", ...
  std::string code;         // "asce7-16", "asce7-22", "ec8"
  double vs30 = 0.0;        // m/s
  std::string basis;        // the rule that decided the class, with its bounds
  std::string not_checked;  // the code's criteria that a Vs profile cannot tell
};
// Codes (case-insensitive): "asce7-16" (A > 1524, B (762, 1524], C (366, 762],
// D [183, 366], E < 183 m/s), "asce7-22" (A > 1524, B (914, 1524], BC (640, 914],
// C (442, 640], CD (305, 442], D (213, 305], DE (152, 213], E <= 152) and "ec8"
// (A > 800, B [360, 800], C [180, 360), D < 180, and E for a 5-20 m cover
// with time-averaged Vs below 360 over material everywhere above 800 m/s).
// Throws InvalidArgument naming `code` for another name.
SiteClass site_class(const Profile& profile, std::string_view code);

// Quarter-wavelength amplification (square-root impedance method): at each
// frequency f the depth z(f) whose vertical S travel time from the surface is
// 1 / (4 f), the average velocity z / travel time and the depth-averaged
// density over it, and A(f) = (rho_src Vs_src / (rho_avg V_avg))^eta
// exp(-pi kappa f).
struct QuarterWavelengthOptions {
  // The exponent: a fixed value (0.5 in the classic method), or, with
  // frequency_dependent_eta, the 2023 exponent as a function of
  // log10(f / f_bot), f_bot = 1 / (4 x travel time through the layers).
  double eta = 0.5;
  bool frequency_dependent_eta = false;
  double kappa = 0.0;                         // s, >= 0
  std::optional<double> source_vs;            // default: the half-space's
  std::optional<double> source_density;       // default: the half-space's
};
struct QuarterWavelength {
  std::vector<double> depth;          // z(f), m
  std::vector<double> velocity;       // z / travel time, m/s
  std::vector<double> density;        // depth average over z, t/m3
  std::vector<double> eta;            // the exponent used at each frequency
  std::vector<double> amplification;  // A(f)
};
// Throws InvalidArgument for a frequency not above 0 or not finite, eta not in
// (0, 2], kappa below 0, or a source velocity or density not above 0.
QuarterWavelength quarter_wavelength(const Profile& profile, std::span<const double> freqs,
                                     const QuarterWavelengthOptions& options = {});

// The 2023 frequency-dependent exponent at x = log10(f / f_bot).
double eta_ba23(double x);

// The layers' Vs (and kappa when fit_kappa) that make the quarter-wavelength
// amplification match `target` in the least-squares sense of log amplitudes,
// starting from `profile` and options.kappa (Levenberg-Marquardt, no
// regularisation). Thicknesses, densities, damping and the half-space are
// kept. Throws InvalidArgument for a profile without layers, lengths that
// differ, a target not above 0 or not finite, or fewer frequencies than
// unknowns.
struct QuarterWavelengthFit {
  Profile profile;
  double kappa = 0.0;
  double rms_log_misfit = 0.0;  // sqrt(mean (ln A - ln target)^2) at the end
  int iterations = 0;
};
QuarterWavelengthFit fit_quarter_wavelength(const Profile& profile, std::span<const double> freqs,
                                            std::span<const double> target,
                                            const QuarterWavelengthOptions& options = {},
                                            bool fit_kappa = false);

}  // namespace velmar
