// Tests of the site indices against hand calculations: time-averaged
// velocities, site classes at their bounds, kappa0 and its adjustment,
// fundamental frequencies, quarter-wavelength amplification and its inversion.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "velmar/errors.hpp"
#include "velmar/site_indices.hpp"

namespace velmar {
namespace {

Profile over_halfspace(std::vector<double> h, std::vector<double> vs, double rho = 2.0) {
  const std::size_t n = vs.size();
  h.push_back(0.0);
  return Profile(h, std::vector<double>(n, rho), vs, std::vector<double>(n, 0.0));
}

Profile halfspace(double vs) { return Profile({0.0}, {2.0}, {vs}, {0.0}); }

TEST(TimeAveragedVs, HandComputedProfiles) {
  // 30 / (10/150 + 10/300 + 10/600).
  EXPECT_NEAR(vs30(over_halfspace({10.0, 10.0, 10.0}, {150.0, 300.0, 600.0, 1000.0})), 30.0 / (0.35 / 3.0), 1e-9);
  // Shallower than 30 m: the half-space fills 10..30 m: 30 / (10/200 + 20/800) = 400.
  EXPECT_NEAR(vs30(over_halfspace({10.0}, {200.0, 800.0})), 400.0, 1e-9);
  // Deeper than 30 m: only the first layer counts.
  EXPECT_NEAR(vs30(over_halfspace({40.0}, {250.0, 800.0})), 250.0, 1e-9);
  // V_s10 of the first case is the top layer's.
  EXPECT_NEAR(time_averaged_vs(over_halfspace({10.0, 10.0}, {150.0, 300.0, 600.0}), 10.0), 150.0, 1e-9);
  EXPECT_THROW(time_averaged_vs(halfspace(500.0), 0.0), InvalidArgument);
  EXPECT_THROW(time_averaged_vs(halfspace(500.0), std::nan("")), InvalidArgument);
}

TEST(DepthToVs, FirstEntryReachingTheValue) {
  const Profile p = over_halfspace({5.0, 15.0, 100.0}, {200.0, 1000.0, 700.0, 2600.0});
  EXPECT_EQ(depth_to_vs(p, 1000.0).value(), 5.0);  // reached exactly, then a velocity inversion
  EXPECT_EQ(depth_to_vs(p, 2500.0).value(), 120.0);
  EXPECT_EQ(depth_to_vs(p, 100.0).value(), 0.0);
  EXPECT_FALSE(depth_to_vs(p, 3000.0).has_value());
  EXPECT_THROW(depth_to_vs(p, -1.0), InvalidArgument);
}

std::string class_of(double vs, const char* code) { return site_class(halfspace(vs), code).label; }

TEST(SiteClass, BoundsOfEachCode) {
  // ASCE 7-16: A > 1524, B (762, 1524], C (366, 762], D [183, 366], E < 183.
  EXPECT_EQ(class_of(1524.0, "asce7-16"), "B");
  EXPECT_EQ(class_of(1524.5, "asce7-16"), "A");
  EXPECT_EQ(class_of(762.0, "asce7-16"), "C");
  EXPECT_EQ(class_of(366.0, "asce7-16"), "D");
  EXPECT_EQ(class_of(366.1, "asce7-16"), "C");
  EXPECT_EQ(class_of(183.0, "asce7-16"), "D");
  EXPECT_EQ(class_of(182.9, "asce7-16"), "E");
  // ASCE 7-22: upper bounds inclusive, E <= 152.
  const double bounds22[] = {1524.0, 914.0, 640.0, 442.0, 305.0, 213.0, 152.0};
  const char* below[] = {"B", "BC", "C", "CD", "D", "DE", "E"};
  const char* above[] = {"A", "B", "BC", "C", "CD", "D", "DE"};
  for (std::size_t k = 0; k < 7; ++k) {
    EXPECT_EQ(class_of(bounds22[k], "asce7-22"), below[k]) << bounds22[k];
    EXPECT_EQ(class_of(bounds22[k] + 0.01, "asce7-22"), above[k]) << bounds22[k];
  }
  // EC8: A > 800, B [360, 800], C [180, 360), D < 180; case-insensitive name.
  EXPECT_EQ(class_of(800.0, "EC8"), "B");
  EXPECT_EQ(class_of(800.1, "ec8"), "A");
  EXPECT_EQ(class_of(360.0, "ec8"), "B");
  EXPECT_EQ(class_of(359.9, "ec8"), "C");
  EXPECT_EQ(class_of(180.0, "ec8"), "C");
  EXPECT_EQ(class_of(179.9, "ec8"), "D");
  // A bound reached through a layered profile's rounding: 30 / (10/762 x 3).
  EXPECT_EQ(site_class(over_halfspace({10.0, 10.0, 10.0}, {762.0, 762.0, 762.0, 762.0}), "asce7-16").label, "C");
}

TEST(SiteClass, Ec8ClassEByItsThicknessRule) {
  const SiteClass e = site_class(over_halfspace({10.0}, {200.0, 1000.0}), "ec8");
  EXPECT_EQ(e.label, "E");
  EXPECT_NE(e.basis.find("10 m"), std::string::npos);
  // Too thick (25 m) or too thin (4 m) a cover: classed by Vs30.
  EXPECT_EQ(site_class(over_halfspace({25.0}, {200.0, 1000.0}), "ec8").label, "C");
  EXPECT_EQ(site_class(over_halfspace({4.0}, {200.0, 1000.0}), "ec8").label, "B");
  // A cover above 360 m/s, or softer material below the first stiff layer: not E.
  EXPECT_EQ(site_class(over_halfspace({10.0}, {400.0, 1000.0}), "ec8").label, "B");
  EXPECT_NE(site_class(over_halfspace({10.0, 5.0}, {200.0, 1000.0, 500.0}), "ec8").label, "E");
  // Criteria a Vs profile cannot tell are named, and a thick very soft layer flagged.
  const SiteClass soft = site_class(over_halfspace({12.0}, {90.0, 400.0}), "ec8");
  EXPECT_NE(soft.not_checked.find("S1"), std::string::npos);
  EXPECT_NE(soft.not_checked.find("this profile has 12 m"), std::string::npos);
  EXPECT_NE(site_class(halfspace(300.0), "asce7-22").not_checked.find("soft clay"), std::string::npos);
  try {
    site_class(halfspace(300.0), "nehrp");
    FAIL();
  } catch (const InvalidArgument& e2) {
    EXPECT_NE(std::string(e2.what()).find("code"), std::string::npos);
  }
}

TEST(Kappa0, OneLayerAndTheAdjustment) {
  const Profile one({20.0, 0.0}, {1.9, 2.2}, {250.0, 800.0}, {0.05, 0.01});
  EXPECT_NEAR(kappa0(one), 2.0 * 0.05 * 20.0 / 250.0, 1e-15);  // the half-space's damping does not count
  const Profile p({5.0, 20.0, 40.0, 0.0}, {1.8, 1.9, 2.0, 2.3}, {150.0, 300.0, 600.0, 1500.0},
                  {0.03, 0.02, 0.01, 0.005});
  for (double target : {0.0, 0.004, 0.03}) {
    const Profile a = adjust_damping(p, target);
    EXPECT_NEAR(kappa0(a), target, 1e-15) << target;
    // Q proportional to Vs: damping x Vs is the same in every layer.
    EXPECT_NEAR(a.damping_s()[0] * 150.0, a.damping_s()[2] * 600.0, 1e-15);
    EXPECT_EQ(a.damping_s()[3], 0.005);
    EXPECT_EQ(a.vs(), p.vs());
  }
  EXPECT_THROW(adjust_damping(p, -0.001), InvalidArgument);
  EXPECT_THROW(adjust_damping(p, 5.0), InvalidArgument);  // damping ratio would pass 1
  EXPECT_THROW(adjust_damping(halfspace(500.0), 0.01), InvalidArgument);
}

TEST(FundamentalFrequency, UniformLayerPeaksAtVsOverFourH) {
  const Profile p = over_halfspace({20.0}, {200.0, 1200.0});
  const FundamentalFrequency f = fundamental_frequency(p);
  EXPECT_NEAR(f.quarter_wavelength, 2.5, 1e-12);
  EXPECT_NEAR(f.sh_peak, 2.5, 2.5e-6);
  // Two layers: the travel-time estimate and the peak differ, but both finite and close.
  const FundamentalFrequency g = fundamental_frequency(over_halfspace({10.0, 30.0}, {150.0, 400.0, 1000.0}));
  EXPECT_NEAR(g.quarter_wavelength, 1.0 / (4.0 * (10.0 / 150.0 + 30.0 / 400.0)), 1e-12);
  EXPECT_GT(g.sh_peak, 0.5 * g.quarter_wavelength);
  EXPECT_LT(g.sh_peak, 2.0 * g.quarter_wavelength);
  EXPECT_THROW(fundamental_frequency(halfspace(500.0)), InvalidArgument);
}

TEST(QuarterWavelength, HalfspaceIsOneAndTwoLayersMatchHand) {
  const std::vector<double> freqs{0.1, 1.0, 5.0, 50.0};
  QuarterWavelengthOptions ba23;
  ba23.frequency_dependent_eta = true;
  for (const auto& o : {QuarterWavelengthOptions{}, ba23}) {
    const QuarterWavelength q = quarter_wavelength(halfspace(760.0), freqs, o);
    for (double a : q.amplification) EXPECT_NEAR(a, 1.0, 1e-14);
  }
  // 30 m at 200 m/s (1.8 t/m3) over 800 m/s (2.2 t/m3), 1 Hz: travel time
  // 0.25 s reaches 30 + 0.1 x 800 = 110 m; V = 440 m/s; density (54 + 176) / 110.
  const Profile p({30.0, 0.0}, {1.8, 2.2}, {200.0, 800.0}, {0.0, 0.0});
  const std::vector<double> one{1.0, 10.0};
  const QuarterWavelength q = quarter_wavelength(p, one);
  EXPECT_NEAR(q.depth[0], 110.0, 1e-12);
  EXPECT_NEAR(q.velocity[0], 440.0, 1e-12);
  EXPECT_NEAR(q.density[0], 230.0 / 110.0, 1e-14);
  EXPECT_NEAR(q.amplification[0], std::sqrt(2.2 * 800.0 / (230.0 / 110.0 * 440.0)), 1e-12);
  EXPECT_NEAR(q.amplification[1], std::sqrt(2.2 * 800.0 / (1.8 * 200.0)), 1e-12);  // 5 m, inside the layer
  // Kappa and a given source.
  QuarterWavelengthOptions o;
  o.kappa = 0.02;
  o.source_vs = 3500.0;
  o.source_density = 2.8;
  const QuarterWavelength k = quarter_wavelength(p, one, o);
  EXPECT_NEAR(k.amplification[1], std::sqrt(2.8 * 3500.0 / (1.8 * 200.0)) * std::exp(-std::numbers::pi * 0.02 * 10.0), 1e-12);
  const std::vector<double> bad{1.0, 0.0};
  EXPECT_THROW(quarter_wavelength(p, bad), InvalidArgument);
  o.kappa = -1.0;
  EXPECT_THROW(quarter_wavelength(p, one, o), InvalidArgument);
}

TEST(QuarterWavelength, Ba23ExponentIsBoundedAndFinite) {
  EXPECT_EQ(eta_ba23(-3.0), 0.0);
  EXPECT_EQ(eta_ba23(-1.301), 0.0);
  EXPECT_NEAR(eta_ba23(8.0), 0.56, 0.01);
  for (double x = -5.0; x <= 12.0; x += 0.01) {
    const double e = eta_ba23(x);
    ASSERT_TRUE(std::isfinite(e) && e >= 0.0 && e < 1.0) << x;
  }
}

TEST(QuarterWavelength, InversionRecoversTheProfileItGenerated) {
  const Profile truth({4.0, 8.0, 15.0, 30.0, 0.0}, {1.8, 1.9, 2.0, 2.1, 2.4}, {160.0, 260.0, 420.0, 700.0, 1800.0},
                      {0.02, 0.02, 0.01, 0.01, 0.0});
  std::vector<double> freqs(60);
  for (std::size_t i = 0; i < freqs.size(); ++i) freqs[i] = 0.3 * std::pow(10.0, 2.3 * static_cast<double>(i) / 59.0);
  for (bool ba23 : {false, true}) {
    QuarterWavelengthOptions o;
    o.frequency_dependent_eta = ba23;
    o.kappa = 0.01;
    const std::vector<double> target = quarter_wavelength(truth, freqs, o).amplification;
    const double off[] = {1.12, 0.87, 1.15, 0.9};
    std::vector<double> start_vs = truth.vs();
    for (std::size_t i = 0; i < 4; ++i) start_vs[i] *= off[i];
    const Profile start(truth.thickness(), truth.density(), start_vs, truth.damping_s());
    o.kappa = ba23 ? 0.013 : 0.01;
    const QuarterWavelengthFit fit = fit_quarter_wavelength(start, freqs, target, o, ba23);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(fit.profile.vs()[i] / truth.vs()[i], 1.0, 1e-5) << i;
    EXPECT_NEAR(fit.kappa, 0.01, 1e-7);
    EXPECT_LT(fit.rms_log_misfit, 1e-7);
    EXPECT_EQ(fit.profile.vs()[4], 1800.0);
  }
  const std::vector<double> short_target{1.0, 2.0};
  EXPECT_THROW(fit_quarter_wavelength(truth, freqs, short_target), InvalidArgument);
}

}  // namespace
}  // namespace velmar
