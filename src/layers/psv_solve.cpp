// psv_solve.cpp: the kernel of the P-SV stable solve (namespace psv of
// layers/psv_solve.hpp, whose glossary the names here follow), shared by the
// library's psv_response and the console's HASPSV and block sweep.
#include "layers/psv_solve.hpp"

#include "layers/complex_ops.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace velmar::detail {
namespace psv {

// a / b: through |b|^2 where that is safely inside the double range (always
// so for the wavenumbers and velocities here), else by Smith's scaling.
Cx div(Cx a, Cx b) {
  const double d = norm2(b);
  if (d > 0x1p-900 && d < 0x1p900) {
    const double id = 1.0 / d;
    return {(a.re * b.re + a.im * b.im) * id, (a.im * b.re - a.re * b.im) * id};
  }
  return to_cx(cdiv(cdouble(a.re, a.im), cdouble(b.re, b.im)));
}

// Principal square root with the program's branch rule (see csqrt_branch):
// a negative real argument with a zero imaginary part of either sign gives
// +i sqrt(x). Each part comes from a sum of non-negative terms, so neither
// cancels.
Cx sqrt_branch(Cx z) {
  const double d = norm2(z);
  if (!(d > 0x1p-900 && d < 0x1p900)) return to_cx(csqrt_branch(cdouble(z.re, z.im)));
  const double r = std::sqrt(d);
  if (z.re >= 0.0) {
    const double t = std::sqrt(0.5 * (r + z.re));
    return {t, z.im / (2.0 * t)};
  }
  const double t = std::sqrt(0.5 * (r - z.re));
  return {std::abs(z.im) / (2.0 * t), z.im < 0.0 ? -t : t};
}

// Y <- A Y for a 4x2 Y.
void apply(const Mat4& A, Mat42& Y) {
  Mat42 out;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 2; ++c) {
      Cx sum = A[4 * r] * Y[c];
      for (int m = 1; m < 4; ++m) sum = sum + A[4 * r + m] * Y[2 * m + c];
      out[2 * r + c] = sum;
    }
  }
  Y = out;
}

// Multiplies the 4x2 Y by a power of two that brings its largest component
// near 1 when it has left [2^-400, 2^400]; adds the natural log of the
// factor removed to lg.
void rescale(Mat42& Y, double& lg) {
  double n = 0.0;
  for (const Cx& y : Y) n += norm2(y);
  if (n == 0.0 || (n < 0x1p800 && n > 0x1p-800)) return;
  double big = 0.0;
  for (const Cx& y : Y) big = std::max({big, std::abs(y.re), std::abs(y.im)});
  if (big == 0.0 || !std::isfinite(big)) return;  // nothing a power of two can bring back
  const int e = std::ilogb(big);
  for (Cx& y : Y) y = std::ldexp(1.0, -e) * y;
  lg += e * std::log(2.0);
}

