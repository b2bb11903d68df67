// run.hpp: one whole run, from the deck to the output file.
#pragma once

#include <istream>
#include <string>

#include "console/driver/run_state.hpp"
#include "console/driver/run_stop.hpp"
#include "console/signal/fft_error.hpp"

namespace velmar::console {

// Reads the deck from `deck` (named `deck_name` in messages), computes and
// writes the output file. Ends early only by throwing RunStop.
void run_deck(std::istream& deck, const std::string& deck_name, RunState& s);

// The steps of a run, for tests and benchmarks that drive them one by one.
void prepare_signal(RunState& s);          // taper, halve, zero-extend to NFFT (the grid is the deck's)
void set_grid(RunState& s);                 // FREQ from FMIN, DF, NF
void response_loop_sh(RunState& s, bool amplitude);
void sh_amplitudes(RunState& s);                // RESA = |RESA + i RESB|/2, RESB = 0
void response_loop_psv(RunState& s);            // surface responses to USURF, WSURF
void psv_amplitudes(RunState& s);               // RESA, RESB = |USURF|/2, |WSURF|/2
void psv_component(RunState& s, bool vertical); // RESA, RESB = WSURF (vertical) or USURF
void compute(RunState& s);                  // the loops, the response guard and the filtering
std::string format_output(const RunState& s);

// The stop a failure of the float transform ends a run with: a length the
// set-up rejects is a limit stop (status 1, its message line on standard
// output, and on standard error the limit with the run's NFFT); a radix no
// pass serves, status 999 with its message line and a line "999".
RunStop transform_stop(const FftError& e, int NFFT);

}  // namespace velmar::console
