#include "console/signal/convol.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "console/signal/fft_error.hpp"
#include "console/signal/fft_setup.hpp"
#include "signal_test_support.hpp"

namespace velmar::console {
namespace {

using test::CLD;
using test::EPS;

// Filtering is two transforms and one product per bin: the error of the
// output, relative to its RMS, is within twice the FFT's (fft_test measured
// at most 0.27 eps log2 N per transform); 4 eps log2 N per transform allows
// a single sample a few times the RMS error.
double sample_tolerance(int n) { return 2.0 * 4.0 * EPS * std::log2(static_cast<double>(n)); }

// Storage of one call, with GUARD extra elements beyond N in the arrays
// whose tails must stay untouched.
struct Convolution {
  static constexpr float GUARD = -31.5f;
  static constexpr std::size_t EXTRA = 4;
  int N;
  std::vector<float> XRE, XIM, TR, TI, TRIG, WORK;
  std::array<int, MAX_FACTORS> LFAC{};
  Convolution(const std::vector<float>& x, int n)
      : N(n),
        XRE(static_cast<std::size_t>(n) + EXTRA, GUARD),
        XIM(static_cast<std::size_t>(n), 99.0f),  // ignored on entry
        TR(static_cast<std::size_t>(n) + EXTRA, GUARD),
        TI(static_cast<std::size_t>(n) + EXTRA, GUARD),
        TRIG(2 * static_cast<std::size_t>(n)),
        WORK(2 * static_cast<std::size_t>(n)) {
    std::copy(x.begin(), x.end(), XRE.begin());
  }
  void set_response(const std::vector<float>& tr, const std::vector<float>& ti) {
    std::copy(tr.begin(), tr.end(), TR.begin());
    std::copy(ti.begin(), ti.end(), TI.begin());
  }
  void run(int iconv) {
    CONVOL(std::span<float>(XRE).first(static_cast<std::size_t>(N)), XIM,
           std::span<float>(TR).first(static_cast<std::size_t>(N)),
           std::span<float>(TI).first(static_cast<std::size_t>(N)), TRIG, WORK, LFAC, N, iconv);
  }
  std::vector<float> record() const { return {XRE.begin(), XRE.begin() + N}; }
};

// The record filtered in long double by the direct sums: the response
// completed to N bins (bin N/2 zero, conjugate mirror above), multiplied or,
// for iconv = 2, divided with the floor 1.0e-7 on |T|^2.
std::vector<double> reference(const std::vector<float>& x, const std::vector<float>& tr,
                              const std::vector<float>& ti, int iconv) {
  const std::size_t n = x.size(), half = n / 2;
  std::vector<CLD> xc(n);
  for (std::size_t j = 0; j < n; ++j) xc[j] = x[j];
  std::vector<CLD> X = test::direct_dft(xc, 1);
  for (std::size_t k = 0; k < n; ++k) {
    CLD T = 0;
    if (k < half) T = CLD(tr[k], ti[k]);
    if (k > half) T = std::conj(CLD(tr[n - k], ti[n - k]));
    if (iconv == 2) {
      const long double d = std::max<long double>(std::norm(T), 1.0e-7f);
      X[k] = X[k] * std::conj(T) / d;
    } else {
      X[k] *= T;
    }
  }
  const std::vector<CLD> y = test::direct_dft(X, -1);
  std::vector<double> out(n);
  for (std::size_t j = 0; j < n; ++j) out[j] = static_cast<double>(y[j].real() / n);
  return out;
}

double rms(const std::vector<double>& v) {
  double s = 0;
  for (double a : v) s += a * a;
  return std::sqrt(s / static_cast<double>(v.size()));
}

void expect_close(const std::vector<float>& got, const std::vector<double>& want, double scale, int n) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t j = 0; j < got.size(); ++j) {
    ASSERT_NEAR(got[j], want[j], sample_tolerance(n) * scale) << "j=" << j;
  }
}

std::vector<float> constant(std::size_t n, float v) { return std::vector<float>(n, v); }

