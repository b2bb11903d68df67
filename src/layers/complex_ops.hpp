// complex_ops.hpp: complex operations whose branch or algorithm matters to the
// response routines. Templates, so the same rule serves float and double.
#pragma once

#include <cmath>
#include <complex>

namespace velmar {

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

}  // namespace velmar
