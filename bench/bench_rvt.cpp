// bench_rvt.cpp: a 100-period RVT response spectrum of a point-source motion
// (800 frequencies, the default grid) for each peak-factor method (goal: 1 ms), the motion's
// own peak, and building the motion.
#include <benchmark/benchmark.h>

#include <vector>

#include "velmar/velmar.hpp"

namespace {

using namespace velmar;

RvtMotion motion(PeakMethod method) {
  SourceTheoryParams p;
  p.magnitude = 6.5;
  p.distance = 20.0;
  p.method = method;
  return source_theory_motion(p);
}

void BM_RvtResponseSpectrum(benchmark::State& state) {
  const auto method = static_cast<PeakMethod>(state.range(0));
  const RvtMotion m = motion(method);
  const std::vector<double> periods = default_periods();
  std::vector<double> psa(periods.size());
  for (auto _ : state) {
    rvt_response_spectrum(m, periods, 0.05, psa);
    benchmark::DoNotOptimize(psa.data());
  }
  state.SetLabel(std::string(peak_method_name(method)));
}
BENCHMARK(BM_RvtResponseSpectrum)->DenseRange(0, 9)->Unit(benchmark::kMicrosecond);

void BM_RvtPeak(benchmark::State& state) {
  const RvtMotion m = motion(PeakMethod::V75);
  for (auto _ : state) benchmark::DoNotOptimize(rvt_peak(m, m.fas));
}
BENCHMARK(BM_RvtPeak)->Unit(benchmark::kMicrosecond);

void BM_SourceTheoryMotion(benchmark::State& state) {
  for (auto _ : state) {
    RvtMotion m = motion(PeakMethod::V75);
    benchmark::DoNotOptimize(m.fas.data());
  }
}
BENCHMARK(BM_SourceTheoryMotion)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
