// psv_response: against the long-double global-matrix reference at
// interfaces, inside layers and in the half-space (damped and elastic, P and
// SV, several angles, damped half-spaces, 400 and 1000 layers), the bare
// half-space's closed forms, the static limit, extreme damping, and the
// refused inputs.
#include "site/psv_response.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "layers/psv_reference.hpp"
#include "velmar/errors.hpp"

namespace velmar::detail {
namespace {

using reference::cplx;
using reference::GeneralEntry;
using reference::real;

constexpr double EPS = std::numeric_limits<double>::epsilon();

// Double rounding in the phases w h / v of a stack grows with them, and each
// layer's step adds its own: the unit of error is eps (1 + S phase of the
// stack in radians + number of layers), relative to the size of the waves
// that make up a value. The factor 16 is a margin of 4 over the worst
// observed (3.9 units, on the 1000-layer profile; 1.5 elsewhere).
constexpr double PHASE_FACTOR = 16.0;

// Values below this have no relative precision left in double; they are
// judged on this absolute scale.
constexpr real DOUBLE_FLOOR = real(std::numeric_limits<double>::min()) / real(EPS);

// Short computations (a bare half-space: a few products, one square root and
// one quotient) agree with a closed form to a few rounding units.
constexpr double SHORT_TOL = 16.0 * EPS;

struct Layer {
  double thick;
  double rho;
  cdouble vs;
  cdouble vp;
};
using Model = std::vector<Layer>;  // the last entry is the half-space

// Velocity with a damping ratio xi applied as V / (1 + i xi).
cdouble damped(double v, double xi) { return v / cdouble(1.0, xi); }

PsvMedium medium_of(const Model& m) {
  PsvMedium out;
  for (std::size_t j = 0; j < m.size(); ++j) {
    if (j + 1 < m.size()) out.thickness.push_back(m[j].thick);
    out.density.push_back(m[j].rho);
    out.vs.push_back(m[j].vs);
    out.vp.push_back(m[j].vp);
  }
  return out;
}

std::vector<GeneralEntry> entries_of(const Model& m) {
  std::vector<GeneralEntry> out;
  for (const Layer& l : m) {
    out.push_back({l.thick, l.rho, cplx(l.vs.real(), l.vs.imag()), cplx(l.vp.real(), l.vp.imag())});
  }
  return out;
}

struct Result {
  std::vector<cdouble> u, w;
};

Result run(const Model& m, bool sv, double angle, const std::vector<double>& f, const std::vector<double>& z) {
  Result r{std::vector<cdouble>(f.size() * z.size()), std::vector<cdouble>(f.size() * z.size())};
  psv_response(medium_of(m), sv, angle, f, z, r.u, r.w);
  return r;
}

// Depths: the surface, every interface, the middle and a point near each end
// of every layer, and two depths in the half-space.
std::vector<double> probe_depths(const Model& m) {
  std::vector<double> z = {0.0};
  double top = 0.0;
  for (std::size_t j = 0; j + 1 < m.size(); ++j) {
    const double h = m[j].thick;
    z.insert(z.end(), {top + 0.01 * h, top + 0.5 * h, top + 0.97 * h});
    top += h;
    z.push_back(top);
  }
  z.insert(z.end(), {top + 3.0, top + 250.0});
  return z;
}

// S phase w z / |VS| through the whole stack, or to depth z where that is
// deeper: every value depends on every layer's phase.
double s_phase(const Model& m, double f, double z) {
  double H = 0.0;
  for (std::size_t j = 0; j + 1 < m.size(); ++j) H += m[j].thick;
  const double zmax = std::max(H, z);
  double phase = 0.0;
  double top = 0.0;
  for (std::size_t j = 0; j < m.size() && top < zmax; ++j) {
    const double h = j + 1 < m.size() ? std::min(m[j].thick, zmax - top) : zmax - top;
    phase += 2.0 * std::numbers::pi * f * h / std::abs(m[j].vs);
    top += h;
  }
  return phase;
}

// Worst error at the given depths in units of eps (1 + S phase), relative to
// the size of the waves that make up each value; expects it below
// PHASE_FACTOR.
double expect_matches_reference(const Model& m, bool sv, double angle, double f, const std::vector<double>& z,
                                const std::string& name) {
  const Result r = run(m, sv, angle, {f}, z);
  const std::vector<real> zl(z.begin(), z.end());
  const reference::PsvDepthResponse ref = reference::psv_response_at(entries_of(m), sv ? 2 : 1, angle, f, zl);
  double worst = 0.0;
  for (std::size_t d = 0; d < z.size(); ++d) {
    EXPECT_TRUE(std::isfinite(r.u[d].real()) && std::isfinite(r.u[d].imag()) && std::isfinite(r.w[d].real()) &&
                std::isfinite(r.w[d].imag()));
    const real scale = std::max(ref.size[d], DOUBLE_FLOOR);
    const real err = std::max(std::abs(cplx(r.u[d].real(), r.u[d].imag()) - ref.u[d]),
                              std::abs(cplx(r.w[d].real(), r.w[d].imag()) - ref.w[d])) /
                     scale;
    const double units = double(err) / (EPS * (1.0 + s_phase(m, f, z[d]) + double(m.size() - 1)));
    worst = std::max(worst, units);
    EXPECT_LE(units, PHASE_FACTOR) << name << (sv ? " SV" : " P") << " angle " << angle << " f " << f << " depth "
                                   << z[d] << ": U " << r.u[d] << " W " << r.w[d] << " want ("
                                   << double(ref.u[d].real()) << "," << double(ref.u[d].imag()) << "), ("
                                   << double(ref.w[d].real()) << "," << double(ref.w[d].imag()) << ")";
  }
  return worst;
}

// --- models -------------------------------------------------------------------

// Soft, thick, strongly damped basin: a product of propagators cancels here.
Model soft_basin() {
  return {{300.0, 1.9, damped(100.0, 0.1), damped(1600.0, 0.01)}, {0.0, 2.2, 800.0, 2000.0}};
}
// Elastic stack (no damping anywhere) with a velocity inversion.
Model elastic_stack() {
  return {{30.0, 1.8, 200.0, 500.0}, {12.0, 1.7, 120.0, 450.0}, {80.0, 2.1, 600.0, 1400.0}, {0.0, 2.3, 1000.0, 2000.0}};
}
// Layers over a damped half-space.
Model damped_halfspace() {
  return {{20.0, 1.7, damped(150.0, 0.05), damped(900.0, 0.02)},
          {60.0, 2.0, damped(400.0, 0.03), damped(1700.0, 0.01)},
          {0.0, 2.4, damped(1500.0, 0.02), damped(3000.0, 0.01)}};
}
// A graded profile of n layers (thin near the top), damping decreasing with
// depth, over rock.
Model graded(int n, double total) {
  Model m;
  for (int j = 0; j < n; ++j) {
    const double x = double(j) / double(n);
    const double vs = 150.0 + 1200.0 * x * x + 40.0 * double(j % 3);
    m.push_back({total / double(n), 1.7 + 0.6 * x, damped(vs, 0.06 - 0.05 * x), damped(2.5 * vs + 800.0, 0.02)});
  }
  m.push_back({0.0, 2.6, 2000.0, 4000.0});
  return m;
}

struct Case {
  const char* name;
  Model (*model)();
  bool sv;
  double angle;
};

class PsvResponseVsReference : public testing::TestWithParam<Case> {};

TEST_P(PsvResponseVsReference, EveryDepthAgreesWithinPhaseRounding) {
  const Case& c = GetParam();
  const Model m = c.model();
  const std::vector<double> z = probe_depths(m);
  double worst = 0.0;
  for (double f : {0.3, 2.0, 9.0, 30.0, 100.0}) {
    worst = std::max(worst, expect_matches_reference(m, c.sv, c.angle, f, z, c.name));
  }
  RecordProperty("worst_units", std::to_string(worst));
}

// SV angles 35 and 60 degrees lie beyond the critical angle of every
// half-space here (VP / VS = 2 or 2.5).
INSTANTIATE_TEST_SUITE_P(
    Models, PsvResponseVsReference,
    testing::Values(Case{"soft basin", soft_basin, false, 0.0}, Case{"soft basin", soft_basin, false, 20.0},
                    Case{"soft basin", soft_basin, true, 0.0}, Case{"soft basin", soft_basin, true, 35.0},
                    Case{"elastic", elastic_stack, false, 15.0}, Case{"elastic", elastic_stack, false, 60.0},
                    Case{"elastic", elastic_stack, true, 15.0}, Case{"elastic", elastic_stack, true, 35.0},
                    Case{"damped half-space", damped_halfspace, false, 0.0},
                    Case{"damped half-space", damped_halfspace, false, 40.0},
                    Case{"damped half-space", damped_halfspace, true, 10.0},
                    Case{"damped half-space", damped_halfspace, true, 60.0}),
    [](const testing::TestParamInfo<Case>& info) { return "Case" + std::to_string(info.index); });

// A depth inside a layer equals the interface value of the same medium with
// that layer cut in two at the depth (an interface between identical media is
// invisible), in the reference and here.
TEST(PsvResponse, DepthInsideALayerEqualsInterfaceOfTheLayerSplitThere) {
  const Model whole = damped_halfspace();
  const double z = 20.0 + 17.5;  // inside the second layer
  Model split = whole;
  split[1].thick = 17.5;
  split.insert(split.begin() + 2, whole[1]);
  split[2].thick = 60.0 - 17.5;
  for (bool sv : {false, true}) {
    for (double f : {1.0, 12.0, 70.0}) {
      const Result a = run(whole, sv, 25.0, {f}, {z});
      const Result b = run(split, sv, 25.0, {f}, {z});
      const reference::PsvDepthResponse r =
          reference::psv_response_at(entries_of(split), sv ? 2 : 1, 25.0L, f, std::vector<real>{z});
      const double tol = PHASE_FACTOR * EPS * (1.0 + s_phase(whole, f, z) + 3.0) * double(r.size[0]);
      EXPECT_LE(std::abs(a.u[0] - b.u[0]), tol) << f;
      EXPECT_LE(std::abs(a.w[0] - b.w[0]), tol) << f;
      EXPECT_LE(double(std::abs(cplx(a.u[0].real(), a.u[0].imag()) - r.u[0])), tol) << f;
      EXPECT_LE(double(std::abs(cplx(a.w[0].real(), a.w[0].imag()) - r.w[0])), tol) << f;
    }
  }
}

// --- the bare half-space ------------------------------------------------------

// Free-surface displacement of an elastic half-space (velocities a, b) for a
// unit incident wave at angle >= 0 below the critical one (U, W with W
// down): with p the horizontal slowness, eta_a, eta_b the vertical ones and
// g = 1/b^2 - 2 p^2, R = g^2 + 4 p^2 eta_a eta_b,
//   P:  U = 4 a p eta_a eta_b / (b^2 R),   W = -2 a eta_a g / (b^2 R)
//   SV: U = 2 b eta_b g / (b^2 R),         W = 4 b p eta_a eta_b / (b^2 R)
void free_surface(bool sv, double angle, double a, double b, cdouble& U, cdouble& W) {
  const double s = std::sin(angle * std::numbers::pi / 180.0);
  const double p = sv ? s / b : s / a;
  const cdouble eta_a = std::sqrt(cdouble(1.0 / (a * a) - p * p, 0.0));
  const cdouble eta_b = std::sqrt(cdouble(1.0 / (b * b) - p * p, 0.0));
  const double g = 1.0 / (b * b) - 2.0 * p * p;
  const cdouble R = g * g + 4.0 * p * p * eta_a * eta_b;
  if (!sv) {
    U = 4.0 * a * p * eta_a * eta_b / (b * b * R);
    W = -2.0 * a * eta_a * g / (b * b * R);
  } else {
    U = 2.0 * b * eta_b * g / (b * b * R);
    W = 4.0 * b * p * eta_a * eta_b / (b * b * R);
  }
}

TEST(PsvResponse, BareHalfSpaceGivesTheFreeSurfaceAmplification) {
  const Model bare = {{0.0, 2.2, 800.0, 1600.0}};
  for (bool sv : {false, true}) {
    for (double angle : {0.0, 10.0, 20.0, 29.0, -20.0, 50.0, 85.0}) {
      if (sv && std::abs(angle) > 30.0) continue;  // past the critical angle: below
      cdouble U;
      cdouble Wz;
      free_surface(sv, std::abs(angle), 1600.0, 800.0, U, Wz);
      // At -angle the incident displacement is the mirror image (x -> -x) of
      // the one at +angle for P, and minus it for SV.
      if (angle < 0.0) (sv ? Wz : U) = -(sv ? Wz : U);
      const Result r = run(bare, sv, angle, {0.5, 7.0, 300.0}, {0.0});
      for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(std::abs(r.u[i] - U), 0.0, SHORT_TOL * 4.0) << (sv ? "SV " : "P ") << angle;
        EXPECT_NEAR(std::abs(r.w[i] - Wz), 0.0, SHORT_TOL * 4.0) << (sv ? "SV " : "P ") << angle;
      }
    }
  }
  // Vertical incidence exactly: the other component vanishes.
  const Result p = run(bare, false, 0.0, {3.0}, {0.0});
  EXPECT_NEAR(p.w[0].real(), -2.0, SHORT_TOL);
  EXPECT_EQ(std::abs(p.u[0]), 0.0);
  const Result s = run(bare, true, 0.0, {3.0}, {0.0});
  EXPECT_NEAR(s.u[0].real(), 2.0, SHORT_TOL);
  EXPECT_EQ(std::abs(s.w[0]), 0.0);
  // Beyond the critical angle (30 degrees) the response is complex; these are
  // the worked values to four decimals (the conjugates would mean a wrong
  // branch of the half-space root).
  const Result post = run(bare, true, 40.0, {3.0}, {0.0});
  EXPECT_NEAR(post.u[0].real(), 0.0306, 0.5e-4);
  EXPECT_NEAR(post.u[0].imag(), -0.5184, 0.5e-4);
  EXPECT_NEAR(post.w[0].real(), 1.5503, 0.5e-4);
  EXPECT_NEAR(post.w[0].imag(), 0.0914, 0.5e-4);
}

// --- long profiles ------------------------------------------------------------

class LongProfile : public testing::TestWithParam<int> {};

TEST_P(LongProfile, MatchesReferenceAtSampledDepths) {
  const int n = GetParam();
  const Model m = graded(n, 800.0);
  std::vector<double> z;
  for (int j = 0; j <= 40; ++j) z.push_back(810.0 * double(j) / 40.0 + 0.37);
  z.push_back(0.0);
  double worst = 0.0;
  for (bool sv : {false, true}) {
    for (double f : {0.7, 6.0, 25.0}) {
      worst = std::max(worst, expect_matches_reference(m, sv, 20.0, f, z, std::to_string(n) + " layers"));
    }
  }
  RecordProperty("worst_units", std::to_string(worst));
}

INSTANTIATE_TEST_SUITE_P(Layers, LongProfile, testing::Values(400, 1000));

// --- limits -------------------------------------------------------------------

// f = 0 is the bare half-space's value at every depth, finite, and the limit
// of small frequencies.
TEST(PsvResponse, StaticLimitIsTheBareHalfSpaceValueEverywhere) {
  const Model m = damped_halfspace();
  const Model bare = {m.back()};
  const std::vector<double> z = probe_depths(m);
  for (bool sv : {false, true}) {
    const Result zero = run(m, sv, 25.0, {0.0, 1.0e-30, 1.0e-7}, z);
    const Result b = run(bare, sv, 25.0, {1.0}, {0.0});
    for (std::size_t d = 0; d < z.size(); ++d) {
      EXPECT_EQ(zero.u[3 * d], b.u[0]);
      EXPECT_EQ(zero.w[3 * d], b.w[0]);
      EXPECT_EQ(zero.u[3 * d + 1], b.u[0]);
      // 1e-7 Hz: the first-order change is w T times the impedance contrast,
      // about 1e-8 here.
      EXPECT_NEAR(std::abs(zero.u[3 * d + 2] - b.u[0]), 0.0, 1.0e-6) << z[d];
      EXPECT_NEAR(std::abs(zero.w[3 * d + 2] - b.w[0]), 0.0, 1.0e-6) << z[d];
    }
  }
}

// 1 km and 3 km of soil with damping ratios 0.25 and 0.5 for S: exp(Re h nu_b)
// reaches e^6000 and more at 100 Hz, beyond the double range, while P hardly
// decays.
Model extreme() {
  return {{1000.0, 1.8, damped(100.0, 0.25), damped(1700.0, 0.005)},
          {3000.0, 1.9, damped(60.0, 0.5), damped(1500.0, 0.0167)},
          {5.0, 2.0, damped(300.0, 0.05), damped(1800.0, 0.01)},
          {0.0, 2.4, 1500.0, 3000.0}};
}

TEST(PsvResponse, ThickSoftStronglyDampedLayersStayFiniteAndAccurateAtHighFrequency) {
  const Model m = extreme();
  const std::vector<double> z = probe_depths(m);
  double worst = 0.0;
  for (bool sv : {false, true}) {
    for (double angle : {0.0, 15.0, 40.0}) {
      for (double f : {5.0, 100.0, 1000.0}) {
        worst = std::max(worst, expect_matches_reference(m, sv, angle, f, z, "extreme"));
      }
    }
  }
  RecordProperty("worst_units", std::to_string(worst));
}

// No power of the frequency may overflow: far beyond any physical frequency
// the response stays finite (a damped surface decays to 0), and a frequency
// whose w T overflows is refused.
TEST(PsvResponse, FiniteAtAnyRepresentableFrequency) {
  for (const Model& m : {elastic_stack(), damped_halfspace()}) {
    const std::vector<double> z = probe_depths(m);
    for (bool sv : {false, true}) {
      const Result r = run(m, sv, 20.0, {1.0e6, 1.0e20, 1.0e100, 1.0e200, 1.0e300}, z);
      for (std::size_t e = 0; e < r.u.size(); ++e) {
        EXPECT_TRUE(std::isfinite(r.u[e].real()) && std::isfinite(r.u[e].imag()) && std::isfinite(r.w[e].real()) &&
                    std::isfinite(r.w[e].imag()))
            << e;
      }
    }
  }
  std::vector<cdouble> U(1);
  std::vector<cdouble> W(1);
  EXPECT_THROW(psv_response(medium_of(soft_basin()), false, 0.0, std::vector<double>{1.0e307},
                            std::vector<double>{0.0}, U, W),
               InvalidArgument);
}

TEST(PsvResponse, NegativeFrequencyGivesTheConjugate) {
  const Model m = damped_halfspace();
  const std::vector<double> z = probe_depths(m);
  const Result r = run(m, true, 20.0, {-3.5, 3.5}, z);
  for (std::size_t d = 0; d < z.size(); ++d) {
    EXPECT_EQ(r.u[2 * d], std::conj(r.u[2 * d + 1]));
    EXPECT_EQ(r.w[2 * d], std::conj(r.w[2 * d + 1]));
  }
}

// --- refused inputs ---------------------------------------------------------

template <typename F>
void expect_invalid(F call, const std::string& text) {
  try {
    call();
    ADD_FAILURE() << "no exception; expected: " << text;
  } catch (const InvalidArgument& e) {
    EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
  }
}

TEST(PsvResponse, RefusesInvalidInputNamingTheArgument) {
  const Model good = damped_halfspace();
  std::vector<cdouble> U(1);
  std::vector<cdouble> W(1);
  const std::vector<double> f = {1.0};
  const std::vector<double> z = {0.0};
  auto call = [&](const PsvMedium& m, bool sv, double angle, const std::vector<double>& ff,
                  const std::vector<double>& zz) { psv_response(m, sv, angle, ff, zz, U, W); };
  for (double angle : {90.0, -90.0, 120.0, std::nan("")}) {
    expect_invalid([&] { call(medium_of(good), false, angle, f, z); }, "angle_deg");
  }
  PsvMedium m = medium_of(good);
  m.thickness[1] = 0.0;
  expect_invalid([&] { call(m, false, 0.0, f, z); }, "thickness[1] must be finite and above 0, got 0");
  m = medium_of(good);
  m.vs[2] = {1500.0, 1.0};
  expect_invalid([&] { call(m, false, 0.0, f, z); }, "vs[2] imaginary part");
  m = medium_of(good);
  m.vp[0] = {-1.0, 0.0};
  expect_invalid([&] { call(m, false, 0.0, f, z); }, "vp[0] real part");
  m = medium_of(good);
  m.density.pop_back();
  expect_invalid([&] { call(m, false, 0.0, f, z); }, "one entry more than thickness");
  expect_invalid([&] { call(medium_of(good), false, 0.0, f, {-1.0}); }, "depths[0]");
  expect_invalid([&] { call(medium_of(good), false, 0.0, {std::numeric_limits<double>::infinity()}, z); },
                 "freqs[0]");
  expect_invalid([&] { call(medium_of(good), false, 0.0, {1.0, 2.0}, z); }, "U and W");

  // SV at exactly the critical angle of an undamped half-space: VP / VS = 2
  // and the double angle whose sine (as the routine forms it) is 1/2.
  double angle = 30.0;
  for (int step = 0; step < 64 && std::sin(angle * (std::numbers::pi / 180.0)) != 0.5; ++step) {
    angle = std::nextafter(angle, 90.0);
  }
  ASSERT_EQ(std::sin(angle * (std::numbers::pi / 180.0)), 0.5);
  const Model critical = {{10.0, 2.0, 0.5, 1.0}, {0.0, 2.2, 1.0, 2.0}};
  expect_invalid([&] { call(medium_of(critical), true, angle, f, z); }, "critical angle");
  // One step off it the response exists and is finite.
  const Result near = run(critical, true, std::nextafter(angle, 90.0), {0.01}, {0.0, 5.0, 20.0});
  for (const cdouble& v : near.u) EXPECT_TRUE(std::isfinite(v.real()) && std::isfinite(v.imag()));
}

TEST(PsvResponse, EmptyGridsWriteNothing) {
  std::vector<cdouble> none;
  EXPECT_NO_THROW(psv_response(medium_of(soft_basin()), true, 10.0, {}, std::vector<double>{0.0}, none, none));
  EXPECT_NO_THROW(psv_response(medium_of(soft_basin()), true, 10.0, std::vector<double>{1.0}, {}, none, none));
}

}  // namespace
}  // namespace velmar::detail
