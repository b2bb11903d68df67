// double_precision_run.hpp: what a deck computes, in double precision with
// the library, as named columns (the Python package's CSV output).
//
// The steps are the console's (the same grid, taper, halving, transform
// length, zero-frequency stand-in and division floor), each computed in
// double: the responses by velmar::transfer, the transforms by the
// library's complex DFT. The float run (run.hpp) stays the console's.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "console/driver/run_state.hpp"
#include "velmar/profile.hpp"

namespace velmar::console {

// The console computes the zero-frequency bin at this frequency, Hz.
constexpr double ZERO_FREQUENCY_STANDIN = 1.0e-6;
// Floor on |H|^2 when a signal run divides by the response (ICONV = 2).
constexpr double DIVISION_FLOOR = 1.0e-7;

// One column of results: its name, its unit ("" for none) and its values.
struct ResultColumn {
  std::string name;
  std::string unit;
  std::vector<double> values;
};

// What a deck computes.
//   kind        "transfer", "signal", or "none" (ITYPE < 0, or a layer table
//               the library refuses: a Q of 0.5 or below)
//   columns     transfer run: "frequency" (Hz), then for each component
//               "half_modulus", "real", "imag" (|H|/2 and H per unit incident
//               displacement; P-SV names end in "_horizontal", "_vertical");
//               signal run: "time" (s), then "accel" (SH) or
//               "accel_horizontal", "accel_vertical" in the record's units
//   components  "SH", or "horizontal" and "vertical"
//   input       signal run: the record as filtered (tapered, halved when
//               IHALF = 2, padded with zeros to the transform length)
struct DeckColumns {
  std::string kind = "none";
  std::vector<ResultColumn> columns;
  std::vector<std::string> components;
  std::vector<double> input;
};

// The profile the console computes with: constant Q from QS (and from QP when
// the table is a valid P-SV model: VP above VS everywhere, QP above 0 in the
// layers) in the layers, an elastic half-space without thickness, densities
// in the deck's own units. Empty for ITYPE < 0, or for a table the library
// refuses, with the reason in *problem (a QS, or for P-SV a QP, of 0.5 or
// below: a damping ratio typed in the Q column, nearly always).
std::optional<Profile> deck_profile(const RunState& s, std::string* problem = nullptr);

// The console's quarter-sine taper in double, in place: with
// NTAP = min(round(n * fraction), n / 2), the k-th sample from either end
// (k < NTAP) is multiplied by sin(k pi / (2 NTAP)).
void taper_in_double(std::span<double> x, double fraction);

// Computes the deck held in `s` as read by read_run_input (the transfer run's
// grid is formed here from FMIN, DF and NF as the console forms it). A signal
// run's transform length is 2 NEARFFT(NPT); its time column steps by the
// decimal value the deck wrote for DT (0.01, not the float 0.0099999998).
// `units` names the record's units (the deck does not say). Throws
// InvalidArgument for a deck with Q proportional to frequency (IQF = 2),
// which the library's constant-damping profiles do not hold.
DeckColumns double_precision_run(RunState& s, std::string_view units);

}  // namespace velmar::console
