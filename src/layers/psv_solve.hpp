// psv_solve.hpp: the P-SV response with an explicit choice of the free-surface
// solve, for the tests and the benchmark (HASPSV calls it with AUTO), and the
// pieces of HASPSV that psv_sweep shares: the quantities at unit angular
// frequency and the surface solve.
#pragma once

#include <array>

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

// AUTO takes the literal solve up to this sum of the layers' |X_S - X_P|:
// exp(12) * 2^-52 is about 4e-11.
constexpr double PSV_LITERAL_MAX_DX = 12.0;

// The stable solve crosses a layer whose |X_S - X_P| exceeds this with its
// matrix split into the faster wave's part and the rest; below it a plain
// product loses at most exp(5) * 2^-52 ~ 3e-14, and |x| of the faster wave is
// at least 5, far from the zero of nu where the split's terms would grow like 1/nu.
constexpr double PSV_SPLIT_DX = 5.0;

// HASPSV with the solve chosen by the caller; arguments as for HASPSV.
void haspsv_solve(const LayerTable& table, int ITYPE, float ANGAZ, float ANGLE, float& F,
                  int IPROF, ResponseArray& UPS, ResponseArray& WPS, PsvSolve solve);

// The response's quantities at angular frequency omega = 1. Every wavenumber
// is proportional to omega (k = omega p, nu = omega q), and with the traction
// scale proportional to omega as well the half-space rows do not depend on it;
// where the damping does not depend on the frequency (IQF != 2) these serve
// every frequency of a run.
struct PsvUnitLayer {
  cdouble mu;   // damped shear modulus
  cdouble qa;   // nu_a / omega, nu_b / omega (principal roots)
  cdouble qb;
  cdouble gam;  // (nu_b^2 + k^2) / omega^2
};
struct PsvUnitModel {
  cdouble p;   // k / omega
  double s1;   // traction scale / omega
  std::array<cdouble, 4> K3;  // half-space rows: up-going P and S amplitudes
  std::array<cdouble, 4> K4;  // of a (scaled) state at the top of the half-space
  std::array<PsvUnitLayer, MAX_ENTRIES - 1> layers;
};

// The unit-frequency quantities of the model for an incident wave ITYPE at
// ANGLE degrees; F only enters the damping when IQF = 2.
void psv_unit_model(const LayerTable& table, int ITYPE, float ANGLE, float F, PsvUnitModel& unit);

// Layer m's entry of the unit model at frequency F (which enters only the
// damping of IQF = 2), for the horizontal slowness p = k / omega.
PsvUnitLayer psv_unit_layer(const LayerTable& table, int m, float F, cdouble p);

// The stable solve's coefficients of the surface solution in the basis Y
// (row-major 4x2) at the top of the half-space: the solution of (K Y) c = t,
// t = (1, 0) for an incident P wave, (0, 1) for SV.
std::array<cdouble, 2> psv_surface_coefficients(const PsvUnitModel& unit, int ITYPE,
                                                const std::array<cdouble, 8>& Y);

// Rounds the surface state (u, w/i) times exp(lg) and s_az to float as HASPSV
// does (saturating at the float range).
void psv_store_surface(cdouble u, cdouble w_over_i, double lg, float s_az, cfloat& U, cfloat& W);

}  // namespace velmar
