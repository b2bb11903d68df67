// text_input.hpp: reading the deck and the signal file.
//
// Three operations on a line source, which is read strictly forwards:
//   read_text_line  the next line whole (a file name)
//   skip_line       pass over the next line
//   scan_group      a free-format group of numbers, possibly over several lines
//
// Free-format rules: values are separated by blanks, tabs, commas (with any
// blanks around them) and line ends; r*v stands for r copies of v and r* for
// r empty values; an empty value (nothing between two commas, or a comma
// opening the group) leaves its target as it was; a slash ends the group at
// once; when the last target is filled the rest of that line is skipped, and
// lines after the group are not touched. Integers are an optional sign and
// digits; floats add an optional decimal point and an exponent introduced by
// E, D or Q (either case).
//
// Every failure throws RunStop with exit status 2 and one line
//   <source>:<line>: <what is wrong>: '<offending text>'
// where <source> is the file name or "standard input".
#pragma once

#include <cstdint>
#include <istream>
#include <span>
#include <string>
#include <string_view>

namespace velmar::console {

class LineSource {
 public:
  LineSource(std::istream& in, std::string name) : in_(in), name_(std::move(name)) {}

  // Reads the next line into line(); false at the end of the source.
  // A trailing carriage return (CRLF line ends) is not part of the line, nor
  // is a UTF-8 byte-order mark at the very start of the source. A read error
  // of the stream (a closed standard input, a folder) throws the input error.
  bool next_line();
  const std::string& line() const { return line_; }
  // Lines are counted in 64 bits: a source of more than 2^31 lines still
  // gets the right number in its messages.
  std::int64_t line_number() const { return number_; }
  const std::string& name() const { return name_; }

  // Throws the input error for line `line`: "<name>:<line>: <what>: '<text>'".
  [[noreturn]] void fail(std::int64_t line, std::string_view what, std::string_view text) const;
  // The same, for the end of the source met where `expected` was needed.
  [[noreturn]] void fail_at_end(std::string_view expected) const;

 private:
  std::istream& in_;
  std::string name_;
  std::string line_;
  std::int64_t number_ = 0;
};

// Throws RunStop (status 2) with the one-line input error
// "<source>:<line>: <what>: '<text>'", the text quoted by quote_text.
[[noreturn]] void fail_at(std::string_view source, std::int64_t line, std::string_view what, std::string_view text);

// Quoted form of an offending text for a message: at most 40 characters,
// bytes outside printable ASCII shown as \xHH, so a message stays one line.
std::string quote_text(std::string_view text);

// Next line whole, less trailing blanks; `what` names it in the error at the end of the source.
std::string read_text_line(LineSource& src, std::string_view what);
void skip_line(LineSource& src, std::string_view what);

enum class ValueKind { Int, Float };

// One value of a group as it was found: its line and its text (valid during the callback).
struct ValueAt {
  std::int64_t line = 0;
  std::string_view text;
};

// Parses one value of the given kind. Returns an empty string when it is
// well formed and fits, otherwise the reason it is refused.
std::string_view parse_int(std::string_view text, std::int32_t& out);
std::string_view parse_float(std::string_view text, float& out);

// Receiver of a group's values. kind(i) is the kind of target i (0-based);
// name(i) names it in messages; put_int/put_float fill target i with a value
// read at `at` and may refuse it by calling LineSource::fail. An empty value
// calls nothing, so its target keeps what it held.
class GroupSink {
 public:
  virtual ~GroupSink() = default;
  virtual ValueKind kind(int i) const = 0;
  virtual std::string name(int i) const = 0;
  virtual void put_int(int i, std::int32_t v, const ValueAt& at) = 0;
  virtual void put_float(int i, float v, const ValueAt& at) = 0;
};

// Scans one free-format group of `count` targets (count >= 1) from the next line on.
// Returns the number of targets passed (count, or fewer when a slash ended the group).
// `what` names the group in the error raised at the end of the source.
int scan_group(LineSource& src, int count, GroupSink& sink, std::string_view what);

}  // namespace velmar::console
