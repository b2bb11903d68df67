#include "console/driver/deck.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "console/driver/run_stop.hpp"
#include "console/engines/haspsv.hpp"
#include "console/signal/nearfft.hpp"

namespace velmar::console {

namespace {

// A named target of a deck group and where its value was found.
struct Slot {
  std::string name;
  ValueKind kind;
  int* i = nullptr;
  float* f = nullptr;
  std::int64_t line = 0;
  std::string text;
};

class SlotSink final : public GroupSink {
 public:
  explicit SlotSink(std::span<Slot> slots) : slots_(slots) {}
  ValueKind kind(int i) const override { return slots_[static_cast<std::size_t>(i)].kind; }
  std::string name(int i) const override { return slots_[static_cast<std::size_t>(i)].name; }
  void put_int(int i, std::int32_t v, const ValueAt& at) override {
    Slot& s = slots_[static_cast<std::size_t>(i)];
    *s.i = v;
    s.line = at.line;
    s.text = at.text;
  }
  void put_float(int i, float v, const ValueAt& at) override {
    Slot& s = slots_[static_cast<std::size_t>(i)];
    *s.f = v;
    s.line = at.line;
    s.text = at.text;
  }

 private:
  std::span<Slot> slots_;
};

Slot int_slot(std::string name, int& v) { return Slot{std::move(name), ValueKind::Int, &v, nullptr, 0, {}}; }
Slot float_slot(std::string name, float& v) { return Slot{std::move(name), ValueKind::Float, nullptr, &v, 0, {}}; }

// Reads the deck's groups and words their refusals. A line with a value too
// few makes its group take the last value from the next line and every later
// group start a line late, so the value refused is not where the fault is.
// A group whose values run over several lines is therefore remembered, and a
// refusal in it or in the group after it says where it began.
class DeckGroups {
 public:
  explicit DeckGroups(LineSource& src) : src_(src) {}

  // Reads one group into its slots; `what` names it at the end of the
  // deck, `label` in a note ("layer 1's values"). A slot left empty (empty
  // value or slash) is located at the group's last line with no text.
  void read(std::span<Slot> slots, std::string_view what, const std::string& label) {
    prev_note_ = std::move(note_);
    note_.clear();
    for (Slot& s : slots) {
      s.line = 0;
      s.text.clear();
    }
    SlotSink sink(slots);
    scan_group(src_, static_cast<int>(slots.size()), sink, prev_note_.empty() ? std::string(what) : std::string(what) + " (" + prev_note_ + ")");
    std::int64_t first = src_.line_number();
    for (Slot& s : slots) {
      if (s.line == 0) s.line = src_.line_number();
      first = std::min(first, s.line);
    }
    if (first < src_.line_number()) {
      note_ = label + " run from line " + std::to_string(first) + " to line " + std::to_string(src_.line_number());
    }
  }

  // Refuses the value of slot `s`: "<name> <why>", with the note of a group
  // that ran over lines.
  [[noreturn]] void refuse(const Slot& s, std::string_view why) const {
    std::string what = s.name + " " + std::string(why);
    const std::string& note = note_.empty() ? prev_note_ : note_;
    if (!note.empty()) what += " (" + note + ")";
    src_.fail(s.line, what, s.text);
  }

  LineSource& src() const { return src_; }

