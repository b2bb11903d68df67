// Site response by random vibration theory: linear spectra through a
// profile, peak strains, the strain-compatible iteration and vertical motion.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>

#include "site/sh_mid_strain_any.hpp"
#include "site/sh_response.hpp"
#include "velmar/errors.hpp"
#include "velmar/rvt_site.hpp"
#include "velmar/velmar.hpp"

namespace velmar {
namespace {

using cd = std::complex<double>;

// A Brune-shaped acceleration spectrum (corner 1 Hz, kappa 0.03 s) on 512
// log-spaced frequencies, scaled to an expected peak of `pga` g.
RvtMotion brune_motion(double pga, PeakMethod method = PeakMethod::V75) {
  RvtMotion m;
  m.duration = 8.0;
  m.method = method;
  for (int k = 0; k < 512; ++k) {
    const double f = 0.05 * std::pow(2000.0, k / 511.0);
    m.freqs.push_back(f);
    m.fas.push_back(f * f / (1.0 + f * f) * std::exp(-std::numbers::pi * 0.03 * f));
  }
  const double s = pga / rvt_peak(m);
  for (double& a : m.fas) a *= s;
  return m;
}

// Three soft layers over rock, with P velocities.
Profile soft_profile() {
  return Profile({6.0, 10.0, 14.0, 0.0}, {1.8, 1.9, 2.0, 2.4}, {150.0, 250.0, 350.0, 1000.0},
                 {0.02, 0.02, 0.02, 0.01}, {1500.0, 1600.0, 1700.0, 2000.0}, {0.01, 0.01, 0.01, 0.005});
}

EquivalentLinearOptions options_for(const Profile& p) {
  EquivalentLinearOptions o;
  for (std::size_t i = 0; i < p.layers(); ++i) o.curves.push_back(Darendeli{20.0});
  o.water_table = 2.0;
  o.law = DampingLaw::DORMIEUX;
  return o;
}

std::vector<double> mid_depths(const Profile& p) {
  std::vector<double> z;
  for (std::size_t i = 0; i < p.layers(); ++i) z.push_back(p.top_depth(i) + 0.5 * p.thickness()[i]);
  return z;
}

// --- linear ------------------------------------------------------------------------------

TEST(RvtLinear, SurfaceSpectrumIsTheTransferFunctionTimesTheInputForEveryInputKind) {
  const RvtMotion m = brune_motion(0.1);
  const Profile p = soft_profile();
  const WaveSetup sh{Wave::SH, 0.0, DampingLaw::VELMAR};
  const std::vector<cd> h0 = transfer(p, m.freqs, sh, 0.0), h12 = transfer(p, m.freqs, sh, 12.0);
  PropagateOptions o;
  o.setup = sh;
  o.scale = 2.0;
  const RvtMotion out = rvt_propagate(m, p, o);  // outcrop
  o.input = InputMotion::INCIDENT;
  const RvtMotion inc = rvt_propagate(m, p, o);
  o.input = InputMotion::WITHIN, o.input_depth = 12.0;
  const RvtMotion within = rvt_propagate(m, p, o);
  for (std::size_t k = 0; k < m.freqs.size(); ++k) {
    EXPECT_NEAR(out.fas[k], 2.0 * m.fas[k] * std::abs(h0[k]) / 2.0, 1e-12 * out.fas[k]) << k;
    EXPECT_NEAR(inc.fas[k], 2.0 * m.fas[k] * std::abs(h0[k]), 1e-12 * inc.fas[k]) << k;
    EXPECT_NEAR(within.fas[k], 2.0 * m.fas[k] * std::abs(h0[k]) / std::abs(h12[k]), 1e-9 * within.fas[k]) << k;
  }
  EXPECT_EQ(out.duration, m.duration);
  EXPECT_EQ(out.method, m.method);
  ASSERT_TRUE(out.site.has_value());
}

TEST(RvtLinear, SiteResonanceOfOneLayerAtTheQuarterWavelengthModes) {
  // One 20 m layer of 200 m/s over stiff rock: modes at Vs / 4H (2.5 Hz),
  // 3 and 5 times that, slightly shifted by the damping and the rock.
  const Profile p({20.0, 0.0}, {1.8, 2.5}, {200.0, 3000.0}, {0.01, 0.01});
  RvtMotion m = brune_motion(0.1);
  PropagateOptions o;
  const RvtMotion s = rvt_propagate(m, p, o);
  ASSERT_TRUE(s.site.has_value());
  EXPECT_NEAR(s.site->freqs[0], 2.5, 0.05);
  EXPECT_NEAR(s.site->freqs[1], 7.5, 0.15);
  EXPECT_NEAR(s.site->freqs[2], 12.5, 0.25);
  // Peak amplification 1 / (alpha + pi xi / 2), alpha the impedance ratio.
  const double alpha = 1.8 * 200.0 / (2.5 * 3000.0);
  EXPECT_NEAR(s.site->amplitude, 1.0 / (alpha + std::numbers::pi * 0.01 / 2.0), 0.03 * s.site->amplitude);
  EXPECT_THROW(site_resonance(std::vector<double>{1, 2, 3}, std::vector<double>{1, 2, 3}), InvalidArgument);
  EXPECT_THROW(site_resonance(std::vector<double>{1, 2, 3}, std::vector<double>{1, 2}), InvalidArgument);
}

TEST(RvtLinear, VerticalMotionFromPWaves) {
  const RvtMotion m = brune_motion(0.1);
  // An undamped layer with the half-space's own properties: the vertical
  // outcrop motion of a P wave comes back unchanged.
  const Profile rock({25.0, 0.0}, {2.4, 2.4}, {1000.0, 1000.0}, {0.01, 0.01}, {2000.0, 2000.0}, {0.0, 0.0});
  PropagateOptions o;
  o.setup = {Wave::P, 0.0, DampingLaw::VELMAR};
  o.component = Component::VERTICAL;
  const std::vector<double> a = rvt_amplification(m, rock, o);
  for (double v : a) EXPECT_NEAR(v, 1.0, 1e-9);
  // On soft soil: |W(0)| / 2 of the P-SV response, and a motion unlike the SH one.
  const Profile p = soft_profile();
  const RvtMotion up = rvt_propagate(m, p, o);
  const ResponseGrid g = response(p, m.freqs, std::vector<double>{0.0}, o.setup);
  for (std::size_t k = 0; k < m.freqs.size(); ++k) {
    EXPECT_NEAR(up.fas[k], m.fas[k] * std::abs(g.w[k]) / 2.0, 1e-12 * up.fas[k] + 1e-300);
  }
  PropagateOptions sh;
  EXPECT_GT(std::abs(rvt_peak(up) / rvt_peak(rvt_propagate(m, p, sh)) - 1.0), 0.1);
}

TEST(RvtLinear, RefusesWhatAMotionCannotCarry) {
  const RvtMotion m = brune_motion(0.1);
  const Profile p = soft_profile();
  PropagateOptions o;
  o.quantity = Quantity::STRAIN;
  EXPECT_THROW(rvt_propagate(m, p, o), InvalidArgument);
  o.quantity = Quantity::ACCELERATION;
  o.component = Component::VERTICAL;
  EXPECT_THROW(rvt_propagate(m, p, o), InvalidArgument);
  o.component.reset();
  o.depth = -1.0;
  EXPECT_THROW(rvt_propagate(m, p, o), InvalidArgument);
  o.depth = 0.0;
  o.setup.angle = 90.0;
  EXPECT_THROW(rvt_propagate(m, p, o), InvalidArgument);
  o.setup.angle = 0.0;
  o.setup.wave = Wave::P;
  EXPECT_THROW(rvt_propagate(m, Profile({5.0, 0.0}, {2.0, 2.4}, {200.0, 800.0}, {0.02, 0.01}), o),
               InvalidArgument);
  RvtMotion bad = m;
  bad.fas.pop_back();
  EXPECT_THROW(rvt_propagate(bad, p, PropagateOptions{}), InvalidArgument);
}

TEST(RvtSweep, MidLayerStrainModuliAgreeWithTheGeneralEngineAtAnyFrequencies) {
  // Uneven frequencies (log-spaced, then a few out of order and repeated),
  // vertical and oblique incidence, two laws, a thick stiff layer.
  const Profile p({3.0, 8.0, 40.0, 5.0, 0.0}, {1.7, 1.8, 2.1, 1.9, 2.5}, {120.0, 200.0, 600.0, 180.0, 1500.0},
                  {0.05, 0.03, 0.01, 0.2, 0.005});
  std::vector<double> f;
  for (int k = 0; k < 300; ++k) f.push_back(0.02 * std::pow(10000.0, k / 299.0));
  f.insert(f.end(), {5.0, 0.3, 5.0, 0.0});
  std::vector<double> mids;
  for (std::size_t i = 0; i < p.layers(); ++i) mids.push_back(p.top_depth(i) + 0.5 * p.thickness()[i]);
  for (const DampingLaw law : {DampingLaw::VELMAR, DampingLaw::DORMIEUX}) {
    for (const double angle : {0.0, 35.0}) {
      detail::ShMedium medium;
      detail::sh_medium(p, law, medium);
      std::vector<double> got(p.layers() * f.size()), sq(got.size());
      detail::MidStrainAnyWork work;
      ASSERT_TRUE(detail::sh_mid_strain_moduli(medium, angle, f, got, work));
      ASSERT_TRUE(detail::sh_mid_strain_moduli(medium, angle, f, sq, work, true));
      std::vector<cd> u(got.size()), strain(got.size());
      detail::sh_response(medium, angle, f, mids, u, strain, {});
      double largest = 0.0;
      for (const cd& v : strain) largest = std::max(largest, std::abs(v));
      for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i], std::abs(strain[i]), 1e-11 * largest) << i;
        EXPECT_NEAR(sq[i], got[i] * got[i], 1e-12 * largest * largest) << i;
      }
    }
  }
}

