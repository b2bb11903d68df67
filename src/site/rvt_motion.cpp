// rvt_motion.cpp: RVT motions from a seismological point source, from a
// spectrum file, and compatible with a target response spectrum.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <numbers>
#include <numeric>
#include <sstream>
#include <string>

#include "site/rvt_detail.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/rvt.hpp"

namespace velmar {

namespace {

constexpr double PI = std::numbers::pi;

// g, m/s2, of the point-source model's conversion to g x s (the value the
// stochastic-method programs use).
constexpr double SOURCE_GRAVITY = 9.81;

// Campbell's (2003) crustal amplification, by frequency (Hz).
constexpr double WNA_AMP_F[] = {0.01, 0.09, 0.16, 0.51, 0.84, 1.25, 2.26, 3.17, 6.05, 16.6, 61.2, 100.0};
constexpr double WNA_AMP[] = {1.00, 1.10, 1.18, 1.42, 1.58, 1.74, 2.06, 2.25, 2.58, 3.13, 4.00, 4.40};
constexpr double CENA_AMP_F[] = {0.01, 0.1, 0.2, 0.3, 0.5, 0.9, 1.25, 1.8, 3.0, 5.3, 8.0, 14.0, 30.0, 60.0, 100.0};
constexpr double CENA_AMP[] = {1.00, 1.02, 1.03, 1.05, 1.07, 1.09, 1.11, 1.12,
                               1.13, 1.14, 1.15, 1.15, 1.15, 1.15, 1.15};

// Piecewise-linear interpolation in x (held at the end values outside).
double interp_linear(std::span<const double> xs, std::span<const double> ys, double x) {
  if (x <= xs.front()) return ys.front();
  if (x >= xs.back()) return ys.back();
  const auto it = std::upper_bound(xs.begin(), xs.end(), x);
  const std::size_t i = static_cast<std::size_t>(it - xs.begin()) - 1;
  const double w = (x - xs[i]) / (xs[i + 1] - xs[i]);
  return ys[i] + w * (ys[i + 1] - ys[i]);
}

struct Resolved {
  double magnitude, hypo, beta, rho, stress_drop, kappa, q0, q_power, corner, duration;
  Region region;
};

Resolved resolve(const SourceTheoryParams& p) {
  using detail::refuse;
  if (!(p.magnitude >= 2.0 && p.magnitude <= 9.5)) refuse("magnitude", p.magnitude, "must be within 2 to 9.5");
  if (!(p.distance >= 0.0 && p.distance <= 2000.0)) refuse("distance", p.distance, "must be within 0 to 2000 km");
  if (!(p.depth >= 0.0 && p.depth <= 100.0)) refuse("depth", p.depth, "must be within 0 to 100 km");
  Resolved r{};
  r.region = p.region;
  r.magnitude = p.magnitude;
  r.hypo = std::hypot(p.distance, p.depth);
  if (!(r.hypo >= 1.0)) refuse("hypocentral distance", r.hypo, "must be at least 1 km (raise depth or distance)");
  const bool wna = p.region == Region::WNA;
  r.beta = p.shear_velocity.value_or(wna ? 3.5 : 3.6);
  r.rho = p.density.value_or(2.8);
  r.kappa = p.kappa.value_or(wna ? 0.04 : 0.006);
  r.stress_drop = p.stress_drop.value_or(wna ? 100.0 : std::pow(10.0, 3.45 - 0.2 * std::max(p.magnitude, 5.0)));
  r.q0 = wna ? 180.0 : 680.0;
  r.q_power = wna ? 0.45 : 0.36;
  if (!(r.beta >= 0.5 && r.beta <= 10.0)) refuse("shear_velocity", r.beta, "must be within 0.5 to 10 km/s");
  if (!(r.rho >= 1.0 && r.rho <= 10.0)) refuse("density", r.rho, "must be within 1 to 10 g/cm3");
  if (!(r.kappa >= 0.0 && r.kappa <= 1.0)) refuse("kappa", r.kappa, "must be within 0 to 1 s");
  if (!(r.stress_drop > 0.0 && r.stress_drop <= 1e5))
    refuse("stress_drop", r.stress_drop, "must be above 0 and at most 1e5 bar");
  const double m0 = std::pow(10.0, 1.5 * (p.magnitude + 10.7));
  r.corner = 4.9e6 * r.beta * std::cbrt(r.stress_drop / m0);
  double path = 0.0;
  if (wna) {
    path = 0.05 * r.hypo;
  } else {
    const double R = r.hypo;
    if (R > 10.0) path += 0.16 * (std::min(R, 70.0) - 10.0);
    if (R > 70.0) path += -0.03 * (std::min(R, 130.0) - 70.0);
    if (R > 130.0) path += 0.04 * (R - 130.0);
  }
  r.duration = 1.0 / r.corner + path;
  return r;
}

double geometric_spreading(Region region, double R) {
  if (region == Region::WNA) return R <= 40.0 ? 1.0 / R : (1.0 / 40.0) * std::sqrt(40.0 / R);
  if (R <= 70.0) return 1.0 / R;
  if (R <= 130.0) return 1.0 / 70.0;
  return (1.0 / 70.0) * std::sqrt(130.0 / R);
}

void check_freqs(std::span<const double> freqs, std::string_view what) {
  for (std::size_t i = 0; i < freqs.size(); ++i) {
    if (!(freqs[i] >= MIN_RVT_FREQ && freqs[i] <= MAX_RVT_FREQ))
      detail::refuse(std::string(what) + "[" + std::to_string(i) + "]", freqs[i],
                     "must be within " + detail::number(MIN_RVT_FREQ) + " to " + detail::number(MAX_RVT_FREQ) +
                         " Hz");
    if (i > 0 && !(freqs[i] > freqs[i - 1]))
      detail::refuse(std::string(what) + "[" + std::to_string(i) + "]", freqs[i], "must rise");
  }
}

}  // namespace

std::vector<double> default_rvt_freqs() {
  constexpr std::size_t n = 800;
  std::vector<double> f(n);
  const double lo = std::log(0.005), hi = std::log(300.0);
  for (std::size_t i = 0; i < n; ++i)
    f[i] = std::exp(lo + (hi - lo) * static_cast<double>(i) / static_cast<double>(n - 1));
  f.front() = 0.005;
  f.back() = 300.0;
  return f;
}

SourceTheoryInfo source_theory_info(const SourceTheoryParams& params) {
  const Resolved r = resolve(params);
  return {r.corner, r.duration, r.hypo, r.stress_drop, r.kappa};
}

RvtMotion source_theory_motion(const SourceTheoryParams& params, std::span<const double> freqs_in) {
  const Resolved r = resolve(params);
  RvtMotion m;
  m.freqs = freqs_in.empty() ? default_rvt_freqs() : std::vector<double>(freqs_in.begin(), freqs_in.end());
  if (m.freqs.size() < 2)
    throw InvalidArgument("freqs needs at least 2 frequencies, got " + std::to_string(m.freqs.size()));
  check_freqs(m.freqs, "freqs");
  m.duration = r.duration;
  m.method = params.method;
  m.magnitude = params.magnitude;
  m.distance = r.hypo;
  m.region = params.region;
  const double m0 = std::pow(10.0, 1.5 * (params.magnitude + 10.7));
  // Radiation 0.55, free surface 2, partition 1/sqrt(2); 1e-20 turns
  // dyne-cm / (g/cm3 (km/s)^3 km) into cm.
  const double c = 0.55 * 2.0 / std::numbers::sqrt2 / (4.0 * PI * r.rho * r.beta * r.beta * r.beta) * 1e-20;
  const double g = geometric_spreading(r.region, r.hypo);
  const bool wna = r.region == Region::WNA;
  const std::span<const double> amp_f = wna ? std::span<const double>(WNA_AMP_F) : std::span<const double>(CENA_AMP_F);
  const std::span<const double> amp = wna ? std::span<const double>(WNA_AMP) : std::span<const double>(CENA_AMP);
  m.fas.resize(m.freqs.size());
  for (std::size_t i = 0; i < m.freqs.size(); ++i) {
    const double f = m.freqs[i];
    const double source = c * m0 / (1.0 + (f / r.corner) * (f / r.corner));
    const double q = r.q0 * std::pow(f, r.q_power);
    const double path = g * std::exp(-PI * f * r.hypo / (q * r.beta));
    const double site = interp_linear(amp_f, amp, f) * std::exp(-PI * r.kappa * f);
    const double w = 2.0 * PI * f;
    m.fas[i] = source * path * site * w * w / (100.0 * SOURCE_GRAVITY);
  }
  check_rvt_motion(m);
  return m;
}

RvtMotion read_rvt_spectrum(const std::string& path, double duration, PeakMethod method) {
  std::ifstream in(path);
  if (!in) throw FileError("cannot open the spectrum file " + path);
  RvtMotion m;
  m.duration = duration;
  m.method = method;
  std::string line;
  std::size_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    std::istringstream s(line);
    double f = 0.0, a = 0.0;
    std::string rest;
    if (!(s >> f >> a) || (s >> rest))
      throw FileError(path + " line " + std::to_string(number) +
                      ": expected two numbers (frequency in Hz, Fourier amplitude), got \"" + line + "\"");
    m.freqs.push_back(f);
    m.fas.push_back(a);
  }
  if (in.bad()) throw FileError("cannot read the spectrum file " + path);
  try {
    check_rvt_motion(m);
  } catch (const InvalidArgument& e) {
    throw InvalidArgument(path + ": " + e.what());
  }
  return m;
}

