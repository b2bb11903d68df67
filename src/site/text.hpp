// text.hpp: small text helpers of the library's messages and name parsing.
#pragma once

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "velmar/errors.hpp"

namespace velmar::detail {

// The shortest decimal that reads back as v (0.1, not 0.10000000000000001).
inline std::string number(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// A strain for a reader: the ratio and, beside it, the percent engineers
// read ("0.1797 (17.97 %)"), both to 4 significant digits.
inline std::string strain_text(double ratio) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.4g (%.4g %%)", ratio, 100.0 * ratio);
  return buf;
}

// A layer as a person counts it: entry 0 is "layer 1".
inline std::string layer_name(std::size_t entry) { return "layer " + std::to_string(entry + 1); }

// Throws InvalidArgument "<what> <rule>, got <v>", the form of the
// library's argument messages.
[[noreturn]] inline void refuse(std::string_view what, double v, std::string_view rule) {
  throw InvalidArgument(std::string(what) + ' ' + std::string(rule) + ", got " + number(v));
}

// Lower-case copy of an ASCII name.
inline std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

}  // namespace velmar::detail
