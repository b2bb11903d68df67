// quarter_wavelength.cpp: quarter-wavelength (square-root impedance)
// amplification of a profile and its inversion for the layers' velocities.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>

#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/site_indices.hpp"

namespace velmar {

using detail::number;
using detail::refuse;
namespace {

void check_options(const QuarterWavelengthOptions& o) {
  if (!o.frequency_dependent_eta && !(o.eta > 0.0 && o.eta <= 2.0)) refuse("eta", o.eta, "must lie in (0, 2]");
  if (!(std::isfinite(o.kappa) && o.kappa >= 0.0)) refuse("kappa", o.kappa, "must be 0 or above and finite");
  if (o.source_vs && !(std::isfinite(*o.source_vs) && *o.source_vs > 0.0)) {
    refuse("source_vs", *o.source_vs, "must be above 0 and finite");
  }
  if (o.source_density && !(std::isfinite(*o.source_density) && *o.source_density > 0.0)) {
    refuse("source_density", *o.source_density, "must be above 0 and finite");
  }
}

void check_freqs(std::span<const double> freqs) {
  for (std::size_t i = 0; i < freqs.size(); ++i) {
    if (!(std::isfinite(freqs[i]) && freqs[i] > 0.0)) {
      std::ostringstream s;
      s << "freqs[" << i << "] must be above 0 and finite, got " << number(freqs[i]);
      throw InvalidArgument(s.str());
    }
  }
}

// The quarter-wavelength depth, average velocity and density for one
// frequency. The travel time is piecewise linear in depth, so the depth with
// travel time 1/(4f) is found exactly, layer by layer.
void qwl_point(std::span<const double> h, std::span<const double> vs, std::span<const double> rho, double f,
               double& z, double& v, double& r) {
  const double target = 1.0 / (4.0 * f);
  const std::size_t n = vs.size() - 1;
  double t = 0.0, depth = 0.0, mass = 0.0;
  for (std::size_t i = 0; i <= n; ++i) {
    const double dt = i < n ? h[i] / vs[i] : 0.0;
    if (i == n || t + dt >= target) {
      // Written so that a very deep z (a tiny frequency) still gives finite
      // averages: V = depth_above / T + (1 - t / T) Vs_i and
      // rho = rho_i + (mass_above - rho_i depth_above) / z.
      const double dz = (target - t) * vs[i];
      z = depth + dz;
      v = depth / target + (1.0 - t / target) * vs[i];
      r = rho[i] + (mass - rho[i] * depth) / z;
      return;
    }
    t += dt;
    depth += h[i];
    mass += rho[i] * h[i];
  }
}

}  // namespace

double eta_ba23(double x) {
  // eta = a t^d / ((1 - t^e)^g + h t^p)^q with t = (x - b) / s; 0 for t <= 0
  // (frequencies a decade and more below the profile's base frequency), and
  // tending to a at high frequencies.
  constexpr double a = 0.560, b = -1.301, s = 1.398, h = 0.760, q = 0.333;
  const double t = (x - b) / s;
  if (!(t > 0.0)) return 0.0;
  const double t3 = t * t * t;
  const double t4 = t3 * t;
  const double t6 = t3 * t3;
  const double base = (1.0 - t6) * (1.0 - t6) + h * t3;
  // For very large t, t4 / base^q overflows nowhere: base ~ t^12, so use logs.
  return a * std::exp(std::log(t4) - q * std::log(base));
}

QuarterWavelength quarter_wavelength(const Profile& profile, std::span<const double> freqs,
                                     const QuarterWavelengthOptions& options) {
  check_options(options);
  check_freqs(freqs);
  if (profile.vs().empty()) throw InvalidArgument("profile is empty (no half-space)");
  const std::size_t n = profile.layers();
  const double src_v = options.source_vs.value_or(profile.vs()[n]);
  const double src_r = options.source_density.value_or(profile.density()[n]);
  double t_layers = 0.0;
  for (std::size_t i = 0; i < n; ++i) t_layers += profile.thickness()[i] / profile.vs()[i];
  QuarterWavelength out;
  const std::size_t nf = freqs.size();
  out.depth.resize(nf);
  out.velocity.resize(nf);
  out.density.resize(nf);
  out.eta.resize(nf);
  out.amplification.resize(nf);
  for (std::size_t k = 0; k < nf; ++k) {
    qwl_point(profile.thickness(), profile.vs(), profile.density(), freqs[k], out.depth[k], out.velocity[k],
              out.density[k]);
    if (!std::isfinite(out.depth[k])) {
      std::ostringstream s;
      s << "freqs[" << k << "] = " << number(freqs[k])
        << " Hz is too low: its quarter-wavelength depth exceeds the largest number";
      throw InvalidArgument(s.str());
    }
    double eta = options.eta;
    if (options.frequency_dependent_eta) {
      // A bare half-space has no base frequency; its amplification is 1 at any exponent.
      eta = t_layers > 0.0 ? eta_ba23(std::log10(freqs[k] * 4.0 * t_layers)) : 0.5;
    }
    out.eta[k] = eta;
    const double ratio = (src_r * src_v) / (out.density[k] * out.velocity[k]);
    out.amplification[k] = std::exp(eta * std::log(ratio) - std::numbers::pi * options.kappa * freqs[k]);
  }
  return out;
}

namespace {

// ln A at every frequency for layer velocities exp(u[0..n)) and kappa.
void log_amplification(const Profile& p, std::span<const double> u, double kappa, std::span<const double> freqs,
                       const QuarterWavelengthOptions& o, std::vector<double>& vs, std::vector<double>& out) {
  const std::size_t n = p.layers();
  for (std::size_t i = 0; i < n; ++i) vs[i] = std::exp(u[i]);
  vs[n] = p.vs()[n];
  const double src_v = o.source_vs.value_or(p.vs()[n]);
  const double src_r = o.source_density.value_or(p.density()[n]);
  double t_layers = 0.0;
  for (std::size_t i = 0; i < n; ++i) t_layers += p.thickness()[i] / vs[i];
  for (std::size_t k = 0; k < freqs.size(); ++k) {
    double z = 0.0, v = 0.0, r = 0.0;
    qwl_point(p.thickness(), vs, p.density(), freqs[k], z, v, r);
    const double eta = o.frequency_dependent_eta ? eta_ba23(std::log10(freqs[k] * 4.0 * t_layers)) : o.eta;
    out[k] = eta * std::log((src_r * src_v) / (r * v)) - std::numbers::pi * kappa * freqs[k];
  }
}

// Solves the m x m system a x = b in place (Gaussian elimination, partial
// pivoting); false when singular.
bool solve(std::vector<double>& a, std::vector<double>& b, std::size_t m) {
  for (std::size_t c = 0; c < m; ++c) {
    std::size_t piv = c;
    for (std::size_t r = c + 1; r < m; ++r) {
      if (std::abs(a[r * m + c]) > std::abs(a[piv * m + c])) piv = r;
    }
    if (!(std::abs(a[piv * m + c]) > 0.0)) return false;
    if (piv != c) {
      for (std::size_t k = 0; k < m; ++k) std::swap(a[c * m + k], a[piv * m + k]);
      std::swap(b[c], b[piv]);
    }
    for (std::size_t r = c + 1; r < m; ++r) {
      const double f = a[r * m + c] / a[c * m + c];
      for (std::size_t k = c; k < m; ++k) a[r * m + k] -= f * a[c * m + k];
      b[r] -= f * b[c];
    }
  }
  for (std::size_t c = m; c-- > 0;) {
    double s = b[c];
    for (std::size_t k = c + 1; k < m; ++k) s -= a[c * m + k] * b[k];
    b[c] = s / a[c * m + c];
  }
  return true;
}

}  // namespace

QuarterWavelengthFit fit_quarter_wavelength(const Profile& profile, std::span<const double> freqs,
                                            std::span<const double> target, const QuarterWavelengthOptions& options,
                                            bool fit_kappa) {
  check_options(options);
  check_freqs(freqs);
  const std::size_t n = profile.layers();
  if (n == 0) throw InvalidArgument("profile has no layers to fit (a bare half-space)");
  if (target.size() != freqs.size()) {
    std::ostringstream s;
    s << "target has " << target.size() << " values where freqs has " << freqs.size();
    throw InvalidArgument(s.str());
  }
  for (std::size_t i = 0; i < target.size(); ++i) {
    if (!(std::isfinite(target[i]) && target[i] > 0.0)) {
      std::ostringstream s;
      s << "target[" << i << "] must be above 0 and finite, got " << number(target[i]);
      throw InvalidArgument(s.str());
    }
  }
  const std::size_t m = n + (fit_kappa ? 1 : 0);
  const std::size_t nf = freqs.size();
  if (nf < m) {
    std::ostringstream s;
    s << "freqs has " << nf << " frequencies, fewer than the " << m << " unknowns (layer velocities"
      << (fit_kappa ? " and kappa" : "") << ")";
    throw InvalidArgument(s.str());
  }
  // Unknowns: ln Vs of every layer (velocities stay positive), then kappa.
  std::vector<double> u(m), trial(m), vs(n + 1), model(nf), shifted(nf), r(nf), jac(nf * m), jtj(m * m), g(m),
      step(m), log_target(nf), sys(m * m);
  for (std::size_t i = 0; i < n; ++i) u[i] = std::log(profile.vs()[i]);
  if (fit_kappa) u[n] = options.kappa;
  for (std::size_t k = 0; k < nf; ++k) log_target[k] = std::log(target[k]);
  auto residuals = [&](const std::vector<double>& x, std::vector<double>& res) {
    log_amplification(profile, x, fit_kappa ? x[n] : options.kappa, freqs, options, vs, model);
    double cost = 0.0;
    for (std::size_t k = 0; k < nf; ++k) {
      res[k] = model[k] - log_target[k];
      cost += res[k] * res[k];
    }
    return cost;
  };
  double cost = residuals(u, r);
  double lambda = 1e-3;
  int iterations = 0;
  bool converged = false;
  for (; iterations < 500 && cost > 1e-28 && !converged; ++iterations) {
    // Forward-difference Jacobian of the residuals.
    for (std::size_t j = 0; j < m; ++j) {
      trial = u;
      const double dx = (fit_kappa && j == n) ? 1e-7 : 1e-7 * std::max(1.0, std::abs(u[j]));
      trial[j] += dx;
      residuals(trial, shifted);
      for (std::size_t k = 0; k < nf; ++k) jac[k * m + j] = (shifted[k] - r[k]) / dx;
    }
    for (std::size_t a = 0; a < m; ++a) {
      g[a] = 0.0;
      for (std::size_t k = 0; k < nf; ++k) g[a] += jac[k * m + a] * r[k];
      for (std::size_t b = 0; b < m; ++b) {
        double s = 0.0;
        for (std::size_t k = 0; k < nf; ++k) s += jac[k * m + a] * jac[k * m + b];
        jtj[a * m + b] = s;
      }
    }
    bool improved = false;
    for (int tries = 0; tries < 30 && !improved; ++tries) {
      sys = jtj;
      for (std::size_t d = 0; d < m; ++d) sys[d * m + d] += lambda * (jtj[d * m + d] + 1e-12);
      for (std::size_t d = 0; d < m; ++d) step[d] = -g[d];
      if (solve(sys, step, m)) {
        for (std::size_t d = 0; d < m; ++d) trial[d] = u[d] + step[d];
        // Keep kappa at or above 0 and velocities within a factor 100 of the start.
        if (fit_kappa) trial[n] = std::max(0.0, trial[n]);
        for (std::size_t i = 0; i < n; ++i) {
          trial[i] = std::clamp(trial[i], std::log(profile.vs()[i] / 100.0), std::log(profile.vs()[i] * 100.0));
        }
        const double c = residuals(trial, shifted);
        if (std::isfinite(c) && c < cost) {
          u = trial;
          r = shifted;
          const double gain = cost - c;
          cost = c;
          lambda = std::max(lambda / 10.0, 1e-12);
          improved = true;
          converged = gain <= 1e-15 * cost;
          break;
        }
      }
      lambda *= 10.0;
    }
    if (!improved) break;
  }
  std::vector<double> new_vs(profile.vs());
  std::vector<double> new_vp(profile.vp());
  for (std::size_t i = 0; i < n; ++i) {
    new_vs[i] = std::exp(u[i]);
    // A P velocity keeps its ratio to the S velocity.
    if (!new_vp.empty()) new_vp[i] *= new_vs[i] / profile.vs()[i];
  }
  QuarterWavelengthFit out{Profile(profile.thickness(), profile.density(), std::move(new_vs), profile.damping_s(),
                                   std::move(new_vp), profile.damping_p()),
                           fit_kappa ? u[n] : options.kappa, std::sqrt(cost / static_cast<double>(nf)),
                           iterations};
  return out;
}

}  // namespace velmar