namespace {

// |a| on `grid` from values at the rising frequencies `fx`, linear in
// ln f - ln a between them and extrapolated with the end segments' slopes.
void loglog_onto(std::span<const double> fx, std::span<const double> ln_y, std::span<const double> grid,
                 std::span<double> out) {
  const std::size_t n = fx.size();
  for (std::size_t k = 0; k < grid.size(); ++k) {
    const double lf = std::log(grid[k]);
    if (n == 1) {
      out[k] = std::exp(ln_y[0]);
      continue;
    }
    std::size_t i = 0;
    while (i + 2 < n && grid[k] > fx[i + 1]) ++i;
    const double l0 = std::log(fx[i]), l1 = std::log(fx[i + 1]);
    out[k] = std::exp(ln_y[i] + (lf - l0) * (ln_y[i + 1] - ln_y[i]) / (l1 - l0));
  }
}

}  // namespace

CompatibleResult compatible_rvt_motion(std::span<const double> periods, std::span<const double> psa,
                                       double duration, const CompatibleOptions& o) {
  using detail::refuse;
  if (periods.size() != psa.size())
    throw InvalidArgument("psa has " + std::to_string(psa.size()) + " values and periods " +
                          std::to_string(periods.size()) + ": give one per period");
  if (periods.size() < 2)
    throw InvalidArgument("a compatible motion needs at least 2 target periods, got " +
                          std::to_string(periods.size()));
  if (!(duration > 0.0 && duration <= MAX_RVT_DURATION))
    refuse("duration", duration, "must be above 0 and at most " + detail::number(MAX_RVT_DURATION) + " s");
  if (!(o.damping > 0.0 && o.damping < 1.0)) refuse("damping", o.damping, "must be above 0 and below 1");
  if (o.max_iterations < 1 || o.max_iterations > 1000)
    refuse("max_iterations", o.max_iterations, "must be within 1 to 1000");
  if (!(o.tolerance > 0.0 && o.tolerance < 1.0)) refuse("tolerance", o.tolerance, "must be above 0 and below 1");
  if (!(o.max_misfit >= o.tolerance && o.max_misfit < 10.0))
    refuse("max_misfit", o.max_misfit, "must be at least the tolerance and below 10");
  detail::check_scenario(o.method, o.region, o.magnitude, o.distance);
  // Oscillator frequencies rising, with their targets.
  const std::size_t n = periods.size();
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  for (std::size_t i = 0; i < n; ++i) {
    if (!(periods[i] >= 1e-3 && periods[i] <= 100.0))
      refuse("periods[" + std::to_string(i) + "]", periods[i], "must be within 0.001 to 100 s");
    if (!(psa[i] > 0.0 && psa[i] <= 1e100 && std::isfinite(psa[i])))
      refuse("psa[" + std::to_string(i) + "]", psa[i], "must be above 0 and finite");
  }
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return periods[a] > periods[b]; });
  // The work is done on the target scaled to a peak of 1 (PSA is linear in
  // the spectrum), so that any size of target is handled; the spectrum is
  // scaled back at the end.
  const double size = *std::max_element(psa.begin(), psa.end());
  std::vector<double> fo(n), target(n), per(n);
  for (std::size_t k = 0; k < n; ++k) {
    per[k] = periods[order[k]];
    fo[k] = 1.0 / per[k];
    target[k] = psa[order[k]] / size;
    if (!(target[k] >= 1e-100))
      refuse("psa[" + std::to_string(order[k]) + "]", psa[order[k]], "must be at least 1e-100 of the largest psa");
    if (k > 0 && !(fo[k] > fo[k - 1]))
      refuse("periods[" + std::to_string(order[k]) + "]", per[k], "must differ from every other period");
  }

  CompatibleResult res;
  RvtMotion& m = res.motion;
  m.duration = duration;
  m.method = o.method;
  m.magnitude = o.magnitude;
  m.distance = o.distance;
  m.region = o.region;
  if (o.freqs.empty()) {
    // A log grid past both ends of the targets, fine enough that every
    // oscillator's half-power band (width 2 damping f_n) holds ~10 points.
    const double lo = std::max(MIN_RVT_FREQ, fo.front() / 2.0), hi = std::min(MAX_RVT_FREQ, fo.back() * 2.0);
    const double per_decade = std::clamp(std::ceil(10.0 * std::numbers::ln10 / (2.0 * o.damping)), 100.0, 2000.0);
    const auto count = static_cast<std::size_t>(std::ceil(std::log10(hi / lo) * per_decade)) + 1;
    m.freqs.resize(count);
    for (std::size_t i = 0; i < count; ++i)
      m.freqs[i] = lo * std::pow(hi / lo, static_cast<double>(i) / static_cast<double>(count - 1));
  } else {
    m.freqs = o.freqs;
    if (m.freqs.size() < 2) throw InvalidArgument("freqs needs at least 2 frequencies");
    check_freqs(m.freqs, "freqs");
  }
  m.fas.assign(m.freqs.size(), 0.0);

  // Gasparini and Vanmarcke (1976): the squared amplitude at each oscillator,
  // upward, from its rms response less what the lower frequencies give.
  constexpr double start_pf = 2.5;
  std::vector<double> ln_a(n);
  double below = 0.0, prev_a2 = 0.0, prev_f = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    const double rms2 = duration * target[k] * target[k] / (2.0 * start_pf * start_pf);
    double a2 = (rms2 - below) / (fo[k] * (PI / (4.0 * o.damping) - 1.0));
    if (!(a2 > 0.0)) a2 = k > 0 ? prev_a2 : rms2 / fo[k];
    // Area of |A|^2 from the previous oscillator (from 0 for the first).
    below += k > 0 ? 0.5 * (a2 + prev_a2) * (fo[k] - prev_f) : a2 * fo[k];
    prev_a2 = a2;
    prev_f = fo[k];
    ln_a[k] = 0.5 * std::log(a2);
  }
  loglog_onto(fo, ln_a, m.freqs, m.fas);

  // Iterate |A| <- |A| (target / computed)^g, the step interpolated in ln f.
  // g = 1 is the plain ratio; where an oscillator's PSA answered the last
  // step by less than it (short periods, whose PSA is near the PGA and so
  // owes little to the spectrum near f_n) g is 1 / that sensitivity (a
  // secant step, at most 10), which brings such periods in within ten or so
  // iterations instead of a hundred.
  std::vector<double> computed(n), ln_step(n), last_step(n, 0.0), last_ln_ratio(n, 0.0),
      scale(m.freqs.size());
  auto misfit = [&](std::size_t* worst) {
    rvt_response_spectrum(m, per, o.damping, computed);
    double w = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
      const double e = std::abs(computed[k] / target[k] - 1.0);
      if (e > w) {
        w = e;
        if (worst) *worst = k;
      }
    }
    return w;
  };
  std::size_t worst = 0;
  res.misfit = misfit(&worst);
  while (res.misfit > o.tolerance && res.iterations < o.max_iterations) {
    for (std::size_t k = 0; k < n; ++k) {
      const double ln_ratio = std::log(target[k] / computed[k]);
      double gain = 1.0;
      if (res.iterations > 0 && std::abs(last_step[k]) > 1e-6) {
        const double sensitivity = (last_ln_ratio[k] - ln_ratio) / last_step[k];
        if (sensitivity > 0.1 && sensitivity < 1.0) gain = 1.0 / sensitivity;
        else if (sensitivity <= 0.1 && sensitivity > 0.0) gain = 10.0;
      }
      ln_step[k] = gain * ln_ratio;
      last_step[k] = ln_step[k];
      last_ln_ratio[k] = ln_ratio;
    }
    loglog_onto(fo, ln_step, m.freqs, scale);
    for (std::size_t i = 0; i < m.freqs.size(); ++i) m.fas[i] *= scale[i];
    // Guard the extrapolated ends from running off to 0 or infinity.
    for (double& a : m.fas) a = std::clamp(a, 1e-250, 1e100);
    ++res.iterations;
    res.misfit = misfit(&worst);
  }
  for (double& a : m.fas) a *= size;
  check_rvt_motion(m);
  if (!(res.misfit <= o.max_misfit))
    throw InvalidArgument("no spectrum fits the target response spectrum: after " + std::to_string(res.iterations) +
                          " iterations the RVT PSA is " + detail::number(100.0 * res.misfit) +
                          " % off the target at period " + detail::number(per[worst]) +
                          " s (accepted: " + detail::number(100.0 * o.max_misfit) +
                          " %); the shortest periods' PSA cannot fall below the peak acceleration the longer periods imply: check "
                          "that the target is a smooth response spectrum, or raise max_iterations or max_misfit");
  return res;
}

}  // namespace velmar
