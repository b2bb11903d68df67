// record_filter_cache.hpp: the record filter a value-returning call uses.
#pragma once

#include <cstddef>

#include "velmar/record_filter.hpp"

namespace velmar::detail {

// A filter kept by the calling thread from one value-returning call to the
// next (propagate, peak_profile, equivalent_linear, the integration), so a
// repeated call on a record of the same padded length rebuilds no plan and
// touches no fresh memory: allocating and freeing megabytes per call can
// lead the allocator to hand the pages back to the system, to be faulted in
// again by the next call, which costs more than the transforms on a virtual
// machine. A record longer than the kept limit gets `own` instead, so a
// thread does not keep hundreds of megabytes after one huge record. The
// caller assigns its record and is done with the filter before it calls
// anything else that may use it. Calls with a caller's Workspace do not use
// this.
RecordFilter& kept_record_filter(std::size_t samples, RecordFilter& own);

}  // namespace velmar::detail
