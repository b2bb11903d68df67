// nonlinear.cpp: the lumped-mass soil column integrated in time (see
// include/velmar/nonlinear.hpp for the model, the base, the damping and the
// integration).
#include "velmar/nonlinear.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <utility>

#include "signal/fft_double.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"

namespace velmar {

namespace {

using detail::layer_name;
using detail::number;
using detail::refuse;

constexpr std::size_t NM = NONLINEAR_MECHANISMS;
constexpr double TWO_PI = 2.0 * std::numbers::pi;

// A stretch of one layer (or of the half-space's rock below its top) in the
// column, cut into n equal sublayers.
struct Segment {
  std::size_t layer = 0;  // given layer; profile.layers() for the rock below the half-space's top
  double top = 0.0, bottom = 0.0;
  double rho = 0.0, vs = 0.0;
  std::size_t n = 1;
};

// Relaxation frequencies and unit weights of the frequency-independent
// damping: sum_l w_l (w wl / (w^2 + wl^2)) ~ 1 over [f_lo, f_hi], so
// stiffnesses k_l = 2 xi w_l G give a loss factor 2 xi there.
struct Band {
  std::array<double, NM> omega{}, weight{};
  double stiffening = 0.0;  // sum_l w_l wr^2 / (wr^2 + wl^2) at the reference wr = 2 pi f_ref
};

// Least-squares weights of `count` mechanisms spaced evenly in log over
// [f_lo, f_hi] (normal equations over 64 log-spaced frequencies of the
// band, Gaussian elimination with pivoting); false if a weight is not above 0.
bool fit_mechanisms(double f_lo, double f_hi, double f_ref, std::size_t count, Band& b) {
  b = Band{};
  for (std::size_t l = 0; l < count; ++l) {
    const double x = count > 1 ? static_cast<double>(l) / static_cast<double>(count - 1) : 0.5;
    b.omega[l] = TWO_PI * f_lo * std::pow(f_hi / f_lo, x);
  }
  std::array<std::array<double, NM + 1>, NM> a{};
  constexpr int K = 64;
  for (int k = 0; k < K; ++k) {
    const double w = TWO_PI * f_lo * std::pow(f_hi / f_lo, static_cast<double>(k) / (K - 1));
    std::array<double, NM> phi{};
    for (std::size_t l = 0; l < count; ++l) phi[l] = w * b.omega[l] / (w * w + b.omega[l] * b.omega[l]);
    for (std::size_t i = 0; i < count; ++i) {
      for (std::size_t j = 0; j < count; ++j) a[i][j] += phi[i] * phi[j];
      a[i][NM] += phi[i];
    }
  }
  for (std::size_t c = 0; c < count; ++c) {
    std::size_t p = c;
    for (std::size_t r = c + 1; r < count; ++r)
      if (std::abs(a[r][c]) > std::abs(a[p][c])) p = r;
    std::swap(a[c], a[p]);
    for (std::size_t r = c + 1; r < count; ++r) {
      const double f = a[r][c] / a[c][c];
      for (std::size_t j = c; j < count; ++j) a[r][j] -= f * a[c][j];
      a[r][NM] -= f * a[c][NM];
    }
  }
  for (std::size_t c = count; c-- > 0;) {
    double s = a[c][NM];
    for (std::size_t j = c + 1; j < count; ++j) s -= a[c][j] * b.weight[j];
    b.weight[c] = s / a[c][c];
  }
  for (std::size_t l = 0; l < count; ++l)
    if (!(b.weight[l] > 0.0)) return false;
  const double wr = TWO_PI * f_ref;
  for (std::size_t l = 0; l < count; ++l) b.stiffening += b.weight[l] * wr * wr / (wr * wr + b.omega[l] * b.omega[l]);
  return true;
}

// The mechanisms of a band (f_ref: where the soil spring's scaling makes
// the modulus Gmax): 1 + ceil(log10(f_hi / f_lo)) of them (2 to
// NM; fewer if a weight would not be positive): the loss factor then stays
// within about 5 % of flat over bands up to 1000 wide (8 % at 20 000).
Band fit_band(double f_lo, double f_hi, double f_ref) {
  const double want = 1.0 + std::ceil(std::log10(f_hi / f_lo) - 1e-9);
  std::size_t count = static_cast<std::size_t>(std::clamp(want, 2.0, static_cast<double>(NM)));
  Band b;
  while (!fit_mechanisms(f_lo, f_hi, f_ref, count, b) && count > 1) --count;
  return b;
}

// One sublayer's spring: the soil (a hysteretic state, or linear at g0),
// scaled by `scale`, and its viscous element.
struct Spring {
  double h = 0.0, g0 = 0.0, scale = 1.0;
  double eta = 0.0;                    // Rayleigh: stress eta x strain rate
  std::array<double, NM> mk{}, ma{}, mb{};  // Maxwell: stiffness, trapezoidal decay and gain
  std::array<double, NM> q{};          // committed Maxwell stresses
  std::size_t soil = SIZE_MAX;         // index into the soil states, SIZE_MAX: linear
  double gamma = 0.0, gdot = 0.0;      // committed strain and strain rate
  double tau_soil = 0.0, tau_visc = 0.0;
  double k_soil = 0.0;                 // the soil's tangent at its last evaluation
  // The trial of the current iteration.
  double t_gamma = 0.0, t_soil = 0.0, t_visc = 0.0, t_k = 0.0;
};

// Solves the tridiagonal system (sub/super diagonal off[i] between i and
// i + 1) in place into x; cp is work space.
void solve_tridiagonal(const std::vector<double>& diag, const std::vector<double>& off, std::vector<double>& x,
                       std::vector<double>& cp) {
  const std::size_t n = diag.size();
  double b = diag[0];
  cp[0] = n > 1 ? off[0] / b : 0.0;
  x[0] /= b;
  for (std::size_t i = 1; i < n; ++i) {
    b = diag[i] - off[i - 1] * cp[i - 1];
    cp[i] = i + 1 < n ? off[i] / b : 0.0;
    x[i] = (x[i] - off[i - 1] * x[i - 1]) / b;
  }
  for (std::size_t i = n - 1; i-- > 0;) x[i] -= cp[i] * x[i + 1];
}

// The record (times to_si) at every sub-step: out[n sub + s] is the
// band-limited (DFT) interpolant of the samples at t = (n + s / sub) dt, the
// reading of a record the frequency-domain analyses make. The record is
// padded with zeros to at least twice its length (as they pad it), so its
// end does not wrap onto its start. Linear interpolation between samples
// would filter the input by sinc^2(f dt) (-3 % at 10 Hz, -19 % at 25 Hz for
// a 100 Hz record) and fold images of it above the Nyquist frequency back.
std::vector<double> input_at_substeps(const std::vector<double>& rec, double to_si, std::size_t sub) {
  const std::size_t n = rec.size();
  std::vector<double> out((n - 1) * sub + 1);
  if (sub == 1 || n < 2) {
    for (std::size_t i = 0; i < n; ++i) out[i * sub] = rec[i] * to_si;
    return out;
  }
  const std::size_t m = detail::fft_fast_length(2 * n);
  const detail::FftPlan plan(m);
  std::vector<std::complex<double>> spec(m), x(m);
  for (std::size_t i = 0; i < n; ++i) spec[i] = rec[i] * to_si;
  plan.transform(spec, -1);
  const double norm = 1.0 / static_cast<double>(m);
  for (std::size_t i = 0; i < n; ++i) out[i * sub] = rec[i] * to_si;
  for (std::size_t s = 1; s < sub; ++s) {
    // A delay of -s / sub samples: bin k (signed, |k| < m/2) turns by
    // exp(2 pi i k s / (sub m)); the Nyquist bin, shared by +m/2 and -m/2,
    // keeps its real part cos(pi s / sub).
    const double frac = static_cast<double>(s) / static_cast<double>(sub);
    for (std::size_t k = 0; k < m; ++k) {
      const double kk = k <= m / 2 ? static_cast<double>(k) : static_cast<double>(k) - static_cast<double>(m);
      if (2 * k == m) {
        x[k] = spec[k] * std::cos(std::numbers::pi * frac) * norm;
      } else {
        x[k] = spec[k] * std::polar(norm, TWO_PI * kk * frac / static_cast<double>(m));
      }
    }
    plan.transform(x, 1);
    for (std::size_t i = 0; i + 1 < n; ++i) out[i * sub + s] = x[i].real();
  }
  return out;
}

std::string time_text(double t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.4g", t);
  return buf;
}

}  // namespace

ViscousDamping viscous_damping_from_name(std::string_view name) {
  const std::string n = detail::lower(name);
  if (n == "frequency_independent") return ViscousDamping::FREQUENCY_INDEPENDENT;
  if (n == "rayleigh") return ViscousDamping::RAYLEIGH;
  throw InvalidArgument("viscous must be 'frequency_independent' or 'rayleigh', got '" + std::string(name) + "'");
}

ColumnBase column_base_from_name(std::string_view name) {
  const std::string n = detail::lower(name);
  if (n == "elastic") return ColumnBase::ELASTIC;
  if (n == "rigid") return ColumnBase::RIGID;
  throw InvalidArgument("base must be 'elastic' or 'rigid', got '" + std::string(name) + "'");
}

void check_nonlinear_options(const NonlinearOptions& o) {
  if (o.water_table && !(*o.water_table >= 0.0 && std::isfinite(*o.water_table)))
    refuse("water_table", *o.water_table, "must be 0 or more (m) and finite");
  for (std::size_t i = 0; i < o.strength.size(); ++i) {
    if (o.strength[i] && !(*o.strength[i] > 0.0 && std::isfinite(*o.strength[i])))
      refuse("strength[" + std::to_string(i) + "]", *o.strength[i], "must be above 0 (kPa) and finite");
  }
  if (o.strength.size() > 0 && o.model == SoilModelKind::MKZ) {
    for (const auto& s : o.strength)
      if (s) throw InvalidArgument("strength is a parameter of the GQ/H model; MKZ has none: give model 'gqh' or no strength");
  }
  if (o.rayleigh_frequencies.size() > 2)
    throw InvalidArgument("rayleigh_frequencies takes one or two frequencies, got " +
                          std::to_string(o.rayleigh_frequencies.size()));
  for (std::size_t i = 0; i < o.rayleigh_frequencies.size(); ++i) {
    const double f = o.rayleigh_frequencies[i];
    if (!(f > 0.0 && f <= 1000.0)) refuse("rayleigh_frequencies[" + std::to_string(i) + "]", f, "must lie in (0, 1000] Hz");
  }
  if (o.rayleigh_frequencies.size() == 2 && !(o.rayleigh_frequencies[0] < o.rayleigh_frequencies[1]))
    throw InvalidArgument("rayleigh_frequencies must rise (f1 < f2), got " + number(o.rayleigh_frequencies[0]) + " and " +
                          number(o.rayleigh_frequencies[1]));
  if (!o.rayleigh_frequencies.empty() && o.viscous != ViscousDamping::RAYLEIGH)
    throw InvalidArgument("rayleigh_frequencies are for viscous 'rayleigh' only");
  if (o.base == ColumnBase::ELASTIC && o.input == InputMotion::WITHIN)
    throw InvalidArgument("input 'within' is the total motion at a depth: it needs base 'rigid' (an elastic base takes "
                          "an 'outcrop' or 'incident' record)");
  if (o.base == ColumnBase::RIGID && o.input != InputMotion::WITHIN)
    throw InvalidArgument("base 'rigid' takes the record as the total motion at the base: give input 'within' (an outcrop "
                          "record needs base 'elastic')");
  if (!(o.input_depth >= 0.0 && std::isfinite(o.input_depth))) refuse("input_depth", o.input_depth, "must be 0 or more (m)");
  if (o.input != InputMotion::WITHIN && o.input_depth != 0.0)
    refuse("input_depth", o.input_depth, "is for a 'within' input only; must be 0");
  if (!std::isfinite(o.scale)) refuse("scale", o.scale, "must be finite");
  if (!(o.max_frequency >= 1.0 && o.max_frequency <= 200.0)) refuse("max_frequency", o.max_frequency, "must lie in [1, 200] Hz");
  if (!(o.strain_limit > 0.0 && o.strain_limit <= 10.0)) refuse("strain_limit", o.strain_limit, "must lie in (0, 10]");
  if (o.max_iterations < 2 || o.max_iterations > 1000)
    refuse("max_iterations", o.max_iterations, "must lie in [2, 1000]");
  if (!(o.tolerance > 0.0 && o.tolerance <= 1e-3)) refuse("tolerance", o.tolerance, "must lie in (0, 0.001]");
}

NonlinearResult nonlinear(const Record& record, const Profile& profile, const NonlinearOptions& o) {
  check_record(record);
  check_nonlinear_options(o);
  check_density(profile);
  const std::size_t L = profile.layers();
  if (L == 0) throw InvalidArgument("the profile has no layer above the half-space: there is no column to analyse");
  const bool curves_all = o.curves.size() == 1;
  if (o.curves.empty() ? !o.linear : (!curves_all && o.curves.size() != L))
    throw InvalidArgument("curves has " + std::to_string(o.curves.size()) + " entries where the profile has " +
                          std::to_string(L) + " layers: give one curve for all layers or one per layer");
  if (!(o.strength.size() <= 1 || o.strength.size() == L))
    throw InvalidArgument("strength has " + std::to_string(o.strength.size()) + " entries where the profile has " +
                          std::to_string(L) + " layers: give none, one for all layers or one per layer");
  if (!o.models.empty() && o.models.size() != L)
    throw InvalidArgument("models has " + std::to_string(o.models.size()) + " entries where the profile has " +
                          std::to_string(L) + " layers: give none or one per layer");
  for (std::size_t i = 0; i < (o.linear ? 0 : o.models.size()); ++i) {
    if (std::holds_alternative<LinearLayer>(o.curves.empty() ? Curve{} : o.curves[o.curves.size() == 1 ? 0 : i])) continue;
    try {
      check_soil_model(o.models[i]);
    } catch (const InvalidArgument& e) {
      throw InvalidArgument("models[" + std::to_string(i) + "] (" + layer_name(i) + "): " + e.what());
    }
  }
  static const Curve linear_curve = LinearLayer{};
  const auto curve_of = [&](std::size_t i) -> const Curve& {
    return o.curves.empty() ? linear_curve : o.curves[curves_all ? 0 : i];
  };
  for (std::size_t i = 0; i < L; ++i)
    if (!curves_all || i == 0) check_curve(curve_of(i), i);

  const double H = profile.halfspace_depth();
  const bool rigid = o.base == ColumnBase::RIGID;
  const double base_depth = rigid && o.input_depth > 0.0 ? o.input_depth : H;
  const auto& th = profile.thickness();
  const auto& rho = profile.density();
  const auto& vs = profile.vs();
  const auto& xi_profile = profile.damping_s();

  // The column's segments, top down.
  std::vector<Segment> seg;
  for (std::size_t i = 0; i < L && profile.top_depth(i) < base_depth; ++i) {
    Segment s;
    s.layer = i, s.top = profile.top_depth(i), s.bottom = std::min(s.top + th[i], base_depth);
    s.rho = rho[i], s.vs = vs[i];
    seg.push_back(s);
  }
  if (base_depth > H) {
    Segment s;
    s.layer = L, s.top = H, s.bottom = base_depth, s.rho = rho[L], s.vs = vs[L];
    seg.push_back(s);
  }
  const std::size_t reported = seg.back().layer == L ? seg.size() - 1 : seg.size();
  double springs_total = 0.0, travel = 0.0;
  for (Segment& s : seg) {
    const double hmax = s.vs / (4.0 * o.max_frequency);
    double n = std::ceil((s.bottom - s.top) / hmax * (1.0 - 1e-12));
    n = std::max(n, 1.0);
    if (std::fmod(n, 2.0) == 0.0) n += 1.0;
    springs_total += n;
    if (springs_total > MAX_SUBLAYERS)
      throw InvalidArgument("the column needs more than " + number(MAX_SUBLAYERS) + " sublayers for max_frequency " +
                            number(o.max_frequency) + " Hz: lower max_frequency or use thicker, stiffer layers");
    s.n = static_cast<std::size_t>(n);
    travel += (s.bottom - s.top) / s.vs;
  }
  const std::size_t N = static_cast<std::size_t>(springs_total);
  const std::size_t nodes = N + 1;
  const std::size_t n_samples = record.accel.size();
  const double stored = static_cast<double>(n_samples) * (3.0 * static_cast<double>(nodes) + 2.0 * static_cast<double>(reported));
  if (stored > MAX_STRAIN_SPECTRUM_VALUES)
    throw InvalidArgument("the result would hold " + number(stored) + " history values (" + std::to_string(nodes) +
                          " nodes over " + std::to_string(n_samples) + " samples), more than " +
                          number(MAX_STRAIN_SPECTRUM_VALUES) + ": shorten the record or lower max_frequency");

  NonlinearResult res;
  res.samples = n_samples;
  res.dt = record.dt;
  res.units = std::string(acceleration_unit_name(record.units));
  const double to_si = acceleration_unit(record.units) * o.scale;  // m/s2 per record unit, scaled
  const double out_si = acceleration_unit(record.units);
  res.site_frequency = 1.0 / (4.0 * travel);

  // Per reported layer: stresses, the fit, the damping.
  res.layer_depth.resize(reported);
  res.sublayers.resize(reported);
  res.vertical_stress.resize(reported);
  res.mean_stress.resize(reported);
  res.gmax.resize(reported);
  res.small_strain_damping.resize(reported);
  res.models.resize(reported);
  res.linear.resize(reported);
  std::vector<std::size_t> mid_spring(reported), top_node(reported);
  for (std::size_t r = 0; r < reported; ++r) {
    const Segment& s = seg[r];
    const Curve& c = curve_of(r);
    const double z = 0.5 * (s.top + s.bottom);
    res.layer_depth[r] = z;
    res.sublayers[r] = s.n;
    res.gmax[r] = s.rho * s.vs * s.vs;
    res.vertical_stress[r] = vertical_effective_stress(profile, z, o.water_table);
    res.mean_stress[r] = mean_effective_stress(res.vertical_stress[r], curve_k0(c));
    const bool lin_curve = std::holds_alternative<LinearLayer>(c);
    if (!lin_curve && !(res.mean_stress[r] > 0.0))
      throw InvalidArgument(layer_name(r) + ": mean effective stress at its middle (" + number(z) + " m) is " +
                            number(res.mean_stress[r]) +
                            " kPa, not above 0 (soil lighter than water below the water table): check the density "
                            "and water_table");
    if (lin_curve || o.linear) {
      // Elastic: the profile's damping, or the curve's at its smallest strain.
      const double xi = lin_curve ? xi_profile[r] : evaluate_curve(c, FIT_STRAIN_MIN, res.mean_stress[r]).damping;
      res.small_strain_damping[r] = xi;
      res.models[r].gmax = res.gmax[r];
      res.models[r].mean_stress = res.mean_stress[r];
      res.models[r].dmin = xi;
    } else {
      const std::optional<double> strength =
          o.strength.empty() ? std::nullopt : o.strength[o.strength.size() == 1 ? 0 : r];
      try {
        res.models[r] = o.models.empty()
                            ? fit_soil_model(c, res.gmax[r], res.mean_stress[r], o.model, strength, o.unload)
                            : o.models[r];
      } catch (const InvalidArgument& e) {
        throw InvalidArgument("curves[" + std::to_string(r) + "] (" + layer_name(r) + ", " + curve_name(c) +
                              "): " + e.what());
      }
      if (std::abs(res.models[r].gmax - res.gmax[r]) > 1e-3 * res.gmax[r])
        throw InvalidArgument("models[" + std::to_string(r) + "] (" + layer_name(r) + "): gmax " +
                              number(res.models[r].gmax) + " kPa differs from the layer's density x vs^2 = " +
                              number(res.gmax[r]) + " kPa: fit the model with the layer's gmax");
      res.small_strain_damping[r] = res.models[r].dmin;
    }
    res.linear[r] = lin_curve || o.linear;
  }
  for (std::size_t r = 0; r < reported; ++r) {
    if (!(res.small_strain_damping[r] >= 0.0 && res.small_strain_damping[r] <= 0.25))
      throw InvalidArgument(layer_name(r) + ": small-strain damping " + number(res.small_strain_damping[r]) +
                            " outside [0, 0.25], beyond what viscous damping of a column represents");
  }

  // Damping parameters.
  const double f_site = res.site_frequency;
  Band band;
  double a0_unit = 0.0, a1_unit = 0.0;  // Rayleigh coefficients per unit xi
  if (o.viscous == ViscousDamping::FREQUENCY_INDEPENDENT) {
    // Up to the record's Nyquist frequency when it lies above
    // max_frequency, at most 2 max_frequency: the column passes content up
    // to about 2.5 max_frequency (its sublayers' cut-off), less accurately,
    // and mechanisms fitted only up to max_frequency would damp it less
    // than the profile says (70 % of xi at twice the band's top).
    const double f_hi = std::max(o.max_frequency, std::min(0.5 / record.dt, 2.0 * o.max_frequency));
    const double f_lo = std::min(0.5 * f_site, o.max_frequency / 8.0);
    // The modulus is Gmax at the band's middle (in log): there the causal
    // damping's stiffening with frequency strays least from a constant
    // modulus.
    band = fit_band(f_lo, f_hi, std::sqrt(f_lo * f_hi));
    res.damping_frequencies = {f_lo, f_hi};
  } else {
    std::vector<double> f = o.rayleigh_frequencies;
    if (f.empty()) f = {f_site, 5.0 * f_site};
    if (f.size() == 1) {
      a0_unit = TWO_PI * f[0], a1_unit = 1.0 / (TWO_PI * f[0]);
    } else {
      const double w1 = TWO_PI * f[0], w2 = TWO_PI * f[1];
      a0_unit = 2.0 * w1 * w2 / (w1 + w2), a1_unit = 2.0 / (w1 + w2);
    }
    res.damping_frequencies = f;
  }

  // Sub-steps.
  const double sub = std::max(1.0, std::ceil(8.0 * o.max_frequency * record.dt * (1.0 - 1e-12)));
  const std::size_t substeps = static_cast<std::size_t>(sub);
  const double dt = record.dt / sub;
  res.steps = n_samples > 0 ? n_samples - 1 : 0;
  res.substeps = substeps;

  // Springs, soil states, masses.
  std::vector<Spring> spring(N);
  std::vector<SoilState> soil;
  // mass: the mass matrix's diagonal, moff[i]: its entry between nodes i and
  // i + 1; mrow: its row sums (the lumped masses); cmass: Rayleigh's mass
  // term (lumped).
  std::vector<double> mass(nodes, 0.0), moff(nodes, 0.0), mrow(nodes, 0.0), cmass(nodes, 0.0);
  std::vector<std::size_t> seg_of(N);
  {
    std::size_t j = 0;
    for (std::size_t k = 0; k < seg.size(); ++k) {
      const Segment& s = seg[k];
      const bool rock = s.layer == L;
      const double xi = rock ? xi_profile[L] : res.small_strain_damping[k];
      const double g0 = s.rho * s.vs * s.vs;
      const bool lin = rock || res.linear[k];
      const double h = (s.bottom - s.top) / static_cast<double>(s.n);
      if (k < reported) {
        mid_spring[k] = j + s.n / 2;
        top_node[k] = j;
      }
      for (std::size_t m = 0; m < s.n; ++m, ++j) {
        Spring& sp = spring[j];
        seg_of[j] = k;
        sp.h = h, sp.g0 = g0;
        if (!lin) {
          sp.soil = soil.size();
          soil.emplace_back(res.models[k]);
        }
        if (o.viscous == ViscousDamping::FREQUENCY_INDEPENDENT) {
          sp.scale = 1.0 - 2.0 * xi * band.stiffening;
          for (std::size_t l = 0; l < NM; ++l) {
            const double hh = 0.5 * band.omega[l] * dt;
            sp.mk[l] = 2.0 * xi * band.weight[l] * g0;
            sp.ma[l] = (1.0 - hh) / (1.0 + hh);
            sp.mb[l] = sp.mk[l] / (1.0 + hh);
          }
        } else {
          sp.eta = xi * a1_unit * g0;
          cmass[j] += 0.5 * s.rho * h * xi * a0_unit;
          cmass[j + 1] += 0.5 * s.rho * h * xi * a0_unit;
        }
        sp.k_soil = sp.scale * g0;
        // A mix of the lumped and the consistent mass of the sublayer,
        // rho h [1/2 - a/6, a/6; a/6, 1/2 - a/6]. The lumped mass alone slows
        // a wave by (k h)^2 / 24 (10 % at a quarter wavelength), the
        // consistent one speeds it by as much, so a = 1/2 cancels the
        // second-order error of space; Newmark's average acceleration then
        // lowers every frequency by (w dt)^2 / 12, which a further C^2 (C =
        // Vs dt / h, the sublayer's Courant number) cancels. Capped at the
        // consistent mass (a = 1), where thin stiff sublayers carry little.
        const double courant = s.vs * dt / h;
        const double mix = std::min(1.25, 0.5 + courant * courant);
        const double me = s.rho * h;
        mass[j] += me * (0.5 - mix / 6.0);
        mass[j + 1] += me * (0.5 - mix / 6.0);
        moff[j] = me * mix / 6.0;
        mrow[j] += 0.5 * me;
        mrow[j + 1] += 0.5 * me;
      }
    }
  }
  res.node_depth.resize(nodes);
  {
    std::size_t j = 0;
    for (const Segment& s : seg) {
      const double h = (s.bottom - s.top) / static_cast<double>(s.n);
      for (std::size_t m = 0; m < s.n; ++m, ++j) res.node_depth[j] = s.top + h * static_cast<double>(m);
    }
    res.node_depth[N] = seg.back().bottom;
  }
  res.accel_depth.resize(reported + 1);
  for (std::size_t r = 0; r < reported; ++r) res.accel_depth[r] = res.node_depth[top_node[r]];
  res.accel_depth[reported] = res.node_depth[N];

  // The base dashpot (elastic) and the input factor.
  const double c_base = rigid ? 0.0 : rho[L] * vs[L];
  const double f_in = o.input == InputMotion::INCIDENT ? 2.0 : 1.0;
  const std::size_t dof = rigid ? N : N + 1;

  // State (absolute over an elastic base, relative over a rigid one).
  std::vector<double> u(dof, 0.0), v(dof, 0.0), a(dof, 0.0), un(dof), vn(dof), an(dof);
  std::vector<double> R(dof), diag(dof), off(dof), cp(dof);
  res.accel.assign(nodes * n_samples, 0.0);
  res.velocity.assign(nodes * n_samples, 0.0);
  res.displacement.assign(nodes * n_samples, 0.0);
  res.strain.assign(reported * n_samples, 0.0);
  res.stress.assign(reported * n_samples, 0.0);
  const std::vector<double> gin = input_at_substeps(record.accel, to_si, substeps);
  double ag = gin[0], vg = 0.0, ug = 0.0;  // base motion (rigid) or outcrop motion (elastic)
  if (rigid) {
    // M a = -(row sums of M) a_base: the column at rest relative to its base.
    for (std::size_t i = 0; i < dof; ++i) {
      diag[i] = mass[i], off[i] = i + 1 < dof ? moff[i] : 0.0;
      a[i] = -mrow[i] * ag;
    }
    solve_tridiagonal(diag, off, a, cp);
  }

  NonlinearEnergy& E = res.energy;
  double w_soil = 0.0, w_visc = 0.0, w_mass = 0.0;
  double max_input = 0.0, max_imbalance = 0.0;

  const auto store = [&](std::size_t n) {
    for (std::size_t k = 0; k < nodes; ++k) {
      const bool free = k < dof;
      const double ak = free ? a[k] : 0.0, vk = free ? v[k] : 0.0, uk = free ? u[k] : 0.0;
      const std::size_t at = n * nodes + k;
      if (rigid) {
        res.accel[at] = (ak + ag) / out_si, res.velocity[at] = vk + vg, res.displacement[at] = uk + ug;
      } else {
        res.accel[at] = ak / out_si, res.velocity[at] = vk, res.displacement[at] = uk;
      }
    }
    for (std::size_t r = 0; r < reported; ++r) {
      const Spring& sp = spring[mid_spring[r]];
      res.strain[n * reported + r] = sp.gamma;
      res.stress[n * reported + r] = sp.tau_soil + sp.tau_visc;
    }
  };
  store(0);

  const double c2 = 2.0 / dt, c3 = 4.0 / dt, c4 = 4.0 / (dt * dt);
  // A floor of the residual test: tolerance x the largest input force (the
  // record's peak times the column's mass), so quiet stretches (tiny forces
  // near underflow) count as converged.
  double peak_in = 0.0, total_mass = 0.0;
  for (double x : record.accel) peak_in = std::max(peak_in, std::abs(x * to_si));
  for (double m : mrow) total_mass += m;
  const double r_floor = 1e-3 * o.tolerance * peak_in * total_mass;
  const auto strain_at = [&](const std::vector<double>& x, std::size_t j) {
    const double lower = j + 1 < dof ? x[j + 1] : (rigid ? 0.0 : x[j + 1]);
    return (lower - x[j]) / spring[j].h;
  };

  for (std::size_t n = 0; n + 1 < n_samples; ++n) {
    if (o.interrupt && n % 500 == 0) poll_interrupt(o.interrupt);
    for (std::size_t s = 0; s < substeps; ++s) {
      const double g0 = gin[n * substeps + s], g1 = gin[n * substeps + s + 1];
      const double vg1 = vg + 0.5 * dt * (g0 + g1);
      const double ug1 = ug + dt * vg + 0.25 * dt * dt * (g0 + g1);
      // The first iteration starts from the committed state (un = u), where
      // every soil spring's stress is known and its tangent is taken from
      // its last evaluation: no soil evaluation, and the Newton step from
      // there is the linearised solution of the sub-step.
      for (std::size_t i = 0; i < dof; ++i) un[i] = u[i];
      int it = 0;
      bool fresh = true;  // the springs' trial values are those at un
      for (;; ++it) {
        for (std::size_t i = 0; i < dof; ++i) {
          an[i] = c4 * (un[i] - u[i]) - c3 * v[i] - a[i];
          vn[i] = c2 * (un[i] - u[i]) - v[i];
        }
        for (std::size_t j = 0; j < N; ++j) {
          Spring& sp = spring[j];
          const double g = strain_at(un, j);
          double kt = sp.g0, ts = 0.0;
          if (sp.soil == SIZE_MAX) {
            ts = sp.scale * sp.g0 * g, kt = sp.scale * sp.g0;
          } else if (it == 0) {
            ts = sp.tau_soil, kt = sp.k_soil;
          } else {
            ts = sp.scale * soil[sp.soil].trial(g, &kt), kt *= sp.scale;
            sp.k_soil = kt;
          }
          double tv = 0.0, kv = 0.0;
          if (o.viscous == ViscousDamping::FREQUENCY_INDEPENDENT) {
            const double dg = g - sp.gamma;
            for (std::size_t l = 0; l < NM; ++l) tv += sp.ma[l] * sp.q[l] + sp.mb[l] * dg, kv += sp.mb[l];
          } else {
            tv = sp.eta * (c2 * (g - sp.gamma) - sp.gdot);
            kv = sp.eta * c2;
          }
          sp.t_gamma = g, sp.t_soil = ts, sp.t_visc = tv, sp.t_k = (kt + kv) / sp.h;
        }
        double rmax = 0.0, fscale = 0.0;
        std::size_t worst = 0;
        for (std::size_t i = 0; i < dof; ++i) {
          const double below = i < N ? spring[i].t_soil + spring[i].t_visc : 0.0;
          const double above = i > 0 ? spring[i - 1].t_soil + spring[i - 1].t_visc : 0.0;
          double f_ext = rigid ? -mrow[i] * g1 : 0.0;
          double dash = 0.0;
          if (!rigid && i == N) f_ext = f_in * c_base * vg1, dash = c_base * vn[i];
          const double inertia = mass[i] * an[i] + (i > 0 ? moff[i - 1] * an[i - 1] : 0.0) +
                                 (i + 1 < dof ? moff[i] * an[i + 1] : 0.0);
          const double damp = cmass[i] * vn[i];
          R[i] = inertia + damp + dash - below + above - f_ext;
          fscale = std::max(fscale, std::abs(inertia) + std::abs(damp) + std::abs(dash) + std::abs(below) +
                                        std::abs(above) + std::abs(f_ext));
          if (std::abs(R[i]) > rmax) rmax = std::abs(R[i]), worst = i;
        }
        if (!std::isfinite(rmax) || !std::isfinite(fscale)) {
          throw AnalysisError("nonlinear: the state became non-finite at t = " +
                              time_text(record.dt * (static_cast<double>(n) + static_cast<double>(s + 1) / sub)) +
                              " s: the input (scale " + number(o.scale) + ") is beyond what the column can carry");
        }
        if (rmax <= o.tolerance * fscale || rmax <= r_floor) break;
        if (it + 1 >= o.max_iterations) {
          const std::size_t lay = seg_of[std::min(worst, N - 1)];
          throw AnalysisError("nonlinear: the iterations did not converge at t = " +
                              time_text(record.dt * (static_cast<double>(n) + static_cast<double>(s + 1) / sub)) +
                              " s within " + std::to_string(o.max_iterations) + " iterations (largest residual " +
                              number(rmax / fscale) + " of the forces, near " +
                              (lay < reported ? layer_name(lay) : std::string("the base")) +
                              "): the input (scale " + number(o.scale) +
                              ") drives the soil beyond its strength; lower scale, check the strength, or "
                              "raise max_iterations");
        }
        for (std::size_t i = 0; i < dof; ++i) {
          diag[i] = mass[i] * c4 + cmass[i] * c2 + (i < N ? spring[i].t_k : 0.0) + (i > 0 ? spring[i - 1].t_k : 0.0);
          if (!rigid && i == N) diag[i] += c_base * c2;
          off[i] = i + 1 < dof ? moff[i] * c4 - spring[i].t_k : 0.0;
          R[i] = -R[i];
        }
        solve_tridiagonal(diag, off, R, cp);
        double dmax = 0.0, umax = 0.0;
        for (std::size_t i = 0; i < dof; ++i) {
          un[i] += R[i];
          dmax = std::max(dmax, std::abs(R[i]));
          umax = std::max(umax, std::abs(un[i] - u[i]));
        }
        // A Newton correction this small leaves an error of its square:
        // accept without another evaluation (the commit below evaluates).
        if (it > 0 && dmax <= 1e-7 * umax) {
          fresh = false;
          ++it;
          break;
        }
      }
      if (!fresh) {
        for (std::size_t i = 0; i < dof; ++i) {
          an[i] = c4 * (un[i] - u[i]) - c3 * v[i] - a[i];
          vn[i] = c2 * (un[i] - u[i]) - v[i];
        }
      }
      res.iterations += it;
      res.max_step_iterations = std::max(res.max_step_iterations, it);
      // Energy of the sub-step (trapezoidal, as Newmark's average
      // acceleration is), then commit.
      for (std::size_t i = 0; i < dof; ++i) {
        const double du = un[i] - u[i];
        if (rigid) E.input += -mrow[i] * 0.5 * (g0 + g1) * du;
        w_mass += cmass[i] * 0.5 * (v[i] + vn[i]) * du;
      }
      if (!rigid) {
        const double du = un[N] - u[N];
        E.input += f_in * c_base * 0.5 * (vg + vg1) * du;
        E.radiation += c_base * 0.5 * (v[N] + vn[N]) * du;
      }
      for (std::size_t j = 0; j < N; ++j) {
        Spring& sp = spring[j];
        if (!fresh) {
          const double g = strain_at(un, j);
          double tv = 0.0;
          if (o.viscous == ViscousDamping::FREQUENCY_INDEPENDENT) {
            for (std::size_t l = 0; l < NM; ++l) tv += sp.ma[l] * sp.q[l] + sp.mb[l] * (g - sp.gamma);
          } else {
            tv = sp.eta * (c2 * (g - sp.gamma) - sp.gdot);
          }
          sp.t_gamma = g, sp.t_visc = tv;
          sp.t_soil = sp.soil == SIZE_MAX ? sp.scale * sp.g0 * g : sp.t_soil;  // soil springs: after commit
        }
        const double dg = sp.t_gamma - sp.gamma;
        if (!(std::abs(sp.t_gamma) <= o.strain_limit)) {
          const std::size_t lay = seg_of[j];
          throw AnalysisError("nonlinear: strain " + detail::strain_text(std::abs(sp.t_gamma)) + " at depth " +
                              number(res.node_depth[j] + 0.5 * sp.h) + " m (" +
                              (lay < reported ? layer_name(lay) : std::string("the rock below the half-space's top")) +
                              ") at t = " +
                              time_text(record.dt * (static_cast<double>(n) + static_cast<double>(s + 1) / sub)) +
                              " s is beyond strain_limit " + number(o.strain_limit) +
                              ": the soil failed under this input (scale " + number(o.scale) +
                              "); lower scale, check the strength, or raise strain_limit");
        }
        if (sp.soil != SIZE_MAX) {
          soil[sp.soil].commit(sp.t_gamma);
          if (!fresh) sp.t_soil = sp.scale * soil[sp.soil].current_stress();
        }
        w_soil += sp.h * 0.5 * (sp.tau_soil + sp.t_soil) * dg;
        w_visc += sp.h * 0.5 * (sp.tau_visc + sp.t_visc) * dg;
        if (o.viscous == ViscousDamping::FREQUENCY_INDEPENDENT) {
          for (std::size_t l = 0; l < NM; ++l) sp.q[l] = sp.ma[l] * sp.q[l] + sp.mb[l] * dg;
        } else {
          sp.gdot = c2 * dg - sp.gdot;
        }
        sp.gamma = sp.t_gamma, sp.tau_soil = sp.t_soil, sp.tau_visc = sp.t_visc;
      }
      std::swap(u, un), std::swap(v, vn), std::swap(a, an);
      ag = g1, vg = vg1, ug = ug1;
    }
    store(n + 1);
    // Energy balance at the sample.
    double kin = 0.0, strain_e = 0.0, stored_visc = 0.0;
    for (std::size_t i = 0; i < dof; ++i) kin += v[i] * (0.5 * mass[i] * v[i] + (i + 1 < dof ? moff[i] * v[i + 1] : 0.0));
    for (const Spring& sp : spring) {
      strain_e += sp.h * sp.tau_soil * sp.tau_soil / (2.0 * sp.scale * sp.g0);
      if (o.viscous == ViscousDamping::FREQUENCY_INDEPENDENT)
        for (std::size_t l = 0; l < NM; ++l)
          if (sp.mk[l] > 0.0) stored_visc += sp.h * sp.q[l] * sp.q[l] / (2.0 * sp.mk[l]);
    }
    const double imbalance = E.input - kin - w_soil - w_visc - w_mass - E.radiation;
    max_input = std::max(max_input, std::abs(E.input));
    max_imbalance = std::max(max_imbalance, std::abs(imbalance));
    if (n + 2 == n_samples) {
      E.kinetic = kin;
      E.strain = strain_e + stored_visc;
      E.viscous = w_visc + w_mass - stored_visc;
      E.hysteretic = w_soil - strain_e;
    }
  }
  E.balance_error = max_input > 0.0 ? max_imbalance / max_input : 0.0;

  // Peaks.
  res.max_strain.assign(reported, 0.0);
  res.max_stress.assign(reported, 0.0);
  res.max_stress_ratio.assign(reported, 0.0);
  for (std::size_t r = 0; r < reported; ++r) {
    for (std::size_t n = 0; n < n_samples; ++n) {
      res.max_strain[r] = std::max(res.max_strain[r], std::abs(res.strain[n * reported + r]));
      res.max_stress[r] = std::max(res.max_stress[r], std::abs(res.stress[n * reported + r]));
    }
    res.max_stress_ratio[r] = res.vertical_stress[r] > 0.0 ? res.max_stress[r] / res.vertical_stress[r] : 0.0;
  }
  res.max_accel.assign(reported + 1, 0.0);
  for (std::size_t r = 0; r <= reported; ++r) {
    const std::size_t k = r < reported ? top_node[r] : N;
    for (std::size_t n = 0; n < n_samples; ++n)
      res.max_accel[r] = std::max(res.max_accel[r], std::abs(res.accel[n * nodes + k]));
  }
  if (reported > 0 && seg[reported - 1].bottom < profile.top_depth(reported - 1) + th[reported - 1] -
                          1e-9 * std::max(1.0, base_depth)) {
    const std::size_t r = reported - 1;
    res.warnings.push_back("the column ends at the record's depth " + number(base_depth) + " m inside " +
                           layer_name(r) + ": it is cut from " + number(th[r]) + " m to " +
                           number(seg[r].bottom - seg[r].top) + " m thick (the rest is not part of the analysis)");
  }
  if (reported < L)
    res.warnings.push_back("the column ends at the record's depth " + number(base_depth) + " m: " +
                           std::to_string(L - reported) + " layer(s) below it are not part of the analysis");
  return res;
}

}  // namespace velmar
