// velmar.hpp: the VELMAR library, seismic response of horizontally layered
// ground. Include this one header.
#pragma once

#include "velmar/batch.hpp"
#include "velmar/equivalent_linear.hpp"
#include "velmar/errors.hpp"
#include "velmar/interrupt.hpp"
#include "velmar/measures.hpp"
#include "velmar/motion.hpp"
#include "velmar/profile.hpp"
#include "velmar/randomize.hpp"
#include "velmar/record_filter.hpp"
#include "velmar/response.hpp"
#include "velmar/rvt.hpp"
#include "velmar/site_indices.hpp"
#include "velmar/workspace.hpp"

namespace velmar {

// The library's version, "major.minor.patch".
const char* version();

}  // namespace velmar
