// eql_steps.hpp: the steps of the strain-compatible iteration that every
// driver shares (a record's, and a Fourier spectrum's by random vibration
// theory): the sublayers, the medium of a pass, the peaks taken in, the
// properties read off the curves, the convergence test, the warnings and the
// result. Defined in equivalent_linear.cpp; the drivers differ only in how a
// pass turns the medium into peak strains.
#pragma once

#include <vector>

#include "site/sh_response.hpp"
#include "velmar/equivalent_linear.hpp"

namespace velmar::detail::eql {

// One (sub)layer of the iteration: a given layer whole, or an equal part of it.
struct Sublayer {
  std::size_t parent;
  double top, thickness;
  double density, vs0, xi0;  // the given layer's density, velocity, damping
  double sigma_m;            // mean effective stress at the middle, kPa
  double g = 1.0, d = 0.0;
  double peak = 0.0;
  double d_shift = 0.0;  // added to the curve's damping (a small-strain damping override)
  double at = 0.0;       // the peak strain g and d were read at (peak, or the accelerated update's)
};

// The options and the curves checked against the profile, and the sublayers
// at the low-strain properties (cut where max_frequency asks for it).
std::vector<Sublayer> start(const Profile& profile, const EquivalentLinearOptions& o);

// Refuses M (sub)layers x nf frequencies of strain spectra beyond
// MAX_STRAIN_SPECTRUM_VALUES: InvalidArgument when `first`, else AnalysisError.
void check_spectrum_size(std::size_t M, std::size_t nf, bool first);

// The largest damping ratio the law accepts.
double damping_ceiling(DampingLaw law);

// The half-space's complex modulus and slowness (the same in every pass).
struct HalfSpace {
  cdouble modulus, slowness;
};
HalfSpace half_space(const Profile& p, DampingLaw law);

// The medium of a pass from the sublayers' current G/Gmax and damping, and
// the depth of every sublayer's middle.
void build_medium(const std::vector<Sublayer>& sub, const HalfSpace& half, DampingLaw law, ShMedium& medium,
                  std::vector<double>& depths);

// Takes a pass's peak strains into the sublayers and the strain history;
// throws AnalysisError for a peak that is not finite and for strains beyond
// the limit in two successive passes (over_limit counts them).
void take_peaks(const std::vector<double>& peaks, int pass, const EquivalentLinearOptions& o,
                std::vector<Sublayer>& sub, int& over_limit, std::vector<double>& history, std::size_t N);

// New G/Gmax and damping from the curves at ratio x peak; returns the largest
// relative change. `clamped` marks layers read outside their table.
double update_properties(std::vector<Sublayer>& sub, const EquivalentLinearOptions& o, double ratio, double ceiling,
                         std::vector<char>& clamped);

// Re-cuts the sublayers for the new velocities; true when nothing was re-cut
// and the change is below the tolerance.
bool converged(std::vector<Sublayer>& sub, const Profile& profile, const EquivalentLinearOptions& o, double change);

// The warnings of a finished iteration.
void add_warnings(EquivalentLinearResult& r, const std::vector<char>& clamped, const EquivalentLinearOptions& o);

// The result per given layer and the strain-compatible profile.
void assemble_result(EquivalentLinearResult& r, const std::vector<Sublayer>& sub, const Profile& profile,
                     const EquivalentLinearOptions& o);

}  // namespace velmar::detail::eql
