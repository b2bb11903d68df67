// psv_solve.hpp: the kernel of the P-SV layer-matrix solve (namespace psv)
// that the double-precision library engine (site/psv_response) and the
// console's HASPSV and block sweep share.
//
// The stable solve: the two zero-traction surface solutions are carried down
// the stack and re-orthonormalised after every layer (a layer whose S and P
// exponents differ by much is crossed with its matrix split, so that their
// span never collapses onto the faster-growing wave); the half-space rows fix
// the combination at the bottom, and back-substitution brings it up to every
// interface. Every state is scaled: tractions divided by the traction scale s
// (psv::HalfspaceRows), so that the four components are of one size.
#pragma once

#include <array>
#include <complex>

namespace velmar::detail {

using cfloat = std::complex<float>;
using cdouble = std::complex<double>;

// A layer whose |X_S - X_P| (X = Re(h nu), the attenuation exponents of its S
// and P waves) exceeds this is crossed with its matrix split into the faster
// wave's part and the rest; below it a plain product with the layer matrix
// loses at most exp(5) * 2^-52 ~ 3e-14 on the slower solution, and |x| of the
// faster wave is at least 5, far from the zero of nu where the split's terms
// would grow like 1/nu.
constexpr double PSV_SPLIT_DX = 5.0;

// --- kernel of the stable solve, in double precision ------------------------
//
// Glossary (0-based, row-major matrices):
//   k        horizontal wavenumber, common to all layers
//   nu_a     vertical wavenumber of P waves in a layer, Re >= 0; nu_b of S waves
//   x = h nu exponent of a layer: a wave grows by exp(Re x) across it
//   sigma    growth factor of a layer matrix, exp(sigma) with sigma = max Re x,
//            kept apart from the matrix so that neither overflows
//   s        traction scale rho_h |VS_h| w
//   state    (u, w/i, shear traction / s, normal traction / (i s)) at a plane
//   Y        4x2: the two surface solutions with zero traction, (1,0,0,0) and
//            (0,1,0,0) at the surface, carried down (orthonormalised)
//   K3, K4   rows 3 and 4 of the half-space matrix E G: up-going P and S
//            amplitudes of a state at the top of the half-space
namespace psv {

// Complex double with inline arithmetic: GCC's std::complex product and
// quotient call library routines that handle infinities; here no operand is
// infinite, and these run in the hot loops.
struct Cx {
  double re = 0.0;
  double im = 0.0;
};

constexpr Cx operator+(Cx a, Cx b) { return {a.re + b.re, a.im + b.im}; }
constexpr Cx operator-(Cx a, Cx b) { return {a.re - b.re, a.im - b.im}; }
constexpr Cx operator-(Cx a) { return {-a.re, -a.im}; }
constexpr Cx operator*(Cx a, Cx b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
constexpr Cx operator*(double s, Cx a) { return {s * a.re, s * a.im}; }
constexpr Cx mul_i(Cx a) { return {-a.im, a.re}; }
constexpr Cx mul_minus_i(Cx a) { return {a.im, -a.re}; }
constexpr double norm2(Cx a) { return a.re * a.re + a.im * a.im; }
// conj(a) * b
constexpr Cx conj_mul(Cx a, Cx b) { return {a.re * b.re + a.im * b.im, a.re * b.im - a.im * b.re}; }
inline Cx to_cx(cfloat z) { return {double(z.real()), double(z.imag())}; }
inline Cx to_cx(cdouble z) { return {z.real(), z.imag()}; }
inline cdouble to_cdouble(Cx z) { return {z.re, z.im}; }

// a / b: through |b|^2 where that is safely inside the double range, else by
// Smith's scaling.
Cx div(Cx a, Cx b);

// Principal square root with the program's branch rule (csqrt_branch): a
// negative real argument with a zero imaginary part of either sign gives
// +i sqrt(x).
Cx sqrt_branch(Cx z);

using Mat4 = std::array<Cx, 16>;
using Mat42 = std::array<Cx, 8>;

// Y <- A Y for a 4x2 Y.
void apply(const Mat4& A, Mat42& Y);

// Multiplies Y by a power of two that brings its largest component near 1
// when it has left [2^-400, 2^400]; adds the natural log of the factor
// removed to lg. A zero or non-finite Y is left alone.
void rescale(Mat42& Y, double& lg);

// Wave quantities of one layer at one frequency that do not depend on its
// thickness.
struct LayerWaves {
  Cx mu;    // damped shear modulus rho beta^2
  Cx nu_a;  // vertical wavenumbers, principal roots
  Cx nu_b;
  Cx gam;   // nu_b^2 + k^2
  Cx c1;    // mu c0
  double c0 = 0.0;  // 1 / (w^2 rho)
};

// The wave quantities from the damped shear modulus mu, the squared
// slownesses sa2 = 1/alpha^2 and sb2 = 1/beta^2 of the damped P and S
// velocities, c0 = 1/(w^2 rho), w2 = w^2 and k2 = k^2:
// nu = sqrt(k^2 - w^2 / v^2) (principal roots). Nothing is checked.
LayerWaves layer_waves(Cx mu, Cx sa2, Cx sb2, double c0, double w2, Cx k2);

// Rows 3 and 4 of the half-space matrix, traction columns multiplied by s.
struct HalfspaceRows {
  Cx k;      // horizontal wavenumber
  double s;  // traction scale rho_h |beta_h| w (1 where that is not a positive finite number)
  std::array<Cx, 4> K3;
  std::array<Cx, 4> K4;
};

// The half-space rows at angular frequency omega for an incident P wave (sv
// false) or SV wave (sv true) at the angle whose sine and cosine are given,
// in a half-space of velocities beta_h, alpha_h (complex: a damped
// half-space) and density rho_h. k = omega sin / v_inc; the vertical
// wavenumber of the incident wave type is -i omega cos / v_inc, that of the
// other -i omega c / v_other, c being the half-space root the caller chose
// (sqrt(1 - (sin v_other / v_inc)^2), with the sign that makes Re nu >= 0).
// Every entry is a product of three wavenumbers and a factor ~ 1/omega^3, so
// the rows do not depend on omega. Not checked: c = 0 (divides by zero).
HalfspaceRows halfspace_rows(Cx beta_h, Cx alpha_h, double rho_h, bool sv, double sin_t,
                             double cos_t, Cx c, double omega);

// One layer of the stable propagation: A Q = Q' R diag(exp(lg1), exp(lg2))
// T^-1, with R = [[r11, r12], [0, r22]] and T = [e_j, t] the change of basis
// that sets the faster wave's column apart (T = I for a plain product).
struct Step {
  Cx r12;
  double r11 = 1.0;
  double r22 = 1.0;
  double lg1 = 0.0;
  double lg2 = 0.0;
  int j = 0;
  std::array<Cx, 2> t{Cx{0.0, 0.0}, Cx{1.0, 0.0}};
};

// Carries the orthonormal basis Y (scaled states at the top of a layer of
// thickness h with waves L) to the layer's bottom and orthonormalises it
// again; returns the step for the way back. Where the layer's
// |X_S - X_P| = h |Re nu_b - Re nu_a| exceeds PSV_SPLIT_DX the matrix is
// split (the faster wave's rank-one part and the rest, each with its own
// growth), otherwise one product with the layer matrix.
Step stable_step(const LayerWaves& L, Cx k, Cx k2, double h, double s, Mat42& Y);

// Solves (K Y) c = t for the 2x2 K Y; t = (1, 0) for an incident P wave (sv
// false), (0, 1) for SV. The surface state (u, w/i) is then Y c. A singular
// K Y gives non-finite coefficients.
std::array<Cx, 2> surface_coefficients(const std::array<Cx, 4>& K3, const std::array<Cx, 4>& K4,
                                       const Mat42& Y, bool sv);

// One layer back up: from A Q = Q' R T^-1, the coefficients c' of the
// solution in the basis Q' below the layer give c = T R^-1 c' in Q above it.
// cv holds the coefficients in rows 0 and 1 of its column 0 (elements 0 and
// 2), times exp(lc); both are updated, cv rescaled to stay near 1.
void back_step(const Step& st, Mat42& cv, double& lc);

}  // namespace psv

}  // namespace velmar::detail