// --- peak strains ------------------------------------------------------------------------

TEST(RvtStrain, PeakStrainOfOneLayerAgainstTheClosedForm) {
  // One layer (H, Vs, xi) over a damped half-space, outcrop input, the law
  // G* = G (1 - 2 i xi) ('seed'; time factor e^{-i w t}): u(z) = u_out
  // cos(k z) / (cos(k H) - i alpha* sin(k H)), k = w / V*, alpha* = rho V*
  // / (rho_r V*_r), so the strain is -k sin(k z) over the same.
  const double H = 24.0, vs = 180.0, xi = 0.03, rho = 1.8, vr = 900.0, xr = 0.01, rr = 2.3;
  const Profile p({H, 0.0}, {rho, rr}, {vs, vr}, {xi, xr});
  const RvtMotion m = brune_motion(0.05);
  PropagateOptions o;
  o.setup.law = DampingLaw::SEED;
  const std::vector<double> z{3.0, 12.0, 21.0};
  const std::vector<double> got = rvt_peak_strains(m, p, o, z);
  const cd vss = vs * std::sqrt(cd(1.0, -2.0 * xi)), vrs = vr * std::sqrt(cd(1.0, -2.0 * xr));
  const cd alpha = (rho * vss) / (rr * vrs);
  std::vector<double> amp(m.freqs.size());
  for (std::size_t d = 0; d < z.size(); ++d) {
    for (std::size_t k = 0; k < m.freqs.size(); ++k) {
      const double w = 2.0 * std::numbers::pi * m.freqs[k];
      const cd kk = w / vss;
      const cd s = -kk * std::sin(kk * z[d]) / (std::cos(kk * H) - cd(0.0, 1.0) * alpha * std::sin(kk * H));
      amp[k] = std::abs(s) * m.fas[k] * STANDARD_GRAVITY / (w * w);
    }
    EXPECT_NEAR(got[d], rvt_peak(m, amp), 1e-8 * got[d]) << z[d];
  }
  // A surface record taken as 'within' at 0 m gives the same strains.
  PropagateOptions surf = o;
  const RvtMotion s = rvt_propagate(m, p, o);
  surf.input = InputMotion::WITHIN;
  const std::vector<double> again = rvt_peak_strains(s, p, surf, z);
  for (std::size_t d = 0; d < z.size(); ++d) EXPECT_NEAR(again[d], got[d], 1e-6 * got[d]);
}

