// nonlinear.hpp: nonlinear site response of a soil column in the time domain.
//
// The column. Every layer is cut into an odd number of equal sublayers no
// thicker than Vs / (4 max_frequency), so a quarter wavelength at
// max_frequency spans a sublayer at least (an odd count puts a sublayer's
// middle at the layer's middle, where strains and stresses are reported).
// The mass of every sublayer is a mix of its lumped and its consistent mass,
// rho h [1/2 - a/6, a/6; a/6, 1/2 - a/6] with a = min(1.25, 1/2 + C^2), C =
// Vs dt / h the sublayer's Courant number at the sub-step dt: a = 1/2 cancels
// the second-order dispersion of the sublayers (a lumped mass alone slows a
// wave by (k h)^2 / 24, 10 % at a quarter wavelength) and C^2 the period
// elongation of the integration, so the column's modes stay within about
// 1 % up to max_frequency (the mass matrix stays tridiagonal). Each
// sublayer is a shear spring whose stress follows the layer's soil model
// (soil_model.hpp, fitted to the layer's curve at its mean effective stress;
// every sublayer of a layer shares the fit) plus its small-strain (viscous)
// damping. Units: m, t/m3, s, kPa; energies in kJ per m2 of column.
//
// The base.
//   ELASTIC (Joyner and Chen): the half-space below the column is a dashpot
//     of rho_r Vs_r per unit area on the lowest node, loaded by the force
//     rho_r Vs_r v_outcrop(t) (= 2 rho_r Vs_r v_incident). The record is an
//     OUTCROP motion (or the INCIDENT wave, force 2 rho_r Vs_r v). Solved in
//     absolute displacements; the energy the dashpot takes back into the
//     half-space is the "radiation" energy.
//   RIGID: the record (a WITHIN input) is the total motion of the column's
//     base, which lies at input_depth (0 means the top of the half-space): a
//     column cut there (a warning when it cuts a layer, another when layers
//     below are left out), or extended below the half-space's top with the
//     half-space's own material (linear, its profile damping). Solved in
//     displacements relative to the base, loaded by -M 1 a_base.
//
// Time integration: Newmark's average acceleration (gamma = 1/2, beta = 1/4),
// implicit, with full Newton iterations on the column's tridiagonal
// tangent (one tridiagonal solve per iteration, every work array sized before
// the first step: nothing allocates in the time loop). It is unconditionally
// stable for the linear system, conserves energy exactly for a linear
// undamped column (so the energy balance checks the implementation) and adds
// no numerical damping; its only error is a period elongation of about
// (w dt)^2 / 12, which the mass mix above cancels. Sub-steps: every record
// step dt is cut into ceil(8 max_frequency dt) equal sub-steps, at most
// 1 / (8 max_frequency) each (a 200 Hz record at the default 25 Hz needs
// none; a 100 Hz one two), the input at the sub-steps the record's
// band-limited (DFT) interpolant, as the frequency-domain analyses read a
// record (linear interpolation would filter it by sinc^2(f dt): -5 % at
// 12 Hz for a 100 Hz record). A step whose iterations do not
// reach the tolerance in max_iterations, a non-finite state, or a strain
// beyond strain_limit stops the analysis with AnalysisError naming the time,
// the layer and what to change: never a NaN in a result.
//
// Small-strain damping (xi per layer: the fitted model's dmin for a layer
// with a curve, the profile's damping for a linear layer; both taken as
// they are, on top of the hysteretic damping of the model, which is zero at
// small strain):
//   FREQUENCY_INDEPENDENT: constant damping over the band [f_lo, f_hi],
//     f_hi = the record's Nyquist frequency, at least max_frequency and at
//     most 2 max_frequency (the column passes content to about 2.5
//     max_frequency), and f_lo = f_site / 2 (f_site = 1 / (4 sum h/Vs), the
//     column's fundamental frequency), at most max_frequency / 8.
//     Each spring carries relaxation (Maxwell) elements in parallel, 1 +
//     ceil(log10(f_hi / f_lo)) of them (2 to NONLINEAR_MECHANISMS), their
//     relaxation frequencies spaced evenly in log over the band and their
//     stiffnesses (all positive) fitted by least squares so the loss factor
//     Im G*/Re G* is 2 xi over the band (within about 5 % for bands up to
//     1000 wide): this is a damping of the same aim as the
//     frequency-independent damping matrix of Phillips and Hashash (2009)
//     (every mode damped at xi) that keeps the tangent tridiagonal and the
//     response causal. Causal damping that is constant over a band stiffens
//     the spring slightly with frequency (by about 2 xi (2/pi) ln(f2/f1)
//     between f1 and f2); the soil spring is scaled down by that stiffening
//     at the band's geometric middle, so the column's modulus there is Gmax
//     (the soil's strength is scaled by the same factor, 1 - O(2 xi)).
//     Each element is integrated with the trapezoidal rule, as Newmark is.
//   RAYLEIGH: C = a0 M + a1 K0 (K0 the small-strain stiffness), with
//     xi(f) = a0 / (4 pi f) + a1 pi f: xi at two frequencies f1 < f2 (a0 =
//     4 pi xi f1 f2 / (f1 + f2), a1 = xi / (pi (f1 + f2))), or at one (a0 =
//     2 pi f xi, a1 = xi / (2 pi f): xi there and more on either side). The
//     common choice, used when none is given: the column's fundamental
//     frequency f_site and 5 f_site. Damping is above xi outside [f1, f2]
//     and below it between them. The mass term acts on absolute velocities
//     over an elastic base (it damps slow rigid motion a little) and on
//     relative ones over a rigid base.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "velmar/equivalent_linear.hpp"
#include "velmar/interrupt.hpp"
#include "velmar/measures.hpp"
#include "velmar/motion.hpp"
#include "velmar/soil_model.hpp"

