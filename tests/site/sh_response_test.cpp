// The SH response at any depth against a plain long-double evaluation, closed
// forms and its own identities.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "site/sh_reference.hpp"
#include "site/sh_response.hpp"
#include "velmar/velmar.hpp"

namespace velmar::detail {
namespace {

using test::sh_reference;

constexpr double EPS = std::numeric_limits<double>::epsilon();
// Relative agreement with the long-double reference: a few hundred units of
// double rounding over a few dozen layer steps, where phases are O(100).
constexpr double REF_TOL = 1e4 * EPS;

Profile three_layers(double half_space_damping = 0.0) {
  return Profile({10, 20, 15, 0}, {1.8, 2.0, 2.1, 2.2}, {200, 400, 600, 1000},
                 {0.05, 0.025, 0.02, half_space_damping});
}

struct Case {
  const char* name;
  double angle;
  DampingLaw law;
  double halfspace_xi;
};

class ShAgainstReference : public ::testing::TestWithParam<Case> {};

TEST_P(ShAgainstReference, DisplacementStrainAndStressAtEveryKindOfDepth) {
  const Case c = GetParam();
  const Profile p = three_layers(c.halfspace_xi);
  const std::vector<double> f{0.1, 0.7, 1.3, 2.9, 5.5, 9.1, 17.0, 33.0};
  // Inside layers, on interfaces, in the half-space.
  const std::vector<double> z{0.0, 4.0, 10.0, 17.5, 30.0, 44.9, 45.0, 52.0};
  const WaveSetup s{Wave::SH, c.angle, c.law};
  const ResponseGrid g = response(p, f, z, s);
  for (std::size_t d = 0; d < z.size(); ++d) {
    for (std::size_t i = 0; i < f.size(); ++i) {
      const auto r = sh_reference(p, f[i], z[d], c.angle, c.law);
      const std::size_t k = d * f.size() + i;
      const double scale_u = std::abs(r.u) + 1e-3;
      EXPECT_NEAR(std::abs(g.u[k] - cdouble(r.u)), 0.0, REF_TOL * scale_u) << "z " << z[d] << " f " << f[i];
      const double scale_s = std::abs(r.stress) + 1e-3 * p.density()[0] * 4e4;
      EXPECT_NEAR(std::abs(g.stress[k] - cdouble(r.stress)), 0.0, REF_TOL * scale_s) << "z " << z[d];
      EXPECT_NEAR(std::abs(g.strain[k] - cdouble(r.strain)), 0.0, REF_TOL * (std::abs(r.strain) + 1e-6));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, ShAgainstReference,
    ::testing::Values(Case{"vertical_velmar", 0.0, DampingLaw::VELMAR, 0.0},
                      Case{"oblique_seed", 35.0, DampingLaw::SEED, 0.0},
                      Case{"negative_angle_kramer", -20.0, DampingLaw::KRAMER, 0.0},
                      Case{"damped_halfspace_dormieux", 10.0, DampingLaw::DORMIEUX, 0.02}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShResponse, OneLayerOverHalfSpaceClosedForm) {
  // u0 = 2 / (cos z - i (M nu)/(Mh nuh) sin z), vertical incidence.
  const Profile p({10, 0}, {1.8, 2.2}, {200, 1000}, {0.05, 0.0});
  const std::vector<double> f{0.5, 1.0, 2.5, 5.0, 7.5, 10.0};
  const std::vector<cdouble> h = transfer(p, f, WaveSetup{});
  for (std::size_t i = 0; i < f.size(); ++i) {
    const double w = 2 * std::numbers::pi * f[i];
    const cdouble V = 200.0 / cdouble(1, 0.05);
    const cdouble M = 1.8 * V * V, nu = w / V, z = nu * 10.0;
    const cdouble u0 = 2.0 / (std::cos(z) - cdouble(0, 1) * (M * nu) / (2.2e6 * (w / 1000.0)) * std::sin(z));
    EXPECT_LT(std::abs(h[i] - u0), 100 * EPS * std::abs(u0));
  }
}

TEST(ShResponse, BareHalfSpaceStaticAndConjugateSymmetry) {
  const Profile bare({0}, {2.2}, {1000}, {0.0});
  for (double a : {0.0, 45.0, 89.0}) {
    const auto h = transfer(bare, std::vector<double>{0.0, 3.0, 1e4}, WaveSetup{Wave::SH, a});
    for (cdouble v : h) EXPECT_LT(std::abs(v - 2.0), 10 * EPS) << a;
  }
  const Profile p = three_layers();
  const std::vector<double> f{-7.0, 0.0, 7.0};
  const ResponseGrid g = response(p, f, std::vector<double>{0.0, 12.0}, WaveSetup{});
  for (std::size_t d = 0; d < 2; ++d) {
    EXPECT_EQ(g.u[d * 3], std::conj(g.u[d * 3 + 2]));
    EXPECT_EQ(g.u[d * 3 + 1], cdouble(2.0, 0.0));
    EXPECT_EQ(g.strain[d * 3 + 1], cdouble(0.0, 0.0));
  }
}

TEST(ShResponse, SurfaceStrainIsZeroAndStressIsModulusTimesStrain) {
  const Profile p = three_layers();
  const std::vector<double> f{0.3, 2.0, 8.0};
  const ResponseGrid g = response(p, f, std::vector<double>{0.0, 5.0, 25.0}, WaveSetup{});
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(g.strain[i], cdouble(0.0, 0.0));
  for (std::size_t d = 1; d < 3; ++d) {
    const std::size_t e = p.entry_at(d == 1 ? 5.0 : 25.0);
    const cdouble M = complex_modulus(p.density()[e] * p.vs()[e] * p.vs()[e], p.damping_s()[e], DampingLaw::VELMAR);
    for (std::size_t i = 0; i < 3; ++i) {
      const std::size_t k = d * 3 + i;
      EXPECT_LT(std::abs(g.stress[k] - M * g.strain[k]), 1e-12 * std::abs(g.stress[k]));
    }
  }
}

TEST(ShResponse, DampedPeaksLieBelowTheUndampedOneForEveryLaw) {
  const Profile elastic({20, 0}, {1.9, 2.3}, {150, 1200}, {0.0, 0.0});
  const Profile damped({20, 0}, {1.9, 2.3}, {150, 1200}, {0.1, 0.0});
  std::vector<double> f(2000);
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = 0.5 + 0.0025 * static_cast<double>(i);
  const auto peak = [&](const Profile& p, DampingLaw law) {
    double m = 0.0;
    for (cdouble v : transfer(p, f, WaveSetup{Wave::SH, 0.0, law})) m = std::max(m, std::abs(v));
    return m;
  };
  const double undamped = peak(elastic, DampingLaw::VELMAR);
  for (DampingLaw law : {DampingLaw::VELMAR, DampingLaw::SEED, DampingLaw::KRAMER, DampingLaw::DORMIEUX}) {
    EXPECT_LT(peak(damped, law), 0.8 * undamped) << damping_law_name(law);
  }
}

TEST(ShResponse, ExtremeLayersStayFiniteAndMatchTheScalarPath) {
  // A thick, soft, strongly damped layer at high frequency (growth e^{b} far
  // beyond the double range), and a layer whose phase exceeds the block
  // polynomials' range, whose frequencies take the scalar evaluation.
  const Profile soft({800, 5, 0}, {1.6, 2.0, 2.4}, {80, 300, 1500}, {0.3, 0.05, 0.0});
  const std::vector<double> f{50.0, 100.0, 400.0};
  const ResponseGrid g = response(soft, f, std::vector<double>{0.0, 400.0, 805.0}, WaveSetup{});
  for (cdouble v : g.u) EXPECT_TRUE(std::isfinite(v.real()) && std::isfinite(v.imag()));
  EXPECT_GT(std::abs(g.u[2 * 3]), 1.0);  // at the half-space's top, the incident wave and its reflection
  const Profile deep({2e5, 0}, {2.0, 2.2}, {400, 1000}, {0.0, 0.0});
  const std::vector<double> fd{1.0, 400.0};  // phases 3e3 and 1.3e6 rad
  const auto h = transfer(deep, fd, WaveSetup{});
  for (std::size_t i = 0; i < fd.size(); ++i) {
    const auto r = sh_reference(deep, fd[i], 0.0, 0.0, DampingLaw::VELMAR);
    // The reference's sine of a phase near 1e6 carries about 1e6 * eps_ld.
    EXPECT_LT(std::abs(h[i] - cdouble(r.u)), 1e-9) << fd[i];
  }
}

TEST(ShResponse, CriticalLayerTakesTheLimit) {
  // The layer's slowness equals the horizontal one: a zero vertical wavenumber.
  const Profile p({30, 0}, {2.0, 2.2}, {2000, 1000}, {0.0, 0.0});
  const auto h = transfer(p, std::vector<double>{1.0, 5.0}, WaveSetup{Wave::SH, 30.0});
  for (std::size_t i = 0; i < 2; ++i) {
    const auto r = sh_reference(p, i == 0 ? 1.0 : 5.0, 0.0, 30.0, DampingLaw::VELMAR);
    EXPECT_LT(std::abs(h[i] - cdouble(r.u)), REF_TOL * std::abs(r.u));
  }
}

TEST(ShResponse, FourHundredLayersMatchTheReferenceAndThreadsAgree) {
  std::vector<double> th(401, 2.5), rho(401, 2.0), vs(401), xi(401, 0.01);
  for (std::size_t i = 0; i < 401; ++i) vs[i] = 300 + 5 * static_cast<double>(i);
  xi[400] = 0.0;
  const Profile p(th, rho, vs, xi);
  std::vector<double> f(300);
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = 0.1 * static_cast<double>(i + 1);
  const std::vector<cdouble> h = transfer(p, f, WaveSetup{}, 333.3);
  for (std::size_t i = 0; i < f.size(); i += 37) {
    const auto r = sh_reference(p, f[i], 333.3, 0.0, DampingLaw::VELMAR);
    EXPECT_LT(std::abs(h[i] - cdouble(r.u)), 1e5 * EPS * (std::abs(r.u) + 1e-3)) << f[i];
  }
  std::vector<cdouble> a, b;
  std::thread t1([&] { a = transfer(p, f, WaveSetup{}, 333.3); });
  std::thread t2([&] { b = transfer(p, f, WaveSetup{}, 333.3); });
  t1.join();
  t2.join();
  EXPECT_EQ(a, h);
  EXPECT_EQ(b, h);
}

}  // namespace
}  // namespace velmar::detail

namespace velmar::detail {
namespace {

TEST(ShResponse, EveryInstructionSetLevelGivesTheSameBits) {
  const Profile p({800, 12, 30, 0}, {1.6, 1.9, 2.1, 2.4}, {80, 250, 600, 1500}, {0.3, 0.05, 0.02, 0.01});
  ShMedium m;
  m.thickness = {800, 12, 30};
  for (std::size_t i = 0; i < 4; ++i) {
    const double vs = p.vs()[i];
    m.modulus.push_back(complex_modulus(p.density()[i] * vs * vs, p.damping_s()[i], DampingLaw::SEED));
    m.slowness.push_back(1.0 / complex_velocity(vs, p.damping_s()[i], DampingLaw::SEED));
  }
  std::vector<double> f(200);
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = 0.37 * static_cast<double>(i);
  const std::vector<double> z{0.0, 400.0, 806.0, 850.0};
  const auto run = [&](SimdLevel level) {
    std::vector<cdouble> u(f.size() * z.size()), g(u.size()), t(u.size());
    sh_response(m, 25.0, f, z, u, g, t, level);
    u.insert(u.end(), g.begin(), g.end());
    u.insert(u.end(), t.begin(), t.end());
    return u;
  };
  const std::vector<cdouble> base = run(SimdLevel::BASELINE);
  for (SimdLevel level : {SimdLevel::AVX2, SimdLevel::AVX512}) {
    if (!simd_level_supported(level)) continue;
    const std::vector<cdouble> other = run(level);
    ASSERT_EQ(other.size(), base.size());
    for (std::size_t k = 0; k < base.size(); ++k) {
      ASSERT_EQ(std::memcmp(&other[k], &base[k], sizeof(cdouble)), 0) << "level " << static_cast<int>(level) << " at " << k;
    }
  }
}

}  // namespace
}  // namespace velmar::detail
