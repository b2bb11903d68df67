// bench_propagate.cpp: a record filtered through a profile (propagate, with
// and without a caller's workspace), and the equivalent-linear iteration on
// a borehole-style case (five layers, 30 000 samples) with the record given
// at an outcrop and within the profile at the top of the half-space.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "bench/bench_records.hpp"

#include "velmar/velmar.hpp"

// Allocations are counted (the workspace call reports them per call).
namespace {
std::atomic<long> allocations{0};
// Out of line, so the compiler does not pair the malloc inside with a
// delete it inlines.
[[gnu::noinline]] void* counted_new(std::size_t n) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void counted_delete(void* p) noexcept { std::free(p); }
}  // namespace

void* operator new(std::size_t n) { return counted_new(n); }
void operator delete(void* p) noexcept { counted_delete(p); }
void operator delete(void* p, std::size_t) noexcept { counted_delete(p); }
void* operator new[](std::size_t n) { return counted_new(n); }
void operator delete[](void* p) noexcept { counted_delete(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_delete(p); }

namespace {

using namespace velmar;


Profile layered(std::size_t layers, double h) {
  std::vector<double> th, rho, vs, xi;
  for (std::size_t k = 0; k < layers; ++k) {
    const double x = static_cast<double>(k);
    th.push_back(h);
    rho.push_back(1.75 + 0.005 * x);
    vs.push_back(140.0 + 40.0 * x);
    xi.push_back(0.02);
  }
  th.push_back(0.0), rho.push_back(2.4), vs.push_back(1000.0), xi.push_back(0.01);
  return Profile(th, rho, vs, xi);
}

// propagate (the value-returning call) on 12 000 samples, 30 layers.
void BM_propagate(benchmark::State& state) {
  const Record r = bench_record(12000, 7);
  const Profile p = layered(30, 2.0);
  PropagateOptions o;
  for (auto _ : state) benchmark::DoNotOptimize(propagate(r, p, o).data());
}

// The same with a workspace, into the caller's array: each call takes
// another record of the same length.
void BM_propagate_workspace(benchmark::State& state) {
  const std::vector<Record> r{bench_record(12000, 7), bench_record(12000, 8)};
  const Profile p = layered(30, 2.0);
  PropagateOptions o;
  Workspace ws;
  std::vector<double> out(12000);
  propagate(r[0], p, o, ws, out);
  std::size_t k = 0;
  const long before = allocations.load();
  for (auto _ : state) {
    propagate(r[++k % 2], p, o, ws, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["allocs_per_call"] =
      static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations());
}

// The iteration on five layers over a half-space, 30 000 samples; arg 0:
// outcrop input, 1: within, at the top of the half-space (a borehole).
void BM_eql_borehole(benchmark::State& state) {
  const Record r = bench_record(30000, 11);
  const Profile p = layered(5, 8.0);
  EquivalentLinearOptions o;
  for (std::size_t k = 0; k < 5; ++k) o.curves.push_back(Darendeli{10.0 + 10.0 * static_cast<double>(k % 3)});
  o.water_table = 2.0;
  o.tolerance = 1e-12;  // a fixed number of passes
  o.max_iterations = 8;
  if (state.range(0) == 1) o.input = InputMotion::WITHIN, o.input_depth = p.halfspace_depth();
  int passes = 0;
  for (auto _ : state) {
    const EquivalentLinearResult res = equivalent_linear(r, p, o);
    passes = res.iterations;
    benchmark::DoNotOptimize(res.g_ratio.data());
  }
  state.counters["passes"] = passes;
  state.SetLabel(state.range(0) == 1 ? "within" : "outcrop");
}

BENCHMARK(BM_propagate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_propagate_workspace)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_eql_borehole)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
