// fft_double.hpp: a double-precision complex FFT of length 2^a or 3 2^a, for
// the library's record filtering (records of any length, padded).
#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

#include "signal/split_fft.hpp"

namespace velmar::detail {

// The interleaved-complex door to SplitFft (split_fft.hpp), the library's one
// double-precision FFT: a plan holds its forward and backward transforms.
class FftPlan {
 public:
  // n: a length SplitFft serves (2^a or 3 2^a). Throws std::invalid_argument
  // otherwise.
  explicit FftPlan(std::size_t n);
  std::size_t size() const { return n_; }
  // Unnormalised DFT in place: X_k = sum_j x_j exp(sign * 2 pi i j k / n),
  // sign +1 or -1; a transform with +1 then one with -1 returns n x.
  // x.size() must be size().
  // Uses split arrays kept by the calling thread (see fft_double.cpp).
  void transform(std::span<std::complex<double>> x, int sign) const;
  // The same with the caller's work space: work.size() >= 4 size() doubles.
  // Allocates nothing.
  void transform(std::span<std::complex<double>> x, int sign, std::span<double> work) const;

 private:
  std::size_t n_;
  SplitFft forward_, backward_;
};

}  // namespace velmar::detail
