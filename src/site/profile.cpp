// profile.cpp: the layered profile, its checks, and the damping laws that
// turn a damping ratio into a complex modulus.
#include "velmar/profile.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

#include "site/text.hpp"
#include "velmar/errors.hpp"

namespace velmar {

using detail::lower;
using detail::number;
namespace {

[[noreturn]] void refuse(std::string_view name, std::size_t i, std::string_view what, double v) {
  std::ostringstream s;
  s << name << '[' << i << "] " << what << ", got " << number(v);
  throw InvalidArgument(s.str());
}

void check_length(std::string_view name, const std::vector<double>& v, std::size_t n) {
  if (v.size() != n) {
    std::ostringstream s;
    s << name << " has " << v.size() << " entries where vs has " << n
      << " (one per layer and one for the half-space)";
    throw InvalidArgument(s.str());
  }
}

void check_finite(std::string_view name, const std::vector<double>& v) {
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (!std::isfinite(v[i])) refuse(name, i, "must be a finite number", v[i]);
  }
}

void check_positive(std::string_view name, const std::vector<double>& v, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (!(v[i] > 0.0)) refuse(name, i, "must be above 0", v[i]);
  }
}

void check_ratio(std::string_view name, const std::vector<double>& v) {
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (!(v[i] >= 0.0 && v[i] < 1.0)) refuse(name, i, "must be a damping ratio in [0, 1)", v[i]);
  }
}

// A density in t/m3 above this is no earth material: the densest rocks and
// ores stay below about 5 t/m3. Above it the value is a unit weight in kN/m3
// (9.81 times the density) or a density in kg/m3.
constexpr double MAX_DENSITY = 5.0;

// Refuses a density above MAX_DENSITY, naming the entry as a person counts
// it (layer 1 at the top) and saying how to convert.
void check_density_units(const std::vector<double>& rho) {
  for (std::size_t i = 0; i < rho.size(); ++i) {
    if (!(rho[i] > MAX_DENSITY)) continue;
    std::ostringstream s;
    s << "density[" << i << "] ("
      << (i + 1 == rho.size() ? std::string("the half-space") : "layer " + std::to_string(i + 1)) << ") is "
      << number(rho[i]) << " t/m3, denser than any earth material (at most about " << number(MAX_DENSITY)
      << " t/m3): a unit weight in kN/m3 is divided by 9.81 (9.80665) to give t/m3, a density in kg/m3 by "
      << "1000 (";
    char buf[96];
    if (rho[i] <= 10.0 * MAX_DENSITY) {
      std::snprintf(buf, sizeof buf, "%.4g kN/m3 is %.4g t/m3)", rho[i], rho[i] / 9.80665);
    } else {
      std::snprintf(buf, sizeof buf, "%.4g kg/m3 is %.4g t/m3)", rho[i], rho[i] / 1000.0);
    }
    s << buf;
    throw InvalidArgument(s.str());
  }
}

// Damping ratios from quality factors: xi = 1/(2Q); 0 and infinity are elastic.
std::vector<double> ratios_from_quality(std::string_view name, const std::vector<double>& q) {
  std::vector<double> xi(q.size());
  for (std::size_t i = 0; i < q.size(); ++i) {
    if (std::isnan(q[i]) || q[i] < 0.0) refuse(name, i, "must be 0 (elastic) or above 0", q[i]);
    if (q[i] == 0.0 || std::isinf(q[i])) continue;
    if (!(q[i] > 0.5)) refuse(name, i, "must be above 0.5 (a damping ratio below 1)", q[i]);
    xi[i] = 0.5 / q[i];
  }
  return xi;
}

}  // namespace

DampingLaw damping_law_from_name(std::string_view name, std::string_view what) {
  const std::string n = lower(name);
  if (n == "velmar") return DampingLaw::VELMAR;
  if (n == "seed") return DampingLaw::SEED;
  if (n == "kramer") return DampingLaw::KRAMER;
  if (n == "dormieux") return DampingLaw::DORMIEUX;
  throw InvalidArgument(std::string(what) + " must be one of 'velmar', 'seed', 'kramer', 'dormieux', got '" +
                        std::string(name) + "'");
}

std::string damping_law_name(DampingLaw law) {
  switch (law) {
    case DampingLaw::SEED: return "seed";
    case DampingLaw::KRAMER: return "kramer";
    case DampingLaw::DORMIEUX: return "dormieux";
    case DampingLaw::VELMAR: break;
  }
  return "velmar";
}

cdouble complex_modulus(double modulus, double xi, DampingLaw law) {
  if (!(xi >= 0.0 && xi < 1.0)) {
    throw InvalidArgument("damping ratio must be in [0, 1), got " + number(xi));
  }
  switch (law) {
    case DampingLaw::SEED: return modulus * cdouble{1.0, -2.0 * xi};
    case DampingLaw::KRAMER: return modulus * cdouble{1.0 - xi * xi, -2.0 * xi};
    case DampingLaw::DORMIEUX:
      if (xi > 0.5) {
        throw InvalidArgument("the 'dormieux' law needs a damping ratio of at most 0.5, got " +
                              number(xi));
      }
      return modulus * cdouble{std::sqrt(1.0 - 4.0 * xi * xi), -2.0 * xi};
    case DampingLaw::VELMAR: break;
  }
  // 1/(1 + i xi)^2 = (1 - i xi)^2 / (1 + xi^2)^2
  const double g = 1.0 / (1.0 + xi * xi);
  return modulus * (g * g) * cdouble{1.0 - xi * xi, -2.0 * xi};
}