namespace velmar {

enum class ViscousDamping { FREQUENCY_INDEPENDENT, RAYLEIGH };
enum class ColumnBase { ELASTIC, RIGID };

// "frequency_independent" / "rayleigh"; "elastic" / "rigid" (case-
// insensitive); InvalidArgument otherwise.
ViscousDamping viscous_damping_from_name(std::string_view name);
ColumnBase column_base_from_name(std::string_view name);

// Relaxation elements of the frequency-independent damping, per spring.
constexpr std::size_t NONLINEAR_MECHANISMS = 5;

struct NonlinearOptions {
  // One per layer above the half-space, or one for every layer. A
  // LinearLayer stays elastic at Gmax with the profile's damping.
  std::vector<Curve> curves;
  std::optional<double> water_table;  // m, >= 0; none = dry
  SoilModelKind model = SoilModelKind::GQH;
  UnloadRule unload = UnloadRule::MRDF;
  // Shear strength per layer (kPa, > 0; GQ/H): empty, one for every layer, or
  // one per layer; an empty optional lets fit_soil_model estimate it.
  std::vector<std::optional<double>> strength;
  // Fitted models, one per layer (checked with check_soil_model), used
  // instead of fitting the curves (which still give K0 and the mean stress
  // reported): fit once, run many records. Empty: fit_soil_model per layer.
  // A LinearLayer's entry is ignored.
  std::vector<SoilModel> models;
  ViscousDamping viscous = ViscousDamping::FREQUENCY_INDEPENDENT;
  // RAYLEIGH: one or two frequencies, Hz, > 0; empty: f_site and 5 f_site.
  std::vector<double> rayleigh_frequencies;
  ColumnBase base = ColumnBase::ELASTIC;
  InputMotion input = InputMotion::OUTCROP;  // OUTCROP or INCIDENT (ELASTIC); WITHIN (RIGID)
  double input_depth = 0.0;                  // m, >= 0, WITHIN only; 0: the half-space's top
  double scale = 1.0;                        // multiplies the record, finite
  double max_frequency = 25.0;               // Hz, in [1, 200]
  double strain_limit = 0.1;                 // ratio, > 0: a strain beyond it stops the analysis
  int max_iterations = 30;                   // Newton iterations per sub-step, >= 2
  double tolerance = 1e-9;                   // residual / force scale, (0, 1e-3]
  bool linear = false;  // every layer elastic at Gmax with its small-strain damping (a weak-motion check)
  InterruptCheck interrupt;  // polled every 500 record steps
};

// Throws InvalidArgument naming the option and value for options outside
// the ranges above, a base and input that do not go together (ELASTIC with
// WITHIN, RIGID without WITHIN), an input depth other than 0 without WITHIN.
void check_nonlinear_options(const NonlinearOptions& options);

// Work done on the column and where it went, kJ/m2 at the record's end:
// input = kinetic + strain + viscous + hysteretic + radiation, up to
// balance_error (the largest |imbalance| over the record divided by the
// largest |input| energy). strain: the energy the springs and damping
// elements would give back on unloading (tau^2 / (2 G) per spring);
// hysteretic: the rest of the springs' work.
struct NonlinearEnergy {
  double input = 0.0, kinetic = 0.0, strain = 0.0, viscous = 0.0, hysteretic = 0.0, radiation = 0.0;
  double balance_error = 0.0;
};

struct NonlinearResult {
  std::size_t samples = 0;  // the record's
  double dt = 0.0;          // s, the record's
  std::string units;        // the record's acceleration units
  // Column nodes top down (surface 0 .. base), m, and the histories at
  // them, sample-major (node k, sample n at n * nodes + k): total
  // acceleration in the record's units, velocity m/s, displacement m.
  std::vector<double> node_depth;
  std::vector<double> accel, velocity, displacement;
  // Per layer reported (the given layers down to the column's base; a layer
  // cut by a within input's depth is reported over its part in the column):
  std::vector<double> layer_depth;       // m, the middle of the layer's part in the column
  std::vector<std::size_t> sublayers;    // sublayers of the layer
  std::vector<double> strain, stress;    // histories at the middle, sample-major (n * layers + r; ratio, kPa)
  std::vector<double> max_strain;        // |strain| peak, ratio
  std::vector<double> max_stress;        // kPa
  std::vector<double> max_stress_ratio;  // max |tau| / sigma'_v
  std::vector<double> vertical_stress, mean_stress;  // sigma'_v, sigma'_m at the middle, kPa
  std::vector<double> gmax;              // rho Vs^2, kPa
  std::vector<double> small_strain_damping;  // xi of the viscous damping
  std::vector<SoilModel> models;         // the fitted model (empty entries' kind irrelevant for linear layers)
  std::vector<bool> linear;              // the layer stayed elastic (LinearLayer, or options.linear)
  // Peak total acceleration at each reported layer's top and at the base
  // (record units), at depths accel_depth.
  std::vector<double> accel_depth, max_accel;
  double site_frequency = 0.0;              // Hz, 1 / (4 sum h / Vs) of the column
  std::vector<double> damping_frequencies;  // Hz: Rayleigh's f1 (, f2) or the band's f_lo, f_hi
  std::size_t steps = 0, substeps = 0;      // record steps, sub-steps per step
  long long iterations = 0;                 // Newton iterations in all
  int max_step_iterations = 0;              // most in one sub-step
  NonlinearEnergy energy;
  std::vector<std::string> warnings;
};

// Runs the analysis (see the top of this file). Throws InvalidArgument for
// a bad record, profile, curve (named by its layer) or option, or a column
// that would need more than MAX_SUBLAYERS sublayers or more than
// MAX_STRAIN_SPECTRUM_VALUES stored history values; AnalysisError when the
// integration cannot go on (no convergence, strain beyond the limit);
// Interrupted when options.interrupt asks to stop.
NonlinearResult nonlinear(const Record& record, const Profile& profile, const NonlinearOptions& options);

}  // namespace velmar
