// run_state.hpp: all storage of one run, fixed in size.
//
// Glossary of the run parameters (as the deck names them):
//   ITYPE   wave: 0 = SH, 1 = P-SV with incident P, 2 = P-SV with incident SV,
//           negative = compute nothing
//   ANGLE   incidence angle in the half-space, degrees from the vertical
//   LOUT    interface whose SH response is reported: 1 = free surface,
//           k = top of layer k, NLAYER+1 = top of the half-space
//   ISIG    1 = signal run, 0 = transfer-function run
//   NSKIP   header lines skipped at the top of the signal file
//   DT      sample interval of the time history
//   NPT     samples read from the signal file (1..30000)
//   IHALF   2 = halve the tapered samples
//   ICONV   2 = divide the spectrum by the response, otherwise multiply
//   FMIN, FMAX, DF  frequency grid: FMIN + (i-1)*DF, i = 1..NF (FMAX excluded)
//   NFFT    transform length of a signal run
//
// Arrays are 0-based: entry i of a grid or record numbered from 1 is element i-1.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "console/engines/layer_table.hpp"
#include "console/engines/psv_sweep.hpp"
#include "console/engines/sh_sweep.hpp"
#include "console/signal/fft_setup.hpp"

namespace velmar::console {

constexpr int MAXPT = 60000;      // signal arrays and the largest transform length
constexpr int MAX_SAMPLES = 30000;  // samples read from the signal file
constexpr int MAX_FREQ = 30000;     // frequency grid points
constexpr float TAPER_FRACTION = 0.05f;

using ComplexGrid = std::array<cfloat, MAX_FREQ>;

struct RunState {
  std::string output_name;
  std::string signal_name;
  // Where the grid comes from, for messages about the response: the deck's
  // name and the line of FMIN (transfer-function run) or DT (signal run).
  std::string deck_name;
  std::int64_t grid_line = 0;

  int ITYPE = 0;
  float ANGLE = 0.0f;
  int LOUT = 0;
  int ISIG = 0;
  int NSKIP = 0;
  float DT = 0.0f;
  int NPT = 0;
  int IHALF = 0;
  int ICONV = 0;
  float FMIN = 0.0f;
  float FMAX = 0.0f;
  float DF = 0.0f;
  int NF = 0;
  int NFFT = 0;

  LayerTable table;

  std::array<float, MAX_FREQ> FREQ{};
  std::array<float, MAXPT> RESA{};
  std::array<float, MAXPT> RESB{};
  // P-SV surface responses UPS(1), WPS(1) at every grid frequency.
  ComplexGrid USURF{};
  ComplexGrid WSURF{};
  std::array<float, MAXPT> SIG{};
  std::array<float, MAXPT> SIG2{};
  std::array<float, MAXPT> SIGIM{};
  std::array<float, 2 * MAXPT> TRIG{};
  std::array<float, 2 * MAXPT> WORK{};
  std::array<int, MAX_FACTORS> LFAC{};

  // Scratch of the SH response loop (sh_sweep).
  ShSweepWork sh_work;
  // Scratch of the P-SV response loop (psv_sweep).
  PsvSweepWork psv_work;
};

}  // namespace velmar::console
