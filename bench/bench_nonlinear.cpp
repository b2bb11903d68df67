// bench_nonlinear.cpp: one nonlinear analysis of the 30-layer soft profile
// of bench_eql.cpp (sublayered for 25 Hz) under its 12 000-sample record
// (dt 0.005 s, about 0.3 g), with GQ/H + MRDF and MKZ + Masing springs: the
// whole call (the soil models fitted to the curves, then the time
// integration) and the integration alone (models fitted beforehand and
// given). Counters: sublayers, record steps, sub-steps per step, Newton
// iterations in all.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_records.hpp"

#include "velmar/nonlinear.hpp"
#include "velmar/velmar.hpp"

namespace {

using namespace velmar;

constexpr std::size_t LAYERS = 30;
constexpr std::size_t SAMPLES = 12000;

Profile bench_profile() { return bench_soft_profile(LAYERS); }

NonlinearOptions bench_options(bool gqh) {
  NonlinearOptions o;
  o.curves = bench_soft_curves(LAYERS);
  o.water_table = 2.0;
  o.model = gqh ? SoilModelKind::GQH : SoilModelKind::MKZ;
  o.unload = gqh ? UnloadRule::MRDF : UnloadRule::MASING;
  return o;
}

void report(benchmark::State& state, const NonlinearResult& res) {
  std::size_t sub = 0;
  for (std::size_t n : res.sublayers) sub += n;
  state.counters["sublayers"] = static_cast<double>(sub);
  state.counters["steps"] = static_cast<double>(res.steps);
  state.counters["substeps"] = static_cast<double>(res.substeps);
  state.counters["iterations"] = static_cast<double>(res.iterations);
}

// range(0): 1 GQ/H + MRDF, 0 MKZ + Masing; range(1): 1 models given.
void BM_nonlinear(benchmark::State& state) {
  const bool gqh = state.range(0) == 1, given = state.range(1) == 1;
  const Record r = bench_record(SAMPLES, 7);
  const Profile p = bench_profile();
  NonlinearOptions o = bench_options(gqh);
  if (given) o.models = nonlinear(r, p, o).models;
  NonlinearResult res;
  for (auto _ : state) {
    res = nonlinear(r, p, o);
    benchmark::DoNotOptimize(res.accel.data());
  }
  report(state, res);
  state.SetLabel(std::string(gqh ? "GQ/H + MRDF" : "MKZ + Masing") + (given ? ", integration only" : ", fit + integration"));
}
BENCHMARK(BM_nonlinear)->Args({1, 0})->Args({1, 1})->Args({0, 0})->Args({0, 1})->Unit(benchmark::kMillisecond);

// The linear column (the weak-motion limit): the integration's own cost.
void BM_nonlinear_linear(benchmark::State& state) {
  const Record r = bench_record(SAMPLES, 7);
  const Profile p = bench_profile();
  NonlinearOptions o = bench_options(true);
  o.linear = true;
  NonlinearResult res;
  for (auto _ : state) {
    res = nonlinear(r, p, o);
    benchmark::DoNotOptimize(res.accel.data());
  }
  report(state, res);
}
BENCHMARK(BM_nonlinear_linear)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
