// The block loops of sh_sweep and psv_sweep give the same bits on every
// instruction set: each level the processor runs is compared with the
// baseline on the same models and grid, the returned values and the double
// scratch the loops leave behind (the last block's columns and coefficients),
// so a difference that float rounding would hide is caught too.
#include "layers/simd_level.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "layers/psv_reference.hpp"
#include "console/engines/psv_sweep.hpp"
#include "console/engines/sh_sweep.hpp"

namespace velmar::console {

using namespace detail;
namespace {

using namespace reference::models;

struct Model {
  std::string name;
  LayerTable table;
  float angle;
};

// Constant and frequency-dependent damping; strong growth (the clamped
// exponential), deep stacks, a bare half-space and a grazing angle.
std::vector<Model> models() {
  std::vector<Model> m;
  for (int iqf : {1, 2}) {
    m.push_back({"soft basin", reference::make_table(SOFT_BASIN, iqf), 20.0f});
    m.push_back({"soft profile", reference::make_table(SOFT_PROFILE, iqf), 40.0f});
    m.push_back({"deep basin", reference::make_table(DEEP_BASIN, iqf), 70.0f});
    m.push_back({"full table", reference::make_table(FULL_TABLE, iqf), 30.0f});
    m.push_back({"bare", reference::make_table(BARE, iqf), 10.0f});
  }
  return m;
}

// 0 to 150 Hz, a count that leaves a partial last block for both sweeps.
std::vector<float> grid() {
  std::vector<float> f(1000);
  for (std::size_t i = 0; i < f.size(); ++i) f[i] = 0.15f * static_cast<float>(i);
  return f;
}

std::vector<std::uint64_t> bits(const std::vector<double>& v) {
  std::vector<std::uint64_t> b;
  for (double x : v) b.push_back(std::bit_cast<std::uint64_t>(x));
  return b;
}

std::vector<std::uint32_t> bits(const std::vector<float>& v) {
  std::vector<std::uint32_t> b;
  for (float x : v) b.push_back(std::bit_cast<std::uint32_t>(x));
  return b;
}

template <typename... Arrays>
std::vector<double> flatten(const Arrays&... a) {
  std::vector<double> v;
  (v.insert(v.end(), a.begin(), a.end()), ...);
  return v;
}

struct Outcome {
  std::vector<float> values;    // the returned results, real and imaginary parts
  std::vector<double> scratch;  // what the block loops left in the work area
};

Outcome run_sh(const Model& m, int lout, SimdLevel level) {
  const auto w = std::make_unique<ShSweepWork>();
  std::vector<float> F = grid();
  std::vector<float> re(F.size()), im(F.size());
  sh_sweep(m.table, m.angle, lout, -1, F, re, im, *w, level);
  Outcome o;
  o.values = re;
  o.values.insert(o.values.end(), im.begin(), im.end());
  o.scratch = flatten(w->cu_re[0], w->cu_re[1], w->cu_im[0], w->cu_im[1], w->cs_re[0], w->cs_re[1], w->cs_im[0],
                      w->cs_im[1], w->log_c, w->ku_re, w->ku_im, w->x, w->zi, w->rr, w->ri, w->mn_re[0],
                      w->mn_im[0], w->mn_re[1], w->mn_im[1]);
  return o;
}

Outcome run_psv(const Model& m, int itype, SimdLevel level) {
  const auto w = std::make_unique<PsvSweepWork>();
  std::vector<float> F = grid();
  std::vector<cfloat> u(F.size()), v(F.size());
  psv_sweep(m.table, itype, m.angle, F, u, v, *w, level);
  Outcome o;
  for (std::size_t i = 0; i < F.size(); ++i) {
    o.values.insert(o.values.end(), {u[i].real(), u[i].imag(), v[i].real(), v[i].imag()});
  }
  for (int e = 0; e < 8; ++e) o.scratch = flatten(o.scratch, w->y_re[e], w->y_im[e]);
  for (int n = 0; n < m.table.NLAYER; ++n) {
    const PsvSweepStep& s = w->steps[static_cast<std::size_t>(n)];
    o.scratch = flatten(o.scratch, s.i11, s.i22, s.b12_re, s.b12_im);
  }
  o.scratch = flatten(o.scratch, w->back.c1_re, w->back.c1_im, w->back.c2_re, w->back.c2_im, w->back.lc,
                      w->bad, w->e0, w->sigma);
  return o;
}

void expect_same_bits(const Outcome& got, const Outcome& want, const std::string& what) {
  EXPECT_EQ(bits(got.values), bits(want.values)) << what << ": results";
  EXPECT_EQ(bits(got.scratch), bits(want.scratch)) << what << ": block scratch";
}

class SimdLevels : public ::testing::TestWithParam<SimdLevel> {
 protected:
  void SetUp() override {
    if (!simd_level_supported(GetParam())) GTEST_SKIP() << "this processor cannot run the level";
  }
};

TEST_P(SimdLevels, ShSweepGivesTheBaselineBits) {
  for (const Model& m : models()) {
    for (int lout : {1, 2, m.table.NLAYER + 1}) {
      if (lout > m.table.NLAYER + 1) continue;
      expect_same_bits(run_sh(m, lout, GetParam()), run_sh(m, lout, SimdLevel::BASELINE),
                       m.name + " IQF " + std::to_string(m.table.IQF) + " LOUT " + std::to_string(lout));
    }
  }
}

TEST_P(SimdLevels, PsvSweepGivesTheBaselineBits) {
  for (const Model& m : models()) {
    for (int itype : {1, 2}) {
      expect_same_bits(run_psv(m, itype, GetParam()), run_psv(m, itype, SimdLevel::BASELINE),
                       m.name + " IQF " + std::to_string(m.table.IQF) + " ITYPE " + std::to_string(itype));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, SimdLevels, ::testing::Values(SimdLevel::AVX2, SimdLevel::AVX512),
                         [](const auto& info) { return info.param == SimdLevel::AVX2 ? "AVX2" : "AVX512"; });

TEST(SimdLevel, BestLevelIsSupportedAndBaselineAlwaysIs) {
  EXPECT_TRUE(simd_level_supported(SimdLevel::BASELINE));
  EXPECT_TRUE(simd_level_supported(best_simd_level()));
  // The best level is the highest supported one.
  if (simd_level_supported(SimdLevel::AVX512)) {
    EXPECT_EQ(best_simd_level(), SimdLevel::AVX512);
  }
}

}  // namespace
}  // namespace velmar::console
