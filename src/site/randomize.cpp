// randomize.cpp: Toro (1995) layering and velocity randomisation, curve
// deviates, and the counter-based generator behind them (glossary in
// velmar/randomize.hpp).
#include "velmar/randomize.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "site/text.hpp"
#include "velmar/errors.hpp"

namespace velmar {

using detail::lower;
using detail::number;
namespace {

// SplitMix64's output function: a bijection of 64-bit words that spreads
// every input bit over the output.
std::uint64_t mix64(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}
constexpr std::uint64_t GOLDEN = 0x9e3779b97f4a7c15ULL;

// Independent streams of one realisation: changing one option (layering on
// or off) leaves the draws of the others unchanged.
enum Stream : std::uint64_t { HALFSPACE_STREAM = 0, LAYERING_STREAM = 1, VELOCITY_STREAM = 2, CURVE_STREAM = 3 };

struct NamedModel {
  const char* name;
  VelocityModel model;
};
// sigma_ln, rho_0, delta (m), rho_200, z_0 (m), b
constexpr std::array<NamedModel, 8> SITE_CLASSES{{
    {"Geomatrix AB", {0.46, 0.96, 13.1, 0.96, 0.0, 0.095}},
    {"Geomatrix CD", {0.38, 0.99, 8.0, 1.00, 0.0, 0.160}},
    {"USGS AB", {0.35, 0.95, 4.2, 1.00, 0.0, 0.138}},
    {"USGS CD", {0.36, 0.99, 3.9, 1.00, 0.0, 0.293}},
    {"USGS A", {0.36, 0.95, 3.4, 0.42, 0.0, 0.063}},
    {"USGS B", {0.27, 0.97, 3.8, 1.00, 0.0, 0.293}},
    {"USGS C", {0.31, 0.99, 3.9, 0.98, 0.0, 0.344}},
    {"USGS D", {0.37, 0.00, 5.0, 0.50, 0.0, 0.744}},
}};

// Standard normal distribution function.
double normal_cdf(double x) { return 0.5 * std::erfc(-x / std::numbers::sqrt2); }

// Inverse of the standard normal distribution function for p in (0, 1):
// Acklam's rational approximation (relative error 1.2e-9), then one Halley
// step on normal_cdf, which brings it to about machine precision.
double normal_quantile(double p) {
  static constexpr double a[] = {-3.969683028665376e+01, 2.209460984245205e+02, -2.759285104469687e+02,
                                 1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
  static constexpr double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                                 6.680131188771972e+01, -1.328068155288572e+01};
  static constexpr double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                                 -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
  static constexpr double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                                 3.754408661907416e+00};
  constexpr double P_LOW = 0.02425;
  double x;
  if (p < P_LOW || p > 1.0 - P_LOW) {
    const double q = std::sqrt(-2.0 * std::log(p < P_LOW ? p : 1.0 - p));
    x = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
        ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1.0);
    if (p > 1.0 - P_LOW) x = -x;
  } else {
    const double q = p - 0.5;
    const double r = q * q;
    x = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
        (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1.0);
  }
  const double e = normal_cdf(x) - p;
  const double u = e * std::sqrt(2.0 * std::numbers::pi) * std::exp(0.5 * x * x);
  return x - u / (1.0 + 0.5 * x * u);
}

// A standard normal deviate mapped onto the normal truncated at +-k (by its
// distribution function, so the map is monotone and the truncated values
// keep the rank order of the draws) and scaled to unit variance.
class Truncation {
 public:
  explicit Truncation(double k) : k_(k), scale_(truncation_scale(k)), low_(k > 0.0 ? normal_cdf(-k) : 0.0) {}
  double operator()(double z) const {
    if (k_ == 0.0) return z;
    const double p = low_ + normal_cdf(z) * (1.0 - 2.0 * low_);
    return scale_ * std::clamp(normal_quantile(p), -k_, k_);
  }

 private:
  double k_, scale_, low_;
};

