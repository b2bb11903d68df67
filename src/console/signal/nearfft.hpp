#pragma once

namespace velmar::console {

// Smallest length >= NIN whose only prime factors are 2, 3 and 5 (NIN >= 1).
// @param[in]  NIN   length to reach
// @param[out] NOUT  the chosen length
void NEARFFT(int NIN, int& NOUT);

}  // namespace velmar::console
