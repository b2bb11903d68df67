// rvt_site.hpp: site response by random vibration theory. A motion given as
// a Fourier amplitude spectrum and a duration (rvt.hpp) through a layered
// profile: linear (SH or P-SV, any depth) and strain-compatible
// (equivalent-linear, SH) with peak strains from the spectral moments.
//
// Units: an RvtMotion's fas is an acceleration spectrum in (units) x s;
// where the analysis needs SI (strains) it is multiplied by `to_si`, m/s2
// per unit (STANDARD_GRAVITY, the default, for g x s: the units of a
// source-theory motion). Frequencies in Hz, depths in m.
// Transfer functions follow response.hpp (per unit incident displacement;
// an outcrop input is twice the incident wave; a "within" input is divided
// by the response at its depth, with the floor WITHIN_FLOOR on |H|^2).
#pragma once

#include <span>
#include <vector>

#include "velmar/equivalent_linear.hpp"
#include "velmar/motion.hpp"
#include "velmar/rvt.hpp"

namespace velmar {

// The motion at options.depth when `motion` (times options.scale) is the
// input motion observed as options.input says: the same frequencies,
// duration, method and scenario, fas = |H(depth) c| x fas, H the transfer
// function of options.setup's wave and component (options.component;
// default the wave's own) and c the input factor (1/2 outcrop, 1 incident,
// conj(H_in)/max(|H_in|^2, WITHIN_FLOOR) within). `site` holds the
// resonance of |H(depth) c| (site_resonance), so that the Wang-Rathje
// method sees the site. options.quantity must be ACCELERATION (the motion
// is an acceleration spectrum). Throws InvalidArgument for a bad motion
// (check_rvt_motion), depth, angle, scale or component, P-SV on a profile
// without P velocities, and another quantity.
RvtMotion rvt_propagate(const RvtMotion& motion, const Profile& profile, const PropagateOptions& options);

// The modulus |H(depth) c| of the transfer function rvt_propagate applies,
// at motion.freqs (the same checks).
std::vector<double> rvt_amplification(const RvtMotion& motion, const Profile& profile,
                                      const PropagateOptions& options);

// The first three peaks (local maxima, rising in frequency) of a transfer
// function's modulus `tf` on `freqs`, each refined by a parabola through
// the three points about it in ln f, and |TF| at the first. Modes not found
// are 0 (after those found). Throws InvalidArgument when the lengths differ
// or no peak lies inside the grid (a transfer function rising or falling
// throughout).
SiteResonance site_resonance(std::span<const double> freqs, std::span<const double> tf);

// Expected peak SH shear strain (ratio) at each of `depths` (m, >= 0) of
// `profile` under `motion` (times options.scale and to_si) observed as
// options.input says: the strain transfer function times the input's
// displacement spectrum, its moments and the motion's peak factor (no
// oscillator correction). options.setup.wave must be SH; options.depth and
// options.quantity are not used. In the half-space the strain is computed
// as anywhere else.
std::vector<double> rvt_peak_strains(const RvtMotion& motion, const Profile& profile,
                                     const PropagateOptions& options, std::span<const double> depths,
                                     double to_si = STANDARD_GRAVITY);

// The strain-compatible iteration driven by random vibration theory: the
// same options, curves, mean stresses, damping laws, sublayering,
// convergence test, strain limit and warnings as equivalent_linear on a
// record (equivalent_linear.hpp), with each pass's peak strain at the
// middle of every (sub)layer the RVT peak (rvt_peak: the motion's duration
// and peak factor, no oscillator correction) of |S_j(f)| |Y(f)|, S_j the
// strain transfer function per unit incident displacement and Y the input's
// displacement spectrum: fas x scale x to_si / (2 pi f)^2 times
// the input factor (1/2 outcrop, 1 incident, 1/|H(input_depth)| within,
// with the floor on |H|^2). The motion at a depth of the result is
// rvt_propagate(motion, result.profile, ...) with the same input, angle,
// law and scale. Passes allocate nothing. Throws as equivalent_linear does,
// and InvalidArgument for a motion check_rvt_motion refuses or a to_si not
// finite and above 0.
EquivalentLinearResult equivalent_linear(const RvtMotion& motion, const Profile& profile,
                                         const EquivalentLinearOptions& options, double to_si = STANDARD_GRAVITY);

}  // namespace velmar
