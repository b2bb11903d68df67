// record.cpp: acceleration records: checks, unit names, and reading from the
// common text formats.
//
// The reader never guesses a layout that would read times as samples: values
// laid out several to a line are read in order only when a count in the file
// confirms how many there are; otherwise a line holds one value, or a time
// and a value with the times rising by one step.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/motion.hpp"

namespace velmar {

using detail::lower;
using detail::number;
namespace {

// Every spelling of an acceleration unit the library accepts, with its
// canonical name. Compared without regard to case.
struct UnitSpelling {
  std::string_view spelling;
  std::string_view name;
};
constexpr std::array<UnitSpelling, 21> UNIT_SPELLINGS{{
    {"g", "g"},
    {"m/s2", "m/s2"},       {"m/s^2", "m/s2"},       {"m/s**2", "m/s2"},      {"m/s/s", "m/s2"},
    {"m/sec2", "m/s2"},     {"m/sec^2", "m/s2"},     {"m/sec**2", "m/s2"},    {"m/sec/sec", "m/s2"},
    {"cm/s2", "cm/s2"},     {"cm/s^2", "cm/s2"},     {"cm/s**2", "cm/s2"},    {"cm/s/s", "cm/s2"},
    {"cm/sec2", "cm/s2"},   {"cm/sec^2", "cm/s2"},   {"cm/sec**2", "cm/s2"},  {"cm/sec/sec", "cm/s2"},
    {"gal", "cm/s2"},       {"gals", "cm/s2"},       {"galileo", "cm/s2"},    {"cm/s²", "cm/s2"},
}};

// Units of velocity or displacement a header may name: such a file holds no
// acceleration.
constexpr std::array<std::string_view, 14> MOTION_UNITS{
    {"cm/s", "cm/sec", "m/s", "m/sec", "mm/s", "mm/sec", "in/s", "in/sec", "ft/s", "cm", "m", "mm", "in", "ft"}};

const UnitSpelling* find_unit(std::string_view u) {
  const std::string l = lower(u);
  for (const UnitSpelling& s : UNIT_SPELLINGS) {
    if (l == s.spelling) return &s;
  }
  return nullptr;
}

bool is_motion_unit(std::string_view u) {
  const std::string l = lower(u);
  return std::find(MOTION_UNITS.begin(), MOTION_UNITS.end(), l) != MOTION_UNITS.end();
}

// Parses a whole token as a finite double (a leading '+', and Fortran's D
// exponent, accepted); false for anything else.
bool parse_number(std::string_view tok, double& v) {
  std::string t(tok);
  if (!t.empty() && t[0] == '+') t.erase(0, 1);
  for (char& c : t) {
    if (c == 'd' || c == 'D') c = 'e';
  }
  if (t.empty()) return false;
  const char* end = t.data() + t.size();
  const auto r = std::from_chars(t.data(), end, v);
  return r.ec == std::errc() && r.ptr == end && std::isfinite(v);
}

// Whether a token is written as a number, finite or not ("1e400", "nan",
// "0.49E-" cut short): such a line holds samples, never a header.
bool number_shaped(std::string_view tok) {
  std::size_t i = 0;
  if (i < tok.size() && (tok[i] == '+' || tok[i] == '-')) ++i;
  const std::string rest = lower(tok.substr(i));
  if (rest == "nan" || rest == "inf" || rest == "infinity") return true;
  std::size_t digits = 0;
  while (i < tok.size() && std::isdigit(static_cast<unsigned char>(tok[i]))) ++i, ++digits;
  if (i < tok.size() && tok[i] == '.') ++i;
  while (i < tok.size() && std::isdigit(static_cast<unsigned char>(tok[i]))) ++i, ++digits;
  if (digits == 0) return false;
  if (i < tok.size() && std::strchr("eEdD", tok[i]) != nullptr) {
    ++i;
    if (i < tok.size() && (tok[i] == '+' || tok[i] == '-')) ++i;
    while (i < tok.size() && std::isdigit(static_cast<unsigned char>(tok[i]))) ++i;
  }
  return i == tok.size();
}

bool separator(char c) { return std::isspace(static_cast<unsigned char>(c)) || c == ','; }

// Splits a line at blanks, tabs and commas.
template <class F>
void for_each_token(std::string_view line, F&& f) {
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && separator(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !separator(line[i])) ++i;
    if (i > start) f(line.substr(start, i - start));
  }
}

// The written form of a number: digits after the point and digits of the
// exponent (-1 without one). A fixed-width E field cut short has fewer of
// either than the fields before it.
struct Shape {
  int fraction = 0;
  int exponent = -1;
  bool operator==(const Shape&) const = default;
};

Shape shape_of(std::string_view tok) {
  Shape s;
  const std::size_t e = tok.find_first_of("eEdD");
  const std::string_view mantissa = tok.substr(0, e);
  const std::size_t dot = mantissa.find('.');
  if (dot != std::string_view::npos) s.fraction = static_cast<int>(mantissa.size() - dot - 1);
  if (e != std::string_view::npos) {
    s.exponent = 0;
    for (std::size_t i = e + 1; i < tok.size(); ++i) {
      if (std::isdigit(static_cast<unsigned char>(tok[i]))) ++s.exponent;
    }
  }
  return s;
}

// A line shown in a message: its first 40 characters, control bytes as '?'.
std::string excerpt(std::string_view line) {
  std::string s(line.substr(0, 40));
  for (char& c : s) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return "'" + s + (line.size() > 40 ? "...'" : "'");
}

[[noreturn]] void bad_file(const std::string& path, std::size_t line, const std::string& what) {
  std::ostringstream s;
  s << path;
  if (line > 0) s << ':' << line;
  s << ": " << what;
  throw FileError(s.str());
}

// ---- reading the bytes -------------------------------------------------------------------

// The whole file as text. Refuses a folder, a file above the size limit
// (a device or pipe is read up to the limit, never further) and bytes that
// text does not hold (NUL and other control characters).
std::string read_text(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) bad_file(path, 0, "cannot be opened: no such file (or no permission)");
  if (S_ISDIR(st.st_mode)) bad_file(path, 0, "is a folder, not a record file");
  const bool regular = S_ISREG(st.st_mode);
  if (regular && static_cast<std::uintmax_t>(st.st_size) > MAX_RECORD_FILE_BYTES) {
    bad_file(path, 0, "holds " + std::to_string(st.st_size) + " bytes, more than a record file's limit of " +
                          std::to_string(MAX_RECORD_FILE_BYTES));
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) bad_file(path, 0, "cannot be opened for reading");
  std::string text;
  std::array<char, 65536> buf{};
  std::size_t line = 1;
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    for (std::size_t i = 0; i < got; ++i) {
      const auto c = static_cast<unsigned char>(buf[i]);
      if (c == '\n') ++line;
      if ((c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f' && c != '\v') || c == 0x7F) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", c);
        bad_file(path, line,
                 std::string("byte ") + hex + " at offset " + std::to_string(text.size() + i) +
                     " is not text: this is not a text record file" + (regular ? "" : " (a device or pipe?)"));
      }
    }
    if (text.size() + got > MAX_RECORD_FILE_BYTES) {
      bad_file(path, 0, "holds more than a record file's limit of " + std::to_string(MAX_RECORD_FILE_BYTES) +
                            " bytes" + (regular ? "" : " (a device or pipe that does not end?)"));
    }
    text.append(buf.data(), got);
  }
  if (in.bad()) bad_file(path, 0, "read error");
  return text;
}

