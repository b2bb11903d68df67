// sh_reference.hpp: a plain long-double SH response for the tests: the state
// (u, tau) carried down with unscaled layer matrices and the library sine and
// cosine, for models small enough that nothing overflows.
#pragma once

#include <cmath>
#include <complex>
#include <vector>

#include "velmar/profile.hpp"

namespace velmar::test {

using cld = std::complex<long double>;

struct ShReference {
  cld u, strain, stress;
};

// u, du/dz and M* du/dz per unit incident displacement at depth z, frequency
// f > 0, angle theta (degrees), with the damping law's complex moduli.
inline ShReference sh_reference(const Profile& p, double f, double z, double angle, DampingLaw law) {
  const std::size_t N = p.layers();
  const long double w = 2.0L * 3.141592653589793238462643383279502884L * f;
  std::vector<cld> M(N + 1), nu(N + 1);
  const cld vh = cld(complex_velocity(p.vs()[N], p.damping_s()[N], law));
  const long double th = angle * 3.141592653589793238462643383279502884L / 180.0L;
  const cld kx = std::sin(th) * w / vh;
  for (std::size_t n = 0; n <= N; ++n) {
    const double vs = p.vs()[n];
    M[n] = cld(complex_modulus(p.density()[n] * vs * vs, p.damping_s()[n], law));
    const cld v = cld(complex_velocity(vs, p.damping_s()[n], law));
    nu[n] = std::sqrt((w / v) * (w / v) - kx * kx);
    if (nu[n].imag() < 0) nu[n] = -nu[n];
  }
  nu[N] = std::cos(th) * w / vh;
  // Matrix [cos, sin/(M nu); -M nu sin, cos] of thickness h in entry n.
  const auto step = [&](std::size_t n, long double h, cld& u, cld& t) {
    const cld zz = nu[n] * h;
    const cld a12 = std::abs(nu[n]) == 0 ? cld(h) / M[n] : std::sin(zz) / (M[n] * nu[n]);
    const cld u2 = std::cos(zz) * u + a12 * t;
    t = -M[n] * nu[n] * std::sin(zz) * u + std::cos(zz) * t;
    u = u2;
  };
  cld u = 1, t = 0;
  cld zu = 0, zt = 0;
  bool got = false;
  long double top = 0;
  for (std::size_t n = 0; n <= N; ++n) {
    const long double h = n < N ? p.thickness()[n] : 0.0L;
    if (!got && (n == N || z < top + h)) {
      zu = u, zt = t;
      step(n, z - top, zu, zt);
      got = true;
    }
    if (n == N) break;
    step(n, h, u, t);
    top += h;
  }
  const cld u0 = 2.0L / (u + cld(0, 1) * t / (M[N] * nu[N]));
  const std::size_t e = p.entry_at(z);
  return {u0 * zu, u0 * zt / M[e], u0 * zt};
}

}  // namespace velmar::test
