// batch.hpp: many site-response runs at once: randomised profiles (see
// randomize.hpp) times a suite of records, linear or equivalent-linear, on
// every core; and the statistics engineers read from them.
//
// Glossary (flat arrays, row-major, 0-based; the inputs are the records,
// then BatchOptions::motions):
//   realisation r   index of a realisation; a batch computes first .. first+count-1
//   record m        index into the records given, then into BatchOptions::motions
//   period k        index into BatchOptions::periods
//   depth d         index into BatchOptions::strain_depths
//   psa             [r][m][k], PSA at the output depth, record units
//   pga             [r][m], peak acceleration at the output depth, record units
//   max_strain      [r][m][d], peak shear strain (ratio) at each strain depth
//                   (equivalent-linear: the iteration's peak strain of the layer
//                   holding the depth; NaN in the half-space)
// A failed run leaves NaN in all three and one entry in `failures`.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "velmar/equivalent_linear.hpp"
#include "velmar/interrupt.hpp"
#include "velmar/motion.hpp"
#include "velmar/randomize.hpp"
#include "velmar/rvt.hpp"

namespace velmar {

enum class Analysis { LINEAR, EQUIVALENT_LINEAR };
Analysis analysis_from_name(std::string_view name);  // "linear", "equivalent_linear"

struct BatchOptions {
  RandomizeOptions randomize;
  std::uint64_t seed = 0;
  Analysis analysis = Analysis::LINEAR;
  // One curve per layer of the base profile (or one for all); a random
  // layer takes the curve of its base layer. Needed for EQUIVALENT_LINEAR;
  // with randomize.curves the curves of every run are varied about these.
  std::vector<Curve> curves;
  // The equivalent-linear settings (its `curves` member is ignored: each run
  // fills it); input, input_depth, angle, scale and law also serve the
  // linear runs (SH waves). Its law is Dormieux's by default: set
  // DampingLaw::VELMAR for linear runs under the deck's law.
  EquivalentLinearOptions el;
  double output_depth = 0.0;            // m, where PSA and PGA are taken
  std::vector<double> periods;          // s, > 0; empty: default_periods()
  double spectral_damping = 0.05;
  std::vector<double> strain_depths;    // m; where peak strains are reported
  unsigned threads = 0;                 // 0: every core
  // Polled by the calling thread only: between realisations and records
  // when the batch runs on it (and between the passes of each
  // equivalent-linear run), else every few tens of milliseconds while the
  // worker threads run; when it asks to stop, the workers stop after their
  // current pass or run and the batch throws (see interrupt.hpp).
  InterruptCheck interrupt;
  // Motions by random vibration theory (fas in g x s), run beside the
  // records: input m = records.size() + i is motions[i]. Each run's PSA
  // (with the method's oscillator correction), PGA and peak strains are
  // the RVT ones at the output depth of the run's profile (see
  // rvt_site.hpp); psa and pga in g. `records` may then be empty.
  std::vector<RvtMotion> motions;
};

struct RunFailure {
  std::uint64_t realisation;
  std::size_t record;
  std::string message;
};

struct BatchResult {
  std::uint64_t first = 0;
  std::size_t count = 0, records = 0, periods = 0, depths = 0;
  std::vector<double> psa, pga, max_strain;
  std::vector<double> input_psa;  // [m][k], PSA of each input record (times the scale)
  std::vector<int> layers;  // [r], layers of each realisation
  std::vector<RunFailure> failures;  // by realisation, then record
};

// Runs realisations first .. first+count-1 of `base` under every record.
// Each realisation is realise(base, options.randomize, seed, r), so the
// numbers do not depend on `threads` or on how a batch is split into ranges.
// A run that throws or does not converge is listed in `failures` and the
// batch goes on. Throws InvalidArgument only for bad options, all checked
// before any run: no record, a bad record, a period not above 0, a bad
// depth or spectral damping, a curve list of the wrong length or a curve
// check_curve refuses, EQUIVALENT_LINEAR without curves, randomisation
// options check_randomize_options refuses, equivalent-linear settings
// check_equivalent_linear_options refuses (they are checked for a linear
// batch too). Throws Interrupted (or the check's own exception) when
// options.interrupt asks to stop; no partial result is returned.
BatchResult run_batch(const Profile& base, std::span<const Record> records, const BatchOptions& options,
                      std::uint64_t first, std::size_t count);

// The curves of one realisation: the base curve of every layer, varied by the
// layer's deviates when `r.eps_g` is not empty (then each is tabulated at the
// layer's mean effective stress on a log-spaced strain grid and moved by
// vary_curve_point). `water_table` as in EquivalentLinearOptions.
std::vector<Curve> realisation_curves(const Realisation& r, std::span<const Curve> base_curves,
                                      std::optional<double> water_table);

// Statistics over the first axis of a [rows][cols] array, NaN entries left
// out: median, standard deviation of ln (sample, n - 1; NaN below two
// values or with a value not above 0) and the percentiles asked for
// (linear interpolation between order statistics, as numpy's default).
struct ColumnStatistics {
  std::vector<double> median, log_std;
  std::vector<double> percentiles;  // [p][col]
  std::vector<std::size_t> count;   // values used per column
};
ColumnStatistics column_statistics(std::span<const double> values, std::size_t rows, std::size_t cols,
                                   std::span<const double> percentiles);

}  // namespace velmar