// ---- the header ----------------------------------------------------------------------------

struct Line {
  std::string_view text;
  std::size_t number;  // in the file, from 1
};

// The time unit after a step, in s: "SEC", "S", "MSEC", "MS" (none: s).
std::optional<double> time_unit(std::string_view word) {
  const std::string w = lower(word);
  if (w.empty() || w == "s" || w == "sec" || w == "secs" || w == "second" || w == "seconds") return 1.0;
  if (w == "ms" || w == "msec" || w == "msecs" || w == "millisecond" || w == "milliseconds") return 1e-3;
  return std::nullopt;
}

// Count and step a header states: "NPTS= 5590, DT= .0050 SEC",
// "4096 0.0100 NPTS, DT", "DT= 10 MSEC".
struct HeaderGrid {
  std::optional<double> npts, dt;
  std::size_t npts_line = 0, dt_line = 0;
};

// The tokens of a line split at blanks, commas and '=' / ':'.
std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  const auto sep = [](char c) { return separator(c) || c == '=' || c == ':' || c == ';'; };
  while (i < line.size()) {
    while (i < line.size() && sep(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !sep(line[i])) ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

void read_grid(const std::string& path, const Line& line, HeaderGrid& g) {
  const std::vector<std::string_view> w = words(line.text);
  std::vector<double> leading;  // numbers before the first word
  bool words_seen = false;
  for (std::size_t i = 0; i < w.size(); ++i) {
    const std::string k = lower(w[i]);
    double v = 0.0;
    if (!words_seen && parse_number(w[i], v)) {
      leading.push_back(v);
      continue;
    }
    words_seen = true;
    if (k == "npts" && !g.npts) {
      if (i + 1 < w.size() && parse_number(w[i + 1], v)) {
        g.npts = v;
      } else if (leading.size() >= 1) {
        g.npts = leading[0];  // "4096 0.0100 NPTS, DT"
      }
      if (g.npts) g.npts_line = line.number;
    } else if (k == "dt" && !g.dt) {
      if (i + 1 < w.size() && parse_number(w[i + 1], v)) {
        const std::string_view unit = i + 2 < w.size() ? w[i + 2] : std::string_view{};
        const std::optional<double> scale = time_unit(unit);
        // A word that is no time unit is the next field ("DT= .005 NPTS= ...").
        g.dt = v * scale.value_or(1.0);
        const std::string u = lower(unit);
        if (!scale && (u == "us" || u == "usec" || u == "min" || u == "minutes")) {
          bad_file(path, line.number, "DT is given in '" + std::string(unit) + "': write it in SEC or MSEC");
        }
      } else if (leading.size() >= 2) {
        g.dt = leading[1];
      }
      if (g.dt) g.dt_line = line.number;
    }
  }
}

// Units the header lines name. An explicit statement ("UNITS: G",
// "UNITS = CM/S/S", "IN UNITS OF G") wins over a unit merely mentioned
// ("PEAK 245.2 CM/S/S", "acceleration in gal", "= 0.25 G"); mentions that
// disagree leave the units open (`candidates`).
struct HeaderUnits {
  std::string name;  // canonical, or empty
  std::size_t line = 0;
  bool stated = false;
  std::vector<std::string> candidates;  // mentions that disagree
  std::string conflict;                 // their description
  std::string unknown;                  // a stated unit this reader does not know
  std::string motion;                   // why the file holds no acceleration
};

// A word of a header line, and whether ':' or '=' follows it.
struct Word {
  std::string_view raw;
  std::string key;  // lower case, brackets and a final '.' removed
  bool assigned = false;
};

std::vector<Word> header_words(std::string_view line) {
  std::vector<Word> out;
  std::size_t i = 0;
  const auto sep = [](char c) { return separator(c) || c == '=' || c == ':' || c == ';'; };
  while (i < line.size()) {
    while (i < line.size() && sep(line[i])) {
      if ((line[i] == ':' || line[i] == '=') && !out.empty()) out.back().assigned = true;
      ++i;
    }
    const std::size_t start = i;
    while (i < line.size() && !sep(line[i])) ++i;
    if (i == start) continue;
    Word w;
    w.raw = line.substr(start, i - start);
    w.key = lower(w.raw);
    while (!w.key.empty() && (w.key.front() == '(' || w.key.front() == '[')) w.key.erase(0, 1);
    while (!w.key.empty() && (w.key.back() == ')' || w.key.back() == ']' || w.key.back() == '.')) w.key.pop_back();
    out.push_back(std::move(w));
  }
  return out;
}

HeaderUnits units_in(const std::vector<Line>& head) {
  struct Found {
    std::string name;
    std::size_t line;
  };
  std::vector<Found> stated, mentioned;
  bool says_motion = false, says_accel = false;
  HeaderUnits h;
  for (const Line& line : head) {
    const std::vector<Word> w = header_words(line.text);
    for (std::size_t i = 0; i < w.size(); ++i) {
      const std::string& t = w[i].key;
      double v = 0.0;
      if (t.rfind("accel", 0) == 0) says_accel = true;
      if (t == "velocity" || t == "velocities" || t == "displacement" || t == "displacements") says_motion = true;
      if (t == "unit" || t == "units") {
        std::size_t j = i + 1;
        const bool of = j < w.size() && w[j].key == "of";
        if (of) ++j;
        if (!(of || w[i].assigned) || j >= w.size()) continue;
        if (const UnitSpelling* u = find_unit(w[j].key)) {
          stated.push_back({std::string(u->name), line.number});
        } else if (is_motion_unit(w[j].key)) {
          h.line = line.number;
          h.motion = "the header gives units '" + std::string(w[j].raw) +
                     "', a velocity or displacement: the file holds no acceleration";
          return h;
        } else if (h.unknown.empty()) {
          h.unknown = std::string(w[j].raw);
          h.line = line.number;
        }
        i = j;
      } else if (t == "g") {
        // A bare "g" counts after "in", "of" or a number ("0.25 G").
        if (i > 0 && (w[i - 1].key == "in" || w[i - 1].key == "of" || parse_number(w[i - 1].key, v))) {
          mentioned.push_back({"g", line.number});
        }
      } else if (const UnitSpelling* u = find_unit(t)) {
        mentioned.push_back({std::string(u->name), line.number});
      } else if (t.size() > 1 && t.back() == 'g' && parse_number(std::string_view(t).substr(0, t.size() - 1), v)) {
        mentioned.push_back({"g", line.number});  // "0.25G"
      }
    }
  }
  if (says_motion && !says_accel) {
    h.motion = "the header names a velocity or displacement and no acceleration: the file holds no acceleration";
    return h;
  }
  if (stated.empty() && !h.unknown.empty()) return h;  // a statement wins over mentions
  h.unknown.clear();
  const std::vector<Found>& use = stated.empty() ? mentioned : stated;
  h.stated = !stated.empty();
  for (const Found& f : use) {
    if (h.name.empty()) {
      h.name = f.name;
      h.line = f.line;
    } else if (f.name != h.name && h.conflict.empty()) {
      h.conflict = "the header " + std::string(h.stated ? "states" : "mentions") + " units '" + h.name +
                   "' (line " + std::to_string(h.line) + ") and '" + f.name + "' (line " + std::to_string(f.line) +
                   ")";
    }
  }
  if (!h.conflict.empty()) {
    for (const Found& f : use) {
      if (std::find(h.candidates.begin(), h.candidates.end(), f.name) == h.candidates.end()) {
        h.candidates.push_back(f.name);
      }
    }
    h.name.clear();
  }
  return h;
}

// ---- the numbers -----------------------------------------------------------------------------

// How many values the rows hold, over all rows and over the rows after the
// first (a count line is the first).
struct RowSizes {
  std::size_t rows = 0, min = SIZE_MAX, max = 0;
  void add(std::size_t n) {
    ++rows;
    min = std::min(min, n);
    max = std::max(max, n);
  }
  bool all(std::size_t n) const { return rows > 0 && min == n && max == n; }
};

struct Rows {
  std::vector<double> values;  // flat
  RowSizes all, rest;
  std::size_t first_size = 0;
  std::size_t first_line = 0, second_line = 0, last_line = 0;
};

// The step of an even time column (every `width`-th value from `offset`), or
// nothing when the times do not rise by one step.
std::optional<double> even_step(const std::vector<double>& v, std::size_t offset, std::size_t width) {
  const std::size_t n = (v.size() - offset) / width;
  if (n < 2) return std::nullopt;
  const double first = v[offset], last = v[offset + (n - 1) * width];
  const double step = (last - first) / static_cast<double>(n - 1);
  if (!(step > 0.0 && std::isfinite(step))) return std::nullopt;
  for (std::size_t i = 1; i < n; ++i) {
    const double d = v[offset + i * width] - v[offset + (i - 1) * width];
    if (!(std::abs(d - step) <= 1e-3 * step)) return std::nullopt;
  }
  return step;
}

// Two steps that agree to the digits a file prints.
bool agree(double a, double b) { return std::abs(a - b) <= 1e-4 * std::max(std::abs(a), std::abs(b)); }

bool whole_count(double n) { return n >= 1.0 && n == std::floor(n) && n < 1e12; }

[[noreturn]] void refuse_dt(const std::string& path, std::size_t line, double dt, const std::string& what) {
  bad_file(path, line,
           what + " = " + number(dt) + " s lies outside " + number(MIN_RECORD_DT) + " to " + number(MAX_RECORD_DT) +
               " s, the sample intervals of accelerograms");
}

// The units of a record read from `path`: the caller's, which must agree with
// the header's, else the header's, else g.
std::string record_units(const std::string& path, const std::string& given, const HeaderUnits& hu) {
  if (!hu.motion.empty()) bad_file(path, hu.line, hu.motion);
  if (given.empty()) {
    if (!hu.conflict.empty()) {
      bad_file(path, hu.line,
               hu.conflict + ": add a line 'UNITS: ...' naming the units of the values, or give units=");
    }
    if (!hu.unknown.empty()) {
      bad_file(path, hu.line,
               "the header gives units '" + hu.unknown +
                   "', not an acceleration unit this reader knows ('g', 'm/s2', 'cm/s2', 'gal', 'cm/s/s' ...): "
                   "give units= to read the values");
    }
    return hu.name.empty() ? "g" : hu.name;
  }
  if (!hu.conflict.empty() &&
      std::find(hu.candidates.begin(), hu.candidates.end(), given) == hu.candidates.end()) {
    bad_file(path, hu.line, hu.conflict + ", and units = '" + given + "' is neither");
  }
  if (!hu.name.empty() && hu.name != given) {
    throw InvalidArgument(path + ": units = '" + given + "' but the header " + (hu.stated ? "states" : "mentions") +
                          " '" + hu.name + "' (line " + std::to_string(hu.line) +
                          "): leave units out, or correct the header");
  }
  return given;
}


// ---- the formats of strong-motion networks ---------------------------------------------------

std::string_view trim(std::string_view s) {
  const std::size_t a = s.find_first_not_of(" \t\f\v");
  if (a == std::string_view::npos) return {};
  const std::size_t b = s.find_last_not_of(" \t\f\v");
  return s.substr(a, b - a + 1);
}

bool starts_with_nocase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && lower(s.substr(0, prefix.size())) == lower(prefix);
}

std::size_t find_nocase(std::string_view s, std::string_view what) { return lower(s).find(lower(what)); }

// The units of a network format's samples, which the format fixes: `given`
// (canonical, or empty) must agree with them.
std::string format_units(const std::string& path, std::size_t line, const std::string& given,
                         std::string_view file_units, std::string_view format) {
  const UnitSpelling* u = find_unit(file_units);
  if (u == nullptr) {
    bad_file(path, line,
             "the " + std::string(format) + " file gives units '" + std::string(file_units) +
                 "', not an acceleration unit this reader knows ('g', 'm/s2', 'cm/s2', 'gal', 'cm/sec2' ...)");
  }
  if (!given.empty() && given != u->name) {
    throw InvalidArgument(path + ": units = '" + given + "' but the " + std::string(format) + " file gives '" +
                          std::string(u->name) + "' (line " + std::to_string(line) +
                          "): leave units out, or correct the file");
  }
  return std::string(u->name);
}

// The step of a network format's file; a dt given must agree with it.
double format_dt(const std::string& path, std::size_t line, double file_dt, double given) {
  if (!(file_dt >= MIN_RECORD_DT && file_dt <= MAX_RECORD_DT)) refuse_dt(path, line, file_dt, "the time step");
  if (given > 0.0 && !agree(given, file_dt)) {
    throw InvalidArgument(path + ": dt = " + number(given) + " s disagrees with the file's step (" + number(file_dt) +
                          " s, line " + std::to_string(line) + "): leave dt out, or correct the file");
  }
  return file_dt;
}

// A Fortran edit descriptor of a fixed-width block: "(8F10.5)", "(10I8)",
// "(5E15.7)": fields a line and the width of each.
struct FixedFormat {
  std::size_t per_line = 0, width = 0;
};

std::optional<FixedFormat> fixed_format(std::string_view text) {
  const std::string t = lower(trim(text));
  std::size_t i = 0;
  while (i < t.size() && (t[i] == '(' || t[i] == ' ')) ++i;
  std::size_t count = 0, width = 0;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) count = 10 * count + (t[i++] - '0');
  if (count == 0) count = 1;
  if (i >= t.size() || std::strchr("ifegd", t[i]) == nullptr) return std::nullopt;
  ++i;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) width = 10 * width + (t[i++] - '0');
  if (width == 0 || width > 40 || count > 100) return std::nullopt;
  return FixedFormat{count, width};
}

