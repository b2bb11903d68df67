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
#include "site/eql_acceleration.hpp"
#include "site/frequency_dependent.hpp"
#include "site/eql_steps.hpp"
#include "site/record_filter_cache.hpp"
#include "site/sh_mid_strain.hpp"
#include "site/sh_response.hpp"
#include "site/text.hpp"
#include "velmar/equivalent_linear.hpp"
#include "velmar/errors.hpp"
#include "velmar/measures.hpp"
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

// The frequency-dependent passes hold about this many times the values of
// the classic strain spectra (properties, slownesses and moduli per
// frequency): their spectra are limited to MAX_STRAIN_SPECTRUM_VALUES over it.
constexpr std::size_t FD_SPECTRUM_FACTOR = 4;

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
    const bool linear = std::holds_alternative<LinearLayer>(o.curves[parent]);
    if (!linear && (o.damping_min || o.damping_min_from_profile)) {
      s.d_shift = (o.damping_min_from_profile ? s.xi0 : *o.damping_min) - c.damping;
    }
    s.d = linear ? s.xi0 : c.damping + s.d_shift;
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
        out[k].g = s[j].g, out[k].d = s[j].d, out[k].peak = s[j].peak, out[k].at = s[j].at;
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
    sub[j].at = peaks[j];
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
    CurvePoint pt = evaluate_curve(c, ratio * s.at, s.sigma_m);
    pt.damping = std::max(0.0, pt.damping + s.d_shift);
    if (pt.clamped) clamped[s.parent] = 1;
    if (!(pt.damping <= ceiling) || !(pt.g_ratio > 0.0)) {
      throw AnalysisError(detail::layer_name(s.parent) + " (" + curve_name(c) + "): the curve gives G/Gmax " +
                          number(pt.g_ratio) +
                          " and damping " + number(pt.damping) + " at strain " + detail::strain_text(ratio * s.at) +
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

// The table a layer's effective strain left, for its warning: a user's table
// is "the curve table", a published one is named by its authors, year and
// soil; both with the strains they span, so the reader sees which end was
// passed.
std::string table_left(const Curve& curve) {
  const CurveTable* table = std::get_if<CurveTable>(&curve);
  std::string what = "the curve table";
  if (const auto* p = std::get_if<PublishedCurve>(&curve)) {
    table = &published_curve_table(p->name);
    what = "the table of " + curve_name(curve);
  }
  if (table == nullptr || table->strain.empty()) return what;
  return what + " (tabulated from " + detail::strain_text(table->strain.front()) + " to " +
         detail::strain_text(table->strain.back()) + ")";
}

// The warnings of a finished iteration: not converged, and the layers whose
// effective strain left their table (user or published).
void add_warnings(EquivalentLinearResult& r, const std::vector<char>& clamped, const EquivalentLinearOptions& o) {
  if (!r.converged) {
    r.warnings.push_back("the iteration did not converge in " + std::to_string(r.iterations) +
                         " passes: the largest relative change of G or D in the last pass was " +
                         number(r.change.back()) + ", above the tolerance " + number(o.tolerance));
  }
  for (std::size_t i = 0; i < clamped.size(); ++i) {
    const double effective = effective_strain_ratio(o) * r.max_strain[i];
    if (effective > EFFECTIVE_STRAIN_WARNING) {
      r.warnings.push_back(detail::layer_name(i) + ": the effective strain " + detail::strain_text(effective) +
                           " is above " + detail::strain_text(EFFECTIVE_STRAIN_WARNING) +
                           ", where an equivalent-linear analysis no longer follows the soil's hysteresis; "
                           "a nonlinear analysis in the time domain is the tool for it");
    }
    if (clamped[i]) {
      r.warnings.push_back(detail::layer_name(i) + ": an effective strain fell outside " +
                           table_left(o.curves[i]) + "; its end values were used");
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

namespace {

// The accelerated iteration's start: properties read at the effective
// strain PGV / Vs of every (sub)layer (the record's peak velocity, as the
// outcrop motion, over the low-strain Vs): near the strains of a moderate
// motion, where the low-strain profile is far from every strong motion's.
void start_from_estimate(double record_pgv, const EquivalentLinearOptions& o, double ratio, double ceiling,
                         std::vector<Sublayer>& sub, std::vector<char>& clamped) {
  const double pgv = record_pgv * std::abs(o.scale);
  for (Sublayer& s : sub) s.at = pgv / (s.vs0 * ratio);
  update_properties(sub, o, ratio, ceiling, clamped);
}

// The accelerated iteration stops when the change is below this fraction of
// the tolerance. A stop on the change alone leaves the strains about
// change x q / (1 - q) from the fixed point, q the contraction of the plain
// passes (0.8 to 0.95 on soft profiles under strong motion: 5 to 20 times the
// change, and property changes understate strain changes by a further factor
// of 1 to 3); the mixed passes shrink the change by about half each, so the
// quarter costs about two passes and lands the strains within about three
// tolerances of the fixed point.
constexpr double ACCELERATED_STOP = 0.25;
// Mixed passes without a new smallest change before the plain passes take over.
constexpr int MAX_STALLED = 10;

// The accelerated update: Anderson mixing of the log peak strains (the
// point a pass's properties were read at, and the peaks it gave).
class Accelerator {
 public:
  // Before take_peaks: the point of this pass.
  void keep_point(const std::vector<Sublayer>& sub) {
    x_.resize(sub.size());
    for (std::size_t j = 0; j < sub.size(); ++j) x_[j] = std::log(std::max(sub[j].at, TINY));
  }
  // After update_properties: moves the properties to the mixed point (a
  // re-cut column, whose unknowns changed, keeps the plain step).
  void next_point(std::vector<Sublayer>& sub, const EquivalentLinearOptions& o, double ratio, double ceiling,
                  std::vector<char>& clamped) {
    const std::size_t M = sub.size();
    if (M != x_.size()) {
      mix_.reset();
      return;
    }
    g_.resize(M), w_.resize(M), next_.resize(M);
    for (std::size_t j = 0; j < M; ++j) {
      g_[j] = std::log(std::max(sub[j].peak, TINY));
      w_[j] = std::holds_alternative<LinearLayer>(o.curves[sub[j].parent]) ? 0.0 : 1.0;
    }
    mix_.step(x_, g_, w_, next_);
    for (std::size_t j = 0; j < M; ++j) sub[j].at = std::exp(next_[j]);
    // A guess's table ends do not warn: only the strains of passes do.
    scratch_clamped_.assign(clamped.size(), 0);
    update_properties(sub, o, ratio, ceiling, scratch_clamped_);
  }

 private:
  static constexpr double TINY = 1e-300;
  detail::AndersonMixing mix_{3};
  std::vector<double> x_, g_, w_, next_;
  std::vector<char> scratch_clamped_;
};

// The frequency-dependent passes after the classic run: one pass on the
// classic properties gives the first strain spectra; from then on every
// (sub)layer's G/Gmax and damping are read frequency by frequency at the
// variant's strain spectrum, until their largest relative change over
// layers and frequencies is below the tolerance. These passes contract fast
// (about 0.6 a pass on the benchmark profile), so they are plain passes
// and a stop at the tolerance lands within about 1.5 tolerances of their
// fixed point. The sublayers of the classic run are kept.
void frequency_dependent_passes(EquivalentLinearResult& r, std::vector<Sublayer>& sub, const InputSpectrum& input,
                                const EquivalentLinearOptions& o, double ratio, const HalfSpace& half,
                                InversePeaks& finder, PassScratch& scratch, int& over_limit,
                                std::vector<char>& clamped) {
  const std::size_t M = sub.size(), nf = input.freqs.size(), N = clamped.size();
  check_spectrum_size(M * FD_SPECTRUM_FACTOR, nf, false);
  std::vector<detail::FdRow> rows;
  rows.reserve(M);
  for (const Sublayer& s : sub) {
    rows.push_back({s.thickness, s.density, s.vs0, s.xi0, s.sigma_m, &o.curves[s.parent], s.parent, s.d_shift});
  }
  detail::FdColumn col(std::move(rows), half.modulus, half.slowness, o.law, o.angle, nf, input.df,
                       o.frequency_dependent, o.ko_bandwidth);
  std::vector<double> effective(M), g0(M), d0(M);
  for (std::size_t j = 0; j < M; ++j) g0[j] = sub[j].g, d0[j] = sub[j].d;
  col.start(g0, d0);
  const double ceiling = damping_ceiling(o.law);
  build_medium(sub, half, o.law, scratch.medium, scratch.depths);
  StrainSpectra spectra = strain_spectra(input, o, scratch);
  const bool within = o.input == InputMotion::WITHIN;
  r.converged = false;
  for (int pass = 1; pass <= o.max_iterations; ++pass) {
    if (pass > 1) {
      col.strain_spectra(input.re.data(), input.im.data(), within ? &o.input_depth : nullptr, WITHIN_FLOOR,
                         spectra.re.data(), spectra.im.data());
    }
    scratch.peaks.resize(M);
    finder.peaks(spectra.re.data(), spectra.im.data(), nf, M, scratch.peaks.data());
    ++r.iterations;
    take_peaks(scratch.peaks, r.iterations, o, sub, over_limit, r.strain_history, N);
    for (std::size_t j = 0; j < M; ++j) effective[j] = ratio * sub[j].peak;
    // The properties at the effective strains (the result's g_ratio and
    // damping), then those per frequency.
    update_properties(sub, o, ratio, ceiling, clamped);
    const double change = col.measure(spectra.re.data(), spectra.im.data(), effective);
    r.change.push_back(change);
    if (pass > 1 && change < o.tolerance) {
      r.converged = true;
      break;
    }
    col.advance();
    poll_interrupt(o.interrupt);
  }
  const std::size_t F = nf;
  r.frequencies.resize(nf);
  for (std::size_t k = 0; k < nf; ++k) r.frequencies[k] = static_cast<double>(k) * input.df;
  r.g_ratio_f.assign(col.g().begin(), col.g().end());
  r.damping_f.assign(col.d().begin(), col.d().end());
  r.strain_f.resize(M * F);
  const std::span<const double> lg = col.log_strain();
  for (std::size_t i = 0; i < M * F; ++i) r.strain_f[i] = std::exp(lg[i]);
  r.vs_low.resize(M);
  for (std::size_t j = 0; j < M; ++j) r.vs_low[j] = sub[j].vs0;
}

}  // namespace

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
  if (o.damping_min && o.damping_min_from_profile) {
    throw InvalidArgument("give damping_min or take the small-strain damping from the profile, not both (got damping_min " +
                          number(*o.damping_min) + ")");
  }
  if (o.damping_min && !(*o.damping_min >= 0.0 && *o.damping_min < 0.5)) {
    throw InvalidArgument("damping_min must be a ratio in [0, 0.5), got " + number(*o.damping_min) +
                          (*o.damping_min >= 0.5 && *o.damping_min < 100.0 ? " (percent? give percent / 100)" : ""));
  }
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
  if (!(o.ko_bandwidth >= 1.0 && o.ko_bandwidth <= 1000.0)) {
    throw InvalidArgument("ko_bandwidth must lie in [1, 1000] (20 to 40 are usual), got " + number(o.ko_bandwidth));
  }
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

  // The start's estimate first: the peak velocity's integration uses the
  // filter this thread keeps.
  const double pgv = o.iteration == EqlIteration::ACCELERATED ? intensity_measures(record).pgv : 0.0;
  // The record in the filter this thread keeps (record_filter_cache.hpp).
  const std::size_t n = record.accel.size();
  RecordFilter own;
  RecordFilter& filter = kept_record_filter(n, own);
  filter.assign(record.accel, record.dt, o.scale * acceleration_unit(record.units));
  const std::size_t L = filter.padded_length();
  check_spectrum_size(sub.size() * (o.frequency_dependent == FrequencyDependent::NONE ? 1 : FD_SPECTRUM_FACTOR),
                      filter.frequencies().size(), true);
  poll_interrupt(o.interrupt);
  const InputSpectrum input = input_spectrum(filter, record.dt, o);
  const std::size_t nf = input.freqs.size();

  InversePeaks finder(L, n);
  PassScratch scratch;
  const HalfSpace half = half_space(profile, o.law);

  EquivalentLinearResult r;
  r.law = o.law;
  std::vector<char> clamped(N, 0);
  const bool accelerated = o.iteration == EqlIteration::ACCELERATED;
  if (accelerated) start_from_estimate(pgv, o, ratio, ceiling, sub, clamped);
  Accelerator acc;
  double best_change = std::numeric_limits<double>::infinity();
  int stalled = 0;
  int over_limit = 0;
  for (int pass = 1; pass <= o.max_iterations; ++pass) {
    build_medium(sub, half, o.law, scratch.medium, scratch.depths);
    const std::size_t M = sub.size();
    check_spectrum_size(M, nf, false);
    const StrainSpectra spectra = strain_spectra(input, o, scratch);
    scratch.peaks.resize(M);
    finder.peaks(spectra.re.data(), spectra.im.data(), nf, M, scratch.peaks.data());

    r.iterations = pass;
    if (accelerated) acc.keep_point(sub);
    take_peaks(scratch.peaks, pass, o, sub, over_limit, r.strain_history, N);
    const double change = update_properties(sub, o, ratio, ceiling, clamped);
    r.change.push_back(change);
    if (converged(sub, profile, o, accelerated ? change / ACCELERATED_STOP : change)) {
      r.converged = true;
      break;
    }
    // Mixed passes that stop finding a smaller change (a cycle the mixing
    // keeps up) give way to plain passes.
    if (change < best_change) best_change = change, stalled = 0;
    else ++stalled;
    if (accelerated && stalled < MAX_STALLED) acc.next_point(sub, o, ratio, ceiling, clamped);
    poll_interrupt(o.interrupt);
  }
  r.classic_iterations = r.iterations;
  if (o.frequency_dependent != FrequencyDependent::NONE) {
    frequency_dependent_passes(r, sub, input, o, ratio, half, finder, scratch, over_limit, clamped);
  }
  assemble_result(r, sub, profile, o);
  add_warnings(r, clamped, o);
  return r;
}

}  // namespace velmar
