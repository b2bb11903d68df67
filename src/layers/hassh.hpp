#pragma once
#include "layers/layer_table.hpp"

namespace velmar {

// SH response of the layered model at one frequency (layer-matrix method).
// @param[in]    table  the model; read only
// @param[in]    ANGAZ  projection angle, degrees; results are multiplied by cos(ANGAZ);
//                      |cos| < 0.001 returns at once, writing nothing
// @param[in]    ANGLE  incidence angle in the half-space, degrees from the vertical
// @param[inout] F      frequency; an exact 0.0 is replaced by 1.0e-6 here and used so
// @param[in]    ISGNT  sign of the time factor: -1 for exp(-i w t), +1 for exp(+i w t)
// @param[in]    IPROF  0 = surface only (USH[0], TSH[0]); otherwise entries 0..NLAYER
// @param[out]   USH    displacement per unit incident amplitude (bare half-space: 2)
// @param[out]   TSH    shear stress at the same depths (TSH[0] = 0)
void HASSH(const LayerTable& table, float ANGAZ, float ANGLE, float& F, int ISGNT,
           int IPROF, ResponseArray& USH, ResponseArray& TSH);

}  // namespace velmar
