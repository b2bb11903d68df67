#include "console/engines/hassh.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

namespace velmar::console {
namespace {

using cld = std::complex<long double>;

constexpr float EPS = std::numeric_limits<float>::epsilon();
// A value computed in double and rounded once to float is off by half an ulp
// in each component, under eps * |value| in modulus. Twice that leaves room for
// the double-precision work (a few hundred operations at 1e-16 each) and the
// scale factor e^{log} applied before rounding.
constexpr long double ROUND_TOL = 2.0L * EPS;
// The program's own worked values are printed to three decimals: half a unit
// of the last digit, plus the float rounding of the computed value.
constexpr double PRINTED_TOL = 0.5e-3;
// Subnormal floats are spaced by denorm_min, so a value rounded into that range
// may be off by half of it whatever its size.
constexpr long double SUBNORMAL_TOL = std::numeric_limits<float>::denorm_min();
// Sentinel written into result entries that must not be touched.
const cfloat SENTINEL{-123.25f, 456.5f};

struct Layer {
  float thick, rho, vs, qs;
};

LayerTable make_table(const std::vector<Layer>& layers, float rho_h, float vs_h, int iqf = 1) {
  LayerTable t;
  t.NLAYER = static_cast<int>(layers.size());
  t.IQF = iqf;
  for (std::size_t n = 0; n < layers.size(); ++n) {
    t.THICK[n] = layers[n].thick;
    t.RHO[n] = layers[n].rho;
    t.VSC[n] = {layers[n].vs, 0.0f};
    t.QS[n] = layers[n].qs;
  }
  t.RHO[layers.size()] = rho_h;
  t.VSC[layers.size()] = {vs_h, 0.0f};
  return t;
}

// The one-layer model of the worked values: 10 thick, RHO 1.8, VS 200 over a
// half-space RHO 2.2, VS 800.
LayerTable worked_model(float qs) { return make_table({{10.0f, 1.8f, 200.0f, qs}}, 2.2f, 800.0f); }

struct Result {
  ResponseArray u, t;
};

Result run(const LayerTable& table, float angaz, float angle, float f, int isgnt, int iprof) {
  Result r;
  r.u.fill(SENTINEL);
  r.t.fill(SENTINEL);
  HASSH(table, angaz, angle, f, isgnt, iprof, r.u, r.t);
  return r;
}

long double cabs(cld z) { return std::abs(z); }
cld to_ld(cfloat z) { return {z.real(), z.imag()}; }

// Inputs as the routine rounds them: pi = 4 atan(1), the incidence angle and
// the angular frequency in single precision. The references below start from
// these and work in long double.
struct Rounded {
  long double omega, sin_t, cos_t;
};
Rounded rounded_inputs(float angle, float f) {
  const float pi = 4.0f * std::atan(1.0f);
  const float theta = pi * angle / 180.0f;
  return {static_cast<long double>(f * 2.0f * pi), std::sin(theta), std::cos(theta)};
}

// Damped layer quantities in long double: V = VS/(1 + i d) for exp(-i w t).
struct Medium {
  cld mu, nu;
};
Medium layer_medium(const LayerTable& tb, int n, const Rounded& in, float f) {
  const long double qs = tb.QS[n];
  const long double d = tb.IQF == 2 ? 0.5L / (qs * f) : 0.5L / qs;
  const cld v = cld(tb.VSC[n].real(), 0.0L) / cld(1.0L, d);
  const cld mu = static_cast<long double>(tb.RHO[n]) * v * v;
  const long double kx = in.sin_t * in.omega / tb.VSC[tb.NLAYER].real();
  cld nu = std::sqrt(in.omega * in.omega / (v * v) - kx * kx);
  if (nu.imag() < 0) nu = -nu;
  return {mu, nu};
}

// Independent reference: up- and down-going wave amplitudes carried layer by
// layer in long double (exp(-i w t)). In layer n, u = A e^{i nu z} + B e^{-i nu z}
// and the stress is i mu nu (A e^{i nu z} - B e^{-i nu z}), z from the layer top.
// Start with A = B = 1 (u = 2, stress 0 at the surface), match u and stress at
// each interface, and divide by the up-going amplitude B in the half-space.
struct Profile {
  std::vector<cld> u, t;
};
Profile wave_reference(const LayerTable& tb, float angle, float f) {
  const Rounded in = rounded_inputs(angle, f);
  const int N = tb.NLAYER;
  const cld i(0.0L, 1.0L);
  Profile p;
  cld A = 1.0L, B = 1.0L;
  p.u.push_back(2.0L);
  p.t.push_back(0.0L);
  for (int n = 0; n <= N; ++n) {
    cld mu, nu;
    if (n < N) {
      const Medium m = layer_medium(tb, n, in, f);
      mu = m.mu;
      nu = m.nu;
    } else {
      const long double vh = tb.VSC[N].real();
      mu = static_cast<long double>(tb.RHO[N]) * vh * vh;
      nu = in.cos_t * in.omega / vh;
    }
    if (n > 0) {
      const cld ratio = p.t.back() / (i * mu * nu);
      A = (p.u.back() + ratio) / 2.0L;
      B = (p.u.back() - ratio) / 2.0L;
    }
    if (n == N) break;
    const cld e = std::exp(i * nu * static_cast<long double>(tb.THICK[n]));
    p.u.push_back(A * e + B / e);
    p.t.push_back(i * mu * nu * (A * e - B / e));
  }
  for (std::size_t k = 0; k < p.u.size(); ++k) {
    p.u[k] /= B;
    p.t[k] /= B;
  }
  return p;
}

// |got - want| within rel * |want| + abs, reported with the interface index.
void expect_close(cfloat got, cld want, long double rel, long double abs, const char* what, int k) {
  EXPECT_LE(cabs(to_ld(got) - want), rel * cabs(want) + abs)
      << what << "[" << k << "] = " << got << ", want (" << want.real() << "," << want.imag() << ")";
}

// ---------------------------------------------------------------------------

TEST(HASSH, WorkedValuesOfOneLayerOverHalfSpace) {
  struct Case {
    float qs, angle, f;
    int isgnt;
    float re, im;
  };
  const Case cases[] = {
      {1.0e6f, 0.0f, 5.0f, -1, 0.0f, 9.778f},    // first resonance
      {1.0e6f, 0.0f, 2.5f, -1, 2.715f, 0.555f},  //
      {1.0e6f, 20.0f, 5.0f, -1, 0.244f, 9.216f}, // oblique incidence
      {10.0f, 0.0f, 5.0f, -1, -0.255f, 7.051f},  // damped
      {1.0e6f, 0.0f, 5.0f, 1, 0.0f, -9.778f},    // exp(+i w t): conjugate
      {10.0f, 0.0f, 5.0f, 1, -0.255f, -7.051f},  // damped, conjugate too
  };
  for (float angaz : {0.0f, 60.0f}) {
    const float factor = angaz == 0.0f ? 1.0f : 0.5f;  // cos 60 = 1/2
    for (const Case& c : cases) {
      const Result r = run(worked_model(c.qs), angaz, c.angle, c.f, c.isgnt, 1);
      SCOPED_TRACE(testing::Message() << "ANGAZ " << angaz << " QS " << c.qs << " ANGLE " << c.angle
                                      << " F " << c.f << " ISGNT " << c.isgnt);
      EXPECT_NEAR(r.u[0].real(), factor * c.re, PRINTED_TOL);
      EXPECT_NEAR(r.u[0].imag(), factor * c.im, PRINTED_TOL);
      EXPECT_EQ(r.t[0], cfloat(0.0f, 0.0f));
    }
  }
  // The modulus at the first resonance is 2 (2.2 * 800)/(1.8 * 200), and the
  // base of the layer is a node.
  const Result r = run(worked_model(1.0e6f), 0.0f, 0.0f, 5.0f, -1, 1);
  EXPECT_NEAR(std::abs(r.u[0]), 2.0 * (2.2 * 800.0) / (1.8 * 200.0), PRINTED_TOL);
  EXPECT_LT(std::abs(r.u[1]), PRINTED_TOL);
}

TEST(HASSH, PlusTimeFactorGivesComplexConjugateEverywhere) {
  const LayerTable tb = make_table(
      {{10.0f, 1.8f, 200.0f, 10.0f}, {25.0f, 1.9f, 350.0f, 5.0f}, {40.0f, 2.0f, 600.0f, 30.0f}}, 2.3f,
      1200.0f);
  for (float angle : {0.0f, 35.0f}) {
    for (float f : {0.3f, 2.0f, 7.5f, 31.0f}) {
      const Result minus = run(tb, 0.0f, angle, f, -1, 1);
      const Result plus = run(tb, 0.0f, angle, f, 1, 1);
      for (int k = 0; k <= tb.NLAYER; ++k) {
        expect_close(plus.u[k], std::conj(to_ld(minus.u[k])), ROUND_TOL, 0.0L, "USH", k);
        expect_close(plus.t[k], std::conj(to_ld(minus.t[k])), ROUND_TOL, 0.0L, "TSH", k);
      }
      // The damping must follow the time factor: the same attenuation, so the
      // same modulus, for both signs.
      EXPECT_NEAR(std::abs(plus.u[0]), std::abs(minus.u[0]),
                  static_cast<double>(ROUND_TOL) * static_cast<double>(std::abs(minus.u[0])));
    }
  }
}

TEST(HASSH, ProjectionAngleNearNinetyWritesNothing) {
  const LayerTable tb = worked_model(10.0f);
  for (float angaz : {90.0f, -90.0f, 270.0f, 89.95f}) {
    ResponseArray u, t;
    u.fill(SENTINEL);
    t.fill(SENTINEL);
    float f = 0.0f;  // not even the zero-frequency replacement happens
    HASSH(tb, angaz, 0.0f, f, -1, 1, u, t);
    EXPECT_EQ(f, 0.0f) << angaz;
    for (int k = 0; k < MAX_ENTRIES; ++k) {
      EXPECT_EQ(u[k], SENTINEL) << angaz << " " << k;
      EXPECT_EQ(t[k], SENTINEL) << angaz << " " << k;
    }
  }
  // Just inside the gate (|cos| about 0.0017) the routine computes.
  const Result r = run(tb, 89.9f, 0.0f, 5.0f, -1, 0);
  EXPECT_NE(r.u[0], SENTINEL);
}

TEST(HASSH, ZeroFrequencyIsReplacedInCallersVariable) {
  const LayerTable tb = worked_model(10.0f);
  ResponseArray u0{}, t0{}, u1{}, t1{};
  float f = 0.0f;
  HASSH(tb, 0.0f, 20.0f, f, -1, 1, u0, t0);
  EXPECT_EQ(f, 1.0e-6f);
  float g = 1.0e-6f;
  HASSH(tb, 0.0f, 20.0f, g, -1, 1, u1, t1);
  EXPECT_EQ(u0, u1);
  EXPECT_EQ(t0, t1);
  // All phases are then tiny: the layer is transparent and u is 2 everywhere.
  EXPECT_NEAR(u0[0].real(), 2.0f, ROUND_TOL * 2);
  EXPECT_NEAR(u0[1].real(), 2.0f, ROUND_TOL * 2);
  EXPECT_TRUE(std::isfinite(t0[1].real()) && std::isfinite(t0[1].imag()));
}

TEST(HASSH, BareHalfSpaceWritesOnlyTheSurfaceEntry) {
  const LayerTable tb = make_table({}, 2.2f, 800.0f);
  for (float angaz : {0.0f, 60.0f}) {
    const float pi = 4.0f * std::atan(1.0f);
    const float cos_a = std::cos(pi * angaz / 180.0f);
    for (float f : {0.0f, 1.0f, 17.0f, 1000.0f}) {
      for (int iprof : {0, 1}) {
        const Result r = run(tb, angaz, 30.0f, f, -1, iprof);
        EXPECT_NEAR(r.u[0].real(), 2.0f * cos_a, ROUND_TOL * 2.0f);
        EXPECT_EQ(r.u[0].imag(), 0.0f);
        EXPECT_EQ(r.t[0], cfloat(0.0f, 0.0f));
        for (int k = 1; k < MAX_ENTRIES; ++k) {
          EXPECT_EQ(r.u[k], SENTINEL);
          EXPECT_EQ(r.t[k], SENTINEL);
        }
      }
    }
  }
}

TEST(HASSH, ProfileWritesExactlyEntriesUpToTheHalfSpace) {
  const LayerTable tb = make_table(
      {{10.0f, 1.8f, 200.0f, 10.0f}, {20.0f, 2.0f, 400.0f, 20.0f}, {5.0f, 2.1f, 500.0f, 25.0f}}, 2.2f,
      1000.0f);
  const Result surface = run(tb, 0.0f, 30.0f, 4.0f, -1, 0);
  const Result profile = run(tb, 0.0f, 30.0f, 4.0f, -1, 1);
  EXPECT_EQ(surface.u[0], profile.u[0]);
  for (int k = 1; k < MAX_ENTRIES; ++k) {
    EXPECT_EQ(surface.u[k], SENTINEL) << k;
    EXPECT_EQ(surface.t[k], SENTINEL) << k;
    EXPECT_EQ(profile.u[k] == SENTINEL, k > tb.NLAYER) << k;
    EXPECT_EQ(profile.t[k] == SENTINEL, k > tb.NLAYER) << k;
  }
}

// One damped layer over an elastic half-space, exp(-i w t). With the complex
// velocity V, mu = rho V^2 and nu the vertical wavenumber, the free surface
// makes the layer field u = U cos(nu z); matching u and stress to an up-going
// wave I and a reflected wave at z = H gives
//   U / I = 2 / (cos(nu H) - i a sin(nu H)),  a = mu nu / (muh kz),
// the classical formula with a complex impedance ratio. It is evaluated in long
// double for both damping laws.
TEST(HASSH, OneDampedLayerMatchesClosedForm) {
  const cld i(0.0L, 1.0L);
  for (int iqf : {1, 2}) {
    for (float qs : {3.0f, 10.0f, 50.0f}) {
      const LayerTable tb = make_table({{12.0f, 1.7f, 180.0f, qs}}, 2.1f, 750.0f, iqf);
      for (float angle : {0.0f, 20.0f, 45.0f}) {
        for (float f : {0.05f, 0.7f, 3.75f, 11.0f, 28.0f, 60.0f}) {
          const Rounded in = rounded_inputs(angle, f);
          const Medium m = layer_medium(tb, 0, in, f);
          const long double vh = 750.0L;
          const long double muh = static_cast<long double>(2.1f) * vh * vh;
          const long double kz = in.cos_t * in.omega / vh;
          const cld a = m.mu * m.nu / (muh * kz);
          const cld z = m.nu * static_cast<long double>(tb.THICK[0]);
          const cld u1 = 2.0L / (std::cos(z) - i * a * std::sin(z));
          const cld u2 = std::cos(z) * u1;
          const cld t2 = -m.mu * m.nu * std::sin(z) * u1;
          SCOPED_TRACE(testing::Message() << "IQF " << iqf << " QS " << qs << " ANGLE " << angle
                                          << " F " << f);
          const Result r = run(tb, 0.0f, angle, f, -1, 1);
          expect_close(r.u[0], u1, ROUND_TOL, 0.0L, "USH", 0);
          expect_close(r.u[1], u2, ROUND_TOL, 0.0L, "USH", 1);
          expect_close(r.t[1], t2, ROUND_TOL, 0.0L, "TSH", 1);
        }
      }
    }
  }
}

struct StackCase {
  const char* name;
  std::vector<Layer> layers;
  float rho_h, vs_h;
};

void PrintTo(const StackCase& c, std::ostream* os) { *os << c.name; }

class HASSHStack : public testing::TestWithParam<StackCase> {};

// Every interface value, displacement and stress, against the wave-amplitude
// reference in long double.
TEST_P(HASSHStack, MatchesWaveAmplitudeReference) {
  const StackCase& c = GetParam();
  for (int iqf : {1, 2}) {
    LayerTable tb = make_table(c.layers, c.rho_h, c.vs_h, iqf);
    for (float angle : {0.0f, 25.0f, 60.0f}) {
      for (float f : {0.2f, 1.0f, 3.3f, 9.0f, 24.0f}) {
        SCOPED_TRACE(testing::Message() << "IQF " << iqf << " ANGLE " << angle << " F " << f);
        const Profile ref = wave_reference(tb, angle, f);
        const Result r = run(tb, 0.0f, angle, f, -1, 1);
        for (int k = 0; k <= tb.NLAYER; ++k) {
          expect_close(r.u[k], ref.u[k], ROUND_TOL, SUBNORMAL_TOL, "USH", k);
          expect_close(r.t[k], ref.t[k], ROUND_TOL, SUBNORMAL_TOL, "TSH", k);
        }
      }
    }
  }
}

std::vector<Layer> graded_stack(int n) {
  std::vector<Layer> layers;
  for (int k = 0; k < n; ++k) {
    const float x = static_cast<float>(k);
    layers.push_back({2.0f + 0.5f * x, 1.6f + 0.01f * x, 150.0f + 12.0f * x + 40.0f * static_cast<float>(k % 3),
                      5.0f + 2.0f * x});
  }
  return layers;
}

// Alternating layers of wildly different impedance: the layer-matrix product
// grows by about 3e16 per pair, to 1e330, past the double range even without
// damping, so the mantissa rescaling must take part.
std::vector<Layer> contrast_stack() {
  std::vector<Layer> layers;
  for (int k = 0; k < 40; ++k) {
    layers.push_back(k % 2 == 0 ? Layer{1.0f, 1.0e-8f, 100.0f, 20.0f} : Layer{1.0f, 1.0e8f, 300.0f, 20.0f});
  }
  return layers;
}

INSTANTIATE_TEST_SUITE_P(
    Models, HASSHStack,
    testing::Values(StackCase{"TwoLayers", {{10.0f, 1.8f, 200.0f, 10.0f}, {20.0f, 2.0f, 400.0f, 20.0f}}, 2.2f,
                              1000.0f},
                    StackCase{"VelocityInversion",
                              {{8.0f, 2.0f, 450.0f, 30.0f}, {15.0f, 1.7f, 160.0f, 4.0f}, {30.0f, 2.1f, 600.0f, 40.0f}},
                              2.4f, 1500.0f},
                    StackCase{"FortyNineLayers", graded_stack(49), 2.5f, 2000.0f},
                    StackCase{"ImpedanceContrasts", contrast_stack(), 2.0f, 3000.0f}),
    [](const testing::TestParamInfo<StackCase>& info) { return info.param.name; });

// The profile is the layer-matrix product applied to the stored surface state
// (USH(1), 0): layer matrices formed directly in long double from the
// propagator formulas, multiplied interface by interface.
TEST(HASSH, ProfileIsLayerProductAppliedToSurfaceState) {
  const LayerTable tb = make_table(graded_stack(12), 2.3f, 1400.0f);
  for (float angle : {0.0f, 40.0f}) {
    for (float f : {0.5f, 6.0f, 21.0f}) {
      const Result r = run(tb, 0.0f, angle, f, -1, 1);
      const Rounded in = rounded_inputs(angle, f);
      cld m11 = 1.0L, m12 = 0.0L, m21 = 0.0L, m22 = 1.0L;
      for (int n = 0; n < tb.NLAYER; ++n) {
        const Medium m = layer_medium(tb, n, in, f);
        const cld z = m.nu * static_cast<long double>(tb.THICK[n]);
        const cld a11 = std::cos(z), a12 = std::sin(z) / (m.mu * m.nu), a21 = -m.mu * m.nu * std::sin(z);
        const cld n11 = a11 * m11 + a12 * m21, n12 = a11 * m12 + a12 * m22;
        const cld n21 = a21 * m11 + a11 * m21, n22 = a21 * m12 + a11 * m22;
        m11 = n11, m12 = n12, m21 = n21, m22 = n22;
        const cld u0 = to_ld(r.u[0]);
        SCOPED_TRACE(testing::Message() << "ANGLE " << angle << " F " << f);
        expect_close(r.u[n + 1], m11 * u0, ROUND_TOL, 0.0L, "USH", n + 1);
        expect_close(r.t[n + 1], m21 * u0, ROUND_TOL, 0.0L, "TSH", n + 1);
      }
    }
  }
}

TEST(HASSH, FrequencyProportionalQualityFactor) {
  // Resonance of the layer at VS/(4H) = 0.5: below 1 Hz the law Q*F damps more.
  const std::vector<Layer> slow{{100.0f, 1.8f, 200.0f, 8.0f}};
  const LayerTable q1 = make_table(slow, 2.2f, 800.0f, 1);
  const LayerTable q2 = make_table(slow, 2.2f, 800.0f, 2);
  const Result at_one_1 = run(q1, 0.0f, 10.0f, 1.0f, -1, 1);
  const Result at_one_2 = run(q2, 0.0f, 10.0f, 1.0f, -1, 1);
  EXPECT_EQ(at_one_1.u, at_one_2.u);
  EXPECT_EQ(at_one_1.t, at_one_2.t);
  EXPECT_LT(std::abs(run(q2, 0.0f, 0.0f, 0.5f, -1, 0).u[0]), std::abs(run(q1, 0.0f, 0.0f, 0.5f, -1, 0).u[0]));
  // The worked layer resonates at 5: there Q*F damps less.
  LayerTable w1 = worked_model(8.0f), w2 = worked_model(8.0f);
  w2.IQF = 2;
  EXPECT_GT(std::abs(run(w2, 0.0f, 0.0f, 5.0f, -1, 0).u[0]), std::abs(run(w1, 0.0f, 0.0f, 5.0f, -1, 0).u[0]));
}

// A thick, soft, strongly damped layer: the matrices reach e^{|Im nu H|} with
// |Im nu H| up to 12566 (F = 200, H = 1000), past the float range at 88 and the
// double range at 709. Written with e = e^{2 i nu H} (|e| tiny), the one-layer
// closed form above becomes overflow-free:
//   USH(1) = 4 e^{i nu H} / D,  USH(2) = 2 (e + 1) / D,
//   TSH(2) = 2 i mu nu (e - 1) / D,  D = (1 + a) + (1 - a) e.
TEST(HASSH, ThickDampedLayerStaysFiniteAndInterfaceIsRight) {
  const cld i(0.0L, 1.0L);
  for (float thick : {300.0f, 1000.0f}) {
    const LayerTable tb = make_table({{thick, 1.8f, 100.0f, 5.0f}}, 2.2f, 800.0f);
    for (float f = 1.0f; f <= 200.0f; f += 7.0f) {
      for (float angle : {0.0f, 30.0f}) {
        const Rounded in = rounded_inputs(angle, f);
        const Medium m = layer_medium(tb, 0, in, f);
        const long double muh = static_cast<long double>(2.2f) * 800.0L * 800.0L;
        const cld a = m.mu * m.nu / (muh * in.cos_t * in.omega / 800.0L);
        const cld iz = i * m.nu * static_cast<long double>(thick);
        const cld e = std::exp(2.0L * iz);
        const cld D = (1.0L + a) + (1.0L - a) * e;
        SCOPED_TRACE(testing::Message() << "THICK " << thick << " ANGLE " << angle << " F " << f);
        const Result r = run(tb, 0.0f, angle, f, -1, 1);
        for (int k = 0; k < 2; ++k) {
          ASSERT_TRUE(std::isfinite(r.u[k].real()) && std::isfinite(r.u[k].imag()));
          ASSERT_TRUE(std::isfinite(r.t[k].real()) && std::isfinite(r.t[k].imag()));
        }
        expect_close(r.u[0], 4.0L * std::exp(iz) / D, ROUND_TOL, SUBNORMAL_TOL, "USH", 0);
        expect_close(r.u[1], 2.0L * (e + 1.0L) / D, ROUND_TOL, 0.0L, "USH", 1);
        expect_close(r.t[1], 2.0L * i * m.mu * m.nu * (e - 1.0L) / D, ROUND_TOL, 0.0L, "TSH", 1);
      }
    }
  }
  // The case that breaks a profile started from the stored surface value: the
  // surface value is subnormal, the base of the layer near 1.8.
  const Result r = run(make_table({{300.0f, 1.8f, 100.0f, 5.0f}}, 2.2f, 800.0f), 0.0f, 0.0f, 50.0f, -1, 1);
  EXPECT_GT(std::abs(r.u[0]), 1.0e-41f);
  EXPECT_LT(std::abs(r.u[0]), 1.0e-40f);
  EXPECT_NEAR(std::abs(r.u[1]), 1.816f, PRINTED_TOL);
}

// nu = 0 exactly: at ANGLE 90 the float sine is exactly 1, so an undamped layer
// (QS infinite) with the half-space velocity has ks = kx. Its matrix is then
// [1, H/mu; 0, 1]. Put it below a damped layer so that its A(1,2) enters the
// surface value as well as the profile.
TEST(HASSH, ZeroVerticalWavenumberUsesTheLimit) {
  const float inf = std::numeric_limits<float>::infinity();
  const LayerTable tb = make_table({{10.0f, 1.8f, 200.0f, 10.0f}, {15.0f, 2.0f, 800.0f, inf}}, 2.2f, 800.0f);
  const cld i(0.0L, 1.0L);
  for (float f : {0.5f, 4.0f, 13.0f}) {
    const Rounded in = rounded_inputs(90.0f, f);
    ASSERT_EQ(in.sin_t, 1.0L);
    const Medium top = layer_medium(tb, 0, in, f);
    const cld z = top.nu * 10.0L;
    const cld c1 = std::cos(z), s1 = -top.mu * top.nu * std::sin(z);  // (u, t) below layer 1
    const long double mu2 = static_cast<long double>(2.0f) * 800.0L * 800.0L;
    const cld cu = c1 + 15.0L / mu2 * s1;  // below layer 2
    const long double muh = static_cast<long double>(2.2f) * 800.0L * 800.0L;
    const long double kz = in.cos_t * in.omega / 800.0L;
    const cld u0 = 2.0L / (cu + i * s1 / (muh * kz));
    SCOPED_TRACE(testing::Message() << "F " << f);
    const Result r = run(tb, 0.0f, 90.0f, f, -1, 1);
    expect_close(r.u[0], u0, ROUND_TOL, 0.0L, "USH", 0);
    expect_close(r.u[1], c1 * u0, ROUND_TOL, 0.0L, "USH", 1);
    expect_close(r.u[2], cu * u0, ROUND_TOL, 0.0L, "USH", 2);
    expect_close(r.t[2], s1 * u0, ROUND_TOL, 0.0L, "TSH", 2);
  }
}

// Any valid model, however thick, soft or damped its layers and however high
// the frequency, gives finite values at every interface.
TEST(HASSH, ValidModelsGiveFiniteResponses) {
  std::mt19937 gen(20240607);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  // Log-uniform draw over [lo, hi].
  const auto draw = [&](float lo, float hi) { return lo * std::pow(hi / lo, unit(gen)); };
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<Layer> layers(static_cast<std::size_t>(gen() % 50));
    for (Layer& l : layers) l = {draw(0.1f, 2000.0f), draw(1.0f, 3.0f), draw(30.0f, 3000.0f), draw(1.0f, 1.0e4f)};
    const LayerTable tb = make_table(layers, draw(1.0f, 3.0f), draw(100.0f, 5000.0f), 1 + static_cast<int>(gen() % 2));
    const float angle = 85.0f * unit(gen);
    const float f = draw(1.0e-3f, 500.0f);
    const int isgnt = gen() % 2 == 0 ? -1 : 1;
    const Result r = run(tb, 0.0f, angle, f, isgnt, 1);
    for (int k = 0; k <= tb.NLAYER; ++k) {
      ASSERT_TRUE(std::isfinite(r.u[k].real()) && std::isfinite(r.u[k].imag()) &&
                  std::isfinite(r.t[k].real()) && std::isfinite(r.t[k].imag()))
          << "trial " << trial << " entry " << k << " F " << f << " ANGLE " << angle;
    }
  }
}

}  // namespace
}  // namespace velmar::console
