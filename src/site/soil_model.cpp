// soil_model.cpp: MKZ and GQ/H backbones, the extended Masing and MRDF
// unload-reload rules of one spring, and the fit of a model to a curve.
#include "velmar/soil_model.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <variant>

#include "site/text.hpp"
#include "velmar/errors.hpp"

namespace velmar {
namespace {

using detail::number;
using detail::refuse;

constexpr std::size_t FIT_POINTS = 41;

// Largest curvature parameter of the GQ/H form: theta stays below 1 so the
// square root's argument (1 + x)^2 - 4 theta x stays above 0.
constexpr double THETA_CAP = 0.999;

// Friction angle of the Mohr-Coulomb strength of granular soil, degrees;
// undrained strength ratio su / sigma'_v and its OCR exponent for plastic
// clays (simple shear); the plasticity index (%) from which a Darendeli
// curve is taken as a clay.
constexpr double FRICTION_ANGLE = 33.0;
constexpr double SU_RATIO = 0.22;
constexpr double SU_OCR_EXPONENT = 0.8;
constexpr double CLAY_PI = 15.0;

// The backbone stress at `strain` and (if asked) its slope, with the
// model's constants precomputed: inv = 1 / gamma_r (MKZ) or gmax / tau_max
// (GQ/H), c = theta3^theta5 (GQ/H). One power and (GQ/H) one square root.
double backbone_eval(const SoilModel& m, double inv, double c, double strain, double* tangent) {
  const double a = std::abs(strain);
  if (a == 0.0) {
    if (tangent) *tangent = m.gmax;
    return 0.0;
  }
  const double x = a * inv;
  if (m.kind == SoilModelKind::MKZ) {
    const double bx = m.beta * (m.s == 1.0 ? x : std::pow(x, m.s));
    const double den = 1.0 + bx;
    if (tangent) *tangent = m.gmax * (1.0 + bx - m.s * bx) / (den * den);
    return m.gmax * strain / den;
  }
  const double u = m.theta4 * (m.theta5 == 1.0 ? x : std::pow(x, m.theta5));
  const double v = c + u;
  const double theta = m.theta1 + m.theta2 * u / v;
  const double q = std::sqrt(std::max((1.0 + x) * (1.0 + x) - 4.0 * theta * x, 0.0));
  const double den = 1.0 + x + q;
  if (tangent) {
    const double qs = std::max(q, 1e-12);
    const double dtheta = m.theta2 * (m.theta5 * u / x) * c / (v * v);
    const double dq_dx = (1.0 + x - 2.0 * theta) / qs;
    const double dt_dx = 2.0 / den - 2.0 * x * (1.0 + dq_dx) / (den * den);
    const double dt_dtheta = 4.0 * x * x / (qs * den * den);
    *tangent = m.gmax * (dt_dx + dt_dtheta * dtheta);
  }
  return (strain < 0.0 ? -m.tau_max : m.tau_max) * 2.0 * x / den;
}

double inverse_reference(const SoilModel& m) {
  return m.kind == SoilModelKind::MKZ ? 1.0 / m.gamma_r : m.gmax / m.tau_max;
}
double theta3_power(const SoilModel& m) {
  return m.kind == SoilModelKind::GQH ? std::pow(m.theta3, m.theta5) : 1.0;
}

// --- a small deterministic Nelder-Mead minimiser ------------------------
template <std::size_t N, class F>
std::array<double, N> nelder_mead(F&& f, std::array<double, N> start, double step, int iterations,
                                  double* best_value) {
  std::array<std::array<double, N>, N + 1> p{};
  std::array<double, N + 1> v{};
  for (std::size_t i = 0; i <= N; ++i) {
    p[i] = start;
    if (i > 0) p[i][i - 1] += step;
    v[i] = f(p[i]);
  }
  for (int it = 0; it < iterations; ++it) {
    // Order: best first.
    for (std::size_t i = 1; i <= N; ++i)
      for (std::size_t j = i; j > 0 && v[j] < v[j - 1]; --j) {
        std::swap(v[j], v[j - 1]);
        std::swap(p[j], p[j - 1]);
      }
    if (v[N] - v[0] <= 1e-9 * std::abs(v[0]) + 1e-13) break;  // flat: no better to find here
    std::array<double, N> c{};
    for (std::size_t i = 0; i < N; ++i)
      for (std::size_t k = 0; k < N; ++k) c[k] += p[i][k] / static_cast<double>(N);
    auto along = [&](double t) {
      std::array<double, N> x{};
      for (std::size_t k = 0; k < N; ++k) x[k] = c[k] + t * (p[N][k] - c[k]);
      return x;
    };
    const auto xr = along(-1.0);
    const double fr = f(xr);
    if (fr < v[0]) {
      const auto xe = along(-2.0);
      const double fe = f(xe);
      if (fe < fr) { p[N] = xe; v[N] = fe; } else { p[N] = xr; v[N] = fr; }
    } else if (fr < v[N - 1]) {
      p[N] = xr; v[N] = fr;
    } else {
      const auto xc = fr < v[N] ? along(-0.5) : along(0.5);
      const double fc = f(xc);
      if (fc < std::min(fr, v[N])) {
        p[N] = xc; v[N] = fc;
      } else {
        for (std::size_t i = 1; i <= N; ++i) {
          for (std::size_t k = 0; k < N; ++k) p[i][k] = p[0][k] + 0.5 * (p[i][k] - p[0][k]);
          v[i] = f(p[i]);
        }
      }
    }
  }
  std::size_t best = 0;
  for (std::size_t i = 1; i <= N; ++i)
    if (v[i] < v[best]) best = i;
  if (best_value) *best_value = v[best];
  return p[best];
}

double sigmoid(double t) { return 1.0 / (1.0 + std::exp(-t)); }

// The fit's strain range for `curve`.
void fit_range(const Curve& curve, double* lo, double* hi) {
  *lo = FIT_STRAIN_MIN;
  *hi = FIT_STRAIN_MAX;
  if (const auto* t = std::get_if<CurveTable>(&curve)) {
    if (!t->strain.empty()) {
      *lo = std::clamp(t->strain.front(), FIT_STRAIN_MIN, FIT_STRAIN_MAX);
      *hi = std::clamp(t->strain.back(), FIT_STRAIN_MIN, FIT_STRAIN_MAX);
      if (*hi <= *lo * 1.0001) {  // a one-row (or one-strain) table: the default range
        *lo = FIT_STRAIN_MIN;
        *hi = FIT_STRAIN_MAX;
      }
    }
  }
}

struct Targets {
  std::array<double, FIT_POINTS> strain{}, g{}, d{};
};

Targets targets(const Curve& curve, double mean_stress, double lo, double hi) {
  Targets t;
  for (std::size_t i = 0; i < FIT_POINTS; ++i) {
    const double f = static_cast<double>(i) / static_cast<double>(FIT_POINTS - 1);
    t.strain[i] = lo * std::pow(hi / lo, f);
    const CurvePoint p = evaluate_curve(curve, t.strain[i], mean_stress);
    t.g[i] = p.g_ratio;
    t.d[i] = p.damping;
  }
  return t;
}

// Strain at which the curve's G/Gmax falls to 0.5 (log-interpolated on a
// fine grid; extrapolated hyperbolically when the curve stays above 0.5).
double half_strain(const Curve& curve, double mean_stress) {
  double prev_s = 1e-7;
  double prev_g = evaluate_curve(curve, prev_s, mean_stress).g_ratio;
  if (prev_g <= 0.5) return prev_s;
  for (int k = 1; k <= 120; ++k) {
    const double s = 1e-7 * std::pow(10.0, 6.0 * k / 120.0);
    const double g = evaluate_curve(curve, s, mean_stress).g_ratio;
    if (g <= 0.5) {
      const double f = (prev_g - 0.5) / std::max(prev_g - g, 1e-300);
      return prev_s * std::pow(s / prev_s, f);
    }
    prev_s = s;
    prev_g = g;
  }
  // Above 0.5 at 0.1: a hyperbola through the last point.
  return prev_s * prev_g / std::max(1.0 - prev_g, 1e-6);
}

void check_positive(std::string_view what, double v) {
  if (!std::isfinite(v) || v <= 0.0) refuse(what, v, "must be finite and above 0");
}

}  // namespace

// ---------------------------------------------------------------- names --

SoilModelKind soil_model_kind_from_name(std::string_view name) {
  const std::string n = detail::lower(name);
  if (n == "mkz") return SoilModelKind::MKZ;
  if (n == "gqh" || n == "gq/h") return SoilModelKind::GQH;
  throw InvalidArgument("model must be \"mkz\" or \"gqh\", got \"" + std::string(name) + "\"");
}

UnloadRule unload_rule_from_name(std::string_view name) {
  const std::string n = detail::lower(name);
  if (n == "masing") return UnloadRule::MASING;
  if (n == "mrdf") return UnloadRule::MRDF;
  throw InvalidArgument("unload must be \"masing\" or \"mrdf\", got \"" + std::string(name) + "\"");
}

std::string soil_model_kind_name(SoilModelKind kind) { return kind == SoilModelKind::MKZ ? "mkz" : "gqh"; }
std::string unload_rule_name(UnloadRule rule) { return rule == UnloadRule::MASING ? "masing" : "mrdf"; }

// ------------------------------------------------------------ backbones --

double backbone_stress(const SoilModel& m, double strain) {
  return backbone_eval(m, inverse_reference(m), theta3_power(m), strain, nullptr);
}

double backbone_tangent(const SoilModel& m, double strain) {
  double k = 0.0;
  backbone_eval(m, inverse_reference(m), theta3_power(m), strain, &k);
  return k;
}

double reduction_factor(const SoilModel& m, double gamma_m) {
  if (m.unload == UnloadRule::MASING) return 1.0;
  const double g = gamma_m > 0.0 ? backbone_stress(m, gamma_m) / (m.gmax * gamma_m) : 1.0;
  const double r = m.p1 - m.p2 * std::pow(std::clamp(1.0 - g, 0.0, 1.0), m.p3);
  return std::clamp(r, 0.0, 2.0);
}

double model_g_ratio(const SoilModel& m, double strain) {
  const double a = std::abs(strain);
  if (a == 0.0) return 1.0;
  return backbone_stress(m, a) / (m.gmax * a);
}

// Masing damping of a symmetric loop of amplitude a:
// (2/pi) [2 int_0^a F / (F(a) a) - 1]. The integral runs over geometric
// panels (the backbone bends at strains far below a), 4-point Gauss each.
double masing_damping(const SoilModel& m, double strain) {
  const double a = std::abs(strain);
  if (a == 0.0) return 0.0;
  static constexpr double node[4] = {-0.8611363115940526, -0.3399810435848563, 0.3399810435848563,
                                     0.8611363115940526};
  static constexpr double weight[4] = {0.3478548451374538, 0.6521451548625461, 0.6521451548625461,
                                       0.3478548451374538};
  constexpr int panels = 36;  // 9 decades below a, 4 panels each; the last from 0
  const double inv = inverse_reference(m), c = theta3_power(m);
  double integral = 0.0;
  double lo = 0.0;
  for (int k = panels; k >= 0; --k) {
    const double hi = a * std::pow(10.0, -static_cast<double>(k) / 4.0);
    const double mid = 0.5 * (lo + hi), half = 0.5 * (hi - lo);
    for (int j = 0; j < 4; ++j) integral += weight[j] * half * backbone_eval(m, inv, c, mid + half * node[j], nullptr);
    lo = hi;
  }
  const double ta = backbone_stress(m, a);
  const double d = (2.0 / std::numbers::pi) * (2.0 * integral / (ta * a) - 1.0);
  return std::max(d, 0.0);
}

double model_damping(const SoilModel& m, double strain) {
  const double a = std::abs(strain);
  return m.dmin + reduction_factor(m, a) * masing_damping(m, a);
}

// ------------------------------------------------------------- checking --

void check_soil_model(const SoilModel& m) {
  check_positive("soil model gmax (kPa)", m.gmax);
  check_positive("soil model mean_stress (kPa)", m.mean_stress);
  if (!std::isfinite(m.dmin) || m.dmin < 0.0 || m.dmin >= 1.0)
    refuse("soil model dmin", m.dmin, "must lie in [0, 1)");
  if (m.kind == SoilModelKind::MKZ) {
    check_positive("MKZ gamma_r", m.gamma_r);
    check_positive("MKZ beta", m.beta);
    if (!std::isfinite(m.s) || m.s <= 0.0 || m.s > 1.0) refuse("MKZ s", m.s, "must lie in (0, 1]");
  } else {
    check_positive("GQ/H tau_max (kPa)", m.tau_max);
    check_positive("GQ/H theta3", m.theta3);
    check_positive("GQ/H theta4", m.theta4);
    check_positive("GQ/H theta5", m.theta5);
    if (!std::isfinite(m.theta1) || m.theta1 > 1.0) refuse("GQ/H theta1", m.theta1, "must be finite and at most 1");
    if (!std::isfinite(m.theta2) || m.theta1 + m.theta2 > 1.0)
      refuse("GQ/H theta2", m.theta2, "must be finite with theta1 + theta2 at most 1");
  }
  if (m.unload == UnloadRule::MRDF) {
    for (double v : {m.p1, m.p2, m.p3})
      if (!std::isfinite(v)) refuse("MRDF parameter", v, "must be finite");
    if (m.p3 <= 0.0) refuse("MRDF p3", m.p3, "must be above 0");
    if (m.p1 < 0.0 || m.p1 > 2.0) refuse("MRDF p1", m.p1, "must lie in [0, 2]");
    if (m.p1 - m.p2 < 0.0 || m.p1 - m.p2 > 2.0)
      refuse("MRDF p1 - p2", m.p1 - m.p2, "must lie in [0, 2] (the factor at large strain)");
  }
}

// -------------------------------------------------------------- strength --

// The strength estimates (see soil_model.hpp).
double estimate_strength(const Curve& curve, double mean_stress, StrengthSource* source) {
  check_positive("mean_stress (kPa)", mean_stress);
  const double k0 = curve_k0(curve);
  const double sv = 3.0 * mean_stress / (1.0 + 2.0 * k0);
  if (const auto* d = std::get_if<Darendeli>(&curve); d && d->pi >= CLAY_PI) {
    if (source) *source = StrengthSource::UNDRAINED_RATIO;
    return SU_RATIO * sv * std::pow(d->ocr, SU_OCR_EXPONENT);
  }
  if (source) *source = StrengthSource::MOHR_COULOMB;
  const double sphi = std::sin(FRICTION_ANGLE * std::numbers::pi / 180.0);
  const double a = 0.5 * (1.0 + k0) * sv * sphi, b = 0.5 * (1.0 - k0) * sv;
  const double hd = a * a > b * b ? std::sqrt(a * a - b * b) : 0.0;
  return std::max(hd, 0.2 * sv);
}

double estimate_strength(const Curve& curve, double gmax, double mean_stress, StrengthSource* source) {
  check_positive("gmax (kPa)", gmax);
  const double soil = estimate_strength(curve, mean_stress, source);
  const double floor =
      gmax * STRENGTH_FLOOR_STRAIN * evaluate_curve(curve, STRENGTH_FLOOR_STRAIN, mean_stress).g_ratio;
  if (floor > soil) {
    if (source) *source = StrengthSource::CURVE_FLOOR;
    return floor;
  }
  return soil;
}

// ------------------------------------------------------------------ fit --

SoilModel fit_soil_model(const Curve& curve, double gmax, double mean_stress, SoilModelKind kind,
                         std::optional<double> strength, UnloadRule unload) {
  if (std::holds_alternative<LinearLayer>(curve))
    throw InvalidArgument("fit_soil_model: the curve is linear (no curve); give a modulus-reduction curve");
  check_curve(curve);
  check_positive("gmax (kPa)", gmax);
  check_positive("mean_stress (kPa)", mean_stress);
  if (strength && kind == SoilModelKind::MKZ)
    throw InvalidArgument("strength is a parameter of the \"gqh\" model; give none for \"mkz\", got " +
                          number(*strength));
  if (strength) check_positive("strength (kPa)", *strength);

  SoilModel m;
  m.kind = kind;
  m.unload = unload;
  m.gmax = gmax;
  m.mean_stress = mean_stress;
  fit_range(curve, &m.fit_strain_min, &m.fit_strain_max);
  const Targets t = targets(curve, mean_stress, m.fit_strain_min, m.fit_strain_max);
  m.dmin = t.d[0];

  if (kind == SoilModelKind::MKZ) {
    // beta stays 1 (beta and gamma_r are one degree of freedom); fit
    // ln gamma_r and s = 0.3 + 0.7 sigmoid(.) to G/Gmax.
    const double g0 = half_strain(curve, mean_stress);
    auto build = [&](const std::array<double, 2>& x) {
      SoilModel c = m;
      c.gamma_r = std::exp(x[0]);
      c.s = 0.3 + 0.7 * sigmoid(x[1]);
      return c;
    };
    auto cost = [&](const std::array<double, 2>& x) {
      const SoilModel c = build(x);
      double e = 0.0;
      for (std::size_t i = 0; i < FIT_POINTS; ++i) {
        const double r = model_g_ratio(c, t.strain[i]) - t.g[i];
        e += r * r;
      }
      return e;
    };
    double best = 0.0;
    auto x = nelder_mead<2>(cost, {std::log(g0), 1.5}, 0.5, 400, &best);
    x = nelder_mead<2>(cost, x, 0.1, 400, &best);
    const SoilModel c = build(x);
    m.gamma_r = c.gamma_r;
    m.s = c.s;
    // Pressure dependence from the curve itself: the exponent of its
    // half-modulus strain between sigma'_m / 2 and 2 sigma'_m.
    const double up = half_strain(curve, 2.0 * mean_stress), down = half_strain(curve, 0.5 * mean_stress);
    m.pressure_exponent = std::log(up / down) / std::log(4.0);
    if (!std::isfinite(m.pressure_exponent)) m.pressure_exponent = 0.0;
    m.gamma_ref = m.gamma_r * std::pow(ATMOSPHERIC_PRESSURE / mean_stress, m.pressure_exponent);
  } else {
    StrengthSource src = StrengthSource::GIVEN;
    m.tau_max = strength ? *strength : estimate_strength(curve, gmax, mean_stress, &src);
    m.strength_source = src;
    m.theta4 = 1.0;
    // The target where the curve asks for more than the strength is the
    // strength: the backbone follows the curve at small strain and the
    // strength beyond.
    std::array<double, FIT_POINTS> capped{};
    for (std::size_t i = 0; i < FIT_POINTS; ++i)
      capped[i] = std::min(t.g[i], m.tau_max / (gmax * t.strain[i]));
    // Two forms are fitted. Rising theta: theta_inf = theta1 + theta2 =
    // CAP - exp(x0), theta2 = exp(x1) >= 0 (the backbone rises everywhere by
    // construction). Free theta: theta1 = CAP - exp(x1), theta_inf = CAP -
    // exp(x0) >= -10 (theta may fall with strain, for curves softer at
    // large strain than a rising theta allows). Both: theta3 = exp(x2),
    // theta5 = 0.05 + 4.95 sigmoid(x3), theta4 = 1. The free form is kept
    // when it fits better, its backbone rises at every strain up to 1 and it
    // reaches 95 % of the strength by 10 % strain.
    auto build = [&](const std::array<double, 4>& x, bool free) {
      SoilModel c = m;
      if (free) {
        const double inf = THETA_CAP - std::exp(std::min(x[0], std::log(11.0)));
        c.theta1 = THETA_CAP - std::exp(std::min(x[1], 6.0));
        c.theta2 = inf - c.theta1;
      } else {
        const double inf = THETA_CAP - std::exp(std::min(x[0], 6.0));
        c.theta2 = std::exp(std::min(x[1], 6.0));
        c.theta1 = inf - c.theta2;
      }
      c.theta3 = std::exp(std::clamp(x[2], -20.0, 20.0));
      c.theta5 = 0.05 + 4.95 * sigmoid(x[3]);
      return c;
    };
    auto fit_form = [&](bool free, double* value) {
      auto cost = [&](const std::array<double, 4>& x) {
        const SoilModel c = build(x, free);
        const double inv = inverse_reference(c), c3 = theta3_power(c);
        double e = 0.0;
        for (std::size_t i = 0; i < FIT_POINTS; ++i) {
          const double g = backbone_eval(c, inv, c3, t.strain[i], nullptr) / (c.gmax * t.strain[i]);
          const double r = g - capped[i];
          e += r * r;
        }
        return std::isfinite(e) ? e : 1e300;
      };
      // Screen a grid of starts, then refine the best two.
      std::array<std::array<double, 4>, 2> starts{};
      std::array<double, 2> start_cost{std::numeric_limits<double>::infinity(),
                                        std::numeric_limits<double>::infinity()};
      for (double x0 : {-4.0, 0.0, 2.0})
        for (double x1 : {-3.0, 0.0, 2.0, 4.0})
          for (double x2 : {-2.0, 0.0, 2.0, 5.0})
            for (double x3 : {-1.5, 0.0, 1.5}) {
              const std::array<double, 4> x{x0, x1, x2, x3};
              const double v = cost(x);
              if (v < start_cost[0]) {
                starts[1] = starts[0]; start_cost[1] = start_cost[0];
                starts[0] = x; start_cost[0] = v;
              } else if (v < start_cost[1]) {
                starts[1] = x; start_cost[1] = v;
              }
            }
      double best = std::numeric_limits<double>::infinity();
      std::array<double, 4> bx = starts[0];
      for (const auto& s0 : starts) {
        double v = 0.0;
        auto x = nelder_mead<4>(cost, s0, 0.7, 500, &v);
        x = nelder_mead<4>(cost, x, 0.2, 300, &v);
        if (v < best) { best = v; bx = x; }
      }
      *value = best;
      return build(bx, free);
    };
    double rising_cost = 0.0, free_cost = 0.0;
    const SoilModel rising = fit_form(false, &rising_cost);
    const SoilModel loose = fit_form(true, &free_cost);
    bool sound = free_cost < rising_cost && backbone_stress(loose, 0.1) >= 0.95 * m.tau_max;
    for (int k = 0; sound && k <= 160; ++k)
      sound = backbone_tangent(loose, 1e-8 * std::pow(10.0, k / 20.0)) > 0.0;
    const SoilModel& c = sound ? loose : rising;
    m.theta1 = c.theta1;
    m.theta2 = c.theta2;
    m.theta3 = c.theta3;
    m.theta5 = c.theta5;
  }

  // Damping: Masing damping of the backbone at each strain, then (MRDF)
  // R = p1 - p2 (1 - G/Gmax)^p3 by least squares for p1, p2 at each p3 of a
  // log grid, refined by golden section, with R in [0, 2] at all strains.
  std::array<double, FIT_POINTS> dm{}, gm{};
  for (std::size_t i = 0; i < FIT_POINTS; ++i) {
    dm[i] = masing_damping(m, t.strain[i]);
    gm[i] = model_g_ratio(m, t.strain[i]);
  }
  if (unload == UnloadRule::MRDF) {
    struct Sol { double p1, p2, e; };
    auto solve = [&](double p3) {
      // Minimise sum (p1 dm - p2 w dm - h)^2, w = (1 - g)^p3, h = D - dmin.
      double a11 = 0, a12 = 0, a22 = 0, b1 = 0, b2 = 0;
      for (std::size_t i = 0; i < FIT_POINTS; ++i) {
        const double u = dm[i], v = -std::pow(std::max(1.0 - gm[i], 0.0), p3) * dm[i];
        const double h = t.d[i] - m.dmin;
        a11 += u * u; a12 += u * v; a22 += v * v; b1 += u * h; b2 += v * h;
      }
      auto err = [&](double p1, double p2) {
        double e = 0.0;
        for (std::size_t i = 0; i < FIT_POINTS; ++i) {
          const double r = (p1 - p2 * std::pow(std::max(1.0 - gm[i], 0.0), p3)) * dm[i] - (t.d[i] - m.dmin);
          e += r * r;
        }
        return e;
      };
      const double det = a11 * a22 - a12 * a12;
      double p1 = 1.0, p2 = 0.0;
      if (std::abs(det) > 1e-30 * (a11 * a22 + 1e-300)) {
        p1 = (b1 * a22 - b2 * a12) / det;
        p2 = (a11 * b2 - a12 * b1) / det;
      }
      if (!(p1 >= 0.0 && p1 <= 2.0 && p1 - p2 >= 0.0 && p1 - p2 <= 2.0)) {
        // Constrained: the best of p1 alone (p2 = 0) and of the edges p2 = p1
        // (factor 0 at large strain) and p1 = 1.
        Sol best{1.0, 0.0, err(1.0, 0.0)};
        auto consider = [&](double q1, double q2) {
          if (!(q1 >= 0.0 && q1 <= 2.0 && q1 - q2 >= 0.0 && q1 - q2 <= 2.0)) return;
          const double e = err(q1, q2);
          if (e < best.e) best = {q1, q2, e};
        };
        if (a11 > 0) consider(std::clamp(b1 / a11, 0.0, 2.0), 0.0);
        {  // p2 = p1: p1 (u + v) fits h
          double s = 0, r = 0;
          for (std::size_t i = 0; i < FIT_POINTS; ++i) {
            const double w = (1.0 - std::pow(std::max(1.0 - gm[i], 0.0), p3)) * dm[i];
            s += w * w; r += w * (t.d[i] - m.dmin);
          }
          if (s > 0) { const double q = std::clamp(r / s, 0.0, 2.0); consider(q, q); }
        }
        if (a22 > 0) consider(1.0, std::clamp((b2 - a12) / a22, -1.0, 1.0));
        return best;
      }
      return Sol{p1, p2, err(p1, p2)};
    };
    double best_l = 0.0;
    Sol best = solve(1.0);
    for (int k = 0; k <= 60; ++k) {
      const double l = std::log(0.05) + (std::log(20.0) - std::log(0.05)) * k / 60.0;
      const Sol s = solve(std::exp(l));
      if (s.e < best.e) { best = s; best_l = l; }
    }
    double a = best_l - 0.1, b = best_l + 0.1;
    const double gr = 0.5 * (std::sqrt(5.0) - 1.0);
    for (int k = 0; k < 40; ++k) {
      const double c1 = b - gr * (b - a), c2 = a + gr * (b - a);
      if (solve(std::exp(c1)).e < solve(std::exp(c2)).e) b = c2; else a = c1;
    }
    const Sol s = solve(std::exp(0.5 * (a + b)));
    if (s.e <= best.e) { best = s; best_l = 0.5 * (a + b); }
    m.p1 = best.p1;
    m.p2 = best.p2;
    m.p3 = std::exp(best_l);
  }

  // The fit's error against the curve as given.
  double ge = 0, gs = 0, de = 0, ds = 0;
  for (std::size_t i = 0; i < FIT_POINTS; ++i) {
    const double rg = gm[i] - t.g[i];
    const double rd = m.dmin + reduction_factor(m, t.strain[i]) * dm[i] - t.d[i];
    if (std::abs(rg) > std::abs(ge)) ge = rg;
    if (std::abs(rd) > std::abs(de)) de = rd;
    gs += rg * rg;
    ds += rd * rd;
  }
  m.g_ratio_error = std::abs(ge);
  m.damping_error = std::abs(de);
  m.g_ratio_rms = std::sqrt(gs / FIT_POINTS);
  m.damping_rms = std::sqrt(ds / FIT_POINTS);
  check_soil_model(m);
  return m;
}

// ----------------------------------------------------------- the spring --


SoilState::SoilState(const SoilModel& model) : model_(model) {
  check_soil_model(model_);
  inv_ref_ = inverse_reference(model_);
  theta3_power_ = theta3_power(model_);
  reset();
}

double SoilState::backbone(double strain, double* tangent) const {
  return backbone_eval(model_, inv_ref_, theta3_power_, strain, tangent);
}

void SoilState::reset() {
  has_trial_ = false;
  strain_ = stress_ = 0.0;
  direction_ = 0;
  gamma_m_ = 0.0;
  factor_ = reduction_factor(model_, 0.0);
  secant_ = model_.gmax;
  depth_ = 0;
}

SoilState::Step SoilState::walk(double g) const {
  if (!std::isfinite(g)) refuse("strain", g, "must be finite");
  Step st;
  st.keep = depth_;
  st.gamma_m = gamma_m_;
  st.factor = factor_;
  st.secant = secant_;
  st.direction = direction_;
  const double d = g - strain_;
  if (d == 0.0) {
    st.stress = stress_;
    st.tangent = tangent();
    return st;
  }
  const int dir = d > 0.0 ? 1 : -1;
  st.direction = dir;
  if (direction_ != 0 && dir != direction_) {
    if (depth_ == 0) {  // leaving the backbone: branches of this largest strain
      st.gamma_m = std::max(gamma_m_, std::abs(strain_));
      st.factor = reduction_factor(model_, st.gamma_m);
      st.secant = st.gamma_m > 0.0 ? backbone(st.gamma_m, nullptr) / st.gamma_m : model_.gmax;
    }
    st.pushed = true;
  }
  auto point_strain = [&](std::size_t k) { return k < st.keep ? rev_strain_[k] : strain_; };
  std::size_t count = st.keep + (st.pushed ? 1 : 0);
  // Close every loop the strain passes: a branch ends at the reversal point
  // before its own (or, from the first reversal, at the mirror point on the
  // backbone).
  while (count > 0) {
    const double target = count >= 2 ? point_strain(count - 2) : -point_strain(0);
    if (dir * (g - target) < 0.0) break;  // at the point itself the branches meet
    count = count >= 2 ? count - 2 : 0;
  }
  if (count <= st.keep) {
    st.keep = count;
    st.pushed = false;
  }
  if (count == 0) {
    st.stress = backbone(g, &st.tangent);
    st.gamma_m = std::max(st.gamma_m, std::abs(g));
  } else {
    const std::size_t top = count - 1;
    const double g0 = top < st.keep ? rev_strain_[top] : strain_;
    const double t0 = top < st.keep ? rev_stress_[top] : stress_;
    const double x = g - g0;
    const double f = st.factor, gm = st.secant;
    double k = 0.0;
    st.stress = t0 + f * (2.0 * backbone(0.5 * x, &k) - gm * x) + gm * x;
    st.tangent = f * (k - gm) + gm;
  }
  return st;
}

double SoilState::trial(double strain, double* tangent) const {
  const Step st = walk(strain);
  // Kept for a commit to the same strain (the last iteration of a step).
  last_trial_ = st;
  last_trial_strain_ = strain;
  has_trial_ = true;
  if (tangent) *tangent = st.tangent;
  return st.stress;
}

void SoilState::commit(double strain) {
  const Step st = has_trial_ && strain == last_trial_strain_ ? last_trial_ : walk(strain);
  has_trial_ = false;
  depth_ = st.keep;
  if (st.pushed) {
    if (depth_ + 1 > CAPACITY) depth_ -= 2;  // forget the innermost pair held
    rev_strain_[depth_] = strain_;
    rev_stress_[depth_] = stress_;
    ++depth_;
  }
  strain_ = strain;
  stress_ = st.stress;
  direction_ = st.direction;
  gamma_m_ = st.gamma_m;
  factor_ = st.factor;
  secant_ = st.secant;
}

double SoilState::stress(double strain) {
  commit(strain);
  return stress_;
}

double SoilState::tangent() const {
  double k = 0.0;
  if (depth_ == 0) {
    backbone(strain_, &k);
    return k;
  }
  backbone(0.5 * (strain_ - rev_strain_[depth_ - 1]), &k);
  return factor_ * (k - secant_) + secant_;
}

std::vector<double> stress_history(const SoilModel& model, std::span<const double> strain) {
  SoilState s(model);
  std::vector<double> out(strain.size());
  for (std::size_t i = 0; i < strain.size(); ++i) {
    if (!std::isfinite(strain[i])) refuse("strain[" + std::to_string(i) + "]", strain[i], "must be finite");
    out[i] = s.stress(strain[i]);
  }
  return out;
}

}  // namespace velmar
