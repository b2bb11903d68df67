// psv_sweep.hpp: the P-SV surface response over a whole frequency grid.
//
// Glossary (per layer n; unit quantities from psv_unit_model, see psv_solve.hpp):
//   y_a, y_b  half the layer exponents per unit angular frequency,
//             h nu / 2 = omega * y (Re y >= 0)
//   coef      the layer matrix as 16 complex coefficients of the four
//             hyperbolic terms sinh^2(x/2) and sinh(x) of the two waves; with
//             tractions scaled by a traction scale proportional to omega none
//             of them depends on the frequency (unless the damping does, IQF = 2)
//   dx        h |Re q_b - Re q_a|: HASPSV's stable solve splits a layer's
//             matrix where omega * dx exceeds PSV_SPLIT_DX
// Block scratch (PSV_BLOCK frequencies side by side, one array per real
// quantity, so that the compiler runs the layer loop over the block in vector
// registers):
//   omega     angular frequency 2*pi*F, formed in float as HASPSV forms it
//   y_re/im   an orthogonal basis (row-major 4x2) of the two zero-traction
//             surface solutions carried to the current depth
//   steps     each layer's R of A Y = Y' R, for the way back up
#pragma once

#include <array>
#include <span>

#include "console/engines/layer_table.hpp"
#include "layers/simd_level.hpp"

namespace velmar::console {

using namespace detail;  // the shared kernels

constexpr int PSV_BLOCK = 16;  // frequencies evaluated side by side

using PsvBlockArray = std::array<double, PSV_BLOCK>;

// Layer constants of one run, or with IQF = 2 of one frequency (complex
// values as separate real and imaginary parts).
struct PsvSweepLayer {
  double ya_re, ya_im, yb_re, yb_im;
  std::array<double, 16> c_re, c_im;
  double dx;
};

// The constants of one layer for each lane of a block (the same in every lane
// unless the damping depends on the frequency).
struct PsvLaneLayer {
  PsvBlockArray ya_re, ya_im, yb_re, yb_im;
  std::array<PsvBlockArray, 16> c_re, c_im;
};

// One layer's step of the stable solve across the block: A Y = Y' R, R upper
// triangular, kept as what its inverse needs: 1/R(1,1), 1/R(2,2) and
// R(1,2)/R(1,1).
struct PsvSweepStep {
  PsvBlockArray i11, i22, b12_re, b12_im;
};

// The surface solution's coefficients on the way back up, times exp(lc).
struct PsvSweepBack {
  PsvBlockArray c1_re, c1_im, c2_re, c2_im, lc, flag;
};

// Storage of psv_sweep, owned by the caller; nothing in it carries meaning
// from one call to the next.
struct PsvSweepWork {
  std::array<PsvSweepLayer, MAX_ENTRIES - 1> layers{};  // element m: table entry m+1
  std::array<int, PSV_BLOCK> wait_index{};  // frequencies waiting for a block
  PsvBlockArray wait_omega{};
  std::array<int, PSV_BLOCK> index{};  // grid index of each lane
  PsvBlockArray omega{}, bad{}, e0{}, sigma{};
  PsvSweepStep step{};  // the current layer's
  PsvSweepBack back{};
  std::array<PsvSweepStep, MAX_ENTRIES - 1> steps{};
  PsvLaneLayer lane{};  // the current layer
  std::array<PsvBlockArray, 8> y_re{}, y_im{};
  ResponseArray ups{}, wps{};  // for the frequencies handed to HASPSV
};

// UPS(1) and WPS(1) of HASPSV(table, ITYPE, 90.0, ANGLE, F[i], 1, IPROF) for
// every i, the same response to single-precision agreement. An exact 0.0 in F
// is replaced by 1.0e-6 in place, as HASPSV does. PSV_BLOCK frequencies are
// evaluated at a time, with exponentials, sines and cosines from polynomials
// accurate to 3.5e-14 or better (poly_math.hpp states and tests the bounds),
// by the stable solve, as HASPSV. Where the damping does not depend on the
// frequency (IQF != 2) the layer constants are formed once per call; with
// IQF = 2 per frequency. A frequency with a layer that HASPSV would cross with
// its matrix split, a layer exponent beyond the polynomials' range, a
// vanishing vertical wavenumber, a non-finite result or a non-positive
// frequency is handed to HASPSV itself. The
// block loops are compiled for AVX-512, AVX2 and the SSE2 baseline (only the
// portable loops off x86-64) and the best one the processor runs is chosen at
// run time; all give the same results bit for bit.
//
// @param[in]    table  the model (read only), as for HASPSV
// @param[in]    ITYPE  1 = incident P wave, 2 = incident SV wave
// @param[in]    ANGLE  incidence angle in the half-space, degrees
// @param[inout] F      the frequencies; exact zeros become 1.0e-6
// @param[out]   U, W   horizontal and vertical surface displacement, F.size() entries
// @param        work   scratch
// @return              how many frequencies the block path evaluated (the rest went to HASPSV)
int psv_sweep(const LayerTable& table, int ITYPE, float ANGLE, std::span<float> F,
               std::span<cfloat> U, std::span<cfloat> W, PsvSweepWork& work);

// The same with the block loops of a named instruction set, which the
// processor must support (simd_level_supported; not checked).
int psv_sweep(const LayerTable& table, int ITYPE, float ANGLE, std::span<float> F,
               std::span<cfloat> U, std::span<cfloat> W, PsvSweepWork& work, SimdLevel level);

}  // namespace velmar::console
