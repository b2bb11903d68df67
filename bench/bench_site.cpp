// bench_site.cpp: the library's SH response over whole grids (velmar::transfer),
// beside the console's whole-grid sweep on the same 49-layer model as a
// yardstick, and the 400-layer profile of the library's speed goal.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "bench/bench_models.hpp"
#include "console/engines/sh_sweep.hpp"
#include "velmar/velmar.hpp"

namespace {

using namespace velmar;
using namespace velmar::console;
using namespace velmar::detail;

constexpr int GRID = 30000;  // frequencies of one transfer call
constexpr double DF = 0.005;  // 0 to 150 Hz

// The graded benchmark model (any number of layers) as a library profile,
// damping ratio 0.05 (Q = 10).
Profile graded_profile(int nlayer) {
  std::vector<double> th, rho, vs, xi;
  for (int k = 0; k < nlayer; ++k) {
    const double x = k;
    th.push_back(2.0 + 0.5 * x);
    rho.push_back(1.6 + 0.01 * x);
    vs.push_back(150.0 + 12.0 * x + 40.0 * (k % 3));
    xi.push_back(0.05);
  }
  th.push_back(0.0), rho.push_back(2.5), vs.push_back(std::max(2000.0, vs.back() + 100.0)), xi.push_back(0.0);
  return Profile(th, rho, vs, xi);
}

std::vector<double> grid() {
  std::vector<double> f(GRID);
  for (int i = 0; i < GRID; ++i) f[i] = DF * i;
  return f;
}

void per_layer_frequency(benchmark::State& state, int nlayer) {
  state.counters["ns_per_layer_freq"] = benchmark::Counter(
      static_cast<double>(nlayer) * GRID * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_transfer_sh(benchmark::State& state) {
  const int nlayer = static_cast<int>(state.range(0));
  const Profile p = graded_profile(nlayer);
  const std::vector<double> f = grid();
  for (auto _ : state) benchmark::DoNotOptimize(transfer(p, f, WaveSetup{}));
  per_layer_frequency(state, nlayer);
}

// Yardstick: the console's sweep at the surface on the same model (Q = 10).
void BM_console_sh_sweep(benchmark::State& state) {
  const int nlayer = static_cast<int>(state.range(0));
  LayerTable t = bench::graded_base(nlayer);
  for (int k = 0; k < nlayer; ++k) t.QS[k] = 10.0f;
  std::vector<float> f(GRID), re(GRID), im(GRID);
  auto work = std::make_unique<ShSweepWork>();
  for (auto _ : state) {
    for (int i = 0; i < GRID; ++i) f[i] = static_cast<float>(DF * i);
    sh_sweep(t, 0.0f, 1, -1, f, re, im, *work);
    benchmark::DoNotOptimize(re.data());
  }
  per_layer_frequency(state, nlayer);
}

BENCHMARK(BM_transfer_sh)->Arg(49)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_console_sh_sweep)->Arg(49)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
