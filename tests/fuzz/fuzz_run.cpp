// Fuzz target: a whole run, from the deck to the output file.
//
// Input layout: the deck without its first line, then, after the first 0xff
// byte (if any), the bytes of a signal file. The target works in a private
// temporary folder: the deck's first line always names out.txt there, and the
// signal file is written there as sig.txt; the name sig.txt in the deck (the
// seeds write it on their signal-file line) is replaced by that file's path.
// The working folder is left alone, so inputs given by relative path still
// reproduce. Decks holding dev/, proc/, sys/ or run/ are skipped, so that a
// signal file name never points at a device or pipe that would block.
//
// The run takes the steps run_deck takes, with one addition: a model whose
// grid work is far beyond what the checks need (up to 30000 frequencies times
// 50 layer-table entries) is read and checked but not computed, to keep every
// input well under a second in this instrumented build. It checks:
//   - every stop is a one-line refusal (status 2) or a limit stop (status 1);
//   - a complete run leaves only finite values in the arrays it writes out
//     (the output file would otherwise show a non-finite result as asterisks);
//   - every line of a time history is made of well-formed E12.3 fields (a
//     finite float always fits one, its decimal exponent lying within -45..39).
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "console/driver/deck.hpp"
#include "console/driver/output_file.hpp"
#include "console/driver/run.hpp"
#include "console/driver/text_input.hpp"
#include "fuzz_check.hpp"

namespace velmar::fuzz {
namespace {

// Response evaluations (frequencies times layer-table entries) computed per input at most.
constexpr long long MAX_GRID_WORK = 50000;

RunState& fresh_state() {
  // About 2 MB each: kept on the heap, and reset by copying a pristine one.
  static const std::unique_ptr<RunState> pristine = std::make_unique<RunState>();
  static const std::unique_ptr<RunState> state = std::make_unique<RunState>();
  *state = *pristine;
  return *state;
}

void check_finite(const float* v, int n, std::string_view what) {
  for (int i = 0; i < n; ++i) {
    if (!std::isfinite(v[i])) fail("non-finite result", std::string(what) + " entry " + std::to_string(i));
  }
}

// An E12.3 field: blanks, an optional minus, then 0.ddd, E, a sign and two digits.
bool is_e12_3(std::string_view f) {
  const std::size_t lead = f.find_first_not_of(' ');
  if (lead == std::string_view::npos) return false;
  std::string_view v = f.substr(lead);
  if (v.front() == '-') v.remove_prefix(1);
  static constexpr std::string_view SHAPE = "0.dddE+dd";
  if (v.size() != SHAPE.size()) return false;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const bool digit = v[i] >= '0' && v[i] <= '9';
    const bool ok = SHAPE[i] == 'd' ? digit : SHAPE[i] == '+' ? (v[i] == '+' || v[i] == '-') : v[i] == SHAPE[i];
    if (!ok) return false;
  }
  return true;
}

// The lines after the header of a signal run's output: up to eight E12.3 fields each.
void check_histories(const std::string& text) {
  std::size_t p = text.find('\n') + 1;
  while (p < text.size()) {
    const std::size_t end = text.find('\n', p);
    const std::string_view line(text.data() + p, end - p);
    if (line.empty() || line.size() > 96 || line.size() % 12 != 0) fail("history line of a wrong width", line);
    for (std::size_t f = 0; f < line.size(); f += 12) {
      if (!is_e12_3(line.substr(f, 12))) fail("malformed E12.3 field", line);
    }
    p = end + 1;
  }
}

void run(const std::string& deck_text) {
  RunState& s = fresh_state();
  std::istringstream deck(deck_text);
  LineSource src(deck, "standard input");
  OutputFile out;
  read_run_input(src, s, out);
  const long long entries = s.table.NLAYER + 1;
  const long long freqs = (s.ISIG == 1) ? transform_length(s.NPT) / 2 : s.NF;
  if (s.ITYPE >= 0 && freqs * entries > MAX_GRID_WORK) return;

  if (s.ISIG == 1) prepare_signal(s);
  set_grid(s);
  compute(s);
  if (s.ISIG == 1) {
    check_finite(s.SIG.data(), s.NFFT, "SIG");
    check_finite(s.SIG2.data(), s.NFFT, "SIG2");
  } else {
    check_finite(s.FREQ.data(), s.NF, "FREQ");
    check_finite(s.RESA.data(), s.NF, "RESA");
    check_finite(s.RESB.data(), s.NF, "RESB");
  }
  const std::string text = format_output(s);
  if (s.ISIG == 1) check_histories(text);
  out.replace_content(text);
}

}  // namespace
}  // namespace velmar::fuzz

namespace {

const std::filesystem::path& work_dir() {
  static const std::filesystem::path dir = [] {
    namespace fs = std::filesystem;
    const fs::path d = fs::temp_directory_path() / ("velmar-fuzz-run-" + std::to_string(getpid()));
    fs::create_directories(d);
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(work_dir(), ec);
    });
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\xff');
  std::string body = input.substr(0, cut);
  for (const char* word : {"dev/", "proc/", "sys/", "run/"}) {
    if (body.find(word) != std::string::npos) return 0;
  }
  const std::string sig_path = (work_dir() / "sig.txt").string();
  for (std::size_t p = body.find("sig.txt"); p != std::string::npos; p = body.find("sig.txt", p + sig_path.size())) {
    body.replace(p, 7, sig_path);
  }
  const std::string deck = (work_dir() / "out.txt").string() + "\n" + body;
  {
    std::ofstream sig(sig_path, std::ios::binary | std::ios::trunc);
    if (cut != std::string::npos) sig << input.substr(cut + 1);
  }
  try {
    velmar::fuzz::run(deck);
  } catch (const velmar::console::RunStop& e) {
    velmar::fuzz::check_stop(e);
  }
  return 0;
}
