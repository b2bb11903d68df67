// bench_psv_response.cpp: time of the library's P-SV engine per layer and
// frequency.
//
// Each iteration evaluates 49 graded, damped layers (the console's full
// table) over 2000 frequencies 0.025, 0.05, ... 50 Hz, an SV wave at 20
// degrees. Variants: the surface alone; the surface and every interface; the
// same plus a depth inside every layer (98 segments, 99 depths). Yardstick:
// HASPSV (single-precision table, the full profile) on the same model and
// grid, one call per frequency. "per_layer_freq" is the time per layer and
// frequency.
#include <benchmark/benchmark.h>

#include <complex>
#include <vector>

#include "bench_models.hpp"
#include "console/engines/haspsv.hpp"
#include "site/psv_response.hpp"

namespace velmar {
namespace {

using namespace console;
using namespace detail;

constexpr int NLAYER = 49;
constexpr int NF = 2000;

LayerTable table() {
  LayerTable t = bench::graded_base(NLAYER);
  for (int k = 0; k < NLAYER; ++k) {
    const float x = static_cast<float>(k);
    t.QS[k] = 10.0f + 2.0f * x;
    t.VPC[k] = {1500.0f + 20.0f * x, 0.0f};
    t.QP[k] = 50.0f + 4.0f * x;
  }
  t.VPC[NLAYER] = {4000.0f, 0.0f};
  return t;
}

// The same model with the damping applied as HASPSV applies it, V / (1 + i / (2 Q)).
PsvMedium medium(const LayerTable& t) {
  PsvMedium m;
  for (int k = 0; k <= NLAYER; ++k) {
    const bool half = k == NLAYER;
    if (!half) m.thickness.push_back(double(t.THICK[k]));
    m.density.push_back(double(t.RHO[k]));
    const double ds = half ? 0.0 : 0.5 / double(t.QS[k]);
    const double dp = half ? 0.0 : 0.5 / double(t.QP[k]);
    m.vs.push_back(double(t.VSC[k].real()) / cdouble(1.0, ds));
    m.vp.push_back(double(t.VPC[k].real()) / cdouble(1.0, dp));
  }
  return m;
}

std::vector<double> grid() {
  std::vector<double> f(NF);
  for (int i = 0; i < NF; ++i) f[static_cast<std::size_t>(i)] = 0.025 * (i + 1);
  return f;
}

void set_counter(benchmark::State& state) {
  state.counters["per_layer_freq"] = benchmark::Counter(
      double(NLAYER) * NF, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// depths: 0 = surface only, 1 = every interface, 2 = every interface and the
// middle of every layer.
void BM_psv_response(benchmark::State& state) {
  const LayerTable t = table();
  const PsvMedium m = medium(t);
  const std::vector<double> f = grid();
  std::vector<double> z = {0.0};
  double top = 0.0;
  for (int k = 0; k < NLAYER && state.range(0) > 0; ++k) {
    if (state.range(0) > 1) z.push_back(top + 0.5 * m.thickness[static_cast<std::size_t>(k)]);
    top += m.thickness[static_cast<std::size_t>(k)];
    z.push_back(top);
  }
  std::vector<cdouble> U(f.size() * z.size());
  std::vector<cdouble> W(f.size() * z.size());
  for (auto _ : state) {
    psv_response(m, true, 20.0, f, z, U, W);
    benchmark::DoNotOptimize(U.data());
    benchmark::DoNotOptimize(W.data());
    benchmark::ClobberMemory();
  }
  set_counter(state);
}

void BM_HASPSV_yardstick(benchmark::State& state) {
  const LayerTable t = table();
  const std::vector<double> f = grid();
  ResponseArray ups{};
  ResponseArray wps{};
  for (auto _ : state) {
    for (double f0 : f) {
      float F = static_cast<float>(f0);
      HASPSV(t, 2, 90.0f, 20.0f, F, 1, ups, wps);
      benchmark::DoNotOptimize(ups);
      benchmark::DoNotOptimize(wps);
    }
  }
  set_counter(state);
}

BENCHMARK(BM_psv_response)->Arg(0)->Arg(1)->Arg(2)->ArgName("depths")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HASPSV_yardstick)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmar

BENCHMARK_MAIN();
