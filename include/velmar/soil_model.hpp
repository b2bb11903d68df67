// soil_model.hpp: hysteretic shear stress-strain models of soil for
// nonlinear analysis in the time domain, and their fit to modulus-reduction
// and damping curves.
//
// Units: strain as a plain ratio (not percent), stresses and moduli in kPa,
// damping as a ratio.
//
// Backbones (tau = F(gamma), odd in gamma):
//   MKZ   tau = Gmax gamma / (1 + beta (|gamma| / gamma_r)^s), with the
//         reference strain depending on the mean effective stress,
//         gamma_r = gamma_ref (sigma'_m / p_a)^b (p_a = 101.325 kPa).
//   GQ/H  x = |gamma| / gamma_r, gamma_r = tau_max / Gmax,
//         theta = theta1 + theta2 theta4 x^theta5 / (theta3^theta5 + theta4 x^theta5),
//         tau / tau_max = [1 + x - sqrt((1 + x)^2 - 4 theta x)] / (2 theta);
//         tau_max is the shear strength, approached at large strain for
//         any theta <= 1 (theta4 = 1 in fits; theta may be negative, which
//         softens the backbone below the hyperbola tau_max x / (1 + x)).
// Unloading and reloading (extended Masing rules): from a reversal point
// (gamma_rev, tau_rev) the stress follows
//   tau = tau_rev + M(gamma - gamma_rev),
//   M(d) = R [2 F(d/2) - Gm d] + Gm d,
// where Gm = F(gamma_m) / gamma_m is the secant modulus at the largest strain
// gamma_m so far and R the reduction factor: R = 1 (MASING: plain Masing
// rule) or R = p1 - p2 (1 - Gm/Gmax)^p3 (MRDF, non-Masing). The linear term
// Gm d encloses no area, so the damping of a loop is R times its Masing
// damping; every branch still passes through the tip of the loop it closes.
// A branch that reaches the reversal point it started from closes its loop
// and the path continues on the branch it left (the inner loop closes on the
// outer one); past the largest strain so far the path is on the backbone.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "velmar/equivalent_linear.hpp"

namespace velmar {

enum class SoilModelKind { MKZ, GQH };
enum class UnloadRule { MASING, MRDF };

// "mkz" / "gqh" and "masing" / "mrdf" (lower case); InvalidArgument naming
// the accepted names otherwise.
SoilModelKind soil_model_kind_from_name(std::string_view name);
UnloadRule unload_rule_from_name(std::string_view name);
std::string soil_model_kind_name(SoilModelKind kind);
std::string unload_rule_name(UnloadRule rule);

// The strain range of a fit: 1e-6 to 1e-2 for a model curve (Darendeli,
// Menq, ...); a table's own strain range clipped to the same bounds.
constexpr double FIT_STRAIN_MIN = 1e-6;
constexpr double FIT_STRAIN_MAX = 1e-2;

// How a shear strength was obtained when none was given.
// CURVE_FLOOR: the curve's own stress at STRENGTH_FLOOR_STRAIN, where that
// exceeds the estimate.
enum class StrengthSource { GIVEN, MOHR_COULOMB, UNDRAINED_RATIO, NONE, CURVE_FLOOR };

// The strain up to which an estimated strength leaves the curve alone.
constexpr double STRENGTH_FLOOR_STRAIN = 3e-3;

struct SoilModel {
  SoilModelKind kind = SoilModelKind::GQH;
  UnloadRule unload = UnloadRule::MRDF;
  double gmax = 1.0;         // small-strain shear modulus, kPa
  double mean_stress = 1.0;  // mean effective stress of the fit, kPa

  // MKZ: reference strain at p_a (ratio), its pressure exponent b, and the
  // reference strain in use at mean_stress.
  double gamma_ref = 1e-3;
  double pressure_exponent = 0.0;
  double gamma_r = 1e-3;
  double beta = 1.0, s = 1.0;

  // GQ/H: shear strength (kPa) and the curvature parameters.
  double tau_max = 0.0;
  double theta1 = 0.0, theta2 = 0.0, theta3 = 1.0, theta4 = 1.0, theta5 = 1.0;
  StrengthSource strength_source = StrengthSource::NONE;

  // MRDF reduction factor (p1 = 1, p2 = 0 is Masing).
  double p1 = 1.0, p2 = 0.0, p3 = 1.0;

  // Small-strain damping ratio (the target curve's damping at the smallest
  // strain of the fit): for the viscous damping of a column.
  double dmin = 0.0;