 private:
  LineSource& src_;
  std::string note_;       // the group just read, when it ran over lines
  std::string prev_note_;  // the group before it, likewise
};

std::string file_name_line(LineSource& deck, std::string_view what) {
  std::string name = read_text_line(deck, what);
  if (name.find_first_not_of(" \t") == std::string::npos) {
    deck.fail(deck.line_number(), std::string(what) + " is blank", name);
  }
  // A control character (NUL, a carriage return, an escape...) in a name means
  // a broken deck: binary bytes, or line ends the reader does not split on.
  // Such a name is refused rather than created or searched for.
  const bool control = std::any_of(name.begin(), name.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
  });
  if (control) deck.fail(deck.line_number(), std::string(what) + " holds a control character", name);
  return name;
}

void read_layers(DeckGroups& deck, RunState& s) {
  LayerTable& t = s.table;
  const int n = t.NLAYER;
  const bool check = s.ITYPE >= 0;
  const bool psv = s.ITYPE > 0;
  for (int e = 0; e <= n; ++e) {
    const bool half = (e == n);
    const std::string where = half ? " of the half-space" : " of layer " + std::to_string(e + 1);
    float vs = 0.0f;
    float vp = 0.0f;
    std::array<Slot, 6> g{float_slot("THICK" + where, t.THICK[e]), float_slot("RHO" + where, t.RHO[e]),
                          float_slot("VS" + where, vs),             float_slot("QS" + where, t.QS[e]),
                          float_slot("VP" + where, vp),             float_slot("QP" + where, t.QP[e])};
    deck.read(g,
              half ? "the half-space line (THICK RHO VS QS VP QP)"
                   : "the line of layer " + std::to_string(e + 1) + " (THICK RHO VS QS VP QP)",
              half ? "the half-space's values" : "layer " + std::to_string(e + 1) + "'s values");
    t.VSC[e] = cfloat(vs, 0.0f);
    t.VPC[e] = cfloat(vp, 0.0f);
    if (!check) continue;
    if (!half && !(t.THICK[e] > 0.0f)) deck.refuse(g[0], "must be above 0");
    if (!(t.RHO[e] > 0.0f)) deck.refuse(g[1], "must be above 0");
    if (!(vs > 0.0f)) deck.refuse(g[2], "must be above 0");
    if (!half && !(t.QS[e] > 0.0f)) deck.refuse(g[3], "must be above 0");
    if (psv) {
      if (!half && !(t.QP[e] > 0.0f)) deck.refuse(g[5], "must be above 0");
      if (!(vp > vs)) deck.refuse(g[4], "must exceed VS (a solid's P velocity exceeds its S velocity)");
    }
  }
}

// Number of values written on a line of free-format numbers (a repeat
// r*v counts once; a slash ends the line).
int values_on_line(std::string_view line) {
  int n = 0;
  bool in_value = false;
  for (char c : line) {
    if (c == '/') break;
    const bool sep = (c == ' ' || c == '\t' || c == ',');
    if (!sep && !in_value) ++n;
    in_value = !sep;
  }
  return n;
}

// Receives the samples of the record. Samples must be finite (the parser
// makes them so) and small enough that the transform of the record cannot
// overflow. It also watches the shape of the record: two values on every
// line, the first of each line rising by DT, is a time,value file, whose
// times would otherwise be read as every other sample.
class SampleSink final : public GroupSink {
 public:
  SampleSink(LineSource& src, std::span<float> out, float dt) : src_(src), out_(out), dt_(dt) {}
  ValueKind kind(int) const override { return ValueKind::Float; }
  std::string name(int i) const override { return "sample " + std::to_string(i + 1); }
  void put_int(int, std::int32_t, const ValueAt&) override {}
  void put_float(int i, float v, const ValueAt& at) override {
    constexpr float MAX_SAMPLE = 1.0e20f;
    if (std::fabs(v) > MAX_SAMPLE) src_.fail(at.line, name(i) + " exceeds 1e20 in magnitude", at.text);
    out_[static_cast<std::size_t>(i)] = v;
    if (at.line != line_) first_on_line(v, at.line);
  }

  // Refuses the record when every line read holds two values, the first
  // rising by DT from line to line (at least two lines).
  void refuse_time_value_pairs() const {
    if (lines_ < 2 || !two_per_line_ || !time_steps_) return;
    src_.fail(first_line_,
              "the record looks like a time,value file (two values on each line, the first rising by DT); "
              "this program reads sample values only",
              first_text_);
  }

 private:
  void first_on_line(float v, std::int64_t line) {
    // Relative tolerance on the step of the time column: times printed with a
    // few decimals and read as floats step by DT within far less than 1 %.
    constexpr double STEP_TOLERANCE = 0.01;
    if (values_on_line(src_.line()) != 2) two_per_line_ = false;
    if (lines_ == 0) {
      first_line_ = line;
      first_text_ = src_.line();
    } else {
      const double step = static_cast<double>(v) - static_cast<double>(prev_first_);
      const double dt = static_cast<double>(dt_);
      if (!(std::fabs(step - dt) <= STEP_TOLERANCE * dt)) time_steps_ = false;
    }
    prev_first_ = v;
    line_ = line;
    ++lines_;
  }

