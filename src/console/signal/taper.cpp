// taper.cpp: TAPER, the quarter-sine window on both ends of a record.
//
// Glossary (0-based: sample k of the record counted from 1 is X[k-1]):
//   X     the record, X[0..N-1]
//   FRAC  fraction of N tapered at each end (0.05 in a signal run)
//   NTAP  number of tapered samples at each end: N*FRAC rounded, halves away from zero
#include "console/signal/taper.hpp"

#include <cmath>
#include <cstddef>

namespace velmar::console {

// Multiplies the k-th sample from either end (k = 0..NTAP-1) by
// sin(k * pi / (2 NTAP)), so the first and last samples become 0 and the
// weights rise towards 1; samples NTAP..N-1-NTAP are untouched. The phase is
// accumulated in single precision from 0 in steps of (pi/2)/NTAP, with pi the
// float 3.1415927.
// FRAC = 0, or NTAP = 0 (N*FRAC below one half), leaves the record unchanged.
// NTAP is capped at N/2 so that the two ends never overlap: a fraction above
// one half tapers each half of the record once, from its end to the middle,
// instead of scaling middle samples twice (and, above 1, reaching outside
// the record). A negative FRAC leaves the record unchanged.
// @param[inout] X     record; X[0..N-1] tapered in place
// @param[in]    FRAC  fraction tapered at each end
// @param[in]    N     number of samples
void TAPER(std::span<float> X, float FRAC, int N) {
  if (FRAC == 0.0f || N < 1) return;
  const float product = static_cast<float>(N) * FRAC;
  long NTAP = std::lround(product);
  if (NTAP > N / 2) NTAP = N / 2;
  if (NTAP <= 0) return;
  const float PI = 3.1415927f;
  const float step = (PI / 2.0f) / static_cast<float>(NTAP);
  float phase = 0.0f;
  const std::size_t last = static_cast<std::size_t>(N) - 1;
  for (std::size_t k = 0; k < static_cast<std::size_t>(NTAP); ++k) {
    const float w = std::sin(phase);
    X[k] = w * X[k];
    X[last - k] = w * X[last - k];
    phase = phase + step;
  }
}

}  // namespace velmar::console
