// deck.hpp: the run input, read from the deck in its order, with every check.
//
// The deck, one group after another (free-format groups may run over lines):
//   1  output file name (a whole line)
//   2  ITYPE ANGLE
//   3  NLAYER LOUT IQF            (layer limit tested here)
//   4  NLAYER+1 lines: THICK RHO VS QS VP QP, top layer first, half-space last
//   5  ISIG
//   signal run (ISIG = 1):
//   6.1 signal file name (a whole line)
//   6.2 NSKIP
//   6.3 DT NPT IHALF ICONV        (sample limit tested here)
//   then NSKIP header lines of the signal file are skipped and NPT samples read
//   transfer-function run (ISIG = 0):
//   7  FMIN FMAX DF
// Nothing after the last group the run needs is read.
#pragma once

#include "console/driver/output_file.hpp"
#include "console/driver/run_state.hpp"
#include "console/driver/text_input.hpp"

namespace velmar::console {

// Reads and checks the whole run input; opens the output file on the first
// line (the second form reads and checks the deck alone: it neither creates
// nor opens the file the deck names). Sets the run parameters, the layer table, SIG[0..NPT) of a signal run
// and the frequency grid (FMIN, FMAX, DF, NF; NFFT of a signal run). Limit stops throw
// RunStop with status 1, refused input with status 2.
void read_run_input(LineSource& deck, RunState& s, OutputFile& out);
void read_run_input(LineSource& deck, RunState& s);

// The grid of a signal run, derived once from NPT and DT: NFFT (checked
// against the transform-length limit), FMIN = 0, FMAX = 1/(2 DT),
// DF = 1/(NFFT DT) and NF = NFFT/2. Does not check that DT gives a finite grid.
void set_signal_grid(RunState& s);

// The transform-length limit: NFFT above MAXPT stops the run (status 1).
void check_transform_length(int NFFT);

// Transform length of a signal run of NPT samples: twice the shortest
// 2-3-5 length not below NPT.
int transform_length(int NPT);

}  // namespace velmar::console
