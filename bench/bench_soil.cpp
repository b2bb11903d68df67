// bench_soil.cpp: the cost of one spring's stress per call (a column calls
// it per sublayer per step per iteration), for MKZ and GQ/H with Masing and
// MRDF rules, along a random strain walk with frequent reversals and inner
// loops; the trial call of an implicit step; and one fit to a curve.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "velmar/soil_model.hpp"

namespace {

using namespace velmar;

// A strain history: a slowly varying amplitude times a sum of two
// sinusoids, plus small jitter, peaking near 0.5 %: reversals every few
// steps and loops inside loops.
std::vector<double> walk(std::size_t n) {
  std::mt19937 rng(11);
  std::normal_distribution<double> jitter(0.0, 2e-6);
  std::vector<double> g(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / static_cast<double>(n);
    g[i] = 5e-3 * std::sin(3.1 * t) * (0.6 * std::sin(400.0 * t) + 0.4 * std::sin(1370.0 * t)) + jitter(rng);
  }
  return g;
}

SoilModel model(int which) {
  const SoilModelKind kind = which / 2 == 0 ? SoilModelKind::MKZ : SoilModelKind::GQH;
  const UnloadRule rule = which % 2 == 0 ? UnloadRule::MASING : UnloadRule::MRDF;
  return fit_soil_model(Darendeli{15.0}, 80000.0, 100.0, kind, std::nullopt, rule);
}

const char* name(int which) {
  static const char* names[] = {"mkz/masing", "mkz/mrdf", "gqh/masing", "gqh/mrdf"};
  return names[which];
}

void BM_soil_stress(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const SoilModel m = model(which);
  const std::vector<double> g = walk(100000);
  SoilState s(m);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.stress(g[i]));
    if (++i == g.size()) i = 0, s.reset();
  }
  state.SetLabel(name(which));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_soil_stress)->DenseRange(0, 3);

// One implicit step: two trials (with tangents) and a commit.
void BM_soil_trial_commit(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const SoilModel m = model(which);
  const std::vector<double> g = walk(100000);
  SoilState s(m);
  std::size_t i = 0;
  for (auto _ : state) {
    double k = 0.0;
    benchmark::DoNotOptimize(s.trial(0.999 * g[i], &k));
    benchmark::DoNotOptimize(s.trial(g[i], &k));
    s.commit(g[i]);
    if (++i == g.size()) i = 0, s.reset();
  }
  state.SetLabel(name(which));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_soil_trial_commit)->DenseRange(0, 3);

void BM_fit_soil_model(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(model(which).g_ratio_error);
  state.SetLabel(name(which));
}
BENCHMARK(BM_fit_soil_model)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
