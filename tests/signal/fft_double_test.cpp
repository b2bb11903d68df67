// The interleaved-complex FFT plan against a long-double direct sum.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <vector>

#include "signal/fft_double.hpp"

namespace velmar::detail {
namespace {

class FftPlanLength : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FftPlanLength, MatchesTheDirectSumForBothSigns) {
  const std::size_t n = GetParam();
  std::vector<std::complex<double>> x(n);
  for (std::size_t j = 0; j < n; ++j) x[j] = {std::sin(0.7 * double(j) + 0.3), std::cos(1.3 * double(j) * double(j))};
  const FftPlan plan(n);
  for (int sign : {+1, -1}) {
    std::vector<std::complex<double>> y = x;
    plan.transform(y, sign);
    double err = 0.0, norm = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
      std::complex<long double> s = 0;
      for (std::size_t j = 0; j < n; ++j) {
        const long double a = sign * 2.0L * std::numbers::pi_v<long double> * static_cast<long double>((j * k) % n) / n;
        s += std::complex<long double>(x[j]) * std::complex<long double>(std::cos(a), std::sin(a));
      }
      err = std::max(err, std::abs(std::complex<double>(s) - y[k]));
      norm = std::max(norm, double(std::abs(s)));
    }
    // Rounding grows like log2 n; 4 eps per level is a generous bound.
    EXPECT_LE(err, 4.0 * std::numeric_limits<double>::epsilon() * (std::log2(double(n)) + 1) * norm) << sign;
  }
}

INSTANTIATE_TEST_SUITE_P(ServedLengths, FftPlanLength, ::testing::Values(1, 2, 4, 8, 32, 256, 1024, 3, 12, 384));

TEST(FftPlan, RefusesALengthItDoesNotServe) {
  EXPECT_THROW(FftPlan(20), std::invalid_argument);
  EXPECT_THROW(FftPlan(0), std::invalid_argument);
  EXPECT_EQ(fft_fast_length(1000), 1024u);
  EXPECT_EQ(fft_fast_length(700), 768u);
  EXPECT_EQ(fft_fast_length(1), 1u);
}

}  // namespace
}  // namespace velmar::detail
