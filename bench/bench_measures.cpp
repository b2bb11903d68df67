// bench_measures.cpp: response spectra of a 12 000-sample record at 100
// periods and Konno-Ohmachi smoothing of a 32 768-point spectrum onto 500
// centres (the sizes of the speed goals), with a one-period-at-a-time
// recursion and the full window sum as yardsticks; spectra of a long record
// that ends in silence (the oscillators' states decay towards the smallest
// doubles there) against the same record ending in a low noise.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "velmar/velmar.hpp"

namespace {

using namespace velmar;

std::vector<double> record(std::size_t n) {
  std::vector<double> a(n);
  for (std::size_t j = 0; j < n; ++j) {
    const double t = 0.005 * static_cast<double>(j);
    a[j] = 0.3 * std::sin(2.0 * std::numbers::pi * (0.5 + 0.2 * t) * t) * std::exp(-0.05 * t);
  }
  return a;
}

void BM_ResponseSpectrum(benchmark::State& state) {
  const std::vector<double> a = record(static_cast<std::size_t>(state.range(0)));
  const std::vector<double> periods = default_periods();
  for (auto _ : state) {
    ResponseSpectrum rs = response_spectrum(a, 0.005, periods, 0.05);
    benchmark::DoNotOptimize(rs.sd.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * static_cast<int64_t>(periods.size()));
}
BENCHMARK(BM_ResponseSpectrum)->Arg(12000)->Unit(benchmark::kMillisecond);

// Yardstick: the same work one period per call (no interleaving of periods).
void BM_ResponseSpectrumOnePeriodPerCall(benchmark::State& state) {
  const std::vector<double> a = record(static_cast<std::size_t>(state.range(0)));
  const std::vector<double> periods = default_periods();
  for (auto _ : state) {
    for (std::size_t i = 0; i < periods.size(); ++i) {
      ResponseSpectrum rs = response_spectrum(a, 0.005, std::span(periods).subspan(i, 1), 0.05);
      benchmark::DoNotOptimize(rs.sd.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * static_cast<int64_t>(periods.size()));
}
BENCHMARK(BM_ResponseSpectrumOnePeriodPerCall)->Arg(12000)->Unit(benchmark::kMillisecond);

// 12 000 samples of motion, then `n` - 12 000 samples of zeros (`noise` 0)
// or of a noise of 1e-6 of the motion's peak.
std::vector<double> record_with_tail(std::size_t n, double noise) {
  std::vector<double> a = record(12000);
  a.resize(n, 0.0);
  std::uint64_t state = 12345;
  for (std::size_t j = 12000; j < n; ++j) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    a[j] = noise * (static_cast<double>(state >> 11) * 0x1.0p-53 - 0.5);
  }
  return a;
}

void BM_ResponseSpectrumSilentTail(benchmark::State& state) {
  const std::vector<double> a = record_with_tail(static_cast<std::size_t>(state.range(0)), 0.0);
  const std::vector<double> periods = default_periods();
  for (auto _ : state) {
    ResponseSpectrum rs = response_spectrum(a, 0.005, periods, 0.05);
    benchmark::DoNotOptimize(rs.sd.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * static_cast<int64_t>(periods.size()));
}
BENCHMARK(BM_ResponseSpectrumSilentTail)->Arg(400000)->Unit(benchmark::kMillisecond);

// Yardstick: the same length ending in a low noise (no state decays far).
void BM_ResponseSpectrumNoiseTail(benchmark::State& state) {
  const std::vector<double> a = record_with_tail(static_cast<std::size_t>(state.range(0)), 3e-7);
  const std::vector<double> periods = default_periods();
  for (auto _ : state) {
    ResponseSpectrum rs = response_spectrum(a, 0.005, periods, 0.05);
    benchmark::DoNotOptimize(rs.sd.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * static_cast<int64_t>(periods.size()));
}
BENCHMARK(BM_ResponseSpectrumNoiseTail)->Arg(400000)->Unit(benchmark::kMillisecond);

struct Spectrum {
  std::vector<double> freqs, amp, centres;
};

Spectrum spectrum(std::size_t n, std::size_t nc) {
  Spectrum s;
  std::vector<double> a = record(2 * (n - 1));
  s.amp = fourier_amplitude(a, 0.005, s.freqs);
  s.centres.resize(nc);
  for (std::size_t j = 0; j < nc; ++j) {
    s.centres[j] = 0.1 * std::pow(1000.0, static_cast<double>(j) / static_cast<double>(nc - 1));
  }
  return s;
}

void BM_KonnoOhmachi(benchmark::State& state) {
  const Spectrum s = spectrum(static_cast<std::size_t>(state.range(0)), 500);
  for (auto _ : state) {
    std::vector<double> y = konno_ohmachi(s.freqs, s.amp, s.centres, 40.0);
    benchmark::DoNotOptimize(y.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * 500);
}
BENCHMARK(BM_KonnoOhmachi)->Arg(32768)->Unit(benchmark::kMillisecond);

// Yardstick: the window summed over the whole spectrum, a log and a sine per term.
void BM_KonnoOhmachiFullSum(benchmark::State& state) {
  const Spectrum s = spectrum(static_cast<std::size_t>(state.range(0)), 500);
  const double b = 40.0;
  for (auto _ : state) {
    std::vector<double> y(s.centres.size());
    for (std::size_t j = 0; j < s.centres.size(); ++j) {
      double num = 0, den = 0;
      for (std::size_t k = 1; k < s.freqs.size(); ++k) {
        const double x = b * std::log10(s.freqs[k] / s.centres[j]);
        const double w = x == 0 ? 1.0 : std::pow(std::sin(x) / x, 4);
        num += w * s.amp[k];
        den += w;
      }
      y[j] = num / den;
    }
    benchmark::DoNotOptimize(y.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * 500);
}
BENCHMARK(BM_KonnoOhmachiFullSum)->Arg(32768)->Unit(benchmark::kMillisecond);

void BM_FourierAmplitude(benchmark::State& state) {
  const std::vector<double> a = record(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::vector<double> f;
    std::vector<double> y = fourier_amplitude(a, 0.005, f);
    benchmark::DoNotOptimize(y.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FourierAmplitude)->Arg(12000)->Arg(65536)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
