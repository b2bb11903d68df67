// hassh.cpp: SH response of the layered model (HASSH).
//
// Glossary of the working quantities (one call, one frequency):
//   omega   angular frequency 2*pi*F
//   kx      horizontal wavenumber, the same in every layer (Snell's law), set by
//           the half-space: kx = sin(theta) * omega / VSC(half-space)
//   kz      vertical wavenumber in the half-space, cos(theta) * omega / VSC
//   muh     shear modulus of the half-space, RHO * VSC^2
//   V, mu   damped velocity and shear modulus of a layer
//   nu      vertical wavenumber in a layer, sqrt(ks^2 - kx^2) with ks = omega/V
//   z       nu * THICK, the complex phase across a layer
//   A_n     layer matrix carrying (displacement, stress) from the top of layer n
//           to its bottom:  [ cos z            sin z / (mu nu) ]
//                           [ -mu nu sin z     cos z           ]
//   M       A_N ... A_1, surface to the top of the half-space; only its first
//           column is formed, since the surface state is (u, 0)
//
// Precision and range. The layer matrices grow like e^{|Im z|}; for thick, soft,
// strongly damped layers at high frequency that passes the float range near
// |Im z| = 88 and the double range near 709. Each layer matrix is therefore kept
// as e^{|Im z|} times a matrix of moderate size (cos z * e^{-|Im z|} etc.), the
// products are formed in double precision, and the exponents are summed apart
// as a natural-log scale. The surface value and the profile are carried as
// (mantissa, log-scale) pairs and rounded to float only when stored, so an
// interface value inside the float range is right even when the surface value
// lies far below it.
#include "console/engines/hassh.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "layers/complex_ops.hpp"
#include "console/engines/damping.hpp"

