// psv_unit_model.hpp: the P-SV model of a layer table at unit angular
// frequency, the start of the block sweep (psv_sweep), and the surface solve
// and rounding HASPSV and the sweep share.
#pragma once

#include <array>

#include "console/engines/layer_table.hpp"
#include "layers/psv_solve.hpp"

namespace velmar::console {

using namespace detail;  // the shared kernels

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

}  // namespace velmar::console
