// fuzz_check.hpp: what every fuzz target asserts about a run that stopped.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "console/driver/run_stop.hpp"

namespace velmar::fuzz {

using namespace console;

// Ends the process with a report: libFuzzer counts the abort as a crash and
// keeps the input that caused it.
[[noreturn]] inline void fail(std::string_view what, std::string_view detail) {
  std::fprintf(stderr, "FUZZ CHECK FAILED: %.*s\n%.*s\n", static_cast<int>(what.size()), what.data(),
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

// One line: text, then a single line end, with no control character before it.
inline bool is_one_line(const std::string& s) {
  if (s.size() < 2 || s.back() != '\n') return false;
  for (std::size_t i = 0; i + 1 < s.size(); ++i) {
    const auto u = static_cast<unsigned char>(s[i]);
    if (u < 0x20 || u == 0x7f) return false;
  }
  return true;
}

// A refusal is one line on standard error and status 2; a limit stop is one
// line on standard output (beginning with a blank), one English line on
// standard error starting "limit: ", and status 1. Any other
// stop (a transform failure) is a fault for input the deck reader accepted.
inline void check_stop(const RunStop& e) {
  if (e.status() == EXIT_INPUT) {
    if (!e.out_text().empty() || !is_one_line(e.err_text())) fail("refusal is not one line on standard error", e.err_text());
  } else if (e.status() == EXIT_LIMIT) {
    if (!is_one_line(e.err_text()) || e.err_text().rfind("limit: ", 0) != 0 || !is_one_line(e.out_text()) ||
        e.out_text()[0] != ' ') {
      fail("limit stop is not one message line on standard output", e.out_text());
    }
  } else {
    fail("unexpected stop status " + std::to_string(e.status()), e.out_text() + e.err_text());
  }
}

}  // namespace velmar::fuzz
