// bench_haspsv.cpp: time of the P-SV response per layer and frequency.
//
// Each iteration sweeps a signal run's frequency grid (0 to 50 in steps of
// 50/256; the first point is the replaced zero) with an incident P wave at 20
// degrees, over stacks of 1, 10 and 49 layers. "per_layer_freq" is the time
// per layer and frequency; "vs_baseline" the baseline's time on the same
// model and grid divided by this one's, measured in the same run.
//
// Variants: HASPSV itself with the full profile (IPROF = 1; the stable
// solve), psv_sweep (surface only, the whole grid in one call, as the driver
// needs it), on the graded model (benign) and on a soft model that needs the
// stable solve at most frequencies; and the yardstick baseline_haspsv: the
// layer-matrix steps written directly with std::complex<double> (eight
// complex exponentials and two square roots per layer, full 4x4 products
// J = J A from the bottom up, E G J, Cramer's rule, the profile applying each
// layer matrix again), kept here only to measure; it has no range protection.
// BM_*_timing_run: the model of bench/time_runs.sh (49 graded soft layers, SV
// at 20 degrees) over its 30000 frequencies 0, 0.005, ... 150; the sweep also
// with the frequency-proportional damping law (IQF = 2), whose layer constants
// are formed per frequency.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cmath>
#include <complex>
#include <map>
#include <vector>

#include "bench_models.hpp"
#include "layers/complex_ops.hpp"
#include "console/engines/haspsv.hpp"
#include "console/engines/psv_sweep.hpp"

