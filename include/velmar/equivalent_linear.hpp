// equivalent_linear.hpp: strain-compatible (equivalent-linear) site response
// of an SH wave: modulus-reduction and damping curves, and the iteration.
//
// Units: strain as a plain ratio (the curve models' percent is converted at
// their edge), stresses in kPa, density in t/m3 (unit weight = 9.81 x
// density kN/m3), depths in m.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "velmar/motion.hpp"

namespace velmar {

// Darendeli (2001): plasticity index PI (%), over-consolidation ratio, K0,
// loading frequency (Hz) and number of cycles.
struct Darendeli {
  double pi = 0.0, ocr = 1.0, k0 = 0.5, frequency = 1.0, cycles = 10.0;
};
// Menq (2003): uniformity coefficient Cu, mean grain size D50 (mm), K0, cycles.
struct Menq {
  double cu = 10.0, d50 = 5.0, k0 = 0.5, cycles = 10.0;
};
// A user table: strain (ratio, ascending, > 0), G/Gmax in (0, 1], damping
// ratio >= 0; interpolated linearly in log-strain, clamped outside.
struct CurveTable {
  std::vector<double> strain, g_ratio, damping;
};
// No curve: the layer keeps its modulus and the profile's own damping.
struct LinearLayer {};

using Curve = std::variant<LinearLayer, Darendeli, Menq, CurveTable>;

// G/Gmax and damping ratio of `curve` at `strain` (ratio) under mean
// effective stress `mean_stress` (kPa). For a CurveTable, `clamped` is set
// when the strain lies outside the table.
struct CurvePoint {
  double g_ratio = 1.0;
  double damping = 0.0;
  bool clamped = false;
};
CurvePoint evaluate_curve(const Curve& curve, double strain, double mean_stress);

struct EquivalentLinearOptions {
  std::vector<Curve> curves;                   // one per layer (not the half-space)
  std::optional<double> water_table;           // depth, m; none = dry
  double strain_ratio = 0.65;                  // effective / peak strain
  double tolerance = 0.01;                     // largest relative change of G and D
  int max_iterations = 15;
  double strain_limit = 0.1;                   // ratio: beyond it twice, the analysis stops
  DampingLaw law = DampingLaw::VELMAR;
  InputMotion input = InputMotion::OUTCROP;    // OUTCROP or WITHIN
  double input_depth = 0.0;
  double angle = 0.0;                          // SH incidence, degrees
  double scale = 1.0;
  std::optional<double> max_frequency;         // sublayering: off when empty
  double wavelength_fraction = 0.2;
};

struct EquivalentLinearResult {
  bool converged = false;
  int iterations = 0;
  std::vector<double> max_strain;    // per layer of the given profile, ratio
  std::vector<double> g_ratio;       // per layer
  std::vector<double> damping;       // per layer, ratio
  std::vector<double> mean_stress;   // per layer at mid-depth, kPa
  std::vector<double> change;        // largest relative change per iteration
  std::vector<std::string> warnings;
  Profile profile;                   // the strain-compatible profile (VP per the water table)
  DampingLaw law = DampingLaw::VELMAR;
};

// Runs the iteration (no allocation per frequency inside it). Throws
// InvalidArgument for bad input and a clear error when strains run away.
EquivalentLinearResult equivalent_linear(const Record& record, const Profile& profile,
                                         const EquivalentLinearOptions& options);

}  // namespace velmar
