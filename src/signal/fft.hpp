#pragma once
#include <span>

namespace velmar {

// Self-sorting mixed-radix complex FFT (see fft.cpp). Unnormalised:
// X_k = sum_j x_j exp(ISGN * 2 pi i j k / N). Forward (+1) then back (-1)
// returns N times the input. Element j of transform t is XRE[j*INC + t*JUMP].
void CFFT9X(std::span<float> XRE, std::span<float> XIM, std::span<float> WORK,
            std::span<const float> TRIG, std::span<const int> LFAC, int INC, int JUMP,
            int N, int NTR, int ISGN);

}  // namespace velmar
