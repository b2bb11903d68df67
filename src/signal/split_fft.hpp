// split_fft.hpp: a double-precision complex FFT of length 2^a or 3 2^a over
// split real and imaginary arrays, self-sorting (Stockham): radix-4 passes,
// then one radix-2 pass when the remaining length is even, then one radix-3
// pass when it is 3. The loops over a pass's butterflies run over contiguous
// arrays so they vectorise. The pass plan and its twiddles are shared with
// the lane transforms of inverse_peaks.
//
// Glossary (one pass; n the length, 0-based indices):
//   s     stride: product of the radices of the passes done (1 at the start)
//   m     length still to transform, n / s; R the pass's radix, mr = m / R
//   p     butterfly index within a sub-transform, 0 .. mr - 1
//   q     sub-transform index, 0 .. s - 1
// Pass: y[q + s (R p + r)] = W_m^{p r} sum_t x[q + s (p + t mr)] W_R^{t r},
// W_m = exp(sign 2 pi i / m); the outputs end in natural order.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace velmar::detail {

// Whether n is a length the transforms serve: 2^a or 3 2^a, a >= 0.
bool fft_length_supported(std::size_t n);

// The smallest served length not below m (1 for m <= 1).
std::size_t fft_fast_length(std::size_t m);

// exp(2 pi i r / n) for any r >= 0: from a table of cos(2 pi k / n),
// k <= n/4, and the symmetries of the circle (when 4 divides n; else each
// value is computed), so a plan of length n costs n/4 cosines, and values
// at symmetric angles are exactly symmetric.
class UnitRoots {
 public:
  explicit UnitRoots(std::size_t n);
  void get(std::size_t r, double& re, double& im) const;

 private:
  std::size_t n_;
  std::vector<double> cos_;  // cos(2 pi k / n), k = 0 .. n/4
};

// One pass: its radix and the length m still to transform before it.
struct FftPass {
  std::size_t radix, m;
};

// The passes of a length-n transform (n served), in order.
std::vector<FftPass> fft_passes(std::size_t n);

// The twiddles of those passes, pass after pass: for each, the powers W_m^{j p}
// for j = 1 .. radix - 1 and p < m / radix, each power as an array of real
// parts then one of imaginary parts; W_m = exp(sign 2 pi i / m).
std::vector<double> fft_twiddles(std::size_t n, int sign);

class SplitFft {
 public:
  // n: a served length. Throws std::invalid_argument otherwise.
  SplitFft(std::size_t n, int sign);
  std::size_t size() const { return n_; }
  // X_k = sum_j x_j exp(sign 2 pi i j k / n), unnormalised. re and im (n
  // values each) hold the input; scratch_re/im (n values each) are work
  // space. Returns whether the result ended in the scratch arrays (true) or
  // in re/im (false).
  bool transform(std::span<double> re, std::span<double> im, std::span<double> scratch_re,
                 std::span<double> scratch_im) const;

 private:
  std::size_t n_;
  double sign_ = 1.0;
  std::vector<FftPass> passes_;
  std::vector<double> twiddle_;  // fft_twiddles(n, sign)
};

}  // namespace velmar::detail
