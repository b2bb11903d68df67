// bench_signal.cpp: the program's FFT and convolution, with single-precision
// FFTW (split real/imaginary arrays, the same layout) beside them as the yardstick.
//
// CFFT9X is timed in place for one contiguous transform (INC = 1, NTR = 1),
// as CONVOL calls it. CONVOL is timed whole, including the trig table and
// factor list it rebuilds on every call; its yardstick is a planned FFTW
// forward transform, the product by the response and the back transform.
// Without FFTW the yardsticks are skipped with a message.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <span>
#include <vector>

#include "console/signal/convol.hpp"
#include "console/signal/fft.hpp"
#include "console/signal/fft_setup.hpp"

#if defined(VELMAR_HAVE_FFTW)
#include <fftw3.h>
#endif

namespace {

using namespace velmar;
using namespace velmar::console;

std::vector<float> random_floats(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (float& x : v) x = dist(gen);
  return v;
}

void set_rate(benchmark::State& state, int n) {
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_CFFT9X(benchmark::State& state, int ISGN) {
  const int N = static_cast<int>(state.range(0));
  const std::size_t n = static_cast<std::size_t>(N);
  std::vector<float> TRIG(2 * n), WORK(2 * n);
  std::array<int, MAX_FACTORS> LFAC{};
  CFTFAX(N, LFAC, TRIG);
  std::vector<float> re = random_floats(n, 1u), im = random_floats(n, 2u);
  for (auto _ : state) {
    CFFT9X(re, im, WORK, TRIG, LFAC, 1, N, N, 1, ISGN);
    benchmark::DoNotOptimize(re.data());
    benchmark::DoNotOptimize(im.data());
    benchmark::ClobberMemory();
    // The data grow by up to N per transform; keep them finite.
    if (std::abs(re[0]) > 1e30f) {
      re = random_floats(n, 1u);
      im = random_floats(n, 2u);
    }
  }
  set_rate(state, N);
}

void BM_CFFT9X_forward(benchmark::State& state) { BM_CFFT9X(state, 1); }
void BM_CFFT9X_backward(benchmark::State& state) { BM_CFFT9X(state, -1); }

void BM_CONVOL(benchmark::State& state) {
  const int N = static_cast<int>(state.range(0));
  const std::size_t n = static_cast<std::size_t>(N);
  std::vector<float> TRIG(2 * n), WORK(2 * n), XIM(n);
  std::array<int, MAX_FACTORS> LFAC{};
  const std::vector<float> x = random_floats(n, 3u);
  std::vector<float> TR = random_floats(n, 4u), TI = random_floats(n, 5u);
  std::vector<float> XRE = x;
  for (auto _ : state) {
    XRE = x;  // the filter is applied to the same record every time
    CONVOL(XRE, XIM, TR, TI, TRIG, WORK, LFAC, N, 1);
    benchmark::DoNotOptimize(XRE.data());
    benchmark::ClobberMemory();
  }
  set_rate(state, N);
}

#if defined(VELMAR_HAVE_FFTW)

// A split-array, in-place FFTW plan for one transform of length N, on arrays
// from fftwf_alloc_real (aligned as FFTW's SIMD code wants; the data are only
// ever copied in, so the plan always runs on the arrays it was made for).
// FFTW's forward sign is -1; the opposite direction swaps the two arrays,
// which needs a plan of its own (a plan keeps the distance from the real to
// the imaginary array it was made with).
struct FftwPlan {
  std::size_t n;
  float* re_ptr;
  float* im_ptr;
  fftwf_plan plan;
  fftwf_plan plan_swapped;
  std::span<float> re, im;
  explicit FftwPlan(int N)
      : n(static_cast<std::size_t>(N)),
        re_ptr(fftwf_alloc_real(n)),
        im_ptr(fftwf_alloc_real(n)),
        plan(make(N, re_ptr, im_ptr)),
        plan_swapped(make(N, im_ptr, re_ptr)),
        re(re_ptr, n),
        im(im_ptr, n) {
    fill_random();
  }
  ~FftwPlan() {
    fftwf_destroy_plan(plan);
    fftwf_destroy_plan(plan_swapped);
    fftwf_free(re_ptr);
    fftwf_free(im_ptr);
  }
  FftwPlan(const FftwPlan&) = delete;
  FftwPlan& operator=(const FftwPlan&) = delete;
  static fftwf_plan make(int N, float* r, float* i) {
    fftwf_iodim dim{N, 1, 1};
    return fftwf_plan_guru_split_dft(1, &dim, 0, nullptr, r, i, r, i, FFTW_MEASURE);
  }
  void fill_random() {
    const std::vector<float> r = random_floats(n, 1u), i = random_floats(n, 2u);
    std::copy(r.begin(), r.end(), re.begin());
    std::copy(i.begin(), i.end(), im.begin());
  }
  void forward() { fftwf_execute_split_dft(plan, re_ptr, im_ptr, re_ptr, im_ptr); }
  void backward() { fftwf_execute_split_dft(plan_swapped, im_ptr, re_ptr, im_ptr, re_ptr); }
};

void BM_FFTW(benchmark::State& state, bool fwd) {
  const int N = static_cast<int>(state.range(0));
  FftwPlan p(N);
  for (auto _ : state) {
    if (fwd) {
      p.forward();
    } else {
      p.backward();
    }
    benchmark::DoNotOptimize(p.re.data());
    benchmark::ClobberMemory();
    if (std::abs(p.re[0]) > 1e30f) p.fill_random();
  }
  set_rate(state, N);
}

void BM_FFTW_forward(benchmark::State& state) { BM_FFTW(state, true); }
void BM_FFTW_backward(benchmark::State& state) { BM_FFTW(state, false); }

void BM_FFTW_convolution(benchmark::State& state) {
  const int N = static_cast<int>(state.range(0));
  const std::size_t n = static_cast<std::size_t>(N);
  FftwPlan p(N);
  const std::vector<float> x = random_floats(n, 3u);
  const std::vector<float> tr = random_floats(n, 4u), ti = random_floats(n, 5u);
  const float scale = 1.0f / static_cast<float>(N);
  for (auto _ : state) {
    std::copy(x.begin(), x.end(), p.re.begin());
    std::fill(p.im.begin(), p.im.end(), 0.0f);
    p.backward();  // the exponent sign +1, as CONVOL's forward transform
    for (std::size_t k = 0; k < n; ++k) {
      const float r = p.re[k] * tr[k] - p.im[k] * ti[k];
      const float i = p.re[k] * ti[k] + p.im[k] * tr[k];
      p.re[k] = r;
      p.im[k] = i;
    }
    p.forward();
    for (float& v : p.re) v *= scale;
    benchmark::DoNotOptimize(p.re.data());
    benchmark::ClobberMemory();
  }
  set_rate(state, N);
}

#endif

void fft_lengths(benchmark::internal::Benchmark* b) {
  for (int n : {2000, 2160, 4000, 8192, 60000}) b->Arg(n);
  b->Unit(benchmark::kMicrosecond);
}

void convol_lengths(benchmark::internal::Benchmark* b) {
  for (int n : {4000, 60000}) b->Arg(n);
  b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_CFFT9X_forward)->Apply(fft_lengths);
#if defined(VELMAR_HAVE_FFTW)
BENCHMARK(BM_FFTW_forward)->Apply(fft_lengths);
#endif
BENCHMARK(BM_CFFT9X_backward)->Apply(fft_lengths);
#if defined(VELMAR_HAVE_FFTW)
BENCHMARK(BM_FFTW_backward)->Apply(fft_lengths);
#endif
BENCHMARK(BM_CONVOL)->Apply(convol_lengths);
#if defined(VELMAR_HAVE_FFTW)
BENCHMARK(BM_FFTW_convolution)->Apply(convol_lengths);
#endif

}  // namespace

int main(int argc, char** argv) {
#if !defined(VELMAR_HAVE_FFTW)
  std::printf("FFTW (single precision, libfftw3f) was not found when this was built: "
              "the comparison with it is skipped.\n");
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
