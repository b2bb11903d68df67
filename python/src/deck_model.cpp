#include "deck_model.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "console/driver/run_stop.hpp"
#include "console/driver/deck.hpp"
#include "console/driver/double_precision_run.hpp"
#include "console/driver/output_file.hpp"
#include "console/driver/run.hpp"
#include "console/driver/run_state.hpp"
#include "console/driver/text_input.hpp"
#include "velmar/errors.hpp"

namespace velmar {

using namespace console;  // the deck reader and its run state

namespace {

// The whole deck file as text; FileError when it cannot be read.
std::string deck_text(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_directory(path, ec)) throw FileError("deck '" + path + "' is a folder, not a file");
  std::ifstream in(path, std::ios::in | std::ios::binary);
  if (!in) throw FileError("deck '" + path + "' cannot be opened (missing or unreadable)");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw FileError("deck '" + path + "' cannot be read");
  return std::move(text).str();
}

// The output file name on the deck's first line, as the console reads it
// (the whole line less trailing blanks); empty when the deck is empty.
std::string first_line(const std::string& text, const std::string& path) {
  if (text.empty()) return {};
  std::istringstream in(text);
  LineSource src(in, path);
  return read_text_line(src, "the output file name");
}

// A name the console's reader refuses before it opens anything.
bool refused_name(const std::string& name) {
  const bool blank = name.find_first_not_of(" \t") == std::string::npos;
  const bool control = std::any_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
  });
  return blank || control;
}

std::vector<double> widen(std::span<const float> x) { return {x.begin(), x.end()}; }

// The deck in file `path` read into a run state by the console's reader;
// the output file it names is neither created nor opened.
std::unique_ptr<RunState> read_deck_state(const std::string& path) {
  const std::string text = deck_text(path);
  auto s = std::make_unique<RunState>();
  std::istringstream in(text);
  LineSource src(in, path);
  read_run_input(src, *s);
  return s;
}

}  // namespace

DeckModel read_deck_file(const std::string& path, const std::string& units) {
  const std::unique_ptr<RunState> s = read_deck_state(path);

  DeckModel m;
  m.output_name = s->output_name;
  m.ITYPE = s->ITYPE;
  m.ANGLE = s->ANGLE;
  m.LOUT = s->LOUT;
  m.IQF = s->table.IQF;
  m.ISIG = s->ISIG;
  const LayerTable& t = s->table;
  const auto n = static_cast<std::size_t>(t.NLAYER) + 1;  // entries, the half-space last
  m.THICK = widen(std::span<const float>(t.THICK).first(n));
  m.RHO = widen(std::span<const float>(t.RHO).first(n));
  m.QS = widen(std::span<const float>(t.QS).first(n));
  m.QP = widen(std::span<const float>(t.QP).first(n));
  for (std::size_t e = 0; e < n; ++e) {
    m.VS.push_back(t.VSC[e].real());
    m.VP.push_back(t.VPC[e].real());
  }
  m.profile = deck_profile(*s, &m.profile_problem);
  if (m.ITYPE == 0 && m.profile) m.depth = m.profile->top_depth(static_cast<std::size_t>(m.LOUT - 1));

  if (m.ISIG == 1) {
    m.signal_name = s->signal_name;
    m.NSKIP = s->NSKIP;
    m.NPT = s->NPT;
    m.IHALF = s->IHALF;
    m.ICONV = s->ICONV;
    Record r;
    r.accel = widen(std::span<const float>(s->SIG).first(static_cast<std::size_t>(s->NPT)));
    r.dt = s->DT;
    r.units = units;
    r.name = s->signal_name;
    check_record(r);
    m.record = std::move(r);
  } else {
    m.FMIN = s->FMIN;
    m.FMAX = s->FMAX;
    m.DF = s->DF;
    set_grid(*s);
    m.freqs = widen(std::span<const float>(s->FREQ).first(static_cast<std::size_t>(s->NF)));
  }
  return m;
}

console::DeckColumns deck_columns_file(const std::string& path, const std::string& units) {
  const std::unique_ptr<RunState> s = read_deck_state(path);
  return double_precision_run(*s, units);
}

std::string run_deck_file(const std::string& path, RunState& s) {
  const std::string text = deck_text(path);
  const std::string out_name = first_line(text, path);
  std::error_code ec;
  if (!refused_name(out_name) && std::filesystem::equivalent(path, out_name, ec)) {
    throw RunStop(EXIT_INPUT, {},
                  path + ":1: the output file is the deck itself (the run would overwrite it): '" +
                      quote_text(out_name) + "'\n");
  }
  std::istringstream in(text);
  run_deck(in, path, s);
  return s.output_name;
}

}  // namespace velmar
