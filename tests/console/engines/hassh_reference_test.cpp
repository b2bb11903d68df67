// HASSH against the independent long-double SH reference, on multi-layer
// models, oblique angles, both damping laws and every interface.
#include "console/engines/hassh.hpp"
#include "layers/psv_reference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <limits>
#include <string>

namespace velmar::console {
namespace {

using reference::cplx;
using reference::LayerEntry;
using reference::real;
using namespace reference::models;

constexpr float EPS_F = std::numeric_limits<float>::epsilon();

// Worked values quoted to three decimals are checked to half a unit of the
// last quoted digit.
constexpr real QUOTED_3_DECIMALS = 0.5e-3L;

// Identities the long-double reference must satisfy exactly are held to the
// float rounding unit: four decimal digits above its own rounding error.
constexpr real REFERENCE_TOL = EPS_F;

// --- the reference on its own ---------------------------------------------

TEST(ShReference, OneLayerMatchesWorkedValues) {
  const LayerTable t = reference::make_table(QUARTER_WAVE);
  std::array<LayerEntry, 2> damped = QUARTER_WAVE;
  damped[0].qs = 10.0f;
  const LayerTable td = reference::make_table(damped);
  struct Case {
    const LayerTable* table;
    real angle;
    real f;
    int isgnt;
    cplx u;
  };
  const Case cases[] = {
      {&t, 0.0L, 5.0L, -1, {0.0L, 9.778L}},     {&t, 0.0L, 2.5L, -1, {2.715L, 0.555L}},
      {&t, 20.0L, 5.0L, -1, {0.244L, 9.216L}},  {&td, 0.0L, 5.0L, -1, {-0.255L, 7.051L}},
      {&t, 0.0L, 5.0L, +1, {0.0L, -9.778L}},
  };
  for (const Case& c : cases) {
    const reference::ShResponse r = reference::sh_response(*c.table, c.angle, c.f, c.isgnt);
    EXPECT_NEAR(double(r.u[0].real()), double(c.u.real()), double(QUOTED_3_DECIMALS))
        << "angle " << double(c.angle) << " f " << double(c.f) << " isgnt " << c.isgnt;
    EXPECT_NEAR(double(r.u[0].imag()), double(c.u.imag()), double(QUOTED_3_DECIMALS))
        << "angle " << double(c.angle) << " f " << double(c.f) << " isgnt " << c.isgnt;
  }
  // Bare half-space: twice the incident wave, at any angle and frequency.
  const LayerTable bare = reference::make_table(std::array<LayerEntry, 1>{QUARTER_WAVE[1]});
  for (real angle : {0.0L, 30.0L, 70.0L}) {
    const reference::ShResponse r = reference::sh_response(bare, angle, 13.0L);
    EXPECT_LT(double(std::abs(r.u[0] - 2.0L)), double(REFERENCE_TOL));
  }
}

// One nearly elastic layer at vertical incidence: |u|/2 =
// 1 / sqrt(cos^2(wH/Vs) + a^2 sin^2(wH/Vs)), a = rho Vs / (rho_h Vh).
TEST(ShReference, OneLayerFollowsClosedForm) {
  std::array<LayerEntry, 2> m = QUARTER_WAVE;
  m[0].qs = 1.0e30f;
  const LayerTable t = reference::make_table(m);
  const real a = (1.8L * 200.0L) / (2.2L * 800.0L);
  for (real f = 0.25L; f < 40.0L; f += 0.75L) {
    const real ph = 2.0L * reference::PI_L * f * 10.0L / 200.0L;
    const real expect =
        1.0L / std::sqrt(std::cos(ph) * std::cos(ph) + a * a * std::sin(ph) * std::sin(ph));
    const reference::ShResponse r = reference::sh_response(t, 0.0L, f);
    EXPECT_NEAR(double(std::abs(r.u[0]) / 2.0L / expect), 1.0, double(REFERENCE_TOL)) << double(f);
  }
}

// Elastic stack: all the incident energy is reflected, |R| = 1.
TEST(ShReference, ElasticStackReflectsAllIncidentEnergy) {
  constexpr float ELASTIC_Q = 1.0e30f;
  const std::array<LayerEntry, 4> m = {{
      {30.0f, 1.8f, 200.0f, ELASTIC_Q, 0.0f, 0.0f},
      {50.0f, 2.0f, 350.0f, ELASTIC_Q, 0.0f, 0.0f},
      {80.0f, 2.1f, 600.0f, ELASTIC_Q, 0.0f, 0.0f},
      {0.0f, 2.3f, 1000.0f, 0.0f, 0.0f, 0.0f},
  }};
  const LayerTable t = reference::make_table(m);
  for (real angle : {0.0L, 25.0L, 50.0L}) {
    for (real f : {1.0L, 7.3L, 31.0L}) {
      const reference::ShResponse r = reference::sh_response(t, angle, f);
      // At the top of the half-space u = 1 + R.
      EXPECT_NEAR(double(std::abs(r.u[3] - 1.0L)), 1.0, double(REFERENCE_TOL));
    }
  }
}


// --- HASSH against the reference ------------------------------------------

// Each value is judged against the size of the waves that make it up at its
// depth (so a node, or a surface value e^-100 below the incident wave, is
// judged on its own scale), and must agree to within
// SH_FACTOR * (eps + its change when F or ANGLE moves by one float rounding
// unit). The
// second term is the sensitivity to rounding that no float computation
// escapes: over thick damped layers a phase of some hundred radians moves
// by its own size times eps. SH_FACTOR = 8 covers the handful of float
// roundings that enter with a gain of order one (w = F 2 pi, pi from the
// float arctan, the angle and its sine and cosine).
constexpr real SH_FACTOR = 8.0L;

struct ShSweep {
  const char* model;
  int iqf;
  float angle;
  float fmax;
};

LayerTable sh_model(const std::string& name, int iqf) {
  if (name == "quarter wave") return reference::make_table(QUARTER_WAVE, iqf);
  if (name == "soft basin") return reference::make_table(SOFT_BASIN, iqf);
  if (name == "soft profile") return reference::make_table(SOFT_PROFILE, iqf);
  if (name == "full table") return reference::make_table(FULL_TABLE, iqf);
  return reference::make_table(DEEP_BASIN, iqf);
}

// Largest errors of a sweep: relative to the wave size, and in units of
// eps + sensitivity.
struct Tally {
  real worst = 0.0L;
  real worst_units = 0.0L;
};

// HASSH at one frequency against the reference (and its float neighbours),
// every interface, displacement and stress.
void compare_at(const LayerTable& t, float angle, float f, int isgnt, Tally& tally) {
  float F = f;
  ResponseArray USH{};
  ResponseArray TSH{};
  HASSH(t, 0.0f, angle, F, isgnt, 1, USH, TSH);
  const reference::ShResponse r = reference::sh_response(t, angle, F, isgnt);
  std::array<reference::ShResponse, 4> nb;
  const std::array<reference::Inputs, 4> in = reference::float_neighbours(F, angle);
  for (int s = 0; s < 4; ++s) nb[s] = reference::sh_response(t, in[s].angle, in[s].f, isgnt);
  EXPECT_EQ(TSH[0], cfloat(0.0f, 0.0f));
  auto check = [&](int j, cfloat got, cplx want, const std::array<cplx, 4>& moved, real size,
                   const char* what) {
    size = std::max(size, reference::FLOAT_NORMAL_FLOOR);
    real sens = 0.0L;
    for (const cplx& m : moved) sens = std::max(sens, std::abs(m - want) / size);
    const real err = std::abs(cplx(got.real(), got.imag()) - want) / size;
    const real units = err / (EPS_F + sens);
    tally.worst = std::max(tally.worst, err);
    tally.worst_units = std::max(tally.worst_units, units);
    EXPECT_LE(double(units), double(SH_FACTOR))
        << what << "[" << j << "] f " << F << " isgnt " << isgnt << ": got " << got << " want ("
        << double(want.real()) << "," << double(want.imag()) << ") rel err " << double(err)
        << " sensitivity " << double(sens);
  };
  for (int j = 0; j <= t.NLAYER; ++j) {
    check(j, USH[j], r.u[j], {nb[0].u[j], nb[1].u[j], nb[2].u[j], nb[3].u[j]}, r.size[j], "USH");
    if (j > 0) {
      check(j, TSH[j], r.tau[j], {nb[0].tau[j], nb[1].tau[j], nb[2].tau[j], nb[3].tau[j]}, r.tau_size[j],
            "TSH");
    }
  }
}

class HasshVsReference : public testing::TestWithParam<ShSweep> {};

TEST_P(HasshVsReference, EveryInterfaceAgreesWithinFloatSensitivity) {
  const ShSweep& p = GetParam();
  const LayerTable t = sh_model(p.model, p.iqf);
  constexpr int NF = 48;
  Tally tally;
  for (int i = 0; i < NF; ++i) {
    // Geometric grid from 0.2 Hz to fmax, both ends included.
    const real f = 0.2L * std::pow(real(p.fmax) / 0.2L, real(i) / (NF - 1));
    compare_at(t, p.angle, static_cast<float>(f), -1, tally);
  }
  RecordProperty("max_rel_err", testing::PrintToString(double(tally.worst)));
  std::printf("HASSH %-12s IQF %d angle %4.1f: max rel err %.2e, %.2f x (eps + sensitivity)\n", p.model,
              p.iqf, double(p.angle), double(tally.worst), double(tally.worst_units));
}

INSTANTIATE_TEST_SUITE_P(
    Models, HasshVsReference,
    testing::Values(ShSweep{"quarter wave", 1, 0.0f, 100.0f}, ShSweep{"quarter wave", 2, 35.0f, 100.0f},
                    ShSweep{"soft basin", 1, 0.0f, 100.0f}, ShSweep{"soft basin", 2, 20.0f, 100.0f},
                    ShSweep{"soft basin", 1, 60.0f, 100.0f}, ShSweep{"soft profile", 1, 15.0f, 100.0f},
                    ShSweep{"soft profile", 2, 40.0f, 100.0f}, ShSweep{"deep basin", 1, 0.0f, 100.0f},
                    ShSweep{"deep basin", 2, 25.0f, 100.0f}, ShSweep{"deep basin", 1, 70.0f, 50.0f},
                    ShSweep{"full table", 1, 30.0f, 100.0f}, ShSweep{"full table", 2, 0.0f, 100.0f}));

// Under exp(+i w t) the damping divisor and the radiation condition both
// change side, and the response is the complex conjugate of the exp(-i w t)
// one.
TEST(HASSH, PlusTimeFactorAgreesWithReference) {
  const LayerTable t = reference::make_table(SOFT_PROFILE, 1);
  Tally tally;
  for (float f : {0.5f, 3.0f, 11.0f, 47.0f}) compare_at(t, 20.0f, f, +1, tally);
}

}  // namespace
}  // namespace velmar::console
