#pragma once
#include "layers/layer_table.hpp"

namespace velmar {

// P-SV response of the layered model at one frequency (4x4 layer-matrix method).
// @param[in]    table  the model; read only
// @param[in]    ITYPE  1 = incident P wave, 2 = incident SV wave
// @param[in]    ANGAZ  projection angle, degrees; results are multiplied by sin(ANGAZ);
//                      |sin| < 0.001 returns at once, writing nothing
// @param[in]    ANGLE  incidence angle in the half-space, degrees from the vertical
// @param[inout] F      frequency; an exact 0.0 is replaced by 1.0e-6 here and used so
// @param[in]    IPROF  0 = surface only (UPS[0], WPS[0]); otherwise entries 0..NLAYER
// @param[out]   UPS    horizontal displacement per unit incident amplitude
// @param[out]   WPS    vertical displacement at the same depths
void HASPSV(const LayerTable& table, int ITYPE, float ANGAZ, float ANGLE, float& F,
            int IPROF, ResponseArray& UPS, ResponseArray& WPS);

}  // namespace velmar
