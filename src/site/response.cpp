// response.cpp: the public response calls: checks, the damping law applied
// to the profile, and the engine of the wave type.
#include "velmar/response.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>
#include <sstream>

#include "site/psv_response.hpp"
#include "site/response_work.hpp"
#include "site/sh_response.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/velmar.hpp"

namespace velmar {

using detail::ResponseWork;
using detail::psv_response_into;
using detail::transfer_into;
using detail::PsvMedium;
using detail::ShMedium;
using detail::lower;
using detail::check_setup;
using detail::number;
using detail::psv_response;
using detail::sh_response;
namespace {

void check_values(std::string_view name, std::span<const double> v, bool non_negative) {
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (!std::isfinite(v[i]) || (non_negative && v[i] < 0.0)) {
      std::ostringstream s;
      s << name << '[' << i << "] must be " << (non_negative ? "a finite value of at least 0" : "finite")
        << ", got " << number(v[i]);
      throw InvalidArgument(s.str());
    }
    if (!non_negative && !std::isfinite(2.0 * std::numbers::pi * v[i])) {
      throw InvalidArgument(std::string(name) + '[' + std::to_string(i) + "] is too large: its angular frequency overflows, got " + number(v[i]));
    }
  }
}

ShMedium sh_medium(const Profile& p, DampingLaw law) {
  ShMedium m;
  sh_medium(p, law, m);
  return m;
}

void psv_medium(const Profile& p, DampingLaw law, PsvMedium& m) {
  if (!p.has_p()) throw InvalidArgument("a P or SV wave needs the profile's vp (and optionally qp or damping_p)");
  const std::size_t n = p.layers();
  m.thickness.assign(p.thickness().begin(), p.thickness().begin() + static_cast<std::ptrdiff_t>(n));
  m.density.assign(p.density().begin(), p.density().end());
  m.vs.resize(n + 1);
  m.vp.resize(n + 1);
  for (std::size_t i = 0; i <= n; ++i) {
    m.vs[i] = complex_velocity(p.vs()[i], p.damping_s()[i], law);
    m.vp[i] = complex_velocity(p.vp()[i], p.damping_p()[i], law);
  }
}

}  // namespace

void detail::check_setup(const WaveSetup& setup) {
  if (!(std::abs(setup.angle) < 90.0)) {
    throw InvalidArgument("angle must be strictly between -90 and 90 degrees, got " + number(setup.angle));
  }
}

void detail::sh_medium(const Profile& p, DampingLaw law, ShMedium& m) {
  const std::size_t n = p.layers();
  m.thickness.assign(p.thickness().begin(), p.thickness().begin() + static_cast<std::ptrdiff_t>(n));
  m.modulus.resize(n + 1);
  m.slowness.resize(n + 1);
  for (std::size_t i = 0; i <= n; ++i) {
    const double xi = p.damping_s()[i];
    const double vs = p.vs()[i];
    m.modulus[i] = complex_modulus(p.density()[i] * vs * vs, xi, law);
    m.slowness[i] = 1.0 / complex_velocity(vs, xi, law);
  }
}

const char* version() { return VELMAR_VERSION; }

Wave wave_from_name(std::string_view name) {
  const std::string n = lower(name);
  if (n == "sh") return Wave::SH;
  if (n == "p") return Wave::P;
  if (n == "sv") return Wave::SV;
  throw InvalidArgument("wave must be 'SH', 'P' or 'SV', got '" + std::string(name) + "'");
}

Component component_from_name(std::string_view name) {
  const std::string n = lower(name);
  if (n == "horizontal") return Component::HORIZONTAL;
  if (n == "vertical") return Component::VERTICAL;
  throw InvalidArgument("component must be 'horizontal' or 'vertical', got '" + std::string(name) + "'");
}

Quantity quantity_from_name(std::string_view name) {
  const std::string n = lower(name);
  if (n == "accel" || n == "acceleration") return Quantity::ACCELERATION;
  if (n == "velocity") return Quantity::VELOCITY;
  if (n == "displacement") return Quantity::DISPLACEMENT;
  if (n == "strain") return Quantity::STRAIN;
  if (n == "stress") return Quantity::STRESS;
  throw InvalidArgument("quantity must be 'accel', 'velocity', 'displacement', 'strain' or 'stress', got '" +
                        std::string(name) + "'");
}

