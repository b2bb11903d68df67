// smoothing.cpp: Konno-Ohmachi smoothing of an amplitude spectrum.
//
// Glossary:
//   b        bandwidth coefficient (40 by default; larger is narrower)
//   fc       a centre frequency, Hz
//   x        b log10(f / fc): the window's argument
//   W(x)     (sin x / x)^4, 1 at x = 0
// The smoothed value at fc is sum W A / sum W over the spectrum's
// frequencies above 0.
#include <algorithm>
#include <array>
#include <cmath>

#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/measures.hpp"

namespace velmar {

using detail::number;
namespace {

// The window is bounded by 1 / x^4; where that bound is below WINDOW_FLOOR
// (|x| > WINDOW_FLOOR^(-1/4) = 31.6, beyond a factor 10^(31.6/b) from fc:
// 6.2 for b = 40) the terms are left out. On a linear frequency grid the
// points grow denser upwards as 10^(x/b), so the weight left out above fc is
// up to ~5e-5 of the window's (b = 40, a spectrum three decades above fc);
// a result moves by that fraction of the difference between the amplitudes
// far above fc and those near it.
constexpr double WINDOW_FLOOR = 1.0e-6;
// Below |x| = SERIES_LIMIT, sin x / x comes from its series (1 - x^2/6 +
// x^4/120, error below x^6/5040 < 2e-16): the angle-sum sine would lose its
// digits in the quotient there.
constexpr double SERIES_LIMIT = 1.0e-2;
// Partial sums carried side by side (a fixed order, so results do not depend
// on the compiler, and the lanes vectorise).
constexpr std::size_t SUMS = 4;

}  // namespace

std::vector<double> konno_ohmachi(std::span<const double> freqs, std::span<const double> amplitude,
                                  std::span<const double> centres, double b) {
  if (freqs.size() != amplitude.size()) {
    throw InvalidArgument("freqs and amplitude must have the same length, got " + std::to_string(freqs.size()) +
                          " and " + std::to_string(amplitude.size()));
  }
  if (!(std::isfinite(b) && b > 0.0)) throw InvalidArgument("b must be a finite value above 0, got " + number(b));
  for (std::size_t i = 0; i < freqs.size(); ++i) {
    if (!(std::isfinite(freqs[i]) && freqs[i] >= 0.0) || (i > 0 && !(freqs[i] > freqs[i - 1]))) {
      throw InvalidArgument("freqs must be finite, at least 0 and rising, got freqs[" + std::to_string(i) +
                            "] = " + number(freqs[i]));
    }
    if (!std::isfinite(amplitude[i])) {
      throw InvalidArgument("amplitude[" + std::to_string(i) + "] must be finite, got " + number(amplitude[i]));
    }
  }
  for (std::size_t j = 0; j < centres.size(); ++j) {
    if (!(std::isfinite(centres[j]) && centres[j] > 0.0)) {
      throw InvalidArgument("centres[" + std::to_string(j) + "] must be a finite frequency above 0 Hz, got " +
                            number(centres[j]));
    }
  }
  // x = L_k - L_c with L = b log10 f; sin x from the sines and cosines of
  // L_k and L_c (formed once per frequency and once per centre), so the
  // inner loop has no transcendental call.
  const std::size_t k0 = static_cast<std::size_t>(
      std::upper_bound(freqs.begin(), freqs.end(), 0.0) - freqs.begin());
  const std::size_t n = freqs.size() - k0;
  // The amplitudes brought to a peak in [0.5, 1) by a power of two (exact):
  // the sums cannot overflow, and each result, a weighted mean, is scaled
  // back at the end (kept within the amplitudes' range against rounding, so
  // that a spectrum near the largest double stays finite).
  double peak = 0.0;
  for (std::size_t k = 0; k < n; ++k) peak = std::max(peak, std::abs(amplitude[k0 + k]));
  int e = 0;
  std::frexp(peak, &e);
  std::vector<double> L(n), s(n), c(n), a(n), f(n);
  double a_min = 0.0, a_max = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    f[k] = freqs[k0 + k];
    L[k] = b * std::log10(f[k]);
    if (!std::isfinite(L[k])) {
      throw InvalidArgument("b = " + number(b) + " is so large that b log10(f) is above the largest double at f = " +
                            number(f[k]) + " Hz: use a smaller b");
    }
    s[k] = std::sin(L[k]);
    c[k] = std::cos(L[k]);
    a[k] = std::ldexp(amplitude[k0 + k], -e);
    a_min = k == 0 ? a[k] : std::min(a_min, a[k]);
    a_max = k == 0 ? a[k] : std::max(a_max, a[k]);
  }
  const double reach = std::pow(10.0, std::pow(WINDOW_FLOOR, -0.25) / b);
  std::vector<double> out(centres.size());
  for (std::size_t j = 0; j < centres.size(); ++j) {
    const double fc = centres[j];
    const double Lc = b * std::log10(fc);
    if (!std::isfinite(Lc)) {
      throw InvalidArgument("b = " + number(b) + " is so large that b log10(f) is above the largest double at " +
                            "centres[" + std::to_string(j) + "] = " + number(fc) + " Hz: use a smaller b");
    }
    const double sc = std::sin(Lc), cc = std::cos(Lc);
    // Indices of the first frequency at or above x, and of the first above x.
    const auto at_or_above = [&f](double x) {
      return static_cast<std::size_t>(std::lower_bound(f.begin(), f.end(), x) - f.begin());
    };
    const auto above = [&f](double x) {
      return static_cast<std::size_t>(std::upper_bound(f.begin(), f.end(), x) - f.begin());
    };
    const std::size_t lo = at_or_above(fc / reach), hi = above(fc * reach);
    // Near the centre the series; elsewhere the quotient, in a loop without
    // branches. A point just outside the series' range gets the quotient,
    // still good to 1e-12 there.
    const double near = std::pow(10.0, SERIES_LIMIT / b);
    const std::size_t m0 = std::clamp(at_or_above(fc / near), lo, hi);
    const std::size_t m1 = std::clamp(above(fc * near), m0, hi);
    std::array<double, SUMS> sw{}, swa{};
    const auto far_sums = [&](std::size_t from, std::size_t to) {
      std::size_t k = from;
      for (; k + SUMS <= to; k += SUMS) {
        for (std::size_t l = 0; l < SUMS; ++l) {
          const double sinc = (s[k + l] * cc - c[k + l] * sc) / (L[k + l] - Lc);
          const double w = (sinc * sinc) * (sinc * sinc);
          sw[l] += w;
          swa[l] += w * a[k + l];
        }
      }
      for (std::size_t l = 0; k < to; ++k, ++l) {
        const double sinc = (s[k] * cc - c[k] * sc) / (L[k] - Lc);
        const double w = (sinc * sinc) * (sinc * sinc);
        sw[l] += w;
        swa[l] += w * a[k];
      }
    };
    far_sums(lo, m0);
    for (std::size_t k = m0; k < m1; ++k) {
      const double x2 = (L[k] - Lc) * (L[k] - Lc);
      const double sinc = 1.0 - x2 / 6.0 + x2 * x2 / 120.0;
      sw[0] += (sinc * sinc) * (sinc * sinc);
      swa[0] += (sinc * sinc) * (sinc * sinc) * a[k];
    }
    far_sums(m1, hi);
    const double den = (sw[0] + sw[1]) + (sw[2] + sw[3]);
    const double num = (swa[0] + swa[1]) + (swa[2] + swa[3]);
    if (!(den > 0.0)) {
      throw InvalidArgument("centres[" + std::to_string(j) + "] = " + number(fc) +
                            " Hz has no frequency of the spectrum within its window");
    }
    out[j] = std::ldexp(std::clamp(num / den, a_min, a_max), e);
  }
  return out;
}

}  // namespace velmar
