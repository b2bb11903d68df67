// double_precision_run.cpp: a deck computed in double precision with the
// library's response and transform (see double_precision_run.hpp).
//
// Glossary (the deck's names; see run_state.hpp):
//   NPT    samples of the record;  NFFT  transform length, 2 NEARFFT(NPT)
//   IHALF  2 = halve the tapered samples;  ICONV  2 = divide by the response
//   LOUT   SH interface reported (1 = free surface)
#include "console/driver/double_precision_run.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <sstream>
#include <string>

#include "console/driver/deck.hpp"
#include "console/driver/run.hpp"
#include "site/measures_detail.hpp"
#include "velmar/errors.hpp"
#include "velmar/motion.hpp"
#include "velmar/response.hpp"

namespace velmar::console {

namespace {

// One response the console reports: its label, component and depth.
struct Reported {
  std::string label;
  std::optional<Component> component;
  double depth = 0.0;
};

std::vector<Reported> reported(const RunState& s, const Profile& profile) {
  if (s.ITYPE == 0) return {{"SH", std::nullopt, profile.top_depth(static_cast<std::size_t>(s.LOUT - 1))}};
  return {{"horizontal", Component::HORIZONTAL, 0.0}, {"vertical", Component::VERTICAL, 0.0}};
}

WaveSetup deck_setup(const RunState& s) {
  WaveSetup setup;
  setup.wave = s.ITYPE == 0 ? Wave::SH : (s.ITYPE == 1 ? Wave::P : Wave::SV);
  setup.angle = static_cast<double>(s.ANGLE);
  return setup;
}

// The float DT as the decimal the deck wrote: the shortest decimal that
// reads back as the same float, read as a double.
double written_step(float dt) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text - 1, dt).ptr;
  *end = '\0';
  return std::strtod(text, nullptr);
}

DeckColumns transfer_run(RunState& s, const Profile& profile) {
  set_grid(s);
  const auto nf = static_cast<std::size_t>(s.NF);
  std::vector<double> f(s.FREQ.begin(), s.FREQ.begin() + static_cast<std::ptrdiff_t>(nf));
  std::vector<double> at = f;
  for (double& x : at) {
    if (x == 0.0) x = ZERO_FREQUENCY_STANDIN;
  }
  DeckColumns out;
  out.kind = "transfer";
  out.columns.push_back({"frequency", "Hz", std::move(f)});
  const WaveSetup setup = deck_setup(s);
  for (const Reported& r : reported(s, profile)) {
    const std::vector<cdouble> h = transfer(profile, at, setup, r.depth, Quantity::DISPLACEMENT, r.component);
    const std::string suffix = r.label == "SH" ? "" : "_" + r.label;
    std::vector<double> half(nf), re(nf), im(nf);
    for (std::size_t i = 0; i < nf; ++i) {
      half[i] = std::abs(h[i]) / 2.0;
      re[i] = h[i].real();
      im[i] = h[i].imag();
    }
    out.columns.push_back({"half_modulus" + suffix, "ratio", std::move(half)});
    out.columns.push_back({"real" + suffix, "per unit incident displacement", std::move(re)});
    out.columns.push_back({"imag" + suffix, "per unit incident displacement", std::move(im)});
    out.components.push_back(r.label);
  }
  return out;
}

DeckColumns signal_run(RunState& s, const Profile& profile, std::string_view units) {
  const auto n = static_cast<std::size_t>(s.NPT);
  Record record;
  record.accel.assign(s.SIG.begin(), s.SIG.begin() + static_cast<std::ptrdiff_t>(n));
  record.dt = static_cast<double>(s.DT);
  record.units = std::string(units);
  check_record(record);

  const auto nfft = static_cast<std::size_t>(transform_length(s.NPT));
  const std::size_t half = nfft / 2;
  std::vector<double> x(nfft, 0.0);
  std::copy(record.accel.begin(), record.accel.end(), x.begin());
  taper_in_double(std::span<double>(x).first(n), static_cast<double>(TAPER_FRACTION));
  if (s.IHALF == 2) {
    for (std::size_t i = 0; i < n; ++i) x[i] *= 0.5;
  }

  // The record's spectrum with exp(+i w t) (the time factor is exp(-i w t)).
  std::vector<cdouble> spectrum(x.begin(), x.end());
  detail::dft(spectrum, +1);

  // The response on the transform's grid k / (NFFT DT), k < NFFT/2.
  std::vector<double> f(half);
  for (std::size_t k = 0; k < half; ++k) f[k] = static_cast<double>(k) / (static_cast<double>(nfft) * record.dt);
  if (half > 0) f[0] = ZERO_FREQUENCY_STANDIN;

  DeckColumns out;
  out.kind = "signal";
  const double step = written_step(s.DT);
  std::vector<double> t(nfft);
  for (std::size_t k = 0; k < nfft; ++k) t[k] = static_cast<double>(k) * step;
  out.columns.push_back({"time", "s", std::move(t)});

  const WaveSetup setup = deck_setup(s);
  std::vector<cdouble> full(nfft);
  for (const Reported& r : reported(s, profile)) {
    const std::vector<cdouble> h = transfer(profile, f, setup, r.depth, Quantity::DISPLACEMENT, r.component);
    // The whole circle: H at -f is conj H(f); the Nyquist bin is zero.
    std::fill(full.begin(), full.end(), cdouble(0.0, 0.0));
    std::copy(h.begin(), h.end(), full.begin());
    for (std::size_t m = 1; m < half; ++m) full[nfft - m] = std::conj(h[m]);
    for (std::size_t k = 0; k < nfft; ++k) {
      cdouble g = full[k];
      if (s.ICONV == 2) g = std::conj(g) / std::max(std::norm(g), DIVISION_FLOOR);
      full[k] = spectrum[k] * g;
    }
    detail::dft(full, -1);
    std::vector<double> y(nfft);
    for (std::size_t k = 0; k < nfft; ++k) y[k] = full[k].real() / static_cast<double>(nfft);
    out.columns.push_back({r.label == "SH" ? "accel" : "accel_" + r.label, std::string(units), std::move(y)});
    out.components.push_back(r.label);
  }
  out.input = std::move(x);
  return out;
}

}  // namespace

