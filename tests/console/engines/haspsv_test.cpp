// HASPSV: closed forms and worked values of the P-SV response, the depth
// profile against a long-double propagator product, the stable surface solve
// against the long-double global-matrix reference, and finiteness on extreme
// soils.
#include "console/engines/haspsv.hpp"

#include "layers/psv_reference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

namespace velmar::console {
namespace {

using reference::LayerEntry;
using namespace reference::models;
using ld = long double;
using cld = std::complex<long double>;

constexpr float EPS_F = std::numeric_limits<float>::epsilon();
constexpr ld FLT_MIN_NORMAL = std::numeric_limits<float>::min();

// Values quoted to four decimals are checked to half a unit of the last
// quoted digit; those quoted to two decimals likewise.
constexpr double QUOTED_4_DECIMALS = 0.5e-4;
constexpr double QUOTED_2_DECIMALS = 0.5e-2;

// Short computations (a bare half-space: a handful of products and one
// quotient, then one rounding to float) agree with the exact value to a few
// float rounding units of the result's size; 8 leaves room for the rounding
// of the float inputs (sin of a float angle, 4*atan(1) in float).
constexpr double SHORT_TOL = 8.0 * EPS_F;

// Through a stack, the phases w h / v of the float inputs carry one float
// rounding each, and a resonance magnifies that by its quality; 64 units,
// relative to the largest value compared, is a margin over the 10-20 observed
// on the benign models here.
constexpr double STACK_TOL = 64.0 * EPS_F;

LayerTable bare() { return reference::make_table(BARE); }

struct Out {
  ResponseArray u{};
  ResponseArray w{};
};

Out run(const LayerTable& t, int itype, float angle, float f, float angaz = 90.0f, int iprof = 1) {
  Out o;
  HASPSV(t, itype, angaz, angle, f, iprof, o.u, o.w);
  return o;
}

double cabs(cfloat z) { return std::abs(std::complex<double>(z.real(), z.imag())); }
double cdist(cfloat a, cld b) {
  return double(std::abs(cld(a.real(), a.imag()) - b));
}

// --- closed forms and worked values ----------------------------------------

TEST(HASPSV, BareHalfSpaceWorkedValuesAtEveryFrequency) {
  struct Case {
    int itype;
    float angle;
    std::complex<double> u;
    std::complex<double> w;
    double tol;
  };
  const Case cases[] = {
      {1, 0.0f, {0.0, 0.0}, {-2.0, 0.0}, 2.0 * SHORT_TOL},
      {2, 0.0f, {2.0, 0.0}, {0.0, 0.0}, 2.0 * SHORT_TOL},
      {1, 20.0f, {0.6733, 0.0}, {-1.8812, 0.0}, QUOTED_4_DECIMALS},
      {2, 20.0f, {1.9268, 0.0}, {0.6275, 0.0}, QUOTED_4_DECIMALS},
      // Beyond the critical angle (30 degrees): complex; the conjugates would
      // mean the square root took the wrong branch at a negative zero.
      {2, 40.0f, {0.0306, -0.5184}, {1.5503, 0.0914}, QUOTED_4_DECIMALS},
  };
  const LayerTable t = bare();
  for (const Case& c : cases) {
    for (float f : {0.01f, 1.0f, 7.5f, 120.0f}) {
      SCOPED_TRACE(testing::Message() << "ITYPE " << c.itype << " angle " << c.angle << " f " << f);
      const Out o = run(t, c.itype, c.angle, f, 90.0f, 1);
      EXPECT_NEAR(o.u[0].real(), c.u.real(), c.tol);
      EXPECT_NEAR(o.u[0].imag(), c.u.imag(), c.tol);
      EXPECT_NEAR(o.w[0].real(), c.w.real(), c.tol);
      EXPECT_NEAR(o.w[0].imag(), c.w.imag(), c.tol);
    }
  }
}

TEST(HASPSV, ProjectionAngleScalesOrSkips) {
  const LayerTable t = bare();
  const Out half = run(t, 2, 0.0f, 2.0f, 30.0f);
  EXPECT_NEAR(half.u[0].real(), 1.0, SHORT_TOL);
  EXPECT_NEAR(half.w[0].real(), 0.0, SHORT_TOL);
  const LayerTable one = reference::make_table(QUARTER_WAVE);
  const Out full = run(one, 1, 20.0f, 3.0f, 90.0f);
  const Out thirty = run(one, 1, 20.0f, 3.0f, 30.0f);
  for (int j = 0; j <= 1; ++j) {
    EXPECT_NEAR(thirty.u[j].real(), 0.5 * full.u[j].real(), SHORT_TOL * cabs(full.u[j]));
    EXPECT_NEAR(thirty.w[j].imag(), 0.5 * full.w[j].imag(), SHORT_TOL * cabs(full.w[j]));
  }
  // sin(0) and sin(180 degrees) are below the gate: nothing written, F kept.
  for (float angaz : {0.0f, 180.0f, -180.0f}) {
    ResponseArray u;
    ResponseArray w;
    u.fill({7.0f, -7.0f});
    w.fill({-3.0f, 3.0f});
    float f = 0.0f;
    HASPSV(one, 1, angaz, 20.0f, f, 1, u, w);
    EXPECT_EQ(f, 0.0f);
    for (int j = 0; j < MAX_ENTRIES; ++j) {
      EXPECT_EQ(u[j], cfloat(7.0f, -7.0f));
      EXPECT_EQ(w[j], cfloat(-3.0f, 3.0f));
    }
  }
}

TEST(HASPSV, ZeroFrequencyIsReplacedInCallersVariable) {
  const LayerTable t = reference::make_table(QUARTER_WAVE);
  float f = 0.0f;
  ResponseArray u{};
  ResponseArray w{};
  HASPSV(t, 2, 90.0f, 0.0f, f, 1, u, w);
  EXPECT_EQ(f, 1.0e-6f);
  EXPECT_NEAR(u[0].real(), 2.0, SHORT_TOL * 2);
  const Out direct = run(t, 2, 0.0f, 1.0e-6f);
  EXPECT_EQ(u[0], direct.u[0]);
  EXPECT_EQ(u[1], direct.u[1]);
}

TEST(HASPSV, QuarterWaveResonanceHasImpedanceRatioAndNodeAtInterface) {
  const LayerTable t = reference::make_table(QUARTER_WAVE);
  const double ratio = 2.0 * (2.2 * 800.0) / (1.8 * 200.0);
  const double ratio_p = 2.0 * (2.2 * 1600.0) / (1.8 * 400.0);
  const Out sv = run(t, 2, 0.0f, 5.0f);
  EXPECT_NEAR(cabs(sv.u[0]), ratio, ratio * STACK_TOL);
  EXPECT_LT(cabs(sv.u[1]), ratio * STACK_TOL);
  EXPECT_EQ(cabs(sv.w[0]), 0.0);
  EXPECT_EQ(cabs(sv.w[1]), 0.0);
  const Out p = run(t, 1, 0.0f, 10.0f);
  EXPECT_NEAR(cabs(p.w[0]), ratio_p, ratio_p * STACK_TOL);
  EXPECT_LT(cabs(p.w[1]), ratio_p * STACK_TOL);
  EXPECT_EQ(cabs(p.u[0]), 0.0);
  EXPECT_EQ(cabs(p.u[1]), 0.0);
}

TEST(HASPSV, FrequencyProportionalQualityEqualsConstantQualityTimesF) {
  LayerTable t = reference::make_table(SOFT_PROFILE, 2);
  LayerTable c = t;
  c.IQF = 1;
  const Out at1 = run(t, 1, 25.0f, 1.0f);
  const Out ref1 = run(c, 1, 25.0f, 1.0f);
  for (int j = 0; j <= t.NLAYER; ++j) {
    EXPECT_EQ(at1.u[j], ref1.u[j]);
    EXPECT_EQ(at1.w[j], ref1.w[j]);
  }
  // At F the law IQF = 2 is the constant law with Q * F: less damping above
  // 1, more below.
  for (float f : {0.25f, 4.0f}) {
    LayerTable scaled = c;
    for (int j = 0; j < t.NLAYER; ++j) {
      scaled.QS[j] = t.QS[j] * f;
      scaled.QP[j] = t.QP[j] * f;
    }
    const Out a = run(t, 1, 25.0f, f);
    const Out b = run(scaled, 1, 25.0f, f);
    const Out d = run(c, 1, 25.0f, f);
    const double scale = std::max(cabs(b.u[0]), cabs(b.w[0]));
    EXPECT_LT(std::abs(std::complex<double>(a.w[0] - b.w[0])), STACK_TOL * scale);
    EXPECT_GT(std::abs(std::complex<double>(a.w[0] - d.w[0])), STACK_TOL * scale);
  }
}

TEST(HASPSV, FrequencyProportionalQualityRaisesPeaksAboveOneAndLowersThemBelow) {
  // Quarter-wave S resonance at 5 Hz (10 m) and at 0.5 Hz (100 m), QS = 10.
  for (const float thick : {10.0f, 100.0f}) {
    const std::array<LayerEntry, 2> layer = {{{thick, 1.8f, 200.0f, 10.0f, 400.0f, 10.0f},
                                             {0.0f, 2.2f, 800.0f, 0.0f, 1600.0f, 0.0f}}};
    const float f0 = 200.0f / (4.0f * thick);
    const Out q1 = run(reference::make_table(layer, 1), 2, 0.0f, f0);
    const Out q2 = run(reference::make_table(layer, 2), 2, 0.0f, f0);
    if (f0 > 1.0f) {
      EXPECT_GT(cabs(q2.u[0]), cabs(q1.u[0]) * (1.0 + STACK_TOL)) << f0;
    } else {
      EXPECT_LT(cabs(q2.u[0]), cabs(q1.u[0]) * (1.0 - STACK_TOL)) << f0;
    }
  }
}

TEST(HASPSV, SurfaceOnlyLeavesDeeperEntriesAndBareHalfSpaceWritesNoProfile) {
  const LayerTable t = reference::make_table(SOFT_PROFILE);
  ResponseArray u;
  ResponseArray w;
  u.fill({5.0f, 5.0f});
  w.fill({6.0f, 6.0f});
  float f = 3.0f;
  HASPSV(t, 1, 90.0f, 10.0f, f, 0, u, w);
  const Out full = run(t, 1, 10.0f, 3.0f);
  EXPECT_EQ(u[0], full.u[0]);
  EXPECT_EQ(w[0], full.w[0]);
  for (int j = 1; j < MAX_ENTRIES; ++j) {
    EXPECT_EQ(u[j], cfloat(5.0f, 5.0f));
    EXPECT_EQ(w[j], cfloat(6.0f, 6.0f));
  }
  const LayerTable b = bare();
  HASPSV(b, 2, 90.0f, 10.0f, f, 1, u, w);
  for (int j = 1; j < MAX_ENTRIES; ++j) {
    EXPECT_EQ(u[j], cfloat(5.0f, 5.0f));
    EXPECT_EQ(w[j], cfloat(6.0f, 6.0f));
  }
}

// --- depth profile against a long-double product of layer matrices --------

// The layer matrix written with cosh and sinh of the full exponent, in long
// double, from the same physical quantities.
std::array<cld, 16> ld_layer_matrix(const LayerTable& t, int m, cld k, ld omega, ld f) {
  const ld qs = t.IQF == 2 ? ld(t.QS[m]) * f : ld(t.QS[m]);
  const ld qp = t.IQF == 2 ? ld(t.QP[m]) * f : ld(t.QP[m]);
  const cld beta = ld(t.VSC[m].real()) / cld(1.0L, 0.5L / qs);
  const cld alpha = ld(t.VPC[m].real()) / cld(1.0L, 0.5L / qp);
  const ld rho = t.RHO[m];
  const ld h = t.THICK[m];
  const cld mu = rho * beta * beta;
  const cld k2 = k * k;
  cld na = std::sqrt(k2 - omega * omega / (alpha * alpha));
  cld nb = std::sqrt(k2 - omega * omega / (beta * beta));
  const cld g = nb * nb + k2;
  const ld c0 = 1.0L / (omega * omega * rho);
  const cld c1 = mu * c0;
  const cld Ca = std::cosh(na * h) - 1.0L;
  const cld Cb = std::cosh(nb * h) - 1.0L;
  const cld Ha = std::sinh(na * h);
  const cld Hb = std::sinh(nb * h);
  const cld a14 = k * c0 * (Ca - Cb);
  std::array<cld, 16> A;
  A[0] = 1.0L + c1 * (2.0L * k2 * Ca - g * Cb);
  A[1] = c1 * k * (g * Ha / na - 2.0L * nb * Hb);
  A[2] = c0 * (k2 * Ha / na - nb * Hb);
  A[3] = a14;
  A[4] = c1 * k * (g * Hb / nb - 2.0L * na * Ha);
  A[5] = 1.0L + c1 * (2.0L * k2 * Cb - g * Ca);
  A[6] = -a14;
  A[7] = c0 * (k2 * Hb / nb - na * Ha);
  A[8] = c1 * mu * (4.0L * k2 * na * Ha - g * g * Hb / nb);
  A[9] = 2.0L * mu * mu * g * a14;
  A[10] = A[0];
  A[11] = -A[4];
  A[12] = -A[9];
  A[13] = c1 * mu * (4.0L * k2 * nb * Hb - g * g * Ha / na);
  A[14] = -A[1];
  A[15] = A[5];
  return A;
}

TEST(HASPSV, ProfileIsProductMatrixAppliedToSurfaceVector) {
  const LayerTable t = reference::make_table(SOFT_PROFILE);
  {
    for (int itype : {1, 2}) {
      const float angle = 25.0f;
      const float f = 2.5f;
      const Out o = run(t, itype, angle, f);
      const ld pi = 4.0L * std::atan(1.0L);
      const ld omega = 2.0L * pi * ld(f);
      const ld vh = itype == 1 ? t.VPC[t.NLAYER].real() : t.VSC[t.NLAYER].real();
      const cld k = omega * std::sin(pi * ld(angle) / 180.0L) / vh;
      std::array<cld, 4> W = {cld(o.u[0].real(), o.u[0].imag()),
                              cld(o.w[0].real(), o.w[0].imag()) / cld(0.0L, 1.0L), 0.0L, 0.0L};
      for (int m = 0; m < t.NLAYER; ++m) {
        const std::array<cld, 16> A = ld_layer_matrix(t, m, k, omega, f);
        std::array<cld, 4> next{};
        for (int r = 0; r < 4; ++r) {
          for (int c = 0; c < 4; ++c) next[r] += A[4 * r + c] * W[c];
        }
        W = next;
        const double scale = double(std::max(std::abs(W[0]), std::abs(W[1])));
        SCOPED_TRACE(testing::Message() << "ITYPE " << itype << " interface " << m + 1);
        EXPECT_LT(cdist(o.u[m + 1], W[0]) / scale, STACK_TOL);
        EXPECT_LT(cdist(o.w[m + 1], cld(0.0L, 1.0L) * W[1]) / scale, STACK_TOL);
      }
    }
  }
}

// The literal solve in long double: the two zero-traction surface states
// carried down by the long-double layer matrices, split into the half-space's
// waves, and the combination whose up-going waves are the incident one alone
// (Cramer's rule). The inputs are HASPSV's own: the angular frequency and the
// sine and cosine rounded to float as it forms them, and its float half-space
// root. Returns the surface (u, w).
std::array<cld, 2> ld_literal_surface(const LayerTable& t, int itype, float angle, float f) {
  const float pi_f = 4.0f * std::atan(1.0f);
  const float theta = pi_f * angle / 180.0f;
  const ld omega = ld(f * 2.0f * pi_f);
  const ld sin_t = std::sin(theta);
  const ld cos_t = std::cos(theta);
  const int N = t.NLAYER;
  const ld v_inc = itype == 1 ? t.VPC[N].real() : t.VSC[N].real();
  const ld v_other = itype == 1 ? t.VSC[N].real() : t.VPC[N].real();
  const cld k = omega * sin_t / v_inc;
  // Columns: the states (u, w/i, shear traction, normal traction / i).
  std::array<std::array<cld, 2>, 4> Y{};
  Y[0][0] = 1.0L;
  Y[1][1] = 1.0L;
  for (int m = 0; m < N; ++m) {
    const std::array<cld, 16> A = ld_layer_matrix(t, m, k, omega, ld(f));
    std::array<std::array<cld, 2>, 4> next{};
    for (int r = 0; r < 4; ++r) {
      for (int c = 0; c < 2; ++c) {
        for (int q = 0; q < 4; ++q) next[r][c] += A[4 * r + q] * Y[q][c];
      }
    }
    Y = next;
  }
  reference::Medium hs = reference::make_medium(t, N, k, omega, ld(f), true);
  const cld i_unit(0.0L, 1.0L);
  const cld nu_inc = -i_unit * omega * cos_t / v_inc;
  const cld nu_other = -i_unit * omega * ld(psv_halfspace_root(t, itype, angle)) / v_other;
  hs.nu_a = itype == 1 ? nu_inc : nu_other;
  hs.nu_b = itype == 1 ? nu_other : nu_inc;
  // Half-space wave basis (P down, S down, P up, S up) as columns, inverted
  // by Gauss-Jordan elimination with partial pivoting.
  std::array<std::array<cld, 8>, 4> g{};
  for (int c = 0; c < 4; ++c) {
    const reference::PsvVector w = reference::psv_wave(hs, k, c % 2 == 0, c >= 2);
    for (int r = 0; r < 4; ++r) g[r][c] = w[r];
    g[c][4 + c] = 1.0L;
  }
  for (int c = 0; c < 4; ++c) {
    int piv = c;
    for (int r = c + 1; r < 4; ++r) {
      if (std::abs(g[r][c]) > std::abs(g[piv][c])) piv = r;
    }
    std::swap(g[piv], g[c]);
    const cld p = g[c][c];
    for (cld& x : g[c]) x /= p;
    for (int r = 0; r < 4; ++r) {
      if (r == c) continue;
      const cld mult = g[r][c];
      for (int q = 0; q < 8; ++q) g[r][q] -= mult * g[c][q];
    }
  }
  // Up-going amplitudes of each carried state (w and the normal traction
  // turned back from their /i form).
  cld up[2][2];
  for (int c = 0; c < 2; ++c) {
    const std::array<cld, 4> state = {Y[0][c], i_unit * Y[1][c], Y[2][c], i_unit * Y[3][c]};
    for (int r = 0; r < 2; ++r) {
      up[r][c] = 0.0L;
      for (int q = 0; q < 4; ++q) up[r][c] += g[2 + r][4 + q] * state[q];
    }
  }
  // The incident wave is -i times the up-going basis wave of its type.
  const cld tp = itype == 1 ? -i_unit : cld(0.0L);
  const cld ts = itype == 1 ? cld(0.0L) : -i_unit;
  const cld det = up[0][0] * up[1][1] - up[0][1] * up[1][0];
  const cld a0 = (tp * up[1][1] - ts * up[0][1]) / det;
  const cld a1 = (ts * up[0][0] - tp * up[1][0]) / det;
  return {a0, i_unit * a1};
}

// Where nothing grows much the literal solve is accurate, and the stable
// solve (the only one HASPSV has) must give the same float results: both are
// exact to far below float rounding there, so they differ by the final
// rounding to float, at most one rounding unit of the larger component.
TEST(HASPSV, StableSolveReproducesLiteralSolveWhereThatIsAccurate) {
  const LayerTable models[] = {reference::make_table(SOFT_PROFILE), reference::make_table(DEEP_BASIN, 2),
                               reference::make_table(QUARTER_WAVE)};
  for (const LayerTable& t : models) {
    for (int itype : {1, 2}) {
      for (float f : {0.05f, 0.3f, 1.0f, 2.0f}) {
        const Out b = run(t, itype, 25.0f, f);
        const std::array<cld, 2> a = ld_literal_surface(t, itype, 25.0f, f);
        const double scale = double(std::max(std::abs(a[0]), std::abs(a[1])));
        EXPECT_LE(cdist(b.u[0], a[0]), 2.0 * EPS_F * scale) << "ITYPE " << itype << " f " << f;
        EXPECT_LE(cdist(b.w[0], a[1]), 2.0 * EPS_F * scale) << "ITYPE " << itype << " f " << f;
      }
    }
  }
}

// --- the stable solve against the global-matrix reference ------------------

struct RefCase {
  const char* name;
  LayerTable table;
};

// 1 km and 3 km of soil with Q of 2 and 1 for S: exp(Re h nu_b) reaches
// e^12000 at 100 Hz, far beyond the double range, and the P exponent is a
// hundred times smaller.
constexpr std::array<LayerEntry, 4> EXTREME = {{
    {1000.0f, 1.8f, 100.0f, 2.0f, 1700.0f, 100.0f},
    {3000.0f, 1.9f, 60.0f, 1.0f, 1500.0f, 30.0f},
    {5.0f, 2.0f, 300.0f, 10.0f, 1800.0f, 50.0f},
    {0.0f, 2.4f, 1500.0f, 0.0f, 3000.0f, 0.0f},
}};

// Compares every entry of HASPSV's surface and profile with the reference.
// Float inputs move each phase by up to one rounding unit, so the response
// can be resolved only to its change over the neighbouring float frequencies
// and angles (sens); on top of that the result is rounded to float relative
// to the size of the waves that make it up. 16 such units is the margin; the
// observed worst is under 2. Returns the worst error in these units over the
// entries above the float underflow threshold.
ld expect_matches_reference(const LayerTable& t, int itype, float angle, float f, const char* name) {
  const Out o = run(t, itype, angle, f);
  const reference::PsvResponse r = reference::psv_response(t, itype, angle, f);
  const ld e = EPS_F;
  const reference::PsvResponse nb[4] = {reference::psv_response(t, itype, angle, f * (1.0L - e)),
                                        reference::psv_response(t, itype, angle, f * (1.0L + e)),
                                        reference::psv_response(t, itype, angle * (1.0L - e), f),
                                        reference::psv_response(t, itype, angle * (1.0L + e), f)};
  ld worst = 0.0L;
  for (int j = 0; j <= t.NLAYER; ++j) {
    ld sens = 0.0L;
    for (const reference::PsvResponse& x : nb) {
      sens = std::max({sens, std::abs(x.u[j] - r.u[j]), std::abs(x.w[j] - r.w[j])});
    }
    const ld unit = r.size[j] * e + sens;
    // A result below the float range rounds to zero.
    const ld tol = 16.0L * unit + std::numeric_limits<float>::denorm_min();
    const ld err = std::max(std::abs(cld(o.u[j].real(), o.u[j].imag()) - r.u[j]),
                            std::abs(cld(o.w[j].real(), o.w[j].imag()) - r.w[j]));
    if (std::abs(r.u[j]) > FLT_MIN_NORMAL && std::abs(r.w[j]) > FLT_MIN_NORMAL) {
      worst = std::max(worst, err / unit);
    }
    EXPECT_LT(double(err), double(tol))
        << name << " ITYPE " << itype << " angle " << angle << " f " << f << " entry " << j;
  }
  return worst;
}

TEST(HASPSV, AgreesWithReferenceOnSoftThickDampedSoils) {
  const RefCase models[] = {{"bare", bare()},
                            {"soft basin", reference::make_table(SOFT_BASIN)},
                            {"soft profile", reference::make_table(SOFT_PROFILE)},
                            {"deep basin", reference::make_table(DEEP_BASIN)},
                            {"deep basin IQF 2", reference::make_table(DEEP_BASIN, 2)},
                            {"quarter wave", reference::make_table(QUARTER_WAVE)},
                            {"extreme", reference::make_table(EXTREME)}};
  ld worst = 0.0L;
  for (const RefCase& mc : models) {
    for (int itype : {1, 2}) {
      for (float angle : {0.0f, 3.0f, 20.0f, 35.0f, 70.0f}) {
        for (float f : {0.3f, 2.0f, 9.0f, 20.0f, 25.0f, 30.0f, 60.0f, 100.0f}) {
          worst = std::max(worst, expect_matches_reference(mc.table, itype, angle, f, mc.name));
        }
      }
    }
  }
  RecordProperty("worst_error_in_rounding_units", std::to_string(double(worst)));
}

// Random valid models: 1 to 49 layers up to 3 km thick, VS 50 to 1550 with
// QS down to 0.5, VP 1.5 to 16.5 times VS, both damping laws, P and SV at 0
// to 80 degrees, 0.05 to 100 Hz.
TEST(HASPSV, AgreesWithReferenceOnRandomValidModels) {
  std::mt19937 gen(20261208);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  auto uf = [&](double lo, double span) { return float(lo + span * U(gen)); };
  int checked = 0;
  ld worst = 0.0L;
  for (int trial = 0; trial < 200; ++trial) {
    const int n = 1 + int(48.0 * U(gen));
    std::vector<LayerEntry> entries(n + 1);
    for (LayerEntry& x : entries) {
      const double thick_share = U(gen);
      x.thick = float(1.0 + 3000.0 * thick_share * thick_share);
      x.rho = uf(1.5, 1.0);
      x.vs = uf(50.0, 1500.0);
      x.qs = uf(0.5, 60.0);
      x.vp = x.vs * uf(1.5, 15.0);
      x.qp = uf(5.0, 200.0);
    }
    entries[n].vs = std::max(entries[n].vs, 800.0f);
    entries[n].vp = std::max(entries[n].vp, 1.7f * entries[n].vs);
    const LayerTable t = reference::make_table(entries, U(gen) < 0.3 ? 2 : 1);
    const int itype = U(gen) < 0.5 ? 1 : 2;
    const float angle = uf(0.0, 80.0);
    const float f = uf(0.05, 100.0);
    if (psv_halfspace_root(t, itype, angle) == 0.0f) continue;  // refused by the driver
    worst = std::max(worst, expect_matches_reference(t, itype, angle, f, "random"));
    ++checked;
  }
  EXPECT_GT(checked, 190);
  RecordProperty("worst_error_in_rounding_units", std::to_string(double(worst)));
}

TEST(HASPSV, SoftBasinVerticalResponseHasQuotedValues) {
  const LayerTable t = reference::make_table(SOFT_BASIN);
  const double quoted[][2] = {{20.0, 0.85}, {25.0, 0.75}, {30.0, 0.74}};
  for (const auto& q : quoted) {
    const Out o = run(t, 1, 20.0f, float(q[0]));
    EXPECT_NEAR(cabs(o.w[0]) / 2.0, q[1], QUOTED_2_DECIMALS) << "f " << q[0];
  }
}

// --- finite everywhere ------------------------------------------------------

TEST(HASPSV, ThickSoftLowQLayersStayFiniteToHighFrequency) {
  for (int iqf : {1, 2}) {
    const LayerTable t = reference::make_table(EXTREME, iqf);
    for (int itype : {1, 2}) {
      for (float angle : {0.0f, 15.0f, 40.0f}) {
        for (float f = 0.0f; f <= 100.0f; f += 2.5f) {
          const Out o = run(t, itype, angle, f);
          for (int j = 0; j <= t.NLAYER; ++j) {
            ASSERT_TRUE(std::isfinite(o.u[j].real()) && std::isfinite(o.u[j].imag()) &&
                        std::isfinite(o.w[j].real()) && std::isfinite(o.w[j].imag()))
                << "IQF " << iqf << " ITYPE " << itype << " angle " << angle << " f " << f << " entry " << j
                << " " << o.u[j] << o.w[j];
          }
        }
      }
    }
  }
}

// --- the critical-angle root ------------------------------------------------

TEST(PsvHalfspaceRoot, IsTheRootOfTheNonIncidentWave) {
  const LayerTable t = bare();  // VP / VS = 2
  const double s20 = std::sin(20.0 * 3.14159265358979 / 180.0);
  EXPECT_NEAR(psv_halfspace_root(t, 2, 20.0f), std::sqrt(1.0 - 4.0 * s20 * s20), SHORT_TOL);
  EXPECT_NEAR(psv_halfspace_root(t, 1, 20.0f), std::sqrt(1.0 - 0.25 * s20 * s20), SHORT_TOL);
  const double s40 = std::sin(40.0 * 3.14159265358979 / 180.0);
  EXPECT_NEAR(psv_halfspace_root(t, 2, 40.0f), std::sqrt(4.0 * s40 * s40 - 1.0), SHORT_TOL);
  // At 30 degrees sin * VP / VS is 1 to float rounding: the root is 0 or at
  // most the square root of a few rounding units.
  EXPECT_LT(psv_halfspace_root(t, 2, 30.0f), std::sqrt(4.0 * EPS_F));
}

TEST(PsvHalfspaceRoot, ResponseIsFiniteWhereverTheRootIsNonZero) {
  const LayerTable t = reference::make_table(QUARTER_WAVE);
  float angle = 30.0f;
  for (int step = 0; step < 8; ++step) angle = std::nextafter(angle, 0.0f);
  for (int step = 0; step < 16; ++step, angle = std::nextafter(angle, 90.0f)) {
    if (psv_halfspace_root(t, 2, angle) == 0.0f) continue;
    const Out o = run(t, 2, angle, 4.0f);
    for (int j = 0; j <= 1; ++j) {
      EXPECT_TRUE(std::isfinite(o.u[j].real()) && std::isfinite(o.w[j].imag())) << angle;
    }
  }
}

}  // namespace
}  // namespace velmar::console
