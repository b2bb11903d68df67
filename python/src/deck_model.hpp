// deck_model.hpp: a console deck read into the library's objects, and a
// deck run from a file in-process.
//
// Glossary (the deck's names; see console/driver/run_state.hpp):
//   ITYPE  0 SH, 1 P, 2 SV, negative: nothing computed (then no profile)
//   LOUT   SH interface reported, 1 = free surface .. NLAYER+1 = top of the half-space
//   IQF    2 = Q proportional to frequency (Q f), else constant Q
//   ISIG   1 signal run, 0 transfer-function run
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "console/driver/double_precision_run.hpp"
#include "velmar/motion.hpp"
#include "velmar/profile.hpp"

namespace velmar {

struct DeckModel {
  std::string output_name;  // the output file the deck names (as written, relative to the current folder)
  int ITYPE = 0;
  double ANGLE = 0.0;  // degrees
  int LOUT = 0;
  int IQF = 0;
  int ISIG = 0;
  // The layer table as read, single-precision values widened, top down, the
  // half-space last (its THICK, QS and QP are not used by the console).
  std::vector<double> THICK, RHO, VS, QS, VP, QP;
  // The profile the console computes with: constant Q from QS (and QP for
  // P-SV) in the layers, an elastic half-space. Empty for ITYPE < 0. VP is
  // kept for an SH deck only when it is a valid P-SV model (VP above VS and
  // QP above 0 everywhere), so P and SV can be tried on it.
  std::optional<Profile> profile;
  // Why `profile` is empty for ITYPE >= 0: the library refuses the table
  // (a QS of 0.5 or below, a damping ratio of 1 or more); "" otherwise.
  std::string profile_problem;
  double depth = 0.0;  // m, depth of interface LOUT of an SH deck (0 otherwise)
  // Transfer-function run: the console's grid FMIN + i DF, i = 0..NF-1,
  // formed in single precision as the console forms it.
  double FMIN = 0.0, FMAX = 0.0, DF = 0.0;
  std::vector<double> freqs;
  // Signal run: the NPT samples read (before taper and halving).
  std::string signal_name;
  int NSKIP = 0;
  int NPT = 0;
  int IHALF = 0;
  int ICONV = 0;
  std::optional<Record> record;
};

// Reads and checks the deck in file `path` with the console's reader (the
// same messages and limits). Nothing is written: the output file the deck
// names is neither created nor opened. Signal-file names are relative to
// the current folder, as for the console. The record's units are `units`
// (the deck does not say). Throws FileError when the deck cannot be read,
// RunStop (status 1 limit stop, 2 refused input) as the console stops.
DeckModel read_deck_file(const std::string& path, const std::string& units = "g");

// Runs the deck in file `path` as the console program runs its standard
// input, writing the same output file; `s` is the run's storage (large:
// allocate it on the heap). Refuses a deck that names itself as the output
// file (the run would overwrite it). Throws FileError when the deck cannot
// be read, RunStop as the console stops. Returns the output file's name.
namespace console {
struct RunState;
}
std::string run_deck_file(const std::string& path, console::RunState& s);


// What the deck in file `path` computes, in double precision with the
// library (console::double_precision_run): the deck is read again by the
// console's reader (signal-file names relative to the current folder), the
// record's units are `units`. Throws as read_deck_file, and InvalidArgument
// for a deck with Q proportional to frequency (IQF = 2).
console::DeckColumns deck_columns_file(const std::string& path, const std::string& units);

}  // namespace velmar
