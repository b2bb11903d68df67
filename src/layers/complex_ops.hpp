// complex_ops.hpp: complex operations whose branch or algorithm matters to the
// response routines, and the plain products they are built from. Templates,
// so the same rule serves float and double.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <type_traits>

namespace velmar::detail {

// Principal square root with this program's branch rule: the real part is >= 0;
// for a negative real argument the imaginary part of the root is positive
// whatever the sign bit of the argument's zero imaginary part, so sqrt(-x - 0i)
// is +i*sqrt(x). (std::sqrt follows the sign of a signed zero and would give
// -i*sqrt(x), which turns a decaying wave into a growing one.)
template <typename T>
std::complex<T> csqrt_branch(std::complex<T> z) {
  if (z.imag() == T(0)) {
    if (z.real() >= T(0)) return {std::sqrt(z.real()), T(0)};
    return {T(0), std::sqrt(-z.real())};
  }
  return std::sqrt(z);
}

// Quotient a/b computed by Smith's scaling: divide through by the component of
// b with the larger magnitude first, so that no intermediate overflows where
// the quotient itself is representable.
template <typename T>
std::complex<T> cdiv(std::complex<T> a, std::complex<T> b) {
  const T br = b.real();
  const T bi = b.imag();
  if (std::abs(br) >= std::abs(bi)) {
    const T r = bi / br;
    const T d = br + bi * r;
    return {(a.real() + a.imag() * r) / d, (a.imag() - a.real() * r) / d};
  }
  const T r = br / bi;
  const T d = br * r + bi;
  return {(a.real() * r + a.imag()) / d, (a.imag() * r - a.real()) / d};
}

// a * b written out in real arithmetic. std::complex's operator* checks for
// infinities and NaN and may call a library routine (__muldc3), which is slow
// and blocks scheduling; the response routines' operands are finite by
// construction (a non-finite one gives NaN here, which they detect).
template <typename T>
std::complex<T> cmul(std::complex<T> a, std::complex<T> b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// a * s for a real s, in real arithmetic.
template <typename T>
std::complex<T> cscale(std::complex<T> a, std::type_identity_t<T> s) {
  return {a.real() * s, a.imag() * s};
}

// 1/b with a single division, through conj(b)/|b|^2 where |b|^2 is a normal
// number; otherwise Smith's scaled quotient (cdiv). Divisions dominate the
// cost of a layer step, so the layer quantities are built from reciprocals
// and products.
template <typename T>
std::complex<T> crecip(std::complex<T> b) {
  const T m = b.real() * b.real() + b.imag() * b.imag();
  if (m >= std::numeric_limits<T>::min() && m <= std::numeric_limits<T>::max()) {
    const T inv = T(1) / m;
    return {b.real() * inv, -b.imag() * inv};
  }
  return cdiv(std::complex<T>{T(1), T(0)}, b);
}

// The square root of q with the non-negative imaginary part: the vertical
// wavenumber of a wave that decays away from where it is excited. Written out
// in real arithmetic (std::sqrt on a complex calls csqrt and hypot, which cost
// more than the rest of a layer step); where |q|^2 leaves the normal range it
// falls back to csqrt_branch. Of the two roots, the one with Im > 0; for a
// real q >= 0 the one with Re >= 0 (its imaginary part a zero with the sign of
// q's). q = 0 gives 0.
template <typename T>
std::complex<T> csqrt_decaying(std::complex<T> q) {
  const T x = q.real();
  const T y = q.imag();
  const T m2 = x * x + y * y;
  if (!(m2 >= std::numeric_limits<T>::min() && m2 <= std::numeric_limits<T>::max())) {
    if (x == T(0) && y == T(0)) return {T(0), T(0)};
    const std::complex<T> nu = csqrt_branch(q);
    return nu.imag() < T(0) ? -nu : nu;
  }
  const T t = std::sqrt(T(0.5) * (std::abs(x) + std::sqrt(m2)));
  const T s = y / (T(2) * t);
  if (x < T(0)) return {s, t};
  return y < T(0) ? std::complex<T>{-t, -s} : std::complex<T>{t, s};
}

}  // namespace velmar::detail
