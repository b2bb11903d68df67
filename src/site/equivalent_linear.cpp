// equivalent_linear.cpp: the strain-compatible iteration of an SH analysis.
//
// Glossary (index j runs over the sublayers of the analysis, i over the
// layers the caller gave; 0-based, top down):
//   L      padded record length (RecordFilter: 2^a or 3 2^a, >= 2 n), nf = L/2 + 1 frequencies
//   Y      input displacement spectrum per unit incident motion, m: the record's
//          acceleration spectrum / (-w^2), halved for an outcrop input
//   S_j    strain transfer function at the middle of sublayer j, so that
//          S_j Y is the strain spectrum there
//   g, d   G/Gmax and damping ratio in use; vs0 the low-strain velocity
//   peak   peak of the strain history over the record's n samples
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <string>

#include "signal/inverse_peaks.hpp"
#include "site/eql_steps.hpp"
#include "site/record_filter_cache.hpp"
#include "site/sh_mid_strain.hpp"
#include "site/sh_response.hpp"
#include "site/text.hpp"
#include "velmar/equivalent_linear.hpp"
#include "velmar/errors.hpp"
#include "velmar/record_filter.hpp"

namespace velmar {

using detail::kept_record_filter;
using detail::InversePeaks;
using detail::MidStrainScale;
using detail::MidStrainWork;
using detail::ShMedium;
using detail::SplitFft;
using detail::number;
using detail::sh_mid_strain;
using detail::sh_response;
// The steps the record and spectrum analyses share (eql_steps.hpp), then
// the record's own.
namespace detail::eql {

// The curves against the profile (one per layer, each usable).
void check_curves(const EquivalentLinearOptions& o, std::size_t layers) {
  if (o.curves.size() != layers) {
    throw InvalidArgument("curves has " + std::to_string(o.curves.size()) + " entries where the profile has " +
                          std::to_string(layers) + " layers (one curve per layer above the half-space)");
  }
  if (layers == 0) throw InvalidArgument("the profile has no layer above the half-space to iterate");
  for (std::size_t i = 0; i < layers; ++i) check_curve(o.curves[i], i);
}

// Refuses strain spectra of M (sub)layers x nf frequencies beyond
// MAX_STRAIN_SPECTRUM_VALUES (before they are allocated): as a bad option
// before the first pass, as a stopped analysis after sublayers were added.
void check_spectrum_size(std::size_t M, std::size_t nf, bool first) {
  const double values = static_cast<double>(M) * static_cast<double>(nf);
  if (values <= MAX_STRAIN_SPECTRUM_VALUES) return;
  const std::string what = "the strain spectra of " + std::to_string(M) + " (sub)layers x " + std::to_string(nf) +
                           " frequencies (" + number(values) + " values) exceed the limit of " +
                           number(MAX_STRAIN_SPECTRUM_VALUES) +
                           ": use fewer sublayers (lower max_frequency or raise wavelength_fraction) or a "
                           "shorter record";
  if (first) throw InvalidArgument(what);
  throw AnalysisError(what);
}

// The damping ratio the law accepts.
double damping_ceiling(DampingLaw law) { return law == DampingLaw::DORMIEUX ? 0.5 : 1.0; }

// Cuts layer `parent` (top, h) into `count` equal sublayers.
void cut(std::vector<Sublayer>& out, const Profile& p, const EquivalentLinearOptions& o, std::size_t parent,
         std::size_t count) {
  const double top = p.top_depth(parent), h = p.thickness()[parent];
  const double k0 = curve_k0(o.curves[parent]);
  for (std::size_t k = 0; k < count; ++k) {
    Sublayer s{};
    s.parent = parent;
    s.thickness = h / static_cast<double>(count);
    s.top = top + static_cast<double>(k) * s.thickness;
    s.density = p.density()[parent];
    s.vs0 = p.vs()[parent];
    s.xi0 = p.damping_s()[parent];
    const double mid = s.top + 0.5 * s.thickness;
    s.sigma_m = mean_effective_stress(vertical_effective_stress(p, mid, o.water_table), k0);
    if (!std::holds_alternative<LinearLayer>(o.curves[parent]) && !(s.sigma_m > 0.0)) {
      throw InvalidArgument("the mean effective stress at " + number(mid) + " m in " + detail::layer_name(parent) +
                            " is " + number(s.sigma_m) + " kPa: the curve needs it above 0 (soil lighter than water?)");
    }
    const CurvePoint c = evaluate_curve(o.curves[parent], 0.0, s.sigma_m);
    s.g = c.g_ratio;
    s.d = std::holds_alternative<LinearLayer>(o.curves[parent]) ? s.xi0 : c.damping;
    out.push_back(s);
  }
}

// Sublayers needed by layer `parent` whose current sublayers are [from, to):
// none thicker than fraction x Vs / fmax with each one's current Vs. A
// double, so that a count beyond any integer (or NaN) is seen as such before
// it is converted.
double needed(const std::vector<Sublayer>& s, std::size_t from, std::size_t to, double h,
              const EquivalentLinearOptions& o) {
  double vmin = s[from].vs0 * std::sqrt(s[from].g);
  for (std::size_t j = from; j < to; ++j) vmin = std::min(vmin, s[j].vs0 * std::sqrt(s[j].g));
  const double hmax = o.wavelength_fraction * vmin / *o.max_frequency;
  return std::max(static_cast<double>(to - from), std::ceil(h / hmax - 1e-9));
}

// The message of sublayering that asks for more than MAX_SUBLAYERS.
std::string too_many_sublayers(double total) {
  return "too many sublayers: sublayering asks for " + number(total) + " sublayers, more than " +
         number(MAX_SUBLAYERS) + " (lower max_frequency or raise wavelength_fraction)";
}

// Re-cuts every layer whose sublayers have become too thick for their
// current Vs; a new sublayer takes the state of the old one holding its
// middle. Returns whether anything changed. The counts are added up (as
// doubles) before anything is cut: beyond MAX_SUBLAYERS, the first cut (of
// the low-strain profile) is refused as a bad option, a later one stops the
// analysis.
bool recut(std::vector<Sublayer>& s, const Profile& p, const EquivalentLinearOptions& o, bool first) {
  if (!o.max_frequency) return false;
  double total = 0.0;
  for (std::size_t from = 0; from < s.size();) {
    std::size_t to = from;
    while (to < s.size() && s[to].parent == s[from].parent) ++to;
    total += needed(s, from, to, p.thickness()[s[from].parent], o);
    from = to;
  }
  if (!(total <= MAX_SUBLAYERS)) {
    if (first) throw InvalidArgument(too_many_sublayers(total));
    throw AnalysisError(too_many_sublayers(total) + " for the strain-compatible velocities after a pass");
  }
  std::vector<Sublayer> out;
  bool changed = false;
  for (std::size_t from = 0; from < s.size();) {
    std::size_t to = from;
    while (to < s.size() && s[to].parent == s[from].parent) ++to;
    const std::size_t parent = s[from].parent;
    const auto count = static_cast<std::size_t>(needed(s, from, to, p.thickness()[parent], o));
    if (count == to - from) {
      out.insert(out.end(), s.begin() + static_cast<std::ptrdiff_t>(from), s.begin() + static_cast<std::ptrdiff_t>(to));
    } else {
      changed = true;
      const std::size_t first = out.size();
      cut(out, p, o, parent, count);
      for (std::size_t k = first; k < out.size(); ++k) {
        const double mid = out[k].top + 0.5 * out[k].thickness;
        std::size_t j = from;
        while (j + 1 < to && s[j + 1].top <= mid) ++j;
        out[k].g = s[j].g, out[k].d = s[j].d, out[k].peak = s[j].peak;
      }
    }
    from = to;
  }
  s.swap(out);
  return changed;
}

// The analysis's start: the options and the curves checked, and
// the sublayers at the low-strain properties (each layer whole, then cut
// where max_frequency asks for it).
std::vector<Sublayer> start(const Profile& profile, const EquivalentLinearOptions& o) {
  check_density(profile);  // its stresses need t/m3
  const std::size_t N = profile.layers();
  check_equivalent_linear_options(o);
  check_curves(o, N);
  std::vector<Sublayer> sub;
  for (std::size_t i = 0; i < N; ++i) cut(sub, profile, o, i, 1);
  recut(sub, profile, o, true);
  return sub;
}

// The input's displacement spectrum Y at the record filter's frequencies
// (spacing df), as real and imaginary parts: the sweep scales the strain
// transfer functions by it (and by the within divisor) into strain spectra.
struct InputSpectrum {
  std::span<const double> freqs;
  double df = 0.0;
  std::vector<double> re, im;
};

// Y once, in SI, from the record assigned to `filter`: its spectrum over the
// padded window, halved for an outcrop input, over -w^2 (a record observed
// within the profile is taken as incident here; the within divisor comes
// with the strains).
InputSpectrum input_spectrum(const RecordFilter& filter, double dt, const EquivalentLinearOptions& o) {
  const bool within = o.input == InputMotion::WITHIN;
  InputSpectrum y;
  y.freqs = filter.frequencies();
  const std::size_t nf = y.freqs.size();
  y.df = 1.0 / (static_cast<double>(filter.padded_length()) * dt);
  y.re.resize(nf), y.im.resize(nf);
  std::vector<cdouble> Y(nf);
  filter.filtered_spectrum({}, within ? InputMotion::INCIDENT : o.input, {}, 2, 1.0, Y);
  for (std::size_t k = 0; k < nf; ++k) y.re[k] = Y[k].real(), y.im[k] = Y[k].imag();
  return y;
}

HalfSpace half_space(const Profile& p, DampingLaw law) {
  const std::size_t N = p.layers();
  return {complex_modulus(p.density()[N] * p.vs()[N] * p.vs()[N], p.damping_s()[N], law),
          1.0 / complex_velocity(p.vs()[N], p.damping_s()[N], law)};
}

// Scratch of the passes, sized in the first and reused by the next.
struct PassScratch {
  ShMedium medium;
  std::vector<double> depths, peaks;
  // The strain spectra of every sublayer, real parts then imaginary parts:
  // one block, left uninitialised (the sweep writes every value), so a call
  // neither clears megabytes it is about to overwrite nor, by freeing two
  // large blocks, leads the allocator to hand the pages back to the system
  // to be faulted in again by the next call.
  std::unique_ptr<double[]> spectra;
  std::size_t spectra_size = 0;
  std::vector<cdouble> u, u_in, strain;
  MidStrainWork work;
};

// The medium of a pass from the sublayers' current G/Gmax and damping, and
// the depth of every sublayer's middle.
void build_medium(const std::vector<Sublayer>& sub, const HalfSpace& half, DampingLaw law, ShMedium& medium,
                  std::vector<double>& depths) {
  const std::size_t M = sub.size();
  medium.thickness.resize(M);
  medium.modulus.resize(M + 1);
  medium.slowness.resize(M + 1);
  depths.resize(M);
  for (std::size_t j = 0; j < M; ++j) {
    const Sublayer& s = sub[j];
    const double vs = s.vs0 * std::sqrt(s.g);
    medium.thickness[j] = s.thickness;
    medium.modulus[j] = complex_modulus(s.density * vs * vs, s.d, law);
    medium.slowness[j] = 1.0 / complex_velocity(vs, s.d, law);
    depths[j] = s.top + 0.5 * s.thickness;
  }
  medium.modulus[M] = half.modulus;
  medium.slowness[M] = half.slowness;
}

// The strain spectra of a pass, sublayer-major (element j * nf + k).
struct StrainSpectra {
  std::span<double> re, im;
};

// The strain spectrum at the middle of every sublayer of scratch.medium: the
// strain transfer functions times Y, divided for a record observed inside
// the profile (in a layer or in the half-space) by the motion there. The
// sweep does it all; when it cannot serve the medium the general engine
// gives what is missing and the scaling follows here.
StrainSpectra strain_spectra(const InputSpectrum& y, const EquivalentLinearOptions& o, PassScratch& scratch) {
  const bool within = o.input == InputMotion::WITHIN;
  const std::size_t M = scratch.depths.size();
  const std::size_t nf = y.freqs.size();
  if (scratch.spectra_size < 2 * M * nf) scratch.spectra_size = 2 * M * nf, scratch.spectra.reset(new double[scratch.spectra_size]);
  const std::span<double> strain_re(scratch.spectra.get(), M * nf), strain_im(scratch.spectra.get() + M * nf, M * nf);
  std::vector<cdouble>& u_in = scratch.u_in;
  u_in.resize(within ? nf : 0);
  const MidStrainScale scale{y.re.data(), y.im.data(), within ? WITHIN_FLOOR : 0.0};
  const bool swept = sh_mid_strain(scratch.medium, o.angle, y.df, nf, strain_re, strain_im, scratch.work,
                                   within ? std::optional<double>(o.input_depth) : std::nullopt, u_in, scale);
  if (!swept) {
    std::vector<cdouble>& strain = scratch.strain;
    scratch.u.resize(M * nf), strain.resize(M * nf);
    sh_response(scratch.medium, o.angle, y.freqs, scratch.depths, scratch.u, strain, {});
    if (within) sh_response(scratch.medium, o.angle, y.freqs, std::span<const double>(&o.input_depth, 1), u_in, {}, {});
    for (std::size_t k = 0; k < nf; ++k) {
      cdouble f{y.re[k], y.im[k]};
      if (within) f *= RecordFilter::input_factor(InputMotion::WITHIN, u_in[k]);
      for (std::size_t j = 0; j < M; ++j) {
        const cdouble v = strain[j * nf + k] * f;
        strain_re[j * nf + k] = v.real(), strain_im[j * nf + k] = v.imag();
      }
    }
  }
  return {strain_re, strain_im};
}

// Takes a pass's peak strains into the sublayers and the strain history (per
// given layer, the largest of its sublayers'). Stops the analysis at a peak
// that is not finite, and when the largest peak has exceeded the strain
// limit in two successive passes (over_limit counts them).
void take_peaks(const std::vector<double>& peaks, int pass, const EquivalentLinearOptions& o,
                std::vector<Sublayer>& sub, int& over_limit, std::vector<double>& history, std::size_t N) {
  const std::size_t M = sub.size();
  double largest = 0.0;
  std::size_t worst = 0;
  for (std::size_t j = 0; j < M; ++j) {
    if (!std::isfinite(peaks[j])) {
      throw AnalysisError("the strain at the middle of " + detail::layer_name(sub[j].parent) +
                          " is not finite in pass " + std::to_string(pass));
    }
    sub[j].peak = peaks[j];
    if (peaks[j] > largest) largest = peaks[j], worst = j;
  }
  over_limit = largest > o.strain_limit ? over_limit + 1 : 0;
  if (over_limit >= 2) {
    throw AnalysisError("strains run away: the peak strain in " + detail::layer_name(sub[worst].parent) + " is " +
                        detail::strain_text(largest) + ", beyond the strain limit " +
                        detail::strain_text(o.strain_limit) +
                        " in two successive passes (the motion is too strong for these curves)");
  }
  for (std::size_t i = 0; i < N; ++i) history.push_back(0.0);
  for (const Sublayer& s : sub) {
    double& h = history[history.size() - N + s.parent];
    h = std::max(h, s.peak);
  }
}

// New properties from the curves at the effective strains (ratio times the
// peak); marks the layers whose strain fell outside their table. Returns the
// largest relative change of G/Gmax and damping. A curve value the damping
// law cannot take stops the analysis.
double update_properties(std::vector<Sublayer>& sub, const EquivalentLinearOptions& o, double ratio, double ceiling,
                         std::vector<char>& clamped) {
  double change = 0.0;
  for (Sublayer& s : sub) {
    const Curve& c = o.curves[s.parent];
    if (std::holds_alternative<LinearLayer>(c)) continue;
    const CurvePoint pt = evaluate_curve(c, ratio * s.peak, s.sigma_m);
    if (pt.clamped) clamped[s.parent] = 1;
    if (!(pt.damping <= ceiling) || !(pt.g_ratio > 0.0)) {
      throw AnalysisError(detail::layer_name(s.parent) + " (" + curve_name(c) + "): the curve gives G/Gmax " +
                          number(pt.g_ratio) +
                          " and damping " + number(pt.damping) + " at strain " + detail::strain_text(ratio * s.peak) +
                          ", outside what the '" + damping_law_name(o.law) + "' law accepts");
    }
    change = std::max(change, std::abs(pt.g_ratio - s.g) / pt.g_ratio);
    if (pt.damping > 0.0) change = std::max(change, std::abs(pt.damping - s.d) / pt.damping);
    s.g = pt.g_ratio, s.d = pt.damping;
  }
  return change;
}

// The convergence test after the properties were updated: the sublayers are
// re-cut for the new velocities first (always), and the iteration has
// converged when nothing was re-cut and the change is below the tolerance.
bool converged(std::vector<Sublayer>& sub, const Profile& profile, const EquivalentLinearOptions& o, double change) {
  const bool recut_now = recut(sub, profile, o, false);
  return !recut_now && change < o.tolerance;
}

// The warnings of a finished iteration: not converged, and the layers whose
// effective strain left the curve table.
void add_warnings(EquivalentLinearResult& r, const std::vector<char>& clamped, const EquivalentLinearOptions& o) {
  if (!r.converged) {
    r.warnings.push_back("the iteration did not converge in " + std::to_string(r.iterations) +
                         " passes: the largest relative change of G or D in the last pass was " +
                         number(r.change.back()) + ", above the tolerance " + number(o.tolerance));
  }
  for (std::size_t i = 0; i < clamped.size(); ++i) {
    if (clamped[i]) {
      r.warnings.push_back(detail::layer_name(i) +
                           ": an effective strain fell outside the curve table; its end values were used");
    }
  }
}

// The result per given layer (largest peak, thickness-weighted G/Gmax and
// damping, sublayer count, mean effective stress at the middle) and the
// strain-compatible profile of the sublayers over the half-space.
void assemble_result(EquivalentLinearResult& r, const std::vector<Sublayer>& sub, const Profile& profile,
                     const EquivalentLinearOptions& o) {
  const std::size_t N = profile.layers();
  r.max_strain.assign(N, 0.0);
  r.g_ratio.assign(N, 0.0);
  r.damping.assign(N, 0.0);
  r.sublayers.assign(N, 0);
  r.mean_stress.resize(N);
  const std::size_t M = sub.size();
  std::vector<double> th(M + 1), rho(M + 1), vs(M + 1), xi(M + 1), vp, xp;
  const bool has_p = profile.has_p();
  if (has_p) vp.resize(M + 1), xp.resize(M + 1);
  for (std::size_t j = 0; j < M; ++j) {
    const Sublayer& s = sub[j];
    const std::size_t i = s.parent;
    const double w = s.thickness / profile.thickness()[i];
    r.max_strain[i] = std::max(r.max_strain[i], s.peak);
    r.g_ratio[i] += w * s.g;
    r.damping[i] += w * s.d;
    ++r.sublayers[i];
    th[j] = s.thickness, rho[j] = s.density, vs[j] = s.vs0 * std::sqrt(s.g), xi[j] = s.d;
    if (has_p) {
      // Above the water table the skeleton carries P waves: its Poisson ratio
      // (vp/vs) and the shear damping hold; below, the water does.
      const bool dry = !o.water_table || s.top + 0.5 * s.thickness < *o.water_table;
      vp[j] = dry ? profile.vp()[i] * vs[j] / s.vs0 : profile.vp()[i];
      xp[j] = dry ? s.d : profile.damping_p()[i];
    }
  }
  for (std::size_t i = 0; i < N; ++i) {
    const double mid = profile.top_depth(i) + 0.5 * profile.thickness()[i];
    r.mean_stress[i] = mean_effective_stress(vertical_effective_stress(profile, mid, o.water_table), curve_k0(o.curves[i]));
  }
  th[M] = profile.thickness()[N], rho[M] = profile.density()[N], vs[M] = profile.vs()[N], xi[M] = profile.damping_s()[N];
  if (has_p) vp[M] = profile.vp()[N], xp[M] = profile.damping_p()[N];
  r.profile = Profile(std::move(th), std::move(rho), std::move(vs), std::move(xi), std::move(vp), std::move(xp));
}

}  // namespace detail::eql

using namespace detail::eql;

double effective_strain_ratio(const EquivalentLinearOptions& o) {
  if (o.magnitude) return (*o.magnitude - 1.0) / 10.0;
  return o.strain_ratio.value_or(0.65);
}

void check_equivalent_linear_options(const EquivalentLinearOptions& o) {
  const auto finite_at_least = [](const char* name, double v, double low, bool strict) {
    if (!std::isfinite(v) || v < low || (strict && v == low)) {
      throw InvalidArgument(std::string(name) + " must be finite and " + (strict ? "above " : "at least ") +
                            number(low) + ", got " + number(v));
    }
  };
  finite_at_least("tolerance", o.tolerance, 0.0, true);
  if (o.max_iterations < 1) {
    throw InvalidArgument("max_iterations must be at least 1, got " + std::to_string(o.max_iterations));
  }
  if (o.magnitude && o.strain_ratio) {
    throw InvalidArgument(
        "give magnitude or strain_ratio, not both: the magnitude sets the strain ratio to (M - 1) / 10 (got magnitude " +
        number(*o.magnitude) + " and strain_ratio " + number(*o.strain_ratio) + ")");
  }
  if (o.magnitude && !(*o.magnitude > 1.0 && *o.magnitude <= 11.0)) {
    throw InvalidArgument("magnitude must lie in (1, 11], got " + number(*o.magnitude));
  }
  if (o.strain_ratio && !(*o.strain_ratio > 0.0 && *o.strain_ratio <= 1.0)) {
    throw InvalidArgument("strain_ratio must lie in (0, 1], got " + number(*o.strain_ratio));
  }
  finite_at_least("strain_limit", o.strain_limit, 0.0, true);
  finite_at_least("input_depth", o.input_depth, 0.0, false);
  if (o.input != InputMotion::WITHIN && o.input_depth != 0.0) {
    throw InvalidArgument("input_depth is " + number(o.input_depth) +
                          " m but the input is not 'within': a depth applies only to a record observed within the "
                          "profile (give input 'within' or leave input_depth at 0)");
  }
  if (!std::isfinite(o.scale)) throw InvalidArgument("scale must be finite, got " + number(o.scale));
  if (!(std::abs(o.angle) < 90.0)) {
    throw InvalidArgument("angle must be strictly between -90 and 90 degrees, got " + number(o.angle));
  }
  if (o.water_table) finite_at_least("water_table", *o.water_table, 0.0, false);
  if (o.max_frequency) {
    finite_at_least("max_frequency", *o.max_frequency, 0.0, true);
    if (!(o.wavelength_fraction > 0.0 && o.wavelength_fraction <= 1.0)) {
      throw InvalidArgument("wavelength_fraction must lie in (0, 1], got " + number(o.wavelength_fraction));
    }
  }
}

EquivalentLinearResult equivalent_linear(const Record& record, const Profile& profile,
                                         const EquivalentLinearOptions& o) {
  check_record(record);
  std::vector<Sublayer> sub = start(profile, o);
  const std::size_t N = profile.layers();
  const double ratio = effective_strain_ratio(o);
  const double ceiling = damping_ceiling(o.law);

  // The record in the filter this thread keeps (record_filter_cache.hpp).
  const std::size_t n = record.accel.size();
  RecordFilter own;
  RecordFilter& filter = kept_record_filter(n, own);
  filter.assign(record.accel, record.dt, o.scale * acceleration_unit(record.units));
  const std::size_t L = filter.padded_length();
  check_spectrum_size(sub.size(), filter.frequencies().size(), true);
  poll_interrupt(o.interrupt);
  const InputSpectrum input = input_spectrum(filter, record.dt, o);
  const std::size_t nf = input.freqs.size();

  InversePeaks finder(L, n);
  PassScratch scratch;
  const HalfSpace half = half_space(profile, o.law);

  EquivalentLinearResult r;
  r.law = o.law;
  std::vector<char> clamped(N, 0);
  int over_limit = 0;
  for (int pass = 1; pass <= o.max_iterations; ++pass) {
    build_medium(sub, half, o.law, scratch.medium, scratch.depths);
    const std::size_t M = sub.size();
    check_spectrum_size(M, nf, false);
    const StrainSpectra spectra = strain_spectra(input, o, scratch);
    scratch.peaks.resize(M);
    finder.peaks(spectra.re.data(), spectra.im.data(), nf, M, scratch.peaks.data());

    r.iterations = pass;
    take_peaks(scratch.peaks, pass, o, sub, over_limit, r.strain_history, N);
    const double change = update_properties(sub, o, ratio, ceiling, clamped);
    r.change.push_back(change);
    if (converged(sub, profile, o, change)) {
      r.converged = true;
      break;
    }
    poll_interrupt(o.interrupt);
  }
  add_warnings(r, clamped, o);
  assemble_result(r, sub, profile, o);
  return r;
}

}  // namespace velmar
