// split_fft.hpp: a double-precision complex FFT of power-of-two length over
// split real and imaginary arrays, self-sorting (Stockham), radix 4 with one
// radix-2 pass when log2 n is odd. It serves the equivalent-linear iteration,
// which transforms thirty-odd spectra back to time in every pass; the loops
// over a pass's butterflies run over contiguous arrays so they vectorise.
//
// Glossary (one pass; n the length, 0-based indices):
//   s     stride: product of the radices of the passes done (1 at the start)
//   m     length still to transform, n / s; m4 = m / 4
//   p     butterfly index within a sub-transform, 0 .. m4 - 1
//   q     sub-transform index, 0 .. s - 1
// Pass: y[q + s (4p + r)] = W_m^{p r} sum_t x[q + s (p + t m4)] W_4^{t r},
// W_m = exp(sign 2 pi i / m); the outputs end in natural order.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace velmar {

class SplitFft {
 public:
  // n: a power of two, at least 1. Throws std::invalid_argument otherwise.
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
  // Twiddles of every radix-4 pass, pass after pass: W^p, W^2p, W^3p for
  // p < m4 as six arrays of m4 values (re, im of each power).
  std::vector<double> twiddle_;
};

}  // namespace velmar