// Reads `n` values laid out `fmt.per_line` to a line in fields of `fmt.width`
// characters (fields may touch: "-1.23456-2.34567"), from lines[at]; returns
// the index of the line after the block.
std::size_t read_fixed(const std::string& path, const std::vector<Line>& lines, std::size_t at, std::size_t n,
                       const FixedFormat& fmt, std::string_view what, std::vector<double>& out) {
  out.clear();
  // No more than the lines left can hold: a count the file does not back is
  // refused below, not allocated.
  out.reserve(std::min(n, (lines.size() - std::min(at, lines.size())) * fmt.per_line));
  while (out.size() < n) {
    if (at >= lines.size()) {
      bad_file(path, lines.empty() ? 0 : lines.back().number,
               "the " + std::string(what) + " block ends after " + std::to_string(out.size()) + " of its " +
                   std::to_string(n) + " values: the file is cut short");
    }
    const Line& l = lines[at++];
    const std::size_t fields = std::min(fmt.per_line, n - out.size());
    std::string_view text = l.text;
    const std::size_t end = text.find_last_not_of(" \t");
    text = end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
    if (text.size() > fields * fmt.width) {
      bad_file(path, l.number,
               "the line is longer than its " + std::to_string(fields) + " fields of " + std::to_string(fmt.width) +
                   " characters (" + std::string(what) + " block): " + excerpt(l.text));
    }
    for (std::size_t f = 0; f < fields; ++f) {
      const std::string_view field = f * fmt.width < text.size() ? trim(text.substr(f * fmt.width, fmt.width)) : "";
      double x = 0.0;
      if (field.empty()) {
        bad_file(path, l.number,
                 "the " + std::string(what) + " block's value " + std::to_string(out.size() + 1) + " of " +
                     std::to_string(n) + " is missing (field " + std::to_string(f + 1) + " of the line is blank): "
                     "the file is cut short or damaged");
      }
      if (!parse_number(field, x)) {
        bad_file(path, l.number,
                 "'" + std::string(field) + "' in the " + std::string(what) + " block is not a finite number");
      }
      out.push_back(x);
    }
  }
  return at;
}

