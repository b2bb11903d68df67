// fourier.cpp: unpadded DFTs of real records of any length, and integration
// of a record in the frequency domain.
#include <cmath>
#include <cstdint>
#include <numbers>

#include "signal/fft_double.hpp"
#include "site/padded_grid.hpp"
#include "site/measures_detail.hpp"

namespace velmar::detail {

std::vector<cdouble> real_dft(std::span<const double> x, std::size_t count) {
  const std::size_t n = x.size();
  std::vector<cdouble> X;
  if (fft_length_supported(n)) {
    X.assign(x.begin(), x.end());
    FftPlan(n).transform(X, +1);
    X.resize(count);
    return X;
  }
  // j k = (j^2 + k^2 - (k - j)^2) / 2 turns the DFT into a convolution with
  // the chirp c_m = exp(i pi m^2 / n). m^2 is reduced modulo 2n in integers
  // so the chirp's phase stays exact for any length.
  const std::size_t M = fft_fast_length(2 * n - 1);
  const auto chirp = [n](std::size_t m) {
    const std::uint64_t r = (static_cast<std::uint64_t>(m) * m) % (2 * static_cast<std::uint64_t>(n));
    const double phase = std::numbers::pi * static_cast<double>(r) / static_cast<double>(n);
    return cdouble{std::cos(phase), std::sin(phase)};
  };
  std::vector<cdouble> a(M), b(M);
  for (std::size_t m = 0; m < n; ++m) {
    const cdouble c = chirp(m);
    a[m] = x[m] * c;
    b[m] = std::conj(c);
    if (m > 0) b[M - m] = b[m];
  }
  const FftPlan plan(M);
  plan.transform(a, +1);
  plan.transform(b, +1);
  for (std::size_t m = 0; m < M; ++m) a[m] *= b[m];
  plan.transform(a, -1);
  const double inv = 1.0 / static_cast<double>(M);
  X.resize(count);
  for (std::size_t k = 0; k < count; ++k) X[k] = a[k] * chirp(k) * inv;
  return X;
}

std::array<std::vector<double>, 2> integrate_twice(std::span<const double> accel, double dt, double to_si) {
  const std::size_t n = accel.size();
  const std::size_t L = padded_length(n);
  // Two spectra at a time (the record's and one integral's): memory 32 L bytes.
  std::vector<cdouble> A(L), Y(L);
  for (std::size_t j = 0; j < n; ++j) A[j] = accel[j] * to_si;
  const FftPlan plan(L);
  plan.transform(A, +1);
  const double dw = 2.0 * std::numbers::pi / (static_cast<double>(L) * dt);
  const double inv = 1.0 / static_cast<double>(L);
  std::array<std::vector<double>, 2> out;
  for (std::size_t q = 0; q < 2; ++q) {
    Y[0] = {};
    for (std::size_t k = 1; k <= L / 2; ++k) {
      const double w = dw * static_cast<double>(k);
      Y[k] = q == 0 ? A[k] / cdouble{0.0, -w} : A[k] / (-w * w);
    }
    // A real history: the middle term is real, the upper half mirrors the lower.
    if (L > 1) Y[L / 2] = {Y[L / 2].real(), 0.0};
    for (std::size_t k = 1; k < L / 2; ++k) Y[L - k] = std::conj(Y[k]);
    plan.transform(Y, -1);
    out[q].resize(n);
    for (std::size_t j = 0; j < n; ++j) out[q][j] = Y[j].real() * inv;
  }
  return out;
}

}  // namespace velmar::detail
