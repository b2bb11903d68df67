// frequency_dependent.hpp: the column of a frequency-dependent
// equivalent-linear analysis: G/Gmax and damping per (sub)layer per
// frequency, the strain spectra they give, and the strains they are read at.
//
// Glossary (row j a sublayer, k a frequency k df of the transform, 0-based):
//   S_jk   strain Fourier amplitude at the middle of row j (|strain spectrum|)
//   gam_jk strain G/Gmax and damping are read at (the variant's shape of S_j
//          times the row's effective strain)
//   c, mc  vertical slowness and complex modulus times it, per row and
//          frequency (the sweep's inputs)
// Curves are read from a table per row on a log-strain grid (GRID_PER_DECADE
// points a decade, 1e-9 to 1), linear in log strain between its points: the
// values used are those interpolated, reported as such. A strain equal to
// the row's effective strain reads the curve itself, so a flat strain
// spectrum gives the classic analysis' properties exactly.
#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

#include "velmar/equivalent_linear.hpp"

namespace velmar::detail {

using cdouble = std::complex<double>;

// One row of the column: a sublayer of the analysis.
struct FdRow {
  double thickness, density, vs0, xi0, sigma_m;
  const Curve* curve;  // LinearLayer or none: the row keeps vs0 and xi0
  std::size_t parent;  // the given layer (for messages)
  double d_shift = 0.0;  // added to the curve's damping (a small-strain damping override)
};

class FdColumn {
 public:
  static constexpr double GRID_LOW = 1e-9;  // strain at the grid's first point
  static constexpr std::size_t GRID_PER_DECADE = 64;
  static constexpr std::size_t GRID_DECADES = 9;

  // rows top down; the half-space's complex modulus and slowness; nf
  // frequencies k df. Tables every row's curve (the only allocation besides
  // the first update's). Throws AnalysisError when a curve gives a value the
  // law cannot take on the grid.
  FdColumn(std::vector<FdRow> rows, cdouble half_modulus, cdouble half_slowness, DampingLaw law, double angle_deg,
           std::size_t nf, double df, FrequencyDependent variant, double bandwidth);

  // The large per-frequency arrays go back to a store this thread keeps
  // (up to KEPT_VALUES values each), so the next analysis of a similar size
  // touches no fresh memory: first touches of tens of megabytes cost more
  // than the passes on a virtual machine.
  ~FdColumn();
  FdColumn(const FdColumn&) = delete;
  FdColumn& operator=(const FdColumn&) = delete;
  static constexpr std::size_t KEPT_VALUES = 4000000;

  std::size_t rows() const { return rows_.size(); }
  std::size_t frequencies() const { return nf_; }

  // The properties before the first update: row j's g[j] and d[j] at every
  // frequency (the classic run's).
  void start(std::span<const double> g, std::span<const double> d);

  // From a pass's strain spectra (re, im: row-major, nf per row, any common
  // scale) and effective strains (one per row): the strains the variant
  // reads the properties at, kept for advance, and the largest relative
  // change of G/Gmax and damping read there against those in use, over the
  // rows with a curve and all frequencies. Throws AnalysisError for a curve
  // value the law cannot take.
  double measure(const double* re, const double* im, std::span<const double> effective);
  // The next pass's properties: read at the strains of measure. (Mixing
  // these passes as the classic ones are mixed was tried: it saved no pass
  // on the benchmark profile and held eight copies of the strains.)
  void advance();

  // The strain spectra of the current properties: per unit incident
  // displacement times (y_re, y_im)[k]; for an input observed within the
  // profile at `within_depth` (>= 0) also times conj(u_k) / max(|u_k|^2,
  // floor), u_k the displacement there. Writes re, im (row-major). Throws
  // AnalysisError when the column cannot be swept (a vertical slowness near
  // 0 at oblique incidence, or a depth whose motion leaves the double range).
  void strain_spectra(const double* y_re, const double* y_im, const double* within_depth, double floor, double* re,
                      double* im);

  // The displacement, strain or stress (per unit incident displacement) at
  // `depth` (m, >= 0) for every frequency: one frequency at a time with the
  // general engine (for a record's motion, not for the passes).
  void response_at(double depth, std::span<cdouble> u, std::span<cdouble> strain, std::span<cdouble> stress) const;

  std::span<const double> g() const { return g_; }
  std::span<const double> d() const { return d_; }
  // ln of the strains the properties were read at (rows x nf).
  std::span<const double> log_strain() const { return gam_; }

  // Sets the properties directly (rows x nf values each), e.g. of a stored
  // result; no strain spectrum.
  void set(std::span<const double> g, std::span<const double> d);

 private:
  void shape(std::size_t j, const double* amp, double effective, double* log_gam);
  // Row j's properties at the log strains lg into (g, d); with `compare`
  // only the largest relative change against (g, d) is returned.
  double lookup(std::size_t j, const double* lg, double* g, double* d, bool compare) const;
  void properties(std::size_t j);

  std::vector<FdRow> rows_;
  cdouble half_modulus_, half_slowness_;
  DampingLaw law_;
  double angle_;
  std::size_t nf_;
  double df_;
  FrequencyDependent variant_;
  double bandwidth_;
  // Curve tables: row j's G/Gmax and damping at grid point q, j * GRID + q.
  std::vector<double> table_g_, table_d_;
  std::vector<double> exact_g_, exact_d_, log_effective_;  // per row, at the effective strain
  std::vector<double> next_;                             // rows x nf: log strains of measure
  std::vector<double> g_, d_, gam_;                      // rows x nf
  std::vector<double> cr_, ci_, mr_, mi_;                // rows x nf: c and M c
  void size_arrays();
  std::vector<double> log_f_;                            // ln f_k (k >= 1)
  std::vector<double> omega_;                            // 2 pi f_k
  std::vector<double> amp_, work_;                       // nf each
  // Konno-Ohmachi bins: per bin its first frequency index, mean window
  // position and the smoothed value; work of the sweep.
  std::vector<std::size_t> bin_first_;
  std::vector<double> bin_x_, bin_sum_, bin_count_, bin_value_;
  // Per bin: the first bin of its window, the offset of its weights in
  // ko_w_, and the weights' sum over the frequencies.
  std::vector<std::size_t> ko_lo_, ko_off_;
  std::vector<double> ko_w_, ko_den_;
  std::vector<double> sweep_;
};

}  // namespace velmar::detail
