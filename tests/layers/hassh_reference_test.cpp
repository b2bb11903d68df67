// HASSH against the independent long-double SH reference, on multi-layer
// models, oblique angles, both damping laws and every interface.
#include "layers/psv_reference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>

namespace velmar {
namespace {

using reference::cplx;
using reference::EntrySpec;
using reference::real;

constexpr float EPS_F = std::numeric_limits<float>::epsilon();

// Worked values quoted to three decimals are checked to half a unit of the
// last quoted digit.
constexpr real QUOTED_3_DECIMALS = 0.5e-3L;

// Identities the long-double reference must satisfy exactly are held to the
// float rounding unit: four decimal digits above its own rounding error.
constexpr real REFERENCE_TOL = EPS_F;

constexpr std::array<EntrySpec, 2> ONE_LAYER = {{
    {10.0f, 1.8f, 200.0f, 1.0e6f, 0.0f, 0.0f},
    {0.0f, 2.2f, 800.0f, 0.0f, 0.0f, 0.0f},
}};

// --- the reference on its own ---------------------------------------------

TEST(ShReference, OneLayerMatchesWorkedValues) {
  const LayerTable t = reference::make_table(ONE_LAYER);
  std::array<EntrySpec, 2> damped = ONE_LAYER;
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
  const LayerTable bare = reference::make_table(std::array<EntrySpec, 1>{ONE_LAYER[1]});
  for (real angle : {0.0L, 30.0L, 70.0L}) {
    const reference::ShResponse r = reference::sh_response(bare, angle, 13.0L);
    EXPECT_LT(double(std::abs(r.u[0] - 2.0L)), double(REFERENCE_TOL));
  }
}

// One nearly elastic layer at vertical incidence: |u|/2 =
// 1 / sqrt(cos^2(wH/Vs) + a^2 sin^2(wH/Vs)), a = rho Vs / (rho_h Vh).
TEST(ShReference, OneLayerFollowsClosedForm) {
  std::array<EntrySpec, 2> m = ONE_LAYER;
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
  const std::array<EntrySpec, 4> m = {{
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

}  // namespace
}  // namespace velmar
