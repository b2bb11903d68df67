#pragma once
#include <span>

namespace velmar::console {

// Quarter-sine taper of both ends of a record, in place.
// @param[inout] X     record; X[0..N-1] are tapered
// @param[in]    FRAC  fraction of N tapered at each end (0 = unchanged)
// @param[in]    N     number of samples
void TAPER(std::span<float> X, float FRAC, int N);

}  // namespace velmar::console
