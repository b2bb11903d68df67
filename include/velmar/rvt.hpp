// rvt.hpp: random vibration theory (RVT). A motion given as a Fourier
// amplitude spectrum and a duration; its expected peaks and response spectra
// from the spectrum's moments and a peak factor; motions from a seismological
// point source and from a target response spectrum.
//
// Units: frequencies in Hz, durations and periods in s, damping as a ratio
// (0.05 = 5 %). A Fourier amplitude spectrum ("fas") is in (units) x s, for
// an acceleration in any units (g x s from the source model); peaks and PSA
// come out in those units.
//
// Spectral moments m_k = 2 int (2 pi f)^k |A(f)|^2 df are integrated by the
// trapezoidal rule in f over the motion's own frequencies (nothing is added
// outside them), so a motion's grid must resolve what is integrated: the
// default grid (default_rvt_freqs) resolves a 5 %-damped oscillator's
// resonance to well within 0.5 % of PSA.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmar {

// The peak-factor methods:
//   V75   Vanmarcke (1975), in Der Kiureghian's (1980) form (the default)
//   CLH56 Cartwright and Longuet-Higgins (1956)
//   D64   Davenport (1964)
//   DK85  Der Kiureghian (1985)
//   TM87  Toro and McGuire (1987)
//   BJ84  Boore and Joyner (1984): CLH56 with their oscillator rms duration
//   LP99  Liu and Pezeshk (1999): CLH56 with their oscillator rms duration
//   BT12  Boore and Thompson (2012): CLH56 with a tabulated rms duration
//   BT15  Boore and Thompson (2015): V75 with a tabulated rms duration
//   WR18  Wang and Rathje (2018): BT15 plus site-resonance terms
// BT12, BT15 and WR18 need the motion's magnitude and distance.
enum class PeakMethod { V75, CLH56, D64, DK85, TM87, BJ84, LP99, BT12, BT15, WR18 };

// The method a name gives: "V75", "CLH56", "D64", "DK85", "TM87", "BJ84",
// "LP99", "BT12", "BT15", "WR18" (case ignored). Throws InvalidArgument for
// another name, listing those.
PeakMethod peak_method_from_name(std::string_view name);

// The canonical name of a method ("V75", ...).
std::string_view peak_method_name(PeakMethod method);

// True for the methods that need a magnitude and a distance (BT12, BT15, WR18).
bool peak_method_needs_scenario(PeakMethod method);

// The seismological region of the point-source parameters and of the
// Boore-Thompson coefficient tables: western North America (WNA) and
// central-eastern North America (CENA).
enum class Region { WNA, CENA };

// "wna" or "cena" (case ignored); throws InvalidArgument for another name.
Region region_from_name(std::string_view name);
std::string_view region_name(Region region);

// The resonance of a site, for the Wang-Rathje (2018) duration terms: the
// first three peak frequencies of the site's transfer function (Hz, rising;
// a missing mode as 0, after the modes found) and |TF| at the first.
struct SiteResonance {
  std::array<double, 3> freqs{};  // Hz
  double amplitude = 0.0;         // |TF(f1)|, > 0
};

// A motion for random vibration theory: a one-sided Fourier amplitude
// spectrum on rising frequencies > 0 and the ground-motion duration.
// magnitude and distance (km; the point-source distance for BT15 and WR18)
// are needed by BT12, BT15 and WR18 and ignored by the other methods. `site`
// is set on a motion at the top of a profile (fas = |TF| x input fas, same
// frequencies, duration and method): WR18 then adds the site-resonance terms
// to an oscillator's rms duration; without it WR18 is BT15.
struct RvtMotion {
  std::vector<double> freqs;  // Hz, rising, > 0
  std::vector<double> fas;    // (units) x s, >= 0, finite, same length as freqs
  double duration = 0.0;      // s, ground-motion duration, > 0
  PeakMethod method = PeakMethod::V75;
  std::optional<double> magnitude;
  std::optional<double> distance;  // km
  Region region = Region::WNA;
  std::optional<SiteResonance> site;
};

