// text.hpp: the two text helpers of the library's messages and name lookups.
#pragma once

#include <cctype>
#include <sstream>
#include <string>
#include <string_view>

namespace velmar {

// `v` with 17 significant digits (enough to give the double back), for
// messages that quote an offending value.
inline std::string number_text(double v) {
  std::ostringstream s;
  s.precision(17);
  s << v;
  return s.str();
}

// `s` in lower case (ASCII letters only), for names compared without case.
inline std::string lower_case(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace velmar
