// propagate.cpp: a record filtered through the profile's response (the
// steps live in RecordFilter, record_filter.cpp).
#include <string>

#include "site/record_filter_cache.hpp"
#include "velmar/errors.hpp"
#include "velmar/motion.hpp"
#include "velmar/record_filter.hpp"

namespace velmar {

using detail::kept_record_filter;

InputMotion input_motion_from_name(std::string_view name) {
  if (name == "incident") return InputMotion::INCIDENT;
  if (name == "outcrop") return InputMotion::OUTCROP;
  if (name == "within") return InputMotion::WITHIN;
  throw InvalidArgument("input must be 'incident', 'outcrop' or 'within', got '" + std::string(name) + "'");
}

std::vector<double> propagate(const Record& record, const Profile& profile, const PropagateOptions& o) {
  RecordFilter own;
  RecordFilter& filter = kept_record_filter(record.accel.size(), own);
  filter.assign(record);
  return filter.propagate(profile, o);
}

}  // namespace velmar
