// curves.cpp: modulus-reduction and damping curves of soils (the models of
// Darendeli, Menq, Zhang-Andrus-Juang, Kishida and Rollins, user tables and
// the published tables of published_curves.cpp), and the effective stresses
// the model curves depend on.
//
// Glossary (strain in percent inside the model formulas, a ratio outside):
//   gr     reference strain, percent: G/Gmax = 1/2 there for every curvature
//   a      curvature of the modified hyperbola G/Gmax = 1 / (1 + (g/gr)^a)
//   D1     Masing damping of the hyperbola with a = 1, percent
//   DM     Masing damping corrected to curvature a, percent
//   b      scaling of the Masing damping for the number of loading cycles N
//   Dmin   small-strain damping, percent
//   sm     mean effective stress, kPa; pa the reference pressure
#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>
#include <string>

#include "site/text.hpp"
#include "velmar/equivalent_linear.hpp"
#include "velmar/errors.hpp"

namespace velmar {

using detail::number;
namespace {


// Below this x = g/gr the Masing damping comes from its series (the closed
// form loses every digit to cancellation as x -> 0).
constexpr double MASING_SERIES_LIMIT = 0.1;
constexpr int MASING_SERIES_TERMS = 14;  // x^14 < 1e-14 below the limit

// The four parameters of a modified-hyperbola curve.
struct Hyperbola {
  double gr;    // percent
  double a;
  double dmin;  // percent
  double b;
};

// Masing damping of the a = 1 hyperbola at x = g/gr, percent:
// (100/pi) [4 (1 + x)(x - ln(1 + x)) / x^2 - 2], which is
// (400/pi) sum_{k>=1} (-1)^(k+1) x^k / ((k+1)(k+2)) for small x.
double masing_a1(double x) {
  if (x < MASING_SERIES_LIMIT) {
    double sum = 0.0;
    for (int k = MASING_SERIES_TERMS; k >= 1; --k) {
      const double kk = static_cast<double>(k);
      sum = x * ((k % 2 == 1 ? 1.0 : -1.0) / ((kk + 1.0) * (kk + 2.0)) + sum);
    }
    return 400.0 / std::numbers::pi * sum;
  }
  return 100.0 / std::numbers::pi * (4.0 * (1.0 + x) * (x - std::log1p(x)) / (x * x) - 2.0);
}

CurvePoint hyperbolic_point(const Hyperbola& h, double strain) {
  const double x = 100.0 * strain / h.gr;
  const double g = 1.0 / (1.0 + std::pow(x, h.a));
  const double d1 = masing_a1(x);
  const double a = h.a;
  const double c1 = -1.1143 * a * a + 1.8618 * a + 0.2523;
  const double c2 = 0.0805 * a * a - 0.0710 * a - 0.0095;
  const double c3 = -0.0005 * a * a + 0.0002 * a + 0.0003;
  const double dm = c1 * d1 + c2 * d1 * d1 + c3 * d1 * d1 * d1;
  return {g, (h.b * std::pow(g, 0.1) * dm + h.dmin) / 100.0, false};
}

double cycles_scaling(double cycles) { return 0.6329 - 0.00566 * std::log(cycles); }

Hyperbola hyperbola(const Darendeli& m, double sm) {
  const double s = sm / ATMOSPHERIC_PRESSURE;
  return {(0.0352 + 0.0010 * m.pi * std::pow(m.ocr, 0.3246)) * std::pow(s, 0.3483), 0.9190,
          (0.8005 + 0.0129 * m.pi * std::pow(m.ocr, -0.1069)) * std::pow(s, -0.2889) *
              (1.0 + 0.2919 * std::log(m.frequency)),
          cycles_scaling(m.cycles)};
}

// The hyperbola with its small-strain damping replaced by the model's
// damping_min, when given (percent in the hyperbola, a ratio in the model).
template <class Model>
Hyperbola with_damping_min(Hyperbola h, const Model& m) {
  if (m.damping_min) h.dmin = 100.0 * *m.damping_min;
  return h;
}

Hyperbola hyperbola(const Menq& m, double sm) {
  const double s = sm / ATMOSPHERIC_PRESSURE;
  return {0.12 * std::pow(m.cu, -0.6) * std::pow(s, 0.5 * std::pow(m.cu, -0.15)), 0.86 + 0.1 * std::log10(s),
          0.55 * std::pow(m.cu, 0.1) * std::pow(m.d50, -0.3) * std::pow(s, -0.08), cycles_scaling(m.cycles)};
}

// Rollins et al. (2020): the mean stress enters in kPa, not over pa.
Hyperbola hyperbola(const Rollins& m, double sm) {
  const double gr =
      m.cu > 0.0 ? 0.0046 * std::pow(m.cu, -0.197) * std::pow(sm, 0.52) : 0.0039 * std::pow(sm, 0.42);
  return {gr, 0.84, 1.0, 0.53 - 0.0057 * std::log(m.cycles)};
}

// Zhang, Andrus and Juang (2005): curvature a, stress exponent k and
// reference strain at pa, gr1 (percent), of each geologic age.
struct ZhangCoefficients {
  double a, k, gr1;
};

ZhangCoefficients zhang_coefficients(const ZhangAndrusJuang& m) {
  switch (m.age) {
    case GeologicAge::TERTIARY:
      return {0.0009 * m.pi + 1.026, 0.316 * std::exp(-0.0110 * m.pi), 0.0004 * m.pi + 0.0311};
    case GeologicAge::RESIDUAL:
      return {0.0043 * m.pi + 0.794, 0.420 * std::exp(-0.0456 * m.pi), 0.0009 * m.pi + 0.0385};
    case GeologicAge::QUATERNARY:
      break;
  }
  return {0.0021 * m.pi + 0.834, 0.316 * std::exp(-0.0142 * m.pi), 0.0011 * m.pi + 0.0749};
}

// G/Gmax from the modified hyperbola; damping from G/Gmax by the quadratic
// fitted to every age, above Dmin.
CurvePoint zhang_point(const ZhangAndrusJuang& m, double strain, double sm) {
  const ZhangCoefficients c = zhang_coefficients(m);
  const double s = sm / ATMOSPHERIC_PRESSURE;
  const double gr = c.gr1 * std::pow(s, c.k);
  const double g = 1.0 / (1.0 + std::pow(100.0 * strain / gr, c.a));
  const double dmin = (0.008 * m.pi + 0.82) * std::pow(s, -0.5 * c.k);
  return {g, (dmin + 10.6 * g * g - 31.6 * g + 21.0) / 100.0, false};
}

// Kishida et al. (2009) for field conditions: ln G, up to a constant, at
// strain gp (percent) with reference strain gr (percent), x2 = ln(s'v/kPa)
// and x3 = 2 / (1 + exp(OC/23)). The interaction coefficients depend on the
// strain through den = ln((1 + gp)/gr), which stays above 0 because gr
// lies between 0.15 and 0.40 %.
double kishida_ln_g(double gp, double gr, double x2, double x3) {
  constexpr double x1m = -2.5, x2m = 4.0, x3m = 0.5;
  const double x1 = std::log(gp + gr);
  const double den = std::log((1.0 + gp) / gr);
  const double shift = 1.0 + (std::log(gr) - x1m) / den;
  const double b3 = 1.0 - 0.37 * x3m * shift;
  const double b6 = 0.37 * x3m / den;
  const double b8 = -0.37 * shift;
  const double b9 = 0.37 / den;
  const double d1 = x1 - x1m, d2 = x2 - x2m, d3 = x3 - x3m;
  return 5.11 - 0.729 * x1 + b3 * x2 - 0.693 * x3 + b6 * d1 * d2 + b8 * d2 * d3 + b9 * d1 * d2 * d3;
}

// G/Gmax is G over its value at zero strain; ln D (percent) is linear in
// x1 = ln(ln(Gmax/G) + 0.103), x2 and x3 with their interactions.
CurvePoint kishida_point(const Kishida& m, double strain, double sm) {
  const double sv = sm * 3.0 / (1.0 + 2.0 * m.k0);
  const double x2 = std::log(sv);
  const double x3 = 2.0 / (1.0 + std::exp(m.organic_content / 23.0));
  const double gr = std::exp(-1.41 - 0.950 * (x3 - 0.5));
  const double g = std::min(1.0, std::exp(kishida_ln_g(100.0 * strain, gr, x2, x3) - kishida_ln_g(0.0, gr, x2, x3)));
  const double x1 = std::log(std::log(1.0 / g) + 0.103);
  const double ln_d = 2.86 + 0.571 * x1 - 0.103 * x2 - 0.141 * x3 + 0.0419 * (x1 + 1.0) * (x2 - 4.0) -
                      0.240 * (x2 - 4.0) * (x3 - 0.5);
  return {g, std::exp(ln_d) / 100.0, false};
}

// Table value at `strain`: linear in ln(strain) between rows, the end row
// outside (flagged as clamped). Rows are checked by check_curve.
CurvePoint table_point(const CurveTable& t, double strain) {
  const std::vector<double>& s = t.strain;
  if (!(strain > s.front())) return {t.g_ratio.front(), t.damping.front(), strain < s.front()};
  if (strain >= s.back()) return {t.g_ratio.back(), t.damping.back(), strain > s.back()};
  const std::size_t hi = static_cast<std::size_t>(std::upper_bound(s.begin(), s.end(), strain) - s.begin());
  const std::size_t lo = hi - 1;
  const double w = std::log(strain / s[lo]) / std::log(s[hi] / s[lo]);
  return {t.g_ratio[lo] + w * (t.g_ratio[hi] - t.g_ratio[lo]), t.damping[lo] + w * (t.damping[hi] - t.damping[lo]),
          false};
}

// Accepted ranges of the model parameters (see equivalent_linear.hpp).
constexpr double MAX_PI = 200.0;         // %
constexpr double MAX_OCR = 50.0;
constexpr double MAX_K0 = 5.0;
constexpr double MIN_FREQUENCY = 0.0326;  // Hz: e^(-1/0.2919) = 0.03252 rounded up
constexpr double MAX_FREQUENCY = 100.0;   // Hz
constexpr double MAX_CYCLES = 1000.0;
constexpr double MAX_CU = 100.0;
constexpr double MIN_D50 = 0.05;   // mm
constexpr double MAX_D50 = 100.0;  // mm
// A table's largest sensible strain (20 %) and damping ratio (50 %): larger
// values are percent typed as ratios.
constexpr double MAX_TABLE_STRAIN = 0.2;
constexpr double MAX_TABLE_DAMPING = 0.5;

[[noreturn]] void refuse(const std::string& model, const std::string& what, double v) {
  throw InvalidArgument(model + ": " + what + ", got " + number(v));
}

// Refuses v outside [low, high] (or not finite) as parameter `name`.
void within(const std::string& model, const char* name, double v, double low, double high) {
  if (!(std::isfinite(v) && v >= low && v <= high)) {
    refuse(model, std::string(name) + " must lie in [" + number(low) + ", " + number(high) + "]", v);
  }
}

// A small-strain damping override: a ratio in [0, 0.5) (percent typed as a
// ratio, 1 for 1 %, is refused with the hint).
void check_damping_min(const std::string& model, const std::optional<double>& d) {
  if (!d) return;
  if (std::isfinite(*d) && *d >= MAX_TABLE_DAMPING && *d < 100.0) {
    refuse(model, "damping_min is a ratio below 0.5; this looks like percent (give percent / 100)", *d);
  }
  if (!(std::isfinite(*d) && *d >= 0.0 && *d < MAX_TABLE_DAMPING)) {
    refuse(model, "damping_min must be a ratio in [0, 0.5)", *d);
  }
}

void check_k0_cycles(const std::string& model, double k0, double cycles) {
  if (!(std::isfinite(k0) && k0 > 0.0 && k0 <= MAX_K0)) {
    refuse(model, "k0 must be above 0 and at most " + number(MAX_K0), k0);
  }
  within(model, "cycles", cycles, 1.0, MAX_CYCLES);
}

void check_table(const CurveTable& t) {
  const std::string model = "curve table";
  const std::size_t n = t.strain.size();
  if (n == 0 || t.g_ratio.size() != n || t.damping.size() != n) {
    std::ostringstream s;
    s << model << ": strain, g_ratio and damping must have the same number of rows (at least 1), got " << n << ", "
      << t.g_ratio.size() << " and " << t.damping.size();
    throw InvalidArgument(s.str());
  }
  // Tables copied from a report are often in percent; as ratios they would
  // reach strains or damping no soil test gives, and the analysis would
  // read the layer as almost linear.
  for (std::size_t i = 0; i < n; ++i) {
    if (std::isfinite(t.strain[i]) && t.strain[i] > MAX_TABLE_STRAIN) {
      refuse(model, "strain[" + std::to_string(i) + "] is above " + number(MAX_TABLE_STRAIN) +
                        ": this looks like percent; give strains as ratios (percent / 100; in Python "
                        "strain_units=\"percent\")",
             t.strain[i]);
    }
    if (std::isfinite(t.damping[i]) && t.damping[i] > MAX_TABLE_DAMPING) {
      refuse(model, "damping[" + std::to_string(i) + "] is above " + number(MAX_TABLE_DAMPING) +
                        ": this looks like percent; give damping as ratios (percent / 100; in Python "
                        "damping_units=\"percent\")",
             t.damping[i]);
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    std::ostringstream index;
    index << '[' << i << ']';
    const std::string row = index.str();
    const double s = t.strain[i], g = t.g_ratio[i], d = t.damping[i];
    if (!(std::isfinite(s) && s > 0.0)) refuse(model, "strain" + row + " must be above 0 (a ratio)", s);
    if (i > 0 && !(s > t.strain[i - 1])) refuse(model, "strain" + row + " must exceed the row before", s);
    if (!(g > 0.0 && g <= 1.0)) refuse(model, "g_ratio" + row + " must lie in (0, 1]", g);
    if (i > 0 && g > t.g_ratio[i - 1]) {
      refuse(model,
             "g_ratio" + row + " must not rise with strain (the row before has " + number(t.g_ratio[i - 1]) + ")", g);
    }
    if (!(d >= 0.0 && d < 1.0)) refuse(model, "damping" + row + " must be a ratio in [0, 1)", d);
  }
}

// The title of a published curve, or "published curve" for an unknown name.
std::string published_title(const PublishedCurve& p) {
  for (const PublishedCurveInfo& info : published_curves()) {
    if (info.name == p.name) return info.title;
  }
  return "published curve";
}

}  // namespace

GeologicAge geologic_age_from_name(const std::string& name, const std::string& option) {
  if (name == "quaternary") return GeologicAge::QUATERNARY;
  if (name == "tertiary") return GeologicAge::TERTIARY;
  if (name == "residual") return GeologicAge::RESIDUAL;
  throw InvalidArgument(option + " must be 'quaternary', 'tertiary' (Tertiary and older) or 'residual' "
                        "(residual soil and saprolite), got '" + name + "'");
}

std::string geologic_age_name(GeologicAge age) {
  switch (age) {
    case GeologicAge::TERTIARY:
      return "tertiary";
    case GeologicAge::RESIDUAL:
      return "residual";
    case GeologicAge::QUATERNARY:
      break;
  }
  return "quaternary";
}

std::string curve_name(const Curve& curve) {
  if (std::holds_alternative<Darendeli>(curve)) return "Darendeli";
  if (std::holds_alternative<Menq>(curve)) return "Menq";
  if (std::holds_alternative<CurveTable>(curve)) return "curve table";
  if (const auto* p = std::get_if<PublishedCurve>(&curve)) return published_title(*p);
  if (std::holds_alternative<ZhangAndrusJuang>(curve)) return "Zhang, Andrus and Juang";
  if (std::holds_alternative<Kishida>(curve)) return "Kishida";
  if (std::holds_alternative<Rollins>(curve)) return "Rollins";
  return "linear";
}

void check_curve(const Curve& curve) {
  if (const auto* d = std::get_if<Darendeli>(&curve)) {
    const std::string model = "Darendeli";
    within(model, "pi (plasticity index, %)", d->pi, 0.0, MAX_PI);
    within(model, "ocr (over-consolidation ratio)", d->ocr, 1.0, MAX_OCR);
    // Below e^(-1/0.2919) Hz the model's small-strain damping turns negative.
    within(model, "frequency (Hz)", d->frequency, MIN_FREQUENCY, MAX_FREQUENCY);
    check_k0_cycles(model, d->k0, d->cycles);
    check_damping_min(model, d->damping_min);
  } else if (const auto* m = std::get_if<Menq>(&curve)) {
    const std::string model = "Menq";
    within(model, "cu (uniformity coefficient)", m->cu, 1.0, MAX_CU);
    within(model, "d50 (mean grain size, mm)", m->d50, MIN_D50, MAX_D50);
    check_k0_cycles(model, m->k0, m->cycles);
    check_damping_min(model, m->damping_min);
  } else if (const auto* t = std::get_if<CurveTable>(&curve)) {
    check_table(*t);
  } else if (const auto* p = std::get_if<PublishedCurve>(&curve)) {
    published_curve_table(p->name);  // refuses an unknown name
  } else if (const auto* z = std::get_if<ZhangAndrusJuang>(&curve)) {
    const std::string model = "Zhang, Andrus and Juang";
    if (z->age != GeologicAge::QUATERNARY && z->age != GeologicAge::TERTIARY && z->age != GeologicAge::RESIDUAL) {
      throw InvalidArgument(model + ": age must be quaternary, tertiary or residual, got the value " +
                            std::to_string(static_cast<int>(z->age)));
    }
    within(model, "pi (plasticity index, %)", z->pi, 0.0, MAX_PI);
    check_k0_cycles(model, z->k0, 1.0);
  } else if (const auto* k = std::get_if<Kishida>(&curve)) {
    const std::string model = "Kishida";
    within(model, "organic_content (%)", k->organic_content, 0.0, 100.0);
    check_k0_cycles(model, k->k0, 1.0);
  } else if (const auto* r = std::get_if<Rollins>(&curve)) {
    const std::string model = "Rollins";
    if (r->cu != 0.0) within(model, "cu (uniformity coefficient; 0 when unknown)", r->cu, 1.0, MAX_CU);
    check_k0_cycles(model, r->k0, r->cycles);
  }
}

void check_curve(const Curve& curve, std::size_t layer) {
  try {
    check_curve(curve);
  } catch (const InvalidArgument& e) {
    // The model's message with the layer in front of it.
    std::string what = e.what();
    const std::string model = curve_name(curve) + ": ";
    if (what.compare(0, model.size(), model) == 0) what.erase(0, model.size());
    throw InvalidArgument("curves[" + std::to_string(layer) + "] (" + detail::layer_name(layer) + ", " +
                          curve_name(curve) + "): " + what);
  }
}

double curve_k0(const Curve& curve) {
  if (const auto* d = std::get_if<Darendeli>(&curve)) return d->k0;
  if (const auto* m = std::get_if<Menq>(&curve)) return m->k0;
  if (const auto* z = std::get_if<ZhangAndrusJuang>(&curve)) return z->k0;
  if (const auto* k = std::get_if<Kishida>(&curve)) return k->k0;
  if (const auto* r = std::get_if<Rollins>(&curve)) return r->k0;
  return 0.5;
}

CurvePoint evaluate_curve(const Curve& curve, double strain, double mean_stress) {
  if (const auto* d = std::get_if<Darendeli>(&curve)) {
    return hyperbolic_point(with_damping_min(hyperbola(*d, mean_stress), *d), strain);
  }
  if (const auto* m = std::get_if<Menq>(&curve)) {
    return hyperbolic_point(with_damping_min(hyperbola(*m, mean_stress), *m), strain);
  }
  if (const auto* t = std::get_if<CurveTable>(&curve)) return table_point(*t, strain);
  if (const auto* p = std::get_if<PublishedCurve>(&curve)) return table_point(published_curve_table(p->name), strain);
  if (const auto* z = std::get_if<ZhangAndrusJuang>(&curve)) return zhang_point(*z, strain, mean_stress);
  if (const auto* k = std::get_if<Kishida>(&curve)) return kishida_point(*k, strain, mean_stress);
  if (const auto* r = std::get_if<Rollins>(&curve)) return hyperbolic_point(hyperbola(*r, mean_stress), strain);
  return {};
}

double vertical_effective_stress(const Profile& profile, double z, std::optional<double> water_table) {
  double total = 0.0;
  for (std::size_t i = 0; i <= profile.layers(); ++i) {
    const double top = profile.top_depth(i);
    if (top >= z) break;
    const double bottom = i == profile.layers() ? z : std::min(z, profile.top_depth(i + 1));
    total += UNIT_WEIGHT_PER_DENSITY * profile.density()[i] * (bottom - top);
  }
  const double pore = water_table ? WATER_UNIT_WEIGHT * std::max(0.0, z - *water_table) : 0.0;
  return total - pore;
}

}  // namespace velmar
