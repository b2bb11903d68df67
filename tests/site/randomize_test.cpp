// Tests of the randomised profiles: statistics of many draws against the
// model parameters within their sampling error, reproducibility, truncation.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "velmar/errors.hpp"
#include "velmar/randomize.hpp"

namespace velmar {
namespace {

// Draws per statistics test, and the allowance in standard errors: 4.5
// standard errors fail a correct model about once in 10^5 runs (the seeds
// are fixed, so a pass stays a pass).
constexpr int DRAWS = 4000;
constexpr double SIGMAS = 4.5;

// Equal layers of `h` m, Vs rising with depth, over a half-space.
Profile uniform_profile(int n, double h) {
  std::vector<double> th(n + 1, h), rho(n + 1, 1.9), vs, xi(n + 1, 0.02);
  for (int i = 0; i <= n; ++i) vs.push_back(200.0 + 10.0 * i);
  th.back() = 0.0;
  vs.back() = 1500.0;
  return Profile(th, rho, vs, xi);
}

TEST(RandomStream, SameKeySameNumbersOtherKeyOthers) {
  RandomStream a(7, 3, 2), b(7, 3, 2), c(7, 4, 2), d(8, 3, 2);
  for (int k = 0; k < 100; ++k) {
    const std::uint64_t x = a.next_bits();
    EXPECT_EQ(x, b.next_bits());
    EXPECT_NE(x, c.next_bits());
    EXPECT_NE(x, d.next_bits());
  }
}

TEST(RandomStream, NormalAndExponentialMoments) {
  constexpr int N = 200000;
  RandomStream rs(1, 0, 0);
  double s1 = 0, s2 = 0, s4 = 0, e1 = 0;
  for (int k = 0; k < N; ++k) {
    const double z = rs.normal();
    s1 += z, s2 += z * z, s4 += z * z * z * z;
    e1 += rs.exponential();
  }
  EXPECT_NEAR(s1 / N, 0.0, SIGMAS / std::sqrt(N));
  EXPECT_NEAR(s2 / N, 1.0, SIGMAS * std::sqrt(2.0 / N));
  EXPECT_NEAR(s4 / N, 3.0, SIGMAS * std::sqrt(96.0 / N));  // var of z^4 is 105 - 9
  EXPECT_NEAR(e1 / N, 1.0, SIGMAS / std::sqrt(N));
}

// The scale against the variance of the truncated normal by quadrature.
TEST(TruncationScale, MatchesQuadratureAndTheUsualFactor) {
  for (double k : {0.5, 1.0, 2.0, 3.0}) {
    constexpr int STEPS = 20000;  // Simpson's rule, error far below the tolerance
    double mass = 0, second = 0;
    for (int i = 0; i <= STEPS; ++i) {
      const double x = -k + 2 * k * i / STEPS;
      const double w = (i == 0 || i == STEPS) ? 1 : (i % 2 ? 4 : 2);
      const double f = std::exp(-0.5 * x * x);
      mass += w * f, second += w * x * x * f;
    }
    EXPECT_NEAR(truncation_scale(k), 1.0 / std::sqrt(second / mass), 1e-9) << "k = " << k;
  }
  constexpr double FACTOR_DIGITS = 5e-5;  // the factor is usually quoted to four decimals
  EXPECT_NEAR(truncation_scale(2.0), 1.1368, FACTOR_DIGITS);
  EXPECT_EQ(truncation_scale(0.0), 1.0);
}

class VelocityStatistics : public ::testing::TestWithParam<const char*> {};

// Mean and standard deviation of ln(Vs / median) in one layer, and the
// correlation of two adjacent layers against the model's rho.
TEST_P(VelocityStatistics, DrawsFollowTheModel) {
  const VelocityModel m = velocity_model(GetParam());
  const Profile base = uniform_profile(20, 3.0);
  const std::size_t a = 6, b = 7;  // mid-depths 19.5 m and 22.5 m
  for (double k : {0.0, 2.0}) {
    RandomizeOptions o;
    o.velocity = m;
    o.truncation = k;
    double sa = 0, saa = 0, sb = 0, sbb = 0, sab = 0, peak = 0;
    for (int r = 0; r < DRAWS; ++r) {
      const Realisation real = realise(base, o, 11, static_cast<std::uint64_t>(r));
      ASSERT_EQ(real.profile.layers(), base.layers());
      const double x = std::log(real.profile.vs()[a] / base.vs()[a]) / m.sigma_ln;
      const double y = std::log(real.profile.vs()[b] / base.vs()[b]) / m.sigma_ln;
      sa += x, saa += x * x, sb += y, sbb += y * y, sab += x * y;
      peak = std::max(peak, std::abs(x));
      EXPECT_EQ(real.profile.vs().back(), base.vs().back());
    }
    const double mean = sa / DRAWS, var_a = saa / DRAWS - mean * mean;
    const double var_b = sbb / DRAWS - (sb / DRAWS) * (sb / DRAWS);
    const double corr = (sab / DRAWS - mean * sb / DRAWS) / std::sqrt(var_a * var_b);
    SCOPED_TRACE(std::string(GetParam()) + ", truncation " + std::to_string(k));
    EXPECT_NEAR(mean, 0.0, SIGMAS / std::sqrt(DRAWS));
    EXPECT_NEAR(std::sqrt(var_a), 1.0, SIGMAS * std::sqrt(0.5 / DRAWS) * 1.2);
    const double z = 21.0, t = 3.0;
    const double rho_d = m.rho_200 * std::pow((z + m.z_0) / (200 + m.z_0), m.b);
    const double rho = (1 - rho_d) * m.rho_0 * std::exp(-t / m.delta) + rho_d;
    // Standard error of a sample correlation, (1 - rho^2)/sqrt(N); the
    // truncation's monotone map lowers the correlation by at most 0.01 more.
    EXPECT_NEAR(corr, rho, SIGMAS * (1 - rho * rho) / std::sqrt(DRAWS) + (k > 0 ? 0.01 : 0.0));
    if (k > 0) {
      EXPECT_LE(peak, k * truncation_scale(k) * (1 + 1e-12));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SiteClasses, VelocityStatistics,
                         ::testing::Values("Geomatrix AB", "Geomatrix CD", "USGS AB", "USGS CD", "USGS A",
                                           "USGS B", "USGS C", "USGS D"));

// Boundaries above depth D are Poisson with mean Lambda(D).
TEST(Layering, MeanBoundaryCountIsLambda) {
  const Profile base = uniform_profile(10, 10.0);  // half-space at 100 m
  RandomizeOptions o;
  o.layering = LayeringModel{};
  for (double depth : {10.0, 50.0, 100.0}) {
    double count = 0;
    for (int r = 0; r < DRAWS; ++r) {
      const Realisation real = realise(base, o, 5, static_cast<std::uint64_t>(r));
      EXPECT_NEAR(real.profile.halfspace_depth(), 100.0, 1e-9);
      for (std::size_t i = 1; i < real.profile.layers(); ++i) count += real.profile.top_depth(i) < depth;
    }
    const double lambda = expected_boundaries(*o.layering, depth);
    EXPECT_NEAR(count / DRAWS, lambda, SIGMAS * std::sqrt(lambda / DRAWS)) << "depth " << depth;
  }
}

TEST(Layering, LambdaIsTheIntegralOfTheRate) {
  const LayeringModel m;
  constexpr int STEPS = 100000;
  const double z = 80.0;
  double integral = 0;
  for (int i = 0; i < STEPS; ++i) integral += m.c3 * std::pow((i + 0.5) * z / STEPS + m.c1, m.c2) * z / STEPS;
  EXPECT_NEAR(expected_boundaries(m, z), integral, 1e-6 * integral);
}

TEST(Layering, NewLayersTakeTheBaseLayerAtTheirMidDepth) {
  const Profile base = uniform_profile(5, 8.0);
  RandomizeOptions o;
  o.layering = LayeringModel{};
  for (std::uint64_t r = 0; r < 50; ++r) {
    const Realisation real = realise(base, o, 2, r);
    for (std::size_t i = 0; i < real.profile.layers(); ++i) {
      const double mid = real.profile.top_depth(i) + 0.5 * real.profile.thickness()[i];
      EXPECT_EQ(real.base_layer[i], base.entry_at(mid));
      EXPECT_EQ(real.profile.vs()[i], base.vs()[real.base_layer[i]]);  // no velocity model: medians
    }
  }
}

TEST(HalfspaceDepth, LogNormalAboutTheBaseDepth) {
  const Profile base = uniform_profile(4, 10.0);
  RandomizeOptions o;
  o.halfspace_sigma_ln = 0.2;
  o.layering = LayeringModel{};
  double s = 0, ss = 0;
  for (int r = 0; r < DRAWS; ++r) {
    const Realisation real = realise(base, o, 3, static_cast<std::uint64_t>(r));
    const double x = std::log(real.profile.halfspace_depth() / 40.0);
    s += x, ss += x * x;
    for (std::size_t b : real.base_layer) EXPECT_LT(b, base.layers());  // deeper: the last layer extends
  }
  EXPECT_NEAR(s / DRAWS, 0.0, SIGMAS * 0.2 / std::sqrt(DRAWS));
  EXPECT_NEAR(std::sqrt(ss / DRAWS), 0.2, SIGMAS * 0.2 * std::sqrt(0.5 / DRAWS) * 1.2);
}

TEST(Realise, PureFunctionOfSeedAndIndex) {
  const Profile base = uniform_profile(8, 4.0);
  RandomizeOptions o;
  o.velocity = velocity_model("usgs c");
  o.layering = LayeringModel{};
  o.curves = CurveVariation{};
  const Realisation a = realise(base, o, 99, 12);
  realise(base, o, 99, 13);
  const Realisation b = realise(base, o, 99, 12);
  EXPECT_EQ(a.profile.vs(), b.profile.vs());
  EXPECT_EQ(a.profile.thickness(), b.profile.thickness());
  EXPECT_EQ(a.eps_g, b.eps_g);
  EXPECT_NE(realise(base, o, 100, 12).profile.thickness(), a.profile.thickness());
  // Turning the layering off leaves the velocity deviates' stream unchanged.
  RandomizeOptions fixed = o;
  fixed.layering.reset();
  EXPECT_EQ(realise(base, fixed, 99, 12).z.front(), a.z.front());
}

TEST(CurveDeviates, CorrelationAndClipping) {
  const Profile base = uniform_profile(1, 5.0);
  RandomizeOptions o;
  o.curves = CurveVariation{-0.5};
  o.truncation = 0.0;
  double sg = 0, sd = 0, sgd = 0, sgg = 0, sdd = 0;
  for (int r = 0; r < DRAWS; ++r) {
    const Realisation real = realise(base, o, 4, static_cast<std::uint64_t>(r));
    const double g = real.eps_g[0], d = real.eps_d[0];
    sg += g, sd += d, sgd += g * d, sgg += g * g, sdd += d * d;
  }
  const double corr = (sgd / DRAWS - sg * sd / DRAWS / DRAWS) /
                      std::sqrt((sgg / DRAWS - sg * sg / DRAWS / DRAWS) * (sdd / DRAWS - sd * sd / DRAWS / DRAWS));
  EXPECT_NEAR(corr, -0.5, SIGMAS * 0.75 / std::sqrt(DRAWS));

  const VariedPoint mid = vary_curve_point(0.5, 0.04, 1.0, 1.0);
  EXPECT_NEAR(mid.g_ratio, 0.5 + std::exp(-4.23) + std::sqrt(0.25 / std::exp(3.62)), 1e-12);
  EXPECT_NEAR(mid.damping, (4.0 + std::exp(-5.0) + std::exp(-0.25) * 2.0) / 100.0, 1e-12);
  const VariedPoint low = vary_curve_point(0.01, 0.001, -50.0, -50.0);
  EXPECT_EQ(low.g_ratio, G_RATIO_FLOOR);
  EXPECT_EQ(low.damping, 0.0);
  EXPECT_EQ(vary_curve_point(0.99, 0.3, 50.0, 50.0).g_ratio, 1.0);
  EXPECT_EQ(vary_curve_point(0.99, 0.3, 50.0, 50.0).damping, DAMPING_CEILING);
}

// A model whose Lambda is bounded (c2 < -1) once drew for ever past its
// bound; its draws now stop, with the Poisson count of its bounded Lambda.
TEST(Layering, BoundedRateEndsAndKeepsItsMeanCount) {
  const Profile base = uniform_profile(10, 10.0);
  RandomizeOptions o;
  o.layering = LayeringModel{2.0, -2.0, 1.98};  // Lambda(100 m) = 0.97
  double count = 0;
  for (int r = 0; r < DRAWS; ++r) {
    const Realisation real = realise(base, o, 8, static_cast<std::uint64_t>(r));
    count += static_cast<double>(real.profile.layers() - 1);
  }
  const double lambda = expected_boundaries(*o.layering, 100.0);
  EXPECT_NEAR(count / DRAWS, lambda, SIGMAS * std::sqrt(lambda / DRAWS));
}

// Options that would fill memory or give NaN are refused by name, before
// anything is drawn.
TEST(Realise, RefusesUnboundedWorkAndDegenerateTruncation) {
  const Profile base = uniform_profile(3, 10.0);
  const auto refused = [&](const RandomizeOptions& o, const char* message) {
    try {
      realise(base, o, 1, 0);
      ADD_FAILURE() << message << ": accepted";
    } catch (const InvalidArgument& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
    EXPECT_THROW(check_randomize_options(base, o), InvalidArgument);
  };
  RandomizeOptions o;
  o.layering = LayeringModel{10.86, -0.89, 1e12};
  refused(o, "layer boundaries above the base half-space");
  o.layering = LayeringModel{10.86, 5.0, 1.98};
  refused(o, "layer boundaries above the base half-space");
  o.layering = LayeringModel{10.86, 1000.0, 1.98};  // Lambda overflows
  refused(o, "layer boundaries");
  o = {};
  o.halfspace_sigma_ln = 1e300;
  refused(o, "halfspace_sigma_ln");
  o = {};
  o.velocity = VelocityModel{1e300, 0.9, 3.0, 0.9, 0.0, 0.3};
  refused(o, "sigma_ln");
  o = {};
  o.truncation = 1e-9;  // once: "vs[0] must be a finite number, got -nan"
  refused(o, "truncation must be 0 (no truncation) or finite and at least 0.1");
  EXPECT_THROW(truncation_scale(1e-9), InvalidArgument);
}

// At the smallest truncation the scale keeps its digits (by quadrature).
TEST(TruncationScale, KeepsItsDigitsAtTheSmallestTruncation) {
  const double k = MIN_TRUNCATION;
  constexpr int STEPS = 2000;
  double mass = 0, second = 0;
  for (int i = 0; i <= STEPS; ++i) {
    const double x = -k + 2 * k * i / STEPS;
    const double w = (i == 0 || i == STEPS) ? 1 : (i % 2 ? 4 : 2);
    const double f = std::exp(-0.5 * x * x);
    mass += w * f, second += w * x * x * f;
  }
  EXPECT_NEAR(truncation_scale(k), 1.0 / std::sqrt(second / mass), 1e-9);
}

TEST(Realise, RefusesBadOptions) {
  const Profile base = uniform_profile(3, 4.0);
  RandomizeOptions o;
  o.truncation = -1.0;
  EXPECT_THROW(realise(base, o, 1, 0), InvalidArgument);
  o = {};
  o.velocity = VelocityModel{0.3, 1.5, 3.0, 1.0, 0.0, 0.3};
  EXPECT_THROW(realise(base, o, 1, 0), InvalidArgument);
  try {
    velocity_model("USGS E");
    FAIL() << "no exception";
  } catch (const InvalidArgument& e) {
    EXPECT_NE(std::string(e.what()).find("'USGS E'"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("'Geomatrix AB'"), std::string::npos);
  }
  EXPECT_THROW(realise(Profile({0.0}, {2.0}, {500.0}, {0.0}), RandomizeOptions{}, 1, 0), InvalidArgument);
}

}  // namespace
}  // namespace velmar
