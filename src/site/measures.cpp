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
#include <limits>
#include <string>
#include <numbers>

#include "signal/fft_double.hpp"
#include "site/measures_detail.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/interrupt.hpp"
#include "velmar/measures.hpp"

namespace velmar {

using detail::check_oscillator_periods;
using detail::Scale;
using detail::peak_exponent;
using detail::scaled_down;
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
// The shortest period admitted, as a fraction of dt: w dt at most 2 pi 1e9,
// where the closed-form step is still exact to rounding. An oscillator that
// stiff follows the ground: its PSA is the PGA.
constexpr double MIN_PERIOD_PER_STEP = 1e-9;
// The most samples of free vibration after a record shorter than that.
constexpr double MAX_FREE_STEPS = 1e7;

// The recursion runs on the record divided by a power of two that brings its
// peak into [0.5, 1), with time in steps (w dt for w, u / dt^2 for u): every
// state is then a modest number whatever the record's units, size and step,
// and the true SD, PSV and PSA are formed from it at the end. A state below
// STATE_FLOOR (of the peak, in those units) is set to 0: a record that ends
// in silence otherwise lets the states decay into subnormal numbers, which
// some processors handle tens of times more slowly, and no peak can depend
// on so small a term (the peak of an admitted oscillator under a record
// with a sample of 0.5 is above 1e-40 in these units).
constexpr double STATE_FLOOR = 1e-200;
// Steps advanced between two looks at the caller's interrupt check (times
// LANES oscillator steps: a few milliseconds of work).
constexpr std::size_t STEPS_PER_POLL = std::size_t{1} << 19;
// Steps advanced at once by a block of lanes.
constexpr std::size_t STEPS_PER_CHUNK = std::size_t{1} << 16;
// Steps between two flushes of the states below STATE_FLOOR.
constexpr std::size_t FLUSH_STEPS = 256;

// Up to LANES oscillators marched over the record (scaled as above), then
// over zeros past its end; peaks of |u| so far in peak[].
struct Oscillators {
  std::array<double, LANES> a11{}, a12{}, a21{}, a22{}, b11{}, b12{}, b21{}, b22{};
  std::array<double, LANES> u{}, v{}, peak{};

  Oscillators(const StepCoefficients* k, std::size_t m) {
    // A subnormal coefficient (of a very long or very short period) would
    // slow every step as subnormal states do; it moves no result.
    const auto flushed = [](double c) { return std::abs(c) < std::numeric_limits<double>::min() ? 0.0 : c; };
    for (std::size_t j = 0; j < m; ++j) {
      a11[j] = flushed(k[j].a11), a12[j] = flushed(k[j].a12);
      a21[j] = flushed(k[j].a21), a22[j] = flushed(k[j].a22);
      b11[j] = flushed(k[j].b11), b12[j] = flushed(k[j].b12);
      b21[j] = flushed(k[j].b21), b22[j] = flushed(k[j].b22);
    }
  }

