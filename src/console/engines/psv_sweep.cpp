// psv_sweep.cpp: the P-SV surface response over a frequency grid, a block of
// frequencies at a time (see psv_sweep.hpp).
#include "console/engines/psv_sweep.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "common/platform.hpp"
#include "console/engines/damping.hpp"
#include "console/engines/haspsv.hpp"
#include "layers/poly_math.hpp"
#include "layers/psv_solve.hpp"
#include "console/engines/psv_unit_model.hpp"

namespace velmar::console {

using namespace detail;  // the shared kernels
namespace {

using poly::expm1_poly;
using poly::MAX_PHASE;
using poly::sincos_taylor;

// Largest layer half-exponent Re(y) and phase |Im(y)| the polynomials take;
// a frequency beyond them goes to HASPSV.
constexpr double MAX_GROWTH = poly::EXPM1_LIMIT;
// Range of a coefficient vector's sum of squares kept without rescaling in
// the back-substitution.
constexpr double NORM_HIGH = 0x1p800;
constexpr double NORM_LOW = 0x1p-800;
// The stable solve: column norms whose squares stay in this range are formed
// directly (the slower solution may be far smaller than the other, but an
// orthonormal basis times a layer matrix stays near 1), and a layer's growth
// exp(sigma) is folded into R up to this exponent; a lane beyond either goes
// to HASPSV.
constexpr double NORM_SOLVE_HIGH = 0x1p900;
constexpr double NORM_SOLVE_LOW = 0x1p-900;
constexpr double MAX_FOLDED_GROWTH = 600.0;
// |q|^2 of a layer below which 1/q (and the coefficients with it) could
// overflow; such a layer is left to HASPSV, which forms sinh(x)/nu without it.
constexpr double MIN_NORM_Q = 1e-200;
// |z|^2 range in which HASPSV's square root forms |z| directly (outside it,
// scaled; such a lane goes to HASPSV).
constexpr double SQRT_SAFE_LOW = 0x1p-900;
constexpr double SQRT_SAFE_HIGH = 0x1p900;

// Complex double with inline arithmetic (std::complex's product calls a
// library routine that handles infinities; none occur here).
struct Z {
  double re;
  double im;
};
inline Z operator*(Z a, Z b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline Z operator*(double s, Z a) { return {s * a.re, s * a.im}; }
inline Z z(cdouble v) { return {v.real(), v.imag()}; }

// Layer constants from the unit-frequency quantities: the layer matrix (tractions
// scaled by s = s1 omega, divided by exp(sigma)) is
//   row 0: a11, a12, A13, A14      a11 = e0 + c0 Sa + c1 Sb, a22 = e0 + c1 Sa + c0 Sb
//   row 1: a21, a22, -A14, A24     a12 = c2 Ha + c3 Hb,      a21 = c4 Ha + c5 Hb
//   row 2: A31, A32, a11, -a21     A13 = c6 Ha + c7 Hb,      A24 = c8 Ha + c9 Hb
//   row 3: -A32, A42, -a12, a22    A14 = c10 (Sa - Sb),      A31 = c11 Ha + c12 Hb
//                                  A32 = c13 (Sa - Sb),      A42 = c14 Ha + c15 Hb
// with S = sinh^2(x/2), H = sinh(x) of each wave and e0 = exp(-sigma). Returns
// false where a coefficient is not finite (a vanishing vertical wavenumber).
// The 16 coefficients from the unit quantities: horizontal slowness p,
// 1 / rho, traction scale s1, damped shear modulus mu, vertical slownesses qa
// and qb (|q| > 0).
VELMAR_ALWAYS_INLINE void matrix_coefficients(Z p, double r, double s1, Z mu, Z qa, Z qb, Z (&c)[16]) {
  const Z p2 = p * p;
  const Z qb2 = qb * qb;
  const Z G{qb2.re + p2.re, qb2.im + p2.im};  // (nu_b^2 + k^2) / omega^2
  const Z mu2 = mu * mu;
  const double na = qa.re * qa.re + qa.im * qa.im;
  const double nb = qb.re * qb.re + qb.im * qb.im;
  const Z iqa{qa.re / na, -qa.im / na};
  const Z iqb{qb.re / nb, -qb.im / nb};
  const Z mp = mu * p;
  const Z mG2 = mu2 * (G * G);
  c[0] = (4.0 * r) * (mu * p2);
  c[1] = (-2.0 * r) * (mu * G);
  c[2] = r * (mp * (G * iqa));
  c[3] = (-2.0 * r) * (mp * qb);
  c[4] = (-2.0 * r) * (mp * qa);
  c[5] = r * (mp * (G * iqb));
  c[6] = (s1 * r) * (p2 * iqa);
  c[7] = -(s1 * r) * qb;
  c[8] = -(s1 * r) * qa;
  c[9] = (s1 * r) * (p2 * iqb);
  c[10] = (2.0 * s1 * r) * p;
  c[11] = (4.0 * r / s1) * (mu2 * (p2 * qa));
  c[12] = -(r / s1) * (mG2 * iqb);
  c[13] = (4.0 * r / s1) * (mu2 * (G * p));
  c[14] = -(r / s1) * (mG2 * iqa);
  c[15] = (4.0 * r / s1) * (mu2 * (p2 * qb));
}

bool layer_constants(const PsvUnitModel& u, const PsvUnitLayer& L, double h, double rho,
                     PsvSweepLayer& out) {
  const Z qa = z(L.qa);
  const Z qb = z(L.qb);
  if (std::norm(L.qa) < MIN_NORM_Q || std::norm(L.qb) < MIN_NORM_Q) return false;
  Z c[16];
  matrix_coefficients(z(u.p), 1.0 / rho, u.s1, z(L.mu), qa, qb, c);
  for (int j = 0; j < 16; ++j) {
    if (!std::isfinite(c[j].re) || !std::isfinite(c[j].im)) return false;
    out.c_re[j] = c[j].re;
    out.c_im[j] = c[j].im;
  }
  out.ya_re = 0.5 * h * qa.re;
  out.ya_im = 0.5 * h * qa.im;
  out.yb_re = 0.5 * h * qb.re;
  out.yb_im = 0.5 * h * qb.im;
  out.dx = h * std::abs(qb.re - qa.re);
  return true;
}

// Lane j of the two solutions Y (row-major 4x2), out of and into the block.
inline void load_lane(const PsvSweepWork& w, int j, double* y_re, double* y_im) {
VELMAR_UNROLL16
  for (int e = 0; e < 8; ++e) {
    y_re[e] = w.y_re[e][j];
    y_im[e] = w.y_im[e][j];
  }
}

inline void store_lane(PsvSweepWork& w, int j, const double* y_re, const double* y_im) {
VELMAR_UNROLL16
  for (int e = 0; e < 8; ++e) {
    w.y_re[e][j] = y_re[e];
    w.y_im[e][j] = y_im[e];
  }
}

// Hyperbolic terms of one layer across the block, each divided by
// exp(sigma), sigma = 2 max(Re y_a, Re y_b): S = sinh^2(y), H = sinh(2y) of
// each wave, and e0 = exp(-sigma).
struct BlockTerms {
  PsvBlockArray Sa_re, Sa_im, Sb_re, Sb_im, Ha_re, Ha_im, Hb_re, Hb_im, e0, sigma, bad;
};

// PER_LANE: the layer constants of each lane stand in w.lane; otherwise L
// holds those of every lane.
template <bool PER_LANE>
VELMAR_ALWAYS_INLINE void block_terms(const PsvSweepLayer& L, const PsvSweepWork& w, BlockTerms& t) {
  const double ya_re = L.ya_re, ya_im = L.ya_im, yb_re = L.yb_re, yb_im = L.yb_im;
  // No conditional expressions over computed values here: the compiler would
  // branch on them and not vectorise the loop. A lane out of the polynomials'
  // range computes garbage and is marked bad.
  for (int j = 0; j < PSV_BLOCK; ++j) {
    const double o = w.omega[j];
    const double yra = o * (PER_LANE ? w.lane.ya_re[j] : ya_re);
    const double yia = o * (PER_LANE ? w.lane.ya_im[j] : ya_im);
    const double yrb = o * (PER_LANE ? w.lane.yb_re[j] : yb_re);
    const double yib = o * (PER_LANE ? w.lane.yb_im[j] : yb_im);
    // Lane conditions combine with | and &, never || and &&: a branch would
    // keep the loop from being vectorised.
    VELMAR_CLANG_IGNORE_BITWISE_BEGIN
    const bool out_of_range = (yra > MAX_GROWTH) | (yrb > MAX_GROWTH) | (std::abs(yia) > MAX_PHASE) |
                              (std::abs(yib) > MAX_PHASE);
    VELMAR_CLANG_IGNORE_BITWISE_END
    // With t = e^x - 1: sinh x = t (t + 2) / (2 (t + 1)), cosh x = 1 + t^2 / (2 (t + 1)),
    // both without cancellation; g = exp(-sigma/2) = min(e^-yra, e^-yrb).
    const double ta = expm1_poly(yra);
    const double tb = expm1_poly(yrb);
    const double iEa = 1.0 / (ta + 1.0);
    const double iEb = 1.0 / (tb + 1.0);
    const double g = 0.5 * ((iEa + iEb) - std::abs(iEa - iEb));
    const double gta = g * ta;  // below 1, as g <= e^-yra
    const double gtb = g * tb;
    const double sha = 0.5 * gta * ((ta + 2.0) * iEa);
    const double shb = 0.5 * gtb * ((tb + 2.0) * iEb);
    const double cha = g + 0.5 * gta * (ta * iEa);
    const double chb = g + 0.5 * gtb * (tb * iEb);
    double sna = 0.0;
    double csa = 0.0;
    double snb = 0.0;
    double csb = 0.0;
    sincos_taylor(yia, sna, csa);
    sincos_taylor(yib, snb, csb);
    // sinh(y) = sinh(yr) cos(yi) + i cosh(yr) sin(yi), cosh(y) likewise.
    const double sa_re = sha * csa, sa_im = cha * sna, ca_re = cha * csa, ca_im = sha * sna;
    const double sb_re = shb * csb, sb_im = chb * snb, cb_re = chb * csb, cb_im = shb * snb;
    t.Sa_re[j] = sa_re * sa_re - sa_im * sa_im;
    t.Sa_im[j] = 2.0 * (sa_re * sa_im);
    t.Sb_re[j] = sb_re * sb_re - sb_im * sb_im;
    t.Sb_im[j] = 2.0 * (sb_re * sb_im);
    t.Ha_re[j] = 2.0 * (sa_re * ca_re - sa_im * ca_im);
    t.Ha_im[j] = 2.0 * (sa_re * ca_im + sa_im * ca_re);
    t.Hb_re[j] = 2.0 * (sb_re * cb_re - sb_im * cb_im);
    t.Hb_im[j] = 2.0 * (sb_re * cb_im + sb_im * cb_re);
    t.e0[j] = g * g;
    t.sigma[j] = (yra + yrb) + std::abs(yra - yrb);  // 2 max(yra, yrb)
    t.bad[j] = out_of_range ? 1.0 : 0.0;
  }
}

// One layer across the block: Y <- A Y / exp(sigma), keeping e0 = exp(-sigma)
// and sigma for the orthogonalisation; bad > 0 marks a lane whose exponent
// left the polynomials' range (it stays set).
template <bool PER_LANE>
VELMAR_ALWAYS_INLINE void block_layer(const PsvSweepLayer& L, PsvSweepWork& w) {
  BlockTerms t;
  block_terms<PER_LANE>(L, w, t);
  // Local copies: the compiler then knows that the stores to Y leave them be.
  std::array<double, 16> cr = L.c_re;
  std::array<double, 16> ci = L.c_im;
  for (int j = 0; j < PSV_BLOCK; ++j) {
    if constexpr (PER_LANE) {
VELMAR_UNROLL16
      for (int k = 0; k < 16; ++k) {
        cr[k] = w.lane.c_re[k][j];
        ci[k] = w.lane.c_im[k][j];
      }
    }
    const double Sa_re = t.Sa_re[j], Sa_im = t.Sa_im[j], Sb_re = t.Sb_re[j], Sb_im = t.Sb_im[j];
    const double Ha_re = t.Ha_re[j], Ha_im = t.Ha_im[j], Hb_re = t.Hb_re[j], Hb_im = t.Hb_im[j];
    const double Sd_re = Sa_re - Sb_re, Sd_im = Sa_im - Sb_im;
    const double e0 = t.e0[j];
    // Real and imaginary parts of coefficient k times (a_re, a_im).
    auto cmul_re = [&](int k, double a_re, double a_im) { return cr[k] * a_re - ci[k] * a_im; };
    auto cmul_im = [&](int k, double a_re, double a_im) { return cr[k] * a_im + ci[k] * a_re; };
    const double a11_re = e0 + cmul_re(0, Sa_re, Sa_im) + cmul_re(1, Sb_re, Sb_im);
    const double a11_im = cmul_im(0, Sa_re, Sa_im) + cmul_im(1, Sb_re, Sb_im);
    const double a22_re = e0 + cmul_re(1, Sa_re, Sa_im) + cmul_re(0, Sb_re, Sb_im);
    const double a22_im = cmul_im(1, Sa_re, Sa_im) + cmul_im(0, Sb_re, Sb_im);
    double m_re[8];
    double m_im[8];
    // a12, a21, A13, A24, A31, A42 from Ha and Hb.
    const int pairs[6] = {2, 4, 6, 8, 11, 14};
VELMAR_UNROLL16
    for (int e = 0; e < 6; ++e) {
      const int k = pairs[e];
      m_re[e] = cmul_re(k, Ha_re, Ha_im) + cmul_re(k + 1, Hb_re, Hb_im);
      m_im[e] = cmul_im(k, Ha_re, Ha_im) + cmul_im(k + 1, Hb_re, Hb_im);
    }
    m_re[6] = cmul_re(10, Sd_re, Sd_im);  // A14
    m_im[6] = cmul_im(10, Sd_re, Sd_im);
    m_re[7] = cmul_re(13, Sd_re, Sd_im);  // A32
    m_im[7] = cmul_im(13, Sd_re, Sd_im);
    // Row-major matrix entries with their signs.
    const double A_re[16] = {a11_re,   m_re[0], m_re[2], m_re[6],  m_re[1],  a22_re,   -m_re[6], m_re[3],
                             m_re[4],  m_re[7], a11_re,  -m_re[1], -m_re[7], m_re[5],  -m_re[0], a22_re};
    const double A_im[16] = {a11_im,   m_im[0], m_im[2], m_im[6],  m_im[1],  a22_im,   -m_im[6], m_im[3],
                             m_im[4],  m_im[7], a11_im,  -m_im[1], -m_im[7], m_im[5],  -m_im[0], a22_im};
    double y_re[8];
    double y_im[8];
    load_lane(w, j, y_re, y_im);
VELMAR_UNROLL16
    for (int r = 0; r < 4; ++r) {
VELMAR_UNROLL16
      for (int c = 0; c < 2; ++c) {
        double sr = 0.0;
        double si = 0.0;
VELMAR_UNROLL16
        for (int m = 0; m < 4; ++m) {
          sr += A_re[4 * r + m] * y_re[2 * m + c] - A_im[4 * r + m] * y_im[2 * m + c];
          si += A_re[4 * r + m] * y_im[2 * m + c] + A_im[4 * r + m] * y_re[2 * m + c];
        }
        w.y_re[2 * r + c][j] = sr;
        w.y_im[2 * r + c][j] = si;
      }
    }
    w.e0[j] = t.e0[j];
    w.sigma[j] = t.sigma[j];
    w.bad[j] += t.bad[j];
  }
}

// Run constants of one layer for lane_constants (IQF = 2).
struct DampedLayer {
  double vs_re, vs_im, vp_re, vp_im;  // stored velocities
  double rs, rp;                      // 1 / |VS|^2, 1 / |VP|^2
  double qs, qp, rho, h;
  double p_re, p_im, s1;              // k / omega, traction scale / omega
};

// Square root of every lane of v (a separate loop: the library square root
// keeps the loops around it from being vectorised).
inline void lane_sqrt(PsvBlockArray& v) {
  for (double& x : v) x = std::sqrt(x);
}

// IQF = 2: layer m's constants at each lane's frequency into w.lane, the same
// quantities as psv_unit_layer and layer_constants form one frequency at a
// time, with the principal square root rule of HASPSV. A lane whose constants
// leave the safe range, or whose layer HASPSV would split, is marked bad.
VELMAR_ALWAYS_INLINE void lane_constants(const DampedLayer& L, const PsvBlockArray& f, PsvSweepWork& w) {
  PsvBlockArray za_re, za_im, zb_re, zb_im, ra, rb, ua, ub;
  PsvBlockArray mu_re, mu_im;
  const double p2_re = L.p_re * L.p_re - L.p_im * L.p_im;
  const double p2_im = 2.0 * (L.p_re * L.p_im);
  for (int j = 0; j < PSV_BLOCK; ++j) {
    // Damping 1 + i 0.5/(Q F): slownesses (1 + i d) / V and the damped shear
    // velocity V (1 - i d) / (1 + d^2).
    const double dS = proportional_damping_ratio(L.qs, f[j]);
    const double dP = proportional_damping_ratio(L.qp, f[j]);
    const double cs_re = L.rs * L.vs_re, cs_im = -(L.rs * L.vs_im);
    const double cp_re = L.rp * L.vp_re, cp_im = -(L.rp * L.vp_im);
    const double sb_re = cs_re - dS * cs_im, sb_im = cs_im + dS * cs_re;
    const double sa_re = cp_re - dP * cp_im, sa_im = cp_im + dP * cp_re;
    const double rE = 1.0 / (1.0 + dS * dS);
    const double b_re = rE * (L.vs_re + dS * L.vs_im), b_im = rE * (L.vs_im - dS * L.vs_re);
    const double rb_re = L.rho * b_re, rb_im = L.rho * b_im;
    mu_re[j] = b_re * rb_re - b_im * rb_im;
    mu_im[j] = b_re * rb_im + b_im * rb_re;
    za_re[j] = p2_re - (sa_re * sa_re - sa_im * sa_im);
    za_im[j] = p2_im - 2.0 * (sa_re * sa_im);
    zb_re[j] = p2_re - (sb_re * sb_re - sb_im * sb_im);
    zb_im[j] = p2_im - 2.0 * (sb_re * sb_im);
    ra[j] = za_re[j] * za_re[j] + za_im[j] * za_im[j];
    rb[j] = zb_re[j] * zb_re[j] + zb_im[j] * zb_im[j];
  }
  PsvBlockArray norm_a = ra;
  PsvBlockArray norm_b = rb;
  lane_sqrt(ra);
  lane_sqrt(rb);
  for (int j = 0; j < PSV_BLOCK; ++j) {
    ua[j] = 0.5 * (ra[j] + std::abs(za_re[j]));
    ub[j] = 0.5 * (rb[j] + std::abs(zb_re[j]));
  }
  lane_sqrt(ua);
  lane_sqrt(ub);
  // sqrt(z) = (u, y / 2u) for Re z >= 0; (|y| / 2u, +-u) otherwise, with the
  // sign of Im z and + for Im z = 0 of either sign. Selected by bit masks.
  auto root = [](double x, double y, double u, double& q_re, double& q_im) {
    const double v = y / (2.0 * u);
    const std::uint64_t neg_x = x < 0.0 ? ~std::uint64_t{0} : std::uint64_t{0};
    const std::uint64_t neg_y = y < 0.0 ? std::uint64_t{1} : std::uint64_t{0};
    const std::uint64_t bu = std::bit_cast<std::uint64_t>(u);
    const std::uint64_t bv_abs = std::bit_cast<std::uint64_t>(v) & ~(std::uint64_t{1} << 63);
    q_re = std::bit_cast<double>((bu & ~neg_x) | (bv_abs & neg_x));
    const std::uint64_t im_neg = bu | (neg_y << 63);
    q_im = std::bit_cast<double>((std::bit_cast<std::uint64_t>(v) & ~neg_x) | (im_neg & neg_x));
  };
  PsvBlockArray qa_re, qa_im, qb_re, qb_im, mark;
  for (int j = 0; j < PSV_BLOCK; ++j) {
    root(za_re[j], za_im[j], ua[j], qa_re[j], qa_im[j]);
    root(zb_re[j], zb_im[j], ub[j], qb_re[j], qb_im[j]);
    const double dx = L.h * std::abs(qb_re[j] - qa_re[j]);
    const double na = qa_re[j] * qa_re[j] + qa_im[j] * qa_im[j];
    const double nb = qb_re[j] * qb_re[j] + qb_im[j] * qb_im[j];
    VELMAR_CLANG_IGNORE_BITWISE_BEGIN
    const bool ok = (na >= MIN_NORM_Q) & (nb >= MIN_NORM_Q) & (norm_a[j] > SQRT_SAFE_LOW) &
                    (norm_a[j] < SQRT_SAFE_HIGH) & (norm_b[j] > SQRT_SAFE_LOW) & (norm_b[j] < SQRT_SAFE_HIGH) &
                    (w.omega[j] * dx <= PSV_SPLIT_DX);
    VELMAR_CLANG_IGNORE_BITWISE_END
    mark[j] = ok ? 0.0 : 1.0;
  }
  const Z p{L.p_re, L.p_im};
  const double r = 1.0 / L.rho;
  for (int j = 0; j < PSV_BLOCK; ++j) {
    const Z qa{qa_re[j], qa_im[j]};
    const Z qb{qb_re[j], qb_im[j]};
    Z c[16];
    matrix_coefficients(p, r, L.s1, Z{mu_re[j], mu_im[j]}, qa, qb, c);
    double garbage = 0.0;  // NaN if any coefficient is not finite
VELMAR_UNROLL16
    for (int k = 0; k < 16; ++k) {
      w.lane.c_re[k][j] = c[k].re;
      w.lane.c_im[k][j] = c[k].im;
      garbage += (c[k].re - c[k].re) + (c[k].im - c[k].im);
    }
    w.lane.ya_re[j] = 0.5 * L.h * qa.re;
    w.lane.ya_im[j] = 0.5 * L.h * qa.im;
    w.lane.yb_re[j] = 0.5 * L.h * qb.re;
    w.lane.yb_im[j] = 0.5 * L.h * qb.im;
    w.bad[j] += mark[j] + garbage;  // NaN marks bad too
  }
}

// A power of two s near 1/sqrt(n) for n > 0 (s^2 n in [1, 4)), and 1/s.
inline void pow2_scale(double n, double& s, double& inv_s) {
  const std::uint64_t biased = std::bit_cast<std::uint64_t>(n) >> 52;
  const std::uint64_t s_biased = 1535u - ((biased + 1u) >> 1);
  s = std::bit_cast<double>(s_biased << 52);
  inv_s = std::bit_cast<double>((2046u - s_biased) << 52);
}

// The stable solve's step after block_layer: makes the two columns of Y
// orthogonal (Gram-Schmidt, the projection repeated once) and brings each to
// a length in [1, 2) by a power of two (exact, and no square root, so the
// loop vectorises), recording A Y_old = Y_new R with the layer's growth
// exp(sigma) folded into R. A lane whose sigma or column norms leave the safe
// range is marked bad.
VELMAR_ALWAYS_INLINE void block_orthogonalise(PsvSweepWork& w) {
  for (int j = 0; j < PSV_BLOCK; ++j) {
    double y_re[8];
    double y_im[8];
    load_lane(w, j, y_re, y_im);
    double n1 = 0.0;
VELMAR_UNROLL16
    for (int r = 0; r < 4; ++r) n1 += y_re[2 * r] * y_re[2 * r] + y_im[2 * r] * y_im[2 * r];
    double s1 = 0.0;
    double r11 = 0.0;  // 1 / s1
    pow2_scale(n1, s1, r11);
VELMAR_UNROLL16
    for (int r = 0; r < 4; ++r) {
      y_re[2 * r] *= s1;
      y_im[2 * r] *= s1;
    }
    const double inv_q = 1.0 / ((n1 * s1) * s1);  // 1 / |column 0|^2
    double r12_re = 0.0;
    double r12_im = 0.0;
VELMAR_UNROLL16
    for (int pass = 0; pass < 2; ++pass) {
      double p_re = 0.0;
      double p_im = 0.0;
VELMAR_UNROLL16
      for (int r = 0; r < 4; ++r) {  // conj(column 0) . column 1
        p_re += y_re[2 * r] * y_re[2 * r + 1] + y_im[2 * r] * y_im[2 * r + 1];
        p_im += y_re[2 * r] * y_im[2 * r + 1] - y_im[2 * r] * y_re[2 * r + 1];
      }
      p_re *= inv_q;
      p_im *= inv_q;
VELMAR_UNROLL16
      for (int r = 0; r < 4; ++r) {
        y_re[2 * r + 1] -= p_re * y_re[2 * r] - p_im * y_im[2 * r];
        y_im[2 * r + 1] -= p_re * y_im[2 * r] + p_im * y_re[2 * r];
      }
      r12_re += p_re;
      r12_im += p_im;
    }
    double n2 = 0.0;
VELMAR_UNROLL16
    for (int r = 0; r < 4; ++r) n2 += y_re[2 * r + 1] * y_re[2 * r + 1] + y_im[2 * r + 1] * y_im[2 * r + 1];
    double s2 = 0.0;
    double r22 = 0.0;  // 1 / s2
    pow2_scale(n2, s2, r22);
VELMAR_UNROLL16
    for (int r = 0; r < 4; ++r) {
      y_re[2 * r + 1] *= s2;
      y_im[2 * r + 1] *= s2;
    }
    store_lane(w, j, y_re, y_im);
    // With the growth, R = [[r11, r12], [0, r22]] / e0, r11 = 1/s1, r22 = 1/s2:
    // its inverse needs no division.
    w.step.i11[j] = s1 * w.e0[j];
    w.step.i22[j] = s2 * w.e0[j];
    w.step.b12_re[j] = r12_re * s1;
    w.step.b12_im[j] = r12_im * s1;
    const bool unsafe = !((n1 > NORM_SOLVE_LOW) & (n1 < NORM_SOLVE_HIGH) & (n2 > NORM_SOLVE_LOW) &
                          (n2 < NORM_SOLVE_HIGH) & (w.sigma[j] < MAX_FOLDED_GROWTH));
    w.bad[j] += unsafe ? 1.0 : 0.0;
  }
}

using BackState = PsvSweepBack;

// One layer back up: c = R^-1 c' (R from block_orthogonalise); flag marks a
// lane whose coefficients left [NORM_LOW, NORM_HIGH].
VELMAR_ALWAYS_INLINE void back_step(const PsvSweepStep& st, BackState& b) {
  for (int j = 0; j < PSV_BLOCK; ++j) {
    const double d2_re = st.i22[j] * b.c2_re[j];
    const double d2_im = st.i22[j] * b.c2_im[j];
    const double c1_re = st.i11[j] * b.c1_re[j] - (st.b12_re[j] * d2_re - st.b12_im[j] * d2_im);
    const double c1_im = st.i11[j] * b.c1_im[j] - (st.b12_re[j] * d2_im + st.b12_im[j] * d2_re);
    b.c1_re[j] = c1_re;
    b.c1_im[j] = c1_im;
    b.c2_re[j] = d2_re;
    b.c2_im[j] = d2_im;
    const double n = c1_re * c1_re + c1_im * c1_im + d2_re * d2_re + d2_im * d2_im;
    b.flag[j] = ((n < NORM_HIGH) & (n > NORM_LOW)) ? 0.0 : 1.0;
  }
}

// One layer down across the block, the run's constants L in every lane.
VELMAR_ALWAYS_INLINE void layer_shared(const PsvSweepLayer& L, PsvSweepWork& w) { block_layer<false>(L, w); }

// One layer down across the block (IQF = 2): the layer's constants at each
// lane's frequency f first.
VELMAR_ALWAYS_INLINE void layer_per_lane(const DampedLayer& d, const PsvBlockArray& f, PsvSweepWork& w) {
  lane_constants(d, f, w);
  block_layer<true>(w.layers[0], w);
}

// The block loops compiled once per instruction set (see simd_level.hpp).
// The bodies are the inline functions above, so every copy performs the same
// operations.
struct PsvKernels {
  void (*shared)(const PsvSweepLayer&, PsvSweepWork&);
  void (*per_lane)(const DampedLayer&, const PsvBlockArray&, PsvSweepWork&);
  void (*orthogonalise)(PsvSweepWork&);
  void (*back)(const PsvSweepStep&, BackState&);
};

void shared_baseline(const PsvSweepLayer& L, PsvSweepWork& w) { layer_shared(L, w); }
void per_lane_baseline(const DampedLayer& d, const PsvBlockArray& f, PsvSweepWork& w) { layer_per_lane(d, f, w); }
void orthogonalise_baseline(PsvSweepWork& w) { block_orthogonalise(w); }
void back_baseline(const PsvSweepStep& st, BackState& b) { back_step(st, b); }
#if VELMAR_X86_DISPATCH
VELMAR_TARGET_AVX2 void shared_avx2(const PsvSweepLayer& L, PsvSweepWork& w) { layer_shared(L, w); }
VELMAR_TARGET_AVX2 void per_lane_avx2(const DampedLayer& d, const PsvBlockArray& f, PsvSweepWork& w) {
  layer_per_lane(d, f, w);
}
VELMAR_TARGET_AVX2 void orthogonalise_avx2(PsvSweepWork& w) { block_orthogonalise(w); }
VELMAR_TARGET_AVX2 void back_avx2(const PsvSweepStep& st, BackState& b) { back_step(st, b); }
VELMAR_TARGET_AVX512 void shared_avx512(const PsvSweepLayer& L, PsvSweepWork& w) { layer_shared(L, w); }
VELMAR_TARGET_AVX512 void per_lane_avx512(const DampedLayer& d, const PsvBlockArray& f, PsvSweepWork& w) {
  layer_per_lane(d, f, w);
}
VELMAR_TARGET_AVX512 void orthogonalise_avx512(PsvSweepWork& w) { block_orthogonalise(w); }
VELMAR_TARGET_AVX512 void back_avx512(const PsvSweepStep& st, BackState& b) { back_step(st, b); }
constexpr std::array<PsvKernels, SIMD_LEVELS> PSV_KERNELS{
    {{shared_baseline, per_lane_baseline, orthogonalise_baseline, back_baseline},
     {shared_avx2, per_lane_avx2, orthogonalise_avx2, back_avx2},
     {shared_avx512, per_lane_avx512, orthogonalise_avx512, back_avx512}}};
#else
// Off x86-64 the baseline is the only level.
constexpr PsvKernels PSV_BASELINE{shared_baseline, per_lane_baseline, orthogonalise_baseline, back_baseline};
constexpr std::array<PsvKernels, SIMD_LEVELS> PSV_KERNELS{{PSV_BASELINE, PSV_BASELINE, PSV_BASELINE}};
#endif

// Brings lane j's coefficients back near 1 by a power of two, the factor
// going into lc (nothing to do for zero or non-finite ones).
void rescale_back(BackState& b, int j) {
  const double big =
      std::max({std::abs(b.c1_re[j]), std::abs(b.c1_im[j]), std::abs(b.c2_re[j]), std::abs(b.c2_im[j])});
  if (big == 0.0 || !std::isfinite(big)) return;
  const int ex = std::ilogb(big);
  const double f = std::ldexp(1.0, -ex);
  b.c1_re[j] *= f;
  b.c1_im[j] *= f;
  b.c2_re[j] *= f;
  b.c2_im[j] *= f;
  b.lc[j] += ex * std::log(2.0);
}

}  // namespace

int psv_sweep(const LayerTable& table, int ITYPE, float ANGLE, std::span<float> F,
               std::span<cfloat> U, std::span<cfloat> W, PsvSweepWork& work) {
  return psv_sweep(table, ITYPE, ANGLE, F, U, W, work, best_simd_level());
}

int psv_sweep(const LayerTable& table, int ITYPE, float ANGLE, std::span<float> F,
               std::span<cfloat> U, std::span<cfloat> W, PsvSweepWork& work, SimdLevel level) {
  const PsvKernels& kernels = for_level(PSV_KERNELS, level);
  const float pi = 4.0f * std::atan(1.0f);
  const float s_az = std::sin(pi * 90.0f / 180.0f);
  const int N = table.NLAYER;
  const int NF = static_cast<int>(F.size());

  auto by_haspsv = [&](int i) {
    HASPSV(table, ITYPE, 90.0f, ANGLE, F[i], 0, work.ups, work.wps);
    U[i] = work.ups[0];
    W[i] = work.wps[0];
  };

  // With a frequency-independent damping law the layer constants serve the
  // whole grid; with IQF = 2 they are formed per frequency as each block is
  // evaluated.
  const bool per_frequency = table.IQF == 2;
  PsvUnitModel unit;
  psv_unit_model(table, ITYPE, ANGLE, 1.0f, unit);
  bool fast = unit.s1 > 0.0 && std::isfinite(unit.s1);
  double dx_max = 0.0;
  for (int m = 0; m < N && fast && !per_frequency; ++m) {
    fast = layer_constants(unit, unit.layers[m], double(table.THICK[m]), double(table.RHO[m]), work.layers[m]);
    dx_max = std::max(dx_max, work.layers[m].dx);
  }
  if (!fast) {
    for (int i = 0; i < NF; ++i) by_haspsv(i);
    return 0;
  }

  // IQF = 2: layer m's run constants; the frequencies come per block.
  auto damped_layer = [&](int m) {
    const cdouble vs = table.VSC[m];
    const cdouble vp = table.VPC[m];
    return DampedLayer{vs.real(), vs.imag(), vp.real(), vp.imag(), 1.0 / std::norm(vs), 1.0 / std::norm(vp),
                       double(table.QS[m]), double(table.QP[m]), double(table.RHO[m]), double(table.THICK[m]),
                       unit.p.real(), unit.p.imag(), unit.s1};
  };

  int blocked = 0;
  // Evaluates the n waiting frequencies as a block.
  auto run_block = [&](int n) {
    for (int j = 0; j < PSV_BLOCK; ++j) work.omega[j] = work.wait_omega[j < n ? j : 0];
    work.index = work.wait_index;
    for (auto& y : work.y_re) y.fill(0.0);
    for (auto& y : work.y_im) y.fill(0.0);
    work.y_re[0].fill(1.0);  // (1, 0, 0, 0) and (0, 1, 0, 0)
    work.y_re[3].fill(1.0);
    work.bad.fill(0.0);
    PsvBlockArray f{};  // each lane's frequency, for IQF = 2
    if (per_frequency) {
      for (int j = 0; j < PSV_BLOCK; ++j) f[j] = double(F[work.index[j < n ? j : 0]]);
    }
    for (int m = 0; m < N; ++m) {
      if (per_frequency) {
        kernels.per_lane(damped_layer(m), f, work);
      } else {
        kernels.shared(work.layers[m], work);
      }
      kernels.orthogonalise(work);
      work.steps[m] = work.step;
    }
    // The surface solution's coefficients at the top of the half-space, then
    // back up through every layer.
    BackState& b = work.back;
    b = BackState{};
    for (int j = 0; j < n; ++j) {
      if (work.bad[j] != 0.0) continue;
      std::array<cdouble, 8> Y;
      for (int e = 0; e < 8; ++e) Y[e] = {work.y_re[e][j], work.y_im[e][j]};
      const std::array<cdouble, 2> c = psv_surface_coefficients(unit, ITYPE, Y);
      b.c1_re[j] = c[0].real();
      b.c1_im[j] = c[0].imag();
      b.c2_re[j] = c[1].real();
      b.c2_im[j] = c[1].imag();
    }
    for (int m = N - 1; m >= 0; --m) {
      kernels.back(work.steps[m], b);
      for (int j = 0; j < n; ++j) {
        if (b.flag[j] != 0.0) rescale_back(b, j);
      }
    }
    for (int j = 0; j < n; ++j) {
      const int at = work.index[j];
      if (work.bad[j] == 0.0) {
        psv_store_surface({b.c1_re[j], b.c1_im[j]}, {b.c2_re[j], b.c2_im[j]}, b.lc[j], s_az, U[at], W[at]);
      }
      const bool finite = std::isfinite(U[at].real()) && std::isfinite(U[at].imag()) &&
                          std::isfinite(W[at].real()) && std::isfinite(W[at].imag());
      if (work.bad[j] != 0.0 || !finite) {
        by_haspsv(at);
      } else {
        ++blocked;
      }
    }
  };

  // The stable solve throughout, as in HASPSV. A frequency with a layer that HASPSV would split, and any
  // non-positive one, goes to HASPSV; full blocks are evaluated as they fill.
  int waiting = 0;
  for (int i = 0; i < NF; ++i) {
    if (F[i] == 0.0f) F[i] = 1.0e-6f;
    const double omega = double(F[i] * 2.0f * pi);
    if (!(omega > 0.0 && (per_frequency || omega * dx_max <= PSV_SPLIT_DX))) {
      by_haspsv(i);
      continue;
    }
    work.wait_index[waiting] = i;
    work.wait_omega[waiting] = omega;
    if (++waiting == PSV_BLOCK) {
      run_block(waiting);
      waiting = 0;
    }
  }
  if (waiting > 0) run_block(waiting);
  return blocked;
}

}  // namespace velmar::console
