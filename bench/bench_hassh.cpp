// bench_hassh.cpp: time of the SH response per layer and frequency.
//
// Each iteration sweeps a frequency grid like a signal run's (0 to 50 in
// steps of 50/256, so the first point is the replaced zero), for stacks of 1,
// 10 and 49 layers, surface only (IPROF = 0) and full profile (IPROF = 1).
// "per_layer_freq" is the time per layer and frequency. The yardstick beside
// it, baseline_hassh, is the straightforward form: std::complex<double>
// throughout, full 2 x 2 matrices multiplied from the bottom layer up, std::
// complex sqrt, sin, cos and division, and the profile applying each layer
// matrix again. It has no range protection and is kept here only to measure.
//
// BM_sh_sweep times the driver's fast path over the same grid (the value
// HASSH gives at interface LOUT: the surface for iprof 0, the middle of the
// stack for iprof 1). Every benchmark also reports "vs_baseline", the
// baseline's time per layer and frequency divided by its own, measured in the
// same run.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <ctime>
#include <complex>
#include <map>
#include <utility>

#include "bench_models.hpp"
#include "layers/complex_ops.hpp"
#include "console/engines/hassh.hpp"
#include "console/engines/sh_sweep.hpp"

namespace velmar {
namespace {

using namespace console;
using namespace detail;

using bench::SWEEP;
using bench::sweep;

LayerTable graded_model(int nlayer) {
  LayerTable t = bench::graded_base(nlayer);
  for (int k = 0; k < nlayer; ++k) t.QS[k] = 5.0f + 2.0f * static_cast<float>(k);
  return t;
}

// The layer-matrix method written directly with std::complex<double>.
void baseline_hassh(const LayerTable& table, float ANGAZ, float ANGLE, float& F, int ISGNT,
                    int IPROF, ResponseArray& USH, ResponseArray& TSH) {
  using C = std::complex<double>;
  const double pi = 4.0 * std::atan(1.0);
  const double a = pi * static_cast<double>(ANGAZ) / 180.0;
  if (std::abs(std::cos(a)) < 0.001) return;
  if (F == 0.0f) F = 1.0e-6f;
  const double theta = pi * static_cast<double>(ANGLE) / 180.0;
  const double omega = static_cast<double>(F) * 2.0 * pi;
  const int N = table.NLAYER;
  const C vh(table.VSC[N]);
  const C k = omega / vh;
  const C kx = std::sin(theta) * k;
  const C kz = std::cos(theta) * k;
  const C muh = static_cast<double>(table.RHO[N]) * vh * vh;
  std::array<std::array<C, 4>, MAX_ENTRIES - 1> A;
  for (int n = 0; n < N; ++n) {
    const double qs = table.QS[n];
    const double d = table.IQF == 2 ? 0.5 / (qs * static_cast<double>(F)) : 0.5 / qs;
    const C v = C(table.VSC[n]) / C(1.0, -ISGNT * d);
    const C mu = static_cast<double>(table.RHO[n]) * v * v;
    const C ks = omega / v;
    C nu = csqrt_branch(ks * ks - kx * kx);
    if (nu.imag() < 0.0) nu = -nu;
    const double h = table.THICK[n];
    const C nh = nu * h;
    A[n] = {std::cos(nh), h * ((std::sin(nh) / nh) / mu), -(mu * (nh * std::sin(nh))) / h, std::cos(nh)};
  }
  C m11 = 1.0, m12 = 0.0, m21 = 0.0, m22 = 1.0;
  for (int j = N - 1; j >= 0; --j) {
    const std::array<C, 4>& b = A[j];
    const C n11 = m11 * b[0] + m12 * b[2], n12 = m11 * b[1] + m12 * b[3];
    const C n21 = m21 * b[0] + m22 * b[2], n22 = m21 * b[1] + m22 * b[3];
    m11 = n11, m12 = n12, m21 = n21, m22 = n22;
  }
  const C r = ((C(0.0, 1.0) * m21) / muh) / kz;
  C u = (ISGNT == 1 ? 2.0 / (m11 - r) : 2.0 / (m11 + r)) * std::cos(a);
  C t = 0.0;
  USH[0] = cfloat(u);
  TSH[0] = 0.0f;
  if (IPROF == 0) return;
  for (int n = 0; n < N; ++n) {
    const C un = A[n][0] * u + A[n][1] * t;
    const C tn = A[n][2] * u + A[n][3] * t;
    u = un, t = tn;
    USH[n + 1] = cfloat(u);
    TSH[n + 1] = cfloat(t);
  }
}

// Processor time of this process in seconds: the counters compare like with
// like when other processes share the machine.
double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Seconds per sweep of Routine, from at least MIN_TIME of repeated sweeps.
template <auto Routine>
double seconds_per_sweep(const LayerTable& table, int iprof) {
  constexpr double MIN_TIME = 0.05;
  const std::array<float, SWEEP> grid = sweep();
  ResponseArray ush{}, tsh{};
  long sweeps = 0;
  const double t0 = cpu_seconds();
  double elapsed = 0.0;
  do {
    for (float f : grid) {
      Routine(table, 0.0f, 30.0f, f, -1, iprof, ush, tsh);
      benchmark::DoNotOptimize(ush.data());
    }
    ++sweeps;
    elapsed = cpu_seconds() - t0;
  } while (elapsed < MIN_TIME);
  return elapsed / static_cast<double>(sweeps);
}

// The baseline's seconds per sweep, measured once per model and profile flag.
double baseline_sweep_seconds(int nlayer, int iprof);

// Counters shared by every benchmark: time per layer and frequency, and the
// ratio of the baseline's time to this one's.
void set_counters(benchmark::State& state, int nlayer, int iprof, double seconds) {
  state.counters["per_layer_freq"] = benchmark::Counter(
      static_cast<double>(nlayer) * SWEEP,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  const double own = seconds / static_cast<double>(state.iterations());
  state.counters["vs_baseline"] = baseline_sweep_seconds(nlayer, iprof) / own;
}

template <auto Routine>
void run_sweep(benchmark::State& state) {
  const int nlayer = static_cast<int>(state.range(0));
  const int iprof = static_cast<int>(state.range(1));
  const LayerTable table = graded_model(nlayer);
  const std::array<float, SWEEP> grid = sweep();
  ResponseArray ush{}, tsh{};
  const double t0 = cpu_seconds();
  for (auto _ : state) {
    for (float f : grid) {
      Routine(table, 0.0f, 30.0f, f, -1, iprof, ush, tsh);
      benchmark::DoNotOptimize(ush.data());
    }
    benchmark::ClobberMemory();
  }
  set_counters(state, nlayer, iprof, cpu_seconds() - t0);
}

double baseline_sweep_seconds(int nlayer, int iprof) {
  static std::map<std::pair<int, int>, double> measured;
  const auto key = std::make_pair(nlayer, iprof);
  if (!measured.contains(key)) {
    measured[key] = seconds_per_sweep<baseline_hassh>(graded_model(nlayer), iprof);
  }
  return measured[key];
}

void BM_HASSH(benchmark::State& state) { run_sweep<HASSH>(state); }
void BM_baseline_hassh(benchmark::State& state) { run_sweep<baseline_hassh>(state); }

// The whole grid at once through the fast path, as the driver calls it.
void BM_sh_sweep(benchmark::State& state) {
  const int nlayer = static_cast<int>(state.range(0));
  const int iprof = static_cast<int>(state.range(1));
  const int lout = iprof == 0 ? 1 : nlayer / 2 + 1;
  const LayerTable table = graded_model(nlayer);
  std::array<float, SWEEP> grid = sweep();
  std::array<float, SWEEP> re{}, im{};
  static ShSweepWork work;
  const double t0 = cpu_seconds();
  for (auto _ : state) {
    sh_sweep(table, 30.0f, lout, -1, grid, re, im, work);
    benchmark::DoNotOptimize(re.data());
    benchmark::DoNotOptimize(im.data());
    benchmark::ClobberMemory();
  }
  set_counters(state, nlayer, iprof, cpu_seconds() - t0);
}

void layer_args(benchmark::internal::Benchmark* b) {
  for (int iprof : {0, 1}) {
    for (int n : {1, 10, 49}) b->Args({n, iprof});
  }
  b->ArgNames({"layers", "iprof"});
}

BENCHMARK(BM_HASSH)->Apply(layer_args);
BENCHMARK(BM_baseline_hassh)->Apply(layer_args);
BENCHMARK(BM_sh_sweep)->Apply(layer_args);

}  // namespace
}  // namespace velmar

BENCHMARK_MAIN();