// "  100 Integer-header values follow on  10 lines, Format= (10I8)": the count
// and the layout of a COSMOS header block.
struct BlockHead {
  std::size_t count = 0;
  FixedFormat fmt;
};

BlockHead cosmos_block_head(const std::string& path, const Line& l, std::string_view what) {
  const std::vector<std::string_view> w = words(l.text);
  double n = 0.0;
  const std::size_t f = find_nocase(l.text, "format");
  std::optional<FixedFormat> fmt;
  if (f != std::string_view::npos) {
    std::string_view rest = l.text.substr(f + 6);
    const std::size_t open = rest.find('(');
    if (open != std::string_view::npos) fmt = fixed_format(rest.substr(open));
  }
  if (w.empty() || !parse_number(w[0], n) || !whole_count(n) || n > 1e9 || !fmt) {
    bad_file(path, l.number,
             "a COSMOS " + std::string(what) + " line must give a count and a Fortran format ('100 " +
                 std::string(what) + " values follow on 10 lines, Format= (10I8)'), got " + excerpt(l.text));
  }
  return {static_cast<std::size_t>(n), *fmt};
}

// The value of the real header that holds the time increment of processed
// (volume 1 and 2) data, s; counted from 1.
constexpr std::size_t COSMOS_DT_INDEX = 62;
// The null value of COSMOS headers.
constexpr double COSMOS_NULL = -999.0;

