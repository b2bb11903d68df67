// damping.hpp: the damping law of the layer table, one home for the routines
// that form damped velocities and slownesses.
//
// A layer with quality factor Q damps a wave through a complex velocity
//   V_damped = V / (1 + i d),  d = 0.5 / Q            (constant Q, IQF != 2)
//                              d = 0.5 / (Q F)        (Q proportional to the
//                                                      frequency F, IQF = 2)
// for the time factor exp(-i w t); exp(+i w t) takes -d. d is the damping
// ratio (Q = 1 / (2 d)). The damped slowness is (1 + i d) / V, the damped
// shear modulus RHO V_damped^2.
#pragma once

#include <complex>

#include "layers/complex_ops.hpp"

namespace velmar::console {

using namespace detail;  // the shared kernels

// The IQF value of a quality factor proportional to the frequency.
constexpr int IQF_PROPORTIONAL = 2;

// d = 0.5 / (Q F): the damping ratio of a quality factor proportional to the
// frequency. Plain arithmetic, so the sweeps' lane loops use it too.
inline double proportional_damping_ratio(double Q, double F) { return 0.5 / (Q * F); }

// d of the damping law IQF for quality factor Q at frequency F (F is used only
// when IQF = 2). Not checked: Q != 0, and F != 0 when IQF = 2.
inline double damping_ratio(int IQF, double Q, double F) {
  return IQF == IQF_PROPORTIONAL ? proportional_damping_ratio(Q, F) : 0.5 / Q;
}

// V / (1 + i d), formed as V (1 - i d) / (1 + d^2).
inline std::complex<double> damped_velocity(std::complex<double> V, double d) {
  const double inv_g2 = 1.0 / (1.0 + d * d);
  return cmul(V, std::complex<double>{inv_g2, -d * inv_g2});
}

// (1 + i d) / V, the damped slowness.
inline std::complex<double> damped_slowness(std::complex<double> V, double d) {
  return cmul(std::complex<double>{1.0, d}, crecip(V));
}

}  // namespace velmar::console