namespace {

// Hyperbolic terms of one wave across thickness h, each multiplied by
// exp(-sigma): S = sinh^2(x/2), H = sinh(x), nuH = nu sinh(x),
// H_nu = sinh(x)/nu (h where nu = 0), x = h nu.
struct WaveTerms {
  Cx S;
  Cx H;
  Cx nuH;
  Cx H_nu;
};

WaveTerms wave_terms(Cx nu, double h, double sigma, double e_half) {
  // With y = x/2: sinh(y) = sinh(yr) cos(yi) + i cosh(yr) sin(yi), accurate
  // for small y too, and every term below is a product of sinh(y), cosh(y)
  // and sinh(y)/y, so no difference cancels.
  const double yr = 0.5 * h * nu.re;
  const double yi = 0.5 * h * nu.im;
  double sh = 0.0;  // exp(-sigma/2) sinh(yr), exp(-sigma/2) cosh(yr)
  double ch = 0.0;
  if (yr < 20.0) {
    const double t = std::expm1(yr);
    const double r = e_half / (2.0 * (t + 1.0));
    sh = (t * (t + 2.0)) * r;
    ch = e_half + (t * t) * r;
  } else {  // exp(-yr) is negligible beside exp(yr); sigma/2 >= yr
    const double ep = std::exp(yr - 0.5 * sigma);
    const double em = std::exp(-yr - 0.5 * sigma);
    sh = 0.5 * (ep - em);
    ch = 0.5 * (ep + em);
  }
  const double cs = std::cos(yi);
  const double sn = std::sin(yi);
  const Cx s{sh * cs, ch * sn};
  const Cx c{ch * cs, sh * sn};
  const Cx q = (yr == 0.0 && yi == 0.0) ? Cx{e_half, 0.0} : div(s, Cx{yr, yi});  // sinh(y)/y
  WaveTerms w;
  w.S = s * s;
  w.H = 2.0 * (s * c);
  w.nuH = nu * w.H;
  w.H_nu = h * (q * c);
  return w;
}

// Layer matrix from the hyperbolic terms of the two waves and the identity
// part e0, with the traction rows divided and the traction columns multiplied
// by s.
void assemble(const LayerWaves& L, Cx k, Cx k2, double s, const WaveTerms& a, const WaveTerms& b,
              double e0, Mat4& A) {
  const Cx& g = L.gam;
  const Cx& c1 = L.c1;
  const double c0 = L.c0;
  const Cx a14 = (2.0 * c0) * (k * (a.S - b.S));
  const Cx a11 = Cx{e0, 0.0} + 2.0 * (c1 * (2.0 * (k2 * a.S) - g * b.S));
  const Cx a22 = Cx{e0, 0.0} + 2.0 * (c1 * (2.0 * (k2 * b.S) - g * a.S));
  const Cx a12 = c1 * (k * (g * a.H_nu - 2.0 * b.nuH));
  const Cx a13 = c0 * (k2 * a.H_nu - b.nuH);
  const Cx a21 = c1 * (k * (g * b.H_nu - 2.0 * a.nuH));
  const Cx a24 = c0 * (k2 * b.H_nu - a.nuH);
  const Cx a31 = c1 * (L.mu * (4.0 * (k2 * a.nuH) - (g * g) * b.H_nu));
  const Cx a32 = 2.0 * ((L.mu * L.mu) * (g * a14));
  const Cx a42 = c1 * (L.mu * (4.0 * (k2 * b.nuH) - (g * g) * a.H_nu));
  const double is = 1.0 / s;
  A = {a11,         a12,      s * a13,    s * a14,  //
       a21,         a22,      -(s * a14), s * a24,  //
       is * a31,    is * a32, a11,        -a21,     //
       -(is * a32), is * a42, -a12,       a22};
}

// Layer matrix of thickness h divided by exp(sigma), sigma = max Re(h nu).
// Returns sigma; e0 gets exp(-sigma).
double layer_matrix(const LayerWaves& L, Cx k, Cx k2, double h, double s, Mat4& A, double& e0) {
  const double sigma = h * std::max(L.nu_a.re, L.nu_b.re);
  const double e_half = std::exp(-0.5 * sigma);
  const WaveTerms a = wave_terms(L.nu_a, h, sigma, e_half);
  const WaveTerms b = wave_terms(L.nu_b, h, sigma, e_half);
  e0 = e_half * e_half;
  assemble(L, k, k2, s, a, b, e0, A);
  return sigma;
}

// Split of the layer matrix for a layer in which one wave grows far faster
// than the other: A = exp(sg) G + exp(sr) Rest, G the coefficient of exp(x)
// of the faster wave (a rank-one matrix) times exp(x - sg), sg = Re x, Rest
// everything else (the slower wave, exp(-x) of the faster one and the
// identity) divided by exp(sr), sr = max(0, Re x of the slower wave). Each is
// formed directly and scaled by its own growth, so Rest keeps its digits (and
// stays clear of underflow) however large exp(x) is.
void layer_split(const LayerWaves& L, Cx k, Cx k2, double h, double s, Mat4& G, Mat4& Rest,
                 double& sg, double& sr) {
  const bool s_faster = L.nu_b.re >= L.nu_a.re;
  const Cx nu = s_faster ? L.nu_b : L.nu_a;
  const Cx nu_slow = s_faster ? L.nu_a : L.nu_b;
  sg = h * nu.re;
  sr = std::max(0.0, h * nu_slow.re);
  const double xi = h * nu.im;
  const double e0 = std::exp(-sr);
  const Cx ph{std::cos(xi), std::sin(xi)};                    // exp(x - sg)
  const Cx em = (std::exp(-sg) * e0) * Cx{ph.re, -ph.im};     // exp(-x - sr)
  WaveTerms plus;
  plus.S = 0.25 * ph;
  plus.H = 0.5 * ph;
  plus.nuH = nu * plus.H;
  plus.H_nu = div(plus.H, nu);
  WaveTerms rest;
  rest.S = 0.25 * (em - Cx{2.0 * e0, 0.0});
  rest.H = -0.5 * em;
  rest.nuH = nu * rest.H;
  rest.H_nu = div(rest.H, nu);
  const WaveTerms none{};
  const WaveTerms other = wave_terms(nu_slow, h, sr, std::exp(-0.5 * sr));
  if (s_faster) {
    assemble(L, k, k2, s, none, plus, 0.0, G);
    assemble(L, k, k2, s, other, rest, e0, Rest);
  } else {
    assemble(L, k, k2, s, plus, none, 0.0, G);
    assemble(L, k, k2, s, rest, other, e0, Rest);
  }
}

}  // namespace