  LineSource& src_;
  std::span<float> out_;
  float dt_;
  std::int64_t line_ = 0;  // line of the last sample read
  std::int64_t lines_ = 0;  // lines that gave samples
  std::int64_t first_line_ = 0;
  std::string first_text_;
  float prev_first_ = 0.0f;  // first value of the previous line
  bool two_per_line_ = true;
  bool time_steps_ = true;
};

void read_signal_file(RunState& s, const LineSource& deck, std::int64_t name_line) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (fs::is_directory(s.signal_name, ec)) deck.fail(name_line, "the signal file name names a folder", s.signal_name);
  if (!fs::exists(s.signal_name, ec)) deck.fail(name_line, "the signal file does not exist", s.signal_name);
  if (fs::equivalent(s.signal_name, s.output_name, ec)) {
    deck.fail(name_line, "the signal file is the output file (the run would overwrite the record)",
              s.signal_name);
  }
  std::ifstream in(s.signal_name, std::ios::in | std::ios::binary);
  if (!in) deck.fail(name_line, "cannot open the signal file", s.signal_name);
  LineSource sig(in, s.signal_name);
  for (int k = 0; k < s.NSKIP; ++k) {
    skip_line(sig, "header line " + std::to_string(k + 1) + " of " + std::to_string(s.NSKIP) + " (NSKIP)");
  }
  SampleSink sink(sig, std::span<float>(s.SIG).first(static_cast<std::size_t>(s.NPT)), s.DT);
  scan_group(sig, s.NPT, sink, std::to_string(s.NPT) + " samples (NPT)");
  sink.refuse_time_value_pairs();
}

}  // namespace

int transform_length(int NPT) {
  int n = 0;
  NEARFFT(NPT, n);
  return 2 * n;
}

void check_transform_length(int NFFT) {
  if (NFFT > MAXPT) {
    throw RunStop(EXIT_LIMIT, message_line("DIMENSIONAMENTO INSUFFICIENTE"),
                  "limit: a transform length of at most " + std::to_string(MAXPT) + " (NFFT = " +
                      std::to_string(NFFT) + ")\n");
  }
}

void set_signal_grid(RunState& s) {
  s.NFFT = transform_length(s.NPT);
  check_transform_length(s.NFFT);
  s.FMIN = 0.0f;
  s.FMAX = 1.0f / (2.0f * s.DT);
  s.DF = 1.0f / (static_cast<float>(s.NFFT) * s.DT);
  s.NF = s.NFFT / 2;
}