// The record filtered by the flat response value + 0i at every filled frequency.
std::vector<float> filter_flat(const std::vector<float>& x, float value, int iconv) {
  const int N = static_cast<int>(x.size());
  Convolution c(x, N);
  c.set_response(constant(x.size() / 2, value), constant(x.size() / 2, 0.0f));
  c.run(iconv);
  return c.record();
}

// The record without its component at half the sampling frequency:
// x_j - (-1)^j (1/N) sum_m (-1)^m x_m.
std::vector<double> without_nyquist(const std::vector<float>& x, double factor) {
  double a = 0;
  for (std::size_t m = 0; m < x.size(); ++m) a += (m % 2 ? -1.0 : 1.0) * x[m];
  a /= static_cast<double>(x.size());
  std::vector<double> out(x.size());
  for (std::size_t j = 0; j < x.size(); ++j) out[j] = factor * (x[j] - (j % 2 ? -a : a));
  return out;
}

TEST(CONVOL, RandomResponseMatchesDirectFilterInBothModes) {
  for (int N : {6, 120, 360, 2160}) {
    const std::size_t n = static_cast<std::size_t>(N), half = n / 2;
    const std::vector<float> x = test::random_floats(n, 51u);
    std::vector<float> tr = test::random_floats(half, 52u), ti = test::random_floats(half, 53u);
    for (int iconv : {1, 2, 0}) {
      if (iconv == 2) {  // keep |T| away from zero so the floor is not reached
        for (float& v : tr) v = 1.5f + 0.5f * v;
      }
      Convolution c(x, N);
      c.set_response(tr, ti);
      c.run(iconv);
      const std::vector<double> want = reference(x, tr, ti, iconv);
      SCOPED_TRACE(testing::Message() << "N=" << N << " ICONV=" << iconv);
      expect_close(c.record(), want, std::max(rms(want), 1.0 / std::sqrt(3.0)), N);
    }
  }
}

TEST(CONVOL, UnitResponseRemovesOnlyTheHalfSamplingComponent) {
  const int N = 2000;
  const std::vector<float> x = test::random_floats(N, 61u);
  expect_close(filter_flat(x, 1.0f, 1), without_nyquist(x, 1.0), 1.0, N);

  std::vector<float> alt(N);
  for (int j = 0; j < N; ++j) alt[static_cast<std::size_t>(j)] = j % 2 ? -1.0f : 1.0f;
  expect_close(filter_flat(alt, 1.0f, 1), std::vector<double>(N, 0.0), 1.0, N);
}

TEST(CONVOL, ZeroResponseGivesZerosInBothModes) {
  const int N = 360;
  for (int iconv : {1, 2}) {
    for (float v : filter_flat(test::random_floats(N, 71u), 0.0f, iconv)) {
      ASSERT_EQ(std::abs(v), 0.0f) << "ICONV=" << iconv;
    }
  }
}

TEST(CONVOL, DivisionByTwoHalvesTheRecord) {
  const int N = 4000;
  const std::vector<float> x = test::random_floats(N, 81u);
  expect_close(filter_flat(x, 2.0f, 2), without_nyquist(x, 0.5), 0.5, N);
}

// Bin 0 is used as given: its imaginary part multiplies the imaginary part
// of the spectrum at frequency 0, which is zero for a real record.
TEST(CONVOL, MeanIsScaledByTheRealResponseAtFrequencyZero) {
  const int N = 1080;
  std::vector<float> x = test::random_floats(N, 91u);
  for (float& v : x) v += 0.75f;
  std::vector<float> tr = test::random_floats(N / 2, 92u), ti = test::random_floats(N / 2, 93u);
  tr[0] = 0.7f;
  ti[0] = 5.0f;
  Convolution c(x, N);
  c.set_response(tr, ti);
  c.run(1);
  double in_mean = 0, out_mean = 0;
  for (int j = 0; j < N; ++j) {
    in_mean += x[static_cast<std::size_t>(j)];
    out_mean += c.XRE[static_cast<std::size_t>(j)];
  }
  in_mean /= N;
  out_mean /= N;
  EXPECT_NEAR(out_mean, 0.7 * in_mean, sample_tolerance(N));
}