// --- the strain-compatible iteration -------------------------------------------------------

TEST(RvtEquivalentLinear, WeakMotionReproducesTheLinearResult) {
  const Profile p = soft_profile();
  EquivalentLinearOptions o = options_for(p);
  o.scale = 1e-7;  // strains where the curves are flat
  const RvtMotion m = brune_motion(0.2);
  const EquivalentLinearResult r = equivalent_linear(m, p, o);
  ASSERT_TRUE(r.converged);
  EXPECT_LE(r.iterations, 2);
  // The linear profile: the curves' small-strain G/Gmax (1) and damping.
  std::vector<double> xi;
  for (std::size_t i = 0; i < p.layers(); ++i) {
    const double mid = p.top_depth(i) + 0.5 * p.thickness()[i];
    xi.push_back(evaluate_curve(o.curves[i], 0.0, mean_effective_stress(vertical_effective_stress(p, mid, 2.0), 0.5))
                     .damping);
    EXPECT_NEAR(r.g_ratio[i], 1.0, 1e-6);
    EXPECT_NEAR(r.damping[i], xi[i], 1e-5 * xi[i]);
  }
  xi.push_back(p.damping_s().back());
  const Profile lin(p.thickness(), p.density(), p.vs(), xi, p.vp(), p.damping_p());
  PropagateOptions po;
  po.setup.law = DampingLaw::DORMIEUX;
  po.scale = o.scale;
  const std::vector<double> strains = rvt_peak_strains(m, lin, po, mid_depths(p));
  for (std::size_t i = 0; i < p.layers(); ++i) EXPECT_NEAR(r.max_strain[i], strains[i], 1e-5 * strains[i]);
  const RvtMotion a = rvt_propagate(m, r.profile, po), b = rvt_propagate(m, lin, po);
  EXPECT_NEAR(rvt_peak(a), rvt_peak(b), 1e-5 * rvt_peak(b));
}

