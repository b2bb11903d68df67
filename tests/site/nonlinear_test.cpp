// The nonlinear soil column in the time domain: the weak-motion limit
// against the frequency-domain solution, the energy balance, the column's
// geometry, the clear stop of an integration that cannot go on, refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "velmar/nonlinear.hpp"
#include "velmar/velmar.hpp"

namespace velmar {
namespace {

// A Ricker wavelet of centre frequency f (Hz) at t = 3 s, in g: content
// well below the column's 25 Hz, zero mean velocity and displacement.
Record ricker(double f, double amplitude = 0.1, std::size_t n = 4000, double dt = 0.005) {
  Record r;
  r.dt = dt;
  r.accel.resize(n);
  for (std::size_t j = 0; j < n; ++j) {
    const double x = std::numbers::pi * f * (static_cast<double>(j) * dt - 3.0);
    r.accel[j] = amplitude * (1.0 - 2.0 * x * x) * std::exp(-x * x);
  }
  return r;
}

Profile column(double xi) {
  return Profile({10, 15, 20, 0}, {1.8, 1.9, 2.0, 2.4}, {150, 250, 400, 1000}, {xi, xi, xi, 0.0});
}

double peak(const std::vector<double>& x) {
  double m = 0.0;
  for (double v : x) m = std::max(m, std::abs(v));
  return m;
}

// Row k of a sample-major history (rows values per sample).
std::vector<double> row(const std::vector<double>& h, std::size_t rows, std::size_t k) {
  std::vector<double> out(h.size() / rows);
  for (std::size_t n = 0; n < out.size(); ++n) out[n] = h[n * rows + k];
  return out;
}

struct Case {
  bool rigid;
  ViscousDamping viscous;
};

// Surface acceleration of the linear column against propagate (the
// frequency-independent complex modulus), at light damping: peaks within
// 2 %, for both bases and both viscous damping forms.
TEST(NonlinearColumn, WeakMotionMatchesTheFrequencyDomainAtLightDamping) {
  const Record r = ricker(3.0);
  const Profile p = column(0.01);
  for (const Case c : {Case{false, ViscousDamping::FREQUENCY_INDEPENDENT}, Case{false, ViscousDamping::RAYLEIGH},
                       Case{true, ViscousDamping::FREQUENCY_INDEPENDENT}, Case{true, ViscousDamping::RAYLEIGH}}) {
    NonlinearOptions o;
    o.curves = {LinearLayer{}};
    o.viscous = c.viscous;
    PropagateOptions po;
    po.setup.law = DampingLaw::SEED;
    if (c.rigid) {
      o.base = ColumnBase::RIGID, o.input = InputMotion::WITHIN;
      po.input = InputMotion::WITHIN, po.input_depth = p.halfspace_depth();
    }
    const NonlinearResult res = nonlinear(r, p, o);
    for (Quantity q : {Quantity::ACCELERATION, Quantity::VELOCITY}) {
      po.quantity = q;
      const std::vector<double> fd = propagate(r, p, po);
      const std::vector<double> td =
          row(q == Quantity::ACCELERATION ? res.accel : res.velocity, res.node_depth.size(), 0);
      const double pf = peak(fd), pt = peak(td);
      EXPECT_NEAR(pt / pf, 1.0, 0.02) << "rigid " << c.rigid << " rayleigh "
                                      << (c.viscous == ViscousDamping::RAYLEIGH) << " quantity " << int(q);
      if (!c.rigid) {  // without a rigid base's long ringing the whole history agrees
        double d = 0.0;
        for (std::size_t j = 0; j < res.samples; ++j) d = std::max(d, std::abs(td[j] - fd[j]));
        EXPECT_LT(d / pf, 0.03);
      }
    }
    // A rigid base moves with the record.
    if (c.rigid) {
      const std::size_t base = res.node_depth.size() - 1;
      for (std::size_t j = 0; j < res.samples; j += 97) EXPECT_NEAR(res.accel[j * (base + 1) + base], r.accel[j], 1e-12);
    }
  }
}

// At 5 % the frequency-independent damping follows the complex modulus
// from 1.5 to 10 Hz wavelets (peaks within 4 %); Rayleigh damping at the
// site frequency and 5 times it over-damps the 10 Hz one by a fifth.
TEST(NonlinearColumn, FrequencyIndependentDampingHoldsOverTheBand) {
  const Profile p = column(0.05);
  PropagateOptions po;
  po.setup.law = DampingLaw::SEED;
  for (double f : {1.5, 6.0, 10.0}) {
    const Record r = ricker(f);
    const double pf = peak(propagate(r, p, po));
    NonlinearOptions o;
    o.curves = {LinearLayer{}};
    NonlinearResult res = nonlinear(r, p, o);
    EXPECT_NEAR(peak(row(res.accel, res.node_depth.size(), 0)) / pf, 1.0, 0.04) << f << " Hz";
    if (f == 10.0) {
      o.viscous = ViscousDamping::RAYLEIGH;
      res = nonlinear(r, p, o);
      EXPECT_LT(peak(row(res.accel, res.node_depth.size(), 0)) / pf, 0.85);
    }
  }
}

// At weak motion the hysteretic soil springs are at Gmax: the column with
// curves gives the linear column's surface motion (damping dmin), and the
// soil's loops dissipate next to nothing.
TEST(NonlinearColumn, SoilSpringsAtWeakMotionAreLinear) {
  const Record r = ricker(3.0, 1e-4);
  const Profile p = column(0.01);
  for (SoilModelKind kind : {SoilModelKind::GQH, SoilModelKind::MKZ}) {
    NonlinearOptions o;
    o.curves = {Darendeli{20.0}};
    o.water_table = 2.0;
    o.model = kind;
    const NonlinearResult soil = nonlinear(r, p, o);
    o.linear = true;
    const NonlinearResult lin = nonlinear(r, p, o);
    const std::size_t nodes = lin.node_depth.size();
    const std::vector<double> a_lin = row(lin.accel, nodes, 0), a_soil = row(soil.accel, nodes, 0);
    const double pl = peak(a_lin);
    double d = 0.0;
    for (std::size_t j = 0; j < lin.samples; ++j) d = std::max(d, std::abs(a_soil[j] - a_lin[j]));
    EXPECT_LT(d / pl, 0.01);
    EXPECT_LT(soil.energy.hysteretic, 0.05 * soil.energy.viscous);
    EXPECT_FALSE(soil.linear[0]);
    EXPECT_TRUE(lin.linear[0]);
  }
}

// Strong shaking: the work done on the column is accounted for (input =
// kinetic + strain + viscous + hysteretic + radiation), hysteresis takes a
// real share, strains are peaks of the stored histories, nothing is NaN.
TEST(NonlinearColumn, EnergyBalancesUnderStrongShaking) {
  const Record r = ricker(2.0, 0.4, 3000);
  const Profile p = column(0.01);
  for (bool rigid : {false, true}) {
    NonlinearOptions o;
    o.curves = {Darendeli{0.0}, Darendeli{30.0}, Darendeli{15.0}};
    o.water_table = 2.0;
    if (rigid) o.base = ColumnBase::RIGID, o.input = InputMotion::WITHIN;
    const NonlinearResult res = nonlinear(r, p, o);
    const NonlinearEnergy& e = res.energy;
    EXPECT_LT(e.balance_error, 1e-6);
    EXPECT_GT(e.hysteretic, 0.05 * (e.hysteretic + e.viscous));
    const double out = e.kinetic + e.strain + e.viscous + e.hysteretic + e.radiation;
    EXPECT_NEAR(out, e.input, 1e-6 * e.input);
    EXPECT_EQ(e.radiation == 0.0, rigid);
    for (std::size_t k = 0; k < 3; ++k) {
      EXPECT_DOUBLE_EQ(res.max_strain[k], peak(row(res.strain, 3, k)));
      EXPECT_GT(res.max_strain[k], 1e-4);
      EXPECT_NEAR(res.max_stress_ratio[k], res.max_stress[k] / res.vertical_stress[k], 1e-12);
    }
    for (double v : res.accel) ASSERT_TRUE(std::isfinite(v));
    for (double v : res.displacement) ASSERT_TRUE(std::isfinite(v));
  }
}

// Sublayers pass max_frequency (Vs / (4 h) >= f), their counts are odd, a
// within input's depth ends the column (cutting a layer, or extending the
// rock below the half-space's top), and record steps are cut into
// sub-steps of at most 1 / (8 max_frequency).
TEST(NonlinearColumn, ColumnGeometryAndSubSteps) {
  const Record r = ricker(3.0, 0.01, 400, 0.01);
  const Profile p = column(0.02);
  NonlinearOptions o;
  o.curves = {LinearLayer{}};
  o.max_frequency = 20.0;
  NonlinearResult res = nonlinear(r, p, o);
  EXPECT_EQ(res.substeps, 2u);  // 0.01 s > 1 / 160 s
  EXPECT_EQ(res.steps, 399u);
  const double vs[3] = {150, 250, 400}, th[3] = {10, 15, 20};
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(res.sublayers[k] % 2, 1u);
    EXPECT_GE(vs[k] / (4.0 * th[k] / static_cast<double>(res.sublayers[k])), 20.0 - 1e-9);
    EXPECT_LT(vs[k] / (4.0 * th[k] / static_cast<double>(res.sublayers[k] - 2)), 20.0);
  }
  EXPECT_DOUBLE_EQ(res.node_depth.back(), 45.0);
  EXPECT_DOUBLE_EQ(res.layer_depth[1], 17.5);
  o.base = ColumnBase::RIGID, o.input = InputMotion::WITHIN, o.input_depth = 18.0;
  res = nonlinear(r, p, o);
  ASSERT_EQ(res.max_strain.size(), 2u);
  EXPECT_DOUBLE_EQ(res.node_depth.back(), 18.0);
  EXPECT_DOUBLE_EQ(res.layer_depth[1], 14.0);
  // Layer 2 cut from 15 m to 8 m, layer 3 dropped: a warning for each.
  ASSERT_EQ(res.warnings.size(), 2u);
  EXPECT_NE(res.warnings[0].find("inside layer 2: it is cut from 15 m to 8 m"), std::string::npos) << res.warnings[0];
  EXPECT_NE(res.warnings[1].find("1 layer(s) below it"), std::string::npos) << res.warnings[1];
  o.input_depth = 25.0;  // at a layer boundary: nothing cut
  res = nonlinear(r, p, o);
  ASSERT_EQ(res.warnings.size(), 1u);
  EXPECT_EQ(res.warnings[0].find("inside"), std::string::npos) << res.warnings[0];
  o.input_depth = 60.0;
  res = nonlinear(r, p, o);
  EXPECT_EQ(res.max_strain.size(), 3u);
  EXPECT_DOUBLE_EQ(res.node_depth.back(), 60.0);
}

// An input the soil cannot carry stops with AnalysisError naming the time
// and what to change, never with NaN in a result.
TEST(NonlinearColumn, AbsurdInputStopsWithAClearError) {
  const Record r = ricker(2.0, 0.4, 2000);
  const Profile p = column(0.01);
  NonlinearOptions o;
  o.curves = {Darendeli{0.0}};
  o.water_table = 2.0;
  o.scale = 200.0;
  try {
    nonlinear(r, p, o);
    FAIL() << "no error";
  } catch (const AnalysisError& e) {
    const std::string m = e.what();
    EXPECT_NE(m.find("t = "), std::string::npos) << m;
    EXPECT_NE(m.find("scale 200"), std::string::npos) << m;
  }
  // Two iterations cannot follow the soil's yielding.
  o.scale = 2.0, o.max_iterations = 2;
  try {
    nonlinear(r, p, o);
    FAIL() << "no error";
  } catch (const AnalysisError& e) {
    EXPECT_NE(std::string(e.what()).find("did not converge"), std::string::npos) << e.what();
  }
}

TEST(NonlinearColumn, RefusesBadInput) {
  const Record r = ricker(3.0, 0.01, 200);
  const Profile p = column(0.02);
  const auto refused = [&](auto&& edit, const char* words) {
    NonlinearOptions o;
    o.curves = {Darendeli{}};
    edit(o);
    try {
      nonlinear(r, p, o);
      ADD_FAILURE() << "accepted: " << words;
    } catch (const InvalidArgument& e) {
      EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
  };
  refused([](NonlinearOptions& o) { o.input = InputMotion::WITHIN; }, "needs base 'rigid'");
  refused([](NonlinearOptions& o) { o.base = ColumnBase::RIGID; }, "give input 'within'");
  refused([](NonlinearOptions& o) { o.curves = {Darendeli{}, Darendeli{}}; }, "curves has 2 entries");
  refused([](NonlinearOptions& o) { o.curves.clear(); }, "curves has 0 entries");
  refused([](NonlinearOptions& o) { o.strength = {10.0, 20.0}; }, "strength has 2 entries");
  refused([](NonlinearOptions& o) { o.strength = {-1.0}; }, "strength[0]");
  refused([](NonlinearOptions& o) { o.model = SoilModelKind::MKZ, o.strength = {50.0}; }, "MKZ has none");
  refused([](NonlinearOptions& o) { o.max_frequency = 0.0; }, "max_frequency");
  refused([](NonlinearOptions& o) { o.scale = std::nan(""); }, "scale");
  refused([](NonlinearOptions& o) { o.input_depth = 5.0; }, "input_depth");
  refused([](NonlinearOptions& o) { o.rayleigh_frequencies = {1.0}; }, "rayleigh");
  refused([](NonlinearOptions& o) { o.viscous = ViscousDamping::RAYLEIGH, o.rayleigh_frequencies = {5.0, 1.0}; }, "rise");
  refused([](NonlinearOptions& o) { o.water_table = -1.0; }, "water_table");
  refused([](NonlinearOptions& o) { o.models = {SoilModel{}}; }, "models has 1 entries");
  EXPECT_THROW(viscous_damping_from_name("modal"), InvalidArgument);
  EXPECT_THROW(column_base_from_name("soft"), InvalidArgument);
  Record bad = r;
  bad.accel[3] = std::nan("");
  NonlinearOptions o;
  o.curves = {Darendeli{}};
  EXPECT_THROW(nonlinear(bad, p, o), InvalidArgument);
}

}  // namespace
}  // namespace velmar