ResponseGrid response(const Profile& profile, std::span<const double> freqs, std::span<const double> depths,
                      const WaveSetup& setup) {
  check_setup(setup);
  check_values("freqs", freqs, false);
  check_values("depths", depths, true);
  ResponseGrid g;
  g.nf = freqs.size();
  g.nd = depths.size();
  const std::size_t size = g.nf * g.nd;
  g.u.resize(size);
  if (setup.wave == Wave::SH) {
    g.strain.resize(size);
    g.stress.resize(size);
    sh_response(sh_medium(profile, setup.law), setup.angle, freqs, depths, g.u, g.strain, g.stress);
    return g;
  }
  g.w.resize(size);
  ResponseWork work;
  psv_response_into(profile, freqs, depths, setup, work, g.u, g.w);
  return g;
}

void detail::psv_response_into(const Profile& profile, std::span<const double> freqs, std::span<const double> depths,
                       const WaveSetup& setup, ResponseWork& work, std::span<cdouble> U, std::span<cdouble> W) {
  check_setup(setup);
  check_values("freqs", freqs, false);
  check_values("depths", depths, true);
  const std::size_t nf = freqs.size(), nd = depths.size();
  // The P-SV engine takes frequencies >= 0: a negative one is the conjugate
  // of its positive twin.
  work.abs_freqs.resize(nf);
  for (std::size_t i = 0; i < nf; ++i) work.abs_freqs[i] = std::abs(freqs[i]);
  psv_medium(profile, setup.law, work.psv_medium);
  psv_response(work.psv_medium, setup.wave == Wave::SV, setup.angle, work.abs_freqs, depths, U, W, work.psv);
  for (std::size_t d = 0; d < nd; ++d) {
    for (std::size_t i = 0; i < nf; ++i) {
      const cdouble u = U[d * nf + i], w = W[d * nf + i];
      if (!(std::isfinite(u.real()) && std::isfinite(u.imag()) && std::isfinite(w.real()) && std::isfinite(w.imag()))) {
        throw InvalidArgument("the response at frequency " + number(freqs[i]) + " Hz and depth " + number(depths[d]) +
                              " m is beyond the double range");
      }
      if (freqs[i] < 0.0) {
        U[d * nf + i] = std::conj(U[d * nf + i]);
        W[d * nf + i] = std::conj(W[d * nf + i]);
      }
    }
  }
}

std::vector<cdouble> transfer(const Profile& profile, std::span<const double> freqs, const WaveSetup& setup,
                              double depth, Quantity quantity, std::optional<Component> component) {
  std::vector<cdouble> out(freqs.size());
  ResponseWork work;
  transfer_into(profile, freqs, setup, depth, quantity, component, work, out);
  return out;
}

void detail::transfer_into(const Profile& profile, std::span<const double> freqs, const WaveSetup& setup, double depth,
                   Quantity quantity, std::optional<Component> component, ResponseWork& work,
                   std::span<cdouble> out) {
  if (out.size() != freqs.size()) {
    throw InvalidArgument("out holds " + std::to_string(out.size()) + " values where freqs has " +
                          std::to_string(freqs.size()) + " (one value per frequency)");
  }
  if (!(std::isfinite(depth) && depth >= 0.0)) {
    throw InvalidArgument("depth must be a finite value of at least 0 m, got " + number(depth));
  }
  const bool motion = quantity == Quantity::ACCELERATION || quantity == Quantity::VELOCITY ||
                      quantity == Quantity::DISPLACEMENT;
  if (setup.wave == Wave::SH && component == Component::VERTICAL) {
    throw InvalidArgument("an SH wave has no vertical component");
  }
  if (setup.wave != Wave::SH && !motion) {
    throw InvalidArgument("strain and stress are computed for SH waves only");
  }
  if (setup.wave == Wave::SH) {
    // Only the series asked for.
    check_setup(setup);
    check_values("freqs", freqs, false);
    std::span<cdouble> u = out;
    if (!motion) {
      work.other.resize(freqs.size());
      u = work.other;
    }
    const std::span<cdouble> none;
    sh_medium(profile, setup.law, work.medium);
    sh_response(work.medium, setup.angle, freqs, std::span<const double>(&depth, 1), u,
                quantity == Quantity::STRAIN ? out : none, quantity == Quantity::STRESS ? out : none, work.sh);
    return;
  }
  // P and SV: the component asked for into out, the other into the scratch.
  const Component c = component.value_or(setup.wave == Wave::P ? Component::VERTICAL : Component::HORIZONTAL);
  work.other.resize(freqs.size());
  const std::span<cdouble> other = work.other;
  const std::span<const double> at(&depth, 1);
  if (c == Component::VERTICAL) {
    psv_response_into(profile, freqs, at, setup, work, other, out);
  } else {
    psv_response_into(profile, freqs, at, setup, work, out, other);
  }
}

}  // namespace velmar
