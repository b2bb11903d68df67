// bench_eql.cpp: one equivalent-linear analysis of a 30-layer soft profile
// under a 12 000-sample record, at tolerances 0.01 and 0.001, beside a
// straightforward analysis of the same case as a yardstick: each pass
// propagates the record to every layer's middle as a strain history with the
// public propagate call (a response and two transforms per layer).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "bench/bench_records.hpp"

#include "velmar/equivalent_linear.hpp"
#include "velmar/velmar.hpp"

namespace {

using namespace velmar;

constexpr std::size_t LAYERS = 30;
constexpr std::size_t SAMPLES = 12000;

Record bench_record() { return ::bench_record(SAMPLES, 7); }

Profile bench_profile() { return bench_soft_profile(LAYERS); }

EquivalentLinearOptions bench_options(double tol) {
  EquivalentLinearOptions o;
  o.curves = bench_soft_curves(LAYERS);
  o.water_table = 2.0;
  o.tolerance = tol;
  o.max_iterations = 100;
  o.law = DampingLaw::DORMIEUX;
  return o;
}

void BM_equivalent_linear(benchmark::State& state) {
  const double tol = state.range(0) == 0 ? 0.01 : 0.001;
  const Record r = bench_record();
  const Profile p = bench_profile();
  const EquivalentLinearOptions o = bench_options(tol);
  int passes = 0;
  for (auto _ : state) {
    const EquivalentLinearResult res = equivalent_linear(r, p, o);
    passes = res.iterations;
    benchmark::DoNotOptimize(res.g_ratio.data());
  }
  state.counters["passes"] = passes;
  state.SetLabel(tol == 0.01 ? "tolerance 0.01" : "tolerance 0.001");
}

// Yardstick: the same iteration through propagate, one layer at a time.
void BM_straightforward(benchmark::State& state) {
  const double tol = state.range(0) == 0 ? 0.01 : 0.001;
  const Record r = bench_record();
  const Profile p = bench_profile();
  const EquivalentLinearOptions o = bench_options(tol);
  std::vector<double> sm(LAYERS);
  for (std::size_t i = 0; i < LAYERS; ++i) {
    sm[i] = mean_effective_stress(vertical_effective_stress(p, p.top_depth(i) + 0.5 * p.thickness()[i], o.water_table), 0.5);
  }
  int passes = 0;
  for (auto _ : state) {
    std::vector<double> g(LAYERS, 1.0), d(LAYERS);
    for (std::size_t i = 0; i < LAYERS; ++i) d[i] = evaluate_curve(o.curves[i], 0.0, sm[i]).damping;
    for (passes = 1; passes <= o.max_iterations; ++passes) {
      std::vector<double> vs = p.vs(), xi = p.damping_s();
      for (std::size_t i = 0; i < LAYERS; ++i) vs[i] *= std::sqrt(g[i]), xi[i] = d[i];
      const Profile cur(p.thickness(), p.density(), vs, xi);
      double change = 0.0;
      for (std::size_t i = 0; i < LAYERS; ++i) {
        PropagateOptions po;
        po.setup.law = o.law;
        po.quantity = Quantity::STRAIN;
        po.depth = p.top_depth(i) + 0.5 * p.thickness()[i];
        const std::vector<double> s = propagate(r, cur, po);
        double peak = 0.0;
        for (double v : s) peak = std::max(peak, std::abs(v));
        const CurvePoint c = evaluate_curve(o.curves[i], effective_strain_ratio(o) * peak, sm[i]);
        change = std::max({change, std::abs(c.g_ratio - g[i]) / c.g_ratio, std::abs(c.damping - d[i]) / c.damping});
        g[i] = c.g_ratio, d[i] = c.damping;
      }
      if (change < o.tolerance) break;
    }
    benchmark::DoNotOptimize(g.data());
  }
  state.counters["passes"] = passes;
}

// The same case at dt 0.01 s (as the side-by-side runs), by iteration and
// variant: arg 0 the classic accelerated, 1 the classic plain, 2 to 4 the
// frequency-dependent ka02, zr15, ko (accelerated).
void BM_eql_variants(benchmark::State& state) {
  Record r = bench_record();
  r.dt = 0.01;
  const Profile p = bench_profile();
  EquivalentLinearOptions o = bench_options(0.01);
  const auto arg = state.range(0);
  if (arg == 1) o.iteration = EqlIteration::PLAIN;
  if (arg >= 2) o.frequency_dependent = arg == 2 ? FrequencyDependent::KA02 : arg == 3 ? FrequencyDependent::ZR15 : FrequencyDependent::KO;
  int passes = 0, classic = 0;
  for (auto _ : state) {
    const EquivalentLinearResult res = equivalent_linear(r, p, o);
    passes = res.iterations, classic = res.classic_iterations;
    benchmark::DoNotOptimize(res.g_ratio.data());
  }
  state.counters["passes"] = passes;
  state.counters["classic_passes"] = classic;
  static const char* const names[] = {"classic accelerated", "classic plain", "ka02", "zr15", "ko"};
  state.SetLabel(names[arg]);
}

BENCHMARK(BM_equivalent_linear)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_eql_variants)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_straightforward)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