// The longest duration a motion may have, s, and the bounds of its
// frequencies, Hz.
constexpr double MAX_RVT_DURATION = 1e5;
constexpr double MIN_RVT_FREQ = 1e-4;
constexpr double MAX_RVT_FREQ = 1e5;

// Throws InvalidArgument naming the first fault: fewer than 2 frequencies,
// lengths that differ, a frequency not rising or outside [MIN_RVT_FREQ,
// MAX_RVT_FREQ], an amplitude negative, not finite or above 1e100, a
// spectrum whose largest amplitude is below 1e-200 (or zero everywhere), a
// duration outside (0, MAX_RVT_DURATION], a method needing magnitude and
// distance without them, a magnitude or distance outside the
// method's coefficient tables, a site resonance with no positive rising
// frequencies or a non-positive amplitude.
void check_rvt_motion(const RvtMotion& motion);

// Moments of a one-sided Fourier amplitude spectrum, m_k = 2 int (2 pi f)^k
// |A|^2 df (trapezoid in f on the given frequencies).
struct SpectralMoments {
  double m0 = 0.0, m1 = 0.0, m2 = 0.0, m4 = 0.0;
};

// The moments of `amplitude` on `freqs` (same lengths; not checked beyond
// that: callers check their motions).
SpectralMoments spectral_moments(std::span<const double> freqs, std::span<const double> amplitude);

// The oscillator whose response a peak is of (for the duration corrections).
struct Oscillator {
  double freq = 0.0;     // Hz, > 0
  double damping = 0.0;  // ratio, > 0
};

// A peak and how it was found.
struct RvtPeak {
  double peak = 0.0;         // expected peak, PF x x_rms
  double peak_factor = 0.0;  // PF
  double rms = 0.0;          // x_rms = sqrt(m0 / T_rms)
  double duration_rms = 0.0; // T_rms, s
  double crossings = 0.0;    // zero crossings in the ground-motion duration (floor 1.33)
};

// The peak factor and expected peak of a process with these moments under
// `motion`'s method, duration and scenario; `osc` the oscillator it is the
// response of (none: the motion itself, or a strain). Allocates nothing.
RvtPeak rvt_peak_from_moments(const RvtMotion& motion, const SpectralMoments& moments,
                              const std::optional<Oscillator>& osc = std::nullopt);

// The expected peak of a time series whose Fourier amplitude is `amplitude`
// on motion.freqs (same length), with motion's duration and method and no
// oscillator correction (a strain at a layer's middle, a motion at depth).
// Allocates nothing. The moments are taken of the spectrum scaled to a
// largest value of 1 (peaks are linear in it), so any size is handled; an
// amplitude whose largest value is below 1e-300 has peak 0. Throws
// InvalidArgument for a length that differs from
// motion.freqs or an amplitude negative or not finite. The motion itself is
// not re-checked (check it once with check_rvt_motion).
double rvt_peak(const RvtMotion& motion, std::span<const double> amplitude);

// The expected peak of the motion itself (PGA for an acceleration spectrum),
// in the units of its fas per s. Checks the motion.
double rvt_peak(const RvtMotion& motion);

// The expected peak velocity of an acceleration motion, in the units of its
// fas (g x s for g x s input: multiply by STANDARD_GRAVITY for m/s). Checks
// the motion.
double rvt_peak_velocity(const RvtMotion& motion);

// Pseudo-spectral acceleration, in the units of the fas per s, of 1-dof
// oscillators at `periods` (s, > 0, any order) with `damping` (0 < damping <
// 1), each with the method's oscillator duration correction. Checks the
// motion. Throws InvalidArgument for a bad period or damping.
std::vector<double> rvt_response_spectrum(const RvtMotion& motion, std::span<const double> periods,
                                          double damping = 0.05);

// The same into `psa` (periods.size() values); allocates nothing.
void rvt_response_spectrum(const RvtMotion& motion, std::span<const double> periods, double damping,
                           std::span<double> psa);

// ---------------------------------------------------------------------------
// Motions

