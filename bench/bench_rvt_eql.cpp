// bench_rvt_eql.cpp: the equivalent-linear analysis driven by random
// vibration theory of the 30-layer soft profile of bench_eql.cpp under a
// point-source motion (M 6.5 at 20 km, western North America, 512
// frequencies), at tolerances 0.01 and 0.001; and the linear surface motion
// and its 100-period response spectrum.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "velmar/rvt_site.hpp"
#include "velmar/velmar.hpp"
#include "bench/bench_records.hpp"

namespace {

using namespace velmar;

constexpr std::size_t LAYERS = 30;

Profile bench_profile() { return bench_soft_profile(LAYERS); }

EquivalentLinearOptions bench_options(double tol) {
  EquivalentLinearOptions o;
  o.curves = bench_soft_curves(LAYERS);
  o.water_table = 2.0;
  o.strain_ratio = 0.65;
  o.tolerance = tol;
  o.max_iterations = 100;
  o.law = DampingLaw::DORMIEUX;
  return o;
}

RvtMotion bench_motion() {
  SourceTheoryParams s;
  s.magnitude = 6.5;
  s.distance = 20.0;
  return source_theory_motion(s);
}

void BM_rvt_equivalent_linear(benchmark::State& state) {
  const double tol = state.range(0) == 0 ? 0.01 : 0.001;
  const RvtMotion m = bench_motion();
  const Profile p = bench_profile();
  const EquivalentLinearOptions o = bench_options(tol);
  int passes = 0;
  for (auto _ : state) {
    const EquivalentLinearResult res = equivalent_linear(m, p, o);
    passes = res.iterations;
    benchmark::DoNotOptimize(res.g_ratio.data());
  }
  state.counters["passes"] = passes;
  state.SetLabel(tol == 0.01 ? "tolerance 0.01" : "tolerance 0.001");
}

void BM_rvt_surface_spectrum(benchmark::State& state) {
  const RvtMotion m = bench_motion();
  const Profile p = bench_profile();
  std::vector<double> periods(100);
  for (std::size_t k = 0; k < periods.size(); ++k) periods[k] = 0.01 * std::pow(1000.0, static_cast<double>(k) / 99.0);
  PropagateOptions o;
  o.setup.law = DampingLaw::DORMIEUX;
  for (auto _ : state) {
    const RvtMotion s = rvt_propagate(m, p, o);
    const std::vector<double> psa = rvt_response_spectrum(s, periods, 0.05);
    benchmark::DoNotOptimize(psa.data());
  }
}

}  // namespace

BENCHMARK(BM_rvt_equivalent_linear)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_rvt_surface_spectrum)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
