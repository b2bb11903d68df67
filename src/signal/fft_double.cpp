// fft_double.cpp: the interleaved-complex FFT plan over SplitFft.
#include "signal/fft_double.hpp"

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace velmar {

std::size_t next_power_of_two(std::size_t n) {
  std::size_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

FftPlan::FftPlan(std::size_t n) : n_(n), forward_(n, +1), backward_(n, -1) {}

void FftPlan::transform(std::span<std::complex<double>> x, int sign) const {
  const std::size_t n = n_;
  std::vector<double> re(n), im(n), scratch_re(n), scratch_im(n);
  for (std::size_t i = 0; i < n; ++i) re[i] = x[i].real(), im[i] = x[i].imag();
  const bool in_scratch = (sign >= 0 ? forward_ : backward_).transform(re, im, scratch_re, scratch_im);
  const std::vector<double>& r = in_scratch ? scratch_re : re;
  const std::vector<double>& m = in_scratch ? scratch_im : im;
  for (std::size_t i = 0; i < n; ++i) x[i] = {r[i], m[i]};
}

}  // namespace velmar