// A response with |T|^2 below 1.0e-7 divides by the floor instead:
// T = 1e-4 at one bin amplifies it 1000 times, not 10000; T = 0 removes it.
TEST(CONVOL, DivisionFloorsTheSquaredModulus) {
  const int N = 120;
  const std::vector<float> x = test::random_floats(N, 101u);
  std::vector<float> tr = constant(N / 2, 1.0f), ti = constant(N / 2, 0.0f);
  tr[7] = 1.0e-4f;
  tr[11] = 0.0f;
  ti[13] = 2.0e-4f;
  Convolution c(x, N);
  c.set_response(tr, ti);
  c.run(2);
  const std::vector<double> want = reference(x, tr, ti, 2);
  // Bins 7 and 13 carry an input error multiplied by up to 2000.
  expect_close(c.record(), want, 2000.0 * rms(want), N);
  const std::vector<double> unfloored = [&] {
    std::vector<float> t2 = tr;
    t2[7] = 1.0f;
    t2[13] = 1.0f;  // with ti[13] = 2e-4 |T| is about 1
    return reference(x, t2, ti, 2);
  }();
  double diff = 0;  // the floored bins dominate the result
  for (int j = 0; j < N; ++j) diff = std::max(diff, std::abs(want[static_cast<std::size_t>(j)] - unfloored[static_cast<std::size_t>(j)]));
  EXPECT_GT(diff, 10.0);
}

TEST(CONVOL, CompletesTheResponseAndTouchesNothingBeyondN) {
  const int N = 12;
  Convolution c(test::random_floats(N, 111u), N);
  const std::vector<float> tr = test::random_floats(N / 2, 112u), ti = test::random_floats(N / 2, 113u);
  c.set_response(tr, ti);
  c.run(1);
  for (int k = 0; k < N / 2; ++k) {
    EXPECT_EQ(c.TR[static_cast<std::size_t>(k)], tr[static_cast<std::size_t>(k)]);
    EXPECT_EQ(c.TI[static_cast<std::size_t>(k)], ti[static_cast<std::size_t>(k)]);
  }
  EXPECT_EQ(c.TR[N / 2], 0.0f);
  EXPECT_EQ(c.TI[N / 2], 0.0f);
  for (int k = N / 2 + 1; k < N; ++k) {
    EXPECT_EQ(c.TR[static_cast<std::size_t>(k)], tr[static_cast<std::size_t>(N - k)]);
    EXPECT_EQ(c.TI[static_cast<std::size_t>(k)], -ti[static_cast<std::size_t>(N - k)]);
  }
  for (std::size_t k = N; k < N + Convolution::EXTRA; ++k) {
    EXPECT_EQ(c.XRE[k], Convolution::GUARD);
    EXPECT_EQ(c.TR[k], Convolution::GUARD);
    EXPECT_EQ(c.TI[k], Convolution::GUARD);
  }
}

TEST(CONVOL, ConsecutiveCallsMayUseDifferentLengths) {
  for (int N : {64, 30, 64}) {
    const std::vector<float> x = test::random_floats(static_cast<std::size_t>(N), 121u);
    expect_close(filter_flat(x, 1.0f, 1), without_nyquist(x, 1.0), 1.0, N);
  }
}

TEST(CONVOL, LengthTheSetUpRejectsStopsTheRun) {
  Convolution c(constant(14, 1.0f), 14);
  c.set_response(constant(7, 1.0f), constant(7, 0.0f));
  try {
    c.run(1);
    ADD_FAILURE() << "no stop";
  } catch (const FftError& e) {
    EXPECT_EQ(e.kind(), FftError::Kind::LENGTH);
    EXPECT_STREQ(e.what(), "FACTORIZATION FAILED IN FACTOR");
  }
}

}  // namespace
}  // namespace velmar::console
