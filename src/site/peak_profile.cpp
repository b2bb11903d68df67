// peak_profile.cpp: peaks of acceleration, shear strain and shear stress
// with depth for a record propagated through a profile (SH); the steps live
// in RecordFilter (record_filter.cpp).
#include <cmath>
#include <limits>

#include "site/measures_detail.hpp"
#include "site/record_filter_cache.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/measures.hpp"
#include "velmar/record_filter.hpp"

namespace velmar {

using detail::kept_record_filter;
using detail::Scale;
using detail::number;
using detail::peak_exponent;

PeakProfile peak_profile(const Record& record, const Profile& profile, const PropagateOptions& o) {
  check_record(record);
  if (!std::isfinite(o.scale)) throw InvalidArgument("scale must be finite, got " + number(o.scale));
  // The record is brought to a peak in [0.5, 1) (a power of two, exact) and
  // the scale left out: the filtering is linear, so the peaks are scaled back
  // at the end, and no intermediate overflows or underflows for any record.
  const int e = peak_exponent(record.accel);
  Record unit = record;
  for (double& v : unit.accel) v = std::ldexp(v, -e);
  PropagateOptions unit_options = o;
  unit_options.scale = 1.0;
  RecordFilter own;
  RecordFilter& filter = kept_record_filter(record.accel.size(), own);
  filter.assign(unit);
  PeakProfile pp = filter.peak_profile(profile, unit_options);
  for (std::vector<double>* peaks : {&pp.accel, &pp.strain, &pp.stress}) {
    for (double& x : *peaks) {
      x = Scale(x).times(std::abs(o.scale)).times_power_of_two(e).value();
      if (!std::isfinite(x)) {
        throw InvalidArgument("the peak acceleration, strain or stress is above the largest double (" +
                              number(std::numeric_limits<double>::max()) + "): lower the scale, got " +
                              number(o.scale));
      }
    }
  }
  return pp;
}

}  // namespace velmar
