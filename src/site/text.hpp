// text.hpp: small text helpers of the library's messages and name parsing.
#pragma once

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>
#include <string_view>

namespace velmar::detail {

// The shortest decimal that reads back as v (0.1, not 0.10000000000000001).
inline std::string number(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// Lower-case copy of an ASCII name.
inline std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

}  // namespace velmar::detail