  // The fit: its strain range, and the largest and root-mean-square
  // differences (model - target) of G/Gmax and of the damping ratio over 41
  // log-spaced strains of that range.
  double fit_strain_min = FIT_STRAIN_MIN, fit_strain_max = FIT_STRAIN_MAX;
  double g_ratio_error = 0.0, g_ratio_rms = 0.0;
  double damping_error = 0.0, damping_rms = 0.0;
};

// Refuses a model with parameters that are not finite or out of range
// (gmax, mean_stress, gamma_r, beta, tau_max, theta3..5 above 0; theta1
// and theta1 + theta2 at most 1; s in (0, 1] so the MKZ backbone rises;
// dmin in [0, 1); p3 above 0, p1 and p1 - p2 in [0, 2] so the MRDF factor
// stays in [0, 2]).
void check_soil_model(const SoilModel& model);

// Fits a model to `curve` at mean effective stress `mean_stress` (kPa) for a
// layer of small-strain modulus `gmax` (kPa): the backbone to G/Gmax, then
// (MRDF) p1, p2, p3 to the damping curve less dmin, over the fit range.
// `strength` (kPa, GQ/H only): none estimates it (estimate_strength with
// gmax: Mohr-Coulomb for granular curves, an undrained strength ratio for
// plastic clays, floored by the curve's stress at 0.3 %). Where the curve
// asks for more stress than the strength, the backbone is fitted to the
// strength instead (the reported errors are against the curve as given).
// MKZ: beta = 1, s in [0.3, 1], and the pressure exponent b is the slope of
// the curve's half-modulus strain with mean stress (between half and twice
// mean_stress; 0 for a table). GQ/H: theta4 = 1; of a form with theta
// rising with strain and one free to fall, the second is kept when it fits
// better, rises everywhere and reaches 95 % of the strength by 10 % strain.
// MRDF: p1, p2 by linear least squares at each p3 of a log grid (0.05 to
// 20), refined by golden section. Deterministic. Throws InvalidArgument for a bad
// curve, a gmax or stress not above 0 or not finite, a strength given to
// MKZ, a strength not above 0.
SoilModel fit_soil_model(const Curve& curve, double gmax, double mean_stress, SoilModelKind kind,
                         std::optional<double> strength, UnloadRule unload);

// The shear strength assumed when none is given (kPa), at mean effective
// stress sigma'_m (kPa); `source` receives how it was obtained.
//  - Granular soil (Menq, Darendeli of PI below 15 %, tables and other
//    curves): Mohr-Coulomb failure of a K0-consolidated element in simple
//    shear (Hardin and Drnevich 1972, no cohesion),
//    tau_f = sqrt[((1 + K0)/2 sigma'_v sin phi)^2 - ((1 - K0)/2 sigma'_v)^2],
//    phi = 33 degrees, and at least 0.2 sigma'_v.
//  - Darendeli of PI >= 15 %: undrained strength in simple shear
//    su = 0.22 sigma'_v OCR^0.8 (Ladd 1991).
//  sigma'_v = 3 sigma'_m / (1 + 2 K0), K0 of the curve (0.5 for a table).
double estimate_strength(const Curve& curve, double mean_stress, StrengthSource* source = nullptr);
// The same, and never below the stress the curve itself gives at
// STRENGTH_FLOOR_STRAIN (0.3 %) with modulus gmax (kPa): a layer whose
// small-strain modulus is high for its confinement (stiff ground near the
// surface) would otherwise fail at strains where its curve still holds.
// This is the strength fit_soil_model uses when none is given.
double estimate_strength(const Curve& curve, double gmax, double mean_stress,
                         StrengthSource* source = nullptr);

// Backbone stress F(strain) (kPa) and its slope dF/dstrain (kPa).
double backbone_stress(const SoilModel& model, double strain);
double backbone_tangent(const SoilModel& model, double strain);

// The MRDF reduction factor at largest strain gamma_m (1 for MASING).
double reduction_factor(const SoilModel& model, double gamma_m);

// The model's own curves at strain amplitude `strain`: G/Gmax of the
// backbone (secant), and the damping ratio of a symmetric loop of that
// amplitude (loop area / (4 pi x the strain energy) plus dmin).
double model_g_ratio(const SoilModel& model, double strain);
double model_damping(const SoilModel& model, double strain);
// The same loop damping without dmin and without the reduction factor.
double masing_damping(const SoilModel& model, double strain);

// The hysteretic state of one spring. Holds up to CAPACITY reversal points;
// deeper nesting (more than CAPACITY / 2 loops inside one another) forgets
// the innermost closed pair. No allocation after construction.
class SoilState {
 public:
  static constexpr std::size_t CAPACITY = 64;

  explicit SoilState(const SoilModel& model);

  // Advances the state to `strain` and returns the stress (kPa).
  double stress(double strain);
  // The stress (kPa) the state would reach at `strain`, without changing it;
  // `tangent` (if not null) receives dtau/dgamma there.
  double trial(double strain, double* tangent = nullptr) const;
  // Advances the state to `strain` (same path as trial).
  void commit(double strain);
  // dtau/dgamma at the current state, on the branch being followed.
  double tangent() const;
  // Back to zero strain and stress, no history.
  void reset();

  double strain() const { return strain_; }
  double current_stress() const { return stress_; }
  double max_strain() const { return gamma_m_; }
  std::size_t reversals() const { return depth_; }
  const SoilModel& model() const { return model_; }

 private:
  // Where a strain takes the state: the stress and slope there, the
  // reversal points kept, and the branch constants.
  struct Step {
    double stress = 0.0, tangent = 0.0;
    std::size_t keep = 0;  // committed reversal points kept
    bool pushed = false;   // the current point becomes a reversal point on top
    double gamma_m = 0.0, factor = 1.0, secant = 0.0;
    int direction = 0;
  };
  Step walk(double strain) const;
  double backbone(double strain, double* tangent) const;

  SoilModel model_;
  double inv_ref_ = 1.0;       // 1 / gamma_r (MKZ), gmax / tau_max (GQ/H)
  double theta3_power_ = 1.0;  // theta3^theta5 (GQ/H)
  double strain_ = 0.0, stress_ = 0.0;
  int direction_ = 0;      // sign of the last strain increment
  double gamma_m_ = 0.0;   // largest |strain| so far
  double factor_ = 1.0;    // reduction factor of the branches in use
  double secant_ = 0.0;    // Gm of the branches in use
  std::size_t depth_ = 0;  // reversal points held
  double rev_strain_[CAPACITY] = {};
  double rev_stress_[CAPACITY] = {};
  // The last trial, reused by a commit to the same strain.
  mutable Step last_trial_;
  mutable double last_trial_strain_ = 0.0;
  mutable bool has_trial_ = false;
};

// The stress history (kPa) of a spring driven through `strain` from rest.
std::vector<double> stress_history(const SoilModel& model, std::span<const double> strain);

}  // namespace velmar