void check_velocity_model(const VelocityModel& m) {
  const auto bad = [](const char* name, double v, const char* what) {
    throw InvalidArgument(std::string("velocity model: ") + name + " " + what + ", got " + number(v));
  };
  if (!(std::isfinite(m.sigma_ln) && m.sigma_ln >= 0.0 && m.sigma_ln <= MAX_SIGMA_LN)) {
    bad("sigma_ln", m.sigma_ln, ("must lie in [0, " + number(MAX_SIGMA_LN) + "]").c_str());
  }
  if (!(m.rho_0 >= -1.0 && m.rho_0 <= 1.0)) bad("rho_0", m.rho_0, "must lie in [-1, 1]");
  if (!(m.rho_200 >= -1.0 && m.rho_200 <= 1.0)) bad("rho_200", m.rho_200, "must lie in [-1, 1]");
  if (!(std::isfinite(m.delta) && m.delta > 0.0)) bad("delta", m.delta, "must be finite and above 0 m");
  if (!(std::isfinite(m.z_0) && m.z_0 >= 0.0)) bad("z_0", m.z_0, "must be finite and at least 0 m");
  if (!std::isfinite(m.b)) bad("b", m.b, "must be finite");
}

// Correlation of adjacent layers whose mid-depths are z_a and z_b (m).
double layer_correlation(const VelocityModel& m, double z_a, double z_b) {
  const double z = 0.5 * (z_a + z_b);
  const double t = std::abs(z_b - z_a);
  const double rho_d = z <= 200.0 ? m.rho_200 * std::pow((z + m.z_0) / (200.0 + m.z_0), m.b) : m.rho_200;
  const double rho_t = m.rho_0 * std::exp(-t / m.delta);
  return std::clamp((1.0 - rho_d) * rho_t + rho_d, -1.0, 1.0);
}

// Depth at which Lambda reaches `count` (the inverse of expected_boundaries).
double boundary_depth(const LayeringModel& m, double count) {
  const double e = m.c2 + 1.0;
  return std::pow(count * e / m.c3 + std::pow(m.c1, e), 1.0 / e) - m.c1;
}

// Lambda(H), refused beyond MAX_EXPECTED_BOUNDARIES (a double, so an
// overflow is seen before anything is drawn or allocated).
double checked_boundaries(const LayeringModel& m, double H, const char* where) {
  const double expected = expected_boundaries(m, H);
  if (!(expected <= MAX_EXPECTED_BOUNDARIES)) {
    throw InvalidArgument("layering model: c1 = " + number(m.c1) + ", c2 = " + number(m.c2) + ", c3 = " +
                          number(m.c3) + " expects " + number(expected) + " layer boundaries above " + where + " at " +
                          number(H) + " m, more than " + number(MAX_EXPECTED_BOUNDARIES) +
                          " (lower c3 or c2: the rate c3 (z + c1)^c2 per m is far too high)");
  }
  return expected;
}

// The tops of the realisation's layers down to depth H: drawn boundaries, or
// the base layers cut (or the deepest extended) at H.
std::vector<double> layer_tops(const Profile& base, const RandomizeOptions& o, double H, std::uint64_t seed,
                               std::uint64_t index) {
  std::vector<double> tops{0.0};
  if (o.layering) {
    const double expected = checked_boundaries(*o.layering, H, "the varied half-space depth");
    RandomStream rs(seed, index, LAYERING_STREAM);
    double count = 0.0;
    // The boundaries are where Lambda reaches the partial sums of unit
    // exponentials; those at or beyond Lambda(H) lie at or below H. The sum
    // rises by a unit on average, so the loop ends after about Lambda(H)
    // draws; it also ends where rounding stops the depths from rising.
    for (;;) {
      count += rs.exponential();
      if (!(count < expected)) break;
      const double z = boundary_depth(*o.layering, count);
      if (!(z < H)) break;
      if (z > tops.back()) {
        tops.push_back(z);
      } else if (!(z == tops.back())) {
        break;  // not finite, or falling: the inverse has run out of digits
      }  // (an equal depth would give an empty layer: skipped)
    }
  } else {
    for (std::size_t i = 1; i < base.layers() && base.top_depth(i) < H; ++i) tops.push_back(base.top_depth(i));
  }
  return tops;
}

}  // namespace

