// Peaks of real histories from their half spectra, against the histories
// themselves: each case starts from known real signals, takes their spectra
// and asks for the peak over the first n samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "signal/inverse_peaks.hpp"
#include "signal/split_fft.hpp"

namespace velmar::detail {
namespace {

struct Case {
  std::size_t L;
  std::vector<std::vector<double>> x;  // the histories, L samples each
  std::vector<double> re, im;          // their half spectra
};

// Random histories with a spike larger than everything else at t = n (just
// outside the samples searched) and a smaller one at t = n - 1.
Case make_case(std::size_t L, std::size_t n, std::size_t count, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> z;
  Case c;
  c.L = L;
  const std::size_t nf = L / 2 + 1;
  SplitFft forward(L, +1);
  for (std::size_t j = 0; j < count; ++j) {
    std::vector<double> x(L), xi(L, 0.0), sr(L), si(L);
    for (double& v : x) v = z(gen);
    if (n < L) x[n] = 100.0;
    x[n - 1] = -(10.0 + static_cast<double>(j));
    c.x.push_back(x);
    const bool moved = forward.transform(x, xi, sr, si);
    const std::vector<double>& yr = moved ? sr : x;
    const std::vector<double>& yi = moved ? si : xi;
    for (std::size_t k = 0; k < nf; ++k) c.re.push_back(yr[k]), c.im.push_back(yi[k]);
  }
  return c;
}

double true_peak(const std::vector<double>& x, std::size_t n) {
  double m = 0.0;
  for (std::size_t t = 0; t < n; ++t) m = std::max(m, std::abs(x[t]));
  return m;
}

class InversePeaksLength : public ::testing::TestWithParam<std::size_t> {};

// Lengths on both sides of the split (a power-of-two part of 64), odd and
// even powers of two (the split's halves differ then), with and without the
// factor 3, three histories (the last rides alone), and n at 1, in the
// middle and at L.
TEST_P(InversePeaksLength, FindsThePeakOverTheFirstNSamples) {
  const std::size_t L = GetParam();
  for (const std::size_t n : {std::size_t{1}, L / 2 + 1 - L / 8, L}) {
    const Case c = make_case(L, n, 3, static_cast<unsigned>(L + n));
    InversePeaks peaks(L, n);
    std::vector<double> got(3, -1.0);
    peaks.peaks(c.re.data(), c.im.data(), L / 2 + 1, 3, got.data());
    for (std::size_t j = 0; j < 3; ++j) {
      const double want = true_peak(c.x[j], n);
      EXPECT_NEAR(got[j], want, 1e-11) << "L " << L << " n " << n << " history " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, InversePeaksLength,
                         ::testing::Values(2, 4, 6, 8, 12, 32, 64, 96, 128, 192, 256, 384, 768, 2048, 3072, 4096,
                                           6144, 24576, 32768));

TEST(InversePeaks, ManyHistoriesAtAStrideLongerThanTheirSpectra) {
  // Seven histories (three pairs and one alone) whose spectra lie 5 values
  // apart, the gaps filled with values that must not be read.
  for (const std::size_t L : {std::size_t{3072}, std::size_t{4096}}) {
    const std::size_t nf = L / 2 + 1, stride = nf + 5, n = 1000;
    const Case c = make_case(L, n, 7, 17u);
    std::vector<double> re(7 * stride, std::numeric_limits<double>::quiet_NaN()), im = re;
    for (std::size_t j = 0; j < 7; ++j) {
      std::copy_n(c.re.begin() + static_cast<std::ptrdiff_t>(j * nf), nf, re.begin() + static_cast<std::ptrdiff_t>(j * stride));
      std::copy_n(c.im.begin() + static_cast<std::ptrdiff_t>(j * nf), nf, im.begin() + static_cast<std::ptrdiff_t>(j * stride));
    }
    std::vector<double> got(7, -1.0);
    InversePeaks(L, n).peaks(re.data(), im.data(), stride, 7, got.data());
    for (std::size_t j = 0; j < 7; ++j) EXPECT_NEAR(got[j], true_peak(c.x[j], n), 1e-11) << L << " " << j;
  }
}

TEST(InversePeaks, ANonFiniteSpectrumGivesNaNForItsPair) {
  for (const std::size_t L : {std::size_t{32}, std::size_t{256}}) {
    Case c = make_case(L, L / 2, 3, 9u);
    c.im[L / 2 + 1 + 3] = std::numeric_limits<double>::infinity();  // history 1
    std::vector<double> got(3);
    InversePeaks(L, L / 2).peaks(c.re.data(), c.im.data(), L / 2 + 1, 3, got.data());
    EXPECT_TRUE(std::isnan(got[1])) << L;
    EXPECT_NEAR(got[2], true_peak(c.x[2], L / 2), 1e-11) << L;
  }
}

TEST(InversePeaks, RefusesABadLengthOrCount) {
  EXPECT_THROW(InversePeaks(1, 1), std::invalid_argument);
  EXPECT_THROW(InversePeaks(80, 10), std::invalid_argument);
  EXPECT_THROW(InversePeaks(3, 1), std::invalid_argument);
  EXPECT_THROW(InversePeaks(64, 0), std::invalid_argument);
  EXPECT_THROW(InversePeaks(64, 65), std::invalid_argument);
}

}  // namespace
}  // namespace velmar::detail
