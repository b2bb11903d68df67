// nearfft.cpp: NEARFFT, the transform length for a record of NIN samples.
//
// Glossary:
//   NIN         number of samples to cover (>= 1)
//   NOUT        chosen length: the smallest integer >= NIN of the form 2^a 3^b 5^c
//   e2, e3, e5  exponent limits: ln(NIN)/ln(p) rounded to the nearest integer
#include "console/signal/nearfft.hpp"

#include <cmath>
#include <cstdint>

namespace velmar::console {

// Searches the box 0 <= a <= e2, 0 <= b <= e3, 0 <= c <= e5 for the smallest
// product 2^a 3^b 5^c in [NIN, 3 NIN). The box is sized from ln(NIN) with the
// single-precision logarithms 0.6931472, 1.0986123 and 1.609438; for NIN up to
// 30000 it always holds the answer. Products far inside the box overflow 32
// bits (2^15 3^9 5^6 for NIN = 30000), so they are formed in 64 bits and a
// product is abandoned as soon as it reaches the best length so far: it can
// only grow. If no candidate lies in [NIN, 3 NIN) the result is 3 NIN.
// @param[in]  NIN   length to reach, 1 <= NIN <= 2^29 (so that 3 NIN fits)
// @param[out] NOUT  the chosen length; its value on entry is ignored
void NEARFFT(int NIN, int& NOUT) {
  const float x = std::log(static_cast<float>(NIN));
  const int e2 = static_cast<int>(x / 0.6931472f + 0.5f);
  const int e3 = static_cast<int>(x / 1.0986123f + 0.5f);
  const int e5 = static_cast<int>(x / 1.609438f + 0.5f);
  const std::int64_t target = NIN;
  std::int64_t best = 3 * target;
  std::int64_t p2 = 1;
  for (int a = 0; a <= e2 && p2 < best; ++a, p2 *= 2) {
    std::int64_t p23 = p2;
    for (int b = 0; b <= e3 && p23 < best; ++b, p23 *= 3) {
      std::int64_t p = p23;
      for (int c = 0; c <= e5 && p < best; ++c, p *= 5) {
        if (p >= target) best = p;
      }
    }
  }
  NOUT = static_cast<int>(best);
}

}  // namespace velmar::console
