// poly_math.hpp: elementary functions as straight-line polynomial code, for
// the block loops of the response sweeps. Plain double arithmetic with no
// calls and no branches, so the compiler vectorises a loop that uses them.
// Each states the argument range it is accurate on and the error bound that
// tests/layers/poly_math_test.cpp checks against long double over that whole
// range (a dense sweep and random points); callers keep their arguments
// inside the range (or hand the case to the library functions).
//
// Two families, one per sweep:
//   sincos_poly, half_exp_poly   sh_sweep: minimax sine and cosine; e^x / 2
//                                for x <= 0 (the decaying wave's factor)
//   sincos_taylor, expm1_poly    psv_sweep: Taylor sine and cosine with a
//                                three-part reduction; e^x - 1 for x >= 0,
//                                relative accuracy kept near 0 (the
//                                hyperbolic terms are formed from it without
//                                cancellation)
// The exponentials answer different questions and both are needed. The two
// sine-cosine pairs are interchangeable in accuracy; each sweep keeps its own
// so that its results stay the same bits as those its tests and the example
// outputs were verified with.
#pragma once

#include <bit>
#include <cstdint>

#include "common/platform.hpp"

namespace velmar::detail::poly {

inline std::uint64_t bits_of(double v) { return std::bit_cast<std::uint64_t>(v); }
inline double from_bits(std::uint64_t b) { return std::bit_cast<double>(b); }

// Adding 1.5 * 2^52 rounds a double below 2^51 in magnitude to the nearest
// integer k, which then stands in the low bits of the sum (as 2^51 + k).
constexpr double ROUND_MAGIC = 0x1.8p52;

// pi/2 as a 33-bit head and the rest: k * PIO2_HI is exact for |k| < 2^20.
constexpr double TWO_OVER_PI = 6.36619772367581382433e-01;
constexpr double PIO2_HI = 1.57079632673412561417e+00;
constexpr double PIO2_LO = 6.07710050650619224932e-11;
// Frequencies with a phase beyond this are left to HASSH.
constexpr double SINCOS_LIMIT = 0x1p19 * 1.5707963267948966;

// Minimax polynomials of sin and cos on [-pi/4, pi/4]: the coefficient sets
// of fdlibm's sine and cosine kernels (Sun Microsystems, 1993), in z = r^2.
// With the reduction below, sin and cos up to SINCOS_LIMIT agree with a
// long-double evaluation to SINCOS_POLY_ERROR absolute (measured worst case
// 1.71e-16).
constexpr double SINCOS_POLY_ERROR = 2.5e-16;
constexpr double S1 = -1.66666666666666324348e-01, S2 = 8.33333333332248946124e-03,
                 S3 = -1.98412698298579493134e-04, S4 = 2.75573137070700676789e-06,
                 S5 = -2.50507602534068634195e-08, S6 = 1.58969099521155010221e-10;
constexpr double C1 = 4.16666666666666019037e-02, C2 = -1.38888888888741095749e-03,
                 C3 = 2.48015872894767294178e-05, C4 = -2.75573143513906633035e-07,
                 C5 = 2.08757232129817482790e-09, C6 = -1.13596475577881948265e-11;

struct SinCos {
  double s;
  double c;
};

// sin x and cos x for |x| <= SINCOS_LIMIT: x = k pi/2 + r with |r| <= pi/4,
// then the quadrant k mod 4 swaps and negates by bit operations, without a
// branch.
inline SinCos sincos_poly(double x) {
  const double t = x * TWO_OVER_PI + ROUND_MAGIC;
  const std::uint64_t q = bits_of(t);
  const double k = t - ROUND_MAGIC;
  const double r = (x - k * PIO2_HI) - k * PIO2_LO;
  // Both polynomials in z = r^2 by Estrin's scheme: short dependency chains.
  const double z = r * r;
  const double z2 = z * z;
  const double z4 = z2 * z2;
  const double ps = ((S1 + z * S2) + z2 * (S3 + z * S4)) + z4 * (S5 + z * S6);
  const double pc = ((C1 + z * C2) + z2 * (C3 + z * C4)) + z4 * (C5 + z * C6);
  const double s = r + (r * z) * ps;
  const double c = (1.0 - 0.5 * z) + z2 * pc;
  const std::uint64_t swap = std::uint64_t{0} - (q & 1);  // all ones for odd k
  const std::uint64_t sb = (bits_of(s) & ~swap) | (bits_of(c) & swap);
  const std::uint64_t cb = (bits_of(c) & ~swap) | (bits_of(s) & swap);
  return {from_bits(sb ^ ((q & 2) << 62)), from_bits(cb ^ (((q + 1) & 2) << 62))};
}

// ln 2 as a head with 21 trailing zero bits and the rest.
constexpr double INV_LN2 = 1.44269504088896338700e+00;
constexpr double LN2_HI = 6.93147180369123816490e-01;
constexpr double LN2_LO = 1.90821492927058770002e-10;
// Arguments of half_exp_poly are kept at or above this (e^-700 is already
// negligible beside 1, and 2^k stays a normal double).
constexpr double EXP_FLOOR = -700.0;

// e^x / 2 for EXP_FLOOR <= x <= 0: x = k ln 2 + r with |r| <= ln2/2, e^r from
// its Taylor series to r^11 (the first omitted term, r^12/12!, is at most
// 3.3e-16 of e^r) by Estrin's scheme, and 2^(k-1) built in the exponent bits.
// Agrees with a long-double evaluation to HALF_EXP_POLY_ERROR relative
// (measured worst case 8.74e-15, nearly all of it the omitted term).
constexpr double HALF_EXP_POLY_ERROR = 1e-14;
inline double half_exp_poly(double x) {
  const double t = x * INV_LN2 + ROUND_MAGIC;
  const double k = t - ROUND_MAGIC;
  const double r = (x - k * LN2_HI) - k * LN2_LO;
  constexpr double F2 = 1.0 / 2, F3 = F2 / 3, F4 = F3 / 4, F5 = F4 / 5, F6 = F5 / 6, F7 = F6 / 7,
                   F8 = F7 / 8, F9 = F8 / 9, F10 = F9 / 10, F11 = F10 / 11;
  const double r2 = r * r;
  const double r4 = r2 * r2;
  const double r8 = r4 * r4;
  const double q = (((F2 + r * F3) + r2 * (F4 + r * F5)) + r4 * ((F6 + r * F7) + r2 * (F8 + r * F9))) +
                   r8 * (F10 + r * F11);
  const std::uint64_t ki = bits_of(t) - bits_of(ROUND_MAGIC);  // k mod 2^64
  const double half_scale = from_bits((ki + 1022) << 52);     // 2^(k-1)
  return half_scale + half_scale * (r + r2 * q);
}

// The rest of pi/2 after PIO2_HI in two further parts, for the three-part
// reduction of sincos_taylor (the middle part with 33 significant bits, so
// k * PIO2_MID is exact too).
constexpr double PIO2_MID = 0x1.0b4611a6p-34;
constexpr double PIO2_TAIL = 0x1.3198a2e037073p-69;
// Largest |x| sincos_taylor takes, and largest x expm1_poly takes.
constexpr double MAX_PHASE = 0x1p20;
constexpr double EXPM1_LIMIT = 700.0;

// 1/n! for the Taylor polynomials.
constexpr double inv_factorial(int n) {
  double f = 1.0;
  for (int k = 2; k <= n; ++k) f *= k;
  return 1.0 / f;
}

// The integer k that x + ROUND_MAGIC = t rounded to, as two's complement bits.
inline std::uint64_t rounded_bits(double t) { return bits_of(t) - bits_of(ROUND_MAGIC); }

// e^x - 1 for 0 <= x <= EXPM1_LIMIT: x = n ln 2 + r, |r| <= ln2/2, e^r - 1 by
// its Taylor series to r^11 by Horner's scheme (the first omitted term,
// r^12/12!, is up to 2.1e-14 of |e^r - 1|, at r = -ln2/2), then
// 2^n (e^r - 1) + (2^n - 1), which keeps the relative accuracy for small x.
// Agrees with a long-double evaluation to EXPM1_POLY_ERROR relative (measured
// worst case 2.95e-14, just above x = ln2/2, where n = 1 and r near -ln2/2
// give 2 (e^r - 1) + 1 with a little cancellation).
constexpr double EXPM1_POLY_ERROR = 3.5e-14;
inline double expm1_poly(double x) {
  const double t = x * INV_LN2 + ROUND_MAGIC;
  const double n = t - ROUND_MAGIC;
  const double r = (x - n * LN2_HI) - n * LN2_LO;
  double p = inv_factorial(11);
  VELMAR_UNROLL16
  for (int k = 10; k >= 1; --k) p = p * r + inv_factorial(k);
  const double scale = from_bits((rounded_bits(t) + 1023u) << 52);
  return scale * (p * r) + (scale - 1.0);
}

// sin x and cos x for |x| <= MAX_PHASE: x = n pi/2 + r, |r| <= pi/4, with
// pi/2 in three parts; Taylor series to r^13 and r^14 by Horner's scheme (the
// first omitted terms, r^15/15! and r^16/16!, are at most 2.04e-14 and 1.0e-15),
// then the quadrant n mod 4 swaps and negates by bit operations. Agrees with a
// long-double evaluation to SINCOS_TAYLOR_ERROR absolute (measured worst case
// 2.05e-14, the omitted sine term at |r| = pi/4). Ample for the float results
// of the sweep, which need 1e-7.
constexpr double SINCOS_TAYLOR_ERROR = 2.5e-14;
inline void sincos_taylor(double x, double& s, double& c) {
  const double t = x * TWO_OVER_PI + ROUND_MAGIC;
  const double n = t - ROUND_MAGIC;
  const double r = ((x - n * PIO2_HI) - n * PIO2_MID) - n * PIO2_TAIL;
  const double r2 = r * r;
  double ps = inv_factorial(13);
  double pc = -inv_factorial(14);
  VELMAR_UNROLL16
  for (int k = 11; k >= 1; k -= 2) {
    const double sign = (k % 4 == 1) ? 1.0 : -1.0;  // of r^k in sin, of r^(k+1) in cos the opposite
    ps = ps * r2 + sign * inv_factorial(k);
    pc = pc * r2 - sign * inv_factorial(k + 1);
  }
  ps *= r;
  pc = pc * r2 + 1.0;  // the loop ends with the r^2 term's -1/2
  const std::uint64_t q = rounded_bits(t);
  const std::uint64_t swap = 0u - (q & 1u);
  const std::uint64_t bs = bits_of(ps);
  const std::uint64_t bc = bits_of(pc);
  s = from_bits(((bs & ~swap) | (bc & swap)) ^ ((q & 2u) << 62));
  c = from_bits(((bc & ~swap) | (bs & swap)) ^ (((q + 1u) & 2u) << 62));
}

}  // namespace velmar::detail::poly
