// site_indices.cpp: time-averaged velocities, site classes, fundamental
// frequencies, kappa0 and the damping adjustment to a target kappa0.
#include "velmar/site_indices.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <sstream>

#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/response.hpp"

namespace velmar {

using detail::lower;
using detail::number;
using detail::refuse;
namespace {

// Travel time of a vertical S wave from the surface down to the half-space.
double layers_travel_time(const Profile& p) {
  double t = 0.0;
  for (std::size_t i = 0; i < p.layers(); ++i) t += p.thickness()[i] / p.vs()[i];
  return t;
}

double interval_travel_time(const Profile& p, double depth) {
  double t = 0.0;
  double left = depth;
  for (std::size_t i = 0; i < p.layers() && left > 0.0; ++i) {
    const double h = std::min(p.thickness()[i], left);
    t += h / p.vs()[i];
    left -= h;
  }
  if (left > 0.0) t += left / p.vs()[p.layers()];
  return t;
}

// |SH transfer function| at the surface over frequencies, vertical incidence.
double sh_amplitude(const Profile& p, double f, DampingLaw law) {
  WaveSetup setup;
  setup.law = law;
  const double freq[1] = {f};
  return std::abs(transfer(p, freq, setup)[0]);
}

}  // namespace

double time_averaged_vs(const Profile& profile, double depth) {
  if (!(std::isfinite(depth) && depth > 0.0)) refuse("depth", depth, "must be above 0 and finite");
  if (profile.vs().empty()) throw InvalidArgument("profile is empty (no half-space)");
  return depth / interval_travel_time(profile, depth);
}

std::optional<double> depth_to_vs(const Profile& profile, double vs) {
  if (!(std::isfinite(vs) && vs > 0.0)) refuse("vs", vs, "must be above 0 and finite");
  for (std::size_t i = 0; i < profile.vs().size(); ++i) {
    if (profile.vs()[i] >= vs) return profile.top_depth(i);
  }
  return std::nullopt;
}

double kappa0(const Profile& profile) {
  double k = 0.0;
  for (std::size_t i = 0; i < profile.layers(); ++i) {
    k += 2.0 * profile.damping_s()[i] * profile.thickness()[i] / profile.vs()[i];
  }
  return k;
}

Profile adjust_damping(const Profile& profile, double target) {
  if (!(std::isfinite(target) && target >= 0.0)) {
    refuse("kappa0", target, "must be 0 or above (an elastic profile has 0) and finite");
  }
  const std::size_t n = profile.layers();
  if (n == 0 && target > 0.0) {
    throw InvalidArgument("kappa0 above 0 needs layers; the profile is a bare half-space (kappa0 = 0)");
  }
  // kappa0 = sum 2 (c / Vs_i) h_i / Vs_i, so c = target / sum 2 h_i / Vs_i^2.
  double weight = 0.0;
  for (std::size_t i = 0; i < n; ++i) weight += 2.0 * profile.thickness()[i] / (profile.vs()[i] * profile.vs()[i]);
  const double c = n == 0 ? 0.0 : target / weight;
  std::vector<double> damping = profile.damping_s();
  for (std::size_t i = 0; i < n; ++i) {
    damping[i] = c / profile.vs()[i];
    if (!(damping[i] < 1.0)) {
      std::ostringstream s;
      s << "kappa0 " << number(target) << " s would need a damping ratio of " << number(damping[i])
        << " in " << detail::layer_name(i) << " (Vs " << number(profile.vs()[i]) << " m/s); a damping ratio must stay below 1";
      throw InvalidArgument(s.str());
    }
  }
  return Profile(profile.thickness(), profile.density(), profile.vs(), std::move(damping), profile.vp(),
                 profile.damping_p());
}

FundamentalFrequency fundamental_frequency(const Profile& profile, DampingLaw law) {
  if (profile.layers() == 0) {
    throw InvalidArgument("profile has no layers: a bare half-space has no fundamental frequency");
  }
  FundamentalFrequency out;
  out.quarter_wavelength = 1.0 / (4.0 * layers_travel_time(profile));
  // The first local maximum of |H(f)| on a fine logarithmic grid from f0/20
  // to 20 f0 (the first mode of any layering lies there), refined by golden
  // section between the neighbouring grid points.
  constexpr std::size_t kPoints = 3000;
  const double lo = out.quarter_wavelength / 20.0;
  const double ratio = std::pow(400.0, 1.0 / static_cast<double>(kPoints - 1));
  std::vector<double> freqs(kPoints);
  for (std::size_t i = 0; i < kPoints; ++i) freqs[i] = lo * std::pow(ratio, static_cast<double>(i));
  WaveSetup setup;
  setup.law = law;
  const std::vector<cdouble> h = transfer(profile, freqs, setup);
  std::size_t peak = 0;
  for (std::size_t i = 1; i + 1 < kPoints; ++i) {
    const double a = std::abs(h[i]);
    if (a > std::abs(h[i - 1]) && a >= std::abs(h[i + 1])) {
      peak = i;
      break;
    }
  }
  if (peak == 0) {
    std::ostringstream s;
    s << "the SH transfer function of the profile has no peak between " << number(lo) << " and "
      << number(freqs.back()) << " Hz";
    throw InvalidArgument(s.str());
  }
  double a = freqs[peak - 1], b = freqs[peak + 1];
  const double g = (std::sqrt(5.0) - 1.0) / 2.0;
  double c = b - g * (b - a), d = a + g * (b - a);
  double fc = sh_amplitude(profile, c, law), fd = sh_amplitude(profile, d, law);
  for (int it = 0; it < 60 && (b - a) > 1e-12 * b; ++it) {
    if (fc >= fd) {
      b = d;
      d = c;
      fd = fc;
      c = b - g * (b - a);
      fc = sh_amplitude(profile, c, law);
    } else {
      a = c;
      c = d;
      fc = fd;
      d = a + g * (b - a);
      fd = sh_amplitude(profile, d, law);
    }
  }
  out.sh_peak = 0.5 * (a + b);
  return out;
}

namespace {

struct Bound {
  const char* label;
  double lower;        // the class holds vs30 above this (or at it when lower_inclusive)
  bool lower_inclusive;
};

std::string describe(const Bound* table, std::size_t k) {
  std::ostringstream s;
  s << "Vs30 ";
  const Bound& b = table[k];
  const bool has_upper = k > 0;
  if (b.lower <= 0.0) {
    s << (table[k - 1].lower_inclusive ? "< " : "<= ") << number(table[k - 1].lower);
  } else if (!has_upper) {
    s << (b.lower_inclusive ? ">= " : "> ") << number(b.lower);
  } else {
    s << "in " << (b.lower_inclusive ? '[' : '(') << number(b.lower) << ", " << number(table[k - 1].lower)
      << (table[k - 1].lower_inclusive ? ')' : ']');
  }
  s << " m/s";
  return s.str();
}

// The class of vs30 `v`. A Vs30 within 1e-9 (relative) of a bound counts as
// on it: a profile of exactly 762 m/s must not fall either side of the bound
// by the rounding of 30 / (30 / 762).
std::size_t classify(const Bound* table, std::size_t n, double v) {
  for (std::size_t k = 0; k < n; ++k) {
    const double b = table[k].lower;
    const bool on = std::abs(v - b) <= 1e-9 * b;
    if ((v > b && !on) || (table[k].lower_inclusive && on)) return k;
  }
  return n - 1;
}

constexpr Bound kAsce716[] = {{"A", 1524.0, false}, {"B", 762.0, false}, {"C", 366.0, false},
                              {"D", 183.0, true},   {"E", 0.0, true}};
constexpr Bound kAsce722[] = {{"A", 1524.0, false}, {"B", 914.0, false}, {"BC", 640.0, false},
                              {"C", 442.0, false},  {"CD", 305.0, false}, {"D", 213.0, false},
                              {"DE", 152.0, false}, {"E", 0.0, true}};
constexpr Bound kEc8[] = {{"A", 800.0, false}, {"B", 360.0, true}, {"C", 180.0, true}, {"D", 0.0, true}};

constexpr const char* kAsceUntold =
    "class F (liquefiable, quick or highly sensitive soils, collapsible cemented soils, more than 3 m of "
    "peat or highly organic clay, more than 7.5 m of clay with PI > 75, more than 37 m of soft to "
    "medium-stiff clay) and class E by more than 3 m of soft clay (PI > 20, water content >= 40 %, "
    "su < 25 kPa) need soil data, not a Vs profile; the blow-count and undrained-strength alternatives "
    "are not used";

// Thickness of the layers whose Vs is below `vs`, m (the longest contiguous run).
double thickest_run_below(const Profile& p, double vs) {
  double best = 0.0, run = 0.0;
  for (std::size_t i = 0; i < p.layers(); ++i) {
    run = p.vs()[i] < vs ? run + p.thickness()[i] : 0.0;
    best = std::max(best, run);
  }
  return best;
}

}  // namespace

SiteClass site_class(const Profile& profile, std::string_view code) {
  const std::string name = lower(code);
  SiteClass out;
  out.code = name;
  out.vs30 = vs30(profile);
  const Bound* table = nullptr;
  std::size_t n = 0;
  if (name == "asce7-16") {
    table = kAsce716;
    n = std::size(kAsce716);
    out.not_checked = kAsceUntold;
  } else if (name == "asce7-22") {
    table = kAsce722;
    n = std::size(kAsce722);
    out.not_checked = kAsceUntold;
  } else if (name == "ec8") {
    table = kEc8;
    n = std::size(kEc8);
    out.not_checked =
        "special classes S1 (deposits with a layer at least 10 m thick of soft clay or silt, PI > 40, high "
        "water content, Vs < 100 m/s) and S2 (liquefiable soils, sensitive clays) need soil data, not a Vs "
        "profile; the NSPT and cu alternatives are not used";
    const double soft = thickest_run_below(profile, 100.0);
    if (soft >= 10.0) {
      out.not_checked += "; this profile has " + number(soft) +
                         " m of Vs below 100 m/s: check its soil for class S1";
    }
  } else {
    throw InvalidArgument("code must be \"asce7-16\", \"asce7-22\" or \"ec8\", got \"" + std::string(code) + "\"");
  }
  const std::size_t k = classify(table, n, out.vs30);
  out.label = table[k].label;
  out.basis = describe(table, k);
  if (name == "ec8") {
    // Class E: a surface layer of class C or D velocities (time-averaged Vs
    // below 360 m/s), about 5 to 20 m thick, over material with Vs above 800
    // m/s everywhere below it.
    std::size_t first = profile.vs().size();
    for (std::size_t i = 0; i < profile.vs().size(); ++i) {
      if (profile.vs()[i] > 800.0) {
        first = i;
        break;
      }
    }
    if (first < profile.vs().size() && first > 0) {
      bool stiff_below = true;
      for (std::size_t i = first; i < profile.vs().size(); ++i) stiff_below = stiff_below && profile.vs()[i] > 800.0;
      const double cover = profile.top_depth(first);
      if (stiff_below && cover >= 5.0 && cover <= 20.0) {
        const double v_cover = time_averaged_vs(profile, cover);
        if (v_cover < 360.0) {
          out.label = "E";
          out.basis = "a " + number(cover) + " m cover (5-20 m) with time-averaged Vs " + number(v_cover) +
                      " m/s (below 360, class C or D) over Vs above 800 m/s";
        }
      }
    }
  }
  return out;
}

}  // namespace velmar
