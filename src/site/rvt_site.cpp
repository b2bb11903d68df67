// rvt_site.cpp: a Fourier amplitude spectrum through a layered profile by
// random vibration theory: linear responses, peak strains and the
// strain-compatible iteration.
//
// Glossary (j the (sub)layers of a pass, k the motion's frequencies):
//   H       transfer function per unit incident displacement (response.hpp)
//   c       input factor: 1/2 outcrop, 1 incident, 1/H_in within
//   Y_k     modulus of the input's displacement spectrum, m s:
//           fas_k x scale x g / (2 pi f_k)^2 x |c_k|
//   S_jk    strain transfer function at the middle of sublayer j
//   peak    rvt_peak of |S_j| Y: the motion's duration and peak factor
#include "velmar/rvt_site.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>

#include "site/eql_steps.hpp"
#include "site/sh_mid_strain_any.hpp"
#include "site/sh_response.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/record_filter.hpp"

namespace velmar {

using detail::number;
namespace {

void check_depth(const char* name, double z) {
  if (!(std::isfinite(z) && z >= 0.0)) detail::refuse(name, z, "must be finite and at least 0 m");
}

// The options of a linear response, checked as propagate checks them.
void check_linear(const PropagateOptions& o, bool acceleration) {
  if (!std::isfinite(o.scale)) detail::refuse("scale", o.scale, "must be finite");
  if (!(std::abs(o.setup.angle) < 90.0)) {
    detail::refuse("angle", o.setup.angle, "must lie strictly between -90 and 90 degrees");
  }
  check_depth("depth", o.depth);
  if (o.input == InputMotion::WITHIN) check_depth("input_depth", o.input_depth);
  if (o.setup.wave == Wave::SH && o.component == Component::VERTICAL) {
    throw InvalidArgument("an SH wave has no vertical component");
  }
  if (acceleration && o.quantity != Quantity::ACCELERATION) {
    throw InvalidArgument(
        "a motion by random vibration theory is an acceleration spectrum: the quantity must be 'accel' (peak "
        "strains come from rvt_peak_strains)");
  }
}

void check_to_si(double to_si) {
  if (!(std::isfinite(to_si) && to_si > 0.0)) detail::refuse("to_si (m/s2 per unit of the fas)", to_si, "must be finite and above 0");
}

// |c| of an input of kind `input` with response h_in where it was observed.
double input_modulus(InputMotion input, cdouble h_in) {
  return std::abs(RecordFilter::input_factor(input, h_in));
}

}  // namespace

std::vector<double> rvt_amplification(const RvtMotion& motion, const Profile& profile,
                                      const PropagateOptions& o) {
  check_rvt_motion(motion);
  check_linear(o, true);
  const bool within = o.input == InputMotion::WITHIN;
  const double at[2] = {o.depth, o.input_depth};
  const ResponseGrid g = response(profile, motion.freqs, std::span<const double>(at, within ? 2 : 1), o.setup);
  const Component c = o.component.value_or(o.setup.wave == Wave::P ? Component::VERTICAL : Component::HORIZONTAL);
  const std::vector<cdouble>& h = c == Component::VERTICAL ? g.w : g.u;
  const std::size_t nf = motion.freqs.size();
  std::vector<double> a(nf);
  for (std::size_t k = 0; k < nf; ++k) a[k] = std::abs(h[k]) * input_modulus(o.input, within ? h[nf + k] : 1.0);
  return a;
}

RvtMotion rvt_propagate(const RvtMotion& motion, const Profile& profile, const PropagateOptions& o) {
  const std::vector<double> a = rvt_amplification(motion, profile, o);
  RvtMotion out = motion;
  for (std::size_t k = 0; k < a.size(); ++k) out.fas[k] = std::abs(o.scale) * motion.fas[k] * a[k];
  out.site = site_resonance(motion.freqs, a);
  return out;
}

SiteResonance site_resonance(std::span<const double> freqs, std::span<const double> tf) {
  if (freqs.size() != tf.size()) {
    throw InvalidArgument("site_resonance: " + std::to_string(freqs.size()) + " frequencies but " +
                          std::to_string(tf.size()) + " transfer-function values");
  }
  SiteResonance s;
  std::size_t found = 0;
  for (std::size_t k = 1; k + 1 < tf.size() && found < 3; ++k) {
    if (!(tf[k] > tf[k - 1] && tf[k] >= tf[k + 1])) continue;
    // The vertex of the parabola through the three points in ln f.
    const double x0 = std::log(freqs[k - 1]), x1 = std::log(freqs[k]), x2 = std::log(freqs[k + 1]);
    const double y0 = tf[k - 1], y1 = tf[k], y2 = tf[k + 1];
    const double d01 = (y1 - y0) / (x1 - x0), d12 = (y2 - y1) / (x2 - x1);
    const double curv = (d12 - d01) / (x2 - x0);
    double x = x1, y = y1;
    if (curv < 0.0) {
      x = std::clamp(0.5 * (x0 + x1) - d01 / (2.0 * curv), x0, x2);
      y = std::max(y1, y0 + d01 * (x - x0) + curv * (x - x0) * (x - x1));
    }
    s.freqs[found] = std::exp(x);
    if (found == 0) s.amplitude = y;
    ++found;
  }
  if (found == 0) {
    throw InvalidArgument("the transfer function has no peak inside its frequencies (" + number(freqs.front()) +
                          " to " + number(freqs.back()) + " Hz): no site resonance to take");
  }
  return s;
}

std::vector<double> rvt_peak_strains(const RvtMotion& motion, const Profile& profile, const PropagateOptions& o,
                                     std::span<const double> depths, double to_si) {
  check_rvt_motion(motion);
  check_to_si(to_si);
  check_linear(o, false);
  if (o.setup.wave != Wave::SH) throw InvalidArgument("peak strains are computed for SH waves only");
  for (std::size_t d = 0; d < depths.size(); ++d) {
    check_depth(("depths[" + std::to_string(d) + "]").c_str(), depths[d]);
  }
  const std::size_t nf = motion.freqs.size(), nd = depths.size();
  const bool within = o.input == InputMotion::WITHIN;
  std::vector<double> at(depths.begin(), depths.end());
  if (within) at.push_back(o.input_depth);
  const ResponseGrid g = response(profile, motion.freqs, at, o.setup);
  std::vector<double> y(nf), amp(nf), peaks(nd);
  for (std::size_t k = 0; k < nf; ++k) {
    const double w = 2.0 * std::numbers::pi * motion.freqs[k];
    y[k] = std::abs(o.scale) * motion.fas[k] * to_si / (w * w) *
           input_modulus(o.input, within ? g.u[nd * nf + k] : 1.0);
  }
  for (std::size_t d = 0; d < nd; ++d) {
    for (std::size_t k = 0; k < nf; ++k) amp[k] = std::abs(g.strain[d * nf + k]) * y[k];
    peaks[d] = rvt_peak(motion, amp);
  }
  return peaks;
}

EquivalentLinearResult equivalent_linear(const RvtMotion& motion, const Profile& profile,
                                         const EquivalentLinearOptions& o, double to_si) {
  using namespace detail::eql;
  check_rvt_motion(motion);
  check_to_si(to_si);
  std::vector<Sublayer> sub = start(profile, o);
  const std::size_t N = profile.layers();
  const std::size_t nf = motion.freqs.size();
  check_spectrum_size(sub.size(), nf, true);
  const double ratio = effective_strain_ratio(o);
  const double ceiling = damping_ceiling(o.law);
  const bool within = o.input == InputMotion::WITHIN;
  const HalfSpace half = half_space(profile, o.law);

  // Y without the within divisor (that one changes with the profile).
  std::vector<double> y(nf);
  for (std::size_t k = 0; k < nf; ++k) {
    const double w = 2.0 * std::numbers::pi * motion.freqs[k];
    y[k] = std::abs(o.scale) * motion.fas[k] * to_si / (w * w) *
           (o.input == InputMotion::OUTCROP ? 0.5 : 1.0);
  }

  // Scratch of the passes: grown in the first pass (and after a re-cut),
  // reused by the next.
  detail::ShMedium medium;
  detail::ShResponseWork work;
  detail::MidStrainAnyWork sweep;
  std::vector<double> depths, targets, peaks, moduli, yk(nf), weighted(4 * nf);
  // The moments' weights: (f_{k+1} - f_{k-1}) (2 pi f_k)^p, p = 0, 1, 2, 4
  // (one-sided at the ends).
  std::vector<double> weights(4 * nf);
  for (std::size_t k = 0; k < nf; ++k) {
    const double lo = motion.freqs[k > 0 ? k - 1 : k], hi = motion.freqs[k + 1 < nf ? k + 1 : k];
    const double w = 2.0 * std::numbers::pi * motion.freqs[k];
    weights[k] = hi - lo;
    weights[nf + k] = (hi - lo) * w;
    weights[2 * nf + k] = (hi - lo) * w * w;
    weights[3 * nf + k] = (hi - lo) * w * w * w * w;
  }
  std::vector<cdouble> u, strain;

  EquivalentLinearResult r;
  r.law = o.law;
  std::vector<char> clamped(N, 0);
  int over_limit = 0;
  for (int pass = 1; pass <= o.max_iterations; ++pass) {
    build_medium(sub, half, o.law, medium, depths);
    const std::size_t M = sub.size();
    check_spectrum_size(M, nf, false);
    peaks.resize(M), moduli.resize(M * nf);
    // The sweep serves every medium but an extreme one; the general engine
    // serves that, and a record observed within the profile (whose divisor
    // needs the motion at its depth).
    const bool swept = !within && detail::sh_mid_strain_moduli(medium, o.angle, motion.freqs, moduli, sweep, true);
    if (swept) {
      std::copy(y.begin(), y.end(), yk.begin());
    } else {
      targets.assign(depths.begin(), depths.end());
      if (within) targets.push_back(o.input_depth);
      const std::size_t nt = targets.size();
      u.resize(nt * nf), strain.resize(nt * nf);
      detail::sh_response(medium, o.angle, motion.freqs, targets, u, strain, {}, work);
      for (std::size_t k = 0; k < nf; ++k) {
        yk[k] = within ? y[k] * input_modulus(InputMotion::WITHIN, u[M * nf + k]) : y[k];
      }
      for (std::size_t i = 0; i < M * nf; ++i) moduli[i] = std::norm(strain[i]);
    }
    // The moments of |S_j| Y (trapezoid in f on the motion's frequencies,
    // as spectral_moments), then the peak; a moment that is not finite
    // gives a peak that is not, which stops the analysis.
    for (std::size_t k = 0; k < nf; ++k) {
      const double y2 = yk[k] * yk[k];
      for (std::size_t q = 0; q < 4; ++q) weighted[4 * k + q] = y2 * weights[q * nf + k];
    }
    for (std::size_t j = 0; j < M; ++j) {
      // Four moments side by side, even and odd frequencies apart: eight
      // independent sums keep the adder busy.
      const double* s = moduli.data() + j * nf;
      const double* c = weighted.data();
      double e[4] = {0.0, 0.0, 0.0, 0.0}, d[4] = {0.0, 0.0, 0.0, 0.0};
      std::size_t k = 0;
      for (; k + 1 < nf; k += 2) {
        for (std::size_t q = 0; q < 4; ++q) e[q] += s[k] * c[4 * k + q];
        for (std::size_t q = 0; q < 4; ++q) d[q] += s[k + 1] * c[4 * k + 4 + q];
      }
      if (k < nf) {
        for (std::size_t q = 0; q < 4; ++q) e[q] += s[k] * c[4 * k + q];
      }
      const double m[4] = {e[0] + d[0], e[1] + d[1], e[2] + d[2], e[3] + d[3]};
      const bool finite = std::isfinite(m[0]) && std::isfinite(m[1]) && std::isfinite(m[2]) && std::isfinite(m[3]);
      peaks[j] = finite ? rvt_peak_from_moments(motion, SpectralMoments{m[0], m[1], m[2], m[3]}).peak
                        : std::numeric_limits<double>::quiet_NaN();
    }
    r.iterations = pass;
    take_peaks(peaks, pass, o, sub, over_limit, r.strain_history, N);
    const double change = update_properties(sub, o, ratio, ceiling, clamped);
    r.change.push_back(change);
    if (converged(sub, profile, o, change)) {
      r.converged = true;
      break;
    }
    poll_interrupt(o.interrupt);
  }
  assemble_result(r, sub, profile, o);
  add_warnings(r, clamped, o);
  return r;
}

}  // namespace velmar
