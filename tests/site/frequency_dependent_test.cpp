// Tests of the accelerated equivalent-linear iteration and of the
// frequency-dependent variants.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "site/frequency_dependent.hpp"
#include "site/sh_mid_strain.hpp"
#include "velmar/equivalent_linear.hpp"
#include "velmar/errors.hpp"
#include "velmar/velmar.hpp"

namespace {

using namespace velmar;

// pga in m/s2.
Record motion(double pga, std::size_t n = 2000, double dt = 0.01) {
  Record r;
  r.dt = dt;
  r.units = "m/s2";
  r.accel.resize(n);
  for (std::size_t j = 0; j < n; ++j) {
    const double t = static_cast<double>(j) * dt;
    r.accel[j] = pga * std::exp(-0.5 * (t - 5.0) * (t - 5.0)) *
                 (std::sin(2 * std::numbers::pi * 2.1 * t) + 0.4 * std::sin(2 * std::numbers::pi * 5.3 * t) +
                  0.2 * std::sin(2 * std::numbers::pi * 11.7 * t));
  }
  return r;
}

// Soft clay: ten layers of 2 m, Vs 90 to 153 m/s, PI 30.
Profile soft_clay() {
  std::vector<double> th, rho, vs, xi;
  for (int k = 0; k < 10; ++k) th.push_back(2.0), rho.push_back(1.6), vs.push_back(90.0 + 7.0 * k), xi.push_back(0.02);
  th.push_back(0.0), rho.push_back(2.2), vs.push_back(800.0), xi.push_back(0.01);
  return Profile(th, rho, vs, xi);
}
// Deep sand: twelve layers of 8 m, Vs 200 to 365 m/s, PI 0.
Profile deep_sand() {
  std::vector<double> th, rho, vs, xi;
  for (int k = 0; k < 12; ++k) th.push_back(8.0), rho.push_back(1.9), vs.push_back(200.0 + 15.0 * k), xi.push_back(0.02);
  th.push_back(0.0), rho.push_back(2.4), vs.push_back(1200.0), xi.push_back(0.01);
  return Profile(th, rho, vs, xi);
}
EquivalentLinearOptions options_for(const Profile& p, double pi) {
  EquivalentLinearOptions o;
  o.curves.assign(p.layers(), Darendeli{pi});
  o.water_table = 2.0;
  o.law = DampingLaw::DORMIEUX;
  o.max_iterations = 400;
  return o;
}

// --- the accelerated iteration ------------------------------------------------------------------

struct FixedPointCase {
  const char* name;
  Profile (*profile)();
  double pi, pga;
};

class AcceleratedIteration : public ::testing::TestWithParam<FixedPointCase> {};

TEST_P(AcceleratedIteration, LandsOnThePlainFixedPointInFewerPasses) {
  const FixedPointCase c = GetParam();
  const Profile p = c.profile();
  const Record r = motion(c.pga);
  EquivalentLinearOptions o = options_for(p, c.pi);
  o.iteration = EqlIteration::PLAIN;
  o.tolerance = 1e-8;
  const EquivalentLinearResult fixed = equivalent_linear(r, p, o);
  ASSERT_TRUE(fixed.converged) << c.name;
  o.tolerance = 0.01;
  const EquivalentLinearResult plain = equivalent_linear(r, p, o);
  o.iteration = EqlIteration::ACCELERATED;
  const EquivalentLinearResult fast = equivalent_linear(r, p, o);
  ASSERT_TRUE(fast.converged) << c.name;
  EXPECT_LE(fast.iterations, plain.iterations) << c.name;
  for (std::size_t i = 0; i < p.layers(); ++i) {
    EXPECT_NEAR(fast.max_strain[i], fixed.max_strain[i], 0.03 * fixed.max_strain[i]) << c.name << " layer " << i;
    EXPECT_NEAR(fast.g_ratio[i], fixed.g_ratio[i], 0.03 * fixed.g_ratio[i]) << c.name << " layer " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, AcceleratedIteration,
                         ::testing::Values(FixedPointCase{"soft clay", soft_clay, 30.0, 2.5},
                                           FixedPointCase{"deep sand", deep_sand, 0.0, 8.0},
                                           // Near the runaway: strains of several per cent.
                                           FixedPointCase{"strong", soft_clay, 30.0, 6.0}));

TEST(AcceleratedIteration, RunawayStillStopsWithTheClearError) {
  const Profile p = soft_clay();
  EquivalentLinearOptions o = options_for(p, 30.0);
  o.strain_limit = 0.01;
  for (const EqlIteration it : {EqlIteration::PLAIN, EqlIteration::ACCELERATED}) {
    o.iteration = it;
    try {
      equivalent_linear(motion(20.0), p, o);
      FAIL() << "no stop with " << eql_iteration_name(it);
    } catch (const AnalysisError& e) {
      EXPECT_NE(std::string(e.what()).find("strains run away"), std::string::npos) << e.what();
    }
  }
}

// --- the frequency-dependent variants -----------------------------------------------------------

const FrequencyDependent VARIANTS[] = {FrequencyDependent::KA02, FrequencyDependent::ZR15, FrequencyDependent::KO};

TEST(FrequencyDependent, WeakMotionGivesTheLinearResult) {
  const Profile p = soft_clay();
  EquivalentLinearOptions o = options_for(p, 30.0);
  const Record r = motion(1e-6);
  // The linear column: low-strain moduli and the curves' small-strain damping.
  std::vector<double> xi(p.damping_s());
  for (std::size_t i = 0; i < p.layers(); ++i) {
    const double sm = mean_effective_stress(vertical_effective_stress(p, p.top_depth(i) + 1.0, o.water_table), 0.5);
    xi[i] = evaluate_curve(o.curves[i], 0.0, sm).damping;
  }
  const Profile linear(p.thickness(), p.density(), p.vs(), xi);
  PropagateOptions po;
  po.setup.law = o.law;
  const std::vector<double> want = propagate(r, linear, po);
  for (const FrequencyDependent v : VARIANTS) {
    o.frequency_dependent = v;
    const EquivalentLinearResult res = equivalent_linear(r, p, o);
    ASSERT_TRUE(res.converged) << frequency_dependent_name(v);
    ASSERT_EQ(res.g_ratio_f.size(), p.layers() * res.frequencies.size());
    EXPECT_GT(*std::min_element(res.g_ratio_f.begin(), res.g_ratio_f.end()), 0.9999) << frequency_dependent_name(v);
    const std::vector<double> got = frequency_dependent_motion(r, res, po);
    const double peak = std::abs(*std::max_element(want.begin(), want.end(), [](double a, double b) {
      return std::abs(a) < std::abs(b);
    }));
    for (std::size_t t = 0; t < want.size(); ++t) {
      ASSERT_NEAR(got[t], want[t], 1e-4 * peak) << frequency_dependent_name(v) << " sample " << t;
    }
  }
}

// A column of three rows whose curves are read at a flat strain spectrum:
// every frequency gets the classic properties, and the strains equal the
// classic sweep's.
TEST(FrequencyDependent, FlatStrainSpectrumGivesTheClassicColumn) {
  const std::size_t M = 3, nf = 700;
  const double df = 0.05;
  const std::vector<Curve> curves = {Darendeli{30.0}, Menq{}, LinearLayer{}};
  const double vs0[M] = {150.0, 220.0, 300.0}, h[M] = {4.0, 6.0, 5.0}, rho[M] = {1.7, 1.9, 2.0}, sm[M] = {30, 70, 110};
  const double eff[M] = {2e-4, 6e-4, 1e-3};
  for (const FrequencyDependent v : VARIANTS) {
    std::vector<detail::FdRow> rows;
    for (std::size_t j = 0; j < M; ++j) rows.push_back({h[j], rho[j], vs0[j], 0.03, sm[j], &curves[j], j, 0.0});
    const DampingLaw law = DampingLaw::DORMIEUX;
    const cdouble hm = complex_modulus(2.3 * 900.0 * 900.0, 0.01, law), hs = 1.0 / complex_velocity(900.0, 0.01, law);
    detail::FdColumn col(rows, hm, hs, law, 0.0, nf, df, v, 30.0);
    std::vector<double> re(M * nf, 1.0), im(M * nf, 0.0);
    col.measure(re.data(), im.data(), eff);
    col.advance();
    detail::ShMedium medium;
    for (std::size_t j = 0; j < M; ++j) {
      const CurvePoint c = j < 2 ? evaluate_curve(curves[j], eff[j], sm[j]) : CurvePoint{1.0, 0.03, false};
      for (std::size_t k = 1; k < nf; ++k) {
        ASSERT_NEAR(col.g()[j * nf + k], c.g_ratio, 1e-12) << frequency_dependent_name(v) << " row " << j;
        ASSERT_NEAR(col.d()[j * nf + k], c.damping, 1e-12) << frequency_dependent_name(v) << " row " << j;
      }
      const double vs = vs0[j] * std::sqrt(c.g_ratio);
      medium.thickness.push_back(h[j]);
      medium.modulus.push_back(complex_modulus(rho[j] * vs * vs, c.damping, law));
      medium.slowness.push_back(1.0 / complex_velocity(vs, c.damping, law));
    }
    medium.modulus.push_back(hm), medium.slowness.push_back(hs);
    std::vector<double> y_re(nf, 1.0), y_im(nf, 0.5), want_re(M * nf), want_im(M * nf);
    detail::MidStrainWork work;
    ASSERT_TRUE(detail::sh_mid_strain(medium, 0.0, df, nf, want_re, want_im, work, std::nullopt, {},
                                      detail::MidStrainScale{y_re.data(), y_im.data(), 0.0}));
    col.strain_spectra(y_re.data(), y_im.data(), nullptr, 0.0, re.data(), im.data());
    for (std::size_t i = 0; i < M * nf; ++i) {
      const double scale = std::hypot(want_re[i], want_im[i]) + 1e-12;
      ASSERT_NEAR(re[i], want_re[i], 1e-9 * scale) << i;
      ASSERT_NEAR(im[i], want_im[i], 1e-9 * scale) << i;
    }
  }
}

// The smoothed variant's strains: the library's Konno-Ohmachi smoothing of
// the spectrum, over its largest value, made non-increasing.
TEST(FrequencyDependent, SmoothedVariantFollowsTheLibrarySmoothing) {
  const std::size_t nf = 4097;
  const double df = 0.0125;
  const Curve curve = Darendeli{20.0};
  std::vector<detail::FdRow> rows = {{5.0, 1.8, 180.0, 0.02, 50.0, &curve, 0}};
  const DampingLaw law = DampingLaw::DORMIEUX;
  detail::FdColumn col(rows, complex_modulus(2.3 * 8e5, 0.01, law), 1.0 / complex_velocity(900.0, 0.01, law), law, 0.0,
                       nf, df, FrequencyDependent::KO, 30.0);
  std::vector<double> re(nf), im(nf, 0.0), f(nf);
  for (std::size_t k = 0; k < nf; ++k) {
    f[k] = static_cast<double>(k) * df;
    // A resonance near 2 Hz over a decaying background, with ripples.
    re[k] = f[k] / (1.0 + std::pow(f[k] / 3.0, 3.0)) * (1.0 + 0.3 * std::sin(7.0 * f[k])) +
            0.5 / (1.0 + 40.0 * (f[k] - 2.0) * (f[k] - 2.0));
  }
  const double eff = 1e-3;
  col.measure(re.data(), im.data(), std::span<const double>(&eff, 1));
  col.advance();
  const std::vector<double> fs(f.begin() + 1, f.end()), amp(re.begin() + 1, re.end());
  std::vector<double> sm = konno_ohmachi(fs, amp, fs, 30.0);
  for (std::size_t k = sm.size() - 1; k-- > 0;) sm[k] = std::max(sm[k], sm[k + 1]);
  const double top = sm[0];
  for (std::size_t k = 1; k < nf; k += 7) {
    const double want = eff * sm[k - 1] / top;
    EXPECT_NEAR(std::exp(col.log_strain()[k]), want, 0.01 * want) << f[k] << " Hz";
  }
}

TEST(FrequencyDependent, MotionOfTheResultGivesThePeakStrainsOfItsLastPass) {
  const Profile p = deep_sand();
  EquivalentLinearOptions o = options_for(p, 0.0);
  const Record r = motion(6.0);
  for (const FrequencyDependent v : VARIANTS) {
    o.frequency_dependent = v;
    const EquivalentLinearResult res = equivalent_linear(r, p, o);
    ASSERT_TRUE(res.converged) << frequency_dependent_name(v);
    EXPECT_GT(res.iterations, res.classic_iterations);
    // The properties vary with frequency: softest where the strain spectrum
    // is largest, stiffer at the top frequencies.
    const std::size_t nf = res.frequencies.size();
    const auto row = res.g_ratio_f.begin() + static_cast<std::ptrdiff_t>(nf);
    EXPECT_LT(*std::min_element(row, row + static_cast<std::ptrdiff_t>(nf)) + 0.05, row[static_cast<std::ptrdiff_t>(nf) - 10])
        << frequency_dependent_name(v);
    PropagateOptions po;
    po.quantity = Quantity::STRAIN;
    for (std::size_t i = 0; i < p.layers(); i += 3) {
      po.depth = p.top_depth(i) + 0.5 * p.thickness()[i];
      const std::vector<double> s = frequency_dependent_motion(r, res, po);
      double peak = 0.0;
      for (double x : s) peak = std::max(peak, std::abs(x));
      EXPECT_NEAR(peak, res.max_strain[i], 1e-6 * res.max_strain[i]) << frequency_dependent_name(v) << " layer " << i;
    }
  }
}

TEST(FrequencyDependent, SublayersKeepTheirRowsAndClassicResultsHaveNone) {
  const Profile p = soft_clay();
  EquivalentLinearOptions o = options_for(p, 30.0);
  o.max_frequency = 15.0;
  o.frequency_dependent = FrequencyDependent::KA02;
  const EquivalentLinearResult res = equivalent_linear(motion(1.5), p, o);
  ASSERT_TRUE(res.converged);
  EXPECT_GT(res.profile.layers(), p.layers());
  EXPECT_EQ(res.g_ratio_f.size(), res.profile.layers() * res.frequencies.size());
  EXPECT_EQ(res.vs_low.size(), res.profile.layers());
  o.frequency_dependent = FrequencyDependent::NONE;
  const EquivalentLinearResult classic = equivalent_linear(motion(1.5), p, o);
  EXPECT_TRUE(classic.g_ratio_f.empty());
  EXPECT_THROW(frequency_dependent_motion(motion(1.5), classic, PropagateOptions{}), InvalidArgument);
}

TEST(FrequencyDependent, BadNamesAndValuesAreRefusedByName) {
  EXPECT_THROW(frequency_dependent_from_name("ka2"), InvalidArgument);
  EXPECT_EQ(frequency_dependent_from_name("KO"), FrequencyDependent::KO);
  EXPECT_THROW(eql_iteration_from_name("anderson"), InvalidArgument);
  const Profile p = soft_clay();
  EquivalentLinearOptions o = options_for(p, 30.0);
  for (const double b : {0.5, 5000.0, std::nan("")}) {
    o.ko_bandwidth = b;
    try {
      check_equivalent_linear_options(o);
      FAIL() << b;
    } catch (const InvalidArgument& e) {
      EXPECT_NE(std::string(e.what()).find("ko_bandwidth"), std::string::npos);
    }
  }
}

}  // namespace
