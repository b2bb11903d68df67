#include "driver/run.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>
#include <string>

#include "common/run_stop.hpp"
#include "driver/deck.hpp"
#include "driver/fields.hpp"
#include "driver/output_file.hpp"
#include "driver/text_input.hpp"
#include "layers/psv_sweep.hpp"
#include "layers/sh_sweep.hpp"
#include "signal/convol.hpp"
#include "signal/nearfft.hpp"
#include "signal/taper.hpp"

namespace velmar {

namespace {

// Half the modulus of a response, formed in double so that no square overflows.
float half_modulus(cfloat u) {
  const double re = u.real();
  const double im = u.imag();
  return static_cast<float>(std::sqrt(re * re + im * im) / 2.0);
}

}  // namespace

void prepare_signal(RunState& s) {
  TAPER(s.SIG, TAPER_FRACTION, s.NPT);
  if (s.IHALF == 2) {
    for (int i = 0; i < s.NPT; ++i) s.SIG[static_cast<std::size_t>(i)] /= 2.0f;
  }
  int n = 0;
  NEARFFT(s.NPT, n);
  s.NFFT = 2 * n;
  check_transform_length(s.NFFT);
  std::fill(s.SIG.begin() + s.NPT, s.SIG.begin() + s.NFFT, 0.0f);
  s.FMIN = 0.0f;
  s.FMAX = 1.0f / (2.0f * s.DT);
  s.DF = 1.0f / (static_cast<float>(s.NFFT) * s.DT);
  s.NF = s.NFFT / 2;
}

void set_grid(RunState& s) {
  for (int i = 0; i < s.NF; ++i) {
    s.FREQ[static_cast<std::size_t>(i)] = s.FMIN + static_cast<float>(i) * s.DF;
  }
}

void response_loop_sh(RunState& s, bool amplitude) {
  // USH(LOUT) of HASSH at every grid frequency, from the sweep that evaluates
  // the whole grid at once (F = 0 replaced in FREQ as HASSH replaces it).
  const auto nf = static_cast<std::size_t>(s.NF);
  sh_sweep(s.table, s.ANGLE, s.LOUT, -1, std::span<float>(s.FREQ).first(nf), std::span<float>(s.RESA).first(nf),
           std::span<float>(s.RESB).first(nf), s.sh_work);
  if (!amplitude) return;
  for (std::size_t i = 0; i < nf; ++i) {
    s.RESA[i] = half_modulus(cfloat(s.RESA[i], s.RESB[i]));
    s.RESB[i] = 0.0f;  // a transfer table's SH column 3 stays 0.0
  }
}

void response_loop_psv(RunState& s) {
  // UPS(1) and WPS(1) of HASPSV at every grid frequency, from the sweep that
  // evaluates the whole grid at once (F = 0 replaced in FREQ as HASPSV does).
  const auto nf = static_cast<std::size_t>(s.NF);
  psv_sweep(s.table, s.ITYPE, s.ANGLE, std::span<float>(s.FREQ).first(nf), std::span<cfloat>(s.USURF).first(nf),
            std::span<cfloat>(s.WSURF).first(nf), s.psv_work);
}

void psv_amplitudes(RunState& s) {
  for (std::size_t i = 0; i < static_cast<std::size_t>(s.NF); ++i) {
    s.RESA[i] = half_modulus(s.USURF[i]);
    s.RESB[i] = half_modulus(s.WSURF[i]);
  }
}

void psv_component(RunState& s, bool vertical) {
  const ComplexGrid& u = vertical ? s.WSURF : s.USURF;
  for (std::size_t i = 0; i < static_cast<std::size_t>(s.NF); ++i) {
    s.RESA[i] = u[i].real();
    s.RESB[i] = u[i].imag();
  }
}

// The last guard before anything is written: a value that is not finite
// stops the run (status 2) instead of reaching the output file.
void require_finite_response(const RunState& s, std::span<const float> re, std::span<const float> im) {
  for (std::size_t i = 0; i < static_cast<std::size_t>(s.NF); ++i) {
    if (!std::isfinite(re[i]) || !std::isfinite(im[i])) {
      char f[32];
      std::snprintf(f, sizeof f, "%g", static_cast<double>(s.FREQ[i]));
      throw RunStop(EXIT_INPUT, {},
                    "standard input: the model's response is not finite at frequency " + std::string(f) +
                        " (values beyond the range the program can compute): '" + f + "'\n");
    }
  }
}

void require_finite_record(std::span<const float> x) {
  for (std::size_t j = 0; j < x.size(); ++j) {
    if (!std::isfinite(x[j])) {
      throw RunStop(EXIT_INPUT, {},
                    "standard input: the filtered record overflows at sample " + std::to_string(j + 1) +
                        " (the response or the samples are too large): '" + std::to_string(j + 1) + "'\n");
    }
  }
}

void compute(RunState& s) {
  const bool signal = (s.ISIG == 1);
  if (s.ITYPE == 0) {
    response_loop_sh(s, !signal);
    require_finite_response(s, s.RESA, s.RESB);
    if (signal) CONVOL(s.SIG, s.SIGIM, s.RESA, s.RESB, s.TRIG, s.WORK, s.LFAC, s.NFFT, s.ICONV);
  } else if (s.ITYPE > 0) {
    response_loop_psv(s);
    if (!signal) {
      psv_amplitudes(s);
      require_finite_response(s, s.RESA, s.RESB);
    } else {
      // A copy of the record through the vertical response, then the record
      // itself through the horizontal one. Both responses come from one
      // evaluation per frequency (a second evaluation would give the same).
      psv_component(s, true);
      require_finite_response(s, s.RESA, s.RESB);
      std::copy(s.SIG.begin(), s.SIG.begin() + s.NFFT, s.SIG2.begin());
      CONVOL(s.SIG2, s.SIGIM, s.RESA, s.RESB, s.TRIG, s.WORK, s.LFAC, s.NFFT, s.ICONV);
      psv_component(s, false);
      require_finite_response(s, s.RESA, s.RESB);
      CONVOL(s.SIG, s.SIGIM, s.RESA, s.RESB, s.TRIG, s.WORK, s.LFAC, s.NFFT, s.ICONV);
    }
  }
}

std::string format_output(const RunState& s) {
  if (s.ISIG == 1) {
    require_finite_record(std::span<const float>(s.SIG).first(static_cast<std::size_t>(s.NFFT)));
    require_finite_record(std::span<const float>(s.SIG2).first(static_cast<std::size_t>(s.NFFT)));
  }
  std::string text;
  if (s.ISIG != 1) {
    static constexpr FieldLayout ROW[] = {{'F', 3, 10, 4}};
    text.reserve(static_cast<std::size_t>(s.NF) * 31);
    for (std::size_t i = 0; i < static_cast<std::size_t>(s.NF); ++i) {
      const float row[3] = {s.FREQ[i], s.RESA[i], s.RESB[i]};
      field_lines(text, ROW, row);
    }
    return text;
  }
  static constexpr FieldLayout HEADER[] = {{'I', 1, 10, 0}, {'F', 1, 10, 3}};
  static constexpr FieldLayout HISTORY[] = {{'E', 8, 12, 3}};
  const std::size_t n = static_cast<std::size_t>(s.NFFT);
  text.reserve(32 + 2 * (n * 12 + n / 8 + 1));
  const float header[2] = {static_cast<float>(s.NFFT), s.DT};
  field_lines(text, HEADER, header);
  field_lines(text, HISTORY, std::span<const float>(s.SIG).first(n));
  if (s.ITYPE != 0) field_lines(text, HISTORY, std::span<const float>(s.SIG2).first(n));
  return text;
}

void run_deck(std::istream& deck, const std::string& deck_name, RunState& s) {
  LineSource src(deck, deck_name);
  OutputFile out;
  read_run_input(src, s, out);
  if (s.ISIG == 1) prepare_signal(s);
  set_grid(s);
  compute(s);
  out.replace_content(format_output(s));
}

}  // namespace velmar
