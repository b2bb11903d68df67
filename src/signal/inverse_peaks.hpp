// inverse_peaks.hpp: the peak of each of many real histories given by their
// spectra, without writing the histories out: the equivalent-linear
// iteration needs, in every pass, only the largest strain of each layer.
//
// Glossary (0-based):
//   L      transform length, 2^a or 3 2^a; n <= L the samples searched
//   X      a history's spectrum at k = 0 .. L/2 (Hermitian: the rest is the
//          conjugate mirror, X_0 and X_{L/2} taken real)
//   x_t    (1/L) sum_k X_k e^{-2 pi i k t / L}, the real history (the
//          inverse of the library's forward transform, whose sign is +)
// Two histories go through one complex transform (one in the real part, one
// in the imaginary). When L's power-of-two part is at least 64 the
// transform is split as L = N1 N2 (N1 a power of two)
// (k = N2 k1 + k2, t = t1 + N1 t2) and run on the conjugate spectra with
// the sign +: length-N1 transforms over k1, eight columns k2 side by side in
// vector lanes; a twiddle e^{2 pi i k2 t1 / L};
// length-N2 transforms over k2, eight rows t1 side by side; the peaks are
// taken from the registers of the last step. Every step runs on blocks that
// stay in the first two cache levels, and every loop runs over the eight
// lanes, so it vectorises without shuffles.
#pragma once

#include <cstddef>
#include <vector>

#include "signal/split_fft.hpp"

namespace velmar::detail {

class InversePeaks {
 public:
  // L: an even length the transforms serve (2^a or 3 2^a, split_fft.hpp);
  // n: 1 .. L. Throws std::invalid_argument otherwise.
  InversePeaks(std::size_t L, std::size_t n);
  std::size_t size() const { return L_; }

  // out[j] = max over t < n of |x_t| of history j, j < count, whose spectrum
  // is (re, im)[j * stride + k], k = 0 .. L/2 (stride >= L/2 + 1). A
  // non-finite value gives NaN for its history and the one transformed with
  // it (j xor 1).
  void peaks(const double* re, const double* im, std::size_t stride, std::size_t count, double* out);

 private:
  void pair_split(const double* ar, const double* ai, const double* br, const double* bi, double& peak_a,
                  double& peak_b);
  void pair_small(const double* ar, const double* ai, const double* br, const double* bi, double& peak_a,
                  double& peak_b);

  std::size_t L_, n_;
  std::size_t n1_ = 0, n2_ = 0;  // the split, when there is one
  // Passes and twiddles of the lane transforms of lengths n1 and n2 (as in
  // split_fft), and the twiddles of the middle step: e^{2 pi i c W t1 / L} per (column group c, t1)
  // and e^{2 pi i l t1 / L} per (t1, lane l).
  std::vector<FftPass> passes1_, passes2_;
  std::vector<double> tw1_, tw2_, mid_group_, mid_lane_;
  // Work: the middle array (L values, re and im) and two lane buffers of
  // the longer length (re and im each).
  std::vector<double> mr_, mi_, ar_, ai_, br_, bi_;
  // Below the split: one complex transform of length L.
  SplitFft small_;
};

}  // namespace velmar::detail
