// rvt_peak.cpp: spectral moments, the peak factors and the RVT response
// spectrum of a motion given as a Fourier amplitude spectrum and a duration.
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <string>

#include "site/rvt_detail.hpp"
#include "site/rvt_tables.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/rvt.hpp"

namespace velmar {

namespace {

constexpr double PI = std::numbers::pi;
constexpr double TWO_PI = 2.0 * std::numbers::pi;

// The fewest zero crossings a duration is given (a shorter record still has
// its peak): the common floor of the RVT programs.
constexpr double MIN_ZERO_CROSSINGS = 1.33;

constexpr std::array<std::string_view, 10> METHOD_NAMES = {"V75",  "CLH56", "D64",  "DK85", "TM87",
                                                           "BJ84", "LP99",  "BT12", "BT15", "WR18"};

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Wang and Rathje (2018): (a, b, d, e, sd) of the first three site modes.
constexpr double WR18_COEFS[3][5] = {{0.2688, 0.0030, 1.8380, -0.0198, 0.091},
                                     {0.2555, -0.0002, 1.2154, -0.0183, 0.081},
                                     {0.2287, -0.0014, 0.9404, -0.0130, 0.056}};

// "name[i]", for messages.
std::string indexed(std::string_view name, std::size_t i) {
  std::string s(name);
  s.push_back('[');
  s.append(std::to_string(i));
  s.push_back(']');
  return s;
}

}  // namespace

PeakMethod peak_method_from_name(std::string_view name) {
  const std::string u = upper(name);
  for (std::size_t i = 0; i < METHOD_NAMES.size(); ++i)
    if (u == METHOD_NAMES[i]) return static_cast<PeakMethod>(i);
  std::string list;
  for (auto n : METHOD_NAMES) {
    if (!list.empty()) list.append(", ");
    list.append(n);
  }
  throw InvalidArgument("peak method must be one of " + list + ", got \"" + std::string(name) + "\"");
}

std::string_view peak_method_name(PeakMethod method) { return METHOD_NAMES[static_cast<std::size_t>(method)]; }

bool peak_method_needs_scenario(PeakMethod method) {
  return method == PeakMethod::BT12 || method == PeakMethod::BT15 || method == PeakMethod::WR18;
}

Region region_from_name(std::string_view name) {
  const std::string u = upper(name);
  if (u == "WNA") return Region::WNA;
  if (u == "CENA") return Region::CENA;
  throw InvalidArgument("region must be \"wna\" (western North America) or \"cena\" (central-eastern North "
                        "America), got \"" +
                        std::string(name) + "\"");
}

std::string_view region_name(Region region) { return region == Region::WNA ? "wna" : "cena"; }

namespace detail {

const BooreThompsonTable& bt_table(PeakMethod method, Region region) {
  const bool bt12 = method == PeakMethod::BT12;
  if (region == Region::WNA) return bt12 ? wna_bt12_table : wna_bt15_table;
  return bt12 ? cena_bt12_table : cena_bt15_table;
}

void check_scenario(PeakMethod method, Region region, const std::optional<double>& magnitude,
                    const std::optional<double>& distance) {
  if (!peak_method_needs_scenario(method)) return;
  const std::string name(peak_method_name(method));
  if (!magnitude || !distance)
    throw InvalidArgument("peak method " + name +
                          " needs the motion's magnitude and distance (km); give both, or choose V75");
  const auto& t = bt_table(method, region);
  const double m = *magnitude, r = *distance;
  const std::string table = name + " (" + std::string(region_name(region)) + ")";
  // The tables' corner values are printed to 2-3 decimals: a hair's margin.
  if (!(m >= t.mags.front() - 1e-9 && m <= t.mags.back() + 1e-9))
    throw InvalidArgument("magnitude must be within the " + table + " table's " + number(t.mags.front()) + " to " +
                          number(t.mags.back()) + ", got " + number(m));
  if (!(r >= t.dists.front() * (1 - 1e-6) && r <= t.dists.back() * (1 + 1e-6)))
    throw InvalidArgument("distance must be within the " + table + " table's " + number(t.dists.front()) +
                          " to " + number(t.dists.back()) + " km, got " + number(r));
}

std::array<double, 7> bt_coefficients(PeakMethod method, Region region, double magnitude, double distance) {
  const auto& t = bt_table(method, region);
  auto locate = [](std::span<const double> xs, double x, auto map) {
    std::size_t i = 0;
    while (i + 2 < xs.size() && x > xs[i + 1]) ++i;
    double w = (map(x) - map(xs[i])) / (map(xs[i + 1]) - map(xs[i]));
    w = std::clamp(w, 0.0, 1.0);
    return std::pair{i, w};
  };
  const auto [im, wm] = locate(t.mags, magnitude, [](double v) { return v; });
  const auto [ir, wr] = locate(t.dists, distance, [](double v) { return std::log(v); });
  const std::size_t nr = t.dists.size();
  std::array<double, 7> c{};
  for (std::size_t k = 0; k < 7; ++k) {
    const double c00 = t.coefs[im * nr + ir][k], c01 = t.coefs[im * nr + ir + 1][k];
    const double c10 = t.coefs[(im + 1) * nr + ir][k], c11 = t.coefs[(im + 1) * nr + ir + 1][k];
    c[k] = (1 - wm) * ((1 - wr) * c00 + wr * c01) + wm * ((1 - wr) * c10 + wr * c11);
  }
  return c;
}

namespace {

// 10-point Gauss-Legendre nodes and weights on [-1, 1] (positive half).
constexpr double GL_X[5] = {0.1488743389816312, 0.4333953941292472, 0.6794095682990244, 0.8650633666889845,
                            0.9739065285171717};
constexpr double GL_W[5] = {0.2955242247147529, 0.2692667193099963, 0.2190863625159820, 0.1494513491505806,
                            0.0666713443086881};

// int_0^upper f(x) dx by 10-point Gauss-Legendre on `panels` equal panels:
// the integrands here are smooth (analytic on (0, upper]) with one fall of
// width about 1/sqrt(2 ln N), which panels at most 1 wide resolve to a
// relative 1e-7 or better over N = 1.33 to 1e5 and every bandwidth
// (checked against adaptive quadrature; the tests check it too).
template <class F>
double integrate(F&& f, double upper, int panels) {
  const double h = upper / panels;
  double sum = 0.0;
  for (int p = 0; p < panels; ++p) {
    const double mid = (p + 0.5) * h, half = 0.5 * h;
    double s = 0.0;
    for (int k = 0; k < 5; ++k) s += GL_W[k] * (f(mid - half * GL_X[k]) + f(mid + half * GL_X[k]));
    sum += s * half;
  }
  return sum;
}

int panels_for(double upper) { return std::max(8, static_cast<int>(std::ceil(upper))); }

}  // namespace

double vanmarcke_peak_factor(double crossings, double bandwidth_eff) {
  const double c = std::sqrt(PI / 2) * bandwidth_eff;
  auto ccdf = [&](double x) {
    const double h = 0.5 * x * x, e = std::exp(-h);
    // 1 - e and 1 - exp(-c x) without cancellation, by expm1 only where
    // they are small.
    const double one_minus_e = h < 0.5 ? -std::expm1(-h) : 1.0 - e;
    if (one_minus_e <= 0.0) return 1.0;
    const double cx = c * x, rise = cx < 0.5 ? -std::expm1(-cx) : 1.0 - std::exp(-cx);
    const double arg = crossings * e * rise / one_minus_e;
    if (arg > 40.0) return 1.0;  // F below 1e-17
    return 1.0 - one_minus_e * std::exp(-arg);
  };
  // Beyond `upper` 1 - F < (1 + N) e^(-x^2/2) is below 1e-13.
  const double upper = std::sqrt(2.0 * (std::log1p(crossings) + 30.0));
  return integrate(ccdf, upper, panels_for(upper));
}

double cartwright_peak_factor(double extrema, double irregularity) {
  auto f = [&](double z) {
    const double q = irregularity * std::exp(-z * z);
    return -std::expm1(extrema * std::log1p(-q));
  };
  // Beyond `upper` the integrand, below N q e^(-z^2), is below 1e-13.
  const double upper = std::sqrt(std::log(std::max(extrema, 1.0)) + 30.0);
  return std::numbers::sqrt2 * integrate(f, upper, panels_for(upper));
}

double davenport_peak_factor(double crossings) {
  const double s = std::sqrt(2.0 * std::log(crossings));
  return s + 0.5772 / s;
}

}  // namespace detail

namespace {

// The moments of scale x amplitude (divided by 2 pi f for a velocity), with
// the trapezoid in f on the given frequencies.
SpectralMoments scaled_moments(std::span<const double> freqs, std::span<const double> amplitude, double scale,
                               bool velocity) {
  SpectralMoments m;
  const std::size_t n = std::min(freqs.size(), amplitude.size());
  for (std::size_t i = 0; i < n; ++i) {
    const double lo = i > 0 ? freqs[i - 1] : freqs[i], hi = i + 1 < n ? freqs[i + 1] : freqs[i];
    const double w = TWO_PI * freqs[i];
    const double a = velocity ? amplitude[i] * scale / w : amplitude[i] * scale;
    const double a2 = a * a * (hi - lo);  // (hi - lo): 2 x the trapezoid weight
    m.m0 += a2;
    m.m1 += a2 * w;
    m.m2 += a2 * w * w;
    m.m4 += a2 * w * w * w * w;
  }
  return m;
}

// 1 / the largest amplitude (0 when that is 0 or below the smallest normal
// double: a spectrum that small has peak 0 to double precision), so that the
// moments are computed on a spectrum of size 1 whatever its units.
double unit_scale(std::span<const double> amplitude) {
  double top = 0.0;
  for (double a : amplitude) top = std::max(top, a);
  return top >= 1e-300 ? 1.0 / top : 0.0;
}

}  // namespace

SpectralMoments spectral_moments(std::span<const double> freqs, std::span<const double> amplitude) {
  return scaled_moments(freqs, amplitude, 1.0, false);
}

RvtPeak rvt_peak_from_moments(const RvtMotion& motion, const SpectralMoments& mom,
                              const std::optional<Oscillator>& osc) {
  RvtPeak out;
  const double tgm = motion.duration;
  const PeakMethod method = motion.method;
  if (!(mom.m0 > 0.0) || !(mom.m2 > 0.0)) {
    out.duration_rms = tgm;
    return out;  // a spectrum zero everywhere has zero peak
  }
  // The rms duration: the ground-motion duration, lengthened for an
  // oscillator's build-up and decay by the methods that model them.
  double trms = tgm;
  if (osc) {
    const double eta = 1.0 / (osc->freq * tgm);
    const double two_pi_xi = TWO_PI * osc->damping;
    if (method == PeakMethod::BJ84) {
      trms = tgm * (1.0 + (1.0 / two_pi_xi) * eta / (1.0 + eta * eta * eta / 3.0));
    } else if (method == PeakMethod::LP99) {
      const double c5 = std::sqrt(TWO_PI * std::max(0.0, 1.0 - (mom.m1 / mom.m0) * (mom.m1 / mom.m2)));
      trms = tgm * (1.0 + (1.0 / two_pi_xi) * eta / (1.0 + c5 * eta * eta));
    } else if (peak_method_needs_scenario(method)) {
      const auto c = detail::bt_coefficients(method == PeakMethod::BT12 ? PeakMethod::BT12 : PeakMethod::BT15,
                                             motion.region, *motion.magnitude, *motion.distance);
      const double e3 = std::pow(eta, c[2]);
      trms = tgm * (c[0] + c[1] * (1.0 - e3) / (1.0 + e3)) *
             (1.0 + (c[3] / two_pi_xi) * std::pow(eta / (1.0 + c[4] * std::pow(eta, c[5])), c[6]));
      if (method == PeakMethod::WR18 && motion.site) {
        const SiteResonance& s = *motion.site;
        const double r = s.amplitude / s.freqs[0];
        for (int i = 0; i < 3; ++i) {
          if (!(s.freqs[static_cast<std::size_t>(i)] > 0.0)) break;
          const double* k = WR18_COEFS[i];
          const double ci = k[0] * r + k[1] * r * r, mi = k[2] * r + k[3] * r * r;
          const double l = std::log(osc->freq / s.freqs[static_cast<std::size_t>(i)]);
          trms += ci * std::exp(-tgm / mi) * std::exp(-l * l / (2.0 * k[4] * k[4]));
        }
      }
    }
  }
  const double bandwidth = std::sqrt(std::max(0.0, 1.0 - (mom.m1 / mom.m0) * (mom.m1 / mom.m2)));
  const double crossings = std::max(MIN_ZERO_CROSSINGS, tgm * std::sqrt(mom.m2 / mom.m0) / PI);
  double pf = 0.0;
  switch (method) {
    case PeakMethod::V75:
    case PeakMethod::BT15:
    case PeakMethod::WR18:
      pf = detail::vanmarcke_peak_factor(crossings, std::pow(bandwidth, 1.2));
      break;
    case PeakMethod::CLH56:
    case PeakMethod::BJ84:
    case PeakMethod::LP99:
    case PeakMethod::BT12: {
      const double irregularity = std::min(1.0, mom.m2 / (std::sqrt(mom.m0) * std::sqrt(mom.m4)));
      const double extrema = std::max(2.0, std::sqrt(mom.m4 / mom.m2) * tgm / PI);
      pf = detail::cartwright_peak_factor(extrema, irregularity);
      break;
    }
    case PeakMethod::D64:
      pf = detail::davenport_peak_factor(crossings);
      break;
    case PeakMethod::DK85: {
      const double nz = tgm * std::sqrt(mom.m2 / mom.m0) / PI;
      double ne = nz;
      if (bandwidth <= 0.1)
        ne = std::max(2.1, 2.0 * bandwidth * nz);
      else if (bandwidth <= 0.69)
        ne = (1.63 * std::pow(bandwidth, 0.45) - 0.38) * nz;
      pf = detail::davenport_peak_factor(std::max(MIN_ZERO_CROSSINGS, ne));
      break;
    }
    case PeakMethod::TM87: {
      const double fc = std::sqrt(mom.m2 / mom.m0) / TWO_PI;
      const double ne = 2.0 * fc * tgm * (1.63 * std::pow(bandwidth, 0.45) - 0.38);
      pf = detail::davenport_peak_factor(std::max(MIN_ZERO_CROSSINGS, ne));
      if (osc) pf *= std::sqrt(-std::expm1(-4.0 * PI * osc->damping * osc->freq * tgm));
      break;
    }
  }
  out.peak_factor = pf;
  out.duration_rms = trms;
  out.rms = std::sqrt(mom.m0 / trms);
  out.peak = pf * out.rms;
  out.crossings = crossings;
  return out;
}

}  // namespace velmar

