// sh_sweep.cpp: the SH response at one interface over a frequency grid.
//
// The layer-matrix method of HASSH, rearranged for speed. With a constant
// quality factor the vertical wavenumber of a layer is omega times a constant
// (nu = omega * c_n, since kx = omega * sin(theta) / VSC_h), so the phase z and
// mu nu are omega times layer constants, formed once. The layer loop then
// runs over a block of SH_BLOCK frequencies held side by side: each lane
// carries its own (displacement, stress) column from the surface down, in
// double precision with the exponential growth e^{Im z} summed apart as a
// log-scale, as HASSH does. The stress is carried in units of the layer's
// mu nu, and the step is taken on the down- and up-going waves, for which it
// is diagonal (see layer_kernel). The elementary functions are inline
// polynomials in plain real arithmetic, so the whole step of one layer is
// straight-line code the compiler vectorises across the block. Lanes that
// need a special case are redone with HASSH's scalar step and the library
// functions: a layer where a column leaves the rescaling bounds or a phase
// exceeds the sine's reduction range, and a whole frequency whose result is
// not finite (a zero wavenumber, say).
#include "console/engines/sh_sweep.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

#include "common/platform.hpp"
#include "layers/complex_ops.hpp"
#include "console/engines/damping.hpp"
#include "console/engines/hassh.hpp"
#include "layers/poly_math.hpp"
#include "layers/sh_lane.hpp"

