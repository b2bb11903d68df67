// fourier.cpp: unpadded DFTs of real records of any length, and integration
// of a record in the frequency domain.
#include <cmath>
#include <cstdint>
#include <numbers>

#include "signal/fft_double.hpp"
#include "site/measures_detail.hpp"
#include "site/record_filter_cache.hpp"
#include "velmar/record_filter.hpp"

namespace velmar::detail {

void dft(std::span<cdouble> x, int sign) {
  const std::size_t n = x.size();
  if (n == 0) return;
  if (fft_length_supported(n)) {
    FftPlan(n).transform(x, sign);
    return;
  }
  // j k = (j^2 + k^2 - (k - j)^2) / 2 turns the DFT into a convolution with
  // the chirp c_m = exp(sign i pi m^2 / n). m^2 is reduced modulo 2n in
  // integers so the chirp's phase stays exact for any length.
  const std::size_t M = fft_fast_length(2 * n - 1);
  const double s = sign > 0 ? 1.0 : -1.0;
  const auto chirp = [n, s](std::size_t m) {
    const std::uint64_t r = (static_cast<std::uint64_t>(m) * m) % (2 * static_cast<std::uint64_t>(n));
    const double phase = s * std::numbers::pi * static_cast<double>(r) / static_cast<double>(n);
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
  for (std::size_t k = 0; k < n; ++k) x[k] = a[k] * chirp(k) * inv;
}

std::vector<cdouble> real_dft(std::span<const double> x, std::size_t count) {
  std::vector<cdouble> X(x.begin(), x.end());
  dft(X, +1);
  X.resize(count);
  return X;
}

std::array<std::vector<double>, 2> integrate_twice(std::span<const double> accel, double dt, double to_si) {
  // The record's spectrum over the padded window, over -i w and -w^2, and
  // both histories from one inverse transform.
  RecordFilter own;
  RecordFilter& filter = kept_record_filter(accel.size(), own);
  filter.assign(accel, dt, to_si);
  const std::size_t nf = filter.frequencies().size();
  std::vector<cdouble> V(nf), D(nf);
  filter.filtered_spectrum({}, InputMotion::INCIDENT, {}, 1, 1.0, V);
  filter.filtered_spectrum({}, InputMotion::INCIDENT, {}, 2, 1.0, D);
  std::array<std::vector<double>, 2> out{std::vector<double>(accel.size()), std::vector<double>(accel.size())};
  filter.history_pair(V, D, out[0], out[1]);
  return out;
}

}  // namespace velmar::detail
