// convol.cpp: CONVOL, filtering a real record by a frequency response.
//
// Glossary (0-based: entry k of an array counted from 1 is element k-1):
//   N       transform length; the record is XRE[0..N-1]
//   DF      frequency step 1/(N DT) of the transform; bin k is frequency k*DF
//   TR, TI  real and imaginary parts of the response; TR[k] + i TI[k] at k*DF,
//           k = 0..N/2-1 from the caller, N/2..N-1 completed here
//   ICONV   2 = divide the spectrum by the response, any other value = multiply
//   DFLOOR  1.0e-7, the floor on |T|^2 in the division
#include "console/signal/convol.hpp"

#include <cmath>
#include <cstddef>

#include "console/signal/fft.hpp"
#include "console/signal/fft_setup.hpp"

namespace velmar::console {

// Transforms the record forward (ISGN = +1, the sign that pairs with the
// exp(-i omega t) time factor of the response routines), multiplies each bin
// by T = TR + i TI (or, with ICONV = 2, by conj(T) / max(|T|^2, 1.0e-7)),
// transforms back (ISGN = -1) and divides the real part by N. Before that the
// response is completed to all N bins: bin N/2 (half the sampling frequency)
// is set to zero and bins N/2+1..N-1 to the conjugates of bins N/2-1..1, so
// the filtered record stays real. Bin 0 is used as given, never mirrored.
// The tables are made afresh on every call; nothing is kept.
// N must be even (the mirror then reads only bins 1..N/2-1); for an odd N the
// bin N/2 set to zero is a true frequency, not half the sampling frequency.
// Nothing beyond element N-1 of any array is read or written.
// @param[inout] XRE    record (N values), replaced by the filtered record
// @param[out]   XIM    scratch (N values): zeroed, then the unscaled imaginary
//                      parts of the back transform
// @param[inout] TR,TI  response, elements 0..N/2-1 read, N/2..N-1 overwritten
// @param[out]   TRIG   scratch, 2N values
// @param[out]   WORK   scratch, 2N values
// @param[out]   LFAC   scratch, room for the factor count and the factors
// @param[in]    N      transform length, 2^a 3^b 5^c (else CFTFAX throws FftError)
// @param[in]    ICONV  2 = division, anything else = multiplication
void CONVOL(std::span<float> XRE, std::span<float> XIM, std::span<float> TR,
            std::span<float> TI, std::span<float> TRIG, std::span<float> WORK,
            std::span<int> LFAC, int N, int ICONV) {
  const std::size_t n = static_cast<std::size_t>(N);
  CFTFAX(N, LFAC, TRIG);
  for (std::size_t k = 0; k < n; ++k) XIM[k] = 0.0f;
  CFFT9X(XRE, XIM, WORK, TRIG, LFAC, 1, N, N, 1, 1);

  const std::size_t half = n / 2;
  TR[half] = 0.0f;
  TI[half] = 0.0f;
  for (std::size_t k = half + 1; k < n; ++k) {
    TR[k] = TR[n - k];
    TI[k] = -TI[n - k];
  }

  if (ICONV == 2) {
    const float DFLOOR = 1.0e-7f;
    for (std::size_t k = 0; k < n; ++k) {
      float d = TR[k] * TR[k] + TI[k] * TI[k];
      if (std::fabs(d) < DFLOOR) d = DFLOOR;
      const float re = XRE[k] * TR[k] + XIM[k] * TI[k];
      const float im = XIM[k] * TR[k] - XRE[k] * TI[k];
      XRE[k] = re / d;
      XIM[k] = im / d;
    }
  } else {
    for (std::size_t k = 0; k < n; ++k) {
      const float re = XRE[k] * TR[k] - XIM[k] * TI[k];
      const float im = XRE[k] * TI[k] + XIM[k] * TR[k];
      XRE[k] = re;
      XIM[k] = im;
    }
  }

  CFFT9X(XRE, XIM, WORK, TRIG, LFAC, 1, N, N, 1, -1);
  const float fn = static_cast<float>(N);
  for (std::size_t k = 0; k < n; ++k) XRE[k] = XRE[k] / fn;
}

}  // namespace velmar::console