namespace velmar::console {

using namespace detail;  // the shared kernels
namespace {

using poly::bits_of;
using poly::from_bits;
using poly::half_exp_poly;
using poly::sincos_poly;
using poly::SinCos;
using poly::EXP_FLOOR;
using poly::SINCOS_LIMIT;

// --- helpers ---------------------------------------------------------------

// Damped velocity, modulus and vertical wavenumber of layer n at one
// frequency, time factor exp(-i w t).
struct LayerWave {
  cdouble mu;
  cdouble nu;
};

LayerWave layer_wave(const LayerTable& t, int n, double f, double omega, cdouble kx2) {
  const double d = damping_ratio(t.IQF, static_cast<double>(t.QS[n]), f);
  const cdouble v = damped_velocity(t.VSC[n], d);
  const cdouble ks = cscale(damped_slowness(t.VSC[n], d), omega);
  return {cmul(v, v) * static_cast<double>(t.RHO[n]), csqrt_decaying(cmul(ks, ks) - kx2)};
}

// Brings the column (u, s) of lane i back near 1 by 2^-e, 2^e the size of
// its larger part, when that size has left the rescaling bounds; e ln 2 goes
// to the log-scale. Zero and non-finite columns are left alone.
void rescale_lane(double& ur, double& ui, double& sr, double& si, double& log_c) {
  const double big = std::max({std::abs(ur), std::abs(ui), std::abs(sr), std::abs(si)});
  if ((big <= SH_RESCALE_HIGH && big >= SH_RESCALE_LOW) || big == 0.0 || !std::isfinite(big)) return;
  const int e = std::ilogb(big);
  ur = std::ldexp(ur, -e), ui = std::ldexp(ui, -e), sr = std::ldexp(sr, -e), si = std::ldexp(si, -e);
  log_c += e * std::numbers::ln2;
}

// mantissa * e^{log_scale} rounded once to float (0 or subnormal below the
// float range, infinite above, as float rounding gives).
cfloat round_scaled(cdouble m, double log_scale) {
  constexpr double EXP_SAFE = 700.0;
  if (std::abs(log_scale) < EXP_SAFE) {
    const double factor = std::exp(log_scale);
    return {static_cast<float>(m.real() * factor), static_cast<float>(m.imag() * factor)};
  }
  const double big = std::max(std::abs(m.real()), std::abs(m.imag()));
  if (big == 0.0) return {0.0f, 0.0f};
  const double factor = std::exp(log_scale + std::log(big));
  return {static_cast<float>(m.real() / big * factor), static_cast<float>(m.imag() / big * factor)};
}

// --- the block ------------------------------------------------------------

// Per-layer constants of the constant-Q case: z = omega zc, and the ratio
// rho = mc_{n-1} / mc_n that turns stress in units of mu nu of the layer above
// into units of this layer's (omega cancels).
struct LayerConstants {
  double zc_re, zc_im, rho_re, rho_im;
};

// Below this b = Im z the floor of half_exp_poly is never reached.
constexpr double EXP_SAFE_B = -0.5 * EXP_FLOOR;

// Carries a block's columns across one layer (see sh_lane.hpp), log-scale
// log_c. PerFrequency: z and rho of each lane come from the arrays lx, lzi,
// lrr, lri (IQF = 2); otherwise z = omega zc and rho are the constants k.
// Clamp: some lane may have 2b beyond EXP_FLOOR. Returns whether a column
// left the rescaling bounds in some lane. All arrays are distinct (restrict),
// so the loop vectorises.
template <bool PerFrequency, bool Clamp>
VELMAR_ALWAYS_INLINE bool layer_kernel(const LayerConstants& k, const double* VELMAR_RESTRICT omega,
                                       const double* VELMAR_RESTRICT lx, const double* VELMAR_RESTRICT lzi,
                                       const double* VELMAR_RESTRICT lrr, const double* VELMAR_RESTRICT lri,
                                       const double* VELMAR_RESTRICT ur, const double* VELMAR_RESTRICT ui,
                                       const double* VELMAR_RESTRICT sr, const double* VELMAR_RESTRICT si,
                                       double* VELMAR_RESTRICT ur2, double* VELMAR_RESTRICT ui2,
                                       double* VELMAR_RESTRICT sr2, double* VELMAR_RESTRICT si2,
                                       double* VELMAR_RESTRICT log_c) {
  const double zc_re = k.zc_re, zc_im = k.zc_im;
  std::uint64_t out_of_range = 0;
  for (int i = 0; i < SH_BLOCK; ++i) {
    double x, b, rr, ri;
    if constexpr (PerFrequency) {
      x = lx[i], b = lzi[i], rr = lrr[i], ri = lri[i];
    } else {
      x = omega[i] * zc_re, b = omega[i] * zc_im, rr = k.rho_re, ri = k.rho_im;
    }
    const ShColumn n = sh_lane_step<Clamp>(x, b, rr, ri, ShColumn{ur[i], ui[i], sr[i], si[i]});
    ur2[i] = n.ur, ui2[i] = n.ui, sr2[i] = n.sr, si2[i] = n.si;
    log_c[i] += b;
    out_of_range |= sh_out_of_range_bits(n);
  }
  return (out_of_range >> 63) != 0;
}

// The variants of layer_kernel the sweep uses.
enum class KernelKind { FIXED, FIXED_CLAMPED, PER_FREQUENCY };

// One layer across the block: the columns in slot cur go to slot 1 - cur.
VELMAR_ALWAYS_INLINE bool run_kernel(KernelKind kind, const LayerConstants& k, ShSweepWork& w, int cur) {
  const int next = 1 - cur;
  const double* omega = w.omega.data();
  const double* lx = w.x.data();
  const double* lzi = w.zi.data();
  const double* lrr = w.rr.data();
  const double* lri = w.ri.data();
  const double* ur = w.cu_re[cur].data();
  const double* ui = w.cu_im[cur].data();
  const double* sr = w.cs_re[cur].data();
  const double* si = w.cs_im[cur].data();
  double* ur2 = w.cu_re[next].data();
  double* ui2 = w.cu_im[next].data();
  double* sr2 = w.cs_re[next].data();
  double* si2 = w.cs_im[next].data();
  double* log_c = w.log_c.data();
  switch (kind) {
    case KernelKind::FIXED:
      return layer_kernel<false, false>(k, omega, lx, lzi, lrr, lri, ur, ui, sr, si, ur2, ui2, sr2, si2, log_c);
    case KernelKind::FIXED_CLAMPED:
      return layer_kernel<false, true>(k, omega, lx, lzi, lrr, lri, ur, ui, sr, si, ur2, ui2, sr2, si2, log_c);
    case KernelKind::PER_FREQUENCY:
      break;
  }
  return layer_kernel<true, true>(k, omega, lx, lzi, lrr, lri, ur, ui, sr, si, ur2, ui2, sr2, si2, log_c);
}

// IQF = 2: the damping of layer n depends on the frequency, so nu, z and mu nu
// are formed lane by lane: x + i zi = nu h, mu nu into slot n % 2 and the
// ratio (rr, ri) = mu nu of layer n-1 over that of layer n (slot 1 holds 1
// before the first layer). Returns whether a phase is beyond SINCOS_LIMIT.
VELMAR_ALWAYS_INLINE bool prepare_lanes(ShSweepWork& w, const LayerTable& table, int n, cdouble kx1_sq) {
  // The layer matrix is even in z, so |THICK| gives Im z >= 0 whatever the sign.
  const double qs = w.qs[n], h = std::abs(static_cast<double>(table.THICK[n])),
               rho = static_cast<double>(table.RHO[n]);
  const double vr = w.vs_re[n], vi = w.vs_im[n], ir = w.ivs_re[n], ii = w.ivs_im[n];
  const double* VELMAR_RESTRICT fhz = w.fhz.data();
  const double* VELMAR_RESTRICT omega = w.omega.data();
  const double* VELMAR_RESTRICT pr = w.mn_re[(n + 1) % 2].data();
  const double* VELMAR_RESTRICT pi = w.mn_im[(n + 1) % 2].data();
  double* VELMAR_RESTRICT mr_out = w.mn_re[n % 2].data();
  double* VELMAR_RESTRICT mi_out = w.mn_im[n % 2].data();
  double* VELMAR_RESTRICT x_out = w.x.data();
  double* VELMAR_RESTRICT zi_out = w.zi.data();
  double* VELMAR_RESTRICT rr_out = w.rr.data();
  double* VELMAR_RESTRICT ri_out = w.ri.data();
  std::uint64_t huge = 0;
  for (int i = 0; i < SH_BLOCK; ++i) {
    const double om = omega[i];
    const double d = proportional_damping_ratio(qs, fhz[i]);
    const double g = 1.0 / (1.0 + d * d);
    const double v_r = (vr + vi * d) * g, v_i = (vi - vr * d) * g;  // VSC / (1 + i d)
    const double mur = rho * (v_r * v_r - v_i * v_i), mui = rho * (2.0 * v_r * v_i);
    const double ksr = om * (ir - d * ii), ksi = om * (ii + d * ir);  // omega / V
    const double qr = (ksr * ksr - ksi * ksi) - om * om * kx1_sq.real();
    const double qi = 2.0 * ksr * ksi - om * om * kx1_sq.imag();
    // The root with Im >= 0: the larger part rt goes to Re when qr >= 0 and
    // to Im otherwise (chosen by the sign bit, without a branch); Re takes
    // the sign of qi. A zero q gives NaN, which sends the lane to the scalar
    // path at the end of the block.
    const double m = std::sqrt(qr * qr + qi * qi);
    const double rt = std::sqrt(0.5 * (std::abs(qr) + m));
    const double other = std::abs(qi) / (2.0 * rt);
    const std::uint64_t neg = std::uint64_t{0} - (bits_of(qr) >> 63);
    const double nr = std::copysign(from_bits((bits_of(rt) & ~neg) | (bits_of(other) & neg)), qi);
    const double ni = from_bits((bits_of(other) & ~neg) | (bits_of(rt) & neg));
    x_out[i] = nr * h, zi_out[i] = ni * h;
    huge |= bits_of(SINCOS_LIMIT - std::abs(nr * h));
    const double mr = mur * nr - mui * ni, mi = mur * ni + mui * nr;
    const double inv = 1.0 / (mr * mr + mi * mi);
    mr_out[i] = mr, mi_out[i] = mi;
    rr_out[i] = (pr[i] * mr + pi[i] * mi) * inv, ri_out[i] = (pi[i] * mr - pr[i] * mi) * inv;
  }
  return (huge >> 63) != 0;
}

// The block loops compiled once per instruction set (see simd_level.hpp).
// The bodies are the inline functions above, so every copy performs the same
// operations.
struct ShKernels {
  bool (*kernel)(KernelKind, const LayerConstants&, ShSweepWork&, int);
  bool (*prepare)(ShSweepWork&, const LayerTable&, int, cdouble);
};

bool kernel_baseline(KernelKind kind, const LayerConstants& k, ShSweepWork& w, int cur) {
  return run_kernel(kind, k, w, cur);
}
bool prepare_baseline(ShSweepWork& w, const LayerTable& t, int n, cdouble kx1_sq) {
  return prepare_lanes(w, t, n, kx1_sq);
}
#if VELMAR_X86_DISPATCH
VELMAR_TARGET_AVX2 bool kernel_avx2(KernelKind kind, const LayerConstants& k, ShSweepWork& w, int cur) {
  return run_kernel(kind, k, w, cur);
}
VELMAR_TARGET_AVX2 bool prepare_avx2(ShSweepWork& w, const LayerTable& t, int n, cdouble kx1_sq) {
  return prepare_lanes(w, t, n, kx1_sq);
}
VELMAR_TARGET_AVX512 bool kernel_avx512(KernelKind kind, const LayerConstants& k, ShSweepWork& w, int cur) {
  return run_kernel(kind, k, w, cur);
}
VELMAR_TARGET_AVX512 bool prepare_avx512(ShSweepWork& w, const LayerTable& t, int n, cdouble kx1_sq) {
  return prepare_lanes(w, t, n, kx1_sq);
}
constexpr std::array<ShKernels, SIMD_LEVELS> SH_KERNELS{
    {{kernel_baseline, prepare_baseline}, {kernel_avx2, prepare_avx2}, {kernel_avx512, prepare_avx512}}};
#else
// Off x86-64 the baseline is the only level.
constexpr std::array<ShKernels, SIMD_LEVELS> SH_KERNELS{
    {{kernel_baseline, prepare_baseline}, {kernel_baseline, prepare_baseline}, {kernel_baseline, prepare_baseline}}};
#endif

}  // namespace

void sh_sweep(const LayerTable& table, float ANGLE, int LOUT, int ISGNT, std::span<float> F,
              std::span<float> RE, std::span<float> IM, ShSweepWork& work) {
  sh_sweep(table, ANGLE, LOUT, ISGNT, F, RE, IM, work, best_simd_level());
}

void sh_sweep(const LayerTable& table, float ANGLE, int LOUT, int ISGNT, std::span<float> F,
              std::span<float> RE, std::span<float> IM, ShSweepWork& w, SimdLevel level) {
  const ShKernels& kernels = for_level(SH_KERNELS, level);
  // pi, the angle and its sine and cosine in single precision, as in HASSH.
  const float pi = 4.0f * std::atan(1.0f);
  const float theta = pi * ANGLE / 180.0f;
  const float sin_t = std::sin(theta);
  const float cos_t = std::cos(theta);
  const int N = table.NLAYER;
  const cdouble vh = table.VSC[N];
  const cdouble kx1 = cdiv(cdouble{1.0, 0.0}, vh) * static_cast<double>(sin_t);
  const cdouble kx1_sq = cmul(kx1, kx1);
  const cdouble muh = cmul(vh, vh) * static_cast<double>(table.RHO[N]);
  // 1 / (muh kz1), kz1 = cos(theta) / VSC_h the vertical wavenumber of the
  // half-space per unit omega.
  const cdouble kz1 = cdiv(cdouble{1.0, 0.0}, vh) * static_cast<double>(cos_t);
  const cdouble radiation = cdiv(cdouble{1.0, 0.0}, cmul(muh, kz1));
  const bool per_frequency = table.IQF == 2;

  // Layer constants. With a constant quality factor nu = omega c, so
  // z = omega zc and mu nu = omega mc.
  for (int n = 0; n < N; ++n) {
    if (per_frequency) {
      const cdouble ivs = cdiv(cdouble{1.0, 0.0}, cdouble(table.VSC[n]));
      w.qs[n] = static_cast<double>(table.QS[n]);
      w.ivs_re[n] = ivs.real(), w.ivs_im[n] = ivs.imag();
      w.vs_re[n] = static_cast<double>(table.VSC[n].real()), w.vs_im[n] = static_cast<double>(table.VSC[n].imag());
      continue;
    }
    const LayerWave c = layer_wave(table, n, 1.0, 1.0, kx1_sq);
    const cdouble mc = cmul(c.mu, c.nu);
    // The layer matrix is even in z: |THICK| keeps Im z >= 0 whatever its sign.
    const cdouble zc = c.nu * std::abs(static_cast<double>(table.THICK[n]));
    const cdouble rho = n == 0 ? cdouble{1.0, 0.0} : cdiv(cdouble{w.mc_re[n - 1], w.mc_im[n - 1]}, mc);
    w.zc_re[n] = zc.real(), w.zc_im[n] = zc.imag();
    w.mc_re[n] = mc.real(), w.mc_im[n] = mc.imag();
    w.rho_re[n] = rho.real(), w.rho_im[n] = rho.imag();
  }

  const int kept = LOUT - 2;  // layer whose bottom is the reported interface
  const std::size_t nf = F.size();
  for (std::size_t start = 0; start < nf; start += SH_BLOCK) {
    const std::size_t lanes = std::min<std::size_t>(SH_BLOCK, nf - start);
    double omega_max = 0.0;
    for (std::size_t i = 0; i < SH_BLOCK; ++i) {
      // Lanes past the end repeat the last frequency.
      float& f = F[start + std::min(i, lanes - 1)];
      if (f == 0.0f) f = 1.0e-6f;
      const float omega_f = f * 2.0f * pi;
      w.fhz[i] = static_cast<double>(f);
      w.omega[i] = static_cast<double>(omega_f);
      omega_max = std::max(omega_max, std::abs(w.omega[i]));
      w.cu_re[0][i] = 1.0, w.cu_im[0][i] = 0.0, w.cs_re[0][i] = 0.0, w.cs_im[0][i] = 0.0;
      w.log_c[i] = 0.0;
      w.mn_re[1][i] = 1.0, w.mn_im[1][i] = 0.0;
    }
    w.by_hassh.fill(false);
    int cur = 0;
    for (int n = 0; n < N; ++n) {
      bool huge_phase = false;
      bool clamp = true;
      if (per_frequency) {
        huge_phase = kernels.prepare(w, table, n, kx1_sq);
      } else {
        huge_phase = !(omega_max * std::abs(w.zc_re[n]) <= SINCOS_LIMIT);
        clamp = !(omega_max * w.zc_im[n] <= EXP_SAFE_B);
      }
      const int next = 1 - cur;
      const LayerConstants k{w.zc_re[n], w.zc_im[n], w.rho_re[n], w.rho_im[n]};
      const KernelKind kind = per_frequency ? KernelKind::PER_FREQUENCY
                              : clamp       ? KernelKind::FIXED_CLAMPED
                                            : KernelKind::FIXED;
      const bool out_of_range =
kernels.kernel(kind, k, w, cur);
      cur = next;
      if (out_of_range) {
        for (std::size_t i = 0; i < SH_BLOCK; ++i) {
          rescale_lane(w.cu_re[cur][i], w.cu_im[cur][i], w.cs_re[cur][i], w.cs_im[cur][i], w.log_c[i]);
        }
      }
      if (huge_phase) {
        // Phases beyond the polynomial sine's reduction: HASSH evaluates
        // those frequencies.
        for (std::size_t i = 0; i < SH_BLOCK; ++i) {
          const double x = per_frequency ? w.x[i] : w.omega[i] * w.zc_re[n];
          if (!(std::abs(x) <= SINCOS_LIMIT)) w.by_hassh[i] = true;
        }
      }
      if (n == kept) w.ku_re = w.cu_re[cur], w.ku_im = w.cu_im[cur], w.k_log = w.log_c;
    }

    // Radiation condition and the reported value, one lane at a time.
    for (std::size_t i = 0; i < lanes; ++i) {
      const cdouble cu{w.cu_re[cur][i], w.cu_im[cur][i]};
      const cdouble cs{w.cs_re[cur][i], w.cs_im[cur][i]};
      if (w.by_hassh[i] || !std::isfinite(cu.real() + cu.imag() + cs.real() + cs.imag() + w.log_c[i])) {
        // A huge phase, or something non-finite on the way (a zero vertical
        // wavenumber): HASSH itself at this frequency.
        float f = F[start + i];
        HASSH(table, 0.0f, ANGLE, f, ISGNT, LOUT == 1 ? 0 : 1, w.ush, w.tsh);
        const cfloat v = w.ush[static_cast<std::size_t>(LOUT - 1)];
        RE[start + i] = v.real();
        IM[start + i] = v.imag();
        continue;
      }
      // r = i t / (muh kz) with t = mu nu s and kz = omega kz1: omega cancels
      // under a constant quality factor.
      const cdouble mn_over_omega =
          N == 0 ? cdouble{0.0, 0.0}
          : per_frequency ? cdouble{w.mn_re[(N - 1) % 2][i], w.mn_im[(N - 1) % 2][i]} / w.omega[i]
                          : cdouble{w.mc_re[N - 1], w.mc_im[N - 1]};
      const cdouble r = cmul(cdouble{-cs.imag(), cs.real()}, cmul(mn_over_omega, radiation));
      cdouble u0 = cdiv(cdouble{2.0, 0.0}, cu + r);
      double lg = -w.log_c[i];
      if (kept >= 0) {
        u0 = cmul(u0, cdouble{w.ku_re[i], w.ku_im[i]});
        lg += w.k_log[i];
      }
      const cfloat v = round_scaled(u0, lg);
      RE[start + i] = v.real();
      IM[start + i] = ISGNT == 1 ? -v.imag() : v.imag();
    }
  }
}

}  // namespace velmar::console
