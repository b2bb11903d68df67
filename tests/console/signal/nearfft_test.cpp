#include "console/signal/nearfft.hpp"

#include <gtest/gtest.h>

#include "console/signal/fft_setup.hpp"
#include "signal_test_support.hpp"

namespace velmar::console {
namespace {

int nearfft(int n) {
  int out = -99;
  NEARFFT(n, out);
  return out;
}

// Brute force: the next integer with no prime factor but 2, 3, 5, found by
// trial division, for every sample count a signal run can read. Near 30000
// the search box holds products beyond 32 bits; a wrapped product would show
// up here as a wrong, smaller length.
TEST(NEARFFT, IsTheNext235LengthForEveryCountUpTo30000) {
  long long want = 1;
  for (int n = 1; n <= 30000; ++n) {
    if (want < n) {
      want = n;
      while (!test::is_235(want)) ++want;
    }
    ASSERT_EQ(nearfft(n), want) << "n=" << n;
  }
}

TEST(NEARFFT, KnownLengths) {
  EXPECT_EQ(nearfft(1), 1);
  EXPECT_EQ(nearfft(7), 8);
  EXPECT_EQ(nearfft(11), 12);
  EXPECT_EQ(nearfft(17), 18);
  EXPECT_EQ(nearfft(31), 32);
  EXPECT_EQ(nearfft(33), 36);
  EXPECT_EQ(nearfft(97), 100);
  EXPECT_EQ(nearfft(1000), 1000);
  EXPECT_EQ(nearfft(1024), 1024);
  EXPECT_EQ(nearfft(1025), 1080);
  EXPECT_EQ(nearfft(29999), 30000);
  EXPECT_EQ(nearfft(30000), 30000);
}

TEST(NEARFFT, ValueOnEntryIsIgnored) {
  int out = 5;  // already a 2-3-5 length below the answer
  NEARFFT(100, out);
  EXPECT_EQ(out, 100);
}

// A signal run doubles the chosen length; the transform set-up must accept it.
TEST(NEARFFT, DoubledLengthIsAcceptedByTheTransformSetUp) {
  std::array<int, MAX_FACTORS - 1> kfac{};
  for (int n = 1; n <= 30000; ++n) {
    const int nfft = 2 * nearfft(n);
    int nfac = 0;
    ASSERT_NO_THROW(FACTOR(kfac, nfac, nfft)) << "n=" << n;
    ASSERT_LE(nfft, 60000);
  }
}

}  // namespace
}  // namespace velmar::console