  // Steps i0 .. i1 - 1 (step i goes from sample i to sample i + 1; samples
  // at or past the record's n are zeros). The states are flushed every
  // FLUSH_STEPS steps, not at every step (which would cost a tenth of the
  // time): a state decaying from above the floor spends at most that many
  // steps among the subnormal numbers before it is set to 0, once per
  // stretch of silence.
  void advance(std::span<const double> accel, std::size_t i0, std::size_t i1) {
    const std::size_t n = accel.size();
    // Local copies, which the compiler knows no other pointer reaches.
    const std::array<double, LANES> c11 = a11, c12 = a12, c21 = a21, c22 = a22;
    const std::array<double, LANES> d11 = b11, d12 = b12, d21 = b21, d22 = b22;
    std::array<double, LANES> uu = u, vv = v, pk = peak;
    const auto step = [&](double x0, double x1) {
      for (std::size_t j = 0; j < LANES; ++j) {
        const double un = c11[j] * uu[j] + c12[j] * vv[j] + d11[j] * x0 + d12[j] * x1;
        const double vn = c21[j] * uu[j] + c22[j] * vv[j] + d21[j] * x0 + d22[j] * x1;
        uu[j] = un;
        vv[j] = vn;
        const double au = std::abs(un);
        pk[j] = pk[j] < au ? au : pk[j];
      }
    };
    for (std::size_t s0 = i0; s0 < i1; s0 += FLUSH_STEPS) {
      const std::size_t s1 = std::min(i1, s0 + FLUSH_STEPS);
      // Inside the record, then past its end (zeros).
      const std::size_t inside = std::clamp(n - 1, s0, s1);
      for (std::size_t i = s0; i < inside; ++i) step(accel[i], accel[i + 1]);
      for (std::size_t i = inside; i < s1; ++i) step(i < n ? accel[i] : 0.0, 0.0);
      for (std::size_t j = 0; j < LANES; ++j) {
        uu[j] = std::abs(uu[j]) < STATE_FLOOR ? 0.0 : uu[j];
        vv[j] = std::abs(vv[j]) < STATE_FLOOR ? 0.0 : vv[j];
      }
    }
    u = uu, v = vv, peak = pk;
  }
};

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

// `value` when finite; otherwise the true result is above the largest double.
double representable(double value, const char* what) {
  if (!std::isfinite(value)) {
    throw InvalidArgument(std::string(what) + " is above the largest double (" +
                          number(std::numeric_limits<double>::max()) + "): scale the record down");
  }
  return value;
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

void detail::check_oscillator_periods(std::span<const double> periods, double dt) {
  if (periods.empty()) throw InvalidArgument("periods must hold at least one period, got none");
  const double shortest = MIN_PERIOD_PER_STEP * dt;
  for (std::size_t i = 0; i < periods.size(); ++i) {
    if (!(std::isfinite(periods[i]) && periods[i] > 0.0)) {
      throw InvalidArgument("periods[" + std::to_string(i) + "] must be a finite value above 0 s, got " +
                            number(periods[i]));
    }
    if (periods[i] < shortest) {
      throw InvalidArgument("periods[" + std::to_string(i) + "] = " + number(periods[i]) +
                            " s is below 1e-9 dt = " + number(shortest) +
                            " s: an oscillator that stiff follows the ground (its PSA is the PGA); use " +
                            number(shortest) + " s or more");
    }
  }
}

ResponseSpectrum response_spectrum(std::span<const double> accel, double dt, std::span<const double> periods,
                                   double damping, double free_vibration, const InterruptCheck& interrupt) {
  check_samples(accel, dt);
  if (!(std::isfinite(damping) && damping >= 0.0 && damping < 1.0)) {
    throw InvalidArgument("damping must lie in [0, 1), got " + number(damping));
  }
  if (!(std::isfinite(free_vibration) && free_vibration >= 0.0)) {
    throw InvalidArgument("free_vibration must be a finite value of at least 0 s, got " + number(free_vibration));
  }
  check_oscillator_periods(periods, dt);
  const double longest = *std::max_element(periods.begin(), periods.end());
  const std::size_t n = accel.size();
  // Free vibration: at most the longer of the record's duration and ten of
  // the longest periods (of its own length at most MAX_FREE_STEPS samples).
  const double steps_allowed = std::max(static_cast<double>(n), std::min(10.0 * (longest / dt), MAX_FREE_STEPS));
  const double extra_steps = std::ceil(free_vibration / dt - 1e-9);
  if (!(extra_steps <= steps_allowed)) {
    throw InvalidArgument("free_vibration must be at most " + number(steps_allowed * dt) +
                          " s here (the longer of the record's duration and ten times the longest period, "
                          "and at most 1e7 samples beyond a shorter record), got " + number(free_vibration));
  }
  const auto extra = static_cast<std::size_t>(std::max(0.0, extra_steps));

  ResponseSpectrum rs;
  rs.periods.assign(periods.begin(), periods.end());
  rs.damping = damping;
  const std::size_t np = periods.size();
  rs.sd.assign(np, 0.0);
  rs.psv.assign(np, 0.0);
  rs.psa.assign(np, 0.0);
  if (std::all_of(accel.begin(), accel.end(), [](double x) { return x == 0.0; })) return rs;
  const int e = peak_exponent(accel);
  // The record with its peak in [0.5, 1) (exactly: a power of two), samples
  // below the state floor set to 0 (they could move no peak either).
  const std::vector<double> a = scaled_down(accel, e, STATE_FLOOR);
  const std::size_t steps = n - 1 + extra;
  std::vector<double> peak(np, 0.0);  // of u / dt^2 for the scaled record
  std::size_t since_poll = 0;
  std::array<StepCoefficients, LANES> k{};
  for (std::size_t p0 = 0; p0 < np; p0 += LANES) {
    const std::size_t m = std::min(LANES, np - p0);
    k.fill(StepCoefficients{});
    for (std::size_t j = 0; j < m; ++j) {
      // w dt = 2 pi dt / T, at most 2 pi 1e9 by the check above.
      k[j] = step_coefficients(Scale(2.0 * std::numbers::pi).times(dt).over(periods[p0 + j]).value(), damping, 1.0);
    }
    Oscillators osc(k.data(), m);
    for (std::size_t i0 = 0; i0 < steps; i0 += STEPS_PER_CHUNK) {
      const std::size_t i1 = std::min(steps, i0 + STEPS_PER_CHUNK);
      osc.advance(a, i0, i1);
      since_poll += i1 - i0;
      if (since_poll >= STEPS_PER_POLL) {
        poll_interrupt(interrupt);
        since_poll = 0;
      }
    }
    std::copy_n(osc.peak.begin(), m, peak.begin() + static_cast<std::ptrdiff_t>(p0));
  }
  // SD = peak dt^2 2^e, PSV = SD 2 pi / T, PSA = SD (2 pi / T)^2, each
  // formed without an intermediate overflow or underflow.
  for (std::size_t i = 0; i < np; ++i) {
    Scale sd(peak[i]);
    sd.times(dt).times(dt).times_power_of_two(e);
    rs.sd[i] = sd.value();
    sd.times(2.0 * std::numbers::pi).over(periods[i]);
    rs.psv[i] = sd.value();
    sd.times(2.0 * std::numbers::pi).over(periods[i]);
    rs.psa[i] = sd.value();
    if (!(std::isfinite(rs.sd[i]) && std::isfinite(rs.psv[i]) && std::isfinite(rs.psa[i]))) {
      throw InvalidArgument("the response at periods[" + std::to_string(i) + "] = " + number(periods[i]) +
                            " s is above the largest double (" + number(std::numeric_limits<double>::max()) +
                            "): scale the record down");
    }
  }
  return rs;
}

std::vector<double> fourier_amplitude(std::span<const double> accel, double dt, std::vector<double>& freqs) {
  check_samples(accel, dt);
  const std::size_t n = accel.size();
  // The transform of the record brought to a peak in [0.5, 1) (a power of
  // two, exact), so that no sum overflows; the amplitudes scaled back.
  const int e = peak_exponent(accel);
  const std::vector<cdouble> X = real_dft(scaled_down(accel, e), n / 2 + 1);
  std::vector<double> amp(X.size());
  freqs.resize(X.size());
  for (std::size_t k = 0; k < X.size(); ++k) {
    amp[k] = Scale(std::abs(X[k])).times(dt).times_power_of_two(e).value();
    freqs[k] = Scale(static_cast<double>(k)).over(static_cast<double>(n)).over(dt).value();
  }
  if (!std::isfinite(freqs.back())) {
    throw InvalidArgument("dt is so small that the frequencies k / (N dt) are above the largest double, got " +
                          number(dt));
  }
  for (const double x : amp) representable(x, "the Fourier amplitude");
  return amp;
}

namespace {

// Running sums of the trapezoidal rule for int a^2 over the samples `a`
// (without the factor dt / 2): 0 at the first sample.
std::vector<double> cumulative_squares(std::span<const double> a) {
  std::vector<double> sum(a.size(), 0.0);
  double s = 0.0;
  for (std::size_t i = 1; i < a.size(); ++i) {
    s += a[i - 1] * a[i - 1] + a[i] * a[i];
    sum[i] = s;
  }
  return sum;
}

// pi / (2 g) to_si^2 dt / 2 2^(2e): the Arias intensity per unit of the sums
// of squares of a record divided by 2^e.
Scale arias_factor(const Record& record, int e) {
  const double to_si = acceleration_unit(record.units);
  Scale f(std::numbers::pi / (2.0 * STANDARD_GRAVITY));
  f.times(to_si).times(to_si).times(record.dt).times(0.5).times_power_of_two(2 * e);
  return f;
}

}  // namespace

std::vector<double> arias_intensity(const Record& record) {
  check_record(record);
  // Squares of the record brought to a peak in [0.5, 1): none overflows or
  // underflows; the factor (with the power of two) is applied at the end.
  const int e = peak_exponent(record.accel);
  std::vector<double> ia = cumulative_squares(scaled_down(record.accel, e));
  const Scale factor = arias_factor(record, e);
  const double f = factor.value();
  if (f >= std::numeric_limits<double>::min() && f <= std::numeric_limits<double>::max()) {
    for (double& x : ia) x *= f;
  } else {
    for (double& x : ia) x = Scale(factor).times(x).value();
  }
  representable(ia.back(), "the Arias intensity");
  return ia;
}

double significant_duration(std::span<const double> cumulative, double dt, double from, double to) {
  if (cumulative.empty()) throw InvalidArgument("the cumulative history must hold at least one sample");
  if (!(std::isfinite(dt) && dt > 0.0)) {
    throw InvalidArgument("dt must be a finite value above 0 s, got " + number(dt));
  }
  if (!(from >= 0.0 && from < to && to <= 1.0)) {
    throw InvalidArgument("the fractions must satisfy 0 <= from < to <= 1, got " + number(from) + " and " +
                          number(to));
  }
  for (std::size_t i = 0; i < cumulative.size(); ++i) {
    if (!std::isfinite(cumulative[i])) {
      throw InvalidArgument("cumulative[" + std::to_string(i) + "] must be finite, got " + number(cumulative[i]));
    }
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

double significant_duration(const Record& record, double from, double to) {
  check_record(record);
  // Fractions of the total: the sums of squares of the record brought to a
  // peak in [0.5, 1) serve (no square of a small or large record underflows
  // or overflows there).
  const int e = peak_exponent(record.accel);
  return significant_duration(cumulative_squares(scaled_down(record.accel, e)), record.dt, from, to);
}

namespace {

// int |a| dt by the trapezoidal rule, m/s, of a record divided by 2^e (`a`).
double cav_of(const Record& record, std::span<const double> a, int e) {
  double cav = 0.0;
  for (std::size_t i = 1; i < a.size(); ++i) cav += std::abs(a[i - 1]) + std::abs(a[i]);
  return representable(
      Scale(0.5 * cav).times(record.dt).times(acceleration_unit(record.units)).times_power_of_two(e).value(),
      "the cumulative absolute velocity");
}

}  // namespace

double cumulative_absolute_velocity(const Record& record) {
  check_record(record);
  const int e = peak_exponent(record.accel);
  return cav_of(record, scaled_down(record.accel, e), e);
}

IntensityMeasures intensity_measures(const Record& record) {
  check_record(record);
  const double to_si = acceleration_unit(record.units);
  const double dt = record.dt;
  // Every sum and transform runs on the record brought to a peak in
  // [0.5, 1) (a power of two, exact); each measure is scaled back at the end
  // and refused only when it is above the largest double.
  const int e = peak_exponent(record.accel);
  const std::vector<double> a = scaled_down(record.accel, e);
  IntensityMeasures m;
  for (const double x : record.accel) m.pga = std::max(m.pga, std::abs(x));
  m.cav = cav_of(record, a, e);
  const std::vector<double> sums = cumulative_squares(a);
  m.arias = representable(arias_factor(record, e).times(sums.back()).value(), "the Arias intensity");
  m.d5_95 = significant_duration(sums, dt, 0.05, 0.95);
  // Integrated with time in steps (velocity per dt, displacement per dt^2)
  // and the record's own units: both scale back exactly.
  const std::array<std::vector<double>, 2> vd = integrate_twice(a, 1.0, 1.0);
  double pv = 0.0, pd = 0.0;
  for (const double x : vd[0]) pv = std::max(pv, std::abs(x));
  for (const double x : vd[1]) pd = std::max(pd, std::abs(x));
  m.pgv = representable(Scale(pv).times(dt).times(to_si).times_power_of_two(e).value(), "the peak velocity");
  m.pgd = representable(Scale(pd).times(dt).times(dt).times(to_si).times_power_of_two(e).value(),
                        "the peak displacement");
  return m;
}

}  // namespace velmar
