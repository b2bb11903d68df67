// propagate.cpp: a record filtered through the profile's response.
//
// The record (times its scale) is the input motion; its spectrum, taken over
// a window padded with zeros to a power of two at least twice its length (so
// the filtered motion does not wrap around), is multiplied by the ratio of
// the output's response to the input's and transformed back. With the time
// factor exp(-i w t) the forward transform uses exp(+i w t), the inverse
// exp(-i w t); differentiation is multiplication by -i w.
#include <cmath>
#include <numbers>
#include <sstream>

#include "signal/fft_double.hpp"
#include "site/padded_grid.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/motion.hpp"

namespace velmar {

using detail::FftPlan;
using detail::PaddedGrid;
using detail::number;
using detail::padded_grid;
namespace {

// Deconvolution floor on |H|^2 of a within input (responses are of order 1).
constexpr double WITHIN_FLOOR = 1.0e-7;

}  // namespace

InputMotion input_motion_from_name(std::string_view name) {
  if (name == "incident") return InputMotion::INCIDENT;
  if (name == "outcrop") return InputMotion::OUTCROP;
  if (name == "within") return InputMotion::WITHIN;
  throw InvalidArgument("input must be 'incident', 'outcrop' or 'within', got '" + std::string(name) + "'");
}

std::vector<double> propagate(const Record& record, const Profile& profile, const PropagateOptions& o) {
  check_record(record);
  if (!std::isfinite(o.scale)) throw InvalidArgument("scale must be finite, got " + number(o.scale));
  for (const auto& [name, z] : {std::pair{"depth", o.depth}, std::pair{"input_depth", o.input_depth}}) {
    if (!(std::isfinite(z) && z >= 0.0)) {
      throw InvalidArgument(std::string(name) + " must be a finite value of at least 0 m, got " + number(z));
    }
  }
  const bool strain_or_stress = o.quantity == Quantity::STRAIN || o.quantity == Quantity::STRESS;
  if (o.setup.wave != Wave::SH && strain_or_stress) {
    throw InvalidArgument("strain and stress are computed for SH waves only");
  }
  if (o.setup.wave == Wave::SH && o.component == Component::VERTICAL) {
    throw InvalidArgument("an SH wave has no vertical component");
  }
  const std::size_t n = record.accel.size();
  const PaddedGrid grid = padded_grid(n, record.dt);
  const std::size_t L = grid.L;
  const std::vector<double>& freqs = grid.freqs;

  const bool within = o.input == InputMotion::WITHIN;
  std::vector<double> depths{o.depth};
  if (within) depths.push_back(o.input_depth);
  const ResponseGrid g = response(profile, freqs, depths, o.setup);
  const std::size_t nf = freqs.size();
  const Component c = o.component.value_or(o.setup.wave == Wave::P ? Component::VERTICAL : Component::HORIZONTAL);
  const std::vector<cdouble>& motion = (o.setup.wave != Wave::SH && c == Component::VERTICAL) ? g.w : g.u;
  const std::vector<cdouble>& out = o.quantity == Quantity::STRAIN   ? g.strain
                                    : o.quantity == Quantity::STRESS ? g.stress
                                                                     : motion;
  // Acceleration stays in the record's units; the rest are in SI (kPa for stress).
  const double to_si = o.quantity == Quantity::ACCELERATION ? 1.0 : acceleration_unit(record.units);

  std::vector<cdouble> X(L);
  for (std::size_t j = 0; j < n; ++j) X[j] = o.scale * record.accel[j];
  const FftPlan plan(L);
  plan.transform(X, +1);
  for (std::size_t k = 0; k < nf; ++k) {
    cdouble ratio;
    if (within) {
      const cdouble h_in = motion[nf + k];
      ratio = out[k] * std::conj(h_in) / std::max(std::norm(h_in), WITHIN_FLOOR);
    } else {
      ratio = o.input == InputMotion::OUTCROP ? 0.5 * out[k] : out[k];
    }
    const double w = 2.0 * std::numbers::pi * freqs[k];
    cdouble y = ratio * X[k] * to_si;
    switch (o.quantity) {
      case Quantity::ACCELERATION: break;
      case Quantity::VELOCITY: y = k == 0 ? cdouble{} : y / cdouble{0.0, -w}; break;
      default: y = k == 0 ? cdouble{} : y / (-w * w); break;  // displacement and what derives from it
    }
    X[k] = y;
  }
  // A real history: the upper half mirrors the lower, the middle term is real.
  X[L / 2] = L > 1 ? cdouble{X[L / 2].real(), 0.0} : X[0];
  for (std::size_t k = 1; k < L / 2; ++k) X[L - k] = std::conj(X[k]);
  if (L == 1) X[0] = {X[0].real(), 0.0};
  plan.transform(X, -1);
  std::vector<double> y(n);
  const double inv = 1.0 / static_cast<double>(L);
  for (std::size_t j = 0; j < n; ++j) {
    y[j] = X[j].real() * inv;
    if (!std::isfinite(y[j])) {
      throw InvalidArgument("the filtered history is not finite at sample " + std::to_string(j) +
                            " (the record's values are too large)");
    }
  }
  return y;
}

}  // namespace velmar