// The default frequencies of a source-theory motion: 800 log-spaced values
// from 0.005 Hz to 300 Hz (about 167 a decade). The ends reach the content
// that PGV of a great earthquake (low end) and PGA and the 0.01 s PSA of a
// low-kappa central-eastern motion (high end) owe to them: against a grid
// of 20 000 values from 0.001 to 1000 Hz, PGA, PGV and PSA from 0.01 to
// 10 s agree within 0.1 % for M 4-8 at 5-100 km in both regions.
std::vector<double> default_rvt_freqs();

// A single-corner (Brune) point source seen at distance `distance` (km,
// epicentral) from a source at depth `depth` (km), with Campbell's (2003)
// regional parameters; a parameter left unset takes the region's value.
struct SourceTheoryParams {
  double magnitude = 6.5;  // moment magnitude
  double distance = 20.0;  // km, epicentral
  double depth = 8.0;      // km
  Region region = Region::WNA;
  std::optional<double> stress_drop;     // bar
  std::optional<double> kappa;           // s
  std::optional<double> shear_velocity;  // km/s, at the source
  std::optional<double> density;         // g/cm3, at the source
  PeakMethod method = PeakMethod::V75;
};

// The acceleration Fourier amplitude spectrum (g x s) of the point source on
// `freqs` (default_rvt_freqs() when empty), its duration 1/fc plus the
// region's path term, and the hypocentral distance as the motion's distance.
// Crustal amplification is interpolated linearly in frequency (held at its
// end values outside the table). Throws InvalidArgument for a magnitude
// outside [2, 9.5], a distance < 0 or > 2000 km, a depth < 0 or > 100 km,
// a non-positive stress drop, kappa < 0, and bad frequencies.
RvtMotion source_theory_motion(const SourceTheoryParams& params, std::span<const double> freqs = {});

// The corner frequency, Hz, and duration, s, of the point source (for checks
// and plots).
struct SourceTheoryInfo {
  double corner_freq = 0.0;
  double duration = 0.0;
  double hypo_distance = 0.0;  // km
  double stress_drop = 0.0;    // bar
  double kappa = 0.0;          // s
};
SourceTheoryInfo source_theory_info(const SourceTheoryParams& params);

// A user spectrum from a text file: two columns, frequency (Hz) and Fourier
// amplitude, one pair a line; blank lines and lines starting with '#' are
// skipped. Throws FileError naming the file and line for a line that is not
// two numbers or a file that cannot be read, and InvalidArgument (via
// check_rvt_motion) for values the motion refuses.
RvtMotion read_rvt_spectrum(const std::string& path, double duration, PeakMethod method = PeakMethod::V75);

// How a motion compatible with a target response spectrum is sought.
struct CompatibleOptions {
  double damping = 0.05;
  PeakMethod method = PeakMethod::V75;
  std::optional<double> magnitude;
  std::optional<double> distance;  // km
  Region region = Region::WNA;
  int max_iterations = 30;
  double tolerance = 0.005;   // stop when the largest |computed / target - 1| is below this
  double max_misfit = 0.05;   // refuse a result whose largest misfit is above this
  std::vector<double> freqs;  // the motion's frequencies; empty: chosen from the periods
};

// A motion compatible with a target spectrum and how well it fits.
struct CompatibleResult {
  RvtMotion motion;
  int iterations = 0;
  double misfit = 0.0;  // largest |computed / target - 1| over the target periods
};

// The spectrum whose RVT response spectrum matches `psa` at `periods` (s,
// > 0, distinct): a start by Gasparini and Vanmarcke (1976), then the
// spectrum multiplied by target / computed (interpolated in ln f,
// extrapolated log-log at the ends) until the largest misfit is below the
// tolerance. Throws InvalidArgument for bad input and for a fit whose
// misfit stays above max_misfit (naming the misfit and the period).
CompatibleResult compatible_rvt_motion(std::span<const double> periods, std::span<const double> psa,
                                       double duration, const CompatibleOptions& options = {});

}  // namespace velmar
