// measures.hpp: what engineers read off a motion: response spectra, Fourier
// spectra and their smoothing, intensity measures, peaks with depth.
//
// Units: accelerations in the record's own units unless stated; periods in
// s; frequencies in Hz; damping as a ratio (0.05 = 5 %).
#pragma once

#include <span>
#include <vector>

#include "velmar/interrupt.hpp"
#include "velmar/motion.hpp"

namespace velmar {

// Peak responses of damped single-degree-of-freedom oscillators.
struct ResponseSpectrum {
  std::vector<double> periods;  // s
  double damping = 0.05;
  std::vector<double> sd;   // peak relative displacement, (record units) x s^2
  std::vector<double> psv;  // omega SD, (record units) x s
  std::vector<double> psa;  // omega^2 SD, record units
};

// The default period list: 100 periods log-spaced from 0.01 s to 10 s.
std::vector<double> default_periods();

// SD, PSV and PSA of `accel` (sampled every dt) for every period, with the
// exact recursion for a record linear between samples, the oscillator at
// rest at the start, the peak over the record's samples; with
// free_vibration > 0 the record is followed by that many seconds of zeros
// first. Any record size is handled (the work is done on the record scaled
// to a peak near 1, the results scaled back); states below 1e-200 of that
// peak are set to 0, which moves no result, so that a record ending in
// silence runs as fast as any other.
//
// Throws InvalidArgument for an empty record, a non-finite sample, dt <= 0,
// no period, a period <= 0 or below 1e-9 dt (an oscillator that stiff
// follows the ground: its PSA is the PGA), damping outside [0, 1), a
// free_vibration < 0 or longer than the longer of the record's duration
// N dt and ten times the longest period (and than 1e7 dt when that is
// longer than N dt: a damped oscillator's free vibration is highest within
// half a period of the record's end), and a result above the largest
// double. `interrupt` is polled every few milliseconds of work; when it asks
// to stop the call throws Interrupted.
ResponseSpectrum response_spectrum(std::span<const double> accel, double dt, std::span<const double> periods,
                                   double damping = 0.05, double free_vibration = 0.0,
                                   const InterruptCheck& interrupt = {});

// Fourier amplitude spectrum |X(f)| dt of a record at f = k / (N dt),
// k = 0 .. N/2 (the record not padded); frequencies to `freqs`. Throws
// InvalidArgument for the records response_spectrum refuses, and for an
// amplitude or frequency above the largest double.
std::vector<double> fourier_amplitude(std::span<const double> accel, double dt, std::vector<double>& freqs);

// Konno-Ohmachi smoothing of `amplitude` (given at `freqs`, ascending) onto
// `centres` (Hz > 0), window [sin(b log10(f/fc)) / (b log10(f/fc))]^4, for
// amplitudes of any size. Throws InvalidArgument for lengths that differ,
// non-finite values, frequencies not rising, a centre with no frequency in
// its window, b <= 0 or so large that b log10(f) is above the largest double.
std::vector<double> konno_ohmachi(std::span<const double> freqs, std::span<const double> amplitude,
                                  std::span<const double> centres, double b = 40.0);

struct IntensityMeasures {
  double pga = 0.0;  // record units
  double pgv = 0.0;  // m/s
  double pgd = 0.0;  // m
  double arias = 0.0;  // m/s (final value of the Arias intensity)
  double d5_95 = 0.0;  // s, significant duration
  double cav = 0.0;    // m/s, cumulative absolute velocity
};

// Cumulative Arias intensity pi/(2g) int a^2 dt, m/s, at every sample
// (trapezoidal rule over the samples, 0 at the first). Throws
// InvalidArgument for a record check_record refuses and for an intensity
// above the largest double.
std::vector<double> arias_intensity(const Record& record);

// The time, s, between the instants at which a rising cumulative history
// (Arias intensity, sampled every dt) first reaches the fractions `from`
// and `to` of its final value, linear between samples: D5-95 with the
// defaults. 0 for a history whose final value is 0. Throws InvalidArgument
// for an empty history, a non-finite value, dt <= 0 or fractions outside
// 0 <= from < to <= 1; does not check that the history rises.
double significant_duration(std::span<const double> cumulative, double dt, double from = 0.05,
                            double to = 0.95);

// The same for the Arias intensity of a record, for a record of any size
// (the intensity itself may underflow or overflow a double; its fractions
// do not). 0 for a record of zeros.
double significant_duration(const Record& record, double from = 0.05, double to = 0.95);

// Cumulative absolute velocity int |a| dt, m/s, by the trapezoidal rule.
// Throws InvalidArgument for a record check_record refuses and for a value
// above the largest double.
double cumulative_absolute_velocity(const Record& record);

// PGA (record units, peak |a| over the samples); PGV and PGD from velocity
// and displacement integrated in the frequency domain (the record padded
// with zeros as propagate pads it, to 2^k or 3 2^k samples, at least twice
// its length, the spectrum
// divided by -i w and -w^2, the zero-frequency term dropped: each history
// has zero mean over the padded window, no baseline drift); Arias intensity
// and CAV int |a| dt by the trapezoidal rule; D5-95 from the Arias history.
// Throws InvalidArgument for a record check_record refuses and for a measure
// above the largest double (the Arias intensity of a record above ~1e150 m/s2).
IntensityMeasures intensity_measures(const Record& record);

// Peaks with depth for a record propagated through a profile (SH): at the
// middle of every layer and at every interface (surface included), depths
// rising: 0, middle of layer 0, top of layer 1, ..., top of the half-space.
// The record's spectrum (over the same padded window as propagate) is
// carried to every depth; options.setup, input, input_depth and scale are
// used, depth, quantity and component are not. Strain at an interface is
// that of the medium below it (stress is continuous there). Throws
// InvalidArgument for a P or SV wave and for what propagate refuses.
struct PeakProfile {
  std::vector<double> depth;     // m
  std::vector<double> accel;     // record units
  std::vector<double> strain;    // ratio
  std::vector<double> stress;    // kPa
};
PeakProfile peak_profile(const Record& record, const Profile& profile, const PropagateOptions& options);

}  // namespace velmar
