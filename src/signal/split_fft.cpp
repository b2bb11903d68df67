// split_fft.cpp: the Stockham radix-4 FFT over split arrays (see split_fft.hpp).
#include "signal/split_fft.hpp"

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <utility>

namespace velmar {
namespace {

// Below this stride the butterflies of one sub-transform are too few to fill
// vector registers: the loop runs over p instead.
constexpr std::size_t WIDE_STRIDE = 8;

// One radix-4 pass (see the glossary); w holds the pass's six twiddle arrays.
[[gnu::always_inline]] inline void radix4_pass(std::size_t s, std::size_t m4, double sign, const double* __restrict w,
                 const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
                 double* __restrict yi) {
  const double* w1r = w;
  const double* w1i = w + m4;
  const double* w2r = w + 2 * m4;
  const double* w2i = w + 3 * m4;
  const double* w3r = w + 4 * m4;
  const double* w3i = w + 5 * m4;
  const std::size_t d = s * m4;
  // Butterflies (p, q) for q in [0, s) and one p, or for p in [0, m4) and one
  // q: inputs at step `in`, outputs at step `out` from the given starts.
  const auto run = [&](std::size_t count, std::size_t a0, std::size_t in, std::size_t b0, std::size_t out,
                       std::size_t p0, std::size_t pstep) {
#pragma GCC ivdep
    for (std::size_t k = 0; k < count; ++k) {
      const std::size_t a = a0 + k * in, b = b0 + k * out, p = p0 + k * pstep;
      const double ar = xr[a], ai = xi[a], br = xr[a + d], bi = xi[a + d];
      const double cr = xr[a + 2 * d], ci = xi[a + 2 * d], dr = xr[a + 3 * d], di = xi[a + 3 * d];
      const double apcr = ar + cr, apci = ai + ci, amcr = ar - cr, amci = ai - ci;
      const double bpdr = br + dr, bpdi = bi + di;
      const double jr = -sign * (bi - di), ji = sign * (br - dr);  // sign i (b - d)
      const double t1r = amcr + jr, t1i = amci + ji;
      const double t2r = apcr - bpdr, t2i = apci - bpdi;
      const double t3r = amcr - jr, t3i = amci - ji;
      yr[b] = apcr + bpdr;
      yi[b] = apci + bpdi;
      yr[b + s] = t1r * w1r[p] - t1i * w1i[p];
      yi[b + s] = t1r * w1i[p] + t1i * w1r[p];
      yr[b + 2 * s] = t2r * w2r[p] - t2i * w2i[p];
      yi[b + 2 * s] = t2r * w2i[p] + t2i * w2r[p];
      yr[b + 3 * s] = t3r * w3r[p] - t3i * w3i[p];
      yi[b + 3 * s] = t3r * w3i[p] + t3i * w3r[p];
    }
  };
  if (s >= WIDE_STRIDE) {
    for (std::size_t p = 0; p < m4; ++p) run(s, s * p, 1, 4 * s * p, 1, p, 0);
  } else {
    for (std::size_t q = 0; q < s; ++q) run(m4, q, s, q, 4 * s, 0, 1);
  }
}

// The last pass when log2 n is odd: radix 2 with unit twiddles (m = 2).
[[gnu::always_inline]] inline void radix2_pass(std::size_t s, const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
                 double* __restrict yi) {
  for (std::size_t q = 0; q < s; ++q) {
    yr[q] = xr[q] + xr[q + s];
    yi[q] = xi[q] + xi[q + s];
    yr[q + s] = xr[q] - xr[q + s];
    yi[q + s] = xi[q] - xi[q + s];
  }
}

#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__)
#define VELMAR_SPLIT_FFT_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define VELMAR_SPLIT_FFT_CLONES
#endif

VELMAR_SPLIT_FFT_CLONES void run_passes(std::size_t n, double sign, const double* tw, double* ar, double* ai,
                                        double* br, double* bi, bool& in_b) {
  double* xr = ar;
  double* xi = ai;
  double* yr = br;
  double* yi = bi;
  in_b = false;
  std::size_t s = 1;
  for (std::size_t m = n; m >= 4; m /= 4) {
    radix4_pass(s, m / 4, sign, tw, xr, xi, yr, yi);
    tw += 6 * (m / 4);
    s *= 4;
    std::swap(xr, yr), std::swap(xi, yi);
    in_b = !in_b;
  }
  if (n / s == 2) {
    radix2_pass(s, xr, xi, yr, yi);
    in_b = !in_b;
  }
}

}  // namespace

SplitFft::SplitFft(std::size_t n, int sign) : n_(n) {
  if (n == 0 || (n & (n - 1)) != 0) throw std::invalid_argument("FFT length must be a power of two");
  const double sg = sign >= 0 ? 1.0 : -1.0;
  for (std::size_t m = n; m >= 4; m /= 4) {
    const std::size_t m4 = m / 4;
    const std::size_t at = twiddle_.size();
    twiddle_.resize(at + 6 * m4);
    for (std::size_t k = 1; k <= 3; ++k) {
      for (std::size_t p = 0; p < m4; ++p) {
        // The angle reduced mod m first, so it stays exact for every p.
        const double a = 2.0 * std::numbers::pi * static_cast<double>((k * p) % m) / static_cast<double>(m);
        twiddle_[at + 2 * (k - 1) * m4 + p] = std::cos(a);
        twiddle_[at + (2 * k - 1) * m4 + p] = sg * std::sin(a);
      }
    }
  }
  sign_ = sg;
}

bool SplitFft::transform(std::span<double> re, std::span<double> im, std::span<double> scratch_re,
                         std::span<double> scratch_im) const {
  bool in_scratch = false;
  run_passes(n_, sign_, twiddle_.data(), re.data(), im.data(), scratch_re.data(), scratch_im.data(), in_scratch);
  return in_scratch;
}

}  // namespace velmar
