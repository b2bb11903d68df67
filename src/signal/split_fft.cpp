// split_fft.cpp: the Stockham FFT over split arrays (see split_fft.hpp): the
// pass plan, its twiddles, and the passes of stockham_passes.hpp.
#include "signal/split_fft.hpp"

#include "signal/stockham_passes.hpp"

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace velmar::detail {
namespace {

#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__)
#define VELMAR_SPLIT_FFT_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define VELMAR_SPLIT_FFT_CLONES
#endif

VELMAR_SPLIT_FFT_CLONES bool run_passes(const FftPass* passes, std::size_t count, std::size_t n, double sign,
                                        const double* tw, double* ar, double* ai, double* br, double* bi) {
  return stockham_passes(passes, count, n, 1, sign, tw, ar, ai, br, bi);
}

}  // namespace

bool fft_length_supported(std::size_t n) {
  if (n == 0) return false;
  while (n % 2 == 0) n /= 2;
  return n == 1 || n == 3;
}

std::size_t fft_fast_length(std::size_t m) {
  std::size_t p = 1;
  while (p < m) p <<= 1;
  // 3 2^a lies between 2^(a+1) and 2^(a+2): the one candidate below p.
  const std::size_t three = 3 * (p / 4);
  return p >= 4 && three >= m ? three : p;
}

std::vector<FftPass> fft_passes(std::size_t n) {
  if (!fft_length_supported(n)) throw std::invalid_argument("FFT length must be 2^a or 3 2^a");
  std::vector<FftPass> passes;
  std::size_t m = n;
  for (; m % 4 == 0; m /= 4) passes.push_back({4, m});
  if (m % 2 == 0) passes.push_back({2, m}), m /= 2;
  if (m == 3) passes.push_back({3, m});
  return passes;
}

UnitRoots::UnitRoots(std::size_t n) : n_(n) {
  if (n % 4 == 0) {
    cos_.resize(n / 4 + 1);
    for (std::size_t k = 0; k <= n / 4; ++k) {
      cos_[k] = std::cos(2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n));
    }
  }
}

void UnitRoots::get(std::size_t r, double& re, double& im) const {
  r %= n_;
  if (cos_.empty()) {
    // The lower half of the circle as the conjugate of the upper (smaller
    // angles, smaller rounding).
    const bool lower = 2 * r > n_;
    const double a = 2.0 * std::numbers::pi * static_cast<double>(lower ? n_ - r : r) / static_cast<double>(n_);
    re = std::cos(a), im = lower ? -std::sin(a) : std::sin(a);
    return;
  }
  // r = q n/4 + u: the angle is q quarter turns plus phi = 2 pi u / n, and
  // sin(phi) = cos(2 pi (n/4 - u) / n).
  const std::size_t n4 = n_ / 4, q = r / n4, u = r % n4;
  const double c = cos_[u], s = cos_[n4 - u];
  switch (q) {
    case 0: re = c, im = s; break;
    case 1: re = -s, im = c; break;
    case 2: re = -c, im = -s; break;
    default: re = s, im = -c; break;
  }
}

std::vector<double> fft_twiddles(std::size_t n, int sign) {
  const double sg = sign >= 0 ? 1.0 : -1.0;
  const UnitRoots roots(n);
  const std::vector<FftPass> passes = fft_passes(n);
  std::size_t total = 0;
  for (const FftPass& pass : passes) total += 2 * (pass.radix - 1) * (pass.m / pass.radix);
  std::vector<double> tw(total);
  std::size_t at = 0;
  for (const FftPass& pass : passes) {
    const std::size_t mr = pass.m / pass.radix;
    for (std::size_t j = 1; j < pass.radix; ++j) {
      for (std::size_t p = 0; p < mr; ++p) {
        // W_m^{jp} = exp(2 pi i (j p mod m) (n / m) / n): exact index arithmetic.
        double re = 0.0, im = 0.0;
        roots.get((j * p) % pass.m * (n / pass.m), re, im);
        tw[at + 2 * (j - 1) * mr + p] = re;
        tw[at + (2 * j - 1) * mr + p] = sg * im;
      }
    }
    at += 2 * (pass.radix - 1) * mr;
  }
  return tw;
}

SplitFft::SplitFft(std::size_t n, int sign)
    : n_(n), sign_(sign >= 0 ? 1.0 : -1.0), passes_(fft_passes(n)), twiddle_(fft_twiddles(n, sign)) {}

bool SplitFft::transform(std::span<double> re, std::span<double> im, std::span<double> scratch_re,
                         std::span<double> scratch_im) const {
  return run_passes(passes_.data(), passes_.size(), n_, sign_, twiddle_.data(), re.data(), im.data(),
                    scratch_re.data(), scratch_im.data());
}

}  // namespace velmar::detail
