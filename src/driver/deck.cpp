#include "driver/deck.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/run_stop.hpp"
#include "layers/haspsv.hpp"
#include "signal/nearfft.hpp"

namespace velmar {

namespace {

// A named target of a deck group and where its value was found.
struct Slot {
  std::string name;
  ValueKind kind;
  int* i = nullptr;
  float* f = nullptr;
  int line = 0;
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

// Reads one group into its slots. A slot left empty (empty value or slash)
// is located at the group's last line with no text, for messages.
void read_slots(LineSource& src, std::span<Slot> slots, std::string_view what) {
  for (Slot& s : slots) {
    s.line = 0;
    s.text.clear();
  }
  SlotSink sink(slots);
  scan_group(src, static_cast<int>(slots.size()), sink, what);
  for (Slot& s : slots) {
    if (s.line == 0) s.line = src.line_number();
  }
}

Slot int_slot(std::string name, int& v) { return Slot{std::move(name), ValueKind::Int, &v, nullptr, 0, {}}; }
Slot float_slot(std::string name, float& v) { return Slot{std::move(name), ValueKind::Float, nullptr, &v, 0, {}}; }

[[noreturn]] void refuse(const LineSource& src, const Slot& s, std::string_view why) {
  src.fail(s.line, s.name + " " + std::string(why), s.text);
}

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

void read_layers(LineSource& deck, RunState& s) {
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
    read_slots(deck, g, half ? "the half-space line (THICK RHO VS QS VP QP)"
                             : "the line of layer " + std::to_string(e + 1) + " (THICK RHO VS QS VP QP)");
    t.VSC[e] = cfloat(vs, 0.0f);
    t.VPC[e] = cfloat(vp, 0.0f);
    if (!check) continue;
    if (!half && !(t.THICK[e] > 0.0f)) refuse(deck, g[0], "must be above 0");
    if (!(t.RHO[e] > 0.0f)) refuse(deck, g[1], "must be above 0");
    if (!(vs > 0.0f)) refuse(deck, g[2], "must be above 0");
    if (!half && !(t.QS[e] > 0.0f)) refuse(deck, g[3], "must be above 0");
    if (psv) {
      if (!half && !(t.QP[e] > 0.0f)) refuse(deck, g[5], "must be above 0");
      if (!(vp > vs)) refuse(deck, g[4], "must exceed VS (a solid's P velocity exceeds its S velocity)");
    }
  }
}

void read_signal_file(RunState& s, const LineSource& deck, int name_line) {
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
  // Samples must be finite (the parser makes them so) and small enough that
  // the transform of the record cannot overflow.
  class SampleSink final : public GroupSink {
   public:
    SampleSink(LineSource& src, std::span<float> out) : src_(src), out_(out) {}
    ValueKind kind(int) const override { return ValueKind::Float; }
    std::string name(int i) const override { return "sample " + std::to_string(i + 1); }
    void put_int(int, std::int32_t, const ValueAt&) override {}
    void put_float(int i, float v, const ValueAt& at) override {
      constexpr float MAX_SAMPLE = 1.0e20f;
      if (std::fabs(v) > MAX_SAMPLE) src_.fail(at.line, name(i) + " exceeds 1e20 in magnitude", at.text);
      out_[static_cast<std::size_t>(i)] = v;
    }

   private:
    LineSource& src_;
    std::span<float> out_;
  };
  SampleSink sink(sig, std::span<float>(s.SIG).first(static_cast<std::size_t>(s.NPT)));
  scan_group(sig, s.NPT, sink, std::to_string(s.NPT) + " samples (NPT)");
}

}  // namespace

int transform_length(int NPT) {
  int n = 0;
  NEARFFT(NPT, n);
  return 2 * n;
}

void check_transform_length(int NFFT) {
  if (NFFT > MAXPT) throw RunStop(EXIT_LIMIT, message_line("DIMENSIONAMENTO INSUFFICIENTE"));
}

void read_run_input(LineSource& deck, RunState& s, OutputFile& out) {
  // 1. Output file, opened at once.
  s.output_name = file_name_line(deck, "the output file name");
  out.open(s.output_name, deck, deck.line_number());

  // 2. Wave type and angle.
  std::array<Slot, 2> g2{int_slot("ITYPE", s.ITYPE), float_slot("ANGLE", s.ANGLE)};
  read_slots(deck, g2, "ITYPE and ANGLE");
  if (s.ITYPE > 2) refuse(deck, g2[0], "must be 0 (SH), 1 (P), 2 (SV) or negative (nothing computed)");
  if (s.ITYPE >= 0 && !(std::fabs(s.ANGLE) < 90.0f)) {
    refuse(deck, g2[1], "must lie strictly between -90 and 90 degrees");
  }

  // 3. Layer count, reported interface, damping law; the layer limit first.
  std::array<Slot, 3> g3{int_slot("NLAYER", s.table.NLAYER), int_slot("LOUT", s.LOUT),
                         int_slot("IQF", s.table.IQF)};
  read_slots(deck, g3, "NLAYER, LOUT and IQF");
  if (s.table.NLAYER >= MAX_ENTRIES) {
    throw RunStop(EXIT_LIMIT, message_line("NUMERO MASSIMO STRATI =", MAX_ENTRIES - 1));
  }
  if (s.table.NLAYER < 0) refuse(deck, g3[0], "must be 0 or more");
  if (s.ITYPE == 0 && (s.LOUT < 1 || s.LOUT > s.table.NLAYER + 1)) {
    refuse(deck, g3[1], "must lie from 1 (free surface) to NLAYER+1 = " +
                            std::to_string(s.table.NLAYER + 1) + " (top of the half-space)");
  }

  // 4. The layer table.
  read_layers(deck, s);
  if (s.ITYPE > 0) {
    const float c = psv_halfspace_root(s.table, s.ITYPE, s.ANGLE);
    if (s.ITYPE == 2 && c == 0.0f) {
      refuse(deck, g2[1], "is the critical angle of the half-space for an SV wave (the response is undefined there)");
    }
    if (!std::isfinite(c)) {
      refuse(deck, g2[1], "gives no computable response with the half-space's ratio of VP to VS");
    }
  }

  // 5. Run kind.
  std::array<Slot, 1> g5{int_slot("ISIG", s.ISIG)};
  read_slots(deck, g5, "ISIG");
  if (s.ISIG != 0 && s.ISIG != 1) refuse(deck, g5[0], "must be 1 (signal run) or 0 (transfer-function run)");

  if (s.ISIG == 1) {
    s.signal_name = file_name_line(deck, "the signal file name");
    const int name_line = deck.line_number();
    std::array<Slot, 1> g62{int_slot("NSKIP", s.NSKIP)};
    read_slots(deck, g62, "NSKIP");
    std::array<Slot, 4> g63{float_slot("DT", s.DT), int_slot("NPT", s.NPT), int_slot("IHALF", s.IHALF),
                            int_slot("ICONV", s.ICONV)};
    read_slots(deck, g63, "DT, NPT, IHALF and ICONV");
    // 2*NPT in 64 bits: a 32-bit product wraps negative for large NPT.
    if (2 * static_cast<std::int64_t>(s.NPT) > MAXPT) {
      throw RunStop(EXIT_LIMIT, message_line("NUMERO PUNTI MASSIMO =", MAX_SAMPLES));
    }
    if (s.NPT < 1) refuse(deck, g63[1], "must be 1 or more");
    if (!(s.DT > 0.0f)) refuse(deck, g63[0], "must be above 0");
    const int nfft = transform_length(s.NPT);
    const float fmax = 1.0f / (2.0f * s.DT);
    const float df = 1.0f / (static_cast<float>(nfft) * s.DT);
    if (!std::isfinite(fmax) || !std::isfinite(df) || !(df > 0.0f)) {
      refuse(deck, g63[0], "gives a frequency grid that is not finite and positive");
    }
    read_signal_file(s, deck, name_line);
  } else {
    std::array<Slot, 3> g7{float_slot("FMIN", s.FMIN), float_slot("FMAX", s.FMAX), float_slot("DF", s.DF)};
    read_slots(deck, g7, "FMIN, FMAX and DF");
    if (!(s.DF > 0.0f)) refuse(deck, g7[2], "must be above 0");
    const float span = s.FMAX - s.FMIN;
    const float steps = span / s.DF;
    if (!std::isfinite(span) || !std::isfinite(steps)) {
      refuse(deck, g7[1], "gives a frequency grid that is not finite");
    }
    // Nearest integer, halves away from zero.
    if (!(steps >= 0.5f)) refuse(deck, g7[1], "gives no grid point (FMAX must exceed FMIN by half a step)");
    if (!(steps < static_cast<float>(MAX_FREQ) + 0.5f)) {
      refuse(deck, g7[2], "gives more than 30000 grid points");
    }
    s.NF = static_cast<int>(std::round(steps));
    const float last = s.FMIN + static_cast<float>(s.NF - 1) * s.DF;
    if (!std::isfinite(last)) refuse(deck, g7[2], "gives grid frequencies that are not finite");
  }
}

}  // namespace velmar
