#pragma once
#include <span>

namespace velmar::console {

// Filters a real record of length N by a frequency response (see convol.cpp).
// @param[inout] XRE    record, replaced by the filtered record (N values)
// @param[out]   XIM    scratch, N values
// @param[inout] TR,TI  response at frequencies k*DF, k = 0..N/2-1 (elements 0..N/2-1);
//                      elements N/2..N-1 are overwritten with the conjugate mirror
// @param[out]   TRIG   scratch, 2N values;  WORK: scratch, 2N values
// @param[out]   LFAC   scratch, factor count then factors (at least 10 entries)
// @param[in]    N      transform length (2^a 3^b 5^c)
// @param[in]    ICONV  2 = divide by the response, any other value = multiply
void CONVOL(std::span<float> XRE, std::span<float> XIM, std::span<float> TR,
            std::span<float> TI, std::span<float> TRIG, std::span<float> WORK,
            std::span<int> LFAC, int N, int ICONV);

}  // namespace velmar::console
