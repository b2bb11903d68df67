// sh_mid_strain_any.cpp: mid-layer SH strain moduli at any frequencies (see
// sh_mid_strain_any.hpp). Frequencies go a block at a time, side by side in
// arrays; each layer's step runs over the block in vector registers.
#include "site/sh_mid_strain_any.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "common/platform.hpp"
#include "layers/complex_ops.hpp"
#include "layers/poly_math.hpp"

namespace velmar::detail {
namespace {

constexpr std::size_t BLOCK = 32;
// As in sh_mid_strain: a vertical slowness this small beside the entry's
// slowness makes alpha unbounded.
constexpr double SMALL_SLOWNESS = 1e-6;

// The layers' constants, one array each (n entries): vertical slowness (cr,
// ci), alpha (ar, ai), thickness h.
struct Column {
  const double* cr;
  const double* ci;
  const double* ar;
  const double* ai;
  const double* h;
  std::size_t n;
};

// The forward step across one layer (vertical slowness (cr, ci), half
// thickness hh, alpha (alr, ali)) for every lane of a block: updates rho in
// place, writes S and F of the layer.
VELMAR_ALWAYS_INLINE void forward(double cr, double ci, double hh, double alr, double ali,
                                  const double* VELMAR_RESTRICT om, double* VELMAR_RESTRICT rr,
                                  double* VELMAR_RESTRICT ri, double* VELMAR_RESTRICT sr, double* VELMAR_RESTRICT si,
                                  double* VELMAR_RESTRICT fr, double* VELMAR_RESTRICT fi) {
  const double ar = 1.0 + alr, ai = ali;  // 1 + alpha
  const double br = 1.0 - alr, bi = -ali;  // 1 - alpha
  for (std::size_t i = 0; i < BLOCK; ++i) {
    const double w = om[i];
    // e^{i phi} = e^{-w ci h/2} (cos + i sin)(w cr h/2)
    const double decay = 2.0 * poly::half_exp_poly(std::max(-w * ci * hh, poly::EXP_FLOOR));
    const poly::SinCos sc = poly::sincos_poly(w * cr * hh);
    const double ehr = decay * sc.c, ehi = decay * sc.s;
    const double er = ehr * ehr - ehi * ehi, ei = 2.0 * ehr * ehi;                // E
    const double xr = rr[i] * er - ri[i] * ei, xi = rr[i] * ei + ri[i] * er;      // rho E
    const double yr = xr * er - xi * ei, yi = xr * ei + xi * er;                  // rho E^2
    const double gr = 0.5 * (br * yr - bi * yi + ar), gi = 0.5 * (br * yi + bi * yr + ai);
    const double inv = 1.0 / (gr * gr + gi * gi);
    const double qr = gr * inv, qi = -gi * inv;  // 1 / G
    const double nr = ar * yr - ai * yi + br, ni = ar * yi + ai * yr + bi;
    rr[i] = 0.5 * (nr * qr - ni * qi);
    ri[i] = 0.5 * (nr * qi + ni * qr);
    // i omega c e^{i phi} (rho E - 1) / G
    const double tr0 = (xr - 1.0) * ehr - xi * ehi, ti0 = (xr - 1.0) * ehi + xi * ehr;
    const double tr = tr0 * qr - ti0 * qi, ti = tr0 * qi + ti0 * qr;
    sr[i] = w * (-ci * tr - cr * ti);
    si[i] = w * (cr * tr - ci * ti);
    fr[i] = er * qr - ei * qi;
    fi[i] = er * qi + ei * qr;
  }
}

#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__)
#define VELMAR_MID_STRAIN_ANY_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define VELMAR_MID_STRAIN_ANY_CLONES
#endif

// One block of `count` frequencies (lanes past it repeat the last one):
// the forward sweep writes each layer's strain factor S (strain over
// B_{j+1}) and F = E / G into the store, the backward one the moduli.
VELMAR_MID_STRAIN_ANY_CLONES void run_block(const Column& col, const double* freqs, std::size_t count,
                                            std::size_t nf, double* base, double* out, bool squared) {
  const std::size_t N = col.n;
  double* om = base;
  double* rr = base + BLOCK;
  double* ri = base + 2 * BLOCK;
  for (std::size_t i = 0; i < BLOCK; ++i) {
    om[i] = 2.0 * std::numbers::pi * freqs[std::min(i, count - 1)];
    rr[i] = 1.0, ri[i] = 0.0;
  }
  for (std::size_t n = 0; n < N; ++n) {
    double* sr = base + (3 + 4 * n) * BLOCK;
    forward(col.cr[n], col.ci[n], 0.5 * col.h[n], col.ar[n], col.ai[n], om, rr, ri, sr, sr + BLOCK, sr + 2 * BLOCK,
            sr + 3 * BLOCK);
  }
  // Backward: B_j per unit B_n as the running product of F from below, in
  // the arrays of rho (free now).
  for (std::size_t i = 0; i < BLOCK; ++i) rr[i] = 1.0, ri[i] = 0.0;
  for (std::size_t n = N; n-- > 0;) {
    const double* VELMAR_RESTRICT sr = base + (3 + 4 * n) * BLOCK;
    const double* VELMAR_RESTRICT si = sr + BLOCK;
    const double* VELMAR_RESTRICT fr = sr + 2 * BLOCK;
    const double* VELMAR_RESTRICT fi = sr + 3 * BLOCK;
    double* VELMAR_RESTRICT o = out + n * nf;
    for (std::size_t i = 0; i < count; ++i) {
      const double a = sr[i] * rr[i] - si[i] * ri[i], b = sr[i] * ri[i] + si[i] * rr[i];
      o[i] = a * a + b * b;
    }
    if (!squared) {
      for (std::size_t i = 0; i < count; ++i) o[i] = std::sqrt(o[i]);
    }
    for (std::size_t i = 0; i < BLOCK; ++i) {
      const double t = rr[i] * fr[i] - ri[i] * fi[i];
      ri[i] = rr[i] * fi[i] + ri[i] * fr[i];
      rr[i] = t;
    }
  }
}

}  // namespace

bool sh_mid_strain_moduli(const ShMedium& medium, double angle_deg, std::span<const double> freqs,
                          std::span<double> out, MidStrainAnyWork& work, bool squared) {
  const std::size_t N = medium.thickness.size(), nf = freqs.size();
  if (N == 0 || nf == 0) return true;
  const double theta = angle_deg * std::numbers::pi / 180.0;
  const cdouble p = std::sin(theta) * medium.slowness[N];
  work.cr.resize(N), work.ci.resize(N), work.ar.resize(N), work.ai.resize(N), work.h.resize(N);
  const auto vertical = [&](std::size_t n) {
    return n == N ? std::cos(theta) * medium.slowness[N] : csqrt_decaying(medium.slowness[n] * medium.slowness[n] - p * p);
  };
  double fmax = 0.0;
  for (double f : freqs) fmax = std::max(fmax, f);
  const double omega_max = 2.0 * std::numbers::pi * fmax;
  cdouble c = vertical(0);
  for (std::size_t n = 0; n < N; ++n) {
    const cdouble below = vertical(n + 1);
    if (!(std::abs(c) > SMALL_SLOWNESS * std::abs(medium.slowness[n])) ||
        !(std::abs(below) > SMALL_SLOWNESS * std::abs(medium.slowness[n + 1]))) {
      return false;
    }
    const cdouble alpha = medium.modulus[n] * c / (medium.modulus[n + 1] * below);
    if (!std::isfinite(alpha.real()) || !std::isfinite(alpha.imag())) return false;
    // The sine and cosine polynomials hold up to SINCOS_LIMIT.
    if (!(omega_max * std::abs(c.real()) * 0.5 * medium.thickness[n] <= poly::SINCOS_LIMIT)) return false;
    work.cr[n] = c.real(), work.ci[n] = c.imag(), work.ar[n] = alpha.real(), work.ai[n] = alpha.imag();
    work.h[n] = medium.thickness[n];
    c = below;
  }
  work.store.resize((3 + 4 * N) * BLOCK);
  const Column col{work.cr.data(), work.ci.data(), work.ar.data(), work.ai.data(), work.h.data(), N};
  for (std::size_t start = 0; start < nf; start += BLOCK) {
    const std::size_t count = std::min(BLOCK, nf - start);
    run_block(col, freqs.data() + start, count, nf, work.store.data(), out.data() + start, squared);
  }
  return true;
}

}  // namespace velmar::detail
