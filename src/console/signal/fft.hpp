// fft.hpp: the program's own complex FFT, a self-sorting mixed-radix
// (Stockham) transform over split real/imaginary arrays.
//
// Glossary (0-based arrays throughout; entry k of a table counted from 1 is element k-1):
//   N       transform length, 2^a 3^b 5^c (the lengths CFTFAX accepts)
//   NTR     number of transforms done in one call, all of length N
//   INC     index step between successive elements of one transform
//   JUMP    index step between the first elements of successive transforms
//   ISGN    sign of the exponent: +1 (time to frequency) or -1 (back)
//   TRIG    trig table of CFTFAX: TRIG[2k] = cos(2 pi k/N), TRIG[2k+1] = sin(2 pi k/N)
//   LFAC    factor list of CFTFAX: LFAC[0] = count F, LFAC[1..F] = radices in pass order
//   WORK    scratch of 2 N NTR floats: transform t holds its N real parts at
//           WORK[2N t ..] and its N imaginary parts at WORK[2N t + N ..]
//   LPROD   product of the radices of the passes already done (1 before the first)
//   IRAD    radix of one pass: 2, 3, 4, 5 or 6
#pragma once
#include <span>

#include "console/signal/fft_error.hpp"

namespace velmar::console {

// Unnormalised DFT of NTR sequences of length N, in place, results in natural order:
//   X_k = sum_{j=0}^{N-1} x_j exp(ISGN * 2 pi i j k / N),  k = 0..N-1.
// A transform with ISGN = +1 followed by one with ISGN = -1 returns N times the
// input; scaling is the caller's. Element j of transform t is
// XRE[j*INC + t*JUMP] + i XIM[j*INC + t*JUMP]; no other element is touched.
// The passes alternate between the data and WORK; with an odd number of passes
// the last one (a single block, whose butterflies write exactly the places they
// read) runs in place in the data, so the result always ends there without a
// copy. N = 1 (no factors) leaves the data as they are.
// @param[inout] XRE, XIM  real and imaginary parts, replaced by the transform
// @param[out]   WORK      scratch, at least 2*N*NTR values; meaningless on return
// @param[in]    TRIG      trig table for this N (2N values)
// @param[in]    LFAC      factor list for this N
// @param[in]    INC, JUMP element and transform steps (INC >= 1)
// @param[in]    N, NTR    length and number of transforms
// @param[in]    ISGN      +1 or -1 (any negative value counts as -1, any other as +1)
// Checks nothing but the radices: TRIG and LFAC must come from CFTFAX for the
// same N and the arrays must hold every index above. A radix other than
// 2, 3, 4, 5, 6 in LFAC throws FftError (RADIX, "radix one encountered").
void CFFT9X(std::span<float> XRE, std::span<float> XIM, std::span<float> WORK,
            std::span<const float> TRIG, std::span<const int> LFAC, int INC, int JUMP,
            int N, int NTR, int ISGN);

// One Stockham pass of radix IRAD from URE/UIM into VRE/VIM (which must not
// overlap the input). With l = LPROD and MSUB = N/IRAD, block k (0..MSUB/l-1)
// holds l butterflies; butterfly (k, b) of transform t reads operand q from
//   (k*l + b)*INCUE + q*MSUB*INCUE + t*INCUT
// and writes result q, multiplied for k >= 1 by exp(ISGN 2 pi i q k l / N), to
//   (k*IRAD*l + b)*INCVE + q*l*INCVE + t*INCVT.
// The twiddle factors of a block are read from TRIG once per block. The five
// rotation constants are computed on the first call and kept for the run.
// A radix other than 2, 3, 4, 5, 6 throws FftError (RADIX, "radix one
// encountered") before any arithmetic.
void VPASS(std::span<const float> URE, std::span<const float> UIM, std::span<float> VRE,
           std::span<float> VIM, std::span<const float> TRIG, int IRAD, int LPROD, int N,
           int INCUE, int INCVE, int INCUT, int INCVT, int NTR, int ISGN);

}  // namespace velmar::console
