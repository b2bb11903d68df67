// response.cpp: the public response calls: checks, the damping law applied
// to the profile, and the engine of the wave type.
#include "velmar/response.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>
#include <sstream>

#include "site/psv_response.hpp"
#include "site/sh_response.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/velmar.hpp"

namespace velmar {

using detail::PsvMedium;
using detail::ShMedium;
using detail::lower;
using detail::number;
using detail::psv_response;
using detail::sh_response;
namespace {

void check_setup(const WaveSetup& setup) {
  if (!(std::abs(setup.angle) < 90.0)) {
    throw InvalidArgument("angle must be strictly between -90 and 90 degrees, got " + number(setup.angle));
  }
}

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
  const std::size_t n = p.layers();
  ShMedium m;
  m.thickness.assign(p.thickness().begin(), p.thickness().begin() + static_cast<std::ptrdiff_t>(n));
  m.modulus.resize(n + 1);
  m.slowness.resize(n + 1);
  for (std::size_t i = 0; i <= n; ++i) {
    const double xi = p.damping_s()[i];
    const double vs = p.vs()[i];
    m.modulus[i] = complex_modulus(p.density()[i] * vs * vs, xi, law);
    m.slowness[i] = 1.0 / complex_velocity(vs, xi, law);
  }
  return m;
}

PsvMedium psv_medium(const Profile& p, DampingLaw law) {
  if (!p.has_p()) throw InvalidArgument("a P or SV wave needs the profile's vp (and optionally qp or damping_p)");
  const std::size_t n = p.layers();
  PsvMedium m;
  m.thickness.assign(p.thickness().begin(), p.thickness().begin() + static_cast<std::ptrdiff_t>(n));
  m.density = p.density();
  m.vs.resize(n + 1);
  m.vp.resize(n + 1);
  for (std::size_t i = 0; i <= n; ++i) {
    m.vs[i] = complex_velocity(p.vs()[i], p.damping_s()[i], law);
    m.vp[i] = complex_velocity(p.vp()[i], p.damping_p()[i], law);
  }
  return m;
}

}  // namespace

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
  // The P-SV engine takes frequencies >= 0: a negative one is the conjugate
  // of its positive twin.
  std::vector<double> f(freqs.begin(), freqs.end());
  for (double& v : f) v = std::abs(v);
  psv_response(psv_medium(profile, setup.law), setup.wave == Wave::SV, setup.angle, f, depths, g.u, g.w);
  for (std::size_t d = 0; d < g.nd; ++d) {
    for (std::size_t i = 0; i < g.nf; ++i) {
      const cdouble u = g.u[d * g.nf + i], w = g.w[d * g.nf + i];
      if (!(std::isfinite(u.real()) && std::isfinite(u.imag()) && std::isfinite(w.real()) && std::isfinite(w.imag()))) {
        throw InvalidArgument("the response at frequency " + number(freqs[i]) + " Hz and depth " + number(depths[d]) +
                              " m is beyond the double range");
      }
      if (freqs[i] < 0.0) {
        g.u[d * g.nf + i] = std::conj(g.u[d * g.nf + i]);
        g.w[d * g.nf + i] = std::conj(g.w[d * g.nf + i]);
      }
    }
  }
  return g;
}

std::vector<cdouble> transfer(const Profile& profile, std::span<const double> freqs, const WaveSetup& setup,
                              double depth, Quantity quantity, std::optional<Component> component) {
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
    std::vector<cdouble> u(freqs.size()), other;
    if (!motion) other.resize(freqs.size());
    const std::span<cdouble> none;
    sh_response(sh_medium(profile, setup.law), setup.angle, freqs, std::span<const double>(&depth, 1), u,
                quantity == Quantity::STRAIN ? std::span<cdouble>(other) : none,
                quantity == Quantity::STRESS ? std::span<cdouble>(other) : none);
    if (motion) return u;
    return other;
  }
  ResponseGrid g = response(profile, freqs, std::span<const double>(&depth, 1), setup);
  if (setup.wave == Wave::SH) {
    if (quantity == Quantity::STRAIN) return std::move(g.strain);
    if (quantity == Quantity::STRESS) return std::move(g.stress);
    return std::move(g.u);
  }
  const Component c = component.value_or(setup.wave == Wave::P ? Component::VERTICAL : Component::HORIZONTAL);
  return c == Component::VERTICAL ? std::move(g.w) : std::move(g.u);
}

}  // namespace velmar