cdouble complex_velocity(double velocity, double xi, DampingLaw law) {
  if (law == DampingLaw::VELMAR) {
    // V / (1 + i xi) directly, without the square root.
    return velocity * cdouble{1.0, -xi} / (1.0 + xi * xi);
  }
  // sqrt(M*/M) of the unit modulus: Re > 0 since Re M* > 0 for xi < 1 (and
  // the root of a value with Im <= 0 has Im <= 0).
  const cdouble r = std::sqrt(complex_modulus(1.0, xi, law));
  return velocity * r;
}

void check_density(const Profile& profile) { check_density_units(profile.density()); }

Profile::Profile(std::vector<double> thickness, std::vector<double> density, std::vector<double> vs,
                 std::vector<double> damping_s, std::vector<double> vp, std::vector<double> damping_p)
    : Profile(std::move(thickness), std::move(density), std::move(vs), std::move(damping_s), std::move(vp),
              std::move(damping_p), true) {}

Profile::Profile(std::vector<double> thickness, std::vector<double> density, std::vector<double> vs,
                 std::vector<double> damping_s, std::vector<double> vp, std::vector<double> damping_p,
                 bool density_in_t_m3)
    : thickness_(std::move(thickness)), density_(std::move(density)), vs_(std::move(vs)),
      damping_s_(std::move(damping_s)), vp_(std::move(vp)), damping_p_(std::move(damping_p)) {
  const std::size_t n = vs_.size();
  if (n == 0) throw InvalidArgument("vs is empty: a profile needs at least the half-space");
  check_length("thickness", thickness_, n);
  check_length("density", density_, n);
  if (damping_s_.empty()) damping_s_.assign(n, 0.0);
  check_length("damping", damping_s_, n);
  check_finite("vs", vs_);
  check_finite("density", density_);
  check_finite("damping", damping_s_);
  // The half-space entry's thickness means nothing: any value, infinity included.
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (!(thickness_[i] > 0.0 && std::isfinite(thickness_[i]))) {
      refuse("thickness", i, "must be a finite value above 0", thickness_[i]);
    }
  }
  check_positive("density", density_, n);
  if (density_in_t_m3) check_density_units(density_);
  check_positive("vs", vs_, n);
  check_ratio("damping", damping_s_);
  if (!vp_.empty()) {
    check_length("vp", vp_, n);
    check_finite("vp", vp_);
    for (std::size_t i = 0; i < n; ++i) {
      if (!(vp_[i] > vs_[i])) refuse("vp", i, "must be above vs[" + std::to_string(i) + "] = " + number(vs_[i]), vp_[i]);
    }
    if (damping_p_.empty()) damping_p_ = damping_s_;
    check_length("damping_p", damping_p_, n);
    check_finite("damping_p", damping_p_);
    check_ratio("damping_p", damping_p_);
  } else if (!damping_p_.empty()) {
    throw InvalidArgument("a P-wave damping was given without vp");
  }
  tops_.assign(n, 0.0);
  for (std::size_t i = 1; i < n; ++i) tops_[i] = tops_[i - 1] + thickness_[i - 1];
}

Profile Profile::from_quality(std::vector<double> thickness, std::vector<double> density,
                              std::vector<double> vs, std::vector<double> qs, std::vector<double> vp,
                              std::vector<double> qp) {
  Profile p = from_quality_any_density(std::move(thickness), std::move(density), std::move(vs), std::move(qs),
                                       std::move(vp), std::move(qp));
  check_density(p);
  return p;
}

Profile Profile::from_quality_any_density(std::vector<double> thickness, std::vector<double> density,
                                          std::vector<double> vs, std::vector<double> qs, std::vector<double> vp,
                                          std::vector<double> qp) {
  std::vector<double> xs = ratios_from_quality("qs", qs);
  std::vector<double> xp = ratios_from_quality("qp", qp);
  if (xs.empty()) xs.assign(vs.size(), 0.0);
  return Profile(std::move(thickness), std::move(density), std::move(vs), std::move(xs), std::move(vp),
                 std::move(xp), false);
}

Profile Profile::any_density(std::vector<double> thickness, std::vector<double> density, std::vector<double> vs,
                             std::vector<double> damping_s, std::vector<double> vp, std::vector<double> damping_p) {
  return Profile(std::move(thickness), std::move(density), std::move(vs), std::move(damping_s), std::move(vp),
                 std::move(damping_p), false);
}

double Profile::top_depth(std::size_t i) const { return tops_.at(i); }

std::size_t Profile::entry_at(double z) const {
  // The last entry whose top is at or above z.
  const auto it = std::upper_bound(tops_.begin(), tops_.end(), z);
  return it == tops_.begin() ? 0 : static_cast<std::size_t>(it - tops_.begin()) - 1;
}


}  // namespace velmar
