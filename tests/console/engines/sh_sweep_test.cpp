// sh_sweep against HASSH, frequency by frequency: the reference models and
// random valid ones, both damping laws, the surface and interior interfaces,
// both time factors, a grid starting at 0 and block-size remainders.
#include "console/engines/sh_sweep.hpp"
#include "console/engines/hassh.hpp"
#include "layers/psv_reference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace velmar::console {

using namespace detail;
namespace {

using reference::LayerEntry;
using namespace reference::models;

// Both routines carry the same double-precision quantities (the sweep's
// polynomials agree with the library functions to about 1e-16) and round to
// float once: they may differ by the rounding of each component, half a unit
// each way, so one unit of the value's size; twice that leaves room for
// double-level differences magnified at nodes of a deep profile.
constexpr double SWEEP_TOL = 2.0 * static_cast<double>(std::numeric_limits<float>::epsilon());
// Values below the normal float range are judged on this absolute scale.
constexpr double SIZE_FLOOR = static_cast<double>(std::numeric_limits<float>::min());

struct Case {
  std::string name;
  LayerTable table;
  float angle;
};

// Sweeps F (a copy), compares every value with HASSH's USH(LOUT) at the same
// (replaced) frequency; returns the worst error relative to the value's size.
double compare_sweep(const Case& c, int lout, int isgnt, std::vector<float> F) {
  static ShSweepWork work;  // large: kept off the stack
  const std::vector<float> given = F;
  std::vector<float> re(F.size()), im(F.size());
  sh_sweep(c.table, c.angle, lout, isgnt, F, re, im, work);
  double worst = 0.0;
  for (std::size_t i = 0; i < F.size(); ++i) {
    float f = given[i];
    ResponseArray USH{}, TSH{};
    HASSH(c.table, 0.0f, c.angle, f, isgnt, lout == 1 ? 0 : 1, USH, TSH);
    EXPECT_EQ(F[i], f) << c.name << ": frequency " << i << " replaced differently";
    const cfloat want = USH[static_cast<std::size_t>(lout - 1)];
    const double size = std::max(static_cast<double>(std::abs(want)), SIZE_FLOOR);
    const double err = std::abs(std::complex<double>(re[i], im[i]) - std::complex<double>(want)) / size;
    worst = std::max(worst, err);
    EXPECT_LE(err, SWEEP_TOL) << c.name << " IQF " << c.table.IQF << " LOUT " << lout << " ISGNT "
                              << isgnt << " F " << f << ": sweep (" << re[i] << "," << im[i]
                              << ") HASSH " << want;
  }
  return worst;
}

// FMIN + i DF as the driver forms it; 0 first, a count that is no multiple
// of the block.
std::vector<float> grid(float df, int n) {
  std::vector<float> f(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) f[static_cast<std::size_t>(i)] = 0.0f + static_cast<float>(i) * df;
  return f;
}

TEST(ShSweep, ReferenceModelsAgreeWithHasshAtEveryFrequency) {
  std::vector<Case> cases;
  for (int iqf : {1, 2}) {
    cases.push_back({"quarter wave", reference::make_table(QUARTER_WAVE, iqf), 0.0f});
    cases.push_back({"soft basin", reference::make_table(SOFT_BASIN, iqf), 20.0f});
    cases.push_back({"soft profile", reference::make_table(SOFT_PROFILE, iqf), 40.0f});
    cases.push_back({"deep basin", reference::make_table(DEEP_BASIN, iqf), 70.0f});
    cases.push_back({"full table", reference::make_table(FULL_TABLE, iqf), 30.0f});
    cases.push_back({"bare", reference::make_table(BARE, iqf), 10.0f});
  }
  for (const Case& c : cases) {
    const int n = c.table.NLAYER;
    double worst = 0.0;
    for (int lout : {1, 1 + (n + 1) / 2, n + 1}) {
      worst = std::max(worst, compare_sweep(c, lout, -1, grid(100.0f / 333.0f, 333)));
    }
    std::printf("%-13s IQF %d: worst |sweep - HASSH| / |USH| = %.2e\n", c.name.c_str(), c.table.IQF, worst);
  }
}

// exp(+i w t): the complex conjugate, as HASSH gives it; a grid of one
// frequency, a grid of exactly one block, and one just over.
TEST(ShSweep, PlusTimeFactorAndBlockEdges) {
  const Case c{"soft profile", reference::make_table(SOFT_PROFILE, 1), 25.0f};
  for (int n : {1, SH_BLOCK, SH_BLOCK + 1}) {
    compare_sweep(c, 1, +1, grid(0.37f, n));
    compare_sweep(c, 4, +1, grid(0.37f, n));
  }
}

// The special cases of the layer loop: phases beyond the polynomial sine's
// range (a thick, nearly elastic layer), a column leaving the safe double
// range (impedances alternating by 1e18, quarter-wave layers at every odd
// frequency of the grid: without rescaling the column passes 1e308), and a zero
// vertical wavenumber (an undamped layer as fast as the half-space at grazing
// incidence, ks = kx exactly: the whole frequency is redone).
TEST(ShSweep, SpecialCasesAgreeWithHassh) {
  const std::array<LayerEntry, 3> thick = {{
      {2.0e5f, 2.0f, 100.0f, 1.0e7f, 0.0f, 0.0f},
      {30.0f, 1.8f, 300.0f, 20.0f, 0.0f, 0.0f},
      {0.0f, 2.4f, 2000.0f, 0.0f, 0.0f, 0.0f},
  }};
  std::vector<LayerEntry> contrast;
  for (int k = 0; k < 49; ++k) {
    contrast.push_back(k % 2 == 0 ? LayerEntry{2.5f, 1.0e-6f, 10.0f, 1.0e4f, 0.0f, 0.0f}
                                  : LayerEntry{2.5e6f, 1.0e6f, 1.0e7f, 1.0e4f, 0.0f, 0.0f});
  }
  contrast.push_back({0.0f, 2.0f, 3000.0f, 0.0f, 0.0f, 0.0f});
  // QS = infinity gives d = 0; sin(90 degrees) is 1.0f, so kx = w / 1000.
  const float undamped = std::numeric_limits<float>::infinity();
  const std::array<LayerEntry, 3> critical = {{
      {40.0f, 2.0f, 400.0f, 10.0f, 0.0f, 0.0f},
      {40.0f, 2.0f, 1000.0f, undamped, 0.0f, 0.0f},
      {0.0f, 2.5f, 1000.0f, 0.0f, 0.0f, 0.0f},
  }};
  for (int iqf : {1, 2}) {
    const Case cases[] = {{"thick", reference::make_table(thick, iqf), 10.0f},
                          {"contrast", reference::make_table(contrast, iqf), 0.0f},
                          {"critical", reference::make_table(critical, iqf), 90.0f}};
    for (const Case& c : cases) {
      compare_sweep(c, 1, -1, grid(1.0f, 200));
      compare_sweep(c, c.table.NLAYER, -1, grid(1.0f, 200));
    }
  }
}

// Random valid models: layer count, thicknesses, densities, velocities and
// quality factors log-uniform over wide ranges, any angle below 85 degrees,
// either damping law, a random interface.
TEST(ShSweep, RandomModelsAgreeWithHassh) {
  std::mt19937 gen(20261208);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const auto draw = [&](float lo, float hi) { return lo * std::pow(hi / lo, unit(gen)); };
  for (int trial = 0; trial < 40; ++trial) {
    std::vector<LayerEntry> m(1 + gen() % 50);
    for (LayerEntry& e : m) e = {draw(0.1f, 2000.0f), draw(1.0f, 3.0f), draw(30.0f, 3000.0f), draw(1.0f, 1.0e4f), 0.0f, 0.0f};
    const Case c{"random " + std::to_string(trial), reference::make_table(m, 1 + static_cast<int>(gen() % 2)),
                 85.0f * unit(gen)};
    const int lout = 1 + static_cast<int>(gen() % static_cast<unsigned>(m.size()));
    compare_sweep(c, lout, -1, grid(draw(0.01f, 2.0f), 150));
  }
}

}  // namespace
}  // namespace velmar::console
