#include "console/signal/taper.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "signal_test_support.hpp"

namespace velmar::console {
namespace {

using test::EPS;

std::vector<float> ramp(int n) {  // sample j (from 1) holds j
  std::vector<float> x(static_cast<std::size_t>(n));
  for (int j = 0; j < n; ++j) x[static_cast<std::size_t>(j)] = static_cast<float>(j + 1);
  return x;
}

// The window phase is accumulated: after k steps it carries up to k half-ulp
// roundings of a value below pi/2, so the weight sin(phase) is off by at most
// about k * (pi/2) * eps / 2 plus the rounding of sin and of the product.
double weight_tolerance(int k) { return (1.0 + k) * (std::numbers::pi / 2) * EPS; }

// Checks the k-th sample from either end against x * sin(k pi / (2 ntap)) and
// the middle against the unchanged input.
void expect_tapered(const std::vector<float>& got, const std::vector<float>& in, int ntap) {
  const int n = static_cast<int>(in.size());
  for (int j = 0; j < n; ++j) {
    const int k = std::min(j, n - 1 - j);
    const std::size_t i = static_cast<std::size_t>(j);
    if (k >= ntap) {
      ASSERT_EQ(got[i], in[i]) << "j=" << j;
    } else {
      const double w = std::sin(k * std::numbers::pi / (2.0 * ntap));
      ASSERT_NEAR(got[i], w * in[i], weight_tolerance(k) * std::abs(in[i])) << "j=" << j;
    }
  }
}

TEST(TAPER, FivePercentOfOneHundredSamples) {
  std::vector<float> x = ramp(100);
  const std::vector<float> in = x;
  TAPER(x, 0.05f, 100);
  expect_tapered(x, in, 5);
  EXPECT_EQ(x[0], 0.0f);
  EXPECT_EQ(x[99], 0.0f);
  const double s10 = std::sin(std::numbers::pi / 10);
  EXPECT_NEAR(x[1], s10 * 2, 2 * weight_tolerance(1) * 2);
  EXPECT_NEAR(x[98], s10 * 99, 2 * weight_tolerance(1) * 99);
  EXPECT_NEAR(x[95], std::sin(4 * std::numbers::pi / 10) * 96, 2 * weight_tolerance(4) * 96);
}

TEST(TAPER, ZeroFractionLeavesRecordUnchanged) {
  std::vector<float> x = ramp(50);
  TAPER(x, 0.0f, 50);
  EXPECT_EQ(x, ramp(50));
}

TEST(TAPER, HalfASampleRoundsUpToOneAtEachEnd) {
  std::vector<float> x = ramp(10);  // 10 * 0.05 = 0.5 -> NTAP = 1
  TAPER(x, 0.05f, 10);
  std::vector<float> want = ramp(10);
  want[0] = 0.0f;
  want[9] = 0.0f;
  EXPECT_EQ(x, want);
}

TEST(TAPER, ShortRecordsAreUnchanged) {
  for (int n = 1; n <= 9; ++n) {
    std::vector<float> x = ramp(n);
    TAPER(x, 0.05f, n);
    EXPECT_EQ(x, ramp(n)) << "n=" << n;
  }
}

TEST(TAPER, LongRecordFollowsQuarterSine) {
  const int n = 30000;  // NTAP = 1500: the longest taper a signal run makes
  std::vector<float> x = test::random_floats(n, 5u);
  const std::vector<float> in = x;
  TAPER(x, 0.05f, n);
  expect_tapered(x, in, 1500);
}

// Fractions above one half would make the ends overlap (and above 1 reach
// outside the record): the taper is capped at half the record, so each
// sample is scaled once and nothing outside X[0..N-1] is touched.
TEST(TAPER, LargeFractionsTaperEachHalfOnceAndStayInside) {
  std::vector<float> x = ramp(10);
  TAPER(x, 0.8f, 10);
  expect_tapered(x, ramp(10), 5);

  std::vector<float> y = ramp(7);
  y.push_back(-1.0f);  // guard beyond N
  TAPER(std::span<float>(y).first(7), 3.0f, 7);
  expect_tapered(std::vector<float>(y.begin(), y.begin() + 7), ramp(7), 3);
  EXPECT_EQ(y[3], 4.0f);  // the middle sample of an odd record
  EXPECT_EQ(y[7], -1.0f);
}

TEST(TAPER, NegativeFractionLeavesRecordUnchanged) {
  std::vector<float> x = ramp(100);
  TAPER(x, -0.05f, 100);
  EXPECT_EQ(x, ramp(100));
}

}  // namespace
}  // namespace velmar::console
