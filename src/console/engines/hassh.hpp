#pragma once
#include "console/engines/layer_table.hpp"

namespace velmar::console {

// SH response of the layered model at one frequency (layer-matrix method).
//
// A plane SH wave of unit amplitude arrives from the half-space at ANGLE from
// the vertical. Each layer n carries (displacement, shear stress) from its top
// to its bottom by
//   A_n = [ cos(nu h)  sin(nu h)/(mu nu) ; -mu nu sin(nu h)  cos(nu h) ],
// with the damped velocity V = VSC/(1 + i d) (exp(-i w t); 1 - i d for
// exp(+i w t)), d = 0.5/QS, or 0.5/(QS F) when IQF = 2, mu = RHO V^2,
// nu = sqrt((w/V)^2 - kx^2) with Im nu >= 0, and kx the horizontal wavenumber set
// by the undamped half-space. The free surface (stress 0) and the radiation
// condition in the half-space give
//   USH[0] = 2 cos(ANGAZ) / (M11 + i M21/(muh kz))      (ISGNT = -1; "-" for +1)
// with M = A_N ... A_1, so a bare half-space gives 2 cos(ANGAZ). ISGNT = +1
// yields the complex conjugate of ISGNT = -1. The matrices are formed in double
// precision with their exponential growth carried apart, so a valid model gives
// finite values at any frequency; values below the float range are stored as
// zero or subnormal.
//
// @param[in]    table  the model; read only. Entries 0..NLAYER-1 are the layers
//                      (THICK, RHO, VSC, QS used), entry NLAYER the half-space
//                      (RHO, VSC used); IQF selects the damping law
// @param[in]    ANGAZ  projection angle, degrees; results are multiplied by cos(ANGAZ);
//                      |cos| < 0.001 returns at once, writing nothing (F included)
// @param[in]    ANGLE  incidence angle in the half-space, degrees from the vertical
// @param[inout] F      frequency (cycles per time unit of the velocities); an exact
//                      0.0 is replaced by 1.0e-6 in the caller's variable and used so
// @param[in]    ISGNT  sign of the time factor: +1 for exp(+i w t); any other value
//                      is taken as -1, exp(-i w t)
// @param[in]    IPROF  0 = surface only (USH[0], TSH[0]); otherwise entries
//                      0..NLAYER (USH[k-1] at the top of table entry k)
// @param[out]   USH    displacement per unit incident amplitude
// @param[out]   TSH    shear stress at the same depths (TSH[0] = 0)
// Entries above NLAYER are never touched. Not checked (caller's preconditions):
// 0 <= NLAYER <= 49, THICK > 0 and QS != 0 in every layer, VSC and RHO of the
// half-space non-zero, ANGLE away from 90 degrees (kz = 0).
// Allocates nothing; the layer matrices of the call serve the profile as well.
void HASSH(const LayerTable& table, float ANGAZ, float ANGLE, float& F, int ISGNT,
           int IPROF, ResponseArray& USH, ResponseArray& TSH);

}  // namespace velmar::console
