// psv_solve.hpp: the P-SV response with an explicit choice of the free-surface
// solve, for the tests and the benchmark. HASPSV calls it with AUTO.
#pragma once

#include "layers/layer_table.hpp"

namespace velmar {

// How the free-surface conditions are solved.
//   LITERAL  the two surface solutions are carried down as plain matrix
//            products and the 2x2 system of the half-space rows is solved by
//            Cramer's rule. Exact in exact arithmetic; in floating point the
//            determinant cancels by about exp(X_S - X_P), X_S and X_P being the
//            summed attenuation exponents Re(h nu) of the S and P waves.
//   STABLE   the two surface solutions are re-orthonormalised after every
//            layer (and after sub-steps of a layer whose S and P exponents
//            differ by much), so their span never collapses onto the fastest
//            growing wave; the surface values and the depth profile come back
//            up by back-substitution.
//   AUTO     LITERAL where exp(X_S - X_P) costs no significant digit of a
//            float result, STABLE elsewhere.
enum class PsvSolve { AUTO, LITERAL, STABLE };

// HASPSV with the solve chosen by the caller; arguments as for HASPSV.
void haspsv_solve(const LayerTable& table, int ITYPE, float ANGAZ, float ANGLE, float& F,
                  int IPROF, ResponseArray& UPS, ResponseArray& WPS, PsvSolve solve);

}  // namespace velmar
