// The split-array Stockham FFT against a direct DFT in long double.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <stdexcept>
#include <vector>

#include "signal/split_fft.hpp"

namespace velmar::detail {
namespace {

// RMS error of a radix-4 FFT grows like log2(n) eps; C = 2 leaves room for
// the twiddles' own rounding.
double fft_tolerance(std::size_t n) {
  return 2.0 * std::numeric_limits<double>::epsilon() * std::max(1.0, std::log2(static_cast<double>(n)));
}

class SplitFftLength : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SplitFftLength, MatchesADirectDftForBothSigns) {
  const std::size_t n = GetParam();
  std::mt19937 gen(static_cast<unsigned>(n));
  std::normal_distribution<double> z;
  std::vector<double> xr(n), xi(n);
  for (std::size_t j = 0; j < n; ++j) xr[j] = z(gen), xi[j] = z(gen);
  for (int sign : {+1, -1}) {
    std::vector<double> re = xr, im = xi, sr(n), si(n);
    const bool moved = SplitFft(n, sign).transform(re, im, sr, si);
    const std::vector<double>& yr = moved ? sr : re;
    const std::vector<double>& yi = moved ? si : im;
    long double err = 0.0L, norm = 0.0L;
    for (std::size_t k = 0; k < n; ++k) {
      std::complex<long double> sum = 0.0L;
      for (std::size_t j = 0; j < n; ++j) {
        const long double a = 2.0L * std::numbers::pi_v<long double> * static_cast<long double>((j * k) % n) /
                              static_cast<long double>(n);
        sum += std::complex<long double>(xr[j], xi[j]) * std::polar(1.0L, sign * a);
      }
      err += std::norm(std::complex<long double>(yr[k], yi[k]) - sum);
      norm += std::norm(sum);
    }
    EXPECT_LT(static_cast<double>(std::sqrt(err / norm)), fft_tolerance(n)) << "n " << n << " sign " << sign;
  }
}

// Every power of two to 1024 (odd powers end with the radix-2 pass) and
// three times one (the radix-3 pass last, after a radix-2 pass with
// twiddles when the power is odd).
INSTANTIATE_TEST_SUITE_P(Lengths, SplitFftLength,
                         ::testing::Values(1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 3, 6, 12, 24, 48, 96, 192,
                                           384, 768, 1536));

TEST(SplitFft, RefusesALengthItDoesNotServe) {
  for (const std::size_t n : {0, 5, 9, 10, 18, 36, 40}) {
    EXPECT_FALSE(fft_length_supported(n)) << n;
    EXPECT_THROW(SplitFft(n, 1), std::invalid_argument) << n;
  }
}

TEST(UnitRoots, MatchLongDoubleOnTheWholeCircleAndBeyond) {
  for (const std::size_t n : {1u, 3u, 6u, 8u, 12u, 24u, 1024u, 3072u}) {
    const UnitRoots roots(n);
    for (std::size_t r = 0; r < 3 * n; ++r) {
      double re = 0.0, im = 0.0;
      roots.get(r, re, im);
      const long double a = 2.0L * std::numbers::pi_v<long double> * static_cast<long double>(r % n) /
                            static_cast<long double>(n);
      ASSERT_NEAR(re, static_cast<double>(std::cos(a)), 3e-16) << n << " " << r;
      ASSERT_NEAR(im, static_cast<double>(std::sin(a)), 3e-16) << n << " " << r;
    }
  }
}

TEST(SplitFft, FastLengthIsTheSmallestServedLengthNotBelow) {
  for (std::size_t m = 0; m <= 5000; ++m) {
    std::size_t want = 1;
    while (want < m || !fft_length_supported(want)) ++want;
    ASSERT_EQ(fft_fast_length(m), want) << m;
  }
  EXPECT_EQ(fft_fast_length(24000), 24576u);
  EXPECT_EQ(fft_fast_length(24577), 32768u);
}

}  // namespace
}  // namespace velmar::detail
