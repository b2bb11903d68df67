// record.cpp: acceleration records: checks and reading from the common text
// formats.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/motion.hpp"

namespace velmar {

using detail::lower;
using detail::number;
namespace {

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

// Splits a line at blanks, tabs and commas.
std::vector<std::string_view> tokens(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (std::isspace(static_cast<unsigned char>(line[i])) || line[i] == ',')) ++i;
    const std::size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])) && line[i] != ',') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

// The numbers of a line, or false if some token is not a number.
bool numbers_of(std::string_view line, std::vector<double>& v) {
  v.clear();
  for (std::string_view t : tokens(line)) {
    double x = 0.0;
    if (!parse_number(t, x)) return false;
    v.push_back(x);
  }
  return true;
}

[[noreturn]] void bad_file(const std::string& path, std::size_t line, const std::string& what) {
  std::ostringstream s;
  s << path;
  if (line > 0) s << ':' << line;
  s << ": " << what;
  throw FileError(s.str());
}

// NPTS and DT of a PEER header line: "NPTS=  5590, DT=   .0050 SEC" or
// "4096    0.0100    NPTS, DT". False if the line is neither.
bool peer_header(std::string_view line, double& npts, double& dt) {
  const std::string l = lower(line);
  const auto after = [&](std::string_view key, double& v) {
    const std::size_t k = l.find(key);
    if (k == std::string::npos) return false;
    std::size_t i = k + key.size();
    while (i < l.size() && (l[i] == ' ' || l[i] == '=' || l[i] == '\t')) ++i;
    std::size_t j = i;
    while (j < l.size() && (std::isdigit(static_cast<unsigned char>(l[j])) || l[j] == '.' || l[j] == 'e' ||
                            l[j] == '-' || l[j] == '+')) {
      ++j;
    }
    return parse_number(std::string_view(l).substr(i, j - i), v);
  };
  if (l.find("npts") == std::string::npos) return false;
  if (l.find("npts=") != std::string::npos || l.find("npts =") != std::string::npos) {
    return after("npts", npts) && after("dt", dt);
  }
  // Style "4096 0.0100 NPTS, DT": the first two numbers.
  std::vector<double> v;
  for (std::string_view t : tokens(line)) {
    double x = 0.0;
    if (parse_number(t, x)) v.push_back(x);
    if (v.size() == 2) break;
  }
  if (v.size() < 2) return false;
  npts = v[0];
  dt = v[1];
  return true;
}

}  // namespace

double acceleration_unit(std::string_view units) {
  const std::string u = lower(units);
  if (u == "g") return STANDARD_GRAVITY;
  if (u == "m/s2" || u == "m/s^2" || u == "m/s**2") return 1.0;
  if (u == "cm/s2" || u == "cm/s^2" || u == "cm/s**2" || u == "gal") return 0.01;
  throw InvalidArgument("units must be 'g', 'm/s2' or 'cm/s2', got '" + std::string(units) + "'");
}

void check_record(const Record& r) {
  if (r.accel.empty()) throw InvalidArgument("the record has no samples");
  if (!(std::isfinite(r.dt) && r.dt > 0.0)) {
    throw InvalidArgument("dt must be a finite value above 0 s, got " + number(r.dt));
  }
  for (std::size_t i = 0; i < r.accel.size(); ++i) {
    if (!std::isfinite(r.accel[i])) {
      throw InvalidArgument("accel[" + std::to_string(i) + "] must be finite, got " + number(r.accel[i]));
    }
  }
  acceleration_unit(r.units);
}

Record read_record(const std::string& path, double dt, std::string units) {
  if (!(dt >= 0.0 && std::isfinite(dt))) {
    throw InvalidArgument("dt must be a finite value above 0 s (or not given), got " + number(dt));
  }
  acceleration_unit(units);
  std::ifstream in(path, std::ios::binary);
  if (!in) bad_file(path, 0, "cannot be opened for reading");
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(std::move(l));
  }
  if (in.bad()) bad_file(path, 0, "read error");
  if (!lines.empty() && lines[0].rfind("\xEF\xBB\xBF", 0) == 0) lines[0].erase(0, 3);

  Record rec;
  rec.name = path;  // units stay "g" for a PEER file
  std::vector<double> v;
  // PEER NGA: the count and step on the fourth line, values in g after it.
  double npts = 0.0, file_dt = 0.0;
  if (lines.size() >= 4 && peer_header(lines[3], npts, file_dt)) {
    if (!(npts >= 0.0 && npts == std::floor(npts) && npts < 1e12)) {
      bad_file(path, 4, "NPTS must be a whole number, got " + number(npts));
    }
    for (std::size_t i = 4; i < lines.size(); ++i) {
      if (!numbers_of(lines[i], v)) bad_file(path, i + 1, "not a list of numbers: '" + lines[i].substr(0, 40) + "'");
      rec.accel.insert(rec.accel.end(), v.begin(), v.end());
    }
    if (static_cast<double>(rec.accel.size()) != npts) {
      bad_file(path, 4, "the header announces NPTS = " + number(npts) + " values but the file holds " +
                            std::to_string(rec.accel.size()));
    }
    rec.dt = dt > 0.0 ? dt : file_dt;
    if (!(rec.dt > 0.0)) bad_file(path, 4, "DT must be above 0, got " + number(file_dt));
    check_record(rec);
    return rec;
  }
  rec.units = std::move(units);
  // Columns: header lines (any line that is not all numbers) before the
  // first line of numbers, then numbers to the end (blank lines skipped).
  std::size_t first = 0;
  while (first < lines.size() && (!numbers_of(lines[first], v) || v.empty())) ++first;
  if (first == lines.size()) bad_file(path, 0, "holds no line of numbers");
  std::vector<std::vector<double>> rows;
  for (std::size_t i = first; i < lines.size(); ++i) {
    if (!numbers_of(lines[i], v)) bad_file(path, i + 1, "not a list of numbers: '" + lines[i].substr(0, 40) + "'");
    if (!v.empty()) rows.push_back(v);
  }
  const bool two_columns = std::all_of(rows.begin(), rows.end(), [](const auto& r) { return r.size() == 2; });
  if (two_columns && rows.size() >= 2) {
    // Time and value: the times must rise by one step throughout.
    const double step = (rows.back()[0] - rows.front()[0]) / static_cast<double>(rows.size() - 1);
    bool even = step > 0.0;
    for (std::size_t i = 1; even && i < rows.size(); ++i) {
      const double d = rows[i][0] - rows[i - 1][0];
      even = std::abs(d - step) <= 1e-3 * step;
    }
    if (even) {
      for (const auto& r : rows) rec.accel.push_back(r[1]);
      rec.dt = dt > 0.0 ? dt : step;
      check_record(rec);
      return rec;
    }
    if (!(dt > 0.0)) {
      bad_file(path, first + 1, "two columns whose first does not rise by an even step: give dt to read the values in order");
    }
  }
  for (const auto& r : rows) rec.accel.insert(rec.accel.end(), r.begin(), r.end());
  if (!(dt > 0.0)) bad_file(path, first + 1, "a list of values without times: dt must be given");
  rec.dt = dt;
  check_record(rec);
  return rec;
}

}  // namespace velmar