VelocityModel velocity_model(std::string_view name) {
  const std::string key = lower(name);
  for (const NamedModel& m : SITE_CLASSES) {
    if (lower(m.name) == key) return m.model;
  }
  std::string known;
  for (const NamedModel& m : SITE_CLASSES) known += (known.empty() ? "'" : ", '") + std::string(m.name) + "'";
  throw InvalidArgument("vs_model must be one of " + known + ", got '" + std::string(name) + "'");
}

std::vector<std::string> velocity_model_names() {
  std::vector<std::string> names;
  for (const NamedModel& m : SITE_CLASSES) names.emplace_back(m.name);
  return names;
}

void check_randomize_options(const Profile& base, const RandomizeOptions& o) {
  if (base.layers() == 0) throw InvalidArgument("the base profile must have at least one layer over its half-space");
  if (!(o.truncation == 0.0 || (std::isfinite(o.truncation) && o.truncation >= MIN_TRUNCATION))) {
    throw InvalidArgument("truncation must be 0 (no truncation) or finite and at least " + number(MIN_TRUNCATION) +
                          " standard deviations, got " + number(o.truncation));
  }
  if (!(std::isfinite(o.halfspace_sigma_ln) && o.halfspace_sigma_ln >= 0.0 && o.halfspace_sigma_ln <= MAX_SIGMA_LN)) {
    throw InvalidArgument("halfspace_sigma_ln must lie in [0, " + number(MAX_SIGMA_LN) + "], got " +
                          number(o.halfspace_sigma_ln));
  }
  if (o.velocity) check_velocity_model(*o.velocity);
  if (o.layering) {
    const LayeringModel& m = *o.layering;
    if (!(std::isfinite(m.c1) && m.c1 > 0.0 && std::isfinite(m.c3) && m.c3 > 0.0 && std::isfinite(m.c2) &&
          m.c2 != -1.0)) {
      throw InvalidArgument("layering model: c1 and c3 must be above 0 and c2 finite and not -1, got c1 = " +
                            number(m.c1) + ", c2 = " + number(m.c2) + ", c3 = " + number(m.c3));
    }
    checked_boundaries(m, base.halfspace_depth(), "the base half-space");
  }
  if (o.curves && !(o.curves->rho_gd >= -1.0 && o.curves->rho_gd <= 1.0)) {
    throw InvalidArgument("curve variation: rho_gd must lie in [-1, 1], got " + number(o.curves->rho_gd));
  }
}

double truncation_scale(double k) {
  if (k == 0.0) return 1.0;
  if (!(std::isfinite(k) && k >= MIN_TRUNCATION)) {
    throw InvalidArgument("truncation must be 0 (no truncation) or finite and at least " + number(MIN_TRUNCATION) +
                          ", got " + number(k));
  }
  const double phi = std::exp(-0.5 * k * k) / std::sqrt(2.0 * std::numbers::pi);
  const double mass = std::erf(k / std::numbers::sqrt2);  // P(|Z| < k)
  return 1.0 / std::sqrt(1.0 - 2.0 * k * phi / mass);
}

double expected_boundaries(const LayeringModel& m, double z) {
  const double e = m.c2 + 1.0;
  return m.c3 / e * (std::pow(z + m.c1, e) - std::pow(m.c1, e));
}

VariedPoint vary_curve_point(double g_ratio, double damping, double eps_g, double eps_d) {
  const double spread = std::exp(3.62);
  const double dg = g_ratio - 0.5;
  const double sd_g = std::exp(-4.23) + std::sqrt(std::max(0.0, 0.25 / spread - dg * dg / spread));
  const double d_pct = 100.0 * std::max(damping, 0.0);
  const double sd_d = std::exp(-5.0) + std::exp(-0.25) * std::sqrt(d_pct);
  return {std::clamp(g_ratio + eps_g * sd_g, G_RATIO_FLOOR, 1.0),
          std::clamp((d_pct + eps_d * sd_d) / 100.0, 0.0, DAMPING_CEILING)};
}

