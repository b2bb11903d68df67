#include "console/driver/text_input.hpp"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

#include "console/driver/run_stop.hpp"

namespace velmar::console {

namespace {

// The longest line read, 16 MiB: far beyond any deck line or record line (a
// record of 30000 samples written on one line is under 1 MB).
constexpr std::size_t MAX_LINE = std::size_t{1} << 24;

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

}  // namespace

bool LineSource::next_line() {
  // Read byte by byte up to the line end, so that a source with no line ends
  // (a disk image, a device) is refused at MAX_LINE instead of filling memory.
  line_.clear();
  std::streambuf* buf = in_.rdbuf();
  // The stream buffer reports a failed read (EBADF, EIO, EISDIR) by throwing;
  // it becomes the input error of the line being read.
  auto next_byte = [&]() -> int {
    try {
      return buf ? buf->sbumpc() : EOF;
    } catch (const std::system_error& e) {
      fail(number_ + 1, "cannot read the input (" + e.code().message() + ")", line_);
    } catch (const std::exception&) {
      fail(number_ + 1, "cannot read the input", line_);
    }
  };
  int c = next_byte();
  if (c == EOF) {
    in_.setstate(std::ios::eofbit);
    return false;
  }
  ++number_;
  while (c != EOF && c != '\n') {
    if (line_.size() == MAX_LINE) fail(number_, "line longer than " + std::to_string(MAX_LINE) + " bytes", line_);
    line_.push_back(static_cast<char>(c));
    c = next_byte();
  }
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  // A byte-order mark some editors put at the start of a UTF-8 file is not
  // text: left in, it would become part of a file name or a bad number.
  if (number_ == 1 && line_.starts_with(UTF8_BOM)) line_.erase(0, UTF8_BOM.size());
  return true;
}

void fail_at(std::string_view source, std::int64_t line, std::string_view what, std::string_view text) {
  std::string msg(source);
  msg += ":" + std::to_string(line) + ": ";
  msg += what;
  msg += ": ";
  msg += quote_text(text);
  msg += '\n';
  throw RunStop(EXIT_INPUT, {}, msg);
}

void LineSource::fail(std::int64_t line, std::string_view what, std::string_view text) const {
  fail_at(name_, line, what, text);
}

void LineSource::fail_at_end(std::string_view expected) const {
  std::string msg = name_ + ":" + std::to_string(number_ + 1) + ": ";
  msg += number_ == 0 ? "empty input, " : "input ends early, ";
  msg += "expected ";
  msg += expected;
  msg += ": ''\n";
  throw RunStop(EXIT_INPUT, {}, msg);
}

std::string quote_text(std::string_view text) {
  constexpr std::size_t MAX_SHOWN = 40;
  static const char HEX[] = "0123456789abcdef";
  std::string q = "'";
  std::size_t shown = 0;
  for (char ch : text) {
    if (shown == MAX_SHOWN) {
      q += "...";
      break;
    }
    const auto u = static_cast<unsigned char>(ch);
    if (u >= 0x20 && u < 0x7f) {
      q += ch;
    } else {
      q += "\\x";
      q += HEX[u >> 4];
      q += HEX[u & 15];
    }
    ++shown;
  }
  q += '\'';
  return q;
}

std::string read_text_line(LineSource& src, std::string_view what) {
  if (!src.next_line()) src.fail_at_end(what);
  std::string s = src.line();
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

void skip_line(LineSource& src, std::string_view what) {
  if (!src.next_line()) src.fail_at_end(what);
}

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Length of a run of digits starting at p.
std::size_t digits_at(std::string_view s, std::size_t p) {
  std::size_t q = p;
  while (q < s.size() && is_digit(s[q])) ++q;
  return q - p;
}

}  // namespace

std::string_view parse_int(std::string_view text, std::int32_t& out) {
  std::size_t p = 0;
  bool neg = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) neg = text[p++] == '-';
  const std::size_t nd = digits_at(text, p);
  if (nd == 0 || p + nd != text.size()) return "not an integer";
  std::int64_t v = 0;
  for (std::size_t i = p; i < text.size(); ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > std::int64_t{1} << 31) return "integer out of range";
  }
  if (neg) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return "integer out of range";
  out = static_cast<std::int32_t>(v);
  return {};
}