Record read_cosmos(const std::string& path, const std::vector<Line>& lines, std::size_t start, double dt,
                   const std::string& given_units) {
  // The integer header follows the text header.
  std::size_t ih = start;
  while (ih < lines.size() && find_nocase(lines[ih].text, "integer-header values follow") == std::string_view::npos) {
    ++ih;
  }
  if (ih - start < 2) bad_file(path, lines[ih].number, "a COSMOS file needs its text header before this line");
  const std::string_view first = lines[start].text;
  if (const std::size_t t = find_nocase(first, "text lines"); t != std::string_view::npos) {
    const std::vector<std::string_view> w = words(first.substr(0, t));
    double stated = 0.0;
    if (!w.empty() && parse_number(w.back(), stated) && stated != static_cast<double>(ih - start)) {
      bad_file(path, lines[ih].number,
               "the first line announces " + number(stated) + " text lines but " + std::to_string(ih - start) +
                   " stand before the integer header: the file is damaged");
    }
  }
  const std::string kind = lower(trim(first.substr(0, std::min<std::size_t>(first.size(), 25))));
  if (kind.find("count") != std::string::npos) {
    bad_file(path, lines[start].number,
             "a COSMOS file of raw counts ('" + std::string(trim(first.substr(0, 25))) +
                 "') has no acceleration units: read the processed (V2) file");
  }
  Record rec;
  rec.name = path;
  if (ih - start >= 2) rec.description = std::string(trim(lines[start + 1].text));
  if (ih - start >= 5) rec.station = std::string(trim(lines[start + 4].text));
  for (std::size_t i = start; i < ih && rec.component.empty(); ++i) {
    // "Chan  1:  90 Deg" / "Chan  3:  Up": the sensor's orientation.
    const std::string_view t = lines[i].text;
    const std::size_t c = find_nocase(t, "chan");
    const std::size_t colon = c == std::string_view::npos ? c : t.find(':', c);
    if (colon == std::string_view::npos || colon - c > 12) continue;
    const std::vector<std::string_view> w = words(t.substr(colon + 1));
    if (!w.empty()) rec.component = std::string(w[0]) + (w.size() > 1 && lower(w[1]) == "deg" ? " deg" : "");
  }

  std::vector<double> values;
  const BlockHead ints = cosmos_block_head(path, lines[ih], "Integer-header");
  std::size_t at = read_fixed(path, lines, ih + 1, ints.count, ints.fmt, "integer header", values);
  if (at >= lines.size() || find_nocase(lines[at].text, "real-header values follow") == std::string_view::npos) {
    bad_file(path, at < lines.size() ? lines[at].number : lines.back().number,
             "the real header ('... Real-header values follow ...') must follow the integer header");
  }
  const BlockHead reals = cosmos_block_head(path, lines[at], "Real-header");
  const std::size_t reals_line = lines[at].number;
  at = read_fixed(path, lines, at + 1, reals.count, reals.fmt, "real header", values);
  const bool has_dt = values.size() >= COSMOS_DT_INDEX && values[COSMOS_DT_INDEX - 1] != COSMOS_NULL;
  const double header_dt = has_dt ? values[COSMOS_DT_INDEX - 1] : 0.0;

  // Comments, then the data blocks: the first acceleration block is read.
  for (; at < lines.size(); ++at) {
    const Line& l = lines[at];
    if (trim(l.text).empty() || trim(l.text).front() == '|') continue;
    if (find_nocase(l.text, "comment line") != std::string_view::npos) continue;
    if (find_nocase(l.text, "end-of-data") != std::string_view::npos) continue;
    const std::size_t pts = find_nocase(l.text, " pts");
    const std::vector<std::string_view> w = words(l.text);
    double n = 0.0;
    if (pts == std::string_view::npos || w.size() < 2 || !parse_number(w[0], n) || !whole_count(n) || n > 1e9) {
      bad_file(path, l.number,
               "expected a COSMOS data block line ('8000 acceleration pts, approx 40 secs, units=cm/sec2 (04), "
               "Format=(8F10.5)'), got " + excerpt(l.text));
    }
    const std::size_t f = find_nocase(l.text, "format");
    const std::size_t open = f == std::string_view::npos ? f : l.text.find('(', f);
    const std::optional<FixedFormat> fmt =
        open == std::string_view::npos ? std::nullopt : fixed_format(l.text.substr(open));
    if (!fmt) bad_file(path, l.number, "the data block line gives no Fortran format ('Format=(8F10.5)')");
    const auto count = static_cast<std::size_t>(n);
    const std::string kind_word = lower(w[1]);
    if (kind_word.rfind("accel", 0) != 0) {  // velocity, displacement: passed over
      at = read_fixed(path, lines, at + 1, count, *fmt, kind_word, values) - 1;
      continue;
    }
    // Units: "units=cm/sec2 (04)".
    const std::size_t u = find_nocase(l.text, "units");
    if (u == std::string_view::npos) bad_file(path, l.number, "the acceleration block line names no units");
    std::string_view ut = l.text.substr(u + 5);
    while (!ut.empty() && (ut.front() == '=' || ut.front() == ' ' || ut.front() == ':')) ut.remove_prefix(1);
    ut = ut.substr(0, ut.find_first_of(" (,"));
    rec.units = format_units(path, l.number, given_units, ut, "COSMOS");
    // The step, checked against the block's stated duration ("approx 40 secs").
    if (!has_dt && dt <= 0.0) {
      bad_file(path, reals_line,
               "the real header gives no time increment (value " + std::to_string(COSMOS_DT_INDEX) +
                   " is missing or null): give dt");
    }
    rec.dt = has_dt ? format_dt(path, reals_line, header_dt, dt) : dt;
    if (const std::size_t a = find_nocase(l.text, "approx"); a != std::string_view::npos) {
      const std::vector<std::string_view> aw = words(l.text.substr(a + 6));
      double secs = 0.0;
      if (!aw.empty() && parse_number(aw[0], secs)) {
        const double span = static_cast<double>(count) * rec.dt;
        if (std::abs(span - secs) > std::max(1.0, 0.02 * secs)) {
          bad_file(path, l.number,
                   "the block states about " + number(secs) + " s but " + std::to_string(count) +
                       " samples at the real header's step " + number(rec.dt) + " s span " + number(span) +
                       " s: the step or the count is wrong");
        }
      }
    }
    read_fixed(path, lines, at + 1, count, *fmt, "acceleration", rec.accel);
    check_record(rec);
    return rec;
  }
  bad_file(path, 0, "the COSMOS file holds no acceleration block");
}

// K-NET / KiK-net ASCII: "Key  value" header lines up to "Memo.", then
// integer counts, 8 to a line.
constexpr std::size_t KNET_PER_LINE = 8;

