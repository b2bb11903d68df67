// rvt_test.cpp: random vibration theory: spectral moments against closed
// forms, peak factors against their distributions integrated here by brute
// force, RVT peaks against time-domain simulations of random-phase records,
// the point source against independent values, the compatible-spectrum
// inversion, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "site/rvt_detail.hpp"
#include "velmar/errors.hpp"
#include "velmar/rvt.hpp"

namespace {

using namespace velmar;
constexpr double PI = std::numbers::pi;

std::vector<double> logspace(double lo, double hi, std::size_t n) {
  std::vector<double> v(n);
  for (std::size_t i = 0; i < n; ++i)
    v[i] = lo * std::pow(hi / lo, static_cast<double>(i) / static_cast<double>(n - 1));
  return v;
}

// Composite Simpson on [0, upper] with n (even) intervals: a plain
// high-resolution rule, independent of the library's Gauss-Legendre panels.
template <class F>
double simpson(F&& f, double upper, int n) {
  const double h = upper / n;
  double s = f(1e-300) + f(upper);
  for (int i = 1; i < n; ++i) s += (i % 2 ? 4.0 : 2.0) * f(i * h);
  return s * h / 3.0;
}

std::string message_of(auto&& f) {
  try {
    f();
  } catch (const InvalidArgument& e) {
    return e.what();
  }
  return "(no exception)";
}

RvtMotion white(double f1, double f2, double amplitude, double duration, std::size_t n = 4000) {
  RvtMotion m;
  m.freqs = logspace(f1, f2, n);
  m.fas.assign(n, amplitude);
  m.duration = duration;
  return m;
}

TEST(RvtMoments, ExponentialSpectrumMatchesClosedForm) {
  // |A|^2 = exp(-f / f0): m_k = 2 (2 pi)^k k! f0^(k+1).
  const double f0 = 3.0;
  std::vector<double> f(200001), a(f.size());
  for (std::size_t i = 0; i < f.size(); ++i) {
    f[i] = 1e-6 + 150.0 * static_cast<double>(i) / static_cast<double>(f.size() - 1);
    a[i] = std::exp(-0.5 * f[i] / f0);
  }
  const SpectralMoments m = spectral_moments(f, a);
  const double w = 2 * PI;
  EXPECT_NEAR(m.m0 / (2 * f0), 1.0, 1e-6);
  EXPECT_NEAR(m.m1 / (2 * w * f0 * f0), 1.0, 1e-6);
  EXPECT_NEAR(m.m2 / (2 * w * w * 2 * std::pow(f0, 3)), 1.0, 1e-6);
  EXPECT_NEAR(m.m4 / (2 * std::pow(w, 4) * 24 * std::pow(f0, 5)), 1.0, 1e-6);
}

TEST(RvtMoments, UnevenGridIsTrapezoidInFrequency) {
  // |A| = 1 on a log grid: m0 = 2 (f2 - f1) and m1 = 2 pi (f2^2 - f1^2) exactly
  // (the trapezoid integrates linear integrands exactly, on any grid).
  const auto f = logspace(0.1, 50.0, 37);
  const std::vector<double> a(f.size(), 1.0);
  const SpectralMoments m = spectral_moments(f, a);
  EXPECT_NEAR(m.m0, 2 * (50.0 - 0.1), 1e-12);
  EXPECT_NEAR(m.m1, 2 * PI * (50.0 * 50.0 - 0.01), 1e-9);
}

TEST(RvtPeakFactors, VanmarckeMatchesItsDistribution) {
  for (double n : {1.33, 3.0, 20.0, 300.0, 1e4})
    for (double d : {0.0, 0.1, 0.4, 0.9}) {
      const double de = std::pow(d, 1.2), c = std::sqrt(PI / 2) * de;
      auto ccdf = [&](double x) {
        const double e = std::exp(-x * x / 2);
        if (1 - e <= 0) return 1.0;
        return 1.0 - (1 - e) * std::exp(-n * e * (1 - std::exp(-c * x)) / (1 - e));
      };
      const double expected = simpson(ccdf, 14.0, 200000);
      EXPECT_NEAR(detail::vanmarcke_peak_factor(n, de) / expected, 1.0, 1e-6) << "N " << n << " delta " << d;
    }
}

TEST(RvtPeakFactors, CartwrightLonguetHigginsMatchesItsDistribution) {
  for (double n : {2.0, 7.5, 60.0, 2000.0, 1e5})
    for (double q : {0.05, 0.5, 0.95, 1.0}) {
      auto f = [&](double z) { return 1.0 - std::pow(1.0 - q * std::exp(-z * z), n); };
      const double expected = std::sqrt(2.0) * simpson(f, 10.0, 200000);
      EXPECT_NEAR(detail::cartwright_peak_factor(n, q) / expected, 1.0, 1e-6) << "N " << n << " q " << q;
    }
}

TEST(RvtPeakFactors, CartwrightLonguetHigginsIsTheMeanLargestOfItsExtrema) {
  // With irregularity 1 the peak factor is the mean largest of N Rayleigh
  // extrema; drawn here.
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const int n = 50, draws = 40000;
  double sum = 0.0;
  for (int k = 0; k < draws; ++k) {
    double top = 0.0;
    for (int i = 0; i < n; ++i) top = std::max(top, std::sqrt(-2.0 * std::log(1.0 - u(gen))));
    sum += top;
  }
  // In units of the process' rms the extrema are Rayleigh with sigma 1,
  // P(X > x) = exp(-x^2 / 2): E[max] = int (1 - (1 - e^(-x^2/2))^N) dx,
  // which is the CLH form after x = sqrt(2) z.
  EXPECT_NEAR(detail::cartwright_peak_factor(n, 1.0) / (sum / draws), 1.0, 0.01);
}

TEST(RvtPeakFactors, DavenportAndDerKiureghian) {
  const double n = 100.0, s = std::sqrt(2 * std::log(n));
  EXPECT_NEAR(detail::davenport_peak_factor(n), s + 0.5772 / s, 1e-14);
  // Der Kiureghian's effective crossings: a narrow band (delta 0.05)
  // counts max(2.1, 2 delta N) crossings, a broad one all of them.
  RvtMotion m = white(4.9, 5.1, 1.0, 20.0, 400);
  m.method = PeakMethod::DK85;
  const SpectralMoments mom = spectral_moments(m.freqs, m.fas);
  const double nz = m.duration * std::sqrt(mom.m2 / mom.m0) / PI;
  const double delta = std::sqrt(1 - mom.m1 * mom.m1 / (mom.m0 * mom.m2));
  ASSERT_LT(delta, 0.1);
  const RvtPeak p = rvt_peak_from_moments(m, mom);
  EXPECT_NEAR(p.peak_factor, detail::davenport_peak_factor(std::max(2.1, 2 * delta * nz)), 1e-12);
  m.method = PeakMethod::D64;
  EXPECT_NEAR(rvt_peak_from_moments(m, mom).peak_factor, detail::davenport_peak_factor(nz), 1e-12);
}

// Random-phase records of a flat spectrum |A| on f_k = k / T, f1 <= f_k <=
// f2: x(t) = sum (2 A / T) cos(2 pi f_k t + phi_k), whose Fourier amplitude
// is A at every f_k. The mean of their peaks against the RVT estimate.
double simulated_mean_peak(double f1, double f2, double amplitude, double duration, int records) {
  const double dt = 1.0 / (40.0 * f2);
  const auto steps = static_cast<std::size_t>(duration / dt);
  const auto k1 = static_cast<int>(std::ceil(f1 * duration)), k2 = static_cast<int>(std::floor(f2 * duration));
  std::mt19937 gen(12345);
  std::uniform_real_distribution<double> phase(0.0, 2 * PI);
  std::vector<std::complex<double>> z, step;
  std::vector<double> x(steps);
  double sum = 0.0;
  for (int r = 0; r < records; ++r) {
    std::fill(x.begin(), x.end(), 0.0);
    for (int k = k1; k <= k2; ++k) {
      // Rotate a phasor: a complex multiply a step.
      const double f = k / duration, a = 2 * amplitude / duration;
      std::complex<double> p = std::polar(a, phase(gen));
      const std::complex<double> w = std::polar(1.0, 2 * PI * f * dt);
      for (std::size_t j = 0; j < steps; ++j) {
        x[j] += p.real();
        p *= w;
      }
    }
    double top = 0.0;
    for (double v : x) top = std::max(top, std::abs(v));
    sum += top;
  }
  return sum / records;
}

TEST(RvtPeak, WhiteNoiseMatchesTimeDomainSimulation) {
  const double f1 = 1.0, f2 = 8.0, amplitude = 0.05, duration = 15.0;
  const double simulated = simulated_mean_peak(f1, f2, amplitude, duration, 200);
  // The RVT motion of the same spectrum: A between f1 and f2 (its moments
  // those of the simulated lines, sum A^2 / T per line).
  RvtMotion m = white(f1, f2, amplitude, duration);
  for (PeakMethod method : {PeakMethod::V75, PeakMethod::CLH56, PeakMethod::D64, PeakMethod::DK85}) {
    m.method = method;
    EXPECT_NEAR(rvt_peak(m) / simulated, 1.0, 0.04) << peak_method_name(method) << ": RVT " << rvt_peak(m)
                                                    << ", simulated " << simulated;
  }
}

TEST(RvtPeak, PeakOfAmplitudeScalesAndRefusesBadArrays) {
  RvtMotion m = white(0.5, 20.0, 0.01, 10.0, 300);
  std::vector<double> twice(m.fas.size(), 0.02);
  EXPECT_NEAR(rvt_peak(m, twice) / rvt_peak(m), 2.0, 1e-12);
  std::vector<double> short_one(5, 1.0);
  EXPECT_THROW(rvt_peak(m, short_one), InvalidArgument);
  twice[3] = std::nan("");
  EXPECT_NE(message_of([&] { rvt_peak(m, twice); }).find("amplitude[3]"), std::string::npos);
  std::fill(twice.begin(), twice.end(), 0.0);
  EXPECT_EQ(rvt_peak(m, twice), 0.0);  // zero spectrum, zero peak
}

TEST(RvtResponseSpectrum, StiffOscillatorFollowsTheGroundAndGridIsFineEnough) {
  SourceTheoryParams p;
  p.magnitude = 6.0;
  p.distance = 20.0;
  const RvtMotion m = source_theory_motion(p);
  const std::vector<double> periods = {0.001, 0.02, 0.1, 0.3, 1.0, 3.0, 10.0};
  const auto psa = rvt_response_spectrum(m, periods, 0.05);
  EXPECT_NEAR(psa[0] / rvt_peak(m), 1.0, 0.01);
  // The default grid against one 40 times finer.
  const RvtMotion fine = source_theory_motion(p, logspace(0.001, 1000.0, 20000));
  const auto psa_fine = rvt_response_spectrum(fine, periods, 0.05);
  for (std::size_t i = 0; i < periods.size(); ++i)
    EXPECT_NEAR(psa[i] / psa_fine[i], 1.0, 0.005) << "T " << periods[i];
  // The grid's ends: a low-kappa central-eastern motion has PGA content
  // above 100 Hz, a great earthquake PGV content below 0.05 Hz.
  p.region = Region::CENA;
  p.magnitude = 4.0;
  p.distance = 5.0;
  EXPECT_NEAR(rvt_peak(source_theory_motion(p)) / rvt_peak(source_theory_motion(p, logspace(0.001, 1000.0, 20000))),
              1.0, 0.001);
  p.region = Region::WNA;
  p.magnitude = 8.0;
  p.distance = 10.0;
  EXPECT_NEAR(rvt_peak_velocity(source_theory_motion(p)) /
                  rvt_peak_velocity(source_theory_motion(p, logspace(0.001, 1000.0, 20000))),
              1.0, 0.002);
}

TEST(RvtResponseSpectrum, AnySizeOfSpectrumScalesThrough) {
  // Moments of order 4 of a large spectrum, or of order 0 of a tiny one,
  // leave the doubles' range: peaks and PSA must scale linearly regardless.
  SourceTheoryParams p;
  p.magnitude = 6.5;
  p.distance = 25.0;
  const RvtMotion base = source_theory_motion(p);
  const std::vector<double> periods = {0.01, 0.2, 2.0};
  for (PeakMethod method : {PeakMethod::V75, PeakMethod::CLH56, PeakMethod::DK85}) {
    RvtMotion ref = base;
    ref.method = method;
    const auto psa = rvt_response_spectrum(ref, periods, 0.05);
    for (double size : {1e-150, 1e90}) {
      RvtMotion m = ref;
      for (double& a : m.fas) a *= size;
      const auto scaled = rvt_response_spectrum(m, periods, 0.05);
      for (std::size_t i = 0; i < periods.size(); ++i) EXPECT_NEAR(scaled[i] / (size * psa[i]), 1.0, 1e-12);
      EXPECT_NEAR(rvt_peak(m) / (size * rvt_peak(ref)), 1.0, 1e-12);
      EXPECT_NEAR(rvt_peak_velocity(m) / (size * rvt_peak_velocity(ref)), 1.0, 1e-12);
    }
    // And so does the compatible motion's fit.
    std::vector<double> tiny = psa;
    for (double& v : tiny) v *= 1e-120;
    const CompatibleResult r = compatible_rvt_motion(periods, tiny, base.duration);
    const auto back = rvt_response_spectrum(r.motion, periods, 0.05);
    for (std::size_t i = 0; i < periods.size(); ++i) EXPECT_NEAR(back[i] / tiny[i], 1.0, 0.006);
  }
}

TEST(RvtResponseSpectrum, OscillatorDurationCorrections) {
  SourceTheoryParams p;
  p.magnitude = 6.5;
  p.distance = 30.0;
  RvtMotion m = source_theory_motion(p);
  const std::vector<double> periods = {0.05, 1.0, 5.0};
  auto psa_of = [&](PeakMethod method) {
    m.method = method;
    return rvt_response_spectrum(m, periods, 0.05);
  };
  const auto clh = psa_of(PeakMethod::CLH56), bj = psa_of(PeakMethod::BJ84);
  // BJ84 lengthens T_rms most where the oscillator rings longest against
  // the motion: long periods come down, short ones hardly move.
  EXPECT_LT(bj[2], 0.9 * clh[2]);
  EXPECT_NEAR(bj[0] / clh[0], 1.0, 0.02);
  // TM87 multiplies an oscillator's peak factor by sqrt(1 - exp(-4 pi xi f_n T)).
  m.method = PeakMethod::TM87;
  const double fn = 0.2, xi = 0.05;
  std::vector<double> response(m.freqs.size());
  for (std::size_t i = 0; i < m.freqs.size(); ++i) {
    const double f = m.freqs[i];
    response[i] = m.fas[i] * fn * fn / std::hypot(f * f - fn * fn, 2 * xi * fn * f);
  }
  const SpectralMoments mom = spectral_moments(m.freqs, response);
  const double with = rvt_peak_from_moments(m, mom, Oscillator{fn, xi}).peak_factor;
  const double without = rvt_peak_from_moments(m, mom).peak_factor;
  EXPECT_NEAR(with / without, std::sqrt(1 - std::exp(-4 * PI * xi * fn * m.duration)), 1e-12);
  EXPECT_NEAR(psa_of(PeakMethod::TM87)[2] / rvt_peak_from_moments(m, mom, Oscillator{fn, xi}).peak, 1.0, 1e-12);
}

TEST(RvtBooreThompson, TableNodesAndLogDistanceInterpolation) {
  // wna BT15 at M 6, R 20 km is a table row (c1 c4 of the file).
  const auto node = detail::bt_coefficients(PeakMethod::BT15, Region::WNA, 6.0, 20.0);
  const auto lo = detail::bt_coefficients(PeakMethod::BT15, Region::WNA, 6.0, 12.62);
  const auto mid = detail::bt_coefficients(PeakMethod::BT15, Region::WNA, 6.0, std::sqrt(12.62 * 20.0));
  for (std::size_t k = 0; k < 7; ++k) EXPECT_NEAR(mid[k], 0.5 * (lo[k] + node[k]), 1e-12);
  const auto m55 = detail::bt_coefficients(PeakMethod::BT15, Region::WNA, 5.5, 20.0);
  const auto m575 = detail::bt_coefficients(PeakMethod::BT15, Region::WNA, 5.75, 20.0);
  for (std::size_t k = 0; k < 7; ++k) EXPECT_NEAR(m575[k], 0.5 * (m55[k] + node[k]), 1e-12);
  // The regions and studies are different tables.
  const auto cena = detail::bt_coefficients(PeakMethod::BT15, Region::CENA, 6.0, 20.0);
  const auto bt12 = detail::bt_coefficients(PeakMethod::BT12, Region::WNA, 6.0, 20.0);
  EXPECT_NE(cena[0], node[0]);
  EXPECT_NE(bt12[0], node[0]);
}

TEST(RvtBooreThompson, ScenarioRefusals) {
  RvtMotion m = white(0.1, 30.0, 0.01, 10.0, 200);
  m.method = PeakMethod::BT15;
  EXPECT_NE(message_of([&] { check_rvt_motion(m); }).find("needs the motion's magnitude and distance"),
            std::string::npos);
  m.magnitude = 6.0;
  m.distance = 1500.0;
  EXPECT_NE(message_of([&] { check_rvt_motion(m); }).find("1262"), std::string::npos);
  m.distance = 30.0;
  EXPECT_NO_THROW(check_rvt_motion(m));
  m.method = PeakMethod::BT12;
  m.magnitude = 3.0;  // BT12 starts at M 4
  EXPECT_NE(message_of([&] { check_rvt_motion(m); }).find("magnitude must be within the BT12 (wna) table's 4"),
            std::string::npos);
}

TEST(RvtWangRathje, SiteTermsActOnlyNearTheModes) {
  SourceTheoryParams p;
  p.magnitude = 6.0;
  p.distance = 20.0;
  p.method = PeakMethod::BT15;
  RvtMotion bt15 = source_theory_motion(p);
  RvtMotion wr = bt15;
  wr.method = PeakMethod::WR18;
  wr.site = SiteResonance{{2.0, 6.0, 10.0}, 8.0};
  check_rvt_motion(wr);
  const std::vector<double> periods = {0.5, 1.0 / 6.0, 5.0};
  const auto a = rvt_response_spectrum(bt15, periods, 0.05), b = rvt_response_spectrum(wr, periods, 0.05);
  EXPECT_LT(b[0], 0.99 * a[0]);  // at f1 the rms duration is longer
  EXPECT_LT(b[1], a[1]);
  EXPECT_NEAR(b[2] / a[2], 1.0, 1e-6);  // 0.2 Hz: far from every mode
  // Without site information WR18 is BT15.
  wr.site.reset();
  EXPECT_EQ(rvt_response_spectrum(wr, periods, 0.05), a);
  wr.site = SiteResonance{{2.0, 0.0, 5.0}, 8.0};
  EXPECT_THROW(check_rvt_motion(wr), InvalidArgument);
}

TEST(RvtSourceTheory, CheckValues) {
  SourceTheoryParams p;
  p.magnitude = 6.0;
  p.distance = 20.0;
  p.depth = 8.0;
  const SourceTheoryInfo info = source_theory_info(p);
  // fc = 4.9e6 beta (stress / M0)^(1/3), M0 = 10^(1.5 (M + 10.7)).
  EXPECT_NEAR(info.corner_freq, 4.9e6 * 3.5 * std::cbrt(100.0 / std::pow(10.0, 1.5 * 16.7)), 1e-12);
  EXPECT_NEAR(1.0 / info.corner_freq, 2.813, 1e-3);
  EXPECT_NEAR(info.duration, 3.889, 5e-4);
  EXPECT_NEAR(info.hypo_distance, std::hypot(20.0, 8.0), 1e-12);
  // Amplitudes at crustal-amplification nodes (where every interpolation
  // agrees), from an independent program, in g-s with g = 9.81.
  const std::vector<double> f = {0.51, 2.26, 16.6};
  const RvtMotion m = source_theory_motion(p, f);
  const double expected[] = {0.011370918791809157, 0.017476654884113867, 0.003208236136400947};
  for (std::size_t i = 0; i < f.size(); ++i) EXPECT_NEAR(m.fas[i] / expected[i], 1.0, 1e-6) << f[i];
  p.region = Region::CENA;
  p.magnitude = 6.5;
  p.distance = 50.0;
  const RvtMotion c = source_theory_motion(p, std::vector<double>{1.25, 5.3});
  EXPECT_NEAR(c.fas[0] / 0.012306829251675347, 1.0, 1e-6);
  EXPECT_NEAR(c.fas[1] / 0.010784552928188388, 1.0, 1e-6);
  EXPECT_NEAR(c.duration, 10.835212501356747, 1e-9);
  EXPECT_NEAR(*c.distance, std::hypot(50.0, 8.0), 1e-12);
}

TEST(RvtSourceTheory, CrustalAmplificationIsLinearInFrequencyAndOverridesApply) {
  SourceTheoryParams p;
  p.magnitude = 5.0;
  p.distance = 10.0;
  // 38.9 Hz lies between the wna nodes 16.6 Hz (3.13) and 61.2 Hz (4.00).
  // The independent program's amplitude there interpolates in ln f; ours,
  // linear in f, differs by exactly the ratio of the two interpolations.
  const double f = 38.9, f1 = 16.6, f2 = 61.2, a1 = 3.13, a2 = 4.00;
  const double linear = a1 + (f - f1) / (f2 - f1) * (a2 - a1);
  const double in_log = a1 + std::log(f / f1) / std::log(f2 / f1) * (a2 - a1);
  const RvtMotion m = source_theory_motion(p, std::vector<double>{1.0, f});
  EXPECT_NEAR(m.fas[1] / (0.00012540855200764557 * linear / in_log), 1.0, 1e-6);
  // Overrides: kappa enters as exp(-pi kappa f), stress drop through fc.
  p.kappa = 0.02;
  const RvtMotion k = source_theory_motion(p, std::vector<double>{1.0, f});
  EXPECT_NEAR(k.fas[1] / m.fas[1], std::exp(-PI * (0.02 - 0.04) * f), 1e-9);
  p.stress_drop = 200.0;
  EXPECT_NEAR(source_theory_info(p).corner_freq / source_theory_info([] {
                SourceTheoryParams q;
                q.magnitude = 5.0;
                q.distance = 10.0;
                return q;
              }()).corner_freq,
              std::cbrt(2.0), 1e-12);
  SourceTheoryParams bad;
  bad.kappa = -0.01;
  EXPECT_NE(message_of([&] { source_theory_motion(bad); }).find("kappa"), std::string::npos);
  bad = SourceTheoryParams{};
  bad.magnitude = 12.0;
  EXPECT_NE(message_of([&] { source_theory_motion(bad); }).find("magnitude"), std::string::npos);
  EXPECT_THROW(source_theory_motion(SourceTheoryParams{}, std::vector<double>{2.0, 1.0}), InvalidArgument);
}

TEST(RvtCompatible, RecoversTheSpectrumItWasMadeFrom) {
  SourceTheoryParams p;
  p.magnitude = 6.5;
  p.distance = 25.0;
  const RvtMotion source = source_theory_motion(p);
  const auto periods = logspace(0.02, 5.0, 40);
  const auto target = rvt_response_spectrum(source, periods, 0.05);
  CompatibleOptions o;
  const CompatibleResult r = compatible_rvt_motion(periods, target, source.duration, o);
  EXPECT_LE(r.misfit, o.tolerance);
  EXPECT_GT(r.iterations, 0);
  EXPECT_LE(r.iterations, o.max_iterations);
  const auto again = rvt_response_spectrum(r.motion, periods, 0.05);
  for (std::size_t i = 0; i < periods.size(); ++i) EXPECT_NEAR(again[i] / target[i], 1.0, 0.006);
  // The Fourier amplitudes within the targets' band come back too.
  RvtMotion back = r.motion;
  for (double f : {0.5, 1.0, 3.0, 10.0}) {
    auto at = [f](const RvtMotion& m) {
      const auto it = std::lower_bound(m.freqs.begin(), m.freqs.end(), f);
      const std::size_t i = static_cast<std::size_t>(it - m.freqs.begin());
      const double w = (std::log(f) - std::log(m.freqs[i - 1])) / (std::log(m.freqs[i]) - std::log(m.freqs[i - 1]));
      return std::exp((1 - w) * std::log(m.fas[i - 1]) + w * std::log(m.fas[i]));
    };
    EXPECT_NEAR(at(back) / at(source), 1.0, 0.1) << f << " Hz";
  }
}

TEST(RvtCompatible, RefusesAPoorFitAndBadTargets) {
  const std::vector<double> periods = {0.1, 0.2, 0.3, 0.5, 1.0};
  // A target with a spike no spectrum reproduces within 1 iteration.
  const std::vector<double> jagged = {0.5, 0.05, 0.8, 0.02, 0.3};
  CompatibleOptions o;
  o.max_iterations = 2;
  o.max_misfit = 0.01;
  const std::string msg = message_of([&] { compatible_rvt_motion(periods, jagged, 10.0, o); });
  EXPECT_NE(msg.find("no spectrum fits"), std::string::npos) << msg;
  EXPECT_NE(msg.find("% off the target at period"), std::string::npos) << msg;
  EXPECT_THROW(compatible_rvt_motion(periods, std::vector<double>{1, 2, 3}, 10.0), InvalidArgument);
  EXPECT_THROW(compatible_rvt_motion(std::vector<double>{0.1, 0.1}, std::vector<double>{1, 1}, 10.0),
               InvalidArgument);
  EXPECT_THROW(compatible_rvt_motion(periods, std::vector<double>{1, 1, -1, 1, 1}, 10.0), InvalidArgument);
}

TEST(RvtMotionCheck, RefusesBadMotionsNamingTheValue) {
  const RvtMotion good = white(0.1, 30.0, 0.01, 10.0, 50);
  EXPECT_NO_THROW(check_rvt_motion(good));
  auto msg = [&](auto change) {
    RvtMotion m = good;
    change(m);
    return message_of([&] { check_rvt_motion(m); });
  };
  EXPECT_NE(msg([](RvtMotion& m) { m.freqs[7] = m.freqs[6]; }).find("freqs[7]"), std::string::npos);
  EXPECT_NE(msg([](RvtMotion& m) { m.fas[3] = -1.0; }).find("fas[3]"), std::string::npos);
  EXPECT_NE(msg([](RvtMotion& m) { m.fas[3] = INFINITY; }).find("fas[3]"), std::string::npos);
  EXPECT_NE(msg([](RvtMotion& m) { m.fas.pop_back(); }).find("one amplitude per frequency"), std::string::npos);
  EXPECT_NE(msg([](RvtMotion& m) { m.duration = 0.0; }).find("duration"), std::string::npos);
  EXPECT_NE(msg([](RvtMotion& m) { std::fill(m.fas.begin(), m.fas.end(), 0.0); }).find("zero at every"),
            std::string::npos);
  EXPECT_NE(msg([](RvtMotion& m) { m.freqs[0] = 0.0; }).find("freqs[0]"), std::string::npos);
  EXPECT_NE(message_of([] { peak_method_from_name("V76"); }).find("V75, CLH56"), std::string::npos);
  EXPECT_EQ(peak_method_from_name("bt15"), PeakMethod::BT15);
  EXPECT_EQ(region_from_name("CENA"), Region::CENA);
  EXPECT_THROW(region_from_name("ena"), InvalidArgument);
  EXPECT_THROW(rvt_response_spectrum(good, std::vector<double>{0.1, -1.0}, 0.05), InvalidArgument);
  EXPECT_THROW(rvt_response_spectrum(good, std::vector<double>{0.1}, 0.0), InvalidArgument);
}

}  // namespace