std::string_view parse_float(std::string_view text, float& out) {
  // Check the form and rewrite it for the number parser: no '+' sign,
  // the exponent letter (E, D or Q in either case) as 'e'.
  constexpr std::size_t MAX_TOKEN = 4096;
  if (text.size() > MAX_TOKEN) return "number too long";
  char buf[MAX_TOKEN + 1];
  std::size_t n = 0;
  std::size_t p = 0;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
    if (text[p] == '-') buf[n++] = '-';
    ++p;
  }
  const std::size_t int_digits = digits_at(text, p);
  for (std::size_t i = 0; i < int_digits; ++i) buf[n++] = text[p++];
  std::size_t frac_digits = 0;
  if (p < text.size() && text[p] == '.') {
    buf[n++] = text[p++];
    frac_digits = digits_at(text, p);
    for (std::size_t i = 0; i < frac_digits; ++i) buf[n++] = text[p++];
  }
  if (int_digits + frac_digits == 0) return "not a number";
  if (p < text.size()) {
    const char e = text[p];
    if (e != 'e' && e != 'E' && e != 'd' && e != 'D' && e != 'q' && e != 'Q') return "not a number";
    buf[n++] = 'e';
    ++p;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) {
      if (text[p] == '-') buf[n++] = '-';
      ++p;
    }
    const std::size_t exp_digits = digits_at(text, p);
    if (exp_digits == 0 || p + exp_digits != text.size()) return "not a number";
    for (std::size_t i = 0; i < exp_digits; ++i) buf[n++] = text[p++];
  }
  buf[n] = '\0';
  float v = 0.0f;
  const auto [ptr, ec] = std::from_chars(buf, buf + n, v);
  if (ec == std::errc() && ptr == buf + n) {
    out = v;
    return {};
  }
  if (ec != std::errc::result_out_of_range) return "not a number";
  // Out of range is either overflow (refused) or underflow (becomes the
  // nearest float, possibly zero): tell them apart in double.
  const double d = std::strtod(buf, nullptr);
  if (!std::isfinite(d) || std::fabs(d) > static_cast<double>(FLT_MAX)) {
    return "number too large for a 32-bit float";
  }
  out = static_cast<float>(d);
  return {};
}

namespace {

bool is_separator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '/'; }

std::string refusal(std::string_view reason, const GroupSink& sink, int i) {
  std::string s(reason);
  s += " for ";
  s += sink.name(i);
  return s;
}

// Fills target i from the text of one value.
void put_value(LineSource& src, GroupSink& sink, int i, std::string_view text, const ValueAt& at) {
  if (sink.kind(i) == ValueKind::Int) {
    std::int32_t v = 0;
    const std::string_view why = parse_int(text, v);
    if (!why.empty()) src.fail(at.line, refusal(why, sink, i), at.text);
    sink.put_int(i, v, at);
  } else {
    float v = 0.0f;
    const std::string_view why = parse_float(text, v);
    if (!why.empty()) src.fail(at.line, refusal(why, sink, i), at.text);
    sink.put_float(i, v, at);
  }
}

}  // namespace

int scan_group(LineSource& src, int count, GroupSink& sink, std::string_view what) {
  int idx = 0;
  // True where a comma would stand for an empty value: at the start of the
  // group and right after another comma.
  bool comma_opens_empty = true;
  while (true) {
    if (!src.next_line()) src.fail_at_end(what);
    const std::string_view line = src.line();
    std::size_t p = 0;
    while (p < line.size()) {
      const char c = line[p];
      if (c == ' ' || c == '\t') {
        ++p;
        continue;
      }
      if (c == '/') return idx;
      if (c == ',') {
        ++p;
        if (comma_opens_empty && ++idx == count) return idx;
        comma_opens_empty = true;
        continue;
      }
      std::size_t q = p;
      while (q < line.size() && !is_separator(line[q])) ++q;
      const std::string_view tok = line.substr(p, q - p);
      p = q;
      comma_opens_empty = false;
      const ValueAt at{src.line_number(), tok};
      const std::size_t star = tok.find('*');
      if (star == std::string_view::npos) {
        put_value(src, sink, idx, tok, at);
        ++idx;
      } else {
        // r*v or r*: the count must be a positive integer. A count larger
        // than the targets left simply fills them.
        const std::string_view rtext = tok.substr(0, star);
        if (rtext.empty() || digits_at(rtext, 0) != rtext.size()) {
          src.fail(at.line, "bad repeat count in " + sink.name(idx), tok);
        }
        std::int64_t r = 0;
        for (char d : rtext) r = std::min<std::int64_t>(r * 10 + (d - '0'), count);
        if (r == 0) src.fail(at.line, "repeat count of zero in " + sink.name(idx), tok);
        const std::string_view vtext = tok.substr(star + 1);
        const int last = static_cast<int>(std::min<std::int64_t>(count, idx + r));
        if (vtext.empty()) {
          idx = last;
        } else {
          for (; idx < last; ++idx) put_value(src, sink, idx, vtext, at);
        }
      }
      if (idx >= count) return idx;
    }
  }
}

}  // namespace velmar::console
