#pragma once
#include <span>

namespace velmar {

constexpr int MAX_FACTORS = 10;  // LFAC entries: count + up to 9 factors for N <= 60000

// Trig table and factor list for a transform of length N.
// LFAC[0] = factor count F, LFAC[1..F] = factors (6,5,4,3,2 order).
// TRIG[2k] = cos(2 pi k/N), TRIG[2k+1] = sin(2 pi k/N), k = 0..N-1.
// A length with a prime factor other than 2, 3, 5 throws RunStop (exit status 1)
// with the message line "FACTORIZATION FAILED IN FACTOR".
void CFTFAX(int N, std::span<int> LFAC, std::span<float> TRIG);
void FACTOR(std::span<int> KFAC, int& NFAC, int N);
void FFTTRIG(int N, std::span<float> TRIG);

}  // namespace velmar
