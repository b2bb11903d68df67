// psv_sweep: the surface response over a grid agrees with HASPSV at every
// frequency, and with the long-double global-matrix reference, on the
// reference models and random valid ones, in both solve regimes.
#include "console/engines/psv_sweep.hpp"

#include "console/engines/haspsv.hpp"
#include "layers/psv_reference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <vector>

namespace velmar::console {

using namespace detail;
namespace {

using reference::cplx;
using reference::LayerEntry;
using reference::real;
using namespace reference::models;

constexpr float EPS_F = std::numeric_limits<float>::epsilon();

// Both routines compute in double and round once to float, so they differ by
// the two roundings (half a unit each of the value's own size) plus double
// rounding in the two orders of the same operations: 4 float units of the
// larger surface value is the margin.
constexpr double SWEEP_TOL = 4.0 * EPS_F;

// Against the reference: the margin of the HASPSV reference tests (8 units
// of float rounding plus the value's change over neighbouring float inputs).
constexpr real REF_FACTOR = 8.0L;

struct Sweep {
  std::vector<float> f;
  std::vector<cfloat> u, w;
  int blocked = 0;
};

Sweep run_sweep(const LayerTable& t, int itype, float angle, std::vector<float> grid) {
  static PsvSweepWork work;
  Sweep s{grid, std::vector<cfloat>(grid.size()), std::vector<cfloat>(grid.size())};
  s.blocked = psv_sweep(t, itype, angle, s.f, s.u, s.w, work);
  return s;
}

// 0, df, 2 df, ... as the driver sets a signal run's grid.
std::vector<float> grid(int n, float df) {
  std::vector<float> f(n);
  for (int i = 0; i < n; ++i) f[i] = static_cast<float>(i) * df;
  return f;
}

// Every frequency against HASPSV at the same (replaced) frequency; returns
// the worst difference in units of the larger surface value.
double expect_matches_haspsv(const LayerTable& t, int itype, float angle, const Sweep& s) {
  double worst = 0.0;
  for (std::size_t i = 0; i < s.f.size(); ++i) {
    float f = s.f[i];
    ResponseArray ups{};
    ResponseArray wps{};
    HASPSV(t, itype, 90.0f, angle, f, 1, ups, wps);
    EXPECT_EQ(f, s.f[i]);  // no second replacement
    const double scale = std::max({std::abs(std::complex<double>(ups[0])), std::abs(std::complex<double>(wps[0])),
                                   double(std::numeric_limits<float>::min())});
    const double err = std::max(std::abs(std::complex<double>(s.u[i]) - std::complex<double>(ups[0])),
                                std::abs(std::complex<double>(s.w[i]) - std::complex<double>(wps[0]))) /
                       scale;
    worst = std::max(worst, err);
    EXPECT_LE(err, SWEEP_TOL) << "ITYPE " << itype << " angle " << angle << " f " << s.f[i] << ": u " << s.u[i]
                              << " want " << ups[0] << ", w " << s.w[i] << " want " << wps[0];
  }
  return worst;
}

// One frequency against the reference, in units of (eps + the change over
// the neighbouring float inputs) of the larger surface value.
void expect_matches_reference(const LayerTable& t, int itype, float angle, float f, cfloat u, cfloat w) {
  const reference::PsvResponse r = reference::psv_response(t, itype, angle, f);
  const real scale = std::max({std::abs(r.u[0]), std::abs(r.w[0]), reference::FLOAT_NORMAL_FLOOR});
  real sens = 0.0L;
  for (const reference::Inputs& in : reference::float_neighbours(f, angle)) {
    const reference::PsvResponse m = reference::psv_response(t, itype, in.angle, in.f);
    sens = std::max({sens, std::abs(m.u[0] - r.u[0]) / scale, std::abs(m.w[0] - r.w[0]) / scale});
  }
  const real err = std::max(std::abs(cplx(u.real(), u.imag()) - r.u[0]), std::abs(cplx(w.real(), w.imag()) - r.w[0])) / scale;
  EXPECT_LE(double(err / (EPS_F + sens)), double(REF_FACTOR)) << "ITYPE " << itype << " angle " << angle << " f " << f;
}

// Stiff layers over a soft half-space: away from vertical incidence both
// waves are evanescent in the layers and decay at nearly the same rate, while
// the layers' growth
// exp(sigma) passes e^600 (the result's scale kept apart) and, in the thick
// layer, e^1400 (beyond the block path's range: such frequencies go to
// HASPSV). The surface values underflow there; they must still agree.
constexpr std::array<LayerEntry, 3> STIFF_OVER_SOFT = {{
    {300.0f, 2.6f, 3000.0f, 80.0f, 6000.0f, 150.0f},
    {3000.0f, 2.7f, 3500.0f, 100.0f, 7000.0f, 200.0f},
    {0.0f, 2.0f, 200.0f, 0.0f, 400.0f, 0.0f},
}};

// The reference models, P and SV below and beyond the critical angle, both
// damping laws, over a grid from 0 (replaced by 1e-6) to 100 Hz, from weak to
// extreme attenuation in the soft models.
TEST(PsvSweep, AgreesWithHaspsvAndReferenceOnReferenceModels) {
  const std::vector<LayerTable> models = {
      reference::make_table(BARE),         reference::make_table(QUARTER_WAVE), reference::make_table(SOFT_BASIN),
      reference::make_table(SOFT_PROFILE), reference::make_table(DEEP_BASIN),   reference::make_table(FULL_TABLE),
      reference::make_table(STIFF_OVER_SOFT)};
  int blocked = 0;
  int handed_on = 0;
  for (const LayerTable& base : models) {
    for (int iqf : {1, 2}) {
      LayerTable t = base;
      t.IQF = iqf;
      for (int itype : {1, 2}) {
        for (float angle : {0.0f, 20.0f, 40.0f}) {
          const Sweep s = run_sweep(t, itype, angle, grid(401, 0.25f));
          EXPECT_EQ(s.f[0], 1.0e-6f);
          expect_matches_haspsv(t, itype, angle, s);
          blocked += s.blocked;
          handed_on += static_cast<int>(s.f.size()) - s.blocked;
          for (std::size_t i : {0u, 7u, 60u, 400u}) expect_matches_reference(t, itype, angle, s.f[i], s.u[i], s.w[i]);
        }
      }
    }
  }
  // Both paths are exercised (23753 and 9931 frequencies when written).
  EXPECT_GT(blocked, 15000);
  EXPECT_GT(handed_on, 5000);
}

// Random valid models as in the HASPSV tests: 1 to 49 layers up to 3 km thick,
// QS down to 0.5, VP 1.5 to 16.5 times VS, P and SV at 0 to 80 degrees, over
// grids of random step; many frequencies need the stable solve, and thick
// layers at high frequency leave the block path's exponent range.
TEST(PsvSweep, AgreesWithHaspsvOnRandomValidModels) {
  std::mt19937 gen(20261208);
  std::uniform_real_distribution<double> U(0.0, 1.0);
  auto uf = [&](double lo, double span) { return float(lo + span * U(gen)); };
  for (int trial = 0; trial < 60; ++trial) {
    const int n = 1 + int(48.0 * U(gen));
    std::vector<LayerEntry> entries(n + 1);
    std::generate(entries.begin(), entries.end(), [&] {  // braced lists evaluate left to right
      const double share = U(gen);
      const float vs = uf(50.0, 1500.0);
      return LayerEntry{float(1.0 + 3000.0 * share * share), uf(1.5, 1.0), vs, uf(0.5, 60.0), vs * uf(1.5, 15.0),
                        uf(5.0, 200.0)};
    });
    entries[n].vs = std::max(entries[n].vs, 800.0f);
    entries[n].vp = std::max(entries[n].vp, 1.7f * entries[n].vs);
    const LayerTable t = reference::make_table(entries, U(gen) < 0.3 ? 2 : 1);
    const int itype = U(gen) < 0.5 ? 1 : 2;
    const float angle = uf(0.0, 80.0);
    if (psv_halfspace_root(t, itype, angle) == 0.0f) continue;  // refused by the driver
    const Sweep s = run_sweep(t, itype, angle, grid(150, uf(0.01, 0.6)));
    expect_matches_haspsv(t, itype, angle, s);
    expect_matches_reference(t, itype, angle, s.f[149], s.u[149], s.w[149]);
  }
}

// Frequencies wait in a queue and are evaluated in blocks; each lane is computed on its own, so a value must not depend on
// where in the grid, or in which block, its frequency stands. The grid mixes
// both regimes, a zero and a negative frequency (handed to HASPSV), and has
// no whole number of blocks; single-frequency and empty grids too.
TEST(PsvSweep, ValuesDoNotDependOnGridOrderOrLength) {
  const LayerTable t = reference::make_table(SOFT_PROFILE);
  std::vector<float> f = {0.0f, -2.5f};
  for (int i = 1; i < 100; ++i) f.push_back(0.37f * static_cast<float>(i));
  std::vector<float> shuffled = f;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
  const Sweep a = run_sweep(t, 1, 30.0f, f);
  const Sweep b = run_sweep(t, 1, 30.0f, shuffled);
  expect_matches_haspsv(t, 1, 30.0f, a);
  for (std::size_t k = 0; k < f.size(); ++k) {
    const std::size_t at = static_cast<std::size_t>(std::find(a.f.begin(), a.f.end(), b.f[k]) - a.f.begin());
    ASSERT_LT(at, a.f.size());
    EXPECT_EQ(b.u[k], a.u[at]) << "f " << b.f[k];
    EXPECT_EQ(b.w[k], a.w[at]) << "f " << b.f[k];
  }
  for (std::size_t at : {0u, 1u, 2u, 57u, 100u}) {
    const Sweep one = run_sweep(t, 1, 30.0f, {f[at]});
    EXPECT_EQ(one.u[0], a.u[at]) << "f " << f[at];
    EXPECT_EQ(one.w[0], a.w[at]) << "f " << f[at];
  }
  EXPECT_EQ(run_sweep(t, 1, 30.0f, {}).blocked, 0);
}

}  // namespace
}  // namespace velmar::console
