#pragma once
#include <span>

#include "console/signal/fft_error.hpp"

namespace velmar::console {

// LFAC entries: the count and up to ten factors. Every accepted length up to
// 60000 fits: the longest list is that of 59049 = 3^10 (the even lengths a
// signal run uses have at most nine).
constexpr int MAX_FACTORS = 11;

// Trig table and factor list for a transform of length N.
// LFAC[0] = factor count F, LFAC[1..F] = factors (6,5,4,3,2 order).
// TRIG[2k] = cos(2 pi k/N), TRIG[2k+1] = sin(2 pi k/N), k = 0..N-1.
// A length with a prime factor other than 2, 3, 5 throws FftError (LENGTH,
// "FACTORIZATION FAILED IN FACTOR").
void CFTFAX(int N, std::span<int> LFAC, std::span<float> TRIG);
void FACTOR(std::span<int> KFAC, int& NFAC, int N);
void FFTTRIG(int N, std::span<float> TRIG);

}  // namespace velmar::console
