// randomize.hpp: randomised profiles about a base case (Toro 1995 layering
// and velocity models) and random variation of modulus-reduction and damping
// curves, each realisation a pure function of (seed, realisation index).
//
// Glossary:
//   seed, index  a realisation is fixed by these two numbers alone, so a
//                batch gives the same numbers however it is split
//   Lambda(z)    expected number of layer boundaries above depth z (m):
//                c3/(c2+1) [(z + c1)^(c2+1) - c1^(c2+1)]
//   Z_i          standard normal deviate of layer i, correlated with the
//                layer above: Z_i = rho_i Z_(i-1) + sqrt(1 - rho_i^2) e_i
//   rho_i        interlayer correlation (1 - rho_d(z)) rho_t(t) + rho_d(z),
//                z the mean of the two mid-depths (m), t their distance (m)
//   sigma_ln     standard deviation of ln Vs
//   k, s(k)      truncation of every deviate at +-k (in units of its own
//                standard deviation) and the scale 1/sd of a standard normal
//                truncated at +-k; s(2) = 1.1368. A truncated deviate is
//                multiplied by s(k) so that it keeps unit variance: its
//                values lie within +-k s(k).
//   eps_g, eps_d standard deviates of a layer's G/Gmax and damping curves,
//                correlated with rho_gd
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "velmar/profile.hpp"

namespace velmar {

// Parameters of the correlated ln Vs model.
struct VelocityModel {
  double sigma_ln = 0.0;  // standard deviation of ln Vs
  double rho_0 = 0.0;     // correlation of adjacent layers at zero distance
  double delta = 1.0;     // m, decay distance of the distance term
  double rho_200 = 0.0;   // depth term at and below 200 m
  double z_0 = 0.0;       // m, depth offset of the depth term
  double b = 0.0;         // exponent of the depth term
};

// The generic site classes: "Geomatrix AB", "Geomatrix CD", "USGS AB",
// "USGS CD", "USGS A", "USGS B", "USGS C", "USGS D" (case and spacing as
// written; "USGS C" is also accepted as "usgs c"). Throws InvalidArgument
// naming the value and the known names otherwise.
VelocityModel velocity_model(std::string_view name);
// The names velocity_model accepts, in table order.
std::vector<std::string> velocity_model_names();

// The rate of layer boundaries lambda(z) = c3 (z + c1)^c2 (per m).
struct LayeringModel {
  double c1 = 10.86, c2 = -0.89, c3 = 1.98;
};

// Variation of modulus-reduction and damping curves about their means:
// G/Gmax + eps_g sd_g(G/Gmax) and D + eps_d sd_d(D) (D in percent), with
// sd_g(g) = exp(-4.23) + sqrt(0.25/exp(3.62) - (g - 0.5)^2/exp(3.62)) and
// sd_d(D) = exp(-5) + exp(-0.25) sqrt(D).
struct CurveVariation {
  double rho_gd = -0.5;  // correlation of eps_g and eps_d
};

// Limits of the options: the smallest truncation other than 0 (below it
// the truncated normal is all but uniform and s(k) loses its digits), the
// largest standard deviation of ln Vs and of ln(half-space depth) (a factor
// of e^2 = 7.4 per standard deviation), and the largest expected number of
// layer boundaries above the half-space, Lambda(H).
constexpr double MIN_TRUNCATION = 0.1;
constexpr double MAX_SIGMA_LN = 2.0;
constexpr double MAX_EXPECTED_BOUNDARIES = 10000.0;

struct RandomizeOptions {
  std::optional<VelocityModel> velocity;  // none: the base velocities are kept
  std::optional<LayeringModel> layering;  // none: the base layers are kept
  // k: deviates truncated at +-k, then scaled by s(k); 0 = no truncation,
  // else at least MIN_TRUNCATION.
  double truncation = 2.0;
  // Standard deviation of ln(half-space depth), 0 to MAX_SIGMA_LN; 0 keeps
  // the base depth. The deviate is truncated and scaled as the velocities are.
  double halfspace_sigma_ln = 0.0;
  std::optional<CurveVariation> curves;   // none: no curve deviates are drawn
};

// Refuses options realise cannot use on `base`: a base profile without
// layers; a truncation, a sigma or a correlation outside its range; a
// layering model with c1 or c3 not above 0, c2 of -1 or not finite, or whose
// expected number of boundaries above the base half-space depth exceeds
// MAX_EXPECTED_BOUNDARIES. Throws InvalidArgument naming the option.
void check_randomize_options(const Profile& base, const RandomizeOptions& options);

// One realisation.
struct Realisation {
  Profile profile;
  // For every layer of `profile`, the entry of the base profile it takes its
  // properties from (the base layer at its mid-depth; the deepest base layer
  // where the half-space depth moved down).
  std::vector<std::size_t> base_layer;
  std::vector<double> z;      // the velocity deviate Z of every layer (scaled; 0 without a velocity model)
  std::vector<double> eps_g;  // curve deviates per layer; empty without curve variation
  std::vector<double> eps_d;
};

// Realisation `index` of the base profile under `options`. Layer boundaries
// are drawn down to the (possibly varied) half-space depth; each new layer
// takes density, damping, the Vp/Vs ratio and the median Vs of the base
// layer at its mid-depth; Vs = median exp(sigma_ln Z). The half-space keeps
// its base properties. Throws InvalidArgument for options
// check_randomize_options refuses, and for a realisation whose varied
// half-space depth expects more than MAX_EXPECTED_BOUNDARIES boundaries.
// Drawing stops where the depths stop increasing (a model whose Lambda is
// bounded, c2 < -1, draws no boundary past its bound).
Realisation realise(const Profile& base, const RandomizeOptions& options, std::uint64_t seed,
                    std::uint64_t index);

// The scale s(k) = 1/sd of a standard normal truncated at +-k; 1 for k = 0
// (no truncation). Throws InvalidArgument for k other than 0 below
// MIN_TRUNCATION or not finite.
double truncation_scale(double k);

// Lambda(z) of a layering model: the expected number of boundaries above z.
double expected_boundaries(const LayeringModel& model, double z);

// The G/Gmax and damping (ratios) of a curve point moved by the deviates:
// g + eps_g sd_g(g) clipped to [G_RATIO_FLOOR, 1], D + eps_d sd_d(D)
// clipped to [0, DAMPING_CEILING]. Standard deviations as in CurveVariation.
constexpr double G_RATIO_FLOOR = 1.0e-3;
constexpr double DAMPING_CEILING = 0.5;
struct VariedPoint {
  double g_ratio, damping;
};
VariedPoint vary_curve_point(double g_ratio, double damping, double eps_g, double eps_d);

// A counter-based generator: value k of stream (key) is SplitMix64's mix of
// key + (k + 1) * golden ratio. Uniform, standard normal (Box-Muller) and
// unit exponential deviates are formed here from the raw bits, so the
// numbers are the same with every standard library.
class RandomStream {
 public:
  RandomStream(std::uint64_t seed, std::uint64_t index, std::uint64_t stream);
  std::uint64_t next_bits();
  double uniform();      // [0, 1), 53 random bits
  double normal();       // standard normal
  double exponential();  // unit mean

 private:
  std::uint64_t key_, counter_ = 0;
  double spare_ = 0.0;
  bool has_spare_ = false;
};

}  // namespace velmar
