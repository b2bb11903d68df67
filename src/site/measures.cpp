// spectra.cpp: response spectra, Fourier amplitude spectra, intensity
// measures and peaks with depth.
//
// Glossary:
//   T, w      oscillator period (s) and natural angular frequency 2 pi / T
//   zeta      damping ratio of the oscillator (0.05 = 5 %)
//   wd        damped angular frequency w sqrt(1 - zeta^2)
//   u, v      relative displacement and velocity of the oscillator,
//             u'' + 2 zeta w u' + w^2 u = -a(t)
//   A, B      one step of the exact recursion for an excitation linear
//             between samples: [u; v](i+1) = A [u; v](i) + B [a(i); a(i+1)]
//   SD        max |u| over the samples; PSV = w SD; PSA = w^2 SD
//   Ia        Arias intensity pi / (2 g) int a^2 dt, m/s (a in m/s2)
#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>

#include "signal/fft_double.hpp"
#include "site/measures_detail.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/measures.hpp"

namespace velmar {

using detail::integrate_twice;
using detail::number;
using detail::real_dft;
namespace {

// Below this w dt the closed-form B loses digits (its terms grow as
// 1/(w^3 dt) and cancel to O(dt^2)): B comes from the series of the matrix
// exponential instead, whose terms fall as (w dt)^k / k!.
constexpr double SERIES_W_DT = 0.1;
// Terms of that series: (0.1)^SERIES_TERMS / SERIES_TERMS! < 1e-20.
constexpr int SERIES_TERMS = 14;

// The exact one-step matrices of the oscillator for a linear excitation
// (the closed-form solution over one step of length dt, from rest and from
// an initial state).
struct StepCoefficients {
  double a11, a12, a21, a22, b11, b12, b21, b22;
};

// B by series: with x' = M x + g a(t), M = [0 1; -w^2 -2 zeta w], g = [0; -1]
// and a linear over the step, the response from rest is G0 a(i) + G1 (a(i+1)
// - a(i)) with G0 = sum_k M^k dt^(k+1) / (k+1)! g and
// G1 = sum_k M^k dt^(k+1) / (k+2)! g.
void step_input_by_series(double w, double zeta, double dt, StepCoefficients& k) {
  double p0 = 0.0, p1 = -1.0;  // M^j g
  double g0u = 0.0, g0v = 0.0, g1u = 0.0, g1v = 0.0;
  double c0 = dt, c1 = dt / 2.0;  // dt^(j+1)/(j+1)!, dt^(j+1)/(j+2)!
  for (int j = 0; j < SERIES_TERMS; ++j) {
    g0u += c0 * p0, g0v += c0 * p1;
    g1u += c1 * p0, g1v += c1 * p1;
    const double q0 = p1, q1 = -w * w * p0 - 2.0 * zeta * w * p1;
    p0 = q0, p1 = q1;
    c0 *= dt / (j + 2.0);
    c1 *= dt / (j + 3.0);
  }
  k.b11 = g0u - g1u, k.b12 = g1u;
  k.b21 = g0v - g1v, k.b22 = g1v;
}

StepCoefficients step_coefficients(double w, double zeta, double dt) {
  // A is exact in closed form at any w dt; B too, except for small w dt.
  const double r = std::sqrt(1.0 - zeta * zeta);
  const double wd = w * r;
  const double e = std::exp(-zeta * w * dt);
  const double s = std::sin(wd * dt);
  const double c = std::cos(wd * dt);
  const double zr = zeta / r;
  StepCoefficients k{};
  k.a11 = e * (zr * s + c);
  k.a12 = e * s / wd;
  k.a21 = -w / r * e * s;
  k.a22 = e * (c - zr * s);
  if (w * dt < SERIES_W_DT) {
    step_input_by_series(w, zeta, dt, k);
    return k;
  }
  const double w2 = w * w;
  const double p = (2.0 * zeta * zeta - 1.0) / (w2 * dt);
  const double q = 2.0 * zeta / (w2 * w * dt);
  k.b11 = e * ((p + zeta / w) * s / wd + (q + 1.0 / w2) * c) - q;
  k.b12 = -e * (p * s / wd + q * c) - 1.0 / w2 + q;
  const double dc = c - zr * s;
  const double ds = wd * s + zeta * w * c;
  k.b21 = e * ((p + zeta / w) * dc - (q + 1.0 / w2) * ds) + 1.0 / (w2 * dt);
  k.b22 = -e * (p * dc - q * ds) - 1.0 / (w2 * dt);
  return k;
}

// Periods advanced together: independent recursions interleaved so that the
// latency of one hides behind the others, and the lanes vectorise.
constexpr std::size_t LANES = 8;

// Peak |u| of up to LANES oscillators (coefficients k[0..m-1]) under `accel`
// followed by `extra` zero samples; peaks to sd[0..m-1].
void peak_displacements(std::span<const double> accel, std::size_t extra, const StepCoefficients* k,
                        std::size_t m, double* sd) {
  std::array<double, LANES> a11{}, a12{}, a21{}, a22{}, b11{}, b12{}, b21{}, b22{};
  for (std::size_t j = 0; j < m; ++j) {
    a11[j] = k[j].a11, a12[j] = k[j].a12, a21[j] = k[j].a21, a22[j] = k[j].a22;
    b11[j] = k[j].b11, b12[j] = k[j].b12, b21[j] = k[j].b21, b22[j] = k[j].b22;
  }
  std::array<double, LANES> u{}, v{}, peak{};
  const std::size_t n = accel.size();
  const std::size_t steps = n - 1 + extra;
  for (std::size_t i = 0; i < steps; ++i) {
    const double x0 = i < n ? accel[i] : 0.0;
    const double x1 = i + 1 < n ? accel[i + 1] : 0.0;
    for (std::size_t j = 0; j < LANES; ++j) {
      const double un = a11[j] * u[j] + a12[j] * v[j] + b11[j] * x0 + b12[j] * x1;
      const double vn = a21[j] * u[j] + a22[j] * v[j] + b21[j] * x0 + b22[j] * x1;
      u[j] = un;
      v[j] = vn;
      const double au = std::abs(un);
      peak[j] = peak[j] < au ? au : peak[j];
    }
  }
  for (std::size_t j = 0; j < m; ++j) sd[j] = peak[j];
}

void check_samples(std::span<const double> accel, double dt) {
  if (accel.empty()) throw InvalidArgument("accel must hold at least one sample, got 0");
  for (std::size_t i = 0; i < accel.size(); ++i) {
    if (!std::isfinite(accel[i])) {
      throw InvalidArgument("accel[" + std::to_string(i) + "] must be finite, got " + number(accel[i]));
    }
  }
  if (!(std::isfinite(dt) && dt > 0.0)) {
    throw InvalidArgument("dt must be a finite value above 0 s, got " + number(dt));
  }
}

}  // namespace

std::vector<double> default_periods() {
  constexpr std::size_t N = 100;
  std::vector<double> t(N);
  for (std::size_t i = 0; i < N; ++i) {
    t[i] = std::pow(10.0, -2.0 + 3.0 * static_cast<double>(i) / static_cast<double>(N - 1));
  }
  t.front() = 0.01;
  t.back() = 10.0;
  return t;
}

ResponseSpectrum response_spectrum(std::span<const double> accel, double dt, std::span<const double> periods,
                                   double damping, double free_vibration) {
  check_samples(accel, dt);
  if (!(std::isfinite(damping) && damping >= 0.0 && damping < 1.0)) {
    throw InvalidArgument("damping must lie in [0, 1), got " + number(damping));
  }
  if (!(std::isfinite(free_vibration) && free_vibration >= 0.0)) {
    throw InvalidArgument("free_vibration must be a finite value of at least 0 s, got " + number(free_vibration));
  }
  for (std::size_t i = 0; i < periods.size(); ++i) {
    if (!(std::isfinite(periods[i]) && periods[i] > 0.0)) {
      throw InvalidArgument("periods[" + std::to_string(i) + "] must be a finite value above 0 s, got " +
                            number(periods[i]));
    }
  }
  const double extra_steps = std::ceil(free_vibration / dt - 1e-9);
  if (!(extra_steps < 1e15)) throw InvalidArgument("free_vibration / dt is too large: " + number(extra_steps));
  const auto extra = static_cast<std::size_t>(extra_steps);

  ResponseSpectrum rs;
  rs.periods.assign(periods.begin(), periods.end());
  rs.damping = damping;
  const std::size_t np = periods.size();
  rs.sd.assign(np, 0.0);
  rs.psv.assign(np, 0.0);
  rs.psa.assign(np, 0.0);
  std::array<StepCoefficients, LANES> k{};
  for (std::size_t p0 = 0; p0 < np; p0 += LANES) {
    const std::size_t m = std::min(LANES, np - p0);
    k.fill(StepCoefficients{});
    for (std::size_t j = 0; j < m; ++j) {
      k[j] = step_coefficients(2.0 * std::numbers::pi / periods[p0 + j], damping, dt);
    }
    peak_displacements(accel, extra, k.data(), m, rs.sd.data() + p0);
  }
  for (std::size_t i = 0; i < np; ++i) {
    const double w = 2.0 * std::numbers::pi / periods[i];
    rs.psv[i] = w * rs.sd[i];
    rs.psa[i] = w * w * rs.sd[i];
  }
  return rs;
}

std::vector<double> fourier_amplitude(std::span<const double> accel, double dt, std::vector<double>& freqs) {
  check_samples(accel, dt);
  const std::size_t n = accel.size();
  const std::vector<cdouble> X = real_dft(accel, n / 2 + 1);
  std::vector<double> amp(X.size());
  freqs.resize(X.size());
  const double df = 1.0 / (static_cast<double>(n) * dt);
  for (std::size_t k = 0; k < X.size(); ++k) {
    amp[k] = std::abs(X[k]) * dt;
    freqs[k] = static_cast<double>(k) * df;
  }
  return amp;
}

std::vector<double> arias_intensity(const Record& record) {
  check_record(record);
  const double to_si = acceleration_unit(record.units);
  const double factor = std::numbers::pi / (2.0 * STANDARD_GRAVITY) * to_si * to_si * record.dt * 0.5;
  const std::vector<double>& a = record.accel;
  std::vector<double> ia(a.size(), 0.0);
  // Trapezoidal rule over the samples; the sum is carried unscaled.
  double sum = 0.0;
  for (std::size_t i = 1; i < a.size(); ++i) {
    sum += a[i - 1] * a[i - 1] + a[i] * a[i];
    ia[i] = factor * sum;
  }
  return ia;
}

double significant_duration(std::span<const double> cumulative, double dt, double from, double to) {
  if (cumulative.empty()) throw InvalidArgument("the cumulative history must hold at least one sample");
  if (!(from >= 0.0 && from < to && to <= 1.0)) {
    throw InvalidArgument("the fractions must satisfy 0 <= from < to <= 1, got " + number(from) + " and " +
                          number(to));
  }
  const double total = cumulative.back();
  if (!(total > 0.0)) return 0.0;
  // The time at which the cumulative history first reaches `level`, linear
  // between samples.
  const auto crossing = [&](double level) {
    const auto it = std::lower_bound(cumulative.begin(), cumulative.end(), level);
    const auto i = static_cast<std::size_t>(it - cumulative.begin());
    if (i == 0) return 0.0;
    const double lo = cumulative[i - 1], hi = cumulative[i];
    const double frac = hi > lo ? (level - lo) / (hi - lo) : 0.0;
    return (static_cast<double>(i - 1) + frac) * dt;
  };
  return crossing(to * total) - crossing(from * total);
}

IntensityMeasures intensity_measures(const Record& record) {
  const std::vector<double> ia = arias_intensity(record);
  const double to_si = acceleration_unit(record.units);
  const std::vector<double>& a = record.accel;
  IntensityMeasures m;
  double cav = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    m.pga = std::max(m.pga, std::abs(a[i]));
    if (i > 0) cav += std::abs(a[i - 1]) + std::abs(a[i]);
  }
  m.cav = 0.5 * cav * record.dt * to_si;
  m.arias = ia.back();
  m.d5_95 = significant_duration(ia, record.dt, 0.05, 0.95);
  const std::array<std::vector<double>, 2> vd = integrate_twice(a, record.dt, to_si);
  for (const double x : vd[0]) m.pgv = std::max(m.pgv, std::abs(x));
  for (const double x : vd[1]) m.pgd = std::max(m.pgd, std::abs(x));
  return m;
}

}  // namespace velmar