TEST(RvtEquivalentLinear, ARecordWithinTheProfileGivesTheStrainsOfItsOutcropMotion) {
  // Weak motion: the analysis stays on the low-strain profile, so the
  // surface motion of an outcrop analysis, taken as observed within at 0 m
  // (or at 12 m), drives the same strains.
  const Profile p = soft_profile();
  EquivalentLinearOptions o = options_for(p);
  o.scale = 1e-7;
  const RvtMotion m = brune_motion(0.2);
  const EquivalentLinearResult out = equivalent_linear(m, p, o);
  for (const double depth : {0.0, 12.0}) {
    PropagateOptions po;
    po.setup.law = DampingLaw::DORMIEUX;
    po.depth = depth;
    const RvtMotion at = rvt_propagate(m, out.profile, po);
    EquivalentLinearOptions w = o;
    w.input = InputMotion::WITHIN;
    w.input_depth = depth;
    const EquivalentLinearResult in = equivalent_linear(at, p, w);
    for (std::size_t i = 0; i < p.layers(); ++i) EXPECT_NEAR(in.max_strain[i], out.max_strain[i], 1e-5 * out.max_strain[i]);
  }
}

TEST(RvtEquivalentLinear, ConvergedStrainsAreThoseOfTheConvergedProfile) {
  const Profile p = soft_profile();
  EquivalentLinearOptions o = options_for(p);
  o.tolerance = 1e-7;
  o.max_iterations = 60;
  const RvtMotion m = brune_motion(0.3);
  const EquivalentLinearResult r = equivalent_linear(m, p, o);
  ASSERT_TRUE(r.converged);
  EXPECT_GE(r.iterations, 3);
  for (std::size_t i = 0; i < p.layers(); ++i) EXPECT_LT(r.g_ratio[i], 0.9);  // a strong motion softens
  PropagateOptions po;
  po.setup.law = DampingLaw::DORMIEUX;
  const std::vector<double> strains = rvt_peak_strains(m, r.profile, po, mid_depths(p));
  for (std::size_t i = 0; i < p.layers(); ++i) EXPECT_NEAR(r.max_strain[i], strains[i], 1e-5 * strains[i]);
  ASSERT_EQ(r.strain_history.size(), static_cast<std::size_t>(r.iterations) * p.layers());
  // Sublayering cuts the layers and reports per given layer.
  o.max_frequency = 25.0;
  o.tolerance = 0.01;
  const EquivalentLinearResult s = equivalent_linear(m, p, o);
  EXPECT_GT(s.profile.layers(), p.layers());
  ASSERT_TRUE(s.converged);
  for (std::size_t i = 0; i < p.layers(); ++i) {
    EXPECT_GT(s.sublayers[i], 1u);
    EXPECT_GT(s.max_strain[i], 0.8 * r.max_strain[i]);  // the largest of its sublayers'
  }
}