namespace velmar::console {

using namespace detail;  // the shared kernels
namespace {

// Largest component magnitude of a complex number.
inline double cmax(cdouble a) { return std::max(std::abs(a.real()), std::abs(a.imag())); }

// Bounds outside which a carried mantissa is brought back near 1 by an exact
// power of two (the exponent moving into the log-scale). Wide enough that the
// check almost never fires, narrow enough that a 2 x 2 product of two such
// values cannot leave the double range.
constexpr double RESCALE_HIGH = 0x1p+400;
constexpr double RESCALE_LOW = 0x1p-400;
constexpr double LN2 = std::numbers::ln2;

// Brings (u, t) back near 1 by 2^-e, where 2^e is the size of the larger,
// and adds e*ln 2 to the log-scale, when that size has left the bounds above.
// The test is inline and cheap; the rare rescaling is not.
inline void keep_in_range(cdouble& u, cdouble& t, double& log_scale) {
  const double big = std::max(cmax(u), cmax(t));
  if (big <= RESCALE_HIGH && (big >= RESCALE_LOW || big == 0.0)) return;
  if (!std::isfinite(big)) return;  // nothing a power of two can bring back
  const int e = std::ilogb(big);
  u = {std::ldexp(u.real(), -e), std::ldexp(u.imag(), -e)};
  t = {std::ldexp(t.real(), -e), std::ldexp(t.imag(), -e)};
  log_scale += e * LN2;
}

// mantissa * e^{log_scale}, rounded once to float. Below the float range the
// result is zero (or subnormal), above it infinite, as single precision rounds.
cfloat to_cfloat(cdouble mantissa, double log_scale) {
  const double big = cmax(mantissa);
  if (big == 0.0) return {0.0f, 0.0f};
  mantissa = cscale(mantissa, 1.0 / big);
  const double factor = std::exp(log_scale + std::log(big));
  return {static_cast<float>(mantissa.real() * factor),
          static_cast<float>(mantissa.imag() * factor)};
}

// Displacement and stress sharing one log-scale, rounded to float. Within
// +-700 e^{log_scale} is a normal double, so the single product mantissa *
// e^{log_scale} is the value correctly rounded wherever it lies in the float
// range (and 0 or infinite beyond it, as in float); one exponential then serves
// both values.
void store_pair(cdouble u, cdouble t, double log_scale, cfloat& U, cfloat& T) {
  constexpr double EXP_SAFE = 700.0;
  if (std::abs(log_scale) >= EXP_SAFE) {
    U = to_cfloat(u, log_scale);
    T = to_cfloat(t, log_scale);
    return;
  }
  const double factor = std::exp(log_scale);
  U = {static_cast<float>(u.real() * factor), static_cast<float>(u.imag() * factor)};
  T = {static_cast<float>(t.real() * factor), static_cast<float>(t.imag() * factor)};
}

// Layer matrix divided by e^{|Im z|}. A(2,2) = A(1,1), so three entries.
struct ScaledLayer {
  cdouble a11, a12, a21;
  double log_scale;  // |Im z|
};

// Below this |z|, sin(z)/z is taken from its Taylor series: the first omitted
// term, z^10/11!, is then under 3e-18 relative, and the series has no 0/0 at
// nu = 0 (the critical case ks = kx).
constexpr double SINC_SERIES_LIMIT = 0.1;

ScaledLayer layer_matrix(cdouble nu, cdouble mu, double h) {
  const cdouble z = cscale(nu, h);
  const double b = std::abs(z.imag());
  // e^{-|b|} cosh(b) = 1 + em/2 and e^{-|b|} sinh(|b|) = -em/2 with
  // em = e^{-2|b|} - 1, accurate for small b as well as large.
  const double em = std::expm1(-2.0 * b);
  const double ch = 1.0 + 0.5 * em;
  const double sh = std::copysign(-0.5 * em, z.imag());
  const double sa = std::sin(z.real());
  const double ca = std::cos(z.real());
  const cdouble cos_s{ca * ch, -sa * sh};  // cos z * e^{-|b|}
  const cdouble sin_s{sa * ch, ca * sh};   // sin z * e^{-|b|}
  const cdouble mu_nu = cmul(mu, nu);
  ScaledLayer a;
  a.a11 = cos_s;
  a.a21 = cscale(cmul(mu_nu, sin_s), -1.0);
  if (std::abs(z.real()) + b < SINC_SERIES_LIMIT) {
    // sin(nu h)/(mu nu) = h * sinc(z) / mu, which tends to h/mu as nu -> 0.
    const cdouble z2 = cmul(z, z);
    cdouble s{1.0 / 362880.0, 0.0};
    for (double c : {-1.0 / 5040.0, 1.0 / 120.0, -1.0 / 6.0, 1.0}) s = cmul(s, z2) + c;
    a.a12 = cdiv(cscale(s, h * std::exp(-b)), mu);
  } else {
    a.a12 = cmul(sin_s, crecip(mu_nu));
  }
  a.log_scale = b;
  return a;
}

}  // namespace

void HASSH(const LayerTable& table, float ANGAZ, float ANGLE, float& F, int ISGNT, int IPROF,
           ResponseArray& USH, ResponseArray& TSH) {
  // pi and the angles in single precision, as the results depend on them.
  const float pi = 4.0f * std::atan(1.0f);
  const float a = pi * ANGAZ / 180.0f;
  const float cos_a = std::cos(a);
  if (std::abs(cos_a) < 0.001f) return;

  if (F == 0.0f) F = 1.0e-6f;
  const float theta = pi * ANGLE / 180.0f;
  const float sin_t = std::sin(theta);
  const float cos_t = std::cos(theta);
  const float omega_f = F * 2.0f * pi;
  const double omega = static_cast<double>(omega_f);

  // The time factor exp(-i w t) (ISGNT = -1) needs the damped velocity
  // V = VSC / (1 + i d): with ks = w/V the wave decays as it travels. For
  // exp(+i w t) the same decay needs VSC / (1 - i d); then the whole result is
  // the complex conjugate of the exp(-i w t) one. Any ISGNT other than +1 is
  // taken as -1.
  const bool plus_time = ISGNT == 1;
  const double damping_sign = plus_time ? -1.0 : 1.0;

  const int N = table.NLAYER;
  const cdouble vh = table.VSC[N];
  const cdouble kh = cdiv(cdouble{omega, 0.0}, vh);
  const cdouble kx = cscale(kh, static_cast<double>(sin_t));
  const cdouble kz = cscale(kh, static_cast<double>(cos_t));
  const cdouble muh = cscale(cmul(vh, vh), static_cast<double>(table.RHO[N]));
  const cdouble kx2 = cmul(kx, kx);

  // Wavenumbers and moduli first, in a loop without calls, so that the long
  // divide and square-root chains of successive layers overlap.
  std::array<cdouble, MAX_ENTRIES - 1> nus;
  std::array<cdouble, MAX_ENTRIES - 1> mus;
  for (int n = 0; n < N; ++n) {
    const double d = damping_sign * damping_ratio(table.IQF, static_cast<double>(table.QS[n]), static_cast<double>(F));
    // V = VSC / (1 + i d) and ks = omega / V.
    const cdouble vsc = table.VSC[n];
    const cdouble v = damped_velocity(vsc, d);
    mus[n] = cscale(cmul(v, v), static_cast<double>(table.RHO[n]));
    const cdouble ks = cscale(damped_slowness(vsc, d), omega);
    nus[n] = csqrt_decaying(cmul(ks, ks) - kx2);
  }

  // The surface state is (u, 0), so only the first column of the layer-matrix
  // product matters: (c_n, s_n) = A_n ... A_1 (1, 0) is the (displacement,
  // stress) at the bottom of layer n per unit surface displacement, carried as
  // e^{log_n} * mantissa. The columns are kept for the profile.
  std::array<cdouble, MAX_ENTRIES - 1> col_u;
  std::array<cdouble, MAX_ENTRIES - 1> col_t;
  std::array<double, MAX_ENTRIES - 1> col_log;
  cdouble cu{1.0, 0.0};
  cdouble ct{0.0, 0.0};
  double log_c = 0.0;
  for (int n = 0; n < N; ++n) {
    const ScaledLayer A = layer_matrix(nus[n], mus[n], static_cast<double>(table.THICK[n]));

    const cdouble next_u = cmul(A.a11, cu) + cmul(A.a12, ct);
    ct = cmul(A.a21, cu) + cmul(A.a11, ct);
    cu = next_u;
    log_c += A.log_scale;
    keep_in_range(cu, ct, log_c);
    col_u[n] = cu;
    col_t[n] = ct;
    col_log[n] = log_c;
  }

  // Radiation condition: twice the incident amplitude in the half-space per
  // unit surface displacement is c + r with r = i s / (muh kz) for exp(-i w t),
  // c - r for exp(+i w t) (c, s: the column at the top of the half-space).
  const cdouble r = cdiv(cdiv(cdouble{-ct.imag(), ct.real()}, muh), kz);
  const cdouble denom = plus_time ? cu - r : cu + r;
  const cdouble u0 = cscale(cdiv(cdouble{2.0, 0.0}, denom), static_cast<double>(cos_a));
  const double log_u0 = -log_c;
  store_pair(u0, cdouble{0.0, 0.0}, log_u0, USH[0], TSH[0]);
  if (IPROF == 0) return;

  // Profile: the unrounded surface value times the kept columns, which are the
  // layer matrices of this call applied to (u, 0) layer by layer.
  for (int n = 0; n < N; ++n) {
    store_pair(cmul(u0, col_u[n]), cmul(u0, col_t[n]), log_u0 + col_log[n], USH[n + 1], TSH[n + 1]);
  }
}

}  // namespace velmar::console