namespace {

// The deck's groups in order; the output file is opened in `out` as soon as
// it is named, or not at all when `out` is null.
void read_groups(LineSource& src, RunState& s, OutputFile* out) {
  DeckGroups deck(src);
  s.deck_name = src.name();

  // 1. Output file, opened at once.
  s.output_name = file_name_line(src, "the output file name");
  if (out != nullptr) out->open(s.output_name, src, src.line_number());

  // 2. Wave type and angle.
  std::array<Slot, 2> g2{int_slot("ITYPE", s.ITYPE), float_slot("ANGLE", s.ANGLE)};
  deck.read(g2, "ITYPE and ANGLE", "the values of ITYPE and ANGLE");
  if (s.ITYPE > 2) deck.refuse(g2[0], "must be 0 (SH), 1 (P), 2 (SV) or negative (nothing computed)");
  if (s.ITYPE >= 0 && !(std::fabs(s.ANGLE) < 90.0f)) {
    deck.refuse(g2[1], "must lie strictly between -90 and 90 degrees");
  }

  // 3. Layer count, reported interface, damping law; the layer limit first.
  std::array<Slot, 3> g3{int_slot("NLAYER", s.table.NLAYER), int_slot("LOUT", s.LOUT),
                         int_slot("IQF", s.table.IQF)};
  deck.read(g3, "NLAYER, LOUT and IQF", "the values of NLAYER, LOUT and IQF");
  if (s.table.NLAYER >= MAX_ENTRIES) {
    throw RunStop(EXIT_LIMIT, message_line("NUMERO MASSIMO STRATI =", MAX_ENTRIES - 1),
                  "limit: at most " + std::to_string(MAX_ENTRIES - 1) + " layers (NLAYER = " +
                      std::to_string(s.table.NLAYER) + ")\n");
  }
  if (s.table.NLAYER < 0) deck.refuse(g3[0], "must be 0 or more");
  if (s.ITYPE == 0 && (s.LOUT < 1 || s.LOUT > s.table.NLAYER + 1)) {
    deck.refuse(g3[1], "must lie from 1 (free surface) to NLAYER+1 = " + std::to_string(s.table.NLAYER + 1) +
                           " (top of the half-space)");
  }

  // 4. The layer table.
  read_layers(deck, s);
  if (s.ITYPE > 0) {
    const float c = psv_halfspace_root(s.table, s.ITYPE, s.ANGLE);
    if (s.ITYPE == 2 && c == 0.0f) {
      deck.refuse(g2[1], "is the critical angle of the half-space for an SV wave (the response is undefined there)");
    }
    if (!std::isfinite(c)) {
      deck.refuse(g2[1], "gives no computable response with the half-space's ratio of VP to VS");
    }
  }

  // 5. Run kind.
  std::array<Slot, 1> g5{int_slot("ISIG", s.ISIG)};
  deck.read(g5, "ISIG", "the value of ISIG");
  if (s.ISIG != 0 && s.ISIG != 1) deck.refuse(g5[0], "must be 1 (signal run) or 0 (transfer-function run)");

  if (s.ISIG == 1) {
    s.signal_name = file_name_line(src, "the signal file name");
    const std::int64_t name_line = src.line_number();
    std::array<Slot, 1> g62{int_slot("NSKIP", s.NSKIP)};
    deck.read(g62, "NSKIP", "the value of NSKIP");
    std::array<Slot, 4> g63{float_slot("DT", s.DT), int_slot("NPT", s.NPT), int_slot("IHALF", s.IHALF),
                            int_slot("ICONV", s.ICONV)};
    deck.read(g63, "DT, NPT, IHALF and ICONV", "the values of DT, NPT, IHALF and ICONV");
    s.grid_line = g63[0].line;
    // 2*NPT in 64 bits: a 32-bit product wraps negative for large NPT.
    if (2 * static_cast<std::int64_t>(s.NPT) > MAXPT) {
      throw RunStop(EXIT_LIMIT, message_line("NUMERO PUNTI MASSIMO =", MAX_SAMPLES),
                    "limit: at most " + std::to_string(MAX_SAMPLES) + " samples (NPT = " + std::to_string(s.NPT) +
                        ")\n");
    }
    if (s.NPT < 1) deck.refuse(g63[1], "must be 1 or more");
    if (!(s.DT > 0.0f)) deck.refuse(g63[0], "must be above 0");
    set_signal_grid(s);
    if (!std::isfinite(s.FMAX) || !std::isfinite(s.DF) || !(s.DF > 0.0f)) {
      deck.refuse(g63[0], "gives a frequency grid that is not finite and positive");
    }
    read_signal_file(s, src, name_line);
  } else {
    std::array<Slot, 3> g7{float_slot("FMIN", s.FMIN), float_slot("FMAX", s.FMAX), float_slot("DF", s.DF)};
    deck.read(g7, "FMIN, FMAX and DF", "the values of FMIN, FMAX and DF");
    s.grid_line = g7[0].line;
    // The damping law is written for frequencies of 0 and above: at a
    // negative frequency the damping term changes sign and becomes a gain.
    if (!(s.FMIN >= 0.0f)) deck.refuse(g7[0], "must be 0 or above (the grid holds no negative frequency)");
    if (!(s.DF > 0.0f)) deck.refuse(g7[2], "must be above 0");
    const float span = s.FMAX - s.FMIN;
    const float steps = span / s.DF;
    if (!std::isfinite(span) || !std::isfinite(steps)) {
      deck.refuse(g7[1], "gives a frequency grid that is not finite");
    }
    // Nearest integer, halves away from zero.
    if (!(steps >= 0.5f)) deck.refuse(g7[1], "gives no grid point (FMAX must exceed FMIN by half a step)");
    if (!(steps < static_cast<float>(MAX_FREQ) + 0.5f)) {
      deck.refuse(g7[2], "gives more than 30000 grid points");
    }
    s.NF = static_cast<int>(std::round(steps));
    const float last = s.FMIN + static_cast<float>(s.NF - 1) * s.DF;
    if (!std::isfinite(last)) deck.refuse(g7[2], "gives grid frequencies that are not finite");
  }
}

}  // namespace

void read_run_input(LineSource& src, RunState& s, OutputFile& out) { read_groups(src, s, &out); }

void read_run_input(LineSource& src, RunState& s) { read_groups(src, s, nullptr); }

}  // namespace velmar::console