LayerWaves layer_waves(Cx mu, Cx sa2, Cx sb2, double c0, double w2, Cx k2) {
  LayerWaves L;
  L.mu = mu;
  L.nu_a = sqrt_branch(k2 - w2 * sa2);
  L.nu_b = sqrt_branch(k2 - w2 * sb2);
  L.gam = L.nu_b * L.nu_b + k2;
  L.c0 = c0;
  L.c1 = c0 * L.mu;
  return L;
}

HalfspaceRows halfspace_rows(Cx beta_h, Cx alpha_h, double rho_h, bool sv, double sin_t,
                             double cos_t, Cx c, double omega) {
  const Cx mu_h = rho_h * (beta_h * beta_h);
  const Cx k = div(Cx{omega * sin_t, 0.0}, sv ? beta_h : alpha_h);
  const Cx k2 = k * k;
  Cx nu_ah;
  Cx nu_bh;
  if (sv) {
    nu_bh = mul_minus_i(div(Cx{omega * cos_t, 0.0}, beta_h));
    nu_ah = mul_minus_i(div(omega * c, alpha_h));
  } else {
    nu_ah = mul_minus_i(div(Cx{omega * cos_t, 0.0}, alpha_h));
    nu_bh = mul_minus_i(div(omega * c, beta_h));
  }
  double s = rho_h * std::sqrt(norm2(beta_h)) * omega;
  if (!(s > 0.0 && std::isfinite(s))) s = 1.0;

  const Cx gam_h = nu_bh * nu_bh + k2;
  const Cx Fh = div(beta_h, 2.0 * omega * (mu_h * (alpha_h * (nu_ah * nu_bh))));
  const Cx nn = nu_bh * nu_ah;
  const std::array<Cx, 4> G3 = {2.0 * (nn * (k * (mu_h * beta_h))), gam_h * (nu_bh * (mu_h * beta_h)),
                                nu_bh * (k * beta_h), nn * beta_h};
  const std::array<Cx, 4> G4 = {-(gam_h * (nu_ah * (mu_h * alpha_h))),
                                -(2.0 * (nn * (k * (mu_h * alpha_h)))), -(nn * alpha_h),
                                -(nu_ah * (k * alpha_h))};
  const Cx Fh4 = mul_minus_i(Fh);
  HalfspaceRows rows;
  rows.k = k;
  rows.s = s;
  for (int j = 0; j < 4; ++j) {
    const double sc = j < 2 ? 1.0 : s;
    rows.K3[j] = sc * (Fh * G3[j]);
    rows.K4[j] = sc * (Fh4 * G4[j]);
  }
  return rows;
}


namespace {

// Euclidean norm of column c of Y; the sum of squares is rescaled where it
// would underflow or overflow (the slower solution may be 1e-160 of the other).
double column_norm(const Mat42& Y, int c) {
  double n = 0.0;
  for (int r = 0; r < 4; ++r) n += norm2(Y[2 * r + c]);
  if (n > 0x1p-900 && n < 0x1p900) return std::sqrt(n);
  double big = 0.0;
  for (int r = 0; r < 4; ++r) big = std::max({big, std::abs(Y[2 * r + c].re), std::abs(Y[2 * r + c].im)});
  if (big == 0.0 || !std::isfinite(big)) return big;
  n = 0.0;
  for (int r = 0; r < 4; ++r) n += norm2((1.0 / big) * Y[2 * r + c]);
  return big * std::sqrt(n);
}

// Orthonormalises the columns of Y in place (Gram-Schmidt, the projection
// repeated once, which makes the columns orthogonal to working precision).
Step orthonormalise(Mat42& Y) {
  Step st;
  st.r11 = column_norm(Y, 0);
  const double i1 = 1.0 / st.r11;
  for (int r = 0; r < 4; ++r) Y[2 * r] = i1 * Y[2 * r];
  for (int pass = 0; pass < 2; ++pass) {
    Cx p;
    for (int r = 0; r < 4; ++r) p = p + conj_mul(Y[2 * r], Y[2 * r + 1]);
    for (int r = 0; r < 4; ++r) Y[2 * r + 1] = Y[2 * r + 1] - p * Y[2 * r];
    st.r12 = st.r12 + p;
  }
  st.r22 = column_norm(Y, 1);
  const double i2 = 1.0 / st.r22;
  for (int r = 0; r < 4; ++r) Y[2 * r + 1] = i2 * Y[2 * r + 1];
  return st;
}

}  // namespace

