// stockham_passes.hpp: the passes of the self-sorting (Stockham) FFT over
// split real and imaginary arrays, shared by SplitFft and by the lane
// transforms of inverse_peaks. A transform of length n over `lanes`
// independent signals stored side by side (element e of lane l at e lanes +
// l) is the same pass sequence with every stride multiplied by `lanes`: the
// sub-transform index q and the lane together run over q lanes + l, and so
// a pass's inner loops stay contiguous.
//
// Glossary (one pass, as in split_fft.hpp): s the stride (product of the
// radices done, times lanes), R the radix, m the length still to
// transform, mr = m / R, p < mr, q < s. Pass: y[q + s (R p + r)] =
// W_m^{p r} sum_t x[q + s (p + t mr)] W_R^{t r}, W_m = exp(sign 2 pi i / m).
#pragma once

#include <cmath>
#include <cstddef>
#include <numbers>
#include <utility>

#include "common/platform.hpp"
#include "signal/split_fft.hpp"

namespace velmar::detail {
namespace stockham {

// Below this stride the butterflies of one sub-transform are too few to fill
// vector registers: the loop runs over p instead.
constexpr std::size_t WIDE_STRIDE = 8;

// Runs of q handed to the inner loops of the lane transforms (strides 8,
// 32, 128 ...): runs of exactly CHUNK, a trip count the compiler knows, so
// each run becomes whole vector instructions with no loop set-up or
// remainder code. A single transform runs faster in the compiler's own
// vector loop.
constexpr std::size_t CHUNK = 8;

// f(q) for every q < s; with `runs`, in runs of CHUNK (s a multiple of it).
template <typename F>
VELMAR_ALWAYS_INLINE void each_q(std::size_t s, bool runs, F&& f) {
  if (runs && s % CHUNK == 0) {
    for (std::size_t q0 = 0; q0 < s; q0 += CHUNK) {
      VELMAR_IVDEP
      for (std::size_t e = 0; e < CHUNK; ++e) f(q0 + e);
    }
  } else {
    VELMAR_IVDEP
    for (std::size_t q = 0; q < s; ++q) f(q);
  }
}

// One radix-4 pass (see the glossary); w holds the pass's six twiddle arrays.
VELMAR_ALWAYS_INLINE void radix4_pass(std::size_t s, bool runs, std::size_t m4, double sign, const double* VELMAR_RESTRICT w,
                 const double* VELMAR_RESTRICT xr, const double* VELMAR_RESTRICT xi, double* VELMAR_RESTRICT yr,
                 double* VELMAR_RESTRICT yi) {
  const double* w1r = w;
  const double* w1i = w + m4;
  const double* w2r = w + 2 * m4;
  const double* w2i = w + 3 * m4;
  const double* w3r = w + 4 * m4;
  const double* w3i = w + 5 * m4;
  const std::size_t d = s * m4;
  // The butterfly (p, q): inputs from a = q + s p, outputs from b = q + 4 s p.
  const auto butterfly = [&](std::size_t a, std::size_t b, double w1r, double w1i, double w2r, double w2i, double w3r,
                             double w3i) {
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
    yr[b + s] = t1r * w1r - t1i * w1i;
    yi[b + s] = t1r * w1i + t1i * w1r;
    yr[b + 2 * s] = t2r * w2r - t2i * w2i;
    yi[b + 2 * s] = t2r * w2i + t2i * w2r;
    yr[b + 3 * s] = t3r * w3r - t3i * w3i;
    yi[b + 3 * s] = t3r * w3i + t3i * w3r;
  };
  if (s >= WIDE_STRIDE) {
    // One p at a time, the q < s contiguous in the inner loop.
    for (std::size_t p = 0; p < m4; ++p) {
      const double a1r = w1r[p], a1i = w1i[p], a2r = w2r[p], a2i = w2i[p], a3r = w3r[p], a3i = w3i[p];
      each_q(s, runs, [&](std::size_t q) { butterfly(s * p + q, 4 * s * p + q, a1r, a1i, a2r, a2i, a3r, a3i); });
    }
  } else {
    for (std::size_t q = 0; q < s; ++q) {
      VELMAR_IVDEP
      for (std::size_t p = 0; p < m4; ++p) {
        butterfly(q + s * p, q + 4 * s * p, w1r[p], w1i[p], w2r[p], w2i[p], w3r[p], w3i[p]);
      }
    }
  }
}

// A radix-2 pass (see the glossary): y[q + s (2p + r)] = W_m^{p r} (x[q + s p]
// + (-1)^r x[q + s (p + m2)]); w holds W^p, p < m2 (re, im).
VELMAR_ALWAYS_INLINE void radix2_pass(std::size_t s, bool runs, std::size_t m2, const double* VELMAR_RESTRICT w,
                                               const double* VELMAR_RESTRICT xr, const double* VELMAR_RESTRICT xi,
                                               double* VELMAR_RESTRICT yr, double* VELMAR_RESTRICT yi) {
  const std::size_t d = s * m2;
  for (std::size_t p = 0; p < m2; ++p) {
    const double wr = w[p], wi = w[m2 + p];
    const double* ar = xr + s * p;
    const double* ai = xi + s * p;
    double* br = yr + 2 * s * p;
    double* bi = yi + 2 * s * p;
    each_q(s, runs, [&](std::size_t q) {
      const double ur = ar[q] - ar[q + d], ui = ai[q] - ai[q + d];
      br[q] = ar[q] + ar[q + d];
      bi[q] = ai[q] + ai[q + d];
      br[q + s] = ur * wr - ui * wi;
      bi[q + s] = ur * wi + ui * wr;
    });
  }
}

// A radix-3 pass: w holds W^p and W^2p, p < m3 (re, im of each).
VELMAR_ALWAYS_INLINE void radix3_pass(std::size_t s, bool runs, std::size_t m3, double sign, const double* VELMAR_RESTRICT w,
                                               const double* VELMAR_RESTRICT xr, const double* VELMAR_RESTRICT xi,
                                               double* VELMAR_RESTRICT yr, double* VELMAR_RESTRICT yi) {
  const std::size_t d = s * m3;
  const double h = sign * 0.5 * std::numbers::sqrt3;  // Im W_3
  for (std::size_t p = 0; p < m3; ++p) {
    const double w1r = w[p], w1i = w[m3 + p], w2r = w[2 * m3 + p], w2i = w[3 * m3 + p];
    const double* ar = xr + s * p;
    const double* ai = xi + s * p;
    double* br = yr + 3 * s * p;
    double* bi = yi + 3 * s * p;
    each_q(s, runs, [&](std::size_t q) {
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
    });
  }
}

}  // namespace stockham

// Runs `count` passes of a length-n transform over `lanes` side-by-side
// signals from (ar, ai), with (br, bi) as the other buffer; tw holds
// fft_twiddles(n, sign). Returns whether the result ended in (br, bi).
VELMAR_ALWAYS_INLINE bool stockham_passes(const FftPass* passes, std::size_t count, std::size_t n,
                                                   std::size_t lanes, double sign, const double* tw, double* ar,
                                                   double* ai, double* br, double* bi) {
  double* xr = ar;
  double* xi = ai;
  double* yr = br;
  double* yi = bi;
  bool in_b = false;
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t R = passes[k].radix, m = passes[k].m, mr = m / R, s = n / m * lanes;
    if (R == 4) {
      stockham::radix4_pass(s, lanes > 1, mr, sign, tw, xr, xi, yr, yi);
    } else if (R == 2) {
      stockham::radix2_pass(s, lanes > 1, mr, tw, xr, xi, yr, yi);
    } else {
      stockham::radix3_pass(s, lanes > 1, mr, sign, tw, xr, xi, yr, yi);
    }
    tw += 2 * (R - 1) * mr;
    std::swap(xr, yr), std::swap(xi, yi);
    in_b = !in_b;
  }
  return in_b;
}

}  // namespace velmar::detail
