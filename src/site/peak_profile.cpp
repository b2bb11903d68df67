// peak_profile.cpp: peaks of acceleration, shear strain and shear stress
// with depth for a record propagated through a profile (SH); the steps live
// in RecordFilter (record_filter.cpp).
#include "site/record_filter_cache.hpp"
#include "velmar/measures.hpp"
#include "velmar/record_filter.hpp"

namespace velmar {

PeakProfile peak_profile(const Record& record, const Profile& profile, const PropagateOptions& o) {
  RecordFilter own;
  RecordFilter& filter = kept_record_filter(record.accel.size(), own);
  filter.assign(record);
  return filter.peak_profile(profile, o);
}

}  // namespace velmar
