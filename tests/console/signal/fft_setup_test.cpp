#include "console/signal/fft_setup.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "console/signal/fft_error.hpp"
#include "signal_test_support.hpp"

namespace velmar::console {
namespace {

using test::EPS;

std::vector<int> factors_of(int N) {
  std::array<int, MAX_FACTORS - 1> kfac{};
  int nfac = -1;
  FACTOR(kfac, nfac, N);
  return {kfac.begin(), kfac.begin() + nfac};
}

// Runs f, expects the factorisation stop, and returns nothing else.
template <class F>
void expect_factor_stop(F f, const std::string& what) {
  try {
    f();
    ADD_FAILURE() << "no stop: " << what;
  } catch (const FftError& e) {
    EXPECT_EQ(e.kind(), FftError::Kind::LENGTH) << what;
    EXPECT_STREQ(e.what(), "FACTORIZATION FAILED IN FACTOR") << what;
  }
}

TEST(FACTOR, ListsSixesThenFivesFoursThreesAndAtMostOneTwo) {
  using V = std::vector<int>;
  EXPECT_EQ(factors_of(1), V{});
  for (int n : {2, 3, 4, 5, 6}) EXPECT_EQ(factors_of(n), V{n});
  EXPECT_EQ(factors_of(8), (V{4, 2}));
  EXPECT_EQ(factors_of(12), (V{6, 2}));
  EXPECT_EQ(factors_of(16), (V{4, 4}));
  EXPECT_EQ(factors_of(18), (V{6, 3}));
  EXPECT_EQ(factors_of(24), (V{6, 4}));
  EXPECT_EQ(factors_of(36), (V{6, 6}));
  EXPECT_EQ(factors_of(120), (V{6, 5, 4}));
  EXPECT_EQ(factors_of(1000), (V{5, 5, 5, 4, 2}));
  EXPECT_EQ(factors_of(2160), (V{6, 6, 6, 5, 2}));
  EXPECT_EQ(factors_of(8192), (V{4, 4, 4, 4, 4, 4, 2}));
  EXPECT_EQ(factors_of(60000), (V{6, 5, 5, 5, 5, 4, 4}));
}

// Every length up to the largest transform: accepted exactly when it has no
// prime factor but 2, 3, 5 (trial division), and then the list follows the
// closed form m sixes, c fives, (a-m)/2 fours, b-m threes, (a-m) mod 2 twos
// for N = 2^a 3^b 5^c, m = min(a, b).
TEST(FACTOR, AcceptsExactlyThe235LengthsUpTo60000) {
  for (int N = 1; N <= 60000; ++N) {
    if (!test::is_235(N)) {
      expect_factor_stop([N] { factors_of(N); }, "N=" + std::to_string(N));
      continue;
    }
    int a = 0, b = 0, c = 0;
    for (int r = N; r % 2 == 0; r /= 2) ++a;
    for (int r = N; r % 3 == 0; r /= 3) ++b;
    for (int r = N; r % 5 == 0; r /= 5) ++c;
    const int m = std::min(a, b);
    std::vector<int> want;
    want.insert(want.end(), static_cast<std::size_t>(m), 6);
    want.insert(want.end(), static_cast<std::size_t>(c), 5);
    want.insert(want.end(), static_cast<std::size_t>((a - m) / 2), 4);
    want.insert(want.end(), static_cast<std::size_t>(b - m), 3);
    want.insert(want.end(), static_cast<std::size_t>((a - m) % 2), 2);
    ASSERT_EQ(factors_of(N), want) << "N=" << N;
    ASSERT_LE(want.size(), static_cast<std::size_t>(MAX_FACTORS - 1));
  }
}

TEST(FACTOR, OtherPrimesStopTheRunAfterTheFactorsFound) {
  expect_factor_stop([] { factors_of(7); }, "7");
  expect_factor_stop([] { factors_of(49); }, "49");
  std::array<int, 9> kfac{};
  int nfac = -1;
  expect_factor_stop([&] { FACTOR(kfac, nfac, 14); }, "14");
  EXPECT_EQ(nfac, 1);
  EXPECT_EQ(kfac[0], 2);
}

// Trial division of 0 would never end (0 is divisible by everything) and
// write past the list; a length below 1 stops like any other bad length.
TEST(FACTOR, LengthsBelowOneStopInsteadOfLooping) {
  expect_factor_stop([] { factors_of(0); }, "0");
  expect_factor_stop([] { factors_of(-6); }, "-6");
}

TEST(FACTOR, ListLongerThanItsRoomStopsInsteadOfOverrunning) {
  std::array<int, 2> kfac{};
  int nfac = 0;
  expect_factor_stop([&] { FACTOR(kfac, nfac, 64); }, "64 into 2");  // 4, 4, 4
  EXPECT_EQ(nfac, 2);
  std::array<int, 9> room{};
  expect_factor_stop([&] { FACTOR(room, nfac, 1 << 30); }, "2^30");  // fifteen 4s
}

TEST(CFTFAX, CountFirstThenFactors) {
  std::array<int, MAX_FACTORS> lfac{};
  std::vector<float> trig(2 * 60000);
  CFTFAX(60000, lfac, trig);
  EXPECT_EQ(lfac[0], 7);
  EXPECT_EQ((std::vector<int>(lfac.begin() + 1, lfac.begin() + 8)), (std::vector<int>{6, 5, 5, 5, 5, 4, 4}));
  CFTFAX(1, lfac, trig);
  EXPECT_EQ(lfac[0], 0);
  EXPECT_EQ(trig[0], 1.0f);
  EXPECT_EQ(trig[1], 0.0f);
}

TEST(CFTFAX, TableIsFilledBeforeABadLengthStops) {
  std::array<int, MAX_FACTORS> lfac{};
  std::vector<float> trig(14, -5.0f);
  expect_factor_stop([&] { CFTFAX(7, lfac, trig); }, "7");
  EXPECT_EQ(trig[0], 1.0f);
  EXPECT_NEAR(trig[2], std::cos(2 * std::numbers::pi / 7), 4 * EPS);
}

// The table is not symmetrised: quarter and half turns carry the rounding
// of the float angle 6.2831855/N, as cos and sin of that angle.
TEST(FFTTRIG, QuarterAndHalfTurnsAreNotExactZeros) {
  std::vector<float> t(8);
  FFTTRIG(4, t);
  EXPECT_EQ(t[0], 1.0f);
  EXPECT_EQ(t[1], 0.0f);
  EXPECT_NEAR(t[2], -4.371139e-8f, 1e-13f);  // cos(1.5707964f)
  EXPECT_EQ(t[3], 1.0f);
  EXPECT_EQ(t[4], -1.0f);
  EXPECT_NEAR(t[5], -8.742278e-8f, 1e-13f);  // sin(3.1415927f)
  std::vector<float> s(12);
  FFTTRIG(6, s);
  EXPECT_FLOAT_EQ(s[2], 0.49999997f);
  EXPECT_FLOAT_EQ(s[3], 0.86602545f);
}

// Each angle k * DANG carries the relative error of DANG (half an ulp) plus
// its own rounding, at most about 2 pi eps in absolute terms; the cosine and
// sine add half an ulp each. 8 eps bounds the sum for every k.
TEST(FFTTRIG, MatchesRootsOfUnityWithinTheFloatAngleError) {
  constexpr double TRIG_TOL = 8.0 * EPS;
  for (int N : {3, 5, 64, 360, 2160, 60000}) {
    std::vector<float> t(2 * static_cast<std::size_t>(N));
    FFTTRIG(N, t);
    for (int k = 0; k < N; ++k) {
      const double a = 2.0 * std::numbers::pi * k / N;
      ASSERT_NEAR(t[2 * static_cast<std::size_t>(k)], std::cos(a), TRIG_TOL) << N << " " << k;
      ASSERT_NEAR(t[2 * static_cast<std::size_t>(k) + 1], std::sin(a), TRIG_TOL) << N << " " << k;
    }
  }
}

}  // namespace
}  // namespace velmar::console
