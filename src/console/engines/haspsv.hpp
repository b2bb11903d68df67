#pragma once
#include "console/engines/layer_table.hpp"

namespace velmar::console {

// P-SV response of the layered model at one frequency (4x4 layer-matrix method).
//
// State vector at a horizontal plane, for fields varying as exp(i k x) with the
// time factor exp(-i w t): (u, w/i, shear traction, normal traction / i), u the
// horizontal and w the vertical displacement. Layer m carries it from its top
// to its bottom; the half-space rows turn it into up-going wave amplitudes, and
// zero traction at the surface with a unit incident wave fixes (u, w) there.
// Results are per unit displacement amplitude of the incident wave: a bare
// half-space at vertical incidence gives WPS[0] = -2 (P) or UPS[0] = 2 (SV).
//
// Layer matrices and the propagation are computed in double precision, each
// layer matrix with its growth factor exp(max Re(h nu)) carried apart, so the
// results stay finite for thick, soft, strongly damped layers; the surface solve
// keeps its accuracy where S waves are attenuated far more than P waves (see
// layers/psv_solve.hpp). Results are rounded once to float.
//
// @param[in]    table  the model; read only. Entries 0..NLAYER-1 are the layers,
//                      entry NLAYER the half-space (RHO, VSC, VPC only)
// @param[in]    ITYPE  1 = incident P wave, 2 = incident SV wave (others: P)
// @param[in]    ANGAZ  projection angle, degrees; results are multiplied by sin(ANGAZ);
//                      |sin| < 0.001 returns at once, writing nothing (not even F)
// @param[in]    ANGLE  incidence angle in the half-space, degrees from the vertical
// @param[inout] F      frequency; an exact 0.0 is replaced by 1.0e-6 here and used so
// @param[in]    IPROF  0 = surface only (UPS[0], WPS[0]; entries 1.. untouched);
//                      otherwise entries 0..NLAYER (element k = top of table entry k+1)
// @param[out]   UPS    horizontal displacement
// @param[out]   WPS    vertical displacement at the same depths
// Not checked here (the deck reader refuses them): ITYPE > 2, |ANGLE| >= 90, an SV
// wave at the critical angle (psv_halfspace_root() == 0), VP <= VS, THICK, RHO,
// VS, QS or QP not above 0, NLAYER outside 0..49. Within those limits every
// result is finite.
void HASPSV(const LayerTable& table, int ITYPE, float ANGAZ, float ANGLE, float& F,
            int IPROF, ResponseArray& UPS, ResponseArray& WPS);

// |c|, c = sqrt(1 - (sin(ANGLE) * v1 / v2)^2) the half-space root HASPSV forms
// for the vertical wavenumber of the wave type not incident (v1/v2 = VP/VS for
// ITYPE 2, VS/VP otherwise), computed in single precision exactly as HASPSV
// does. HASPSV divides by c: the driver refuses a deck for which this is 0 (an
// SV wave at exactly the critical angle).
float psv_halfspace_root(const LayerTable& table, int ITYPE, float ANGLE);

}  // namespace velmar::console
