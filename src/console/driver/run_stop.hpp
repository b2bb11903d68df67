// run_stop.hpp: the one way a run ends early.
//
// A routine that must end the run throws RunStop; only main() catches it,
// prints what it carries and returns its exit status. Nothing below main
// calls std::exit, so open streams are flushed and closed on the way out.
//
// Exit statuses (the same for every run):
//   0    a complete run
//   1    a limit stop or a transform set-up failure (message on standard output)
//   2    unreadable or rejected input (one line on standard error)
//   999  a transform pass with a radix it has no butterfly for
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velmar::console {

constexpr int EXIT_LIMIT = 1;
constexpr int EXIT_INPUT = 2;
constexpr int EXIT_RADIX = 999;

class RunStop : public std::runtime_error {
 public:
  // out_text: whole lines for standard output (each ending in '\n'), may be empty.
  // err_text: whole lines for standard error, may be empty.
  RunStop(int status, std::string out_text, std::string err_text = {})
      : std::runtime_error(out_text.empty() ? err_text : out_text),
        status_(status), out_(std::move(out_text)), err_(std::move(err_text)) {}
  int status() const { return status_; }
  const std::string& out_text() const { return out_; }
  const std::string& err_text() const { return err_; }

 private:
  int status_;
  std::string out_;
  std::string err_;
};

// A console message line: one blank, the text unchanged, a line end.
inline std::string message_line(std::string_view text) {
  std::string s(" ");
  s += text;
  s += '\n';
  return s;
}

// A console message line with an integer right-aligned in 12 columns (I12)
// directly after the text; a number wider than 12 columns is 12 asterisks.
inline std::string message_line(std::string_view text, int value) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%12d", value);
  std::string s(" ");
  s += text;
  s += (n > 12) ? std::string(12, '*') : std::string(buf, static_cast<std::size_t>(n));
  s += '\n';
  return s;
}

}  // namespace velmar::console
