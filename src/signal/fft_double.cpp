// fft_double.cpp: radix-2 complex FFT in double precision.
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

FftPlan::FftPlan(std::size_t n) : n_(n) {
  if (n == 0 || (n & (n - 1)) != 0) throw std::invalid_argument("FFT length must be a power of two");
  twiddle_.resize(n / 2);
  for (std::size_t k = 0; k < n / 2; ++k) {
    const double a = 2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
    twiddle_[k] = {std::cos(a), std::sin(a)};
  }
}

void FftPlan::transform(std::span<std::complex<double>> x, int sign) const {
  const std::size_t n = n_;
  // Bit-reversal permutation.
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::size_t half = len / 2;
    const std::size_t stride = n / len;
    for (std::size_t start = 0; start < n; start += len) {
      for (std::size_t k = 0; k < half; ++k) {
        const std::complex<double> t = twiddle_[k * stride];
        const double wr = t.real();
        const double wi = sign >= 0 ? t.imag() : -t.imag();
        std::complex<double>& a = x[start + k];
        std::complex<double>& b = x[start + k + half];
        const double br = b.real() * wr - b.imag() * wi;
        const double bi = b.real() * wi + b.imag() * wr;
        b = {a.real() - br, a.imag() - bi};
        a = {a.real() + br, a.imag() + bi};
      }
    }
  }
}

}  // namespace velmar