TEST(RvtEquivalentLinear, RunawayStrainsStopWithAClearError) {
  const Profile p = soft_profile();
  EquivalentLinearOptions o = options_for(p);
  o.strain_limit = 1e-4;
  const RvtMotion m = brune_motion(0.5);
  try {
    equivalent_linear(m, p, o);
    FAIL() << "no AnalysisError";
  } catch (const AnalysisError& e) {
    EXPECT_NE(std::string(e.what()).find("strains run away"), std::string::npos) << e.what();
  }
  o.strain_limit = 0.1;
  o.curves.pop_back();
  EXPECT_THROW(equivalent_linear(m, p, o), InvalidArgument);
  o = options_for(p);
  RvtMotion bad = m;
  bad.duration = -1.0;
  EXPECT_THROW(equivalent_linear(bad, p, o), InvalidArgument);
}

}  // namespace
}  // namespace velmar

namespace velmar {
namespace {

TEST(RvtBatch, MotionsRunBesideRecordsAndMatchTheSingleAnalysis) {
  const Profile p = soft_profile();
  BatchOptions o;
  o.motions = {brune_motion(0.2)};
  o.analysis = Analysis::EQUIVALENT_LINEAR;
  o.curves = {Darendeli{20.0}};
  o.el.water_table = 2.0;
  o.el.law = DampingLaw::DORMIEUX;
  o.strain_depths = {3.0, 20.0};
  o.threads = 1;
  o.seed = 5;
  const std::vector<Record> none;
  const BatchResult b = run_batch(p, none, o, 0, 2);
  ASSERT_TRUE(b.failures.empty());
  ASSERT_EQ(b.records, 1u);
  const Realisation real = realise(p, o.randomize, o.seed, 1);
  EquivalentLinearOptions eo = o.el;
  eo.curves.assign(real.profile.layers(), Darendeli{20.0});
  const EquivalentLinearResult r = equivalent_linear(o.motions[0], real.profile, eo);
  PropagateOptions po;
  po.setup.law = DampingLaw::DORMIEUX;
  const RvtMotion surf = rvt_propagate(o.motions[0], r.profile, po);
  const std::vector<double> psa = rvt_response_spectrum(surf, default_periods(), 0.05);
  for (std::size_t k = 0; k < psa.size(); ++k) EXPECT_NEAR(b.psa[b.periods + k], psa[k], 1e-12 * psa[k]);
  EXPECT_NEAR(b.pga[1], rvt_peak(surf), 1e-12);
  EXPECT_EQ(b.max_strain[2], r.max_strain[real.profile.entry_at(3.0)]);
  // No input at all is refused; a bad motion is named.
  o.motions.clear();
  EXPECT_THROW(run_batch(p, none, o, 0, 1), InvalidArgument);
  o.motions = {brune_motion(0.2)};
  o.motions[0].duration = 0.0;
  try {
    run_batch(p, none, o, 0, 1);
    FAIL();
  } catch (const InvalidArgument& e) {
    EXPECT_NE(std::string(e.what()).find("motions[0]"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace velmar