Record read_knet(const std::string& path, const std::vector<Line>& lines, std::size_t start, double dt,
                 const std::string& given_units) {
  Record rec;
  rec.name = path;
  std::optional<double> freq, factor, duration;
  std::size_t freq_line = 0, factor_line = 0, memo = lines.size();
  std::string origin, magnitude, file_units;
  const auto value_of = [](std::string_view text, std::string_view key) { return trim(text.substr(key.size())); };
  for (std::size_t i = start; i < lines.size(); ++i) {
    const Line& l = lines[i];
    if (starts_with_nocase(l.text, "Memo.")) {
      memo = i;
      break;
    }
    if (starts_with_nocase(l.text, "Sampling Freq(Hz)")) {
      std::string v(value_of(l.text, "Sampling Freq(Hz)"));
      if (lower(v).size() >= 2 && lower(v).substr(v.size() - 2) == "hz") v.resize(v.size() - 2);
      double f = 0.0;
      if (!parse_number(trim(v), f) || !(f > 0.0)) {
        bad_file(path, l.number, "the sampling frequency must be a positive number of Hz ('100Hz'), got " +
                                     excerpt(value_of(l.text, "Sampling Freq(Hz)")));
      }
      freq = f;
      freq_line = l.number;
    } else if (starts_with_nocase(l.text, "Scale Factor")) {
      // "7845(gal)/8223790": physical units per count = 7845 / 8223790 gal.
      const std::string_view v = value_of(l.text, "Scale Factor");
      const std::size_t open = v.find('('), close = v.find(')'), slash = v.find('/', close == v.npos ? 0 : close);
      double num = 0.0, den = 0.0;
      if (open == v.npos || close == v.npos || close < open || slash == v.npos ||
          !parse_number(trim(v.substr(0, open)), num) || !parse_number(trim(v.substr(slash + 1)), den) ||
          !(num > 0.0) || !(den > 0.0)) {
        bad_file(path, l.number, "the scale factor must read 'A(gal)/B' with A and B positive, got " + excerpt(v));
      }
      file_units = std::string(trim(v.substr(open + 1, close - open - 1)));
      factor = num / den;
      factor_line = l.number;
    } else if (starts_with_nocase(l.text, "Duration Time(s)")) {
      double d = 0.0;
      if (parse_number(value_of(l.text, "Duration Time(s)"), d)) duration = d;
    } else if (starts_with_nocase(l.text, "Station Code")) {
      rec.station = std::string(value_of(l.text, "Station Code"));
    } else if (starts_with_nocase(l.text, "Dir.")) {
      rec.component = std::string(value_of(l.text, "Dir."));
    } else if (starts_with_nocase(l.text, "Origin Time")) {
      origin = std::string(value_of(l.text, "Origin Time"));
    } else if (starts_with_nocase(l.text, "Mag.")) {
      magnitude = std::string(value_of(l.text, "Mag."));
    }
  }
  if (memo == lines.size()) bad_file(path, 0, "a K-NET file's header ends with a 'Memo.' line; none was found");
  if (!freq) bad_file(path, lines[memo].number, "the K-NET header has no 'Sampling Freq(Hz)' line");
  if (!factor) bad_file(path, lines[memo].number, "the K-NET header has no 'Scale Factor' line");
  rec.units = format_units(path, factor_line, given_units, file_units, "K-NET");
  rec.dt = format_dt(path, freq_line, 1.0 / *freq, dt);
  if (!origin.empty()) rec.description = "origin time " + origin + (magnitude.empty() ? "" : ", M " + magnitude);

  std::size_t last_line = 0, last_size = KNET_PER_LINE;
  for (std::size_t i = memo + 1; i < lines.size(); ++i) {
    const Line& l = lines[i];
    std::size_t size = 0;
    bool bad = false;
    std::string_view bad_token;
    for_each_token(l.text, [&](std::string_view t) {
      double x = 0.0;
      if (!bad && (!parse_number(t, x) || x != std::floor(x))) {
        bad = true;
        bad_token = t;
      }
      if (!bad) {
        rec.accel.push_back(x);
        ++size;
      }
    });
    if (bad) bad_file(path, l.number, "'" + std::string(bad_token) + "' is not a whole count (K-NET data are counts)");
    if (size == 0) continue;
    if (last_size != KNET_PER_LINE) {
      bad_file(path, last_line,
               "a line of " + std::to_string(last_size) + " counts before further data: every line but the last "
               "holds 8; the file is damaged");
    }
    if (size > KNET_PER_LINE) bad_file(path, l.number, std::to_string(size) + " counts on a line, more than 8");
    last_size = size;
    last_line = l.number;
  }
  if (rec.accel.empty()) bad_file(path, lines[memo].number, "no counts follow the 'Memo.' line");
  const double n = static_cast<double>(rec.accel.size());
  if (duration && std::abs(n * rec.dt - *duration) > std::max(1.0, 0.01 * *duration)) {
    bad_file(path, last_line,
             std::to_string(rec.accel.size()) + " samples at " + number(rec.dt) + " s span " + number(n * rec.dt) +
                 " s, but the header's duration is " + number(*duration) + " s: the file is cut short or damaged");
  }
  // Counts to acceleration, less the mean (the records carry an offset).
  double mean = 0.0;
  for (double& x : rec.accel) {
    x *= *factor;
    mean += x;
  }
  mean /= n;
  for (double& x : rec.accel) x -= mean;
  check_record(rec);
  return rec;
}

}  // namespace

std::string_view acceleration_unit_name(std::string_view units) {
  if (const UnitSpelling* u = find_unit(units)) return u->name;
  throw InvalidArgument("units must be 'g', 'm/s2' or 'cm/s2' (also spelt 'gal', 'cm/s^2', 'cm/s/s', 'm/s**2' ...), "
                        "got '" + std::string(units) + "'");
}

double acceleration_unit(std::string_view units) {
  const std::string_view name = acceleration_unit_name(units);
  if (name == "g") return STANDARD_GRAVITY;
  if (name == "m/s2") return 1.0;
  return 0.01;
}

