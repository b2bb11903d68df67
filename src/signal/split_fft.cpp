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

// A radix-2 pass (see the glossary): y[q + s (2p + r)] = W_m^{p r} (x[q + s p]
// + (-1)^r x[q + s (p + m2)]); w holds W^p, p < m2 (re, im).
[[gnu::always_inline]] inline void radix2_pass(std::size_t s, std::size_t m2, const double* __restrict w,
                                               const double* __restrict xr, const double* __restrict xi,
                                               double* __restrict yr, double* __restrict yi) {
  const std::size_t d = s * m2;
  for (std::size_t p = 0; p < m2; ++p) {
    const double wr = w[p], wi = w[m2 + p];
    const double* ar = xr + s * p;
    const double* ai = xi + s * p;
    double* br = yr + 2 * s * p;
    double* bi = yi + 2 * s * p;
    for (std::size_t q = 0; q < s; ++q) {
      const double ur = ar[q] - ar[q + d], ui = ai[q] - ai[q + d];
      br[q] = ar[q] + ar[q + d];
      bi[q] = ai[q] + ai[q + d];
      br[q + s] = ur * wr - ui * wi;
      bi[q + s] = ur * wi + ui * wr;
    }
  }
}

// A radix-3 pass: w holds W^p and W^2p, p < m3 (re, im of each).
[[gnu::always_inline]] inline void radix3_pass(std::size_t s, std::size_t m3, double sign, const double* __restrict w,
                                               const double* __restrict xr, const double* __restrict xi,
                                               double* __restrict yr, double* __restrict yi) {
  const std::size_t d = s * m3;
  const double h = sign * 0.5 * std::numbers::sqrt3;  // Im W_3
  for (std::size_t p = 0; p < m3; ++p) {
    const double w1r = w[p], w1i = w[m3 + p], w2r = w[2 * m3 + p], w2i = w[3 * m3 + p];
    const double* ar = xr + s * p;
    const double* ai = xi + s * p;
    double* br = yr + 3 * s * p;
    double* bi = yi + 3 * s * p;
    for (std::size_t q = 0; q < s; ++q) {
      const double sr = ar[q + d] + ar[q + 2 * d], si = ai[q + d] + ai[q + 2 * d];
      const double cr = ar[q] - 0.5 * sr, ci = ai[q] - 0.5 * si;
      const double ur = -h * (ai[q + d] - ai[q + 2 * d]), ui = h * (ar[q + d] - ar[q + 2 * d]);  // i Im(W_3) (b - c)
      const double y1r = cr + ur, y1i = ci + ui, y2r = cr - ur, y2i = ci - ui;
      br[q] = ar[q] + sr;
      bi[q] = ai[q] + si;
      br[q + s] = y1r * w1r - y1i * w1i;
      bi[q + s] = y1r * w1i + y1i * w1r;
      br[q + 2 * s] = y2r * w2r - y2i * w2i;
      bi[q + 2 * s] = y2r * w2i + y2i * w2r;
    }
  }
}

#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__)
#define VELMAR_SPLIT_FFT_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define VELMAR_SPLIT_FFT_CLONES
#endif

VELMAR_SPLIT_FFT_CLONES void run_passes(const FftPass* passes, std::size_t count, std::size_t n, double sign,
                                        const double* tw, double* ar, double* ai, double* br, double* bi,
                                        bool& in_b) {
  double* xr = ar;
  double* xi = ai;
  double* yr = br;
  double* yi = bi;
  in_b = false;
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t R = passes[k].radix, m = passes[k].m, mr = m / R, s = n / m;
    if (R == 4) {
      radix4_pass(s, mr, sign, tw, xr, xi, yr, yi);
    } else if (R == 2) {
      radix2_pass(s, mr, tw, xr, xi, yr, yi);
    } else {
      radix3_pass(s, mr, sign, tw, xr, xi, yr, yi);
    }
    tw += 2 * (R - 1) * mr;
    std::swap(xr, yr), std::swap(xi, yi);
    in_b = !in_b;
  }
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

std::vector<double> fft_twiddles(std::size_t n, int sign) {
  const double sg = sign >= 0 ? 1.0 : -1.0;
  std::vector<double> tw;
  for (const FftPass& pass : fft_passes(n)) {
    const std::size_t mr = pass.m / pass.radix, at = tw.size();
    tw.resize(at + 2 * (pass.radix - 1) * mr);
    for (std::size_t j = 1; j < pass.radix; ++j) {
      for (std::size_t p = 0; p < mr; ++p) {
        // The angle reduced mod m first, so it stays exact for every p.
        const double a = 2.0 * std::numbers::pi * static_cast<double>((j * p) % pass.m) / static_cast<double>(pass.m);
        tw[at + 2 * (j - 1) * mr + p] = std::cos(a);
        tw[at + (2 * j - 1) * mr + p] = sg * std::sin(a);
      }
    }
  }
  return tw;
}

SplitFft::SplitFft(std::size_t n, int sign)
    : n_(n), sign_(sign >= 0 ? 1.0 : -1.0), passes_(fft_passes(n)), twiddle_(fft_twiddles(n, sign)) {}

bool SplitFft::transform(std::span<double> re, std::span<double> im, std::span<double> scratch_re,
                         std::span<double> scratch_im) const {
  bool in_scratch = false;
  run_passes(passes_.data(), passes_.size(), n_, sign_, twiddle_.data(), re.data(), im.data(), scratch_re.data(),
             scratch_im.data(), in_scratch);
  return in_scratch;
}

}  // namespace velmar