namespace velmar {

namespace {

// Moments of |H|^2 |A|^2 for the oscillator at f_n with damping xi,
// H(f) = -f_n^2 / (f^2 - f_n^2 - 2 i xi f_n f): one pass, no allocation.
// Four interleaved partial sums (lanes) let the compiler use vector
// instructions; the end points carry the half trapezoid weights.
SpectralMoments oscillator_moments(std::span<const double> freqs, std::span<const double> fas, double scale,
                                   double fn, double xi) {
  const std::size_t n = freqs.size();
  const double fn2 = fn * fn, fn4 = fn2 * fn2, c2 = 4.0 * xi * xi * fn2;
  auto term = [&](std::size_t i, double width, double* s) {
    const double f = freqs[i], f2 = f * f, d = f2 - fn2;
    const double a = fas[i] * scale, a2 = a * a * width * fn4 / (d * d + c2 * f2);
    const double w = TWO_PI * f, w2 = w * w;
    s[0] += a2;
    s[1] += a2 * w;
    s[2] += a2 * w2;
    s[3] += a2 * w2 * w2;
  };
  double edge[4] = {0.0, 0.0, 0.0, 0.0};
  term(0, freqs[1] - freqs[0], edge);
  term(n - 1, freqs[n - 1] - freqs[n - 2], edge);
  constexpr std::size_t L = 4;
  double m0[L] = {}, m1[L] = {}, m2[L] = {}, m4[L] = {};
  std::size_t i = 1;
  for (; i + L <= n - 1; i += L) {
    for (std::size_t l = 0; l < L; ++l) {
      const double f = freqs[i + l], f2 = f * f, d = f2 - fn2;
      const double width = freqs[i + l + 1] - freqs[i + l - 1];
      const double a = fas[i + l] * scale, a2 = a * a * width * fn4 / (d * d + c2 * f2);
      const double w = TWO_PI * f, w2 = w * w;
      m0[l] += a2;
      m1[l] += a2 * w;
      m2[l] += a2 * w2;
      m4[l] += a2 * w2 * w2;
    }
  }
  for (; i < n - 1; ++i) term(i, freqs[i + 1] - freqs[i - 1], edge);
  SpectralMoments m;
  m.m0 = edge[0] + (m0[0] + m0[1]) + (m0[2] + m0[3]);
  m.m1 = edge[1] + (m1[0] + m1[1]) + (m1[2] + m1[3]);
  m.m2 = edge[2] + (m2[0] + m2[1]) + (m2[2] + m2[3]);
  m.m4 = edge[3] + (m4[0] + m4[1]) + (m4[2] + m4[3]);
  return m;
}

}  // namespace

void check_rvt_motion(const RvtMotion& m) {
  using detail::number;
  using detail::refuse;
  if (m.freqs.size() < 2)
    throw InvalidArgument("an RVT motion needs at least 2 frequencies, got " + std::to_string(m.freqs.size()));
  if (m.fas.size() != m.freqs.size())
    throw InvalidArgument("fas has " + std::to_string(m.fas.size()) + " values and freqs " +
                          std::to_string(m.freqs.size()) + ": give one amplitude per frequency");
  bool any = false;
  for (std::size_t i = 0; i < m.freqs.size(); ++i) {
    const double f = m.freqs[i];
    if (!(f >= MIN_RVT_FREQ && f <= MAX_RVT_FREQ))
      refuse(indexed("freqs", i), f, "must be within " + number(MIN_RVT_FREQ) + " to " + number(MAX_RVT_FREQ) + " Hz");
    if (i > 0 && !(f > m.freqs[i - 1]))
      refuse(indexed("freqs", i), f,
             "must be above " + indexed("freqs", i - 1) + " = " + number(m.freqs[i - 1]) + " (frequencies must rise)");
    const double a = m.fas[i];
    if (!(a >= 0.0) || !std::isfinite(a)) refuse(indexed("fas", i), a, "must be finite and >= 0");
    // Squared and weighted by (2 pi f)^4 df the amplitude must stay finite.
    if (a > 1e100) refuse(indexed("fas", i), a, "must be at most 1e100");
    any = any || a > 0.0;
  }
  if (!any) throw InvalidArgument("fas is zero at every frequency: an RVT motion needs a nonzero spectrum");
  const double top = *std::max_element(m.fas.begin(), m.fas.end());
  if (top < 1e-200)
    refuse("the largest fas", top, "must be at least 1e-200 (give the spectrum in units that make it larger)");
  if (!(m.duration > 0.0 && m.duration <= MAX_RVT_DURATION))
    refuse("duration", m.duration, "must be above 0 and at most " + number(MAX_RVT_DURATION) + " s");
  if (m.magnitude && !std::isfinite(*m.magnitude)) refuse("magnitude", *m.magnitude, "must be finite");
  if (m.distance && !(*m.distance > 0.0 && std::isfinite(*m.distance)))
    refuse("distance", *m.distance, "must be above 0 km and finite");
  detail::check_scenario(m.method, m.region, m.magnitude, m.distance);
  if (m.site) {
    const SiteResonance& s = *m.site;
    if (!(s.freqs[0] > 0.0 && std::isfinite(s.freqs[0])))
      refuse("site resonance freqs[0]", s.freqs[0], "must be above 0 Hz");
    for (std::size_t i = 1; i < 3; ++i) {
      if (s.freqs[i] == 0.0) {
        for (std::size_t j = i + 1; j < 3; ++j)
          if (s.freqs[j] != 0.0)
            refuse(indexed("site resonance freqs", j), s.freqs[j],
                   "must be 0 after a missing mode");
        break;
      }
      if (!(s.freqs[i] > s.freqs[i - 1]) || !std::isfinite(s.freqs[i]))
        refuse(indexed("site resonance freqs", i), s.freqs[i], "must rise, or be 0 for no mode");
    }
    if (!(s.amplitude > 0.0 && std::isfinite(s.amplitude)))
      refuse("site resonance amplitude", s.amplitude, "must be above 0 and finite");
  }
}

namespace {

// The peak of `amplitude` (or of its velocity), the moments taken of the
// spectrum scaled to a largest value of 1 and the peak scaled back.
double scaled_peak(const RvtMotion& motion, std::span<const double> amplitude, bool velocity) {
  const double scale = unit_scale(amplitude);
  if (scale == 0.0) return 0.0;
  return rvt_peak_from_moments(motion, scaled_moments(motion.freqs, amplitude, scale, velocity)).peak / scale;
}

}  // namespace

double rvt_peak(const RvtMotion& motion, std::span<const double> amplitude) {
  if (amplitude.size() != motion.freqs.size())
    throw InvalidArgument("amplitude has " + std::to_string(amplitude.size()) + " values and the motion " +
                          std::to_string(motion.freqs.size()) + " frequencies: give one per frequency");
  for (std::size_t i = 0; i < amplitude.size(); ++i)
    if (!(amplitude[i] >= 0.0) || !std::isfinite(amplitude[i]))
      detail::refuse(indexed("amplitude", i), amplitude[i], "must be finite and >= 0");
  return scaled_peak(motion, amplitude, false);
}

double rvt_peak(const RvtMotion& motion) {
  check_rvt_motion(motion);
  return scaled_peak(motion, motion.fas, false);
}

double rvt_peak_velocity(const RvtMotion& motion) {
  check_rvt_motion(motion);
  return scaled_peak(motion, motion.fas, true);
}

void rvt_response_spectrum(const RvtMotion& motion, std::span<const double> periods, double damping,
                           std::span<double> psa) {
  check_rvt_motion(motion);
  if (!(damping > 0.0 && damping < 1.0)) detail::refuse("damping", damping, "must be above 0 and below 1");
  if (periods.empty()) throw InvalidArgument("periods is empty: give at least one period");
  if (psa.size() != periods.size())
    throw InvalidArgument("psa has room for " + std::to_string(psa.size()) + " values, periods has " +
                          std::to_string(periods.size()));
  for (std::size_t i = 0; i < periods.size(); ++i)
    if (!(periods[i] >= 1e-5 && periods[i] <= 1e4))
      detail::refuse(indexed("periods", i), periods[i], "must be within 1e-5 to 1e4 s");
  const double scale = unit_scale(motion.fas);
  for (std::size_t i = 0; i < periods.size(); ++i) {
    const double fn = 1.0 / periods[i];
    const SpectralMoments m = oscillator_moments(motion.freqs, motion.fas, scale, fn, damping);
    psa[i] = scale > 0.0 ? rvt_peak_from_moments(motion, m, Oscillator{fn, damping}).peak / scale : 0.0;
  }
}

std::vector<double> rvt_response_spectrum(const RvtMotion& motion, std::span<const double> periods,
                                          double damping) {
  std::vector<double> psa(periods.size());
  rvt_response_spectrum(motion, periods, damping, psa);
  return psa;
}

}  // namespace velmar