RandomStream::RandomStream(std::uint64_t seed, std::uint64_t index, std::uint64_t stream)
    : key_(mix64(mix64(mix64(seed) + index) + stream + 1)) {}

std::uint64_t RandomStream::next_bits() { return mix64(key_ + (++counter_) * GOLDEN); }

double RandomStream::uniform() { return static_cast<double>(next_bits() >> 11) * 0x1.0p-53; }

double RandomStream::normal() {
  if (has_spare_) {
    has_spare_ = false;
    return spare_;
  }
  const double r = std::sqrt(-2.0 * std::log(1.0 - uniform()));  // 1 - u lies in (0, 1]
  const double theta = 2.0 * std::numbers::pi * uniform();
  spare_ = r * std::sin(theta);
  has_spare_ = true;
  return r * std::cos(theta);
}

double RandomStream::exponential() { return -std::log(1.0 - uniform()); }

Realisation realise(const Profile& base, const RandomizeOptions& o, std::uint64_t seed, std::uint64_t index) {
  check_randomize_options(base, o);
  const Truncation truncate(o.truncation);
  double H = base.halfspace_depth();
  if (o.halfspace_sigma_ln > 0.0) {
    RandomStream rs(seed, index, HALFSPACE_STREAM);
    H *= std::exp(o.halfspace_sigma_ln * truncate(rs.normal()));
  }
  const std::vector<double> tops = layer_tops(base, o, H, seed, index);
  const std::size_t n = tops.size();
  const std::size_t hs = base.layers();

  Realisation r;
  r.base_layer.resize(n);
  std::vector<double> th(n + 1, 0.0), rho(n + 1), vs(n + 1), xi(n + 1), mid(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double bottom = i + 1 < n ? tops[i + 1] : H;
    th[i] = bottom - tops[i];
    mid[i] = 0.5 * (tops[i] + bottom);
    r.base_layer[i] = std::min(base.entry_at(mid[i]), hs - 1);
  }
  r.z.assign(n, 0.0);
  if (o.velocity && o.velocity->sigma_ln > 0.0) {
    RandomStream rs(seed, index, VELOCITY_STREAM);
    double z_prev = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      const double eps = rs.normal();
      double z = eps;
      if (i > 0) {
        const double rho_i = layer_correlation(*o.velocity, mid[i - 1], mid[i]);
        z = rho_i * z_prev + std::sqrt(1.0 - rho_i * rho_i) * eps;
      }
      z_prev = z;
      r.z[i] = truncate(z);
    }
  }
  const double sigma = o.velocity ? o.velocity->sigma_ln : 0.0;
  const bool with_p = base.has_p();
  const bool with_damping_p = !base.damping_p().empty();
  std::vector<double> vp, xi_p;
  for (std::size_t i = 0; i <= n; ++i) {
    const std::size_t e = i < n ? r.base_layer[i] : hs;
    const double factor = i < n ? std::exp(sigma * r.z[i]) : 1.0;
    rho[i] = base.density()[e];
    vs[i] = base.vs()[e] * factor;
    xi[i] = base.damping_s()[e];
    if (with_p) vp.push_back(base.vp()[e] * factor);  // keeps the base layer's Vp/Vs
    if (with_damping_p) xi_p.push_back(base.damping_p()[e]);
  }
  if (o.curves) {
    RandomStream rs(seed, index, CURVE_STREAM);
    const double rho_gd = o.curves->rho_gd;
    r.eps_g.resize(n);
    r.eps_d.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      const double a = rs.normal();
      const double b = rs.normal();
      r.eps_g[i] = truncate(a);
      r.eps_d[i] = truncate(rho_gd * a + std::sqrt(1.0 - rho_gd * rho_gd) * b);
    }
  }
  r.profile = Profile(std::move(th), std::move(rho), std::move(vs), std::move(xi), std::move(vp), std::move(xi_p));
  return r;
}

}  // namespace velmar
