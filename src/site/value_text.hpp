// value_text.hpp: a number as message text, for the equivalent-linear
// analysis' errors and warnings.
#pragma once

#include <sstream>
#include <string>

namespace velmar {

// `v` with `digits` significant digits (17 round-trips a double).
inline std::string value_text(double v, int digits = 17) {
  std::ostringstream s;
  s.precision(digits);
  s << v;
  return s.str();
}

}  // namespace velmar