void check_record_dt(double dt) {
  if (!(dt >= MIN_RECORD_DT && dt <= MAX_RECORD_DT)) {
    throw InvalidArgument("dt must lie between " + number(MIN_RECORD_DT) + " and " + number(MAX_RECORD_DT) +
                          " s (the sample interval of an accelerogram), got " + number(dt));
  }
}

void check_record(const Record& r) {
  if (r.accel.empty()) throw InvalidArgument("the record has no samples");
  check_record_dt(r.dt);
  for (std::size_t i = 0; i < r.accel.size(); ++i) {
    if (!std::isfinite(r.accel[i])) {
      throw InvalidArgument("accel[" + std::to_string(i) + "] must be finite, got " + number(r.accel[i]));
    }
  }
  acceleration_unit(r.units);
}

std::string header_units(std::string_view text) {
  std::vector<Line> head;
  std::size_t n = 1, start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view l = text.substr(start, end - start);
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    head.push_back({l, n++});
    start = end + 1;
  }
  const HeaderUnits h = units_in(head);
  if (!h.motion.empty()) throw InvalidArgument(h.motion);
  if (!h.conflict.empty()) throw InvalidArgument(h.conflict);
  if (!h.unknown.empty()) {
    throw InvalidArgument("the header gives units '" + h.unknown + "', not an acceleration unit this reader knows");
  }
  return h.name;
}