namespace velmar {
namespace {

using namespace console;
using namespace detail;

using bench::SWEEP;
using bench::sweep;

// Stiffening with depth, moderately damped; soft = ten times softer S waves
// with Q of 5, where exp(X_S - X_P) is large enough above a few Hz that the
// stable solve splits layers.
LayerTable graded_model(int nlayer, bool soft) {
  LayerTable t = bench::graded_base(nlayer, soft ? 0.3f : 1.0f);
  for (int k = 0; k < nlayer; ++k) {
    const float x = static_cast<float>(k);
    t.QS[k] = soft ? 5.0f : 10.0f + 2.0f * x;
    t.VPC[k] = {1500.0f + 20.0f * x, 0.0f};
    t.QP[k] = 50.0f + 4.0f * x;
  }
  t.VPC[nlayer] = {4000.0f, 0.0f};
  return t;
}

using C = std::complex<double>;
using M4 = std::array<std::array<C, 4>, 4>;

M4 mul(const M4& a, const M4& b) {
  M4 c{};
  for (int r = 0; r < 4; ++r) {
    for (int col = 0; col < 4; ++col) {
      C s = 0.0;
      for (int m = 0; m < 4; ++m) s += a[r][m] * b[m][col];
      c[r][col] = s;
    }
  }
  return c;
}

// The layer-matrix steps written directly with std::complex<double>.
void baseline_haspsv(const LayerTable& table, int ITYPE, float ANGAZ, float ANGLE, float& F,
                     int IPROF, ResponseArray& UPS, ResponseArray& WPS) {
  const double pi = 4.0 * std::atan(1.0);
  const double saz = std::sin(pi * ANGAZ / 180.0);
  if (std::abs(saz) < 0.001) return;
  if (F == 0.0f) F = 1.0e-6f;
  const double theta = pi * ANGLE / 180.0;
  const double omega = F * 2.0 * pi;
  const double w2 = omega * omega;
  const int N = table.NLAYER;
  const C bh(table.VSC[N]);
  const C ah(table.VPC[N]);
  const C muh = double(table.RHO[N]) * bh * bh;
  const C k = omega * std::sin(theta) / (ITYPE == 2 ? bh : ah);
  const C k2 = k * k;
  const C I(0.0, 1.0);
  std::array<M4, MAX_ENTRIES - 1> A;
  for (int m = 0; m < N; ++m) {
    const double h = table.THICK[m];
    const double rho = table.RHO[m];
    const C dS(1.0, table.IQF == 2 ? 0.5 / (table.QS[m] * F) : 0.5 / table.QS[m]);
    const C dP(1.0, table.IQF == 2 ? 0.5 / (table.QP[m] * F) : 0.5 / table.QP[m]);
    const C b = C(table.VSC[m]) / dS;
    const C a = C(table.VPC[m]) / dP;
    const C mu = b * (rho * b);
    const C na = csqrt_branch(k2 - (w2 / a) / a);
    const C nb = csqrt_branch(k2 - (w2 / b) / b);
    const C g = nb * nb + k2;
    const double c0 = 1.0 / (w2 * rho);
    const C c1 = mu * c0;
    auto sinh = [](C z) { return (std::exp(z) - std::exp(-z)) / 2.0; };
    const C sa = sinh(h * na / 2.0);
    const C sb = sinh(h * nb / 2.0);
    const C Sa = sa * sa;
    const C Sb = sb * sb;
    const C Ha = sinh(h * na);
    const C Hb = sinh(h * nb);
    M4& L = A[m];
    L[0][0] = 1.0 + 2.0 * c1 * (2.0 * k2 * Sa - g * Sb);
    L[0][1] = c1 * k * (g * Ha / na - 2.0 * nb * Hb);
    L[0][2] = c0 * (k2 * Ha / na - nb * Hb);
    L[0][3] = 2.0 * k * c0 * (Sa - Sb);
    L[1][0] = c1 * k * (g * Hb / nb - 2.0 * na * Ha);
    L[1][1] = 1.0 + 2.0 * c1 * (2.0 * k2 * Sb - g * Sa);
    L[1][2] = -L[0][3];
    L[1][3] = c0 * (k2 * Hb / nb - na * Ha);
    L[2][0] = c1 * mu * (4.0 * k2 * na * Ha - g * g * Hb / nb);
    L[2][1] = 2.0 * mu * mu * g * L[0][3];
    L[2][2] = L[0][0];
    L[2][3] = -L[1][0];
    L[3][0] = -L[2][1];
    L[3][1] = c1 * mu * (4.0 * k2 * nb * Hb - g * g * Ha / na);
    L[3][2] = -L[0][1];
    L[3][3] = L[1][1];
  }
  M4 J{};
  for (int r = 0; r < 4; ++r) J[r][r] = 1.0;
  for (int m = N - 1; m >= 0; --m) J = mul(J, A[m]);
  const double st = std::sin(theta);
  C nah;
  C nbh;
  if (ITYPE == 2) {
    nbh = -I * omega * std::cos(theta) / bh;
    nah = -I * omega * csqrt_branch(1.0 - (st * ah / bh) * (st * ah / bh)) / ah;
  } else {
    nah = -I * omega * std::cos(theta) / ah;
    nbh = -I * omega * csqrt_branch(1.0 - (st * bh / ah) * (st * bh / ah)) / bh;
  }
  const C gh = nbh * nbh + k2;
  const C Fh = bh / (2.0 * omega * muh * ah * nah * nbh);
  M4 G{};
  G[0][0] = 2.0 * nbh * nah * k * muh * bh;
  G[1][0] = -gh * nah * muh * ah;
  G[2][0] = G[0][0];
  G[3][0] = G[1][0];
  G[0][1] = -gh * nbh * muh * bh;
  G[1][1] = 2.0 * nbh * nah * k * muh * ah;
  G[2][1] = -G[0][1];
  G[3][1] = -G[1][1];
  G[0][2] = -nbh * k * bh;
  G[1][2] = nbh * nah * ah;
  G[2][2] = -G[0][2];
  G[3][2] = -G[1][2];
  G[0][3] = nbh * nah * bh;
  G[1][3] = -nah * k * ah;
  G[2][3] = G[0][3];
  G[3][3] = G[1][3];
  M4 E{};
  E[0][0] = Fh;
  E[1][1] = -I * Fh;
  E[2][2] = Fh;
  E[3][3] = -I * Fh;
  const M4 R = mul(mul(E, G), J);
  C u;
  C w;
  if (ITYPE == 2) {
    const C D = R[2][0] * R[3][1] - R[2][1] * R[3][0];
    u = -R[2][1] / D;
    w = I * R[2][0] / D;
  } else {
    const C D = R[2][1] * R[3][0] - R[3][1] * R[2][0];
    u = -R[3][1] / D;
    w = I * R[3][0] / D;
  }
  UPS[0] = cfloat(saz * u);
  WPS[0] = cfloat(saz * w);
  if (IPROF == 0) return;
  std::array<C, 4> W = {C(UPS[0]), C(WPS[0]) / I, 0.0, 0.0};
  for (int m = 0; m < N; ++m) {
    std::array<C, 4> next{};
    for (int r = 0; r < 4; ++r) {
      for (int c = 0; c < 4; ++c) next[r] += A[m][r][c] * W[c];
    }
    W = next;
    UPS[m + 1] = cfloat(W[0]);
    WPS[m + 1] = cfloat(I * W[1]);
  }
}

enum class Variant { HASPSV_AUTO, BASELINE };

using Clock = std::chrono::steady_clock;

template <Variant V>
void evaluate(const LayerTable& t, const std::vector<float>& grid, ResponseArray& ups, ResponseArray& wps) {
  for (float f0 : grid) {
    float f = f0;
    if constexpr (V == Variant::HASPSV_AUTO) {
      HASPSV(t, 1, 90.0f, 20.0f, f, 1, ups, wps);
    } else {
      baseline_haspsv(t, 1, 90.0f, 20.0f, f, 1, ups, wps);
    }
    benchmark::DoNotOptimize(ups);
    benchmark::DoNotOptimize(wps);
  }
}

std::vector<float> sweep_grid() {
  const std::array<float, SWEEP> g = sweep();
  return {g.begin(), g.end()};
}

// The baseline's seconds per sweep of the graded model, measured once per
// layer count and softness from at least 0.05 s of repeated sweeps.
double baseline_seconds(int nlayer, bool soft) {
  static std::map<std::pair<int, bool>, double> measured;
  const auto key = std::make_pair(nlayer, soft);
  if (!measured.contains(key)) {
    const LayerTable t = graded_model(nlayer, soft);
    const std::vector<float> grid = sweep_grid();
    ResponseArray ups{};
    ResponseArray wps{};
    long sweeps = 0;
    const Clock::time_point t0 = Clock::now();
    double elapsed = 0.0;
    do {
      evaluate<Variant::BASELINE>(t, grid, ups, wps);
      ++sweeps;
      elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    } while (elapsed < 0.05);
    measured[key] = elapsed / static_cast<double>(sweeps);
  }
  return measured[key];
}

void set_counters(benchmark::State& state, int nlayer, bool soft, double seconds) {
  state.counters["per_layer_freq"] = benchmark::Counter(
      static_cast<double>(nlayer) * SWEEP,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  const double own = seconds / static_cast<double>(state.iterations());
  state.counters["vs_baseline"] = baseline_seconds(nlayer, soft) / own;
}

template <Variant V, bool SOFT>
void run_sweep(benchmark::State& state) {
  const int nlayer = static_cast<int>(state.range(0));
  const LayerTable t = graded_model(nlayer, SOFT);
  const std::vector<float> grid = sweep_grid();
  ResponseArray ups{};
  ResponseArray wps{};
  const Clock::time_point t0 = Clock::now();
  for (auto _ : state) evaluate<V>(t, grid, ups, wps);
  set_counters(state, nlayer, SOFT, std::chrono::duration<double>(Clock::now() - t0).count());
}

template <bool SOFT>
void run_psv_sweep(benchmark::State& state) {
  const int nlayer = static_cast<int>(state.range(0));
  const LayerTable t = graded_model(nlayer, SOFT);
  std::vector<float> grid = sweep_grid();
  std::vector<cfloat> u(grid.size());
  std::vector<cfloat> w(grid.size());
  static PsvSweepWork work;
  const Clock::time_point t0 = Clock::now();
  for (auto _ : state) {
    psv_sweep(t, 1, 20.0f, grid, u, w, work);
    benchmark::DoNotOptimize(u.data());
    benchmark::DoNotOptimize(w.data());
    benchmark::ClobberMemory();
  }
  set_counters(state, nlayer, SOFT, std::chrono::duration<double>(Clock::now() - t0).count());
}

// The model of bench/time_runs.sh: 49 graded soft layers, VP = 2 VS, QP = 2 QS.
LayerTable timing_model() {
  LayerTable t;
  t.NLAYER = 49;
  t.IQF = 1;
  for (int k = 0; k < 49; ++k) {
    const float vs = static_cast<float>(150 + 12 * k + 40 * (k % 3));
    const float qs = static_cast<float>(5 + 2 * k);
    t.THICK[k] = 2.0f + 0.5f * static_cast<float>(k);
    t.RHO[k] = 1.6f + 0.01f * static_cast<float>(k);
    t.VSC[k] = {vs, 0.0f};
    t.QS[k] = qs;
    t.VPC[k] = {2.0f * vs, 0.0f};
    t.QP[k] = 2.0f * qs;
  }
  t.RHO[49] = 2.5f;
  t.VSC[49] = {2000.0f, 0.0f};
  t.VPC[49] = {4000.0f, 0.0f};
  return t;
}

constexpr int RUN_NF = 30000;

std::vector<float> run_grid() {
  std::vector<float> f(RUN_NF);
  for (int i = 0; i < RUN_NF; ++i) f[i] = static_cast<float>(i) * 0.005f;
  return f;
}

void BM_HASPSV_timing_run(benchmark::State& state) {
  const LayerTable t = timing_model();
  const std::vector<float> grid = run_grid();
  ResponseArray ups{};
  ResponseArray wps{};
  for (auto _ : state) {
    for (float f0 : grid) {
      float f = f0;
      HASPSV(t, 2, 90.0f, 20.0f, f, 1, ups, wps);
      benchmark::DoNotOptimize(ups);
    }
  }
  state.counters["per_layer_freq"] = benchmark::Counter(
      49.0 * RUN_NF, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_psv_sweep_timing_run(benchmark::State& state) {
  LayerTable t = timing_model();
  t.IQF = static_cast<int>(state.range(0));
  std::vector<float> grid = run_grid();
  std::vector<cfloat> u(grid.size());
  std::vector<cfloat> w(grid.size());
  static PsvSweepWork work;
  int blocked = 0;
  for (auto _ : state) {
    blocked = psv_sweep(t, 2, 20.0f, grid, u, w, work);
    benchmark::DoNotOptimize(u.data());
    benchmark::ClobberMemory();
  }
  state.counters["per_layer_freq"] = benchmark::Counter(
      49.0 * RUN_NF, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["block_share"] = static_cast<double>(blocked) / RUN_NF;
}

void layer_args(benchmark::internal::Benchmark* b) { b->Arg(1)->Arg(10)->Arg(49); }

void BM_HASPSV(benchmark::State& s) { run_sweep<Variant::HASPSV_AUTO, false>(s); }
void BM_HASPSV_soft(benchmark::State& s) { run_sweep<Variant::HASPSV_AUTO, true>(s); }
void BM_baseline_haspsv(benchmark::State& s) { run_sweep<Variant::BASELINE, false>(s); }
void BM_psv_sweep(benchmark::State& s) { run_psv_sweep<false>(s); }
void BM_psv_sweep_soft(benchmark::State& s) { run_psv_sweep<true>(s); }

BENCHMARK(BM_HASPSV)->Apply(layer_args);
BENCHMARK(BM_HASPSV_soft)->Apply(layer_args);
BENCHMARK(BM_baseline_haspsv)->Apply(layer_args);
BENCHMARK(BM_psv_sweep)->Apply(layer_args);
BENCHMARK(BM_psv_sweep_soft)->Apply(layer_args);
BENCHMARK(BM_HASPSV_timing_run)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_psv_sweep_timing_run)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(2)->ArgName("IQF");

}  // namespace
}  // namespace velmar

BENCHMARK_MAIN();
