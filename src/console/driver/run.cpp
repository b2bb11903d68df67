#include "console/driver/run.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <span>
#include <string>

#include "console/driver/run_stop.hpp"
#include "console/driver/deck.hpp"
#include "console/driver/fields.hpp"
#include "console/driver/output_file.hpp"
#include "console/driver/text_input.hpp"
#include "console/engines/psv_sweep.hpp"
#include "console/engines/sh_sweep.hpp"
#include "console/signal/convol.hpp"
#include "console/signal/taper.hpp"

namespace velmar::console {

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
  std::fill(s.SIG.begin() + s.NPT, s.SIG.begin() + s.NFFT, 0.0f);
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
  if (amplitude) sh_amplitudes(s);
}

void sh_amplitudes(RunState& s) {
  for (std::size_t i = 0; i < static_cast<std::size_t>(s.NF); ++i) {
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

namespace {

// A value the program cannot carry on with: not finite, or at the float
// limit where a response routine saturates a result beyond the float range.
bool beyond_float_range(float v) { return !(std::fabs(v) < std::numeric_limits<float>::max()); }

// The last guard on a response: a value beyond the float range stops the run
// (status 2) instead of reaching the filter or the output file, for SH and
// P-SV alike. response(i) is the complex response at FREQ[i], i < NF.
template <class Response>
void require_computable_response(const RunState& s, Response response) {
  for (std::size_t i = 0; i < static_cast<std::size_t>(s.NF); ++i) {
    const cfloat u = response(i);
    if (beyond_float_range(u.real()) || beyond_float_range(u.imag())) {
      char f[32];
      std::snprintf(f, sizeof f, "%g", static_cast<double>(s.FREQ[i]));
      fail_at(s.deck_name, s.grid_line,
              "the model's response at frequency " + std::string(f) +
                  " is beyond the range the program can compute (too large or not finite)",
              f);
    }
  }
}

void require_finite_record(const RunState& s, std::span<const float> x) {
  for (std::size_t j = 0; j < x.size(); ++j) {
    if (beyond_float_range(x[j])) {
      const std::string n = std::to_string(j + 1);
      fail_at(s.deck_name, s.grid_line,
              "the filtered record overflows at sample " + n + " (the response or the samples are too large)", n);
    }
  }
}

// The response loops, the guard on the responses and the filtering of the run's kind.
void compute_responses(RunState& s) {
  const bool signal = (s.ISIG == 1);
  if (s.ITYPE == 0) {
    response_loop_sh(s, false);
    require_computable_response(s, [&s](std::size_t i) { return cfloat(s.RESA[i], s.RESB[i]); });
    if (signal) {
      CONVOL(s.SIG, s.SIGIM, s.RESA, s.RESB, s.TRIG, s.WORK, s.LFAC, s.NFFT, s.ICONV);
    } else {
      sh_amplitudes(s);
    }
  } else if (s.ITYPE > 0) {
    response_loop_psv(s);
    require_computable_response(s, [&s](std::size_t i) { return s.USURF[i]; });
    require_computable_response(s, [&s](std::size_t i) { return s.WSURF[i]; });
    if (!signal) {
      psv_amplitudes(s);
    } else {
      // A copy of the record through the vertical response, then the record
      // itself through the horizontal one. Both responses come from one
      // evaluation per frequency (a second evaluation would give the same).
      psv_component(s, true);
      std::copy(s.SIG.begin(), s.SIG.begin() + s.NFFT, s.SIG2.begin());
      CONVOL(s.SIG2, s.SIGIM, s.RESA, s.RESB, s.TRIG, s.WORK, s.LFAC, s.NFFT, s.ICONV);
      psv_component(s, false);
      CONVOL(s.SIG, s.SIGIM, s.RESA, s.RESB, s.TRIG, s.WORK, s.LFAC, s.NFFT, s.ICONV);
    }
  }
}

}  // namespace

RunStop transform_stop(const FftError& e, int NFFT) {
  if (e.kind() == FftError::Kind::RADIX) return RunStop(EXIT_RADIX, message_line(e.what()) + "999\n");
  return RunStop(EXIT_LIMIT, message_line(e.what()),
                 "limit: a transform length whose prime factors are 2, 3 and 5 only (NFFT = " +
                     std::to_string(NFFT) + ")\n");
}

void compute(RunState& s) {
  try {
    compute_responses(s);
  } catch (const FftError& e) {
    throw transform_stop(e, s.NFFT);
  }
}

std::string format_output(const RunState& s) {
  if (s.ISIG == 1) {
    require_finite_record(s, std::span<const float>(s.SIG).first(static_cast<std::size_t>(s.NFFT)));
    require_finite_record(s, std::span<const float>(s.SIG2).first(static_cast<std::size_t>(s.NFFT)));
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

}  // namespace velmar::console