namespace {

// Why the library cannot take a Q of the deck's table, or "": a Q of 0.5 or
// below (above 0) is a damping ratio of 1 or more, and a small one is
// nearly always a damping ratio written where the deck wants Q.
std::string quality_problem(const char* column, const std::vector<double>& q, std::size_t layers) {
  for (std::size_t e = 0; e < layers; ++e) {
    if (!(q[e] > 0.0 && q[e] <= 0.5)) continue;
    std::ostringstream s;
    s << column << " of layer " << e + 1 << " is " << q[e] << ": the library needs a quality factor above 0.5 (Q = 1/(2 x "
      << "damping ratio); a Q of 0.5 or below means a damping ratio of 1 or more). " << q[e]
      << " looks like a damping ratio typed in the Q column: a damping ratio of " << q[e] << " is Q = "
      << 0.5 / q[e] << ".";
    return s.str();
  }
  return {};
}

}  // namespace

std::optional<Profile> deck_profile(const RunState& s, std::string* problem) {
  std::string why;
  if (problem == nullptr) problem = &why;
  problem->clear();
  if (s.ITYPE < 0) return std::nullopt;
  const LayerTable& t = s.table;
  const auto n = static_cast<std::size_t>(t.NLAYER) + 1;  // entries, the half-space last
  std::vector<double> thick(t.THICK.begin(), t.THICK.begin() + static_cast<std::ptrdiff_t>(n));
  std::vector<double> rho(t.RHO.begin(), t.RHO.begin() + static_cast<std::ptrdiff_t>(n));
  std::vector<double> qs(t.QS.begin(), t.QS.begin() + static_cast<std::ptrdiff_t>(n));
  std::vector<double> qp(t.QP.begin(), t.QP.begin() + static_cast<std::ptrdiff_t>(n));
  std::vector<double> vs(n), vp(n);
  for (std::size_t e = 0; e < n; ++e) {
    vs[e] = static_cast<double>(t.VSC[e].real());
    vp[e] = static_cast<double>(t.VPC[e].real());
  }
  // The console's half-space is elastic and has no thickness.
  thick[n - 1] = 0.0;
  qs[n - 1] = 0.0;
  qp[n - 1] = 0.0;
  bool p_valid = true;
  for (std::size_t e = 0; e < n; ++e) {
    if (!(vp[e] > vs[e]) || (e + 1 < n && !(qp[e] > 0.0))) p_valid = false;
  }
  if (!p_valid) {
    vp.clear();
    qp.clear();
  }
  *problem = quality_problem("QS", qs, n - 1);
  if (problem->empty() && !qp.empty()) *problem = quality_problem("QP", qp, n - 1);
  // For an SH deck a QP the library cannot take only drops the P model.
  if (!problem->empty() && s.ITYPE == 0 && problem->compare(0, 2, "QP") == 0) {
    problem->clear();
    vp.clear();
    qp.clear();
  }
  if (!problem->empty()) return std::nullopt;
  // The deck takes densities in any consistent units, as the console does,
  // so the library's t/m3 limit is not applied here (the equivalent-linear
  // analysis applies it).
  try {
    return Profile::from_quality_any_density(thick, rho, vs, qs, vp, qp);
  } catch (const InvalidArgument& e) {
    *problem = e.what();
    return std::nullopt;
  }
}

void taper_in_double(std::span<double> x, double fraction) {
  const std::size_t n = x.size();
  const auto rounded = static_cast<std::size_t>(std::max(0.0, std::floor(static_cast<double>(n) * fraction + 0.5)));
  const std::size_t ntap = std::min(rounded, n / 2);
  for (std::size_t k = 0; k < ntap; ++k) {
    const double w = std::sin(static_cast<double>(k) * (std::numbers::pi / 2.0) / static_cast<double>(ntap));
    x[k] *= w;
    x[n - 1 - k] *= w;
  }
}

DeckColumns double_precision_run(RunState& s, std::string_view units) {
  std::string problem;
  const std::optional<Profile> profile = deck_profile(s, &problem);
  if (!profile) {
    if (s.ITYPE < 0) return {};
    throw InvalidArgument(s.deck_name + ": the console runs this deck, but its layer table gives the library no profile: " +
                          problem);
  }
  if (s.table.IQF == 2) {
    throw InvalidArgument(s.deck_name +
                          ": Q proportional to frequency (IQF = 2) is not computed by the library; "
                          "use the console's output file");
  }
  return s.ISIG == 1 ? signal_run(s, *profile, units) : transfer_run(s, *profile);
}

}  // namespace velmar::console
