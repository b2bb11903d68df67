// sh_mid_strain.cpp: mid-layer SH strains by the wave-amplitude sweep (see
// sh_mid_strain.hpp). Frequencies go a block at a time, side by side in
// arrays, so each layer's step runs over the block in vector registers; a
// layer's phase factors in a block are one exponential times a table of
// steps, and one dispatched call runs the whole block down and up the column.
#include "site/sh_mid_strain.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

#include "common/platform.hpp"
#include "layers/complex_ops.hpp"


namespace velmar::detail {
namespace {

constexpr std::size_t BLOCK = 64;
// Blocks between two phase factors formed by the exponential itself.
constexpr std::size_t ANCHOR = 16;
// A vertical slowness this small beside the entry's slowness makes alpha
// unbounded: such a medium goes to the general engine.
constexpr double SMALL_SLOWNESS = 1e-6;
// Largest growth exponent omega Im(c) zeta of the up-going wave at a depth in
// the half-space that the sweep serves (e^600 is far inside the double range).
constexpr double MAX_HALFSPACE_GROWTH = 600.0;

// Per-layer constants of the sweep.
struct Layer {
  double cr, ci;  // vertical slowness
  double ar, ai;  // alpha
  double h;
  cdouble dphi;  // phase across half the layer per frequency step: pi df c h
};

// Lane arrays of one layer in the block store: the strain factor S (strain
// over B_{j+1}, i.e. before the backward products) and F = E / G.
struct LayerLanes {
  double* sr;
  double* si;
  double* fr;
  double* fi;
};

// The forward step across layer `L` for every lane of a block: updates
// rho in place, writes S and F of the layer. The lanes' half-layer phase
// factors e^{i phi} are the block's first one (er0, ei0) times the layer's
// table of steps (zr, zi).
[[gnu::always_inline]] inline void forward_block(const Layer& L, double er0, double ei0, const double* __restrict zr,
                                                 const double* __restrict zi, const double* __restrict om,
                                                 double* __restrict rr, double* __restrict ri,
                                                 double* __restrict sr, double* __restrict si,
                                                 double* __restrict fr, double* __restrict fi) {
  const double ar = 1.0 + L.ar, ai = L.ai;  // a = 1 + alpha
  const double br = 1.0 - L.ar, bi = -L.ai;  // b = 1 - alpha
  const double cr = L.cr, ci = L.ci;
  for (std::size_t i = 0; i < BLOCK; ++i) {
    const double w = om[i];
    const double ehr = er0 * zr[i] - ei0 * zi[i], ehi = er0 * zi[i] + ei0 * zr[i];  // e^{i phi}
    const double er = ehr * ehr - ehi * ehi, ei = 2.0 * ehr * ehi;  // E
    const double xr = rr[i] * er - ri[i] * ei, xi = rr[i] * ei + ri[i] * er;  // rho E
    const double yr = xr * er - xi * ei, yi = xr * ei + xi * er;              // rho E^2
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

// V = (rho P1 + P2) / G for the layer holding the depth, before its forward
// step (rho is that layer's): P1 = e^{i omega c (h + zeta)}, P2 = e^{i omega
// c (h - zeta)}, each a block start times a table of steps. V times the
// product of F below the layer is the displacement per unit B_n.
[[gnu::always_inline]] inline void depth_factor(const Layer& L, cdouble first, const double* zr, const double* zi,
                                                cdouble s1, const double* t1r, const double* t1i, cdouble s2,
                                                const double* t2r, const double* t2i, const double* rr,
                                                const double* ri, double* vr, double* vi) {
  const cdouble a = 1.0 + cdouble{L.ar, L.ai}, b = 1.0 - cdouble{L.ar, L.ai};
  for (std::size_t i = 0; i < BLOCK; ++i) {
    const cdouble eh = first * cdouble{zr[i], zi[i]};
    const cdouble rho{rr[i], ri[i]};
    const cdouble E = eh * eh;
    const cdouble G = 0.5 * (b * rho * E * E + a);
    const cdouble v = (rho * (s1 * cdouble{t1r[i], t1i[i]}) + s2 * cdouble{t2r[i], t2i[i]}) / G;
    vr[i] = v.real(), vi[i] = v.imag();
  }
}

// strain = S T and T *= F over the first `count` lanes of one layer.
[[gnu::always_inline]] inline void backward_block(LayerLanes l, double* __restrict tr, double* __restrict ti,
                                                  double* __restrict out_re, double* __restrict out_im,
                                                  std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    out_re[i] = l.sr[i] * tr[i] - l.si[i] * ti[i];
    out_im[i] = l.sr[i] * ti[i] + l.si[i] * tr[i];
  }
  for (std::size_t i = 0; i < BLOCK; ++i) {
    const double t2 = tr[i] * l.fr[i] - ti[i] * l.fi[i];
    ti[i] = tr[i] * l.fi[i] + ti[i] * l.fr[i];
    tr[i] = t2;
  }
}

// Everything one block of frequencies needs: the layers, the lane arrays of
// the store, each layer's first phase factor, and the depth of u_at if any.
struct BlockJob {
  const Layer* layers;
  std::size_t N;
  double* base;  // the store (see sh_mid_strain for its layout)
  const cdouble* first;
  std::size_t jd;  // layer holding the depth, N when there is none or it lies in the half-space
  bool in_halfspace;  // the depth lies at or below the half-space's top
  cdouble s1, s2;  // block starts of the depth's two phase factors
  std::size_t nf;
  MidStrainScale scale;
};

// The displacement at a depth zeta below the half-space's top, per unit
// B_n: rho_n e^{i omega c zeta} + e^{-i omega c zeta}, rho_n (rr, ri) after
// the forward sweep, the phase factors from the block starts s1, s2 times
// the tables after vi. Kept out of the block loop's body.
[[gnu::noinline]] void halfspace_displacement(const BlockJob& job, std::size_t start, std::size_t count,
                                              const double* rr, const double* ri, const double* vi, cdouble* u_at) {
  const double* t1r = vi + BLOCK;
  const double* t1i = vi + 2 * BLOCK;
  const double* t2r = vi + 3 * BLOCK;
  const double* t2i = vi + 4 * BLOCK;
  for (std::size_t i = 0; i < count; ++i) {
    const cdouble down = job.s1 * cdouble{t1r[i], t1i[i]}, up = job.s2 * cdouble{t2r[i], t2i[i]};
    u_at[start + i] = cdouble{rr[i], ri[i]} * down + up;
  }
}

#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__)
#define VELMAR_MID_STRAIN_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define VELMAR_MID_STRAIN_CLONES
#endif

// One block: the forward sweep down the layers, then the backward products
// up, writing the block's strains (and the displacement at the depth).
VELMAR_MID_STRAIN_CLONES void run_block(const BlockJob& job, std::size_t start, std::size_t count, double* strain_re,
                                        double* strain_im, cdouble* u_at) {
  const std::size_t N = job.N;
  double* const base = job.base;
  const double* om = base;
  double* rr = base + BLOCK;
  double* ri = base + 2 * BLOCK;
  const auto lanes = [&](std::size_t n) {
    double* b = base + (3 + 4 * n) * BLOCK;
    return LayerLanes{b, b + BLOCK, b + 2 * BLOCK, b + 3 * BLOCK};
  };
  const double* steps = base + (3 + 4 * N) * BLOCK;
  double* vr = base + (3 + 6 * N) * BLOCK;
  double* vi = vr + BLOCK;
  for (std::size_t i = 0; i < BLOCK; ++i) rr[i] = 1.0, ri[i] = 0.0;
  for (std::size_t n = 0; n < N; ++n) {
    const double* zr = steps + 2 * n * BLOCK;
    const double* zi = zr + BLOCK;
    if (n == job.jd) {
      depth_factor(job.layers[n], job.first[n], zr, zi, job.s1, vi + BLOCK, vi + 2 * BLOCK, job.s2, vi + 3 * BLOCK,
                   vi + 4 * BLOCK, rr, ri, vr, vi);
    }
    const LayerLanes out = lanes(n);
    forward_block(job.layers[n], job.first[n].real(), job.first[n].imag(), zr, zi, om, rr, ri, out.sr, out.si,
                  out.fr, out.fi);
  }
  if (job.in_halfspace) halfspace_displacement(job, start, count, rr, ri, vi, u_at);
  // Backward: B_j (per unit B_n) as the running product of F from below,
  // lane by lane in the (re, im) arrays of rho, which are free now. A
  // scale without the within divisor (and no displacement asked for, which
  // stays per unit incident displacement) starts the product at the scale
  // instead of 1, which scales every strain of the lane at no cost.
  const bool scale_now = job.scale.re != nullptr && !(job.scale.within_floor > 0.0) && job.jd == N;
  for (std::size_t i = 0; i < BLOCK; ++i) {
    rr[i] = scale_now && i < count ? job.scale.re[start + i] : 1.0;
    ri[i] = scale_now && i < count ? job.scale.im[start + i] : 0.0;
  }
  for (std::size_t n = N; n-- > 0;) {
    if (n == job.jd) {
      for (std::size_t i = 0; i < count; ++i) u_at[start + i] = cdouble{vr[i], vi[i]} * cdouble{rr[i], ri[i]};
    }
    const std::size_t at = n * job.nf + start;
    backward_block(lanes(n), rr, ri, strain_re + at, strain_im + at, count);
  }
  if (job.scale.re != nullptr && !scale_now) {
    // Otherwise the block's factors, then every layer's strains times them
    // (the block's strains are still in the first cache level).
    double* fr = rr;
    double* fi = ri;
    for (std::size_t i = 0; i < count; ++i) {
      cdouble f{job.scale.re[start + i], job.scale.im[start + i]};
      if (job.scale.within_floor > 0.0) {
        const cdouble u = u_at[start + i];
        f *= std::conj(u) / std::max(std::norm(u), job.scale.within_floor);
      }
      fr[i] = f.real(), fi[i] = f.imag();
    }
    for (std::size_t n = 0; n < N; ++n) {
      double* VELMAR_RESTRICT o_re = strain_re + n * job.nf + start;
      double* VELMAR_RESTRICT o_im = strain_im + n * job.nf + start;
      for (std::size_t i = 0; i < count; ++i) {
        const double a = o_re[i] * fr[i] - o_im[i] * fi[i];
        o_im[i] = o_re[i] * fi[i] + o_im[i] * fr[i];
        o_re[i] = a;
      }
    }
  }
}

}  // namespace

bool sh_mid_strain(const ShMedium& medium, double angle_deg, double df, std::size_t nf, std::span<double> strain_re,
                   std::span<double> strain_im, MidStrainWork& work, std::optional<double> depth, std::span<cdouble> u_at,
                   const MidStrainScale& scale) {
  const std::size_t N = medium.thickness.size();
  if (N == 0 || nf == 0) return true;
  // The layer holding `depth` and the distance below its top.
  std::size_t jd = N;
  double zeta = 0.0;
  if (depth) {
    double top = 0.0;
    for (jd = 0; jd < N && !(*depth < top + medium.thickness[jd]); ++jd) top += medium.thickness[jd];
    zeta = *depth - top;
  }
  const bool in_halfspace = depth && jd == N;
  const double theta = angle_deg * std::numbers::pi / 180.0;
  const cdouble p = std::sin(theta) * medium.slowness[N];
  if (in_halfspace) {
    // The up-going wave grows as e^{omega Im(c) zeta} below the top of a
    // damped half-space: the general engine takes a depth where it could
    // leave the double range.
    const double omega_max = 2.0 * std::numbers::pi * df * static_cast<double>(nf - 1);
    const double growth = omega_max * std::abs((std::cos(theta) * medium.slowness[N]).imag()) * zeta;
    if (!(growth <= MAX_HALFSPACE_GROWTH)) return false;
  }

  std::vector<Layer> layers(N);
  std::vector<cdouble> c(N + 1), mc(N + 1);
  for (std::size_t n = 0; n <= N; ++n) {
    c[n] = n == N ? std::cos(theta) * medium.slowness[N]
                  : csqrt_decaying(medium.slowness[n] * medium.slowness[n] - p * p);
    if (!(std::abs(c[n]) > SMALL_SLOWNESS * std::abs(medium.slowness[n]))) return false;
    mc[n] = medium.modulus[n] * c[n];
  }
  for (std::size_t n = 0; n < N; ++n) {
    const cdouble alpha = mc[n] / mc[n + 1];
    if (!std::isfinite(alpha.real()) || !std::isfinite(alpha.imag())) return false;
    layers[n] = {c[n].real(), c[n].imag(), alpha.real(), alpha.imag(), medium.thickness[n],
                 std::numbers::pi * df * medium.thickness[n] * c[n]};
  }

  // Lane arrays: omega, rho (2); per layer S, F (4) and the phase steps
  // e^{i l dphi}, l < BLOCK (2); for the depth, V (2) and the steps of
  // e^{i omega c (h + zeta)} and e^{i omega c (h - zeta)} (4).
  work.store.resize((3 + 6 * N + 6) * BLOCK);
  double* const base = work.store.data();
  double* om = base;
  const auto steps_re = [&](std::size_t n) { return base + (3 + 4 * N + 2 * n) * BLOCK; };
  const auto steps_im = [&](std::size_t n) { return base + (3 + 4 * N + 2 * n + 1) * BLOCK; };
  const cdouble I{0.0, 1.0};
  double* vi = base + (3 + 6 * N + 1) * BLOCK;
  double* d_re[2] = {vi + BLOCK, vi + 3 * BLOCK};
  double* d_im[2] = {vi + 2 * BLOCK, vi + 4 * BLOCK};
  cdouble d_dphi[2]{};
  if (depth) {
    // Inside layer jd: the phases of e^{i omega c (h + zeta)} and
    // e^{i omega c (h - zeta)}; in the half-space: of e^{+-i omega c zeta}.
    const double h = in_halfspace ? 0.0 : medium.thickness[jd];
    d_dphi[0] = 2.0 * std::numbers::pi * df * (h + zeta) * c[jd];
    d_dphi[1] = 2.0 * std::numbers::pi * df * (h - zeta) * c[jd];
    for (std::size_t e = 0; e < 2; ++e) {
      for (std::size_t l = 0; l < BLOCK; ++l) {
        const cdouble z = std::exp(cdouble{0.0, 1.0} * (static_cast<double>(l) * d_dphi[e]));
        d_re[e][l] = z.real(), d_im[e][l] = z.imag();
      }
    }
  }
  std::vector<cdouble> starts(N), jumps(N);
  for (std::size_t n = 0; n < N; ++n) {
    jumps[n] = std::exp(I * (static_cast<double>(BLOCK) * layers[n].dphi));
    for (std::size_t l = 0; l < BLOCK; ++l) {
      const cdouble z = std::exp(I * (static_cast<double>(l) * layers[n].dphi));
      steps_re(n)[l] = z.real(), steps_im(n)[l] = z.imag();
    }
  }
  BlockJob job{layers.data(), N, base, starts.data(), jd, in_halfspace, {}, {}, nf, scale};
  for (std::size_t start = 0, block = 0; start < nf; start += BLOCK, ++block) {
    const std::size_t count = std::min(BLOCK, nf - start);
    // Lanes past the end repeat the last frequency's omega (their phases run
    // on; they are not stored).
    for (std::size_t i = 0; i < BLOCK; ++i) {
      om[i] = 2.0 * std::numbers::pi * df * static_cast<double>(start + std::min(i, count - 1));
    }
    // Each layer's first phase factor: the previous block's times e^{i BLOCK
    // dphi}, formed afresh every ANCHOR blocks so rounding cannot build up.
    for (std::size_t n = 0; n < N; ++n) {
      starts[n] = block % ANCHOR == 0 ? std::exp(I * (static_cast<double>(start) * layers[n].dphi))
                                      : starts[n] * jumps[n];
    }
    if (depth) {
      job.s1 = std::exp(I * (static_cast<double>(start) * d_dphi[0]));
      job.s2 = std::exp(I * (static_cast<double>(start) * d_dphi[1]));
    }
    run_block(job, start, count, strain_re.data(), strain_im.data(), u_at.data());
  }
  return true;
}

}  // namespace velmar::detail
