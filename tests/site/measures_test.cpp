// Response spectra, Fourier spectra and their smoothing, intensity measures
// and peak profiles, against closed forms and brute force.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "velmar/velmar.hpp"

namespace velmar {
namespace {

constexpr double PI = std::numbers::pi;
constexpr double EPS = std::numeric_limits<double>::epsilon();
// Results of the exact recursion over ~1e4 steps: rounding grows with the
// step count; 1e4 eps leaves a factor of ten over what was seen.
constexpr double RECURSION_TOL = 1e4 * EPS;
// Peaks read off samples of a smooth curve at 200 samples per period
// differ from the true peak by at most (pi/200)^2/2 ~ 1.2e-4.
constexpr double SAMPLED_PEAK_TOL = 2e-4;
// Transforms of a few thousand points: a few 1e3 eps.
constexpr double FFT_TOL = 1e-12;
// The smoothing leaves out window terms below 1e-6 (see smoothing.cpp).
constexpr double KO_TRUNCATION_TOL = 2e-4;

std::vector<double> sine(double amplitude, double f, double dt, std::size_t n) {
  std::vector<double> a(n);
  for (std::size_t j = 0; j < n; ++j) a[j] = amplitude * std::sin(2 * PI * f * static_cast<double>(j) * dt);
  return a;
}

Record record_of(std::vector<double> a, double dt, std::string units = "g") {
  Record r;
  r.accel = std::move(a);
  r.dt = dt;
  r.units = std::move(units);
  return r;
}

// The oscillator u'' + 2 zeta w u' + w^2 u = -a(t), a linear between samples,
// by classical Runge-Kutta with `sub` steps per sample: an independent
// reference for the recursion.
double brute_force_sd(const std::vector<double>& a, double dt, double T, double zeta, int sub) {
  const double w = 2 * PI / T;
  double u = 0, v = 0, peak = 0;
  const double h = dt / sub;
  for (std::size_t i = 0; i + 1 < a.size(); ++i) {
    const auto acc = [&](double s) { return a[i] + (a[i + 1] - a[i]) * s / dt; };
    for (int k = 0; k < sub; ++k) {
      const double s0 = k * h;
      const auto f = [&](double s, double uu, double vv) { return -acc(s) - 2 * zeta * w * vv - w * w * uu; };
      const double k1u = v, k1v = f(s0, u, v);
      const double k2u = v + 0.5 * h * k1v, k2v = f(s0 + 0.5 * h, u + 0.5 * h * k1u, v + 0.5 * h * k1v);
      const double k3u = v + 0.5 * h * k2v, k3v = f(s0 + 0.5 * h, u + 0.5 * h * k2u, v + 0.5 * h * k2v);
      const double k4u = v + h * k3v, k4v = f(s0 + h, u + h * k3u, v + h * k3v);
      u += h / 6 * (k1u + 2 * k2u + 2 * k3u + k4u);
      v += h / 6 * (k1v + 2 * k2v + 2 * k3v + k4v);
    }
    peak = std::max(peak, std::abs(u));
  }
  return peak;
}

struct OscillatorCase {
  double T, zeta;
};
class ResponseSpectrumVsBruteForce : public ::testing::TestWithParam<OscillatorCase> {};

TEST_P(ResponseSpectrumVsBruteForce, RecursionMatchesFineStepIntegration) {
  const auto [T, zeta] = GetParam();
  // A chirp-like record with a sharp start (the recursion must be exact for
  // any linear segment, not only smooth ones).
  const double dt = 0.01;
  std::vector<double> a(600);
  for (std::size_t j = 0; j < a.size(); ++j) {
    const double t = static_cast<double>(j) * dt;
    a[j] = std::sin(2 * PI * (0.5 + 0.8 * t) * t) * std::exp(-0.4 * t) + (j % 37 == 0 ? 0.3 : 0.0);
  }
  const std::vector<double> periods{T};
  const ResponseSpectrum rs = response_spectrum(a, dt, periods, zeta);
  // RK4 with h = T/4000 at most: global error ~ (w h)^4 ~ 2e-12 relative.
  const int sub = std::max(20, static_cast<int>(std::ceil(4000 * dt / T)));
  const double ref = brute_force_sd(a, dt, T, zeta, sub);
  EXPECT_NEAR(rs.sd[0], ref, 1e-8 * ref);
}

INSTANTIATE_TEST_SUITE_P(PeriodsAndDampings, ResponseSpectrumVsBruteForce,
                         ::testing::Values(OscillatorCase{0.05, 0.05}, OscillatorCase{0.3, 0.0},
                                           OscillatorCase{1.0, 0.05}, OscillatorCase{2.0, 0.2},
                                           OscillatorCase{5.0, 0.02}, OscillatorCase{0.5, 0.9}));

TEST(ResponseSpectrum, ResonantHarmonicGrowsToOneOverTwoZetaTimesTheInput) {
  // Steady state at resonance: u = a0 / (2 zeta w^2), so PSA = a0 / (2 zeta).
  // 60 cycles at zeta = 0.05 leave a transient of exp(-2 pi 0.05 60) ~ 6e-9.
  const double T = 0.5, zeta = 0.05, a0 = 0.3, dt = T / 200;
  const std::vector<double> a = sine(a0, 1 / T, dt, 200 * 60);
  const ResponseSpectrum rs = response_spectrum(a, dt, std::vector<double>{T}, zeta);
  EXPECT_NEAR(rs.psa[0], a0 / (2 * zeta), SAMPLED_PEAK_TOL * a0 / (2 * zeta));
  EXPECT_NEAR(rs.psv[0], rs.psa[0] * T / (2 * PI), RECURSION_TOL * rs.psv[0]);
}

TEST(ResponseSpectrum, VeryShortPeriodGivesThePeakGroundAcceleration) {
  const double dt = 0.01;
  std::vector<double> a = sine(1.0, 1.3, dt, 1000);
  for (std::size_t j = 0; j < a.size(); ++j) a[j] *= std::exp(-0.003 * static_cast<double>(j));
  const ResponseSpectrum rs = response_spectrum(a, dt, std::vector<double>{1e-4, 0.001}, 0.05);
  double peak = 0;
  for (double x : a) peak = std::max(peak, std::abs(x));
  EXPECT_NEAR(rs.psa[0], peak, 1e-6 * peak);
  EXPECT_NEAR(rs.psa[1], peak, 1e-4 * peak);
}

TEST(ResponseSpectrum, ImpulseGivesTheDampedFreeVibration) {
  // A triangle of area I (one sample of height I/dt) gives, once it has
  // passed, a free vibration of velocity close to -I: u(t) = -I/wd e^{-z w t}
  // sin(wd t). With a short impulse the first peak is I/wd e^{-z w t1} sin(wd t1)
  // at tan(wd t1) = wd / (z w); a free-vibration window lets the peak be seen.
  const double T = 2.0, zeta = 0.05, dt = 0.0005, area = 0.1;
  std::vector<double> a(3, 0.0);
  a[1] = area / dt;
  const double w = 2 * PI / T, wd = w * std::sqrt(1 - zeta * zeta);
  const double t1 = std::atan(wd / (zeta * w)) / wd;
  const double expected = area / wd * std::exp(-zeta * w * t1) * std::sin(wd * t1);
  const ResponseSpectrum rs = response_spectrum(a, dt, std::vector<double>{T}, zeta, 2.0);
  // The pulse's width (2 dt) shifts the motion by dt: relative (w dt)^2 terms.
  EXPECT_NEAR(rs.sd[0], expected, 1e-5 * expected);
  // Without the window the record ends before the peak.
  const ResponseSpectrum short_rs = response_spectrum(a, dt, std::vector<double>{T}, zeta);
  EXPECT_LT(short_rs.sd[0], 0.01 * expected);
}

TEST(ResponseSpectrum, BlocksOfPeriodsGiveTheSameAsOnePeriodAtATime) {
  const double dt = 0.005;
  std::vector<double> a(3000);
  for (std::size_t j = 0; j < a.size(); ++j) a[j] = std::sin(0.01 * static_cast<double>(j * j % 977));
  const std::vector<double> periods = default_periods();
  const ResponseSpectrum all = response_spectrum(a, dt, periods);
  for (std::size_t i = 0; i < periods.size(); i += 11) {
    const ResponseSpectrum one = response_spectrum(a, dt, std::span(periods).subspan(i, 1));
    EXPECT_EQ(one.sd[0], all.sd[i]) << "period " << periods[i];
  }
}

TEST(ResponseSpectrum, DefaultPeriodsAreOneHundredLogSpacedFromTenMillisecondsToTenSeconds) {
  const std::vector<double> t = default_periods();
  ASSERT_EQ(t.size(), 100u);
  EXPECT_EQ(t.front(), 0.01);
  EXPECT_EQ(t.back(), 10.0);
  const double ratio = std::pow(1000.0, 1.0 / 99);
  for (std::size_t i = 1; i < t.size(); ++i) EXPECT_NEAR(t[i] / t[i - 1], ratio, 1e-12);
}

struct BadSpectrumInput {
  std::vector<double> accel;
  double dt;
  std::vector<double> periods;
  double damping;
  const char* message;
};
class ResponseSpectrumRefuses : public ::testing::TestWithParam<BadSpectrumInput> {};

TEST_P(ResponseSpectrumRefuses, NamesTheArgument) {
  const BadSpectrumInput& c = GetParam();
  try {
    response_spectrum(c.accel, c.dt, c.periods, c.damping);
    FAIL() << "no exception";
  } catch (const InvalidArgument& e) {
    EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResponseSpectrumRefuses,
    ::testing::Values(BadSpectrumInput{{}, 0.01, {1.0}, 0.05, "accel must hold"},
                      BadSpectrumInput{{0.0, NAN}, 0.01, {1.0}, 0.05, "accel[1]"},
                      BadSpectrumInput{{0.0, 1.0}, 0.0, {1.0}, 0.05, "dt"},
                      BadSpectrumInput{{0.0, 1.0}, -0.01, {1.0}, 0.05, "dt"},
                      BadSpectrumInput{{0.0, 1.0}, 0.01, {1.0, 0.0}, 0.05, "periods[1]"},
                      BadSpectrumInput{{0.0, 1.0}, 0.01, {1.0}, -0.01, "damping"},
                      BadSpectrumInput{{0.0, 1.0}, 0.01, {1.0}, 1.0, "damping"}));

TEST(ResponseSpectrum, RefusesNoPeriodTooStiffAnOscillatorAndAnEndlessFreeVibration) {
  const std::vector<double> a = sine(1.0, 2.0, 0.01, 500);
  const auto message = [&](std::vector<double> periods, double free_vibration) {
    try {
      response_spectrum(a, 0.01, periods, 0.05, free_vibration);
    } catch (const InvalidArgument& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  EXPECT_NE(message({}, 0.0).find("periods must hold"), std::string::npos);
  // w = 2 pi / T overflows its square (and, below 3.5e-308 s, itself).
  EXPECT_NE(message({1.0, 1e-160}, 0.0).find("periods[1]"), std::string::npos);
  EXPECT_NE(message({1e-320}, 0.0).find("periods[0]"), std::string::npos);
  EXPECT_NE(message({1e-11 * 0.999}, 0.0).find("1e-9 dt"), std::string::npos);
  // Free vibration: the longer of the record's 5 s and ten longest periods.
  EXPECT_NE(message({1.0}, 1e5).find("free_vibration must be at most 10"), std::string::npos);
  EXPECT_NE(message({0.1}, 5.01).find("free_vibration must be at most 5"), std::string::npos);
  EXPECT_EQ(message({0.1}, 5.0), "no exception");
  EXPECT_EQ(message({2.0}, 20.0), "no exception");
  EXPECT_NE(message({1e6}, 1e7).find("free_vibration"), std::string::npos);  // 1e7 samples at most
}

TEST(ResponseSpectrum, StiffestAdmittedOscillatorFollowsTheGround) {
  const double dt = 0.01;
  const std::vector<double> a = sine(0.7, 1.3, dt, 1000);
  for (const double zeta : {0.0, 0.05, 0.9}) {
    const std::vector<double> periods{1e-9 * dt, 1e-7 * dt};
    const ResponseSpectrum rs = response_spectrum(a, dt, periods, zeta);
    double pga = 0;
    for (const double x : a) pga = std::max(pga, std::abs(x));
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_NEAR(rs.psa[i], pga, 1e-6 * pga) << zeta;
      const double w = 2 * PI / periods[i];
      EXPECT_NEAR(rs.sd[i], pga / (w * w), 1e-6 * pga / (w * w)) << zeta;
    }
  }
}

// A chirp with a sharp start, the base of the scaling tests.
std::vector<double> chirp_record(std::size_t n, double dt) {
  std::vector<double> a(n);
  for (std::size_t j = 0; j < n; ++j) {
    const double t = static_cast<double>(j) * dt;
    a[j] = 0.3 * std::sin(2 * PI * (0.5 + 0.8 * t) * t) * std::exp(-0.2 * t) + (j == 40 ? 0.5 : 0.0);
  }
  return a;
}

std::vector<double> times(std::vector<double> a, double factor) {
  for (double& x : a) x *= factor;
  return a;
}

void expect_scaled(const std::vector<double>& got, const std::vector<double>& base, double factor, double tol,
                   const char* what) {
  ASSERT_EQ(got.size(), base.size()) << what;
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_TRUE(std::isfinite(got[i])) << what << "[" << i << "] at factor " << factor;
    EXPECT_NEAR(got[i] / factor, base[i], tol * std::abs(base[i]) + 1e-300) << what << "[" << i << "] at " << factor;
  }
}

// Every measure is homogeneous in the record: a record 1e300 times larger or
// smaller gives measures as many times larger or smaller (Arias intensity
// squared), neither NaN, nor infinite, nor a false 0, nor a lost duration.
TEST(ExtremeRecords, MeasuresScaleWithTheRecordAcrossTheRangeOfDoubles) {
  const double dt = 0.01;
  const std::vector<double> a = chirp_record(2000, dt);
  const std::vector<double> periods{0.02, 0.3, 1.0, 10.0, 1000.0};
  const ResponseSpectrum rs = response_spectrum(a, dt, periods, 0.05, 3.0);
  std::vector<double> freqs;
  const std::vector<double> fa = fourier_amplitude(a, dt, freqs);
  const IntensityMeasures im = intensity_measures(record_of(a, dt, "m/s2"));
  const double d595 = significant_duration(record_of(a, dt, "m/s2"));
  EXPECT_NEAR(d595, im.d5_95, 1e-12);
  for (const double factor : {0x1p-1000, 1e-300, 1e-170, 1e170, 1e300, 0x1p+1000}) {
    const std::vector<double> b = times(a, factor);
    const ResponseSpectrum s = response_spectrum(b, dt, periods, 0.05, 3.0);
    expect_scaled(s.sd, rs.sd, factor, 1e-12, "sd");
    expect_scaled(s.psv, rs.psv, factor, 1e-12, "psv");
    expect_scaled(s.psa, rs.psa, factor, 1e-12, "psa");
    expect_scaled(fourier_amplitude(b, dt, freqs), fa, factor, 1e-12, "fourier");
    const Record r = record_of(b, dt, "m/s2");
    EXPECT_NEAR(cumulative_absolute_velocity(r) / factor, im.cav, 1e-12 * im.cav) << factor;
    EXPECT_NEAR(significant_duration(r), d595, 1e-12) << factor;
    if (factor > 1e150) {  // the Arias intensity, ~ a^2, is above the largest double
      EXPECT_THROW(intensity_measures(r), InvalidArgument);
      continue;
    }
    const IntensityMeasures m = intensity_measures(r);
    EXPECT_NEAR(m.pga / factor, im.pga, 1e-15 * im.pga) << factor;
    EXPECT_NEAR(m.pgv / factor, im.pgv, 1e-12 * im.pgv) << factor;
    EXPECT_NEAR(m.pgd / factor, im.pgd, 1e-12 * im.pgd) << factor;
    EXPECT_NEAR(m.cav / factor, im.cav, 1e-12 * im.cav) << factor;
    EXPECT_NEAR(m.d5_95, im.d5_95, 1e-12) << factor;
    if (factor > 1e-150) {
      EXPECT_NEAR(m.arias / (factor * factor), im.arias, 1e-12 * im.arias) << factor;
    }
  }
  // Above the largest double the call refuses rather than returning infinity.
  // A constant 1e306 for 20 s moves a soft oscillator by 1e306 t^2 / 2.
  const std::vector<double> huge(2000, 1e306);
  EXPECT_THROW(response_spectrum(huge, dt, std::vector<double>{1e4}), InvalidArgument);
  EXPECT_THROW(fourier_amplitude(huge, 1.0, freqs), InvalidArgument);
  EXPECT_THROW(fourier_amplitude(a, 1e-310, freqs), InvalidArgument);  // frequencies
  EXPECT_EQ(response_spectrum(std::vector<double>(100, 0.0), dt, periods).psa, std::vector<double>(5, 0.0));
}

TEST(ExtremeRecords, KonnoOhmachiOfASpectrumNearTheLargestOrSmallestDouble) {
  std::vector<double> f(2000);
  for (std::size_t k = 0; k < f.size(); ++k) f[k] = 0.05 * static_cast<double>(k);
  const std::vector<double> centres{0.3, 5.0, 60.0};
  for (const double level : {std::numeric_limits<double>::max(), 1e-310, 1e-320}) {
    const std::vector<double> s = konno_ohmachi(f, std::vector<double>(f.size(), level), centres);
    for (const double x : s) EXPECT_EQ(x, level);
  }
  std::vector<double> a(f.size());
  for (std::size_t k = 0; k < f.size(); ++k) a[k] = 1.0 + std::sin(0.01 * static_cast<double>(k));
  const std::vector<double> base = konno_ohmachi(f, a, centres);
  expect_scaled(konno_ohmachi(f, times(a, 1e300), centres), base, 1e300, 1e-13, "ko");
  expect_scaled(konno_ohmachi(f, times(a, 1e-300), centres), base, 1e-300, 1e-13, "ko");
  EXPECT_THROW(konno_ohmachi(f, a, centres, 1e307), InvalidArgument);  // b log10 f overflows
}

TEST(ResponseSpectrum, ARecordEndingInSilenceKeepsItsPeaks) {
  // The oscillators' states are set to 0 once below 1e-200 of the peak:
  // the peaks match a brute-force integration of the record with its tail.
  const double dt = 0.01;
  std::vector<double> a = chirp_record(300, dt);
  a.resize(20000, 0.0);
  for (const double T : {0.05, 0.7}) {
    const ResponseSpectrum rs = response_spectrum(a, dt, std::vector<double>{T}, 0.05);
    const std::vector<double> head(a.begin(), a.begin() + 1500);
    const double ref = brute_force_sd(head, dt, T, 0.05, std::max(20, static_cast<int>(std::ceil(4000 * dt / T))));
    EXPECT_NEAR(rs.sd[0], ref, 1e-8 * ref) << T;
  }
}

TEST(ResponseSpectrum, StopsWhenTheInterruptCheckAsks) {
  const double dt = 0.005;
  const std::vector<double> a = chirp_record(1 << 20, dt);
  const std::vector<double> periods = default_periods();
  int polls = 0;
  const InterruptCheck stop_at_third = [&polls] { return ++polls == 3; };
  EXPECT_THROW(response_spectrum(a, dt, periods, 0.05, 0.0, stop_at_third), Interrupted);
  EXPECT_EQ(polls, 3);
  // A check that never asks changes nothing; one that throws leaves the call.
  const std::vector<double> small(a.begin(), a.begin() + 200000);
  polls = 0;
  const InterruptCheck go_on = [&polls] { return ++polls < 0; };
  EXPECT_EQ(response_spectrum(small, dt, periods, 0.05, 0.0, go_on).sd, response_spectrum(small, dt, periods).sd);
  EXPECT_GT(polls, 0);
  const InterruptCheck raise = []() -> bool { throw std::runtime_error("caller's own"); };
  EXPECT_THROW(response_spectrum(small, dt, periods, 0.05, 0.0, raise), std::runtime_error);
}

TEST(FourierAmplitude, ToneOfAnyLengthPeaksAtHalfNTimesDtTimesTheAmplitude) {
  // A tone on a bin of an n-point record: |X_k| dt = n dt a0 / 2 exactly,
  // other bins 0; n neither 2^a nor 3 2^a goes through the chirp-z path.
  for (const std::size_t n : {1024u, 1536u, 1000u, 999u, 7u}) {
    const double dt = 0.01, a0 = 2.5;
    const std::size_t bin = n / 5;
    const double f = static_cast<double>(bin) / (static_cast<double>(n) * dt);
    std::vector<double> freqs;
    const std::vector<double> amp = fourier_amplitude(sine(a0, f, dt, n), dt, freqs);
    ASSERT_EQ(amp.size(), n / 2 + 1);
    const double expected = static_cast<double>(n) * dt * a0 / 2;
    EXPECT_NEAR(freqs[bin], f, 1e-12 * f);
    for (std::size_t k = 0; k < amp.size(); ++k) {
      EXPECT_NEAR(amp[k], k == bin ? expected : 0.0, FFT_TOL * expected) << "n " << n << " k " << k;
    }
  }
}

TEST(FourierAmplitude, MatchesADirectSumForAnIrregularRecord) {
  const std::size_t n = 1531;  // prime
  const double dt = 0.02;
  std::vector<double> a(n);
  for (std::size_t j = 0; j < n; ++j) {
    a[j] = std::cos(0.37 * static_cast<double>(j)) + 0.001 * static_cast<double>(j % 13);
  }
  std::vector<double> freqs;
  const std::vector<double> amp = fourier_amplitude(a, dt, freqs);
  double peak = 0;
  for (double x : amp) peak = std::max(peak, x);
  for (std::size_t k = 0; k < amp.size(); k += 17) {
    long double re = 0, im = 0;
    for (std::size_t j = 0; j < n; ++j) {
      const long double ph = 2 * std::numbers::pi_v<long double> * static_cast<long double>((j * k) % n) / n;
      re += a[j] * std::cos(ph);
      im += a[j] * std::sin(ph);
    }
    EXPECT_NEAR(amp[k], static_cast<double>(std::sqrt(re * re + im * im)) * dt, FFT_TOL * peak) << k;
  }
}

// The window of the smoothing, written out directly.
double ko_window(double f, double fc, double b) {
  if (f <= 0) return 0;
  const double x = b * std::log10(f / fc);
  if (x == 0) return 1;
  return std::pow(std::sin(x) / x, 4);
}

TEST(KonnoOhmachi, ConstantStaysConstant) {
  std::vector<double> f(4000), a(4000, 3.25);
  for (std::size_t k = 0; k < f.size(); ++k) f[k] = 0.025 * static_cast<double>(k);
  const std::vector<double> centres{0.05, 0.3, 1.0, 7.7, 50.0, 99.9};
  for (const double b : {10.0, 40.0, 100.0}) {
    const std::vector<double> s = konno_ohmachi(f, a, centres, b);
    for (std::size_t j = 0; j < s.size(); ++j) EXPECT_NEAR(s[j], 3.25, 1e-14) << centres[j];
  }
}

TEST(KonnoOhmachi, MatchesTheFullSumOfTheWindow) {
  std::vector<double> f(8192), a(8192);
  for (std::size_t k = 0; k < f.size(); ++k) {
    f[k] = 0.0122 * static_cast<double>(k);
    a[k] = 1.0 + std::sin(0.05 * static_cast<double>(k)) * std::exp(-0.001 * static_cast<double>(k));
  }
  const std::vector<double> centres{0.05, 0.5, 1.0, f[800], 10.0, 60.0};
  for (const double b : {20.0, 40.0}) {
    const std::vector<double> s = konno_ohmachi(f, a, centres, b);
    for (std::size_t j = 0; j < centres.size(); ++j) {
      long double num = 0, den = 0;
      for (std::size_t k = 0; k < f.size(); ++k) {
        const double w = ko_window(f[k], centres[j], b);
        num += w * a[k];
        den += w;
      }
      // The window is cut where it is below 1e-6: on this linear grid that
      // leaves out up to ~1e-4 of the weight for b = 20 (5e-5 seen).
      EXPECT_NEAR(s[j], static_cast<double>(num / den), KO_TRUNCATION_TOL * s[j]) << "b " << b << " fc " << centres[j];
    }
  }
}

TEST(KonnoOhmachi, RefusesBadArguments) {
  const std::vector<double> f{0, 1, 2}, a{1, 1, 1};
  EXPECT_THROW(konno_ohmachi(f, std::vector<double>{1, 1}, std::vector<double>{1.0}), InvalidArgument);
  EXPECT_THROW(konno_ohmachi(f, a, std::vector<double>{0.0}), InvalidArgument);
  EXPECT_THROW(konno_ohmachi(f, a, std::vector<double>{1.0}, 0.0), InvalidArgument);
  EXPECT_THROW(konno_ohmachi(std::vector<double>{0, 2, 1}, a, std::vector<double>{1.0}), InvalidArgument);
  EXPECT_THROW(konno_ohmachi(f, a, std::vector<double>{1e9}), InvalidArgument);  // nothing in its window
}

TEST(AriasIntensity, OfASineIsPiOverTwoGTimesHalfTheSquaredAmplitudeTimesTheDuration) {
  // a = a0 sin(w t) over whole cycles: int a^2 = a0^2 D / 2; the trapezoidal
  // rule is exact for it at more than two samples per period.
  const double a0 = 0.4, dt = 0.01, f = 2.0;
  const std::size_t n = 1001;  // 10 s, 20 cycles
  const Record r = record_of(sine(a0, f, dt, n), dt, "g");
  const std::vector<double> ia = arias_intensity(r);
  const double g = STANDARD_GRAVITY;
  const double expected = PI / (2 * g) * (a0 * g) * (a0 * g) * 10.0 / 2;
  EXPECT_NEAR(ia.back(), expected, 1e-12 * expected);
  EXPECT_EQ(ia.front(), 0.0);
  // Units: the same record in cm/s2.
  std::vector<double> cm = r.accel;
  for (double& x : cm) x *= g * 100;
  EXPECT_NEAR(arias_intensity(record_of(cm, dt, "cm/s2")).back(), expected, 1e-12 * expected);
}

TEST(SignificantDuration, ConstantAmplitudeGivesNinetyPerCentOfTheDuration) {
  for (const std::size_t n : {11u, 1000u, 4097u}) {
    const double dt = 0.02;
    const Record r = record_of(std::vector<double>(n, 0.1), dt);
    const IntensityMeasures m = intensity_measures(r);
    const double duration = static_cast<double>(n - 1) * dt;
    EXPECT_NEAR(m.d5_95, 0.9 * duration, 1e-12 * duration) << n;
    EXPECT_NEAR(m.cav, 0.1 * STANDARD_GRAVITY * duration, 1e-12 * m.cav) << n;
  }
}

TEST(SignificantDuration, SilentRecordHasNone) {
  const IntensityMeasures m = intensity_measures(record_of(std::vector<double>(50, 0.0), 0.01));
  EXPECT_EQ(m.d5_95, 0.0);
  EXPECT_EQ(m.arias, 0.0);
  EXPECT_EQ(m.pgv, 0.0);
}

TEST(IntensityMeasures, PeakVelocityAndDisplacementOfAGaussianPulse) {
  // a(t) = -d2/dt2 of a Gaussian displacement: its velocity and displacement
  // are closed forms that start and end at rest.
  const double dt = 0.005, s = 0.3, t0 = 5.0, d0 = 0.02;  // m
  const std::size_t n = 2001;
  std::vector<double> a(n);
  double pgv = 0;
  for (std::size_t j = 0; j < n; ++j) {
    const double t = static_cast<double>(j) * dt - t0;
    const double g = d0 * std::exp(-t * t / (2 * s * s));
    a[j] = g * (t * t / (s * s * s * s) - 1 / (s * s));
    pgv = std::max(pgv, std::abs(-g * t / (s * s)));
  }
  const IntensityMeasures m = intensity_measures(record_of(a, dt, "m/s2"));
  // Zero mean over the padded window (4096 samples) lowers the displacement
  // by the pulse's area over the window's length.
  const double window = 4096 * dt;
  EXPECT_NEAR(m.pgd, d0 - d0 * s * std::sqrt(2 * PI) / window, 1e-4 * d0);
  EXPECT_NEAR(m.pgv, pgv, 1e-4 * pgv);
  EXPECT_NEAR(m.pga, d0 / (s * s), 1e-9);
}

TEST(PeakProfile, OneLayerAccelerationOfASteadyToneFollowsTheCosineShape) {
  // One undamped-ish layer over rock: peaks of a long tone follow |cos(k z)|
  // inside the layer, the surface peak is |H| / 2 times the outcrop input.
  const Profile p({20, 0}, {1.8, 2.2}, {200, 1000}, {0.02, 0.0});
  const double f = 1.0, dt = 0.01;
  std::vector<double> a = sine(0.1, f, dt, 6000);
  for (std::size_t j = 0; j < a.size(); ++j) {
    a[j] *= std::pow(std::sin(PI * static_cast<double>(j) / 5999.0), 2);
  }
  PropagateOptions o;
  const PeakProfile pp = peak_profile(record_of(a, dt), p, o);
  ASSERT_EQ(pp.depth.size(), 3u);
  EXPECT_EQ(pp.depth[1], 10.0);
  EXPECT_EQ(pp.depth[2], 20.0);
  const std::vector<double> fs{f};
  for (std::size_t d = 0; d < 3; ++d) {
    const double h = std::abs(transfer(p, fs, WaveSetup{}, pp.depth[d])[0]);
    EXPECT_NEAR(pp.accel[d], 0.1 * h / 2, 0.01 * 0.1 * h / 2) << pp.depth[d];
  }
  // Stress is G* strain for a tone: the layer's modulus above the interface,
  // the rock's on it (an interface's strain is that of the medium below).
  const double g_layer = std::abs(complex_modulus(1.8 * 200 * 200, 0.02, DampingLaw::VELMAR));
  EXPECT_NEAR(pp.stress[1], g_layer * pp.strain[1], 1e-3 * pp.stress[1]);
  EXPECT_NEAR(pp.stress[2], 2.2 * 1000 * 1000 * pp.strain[2], 1e-3 * pp.stress[2]);
  EXPECT_LT(pp.strain[0], 1e-6 * pp.strain[2]);  // free surface: no shear
  // The same as propagate at each depth.
  for (std::size_t d = 0; d < 3; ++d) {
    o.depth = pp.depth[d];
    o.quantity = Quantity::STRAIN;
    const std::vector<double> y = propagate(record_of(a, dt), p, o);
    double peak = 0;
    for (double x : y) peak = std::max(peak, std::abs(x));
    EXPECT_NEAR(pp.strain[d], peak, 1e-9 * pp.strain[2]);
  }
  o.setup.wave = Wave::SV;
  EXPECT_THROW(peak_profile(record_of(a, dt), p, o), InvalidArgument);
}

TEST(PeakProfile, ScalesWithTheRecordAndTheScaleOrRefusesAnOverflow) {
  const Profile p({20, 0}, {1.8, 2.2}, {200, 1000}, {0.02, 0.0});
  const double dt = 0.01;
  const std::vector<double> a = chirp_record(1500, dt);
  PropagateOptions o;
  const PeakProfile base = peak_profile(record_of(a, dt), p, o);
  for (const double factor : {1e-300, 1e-170, 1e170, 1e300}) {
    o.scale = -factor;  // a sign changes no peak
    const PeakProfile s = peak_profile(record_of(a, dt), p, o);
    expect_scaled(s.accel, base.accel, factor, 1e-12, "accel");
    expect_scaled(s.strain, base.strain, factor, 1e-12, "strain");
    expect_scaled(s.stress, base.stress, factor, 1e-12, "stress");
    o.scale = 1.0;
    const PeakProfile r = peak_profile(record_of(times(a, factor), dt), p, o);
    expect_scaled(r.stress, base.stress, factor, 1e-12, "stress of a scaled record");
  }
  o.scale = 1e306;  // the stress, thousands of times the acceleration here, overflows
  try {
    peak_profile(record_of(a, dt), p, o);
    FAIL() << "no exception";
  } catch (const InvalidArgument& e) {
    EXPECT_NE(std::string(e.what()).find("scale"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace velmar