Step stable_step(const LayerWaves& L, Cx k, Cx k2, double h, double s, Mat42& Y) {
  // |Re x_b - Re x_a|: the digits a product with this layer's matrix loses on
  // the slower-growing of the two solutions.
  const double dX = h * std::abs(L.nu_b.re - L.nu_a.re);
  Step st;
  if (dX > PSV_SPLIT_DX) {
    // The faster wave's part G Y is rank one: a combination t of the two
    // columns cancels it exactly, and Rest Y t is then the slower solution,
    // formed without the cancellation a product with A would suffer. The
    // new basis is (A Y e_j, Rest Y t), j the column G weighs most.
    Mat4 G;
    Mat4 Rest;
    layer_split(L, k, k2, h, s, G, Rest, st.lg1, st.lg2);
    Mat42 GY = Y;
    Mat42 RY = Y;
    apply(G, GY);
    apply(Rest, RY);
    int row = 0;
    double best = -1.0;
    for (int r = 0; r < 4; ++r) {
      const double w = norm2(GY[2 * r]) + norm2(GY[2 * r + 1]);
      if (w > best) {
        best = w;
        row = r;
      }
    }
    const Cx g0 = GY[2 * row];
    const Cx g1 = GY[2 * row + 1];
    st.j = norm2(g0) >= norm2(g1) ? 0 : 1;
    const double inv = 1.0 / std::sqrt(std::max(norm2(g0), norm2(g1)));
    st.t = {inv * g1, -(inv * g0)};
    const double rel = std::exp(st.lg2 - st.lg1);
    for (int r = 0; r < 4; ++r) {
      const Cx vj = GY[2 * r + st.j] + rel * RY[2 * r + st.j];
      const Cx z = RY[2 * r] * st.t[0] + RY[2 * r + 1] * st.t[1];
      Y[2 * r] = vj;
      Y[2 * r + 1] = z;
    }
    const Step qr = orthonormalise(Y);
    st.r11 = qr.r11;
    st.r12 = qr.r12;
    st.r22 = qr.r22;
    return st;
  }
  Mat4 A;
  double e0 = 0.0;
  const double sigma = layer_matrix(L, k, k2, h, s, A, e0);
  apply(A, Y);
  st = orthonormalise(Y);
  // Fold exp(sigma) into R unless it could overflow.
  if (sigma < 600.0) {
    const double grow = 1.0 / e0;
    st.r11 *= grow;
    st.r12 = grow * st.r12;
    st.r22 *= grow;
  } else {
    st.lg1 = sigma;
    st.lg2 = sigma;
  }
  return st;
}

std::array<Cx, 2> surface_coefficients(const std::array<Cx, 4>& K3, const std::array<Cx, 4>& K4,
                                       const Mat42& Y, bool sv) {
  Cx b[2][2];
  for (int c = 0; c < 2; ++c) {
    b[0][c] = K3[0] * Y[c];
    b[1][c] = K4[0] * Y[c];
    for (int m = 1; m < 4; ++m) {
      b[0][c] = b[0][c] + K3[m] * Y[2 * m + c];
      b[1][c] = b[1][c] + K4[m] * Y[2 * m + c];
    }
  }
  const Cx p = b[0][0] * b[1][1];
  const Cx q = b[0][1] * b[1][0];
  const Cx det = p - q;
  if (sv) return {div(-b[0][1], det), div(b[0][0], det)};
  return {div(b[1][1], det), div(-b[1][0], det)};
}

void back_step(const Step& st, Mat42& cv, double& lc) {
  const Cx d2 = (1.0 / st.r22) * cv[2];
  Cx d1 = (1.0 / st.r11) * (cv[0] - st.r12 * d2);
  if (st.lg1 != st.lg2) d1 = std::exp(st.lg2 - st.lg1) * d1;
  cv[0] = d2 * st.t[0];
  cv[2] = d2 * st.t[1];
  cv[2 * st.j] = cv[2 * st.j] + d1;
  lc -= st.lg2;
  rescale(cv, lc);
}

}  // namespace psv

}  // namespace velmar::detail
