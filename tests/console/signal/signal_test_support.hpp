// signal_test_support.hpp: references and plans shared by the signal tests.
#pragma once

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <limits>
#include <random>
#include <vector>

#include "console/signal/fft_setup.hpp"

namespace velmar::test {

using namespace console;

using CLD = std::complex<long double>;

// Float epsilon as a double: tolerances are computed and compared in double.
constexpr double EPS = std::numeric_limits<float>::epsilon();

// True when n >= 1 has no prime factor other than 2, 3 and 5 (trial division).
inline bool is_235(long long n) {
  if (n < 1) return false;
  for (long long p : {2LL, 3LL, 5LL}) {
    while (n % p == 0) n /= p;
  }
  return n == 1;
}

// exp(sign 2 pi i m / n) in long double, m reduced modulo n first so that the
// angle stays small and exact.
inline CLD root(long long m, long long n, int sign) {
  const long double PI_L = 3.141592653589793238462643383279502884L;
  const long long r = ((m % n) + n) % n;
  const long double a = 2.0L * PI_L * static_cast<long double>(r) / static_cast<long double>(n);
  return {std::cos(a), sign * std::sin(a)};
}

// The n roots exp(sign 2 pi i m / n), m = 0..n-1, in long double.
inline std::vector<CLD> roots(long long n, int sign) {
  std::vector<CLD> w(static_cast<std::size_t>(n));
  for (long long m = 0; m < n; ++m) w[static_cast<std::size_t>(m)] = root(m, n, sign);
  return w;
}

// One bin of the direct sum X_k = sum_j x_j exp(sign 2 pi i j k / n), long double.
inline CLD direct_bin(const std::vector<CLD>& x, const std::vector<CLD>& w, long long k) {
  const long long n = static_cast<long long>(x.size());
  long double sr = 0, si = 0;  // written out: complex<long double>::operator* is slow
  for (long long j = 0; j < n; ++j) {
    const CLD& a = x[static_cast<std::size_t>(j)];
    const CLD& b = w[static_cast<std::size_t>((j * k) % n)];
    sr += a.real() * b.real() - a.imag() * b.imag();
    si += a.real() * b.imag() + a.imag() * b.real();
  }
  return {sr, si};
}

// Every bin of the direct sum.
inline std::vector<CLD> direct_dft(const std::vector<CLD>& x, int sign) {
  const long long n = static_cast<long long>(x.size());
  const std::vector<CLD> w = roots(n, sign);
  std::vector<CLD> X(x.size());
  for (long long k = 0; k < n; ++k) X[static_cast<std::size_t>(k)] = direct_bin(x, w, k);
  return X;
}

// Trig table and factor list of one length, made by the routine under test.
struct Plan {
  int N;
  std::vector<float> TRIG;
  std::array<int, MAX_FACTORS> LFAC{};
  explicit Plan(int n) : N(n), TRIG(2 * static_cast<std::size_t>(n)) { CFTFAX(N, LFAC, TRIG); }
};

// Uniform random floats in [-1, 1), reproducible from the seed.
inline std::vector<float> random_floats(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (float& x : v) x = dist(gen);
  return v;
}

// Root mean square of |a_k - b_k| and of |b_k|.
struct RmsPair {
  long double err;
  long double ref;
};
template <class A>
RmsPair rms_difference(const A& re, const A& im, const std::vector<CLD>& ref) {
  long double e = 0, r = 0;
  for (std::size_t k = 0; k < ref.size(); ++k) {
    const CLD d = CLD(re[k], im[k]) - ref[k];
    e += std::norm(d);
    r += std::norm(ref[k]);
  }
  const long double n = static_cast<long double>(ref.size());
  return {std::sqrt(e / n), std::sqrt(r / n)};
}

}  // namespace velmar::test
