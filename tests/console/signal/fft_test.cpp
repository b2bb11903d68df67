#include "console/signal/fft.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>
#include <vector>

#include "console/signal/fft_error.hpp"
#include "console/signal/fft_setup.hpp"
#include "signal_test_support.hpp"

namespace velmar::console {
namespace {

using test::CLD;
using test::EPS;
using test::Plan;

// Relative RMS error of a single-precision FFT grows like eps * log2(N): one
// rounding per pass and per twiddle. Random inputs over all lengths below
// measured at most 0.27 eps log2(N) (recorded as a test property); C = 2
// leaves a margin of seven, while a wrong twiddle, sign or constant gives
// errors of order 1.
constexpr double C_RMS = 2.0;

double log2_len(int n) { return std::max(1.0, std::log2(static_cast<double>(n))); }
double rms_tolerance(int n) { return C_RMS * EPS * log2_len(n); }

// Transforms NTR = 1 contiguous sequence in place.
void transform(const Plan& p, std::vector<float>& re, std::vector<float>& im, int sign) {
  std::vector<float> work(2 * static_cast<std::size_t>(p.N));
  CFFT9X(re, im, work, p.TRIG, p.LFAC, 1, p.N, p.N, 1, sign);
}

std::vector<CLD> as_complex(const std::vector<float>& re, const std::vector<float>& im) {
  std::vector<CLD> x(re.size());
  for (std::size_t j = 0; j < re.size(); ++j) x[j] = CLD(re[j], im[j]);
  return x;
}

class CFFT9XLength : public ::testing::TestWithParam<int> {};

TEST_P(CFFT9XLength, MatchesDirectSumForBothSigns) {
  const int N = GetParam();
  const Plan p(N);
  for (int sign : {1, -1}) {
    std::vector<float> re = test::random_floats(static_cast<std::size_t>(N), 11u + static_cast<unsigned>(N));
    std::vector<float> im = test::random_floats(static_cast<std::size_t>(N), 7u * static_cast<unsigned>(N));
    const std::vector<CLD> ref = test::direct_dft(as_complex(re, im), sign);
    transform(p, re, im, sign);
    const test::RmsPair r = test::rms_difference(re, im, ref);
    const double rel = static_cast<double>(r.err / r.ref);
    RecordProperty("rel_rms_in_eps_log2N", std::to_string(rel / (EPS * log2_len(N))));
    EXPECT_LE(rel, rms_tolerance(N)) << "N=" << N << " sign=" << sign
                                     << " rel rms/(eps log2 N)=" << rel / (EPS * log2_len(N));
  }
}

// Every radix and both ends of the pass sequence: an odd pass count ends with
// its last pass in place (6; 120 = 6,5,4), an even one in the data arrays
// (8 = 4,2; 36 = 6,6). Plus lengths nobody listed (2160 = 6,6,6,5,2, 3000,
// 4000, 4096, 5000).
INSTANTIATE_TEST_SUITE_P(Lengths, CFFT9XLength,
                         ::testing::Values(1, 2, 3, 4, 5, 6, 8, 9, 10, 12, 15, 16, 25, 27, 30,
                                           32, 36, 60, 64, 100, 120, 128, 360, 500, 512, 2160,
                                           3000, 4000, 4096, 5000));

TEST(CFFT9X, SixtyThousandPointsMatchDirectSumAtSampledBins) {
  const int N = 60000;
  const Plan p(N);
  std::vector<float> re = test::random_floats(N, 3u);
  std::vector<float> im = test::random_floats(N, 4u);
  const std::vector<CLD> x = as_complex(re, im);
  transform(p, re, im, 1);
  const std::vector<CLD> w = test::roots(N, 1);
  // Each bin of a random input is a sum of N independent terms, so the RMS
  // of the output is the square root of the sum of |x_j|^2.
  long double energy = 0;
  for (const CLD& v : x) energy += std::norm(v);
  const long double out_rms = std::sqrt(energy);
  for (long long k : {0LL, 1LL, 2LL, 7LL, 4999LL, 12345LL, 29999LL, 30000LL, 30001LL, 59999LL}) {
    const CLD ref = test::direct_bin(x, w, k);
    const CLD got(re[static_cast<std::size_t>(k)], im[static_cast<std::size_t>(k)]);
    // A single bin may exceed the RMS error by a few standard deviations.
    EXPECT_LE(static_cast<double>(std::abs(got - ref) / out_rms), 4.0 * rms_tolerance(N)) << "k=" << k;
  }
}

TEST(CFFT9X, ForwardThenBackIsNTimesInputForEveryLengthUpTo4096) {
  for (int N = 1; N <= 4096; ++N) {
    if (!test::is_235(N)) continue;
    const Plan p(N);
    const std::vector<float> re0 = test::random_floats(static_cast<std::size_t>(N), static_cast<unsigned>(N));
    const std::vector<float> im0 = test::random_floats(static_cast<std::size_t>(N), static_cast<unsigned>(N) + 1u);
    std::vector<float> re = re0, im = im0;
    transform(p, re, im, 1);
    transform(p, re, im, -1);
    long double e = 0, r = 0;
    for (std::size_t j = 0; j < re.size(); ++j) {
      const CLD want(static_cast<long double>(re0[j]) * N, static_cast<long double>(im0[j]) * N);
      e += std::norm(CLD(re[j], im[j]) - want);
      r += std::norm(want);
    }
    // Two transforms, each within the tolerance of the direct-sum test.
    ASSERT_LE(static_cast<double>(std::sqrt(e / r)), 2.0 * rms_tolerance(N)) << "N=" << N;
  }
}

TEST(CFFT9X, LengthOneLeavesDataUnchanged) {
  const Plan p(1);
  EXPECT_EQ(p.LFAC[0], 0);
  std::vector<float> re{2.5f}, im{-1.25f};
  transform(p, re, im, 1);
  EXPECT_EQ(re[0], 2.5f);
  EXPECT_EQ(im[0], -1.25f);
}

TEST(CFFT9X, ImpulseAtZeroGivesOnesForEitherSign) {
  // Every butterfly and twiddle sees only exact zeros and ones.
  for (int N : {6, 8, 36, 120, 2160}) {
    const Plan p(N);
    for (int sign : {1, -1}) {
      std::vector<float> re(static_cast<std::size_t>(N), 0.0f), im(static_cast<std::size_t>(N), 0.0f);
      re[0] = 1.0f;
      transform(p, re, im, sign);
      for (int k = 0; k < N; ++k) {
        ASSERT_EQ(re[static_cast<std::size_t>(k)], 1.0f) << "N=" << N << " k=" << k;
        ASSERT_EQ(im[static_cast<std::size_t>(k)], 0.0f) << "N=" << N << " k=" << k;
      }
    }
  }
}

TEST(CFFT9X, PureToneGivesNAtItsBinOnly) {
  for (int N : {30, 64, 360, 1000}) {
    const Plan p(N);
    for (int sign : {1, -1}) {
      const int m = N / 3 + 1;
      std::vector<float> re(static_cast<std::size_t>(N)), im(static_cast<std::size_t>(N));
      for (int j = 0; j < N; ++j) {
        const CLD w = test::root(static_cast<long long>(j) * m, N, -sign);
        re[static_cast<std::size_t>(j)] = static_cast<float>(w.real());
        im[static_cast<std::size_t>(j)] = static_cast<float>(w.imag());
      }
      transform(p, re, im, sign);
      // Errors are relative to the peak N; allow the RMS bound at every bin.
      const double tol = 4.0 * rms_tolerance(N) * N;
      for (int k = 0; k < N; ++k) {
        const double want = k == m ? N : 0.0;
        EXPECT_NEAR(re[static_cast<std::size_t>(k)], want, tol) << "N=" << N << " k=" << k;
        EXPECT_NEAR(im[static_cast<std::size_t>(k)], 0.0, tol) << "N=" << N << " k=" << k;
      }
    }
  }
}

// Several transforms at once, and strided elements, do exactly the arithmetic
// of one contiguous transform: the results agree bit for bit, and the
// elements between and beyond are not touched.
TEST(CFFT9X, StridedAndMultipleTransformsMatchContiguousBitForBit) {
  const float SENTINEL = -777.0f;
  for (int N : {6, 8, 120, 2160}) {
    const Plan p(N);
    const std::size_t n = static_cast<std::size_t>(N);
    const std::vector<float> r0 = test::random_floats(n, 31u), i0 = test::random_floats(n, 32u);
    const std::vector<float> r1 = test::random_floats(n, 33u), i1 = test::random_floats(n, 34u);
    for (int sign : {1, -1}) {
      std::vector<float> a_re = r0, a_im = i0, b_re = r1, b_im = i1;
      transform(p, a_re, a_im, sign);
      transform(p, b_re, b_im, sign);

      // NTR = 2, INC = 1, JUMP = N: two sequences back to back.
      std::vector<float> re(2 * n + 3, SENTINEL), im(2 * n + 3, SENTINEL);
      std::copy(r0.begin(), r0.end(), re.begin());
      std::copy(r1.begin(), r1.end(), re.begin() + N);
      std::copy(i0.begin(), i0.end(), im.begin());
      std::copy(i1.begin(), i1.end(), im.begin() + N);
      std::vector<float> work(4 * n);
      CFFT9X(re, im, work, p.TRIG, p.LFAC, 1, N, N, 2, sign);
      for (std::size_t j = 0; j < n; ++j) {
        ASSERT_EQ(re[j], a_re[j]);
        ASSERT_EQ(im[j], a_im[j]);
        ASSERT_EQ(re[n + j], b_re[j]);
        ASSERT_EQ(im[n + j], b_im[j]);
      }
      for (std::size_t j = 2 * n; j < re.size(); ++j) ASSERT_EQ(re[j], SENTINEL);

      // NTR = 2, INC = 3, JUMP = 1: the two transforms interleaved, every
      // third element unused.
      std::vector<float> sre(3 * n + 2, SENTINEL), sim(3 * n + 2, SENTINEL);
      for (std::size_t j = 0; j < n; ++j) {
        sre[3 * j] = r0[j];
        sim[3 * j] = i0[j];
        sre[3 * j + 1] = r1[j];
        sim[3 * j + 1] = i1[j];
      }
      CFFT9X(sre, sim, work, p.TRIG, p.LFAC, 3, 1, N, 2, sign);
      for (std::size_t j = 0; j < n; ++j) {
        ASSERT_EQ(sre[3 * j], a_re[j]) << "N=" << N << " j=" << j;
        ASSERT_EQ(sim[3 * j], a_im[j]);
        ASSERT_EQ(sre[3 * j + 1], b_re[j]);
        ASSERT_EQ(sim[3 * j + 1], b_im[j]);
        ASSERT_EQ(sre[3 * j + 2], SENTINEL);
        ASSERT_EQ(sim[3 * j + 2], SENTINEL);
      }
    }
  }
}

// An odd pass count ends with its last pass done in place in the data arrays
// rather than into WORK and copied back. Reference: the passes chained by
// hand through VPASS, alternating between the data and WORK, then the copy
// back element by element. The two must agree bit for bit, contiguous and
// strided (INC = 3, two interleaved transforms), and leave the gaps alone.
// Lengths: 6 (one pass), 120 = 6,5,4, 2160 = 6,6,6,5,2, 8192 = 4^6,2.
TEST(CFFT9X, InPlaceLastPassMatchesPassIntoWorkAndCopyBack) {
  const float SENTINEL = -777.0f;
  for (int N : {6, 120, 2160, 8192}) {
    const Plan p(N);
    ASSERT_EQ(p.LFAC[0] % 2, 1) << "N=" << N << " needs an odd pass count";
    const std::size_t n = static_cast<std::size_t>(N);
    for (int sign : {1, -1}) {
      for (int INC : {1, 3}) {
        const int NTR = INC == 1 ? 1 : 2;
        const int JUMP = INC == 1 ? N : 1;
        // Element j of transform t, and the element count with two spare at the end.
        const auto at = [&](std::size_t j, int t) {
          return j * static_cast<std::size_t>(INC) + static_cast<std::size_t>(t * JUMP);
        };
        const std::size_t len = n * static_cast<std::size_t>(INC) + 2;
        std::vector<float> re(len, SENTINEL), im(len, SENTINEL);
        for (int t = 0; t < NTR; ++t) {
          const unsigned seed = 41u + 2u * static_cast<unsigned>(t);
          const std::vector<float> r = test::random_floats(n, seed);
          const std::vector<float> i = test::random_floats(n, seed + 1u);
          for (std::size_t j = 0; j < n; ++j) {
            re[at(j, t)] = r[j];
            im[at(j, t)] = i[j];
          }
        }
        const std::vector<float> in_re = re;

        std::vector<float> ref_re = re, ref_im = im;
        std::vector<float> work(2 * n * static_cast<std::size_t>(NTR));
        const std::span<float> wre(work), wim = std::span<float>(work).subspan(n);
        bool in_work = false;
        int LPROD = 1;
        for (int k = 1; k <= p.LFAC[0]; ++k) {
          const int f = p.LFAC[static_cast<std::size_t>(k)];
          if (!in_work) {
            VPASS(ref_re, ref_im, wre, wim, p.TRIG, f, LPROD, N, INC, 1, JUMP, 2 * N, NTR, sign);
          } else {
            VPASS(wre, wim, ref_re, ref_im, p.TRIG, f, LPROD, N, 1, INC, 2 * N, JUMP, NTR, sign);
          }
          in_work = !in_work;
          LPROD *= f;
        }
        ASSERT_TRUE(in_work);
        for (int t = 0; t < NTR; ++t) {
          for (std::size_t j = 0; j < n; ++j) {
            ref_re[at(j, t)] = work[2 * n * static_cast<std::size_t>(t) + j];
            ref_im[at(j, t)] = work[2 * n * static_cast<std::size_t>(t) + n + j];
          }
        }

        CFFT9X(re, im, work, p.TRIG, p.LFAC, INC, JUMP, N, NTR, sign);
        for (std::size_t j = 0; j < len; ++j) {
          ASSERT_EQ(re[j], ref_re[j]) << "N=" << N << " sign=" << sign << " INC=" << INC << " j=" << j;
          ASSERT_EQ(im[j], ref_im[j]) << "N=" << N << " sign=" << sign << " INC=" << INC << " j=" << j;
          // The gaps and the spare end keep their sentinel; the data changed.
          if (in_re[j] == SENTINEL) {
            ASSERT_EQ(re[j], SENTINEL) << "j=" << j;
          }
        }
        ASSERT_NE(re, in_re);
      }
    }
  }
}

TEST(CFFT9X, IncTwoUsesEverySecondElementOnly) {
  const int N = 60;
  const Plan p(N);
  const float SENTINEL = 12345.0f;
  std::vector<float> re(2 * N, SENTINEL), im(2 * N, SENTINEL);
  const std::vector<float> r0 = test::random_floats(N, 41u), i0 = test::random_floats(N, 42u);
  for (int j = 0; j < N; ++j) {
    re[2 * static_cast<std::size_t>(j)] = r0[static_cast<std::size_t>(j)];
    im[2 * static_cast<std::size_t>(j)] = i0[static_cast<std::size_t>(j)];
  }
  std::vector<float> work(2 * N);
  CFFT9X(re, im, work, p.TRIG, p.LFAC, 2, 2 * N, N, 1, -1);
  const std::vector<CLD> ref = test::direct_dft(as_complex(r0, i0), -1);
  std::vector<float> got_re(N), got_im(N);
  for (int j = 0; j < N; ++j) {
    got_re[static_cast<std::size_t>(j)] = re[2 * static_cast<std::size_t>(j)];
    got_im[static_cast<std::size_t>(j)] = im[2 * static_cast<std::size_t>(j)];
    EXPECT_EQ(re[2 * static_cast<std::size_t>(j) + 1], SENTINEL);
    EXPECT_EQ(im[2 * static_cast<std::size_t>(j) + 1], SENTINEL);
  }
  const test::RmsPair r = test::rms_difference(got_re, got_im, ref);
  EXPECT_LE(static_cast<double>(r.err / r.ref), rms_tolerance(N));
}

// The butterflies use the sines of the float values of pi/3 and 2 pi/5 and
// sqrt(5)/4 in single precision. With an impulse at element 1 the first
// output of a 3- and a 5-point transform is made of those constants alone.
TEST(VPASS, RotationConstantsAreFormedFromTheFloatAngles) {
  for (int sign : {1, -1}) {
    const Plan p3(3);
    std::vector<float> re{0.0f, 1.0f, 0.0f}, im{0.0f, 0.0f, 0.0f};
    transform(p3, re, im, sign);
    EXPECT_EQ(re[1], -0.5f);
    EXPECT_EQ(im[1], static_cast<float>(sign) * std::sin(1.0471976f));

    const Plan p5(5);
    std::vector<float> re5{0.0f, 1.0f, 0.0f, 0.0f, 0.0f}, im5(5, 0.0f);
    transform(p5, re5, im5, sign);
    EXPECT_EQ(re5[1], -0.25f + std::sqrt(5.0f) * 0.25f);
    EXPECT_EQ(im5[1], static_cast<float>(sign) * std::sin(1.2566371f));
    // And against the exact roots of unity, to a few rounding errors.
    EXPECT_NEAR(re5[1], std::cos(2.0 * std::numbers::pi / 5.0), 4 * EPS);
    EXPECT_NEAR(im5[2], sign * std::sin(4.0 * std::numbers::pi / 5.0), 4 * EPS);
  }
}

void expect_radix_stop(int IRAD) {
  std::vector<float> u(16, 1.0f), v(16, 0.0f);
  const Plan p(8);
  try {
    VPASS(u, u, v, v, p.TRIG, IRAD, 1, 8, 1, 1, 16, 16, 1, 1);
    ADD_FAILURE() << "no stop for radix " << IRAD;
  } catch (const FftError& e) {
    EXPECT_EQ(e.kind(), FftError::Kind::RADIX);
    EXPECT_STREQ(e.what(), "radix one encountered");
  }
  for (float x : v) EXPECT_EQ(x, 0.0f) << "the pass wrote before stopping";
}

TEST(VPASS, UnknownRadixStopsWithStatus999) {
  expect_radix_stop(1);
  expect_radix_stop(7);
  expect_radix_stop(0);
}

TEST(CFFT9X, FactorListWithRadixOneStops) {
  const Plan p(8);
  std::array<int, MAX_FACTORS> lfac{2, 4, 1};  // 4 then 1: the second pass stops
  std::vector<float> re(8, 1.0f), im(8, 0.0f), work(16);
  EXPECT_THROW(
      {
        try {
          CFFT9X(re, im, work, p.TRIG, lfac, 1, 8, 8, 1, 1);
        } catch (const FftError& e) {
          EXPECT_EQ(e.kind(), FftError::Kind::RADIX);
          EXPECT_STREQ(e.what(), "radix one encountered");
          throw;
        }
      },
      FftError);
}

// A factor list whose product is not N breaks the transform's contract; the
// in-place last pass must still stay inside the N elements of the transform
// (its block length comes from N, not from the factors before it).
TEST(CFFT9X, ForeignFactorListStaysInsideTheTransform) {
  const float SENTINEL = -777.0f;
  const Plan p(6);
  const std::array<int, MAX_FACTORS> lfac{3, 2, 3, 5};  // product 30, odd count
  std::vector<float> re(12, SENTINEL), im(12, SENTINEL), work(12);
  std::fill_n(re.begin(), 6, 1.0f);
  std::fill_n(im.begin(), 6, 0.0f);
  CFFT9X(re, im, work, p.TRIG, lfac, 1, 6, 6, 1, 1);
  for (std::size_t j = 6; j < 12; ++j) {
    EXPECT_EQ(re[j], SENTINEL) << j;
    EXPECT_EQ(im[j], SENTINEL) << j;
  }
}

}  // namespace
}  // namespace velmar::console