Record read_record(const std::string& path, double dt, std::string_view units, std::size_t skip_header) {
  if (path.find('\0') != std::string::npos) {
    throw InvalidArgument("the record's path holds a NUL byte, which no file name has: '" +
                          path.substr(0, path.find('\0')) + "\\0...'");
  }
  if (!(dt == 0.0 || (dt >= MIN_RECORD_DT && dt <= MAX_RECORD_DT))) {
    throw InvalidArgument("dt must lie between " + number(MIN_RECORD_DT) + " and " + number(MAX_RECORD_DT) +
                          " s (or be left out to take the file's), got " + number(dt));
  }
  const std::string given_units = units.empty() ? std::string() : std::string(acceleration_unit_name(units));
  const std::string text = read_text(path);

  // Lines; a last line without its line end is refused (a file cut short).
  std::vector<Line> lines;
  {
    std::size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0, n = 1;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      const bool ended = end != std::string::npos;
      if (!ended) end = text.size();
      std::string_view l(text.data() + start, end - start);
      if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
      if (!ended && l.find_first_not_of(" \t\f\v") != std::string_view::npos) {
        bad_file(path, n,
                 "the last line has no line end: the file looks cut short (if it is whole, end it with a line "
                 "break)");
      }
      lines.push_back({l, n++});
      start = end + 1;
    }
  }
  if (skip_header > lines.size()) {
    bad_file(path, 0,
             "skip_header = " + std::to_string(skip_header) + " but the file has " + std::to_string(lines.size()) +
                 " lines");
  }

  // The formats of strong-motion networks, known by their header lines.
  for (std::size_t i = skip_header; i < lines.size() && i < skip_header + 64; ++i) {
    const std::string_view t = lines[i].text;
    if (find_nocase(t, "integer-header values follow") != std::string_view::npos) {
      return read_cosmos(path, lines, skip_header, dt, given_units);
    }
    if (starts_with_nocase(t, "Scale Factor") || starts_with_nocase(t, "Sampling Freq(Hz)")) {
      return read_knet(path, lines, skip_header, dt, given_units);
    }
  }

  // The header: the lines before the first line written as numbers.
  const auto numbers_of = [](std::string_view line, std::vector<double>& out) {
    bool ok = true;
    for_each_token(line, [&](std::string_view t) {
      double x = 0.0;
      if (ok && parse_number(t, x)) {
        out.push_back(x);
      } else {
        ok = false;
      }
    });
    return ok;
  };
  const auto number_line = [](std::string_view line) {
    bool any = false, all = true;
    for_each_token(line, [&](std::string_view t) {
      any = true;
      all = all && number_shaped(t);
    });
    return any && all;
  };
  std::size_t first = skip_header;
  while (first < lines.size() && !number_line(lines[first].text)) ++first;
  if (first == lines.size()) bad_file(path, 0, "holds no line of numbers");
  const std::vector<Line> head(lines.begin() + static_cast<std::ptrdiff_t>(skip_header),
                               lines.begin() + static_cast<std::ptrdiff_t>(first));
  HeaderGrid grid;
  for (const Line& l : head) read_grid(path, l, grid);
  const HeaderUnits hu = units_in(head);

  // The numbers, and the written form of each column's fields.
  Rows rows;
  std::vector<Shape> shapes;  // per column, over the rows before the last
  std::vector<bool> uniform;
  std::vector<std::string_view> last_tokens;
  for (std::size_t i = first; i < lines.size(); ++i) {
    const std::size_t before = rows.values.size();
    if (!numbers_of(lines[i].text, rows.values)) {
      std::string what = "not a list of numbers: " + excerpt(lines[i].text);
      for_each_token(lines[i].text, [&](std::string_view t) {
        double x = 0.0;
        if (number_shaped(t) && !parse_number(t, x) && what.rfind("not a list", 0) == 0) {
          what = "'" + std::string(t) + "' is not a finite number";
        }
      });
      bad_file(path, lines[i].number, what);
    }
    const std::size_t size = rows.values.size() - before;
    if (size == 0) continue;  // a blank line
    for (std::size_t c = 0; c < last_tokens.size(); ++c) {
      const Shape s = shape_of(last_tokens[c]);
      if (c >= shapes.size()) {
        shapes.push_back(s);
        uniform.push_back(true);
      } else if (!(shapes[c] == s)) {
        uniform[c] = false;
      }
    }
    last_tokens.clear();
    for_each_token(lines[i].text, [&](std::string_view t) { last_tokens.push_back(t); });
    if (rows.all.rows == 0) {
      rows.first_size = size;
      rows.first_line = lines[i].number;
    } else {
      if (rows.rest.rows == 0) rows.second_line = lines[i].number;
      rows.rest.add(size);
    }
    rows.all.add(size);
    rows.last_line = lines[i].number;
  }
  // A fixed-width E field with fewer digits than every field above it in
  // its column: the file was cut inside its last number.
  for (std::size_t c = 0; c < last_tokens.size() && c < shapes.size(); ++c) {
    if (uniform[c] && shapes[c].exponent >= 0 && !(shape_of(last_tokens[c]) == shapes[c])) {
      bad_file(path, rows.last_line,
               "the field '" + std::string(last_tokens[c]) + "' is shorter than the fields above it (" +
                   std::to_string(shapes[c].fraction) + " decimals, " + std::to_string(shapes[c].exponent) +
                   " exponent digits): the file looks cut short");
    }
  }

  const std::vector<double>& v = rows.values;
  // A first line of two numbers "N DT" is a count and a step when what
  // follows holds N samples (N values, or N time, value pairs rising by DT),
  // unless the whole file reads as time, value pairs.
  const bool pairs_from_top = rows.all.all(2) && even_step(v, 0, 2).has_value();
  bool count_line = false;
  if (!pairs_from_top && rows.first_size == 2 && rows.rest.rows > 0 && whole_count(v[0]) && v[1] > 0.0 &&
      (!grid.npts || *grid.npts == v[0])) {
    const double n = v[0];
    const std::size_t rest_values = v.size() - 2;
    count_line = static_cast<double>(rest_values) == n ||
                 (rows.rest.all(2) && static_cast<double>(rows.rest.rows) == n && even_step(v, 2, 2).has_value());
  }
  std::optional<double> count = grid.npts, file_dt = grid.dt;
  std::size_t count_at = grid.npts_line, dt_at = grid.dt_line;
  std::size_t offset = 0;
  RowSizes sizes = rows.all;
  std::size_t data_line = rows.first_line;
  if (count_line) {
    count = v[0];
    file_dt = v[1];
    count_at = dt_at = rows.first_line;
    offset = 2;
    sizes = rows.rest;
    data_line = rows.second_line;
  }
  if (count && !whole_count(*count)) {
    bad_file(path, count_at, "the count of samples must be a whole number of at least 1, got " + number(*count));
  }
  if (file_dt && !(*file_dt >= MIN_RECORD_DT && *file_dt <= MAX_RECORD_DT)) refuse_dt(path, dt_at, *file_dt, "DT");

  Record rec;
  rec.name = path;
  const std::size_t n_values = v.size() - offset;
  const std::optional<double> step = sizes.all(2) ? even_step(v, offset, 2) : std::nullopt;
  const auto given_dt_agrees = [&](double file_step, const std::string& where) {
    if (dt > 0.0 && !agree(dt, file_step)) {
      throw InvalidArgument(path + ": dt = " + number(dt) + " s disagrees with " + where + " (" + number(file_step) +
                            " s): leave dt out, or correct the file");
    }
  };
  if (step && (!count || static_cast<double>(sizes.rows) == *count)) {
    // Time, value pairs.
    if (file_dt && !agree(*file_dt, *step)) {
      bad_file(path, dt_at,
               "the step " + number(*file_dt) + " s disagrees with the time column, which rises by " + number(*step) +
                   " s");
    }
    given_dt_agrees(*step, "the file's time column");
    rec.accel.reserve(sizes.rows);
    for (std::size_t i = 0; i < sizes.rows; ++i) rec.accel.push_back(v[offset + 2 * i + 1]);
    rec.dt = *step;
    if (!(rec.dt >= MIN_RECORD_DT && rec.dt <= MAX_RECORD_DT)) refuse_dt(path, data_line, rec.dt, "the time step");
  } else if (step && sizes.rows >= 3 && count && static_cast<double>(n_values) == *count) {
    bad_file(path, count_at,
             "the file announces " + number(*count) + " samples, as many as its numbers, but they stand in " +
                 std::to_string(sizes.rows) + " lines of two whose first column rises by one step, as times do: "
                 "write time, value pairs with a count of lines, or the values alone");
  } else if (sizes.all(1) || (count && static_cast<double>(n_values) == *count)) {
    // Values in order: one a line, or several a line with a count that
    // confirms them.
    if (count && static_cast<double>(n_values) != *count) {
      bad_file(path, count_at,
               "the file announces " + number(*count) + " samples but holds " + std::to_string(n_values) + " values");
    }
    if (file_dt) {
      given_dt_agrees(*file_dt, "the file's step on line " + std::to_string(dt_at));
      rec.dt = *file_dt;
    } else if (dt > 0.0) {
      rec.dt = dt;
    } else {
      bad_file(path, data_line,
               "a list of values without times or a step: give dt, or put the count and step on a line before the "
               "values ('2000 0.01')");
    }
    rec.accel.assign(v.begin() + static_cast<std::ptrdiff_t>(offset), v.end());
  } else if (count) {
    bad_file(path, count_at,
             "the file announces " + number(*count) + " samples but holds " +
                 (sizes.all(2) ? std::to_string(sizes.rows) + " lines of two numbers"
                               : std::to_string(n_values) + " values"));
  } else if (rows.first_size == 2 && rows.rest.rows > 0 && whole_count(v[0]) && v[1] > 0.0) {
    bad_file(path, rows.first_line,
             "'" + number(v[0]) + " " + number(v[1]) + "' reads as a count and a step, but the " +
                 std::to_string(rows.rest.rows) + " lines after it hold " + std::to_string(v.size() - 2) +
                 " values" + (rows.rest.all(2) ? " (pairs whose times do not rise by the step)" : "") +
                 ": the file is cut short, or its count is wrong");
  } else if (sizes.all(2)) {
    bad_file(path, data_line,
             "two numbers a line, but the first column does not rise by one step, so it is no time column: write "
             "time, value pairs with evenly spaced times, or one value a line (then give dt)");
  } else {
    bad_file(path, data_line,
             "lines of " +
                 (sizes.min == sizes.max ? std::to_string(sizes.min)
                                         : std::to_string(sizes.min) + " to " + std::to_string(sizes.max)) +
                 " numbers and no count of samples: the reader cannot tell times from values. Write one value a "
                 "line (then give dt), time, value pairs, or the count and step on a line before the values "
                 "('2000 0.01', or NPTS= and DT= in the header)");
  }
  rec.units = record_units(path, given_units, hu);
  // The event: a PEER file's second line, or the title above a count line.
  if (head.size() >= 2 && (grid.npts || count_line)) {
    rec.description = std::string(trim(head[1].text));
  } else if (head.size() == 1 && count_line) {
    rec.description = std::string(trim(head[0].text));
  }
  check_record(rec);
  return rec;
}

}  // namespace velmar
