// record_filter.hpp: a record filtered through transfer functions: the one
// home of the steps every record analysis shares (padding, forward
// transform, input correction, multiplication, mirroring, inverse
// transform).
//
// Conventions: time factor exp(-i w t), so the forward transform uses
// exp(+i w t) and the inverse exp(-i w t); integration in time is division
// by -i w. A record of n samples is padded with zeros to L, the shortest
// length 2^a or 3 2^a at least 2n, so a filtered history does not wrap
// around; its spectrum stands at the L/2 + 1 frequencies k / (L dt).
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "velmar/measures.hpp"
#include "velmar/motion.hpp"

namespace velmar {

// Floor on |H|^2 when a record observed within the profile (InputMotion::
// WITHIN) is deconvolved by the response H at its depth (responses per unit
// incident displacement are of order 1).
inline constexpr double WITHIN_FLOOR = 1.0e-7;

// The padded length of a record of n samples (above).
std::size_t padded_length(std::size_t n);

// The record's spectrum over the padded window, its plans and twiddles, and
// histories filtered from it. Build it once per record and ask for as many
// histories as needed: each costs one multiplication and one inverse
// transform of half the padded length (two histories share one of the full
// length). Re-assigning a record of the same padded length reuses every
// buffer and plan (allocates nothing).
//
// Thread safety: the const members may be called from several threads at
// once, each with its own Scratch; the members without a Scratch use the
// filter's own and are for one thread at a time.
class RecordFilter {
 public:
  // Work space of the inverse transforms; sized on first use.
  struct Scratch {
    std::vector<cdouble> work;
    std::vector<double> fft;
  };

  RecordFilter();
  // The record's samples times `scale` (record units).
  explicit RecordFilter(const Record& record, double scale = 1.0);
  RecordFilter(std::span<const double> samples, double dt, double factor = 1.0);
  RecordFilter(RecordFilter&&) noexcept;
  RecordFilter& operator=(RecordFilter&&) noexcept;
  ~RecordFilter();

  // Takes a record (checked: check_record) times `scale` (finite).
  void assign(const Record& record, double scale = 1.0);
  // Takes plain samples (finite, at least one) at step dt (> 0) times
  // `factor`; to_si() is then 1.
  void assign(std::span<const double> samples, double dt, double factor = 1.0);

  std::size_t samples() const;        // n
  double dt() const;                  // s
  std::size_t padded_length() const;  // L
  double to_si() const;               // m/s2 per unit of the record
  // The L/2 + 1 frequencies k / (L dt), Hz.
  std::span<const double> frequencies() const;
  // The record's spectrum (times the factor), L/2 + 1 values.
  std::span<const cdouble> spectrum() const;

  // What multiplies the output's transfer function for an input of kind
  // `input`: 1 (incident), 1/2 (outcrop), conj(h_in) / max(|h_in|^2,
  // WITHIN_FLOOR) (within; h_in the response where the record was taken).
  static cdouble input_factor(InputMotion input, cdouble h_in);

  // Y_k = factor c_k h_k X_k / (-i w_k)^integrations, k = 0 .. L/2 (Y_0 = 0
  // when integrating): the half spectrum of a filtered history. h: L/2 + 1
  // values, or empty for 1; c_k = input_factor(input, h_in[k]) (h_in: L/2 +
  // 1 values for a within input, else ignored); integrations 0, 1
  // (velocity from acceleration) or 2 (displacement).
  void filtered_spectrum(std::span<const cdouble> h, InputMotion input, std::span<const cdouble> h_in,
                         int integrations, double factor, std::span<cdouble> Y) const;
  // The first n samples of the real history whose half spectrum is Y (L/2
  // + 1 values; Y_0 and Y_{L/2} taken real). Throws InvalidArgument when a
  // sample is not finite.
  void history(std::span<const cdouble> Y, std::span<double> out, Scratch& scratch) const;
  // Two histories with one transform.
  void history_pair(std::span<const cdouble> A, std::span<const cdouble> B, std::span<double> a,
                    std::span<double> b, Scratch& scratch) const;
  // The same two with the filter's own scratch.
  void history(std::span<const cdouble> Y, std::span<double> out);
  void history_pair(std::span<const cdouble> A, std::span<const cdouble> B, std::span<double> a,
                    std::span<double> b);

  // The history of options.quantity at options.depth when the record times
  // options.scale is the input motion (as velmar::propagate) into `out`
  // (samples() values).
  void propagate(const Profile& profile, const PropagateOptions& options, std::span<double> out);
  std::vector<double> propagate(const Profile& profile, const PropagateOptions& options);
  // Peaks with depth (as velmar::peak_profile).
  PeakProfile peak_profile(const Profile& profile, const PropagateOptions& options);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  Impl& impl();
};

}  // namespace velmar
