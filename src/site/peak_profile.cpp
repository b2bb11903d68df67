// peak_profile.cpp: peaks of acceleration, shear strain and shear stress
// with depth for a record propagated through a profile (SH).
#include <algorithm>
#include <cmath>
#include <numbers>

#include "signal/fft_double.hpp"
#include "site/padded_grid.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/measures.hpp"

namespace velmar {

using detail::FftPlan;
using detail::PaddedGrid;
using detail::number;
using detail::padded_grid;
namespace {

// Deconvolution floor on |H|^2 of a within input (as propagate).
constexpr double WITHIN_FLOOR = 1.0e-7;
// Depths whose responses are held at once: bounds the memory to a few
// spectra's worth whatever the number of layers.
constexpr std::size_t DEPTHS_PER_PASS = 16;

// Inverse transform of the half spectrum Y[0..L/2] (completed as a real
// history's) into the peak modulus of its first n samples.
double peak_of(std::vector<cdouble>& Y, const FftPlan& plan, std::size_t n) {
  const std::size_t L = Y.size();
  if (L > 1) Y[L / 2] = {Y[L / 2].real(), 0.0};
  Y[0] = {Y[0].real(), 0.0};
  for (std::size_t k = 1; k < L / 2; ++k) Y[L - k] = std::conj(Y[k]);
  plan.transform(Y, -1);
  double peak = 0.0;
  for (std::size_t j = 0; j < n; ++j) peak = std::max(peak, std::abs(Y[j].real()));
  return peak / static_cast<double>(L);
}

}  // namespace

PeakProfile peak_profile(const Record& record, const Profile& profile, const PropagateOptions& o) {
  check_record(record);
  if (o.setup.wave != Wave::SH) throw InvalidArgument("peak profiles are computed for SH waves only");
  if (!std::isfinite(o.scale)) throw InvalidArgument("scale must be finite, got " + number(o.scale));
  if (o.input == InputMotion::WITHIN && !(std::isfinite(o.input_depth) && o.input_depth >= 0.0)) {
    throw InvalidArgument("input_depth must be a finite value of at least 0 m, got " + number(o.input_depth));
  }
  PeakProfile pp;
  pp.depth.push_back(0.0);
  for (std::size_t i = 0; i < profile.layers(); ++i) {
    const double top = profile.top_depth(i), bottom = profile.top_depth(i + 1);
    pp.depth.push_back(0.5 * (top + bottom));
    pp.depth.push_back(bottom);
  }
  const std::size_t nd = pp.depth.size();
  pp.accel.assign(nd, 0.0);
  pp.strain.assign(nd, 0.0);
  pp.stress.assign(nd, 0.0);

  const std::size_t n = record.accel.size();
  const PaddedGrid grid = padded_grid(n, record.dt);
  const std::size_t L = grid.L;
  const std::size_t nf = grid.freqs.size();
  const std::vector<double>& freqs = grid.freqs;

  // The input's spectrum divided by the motion where it was observed.
  std::vector<cdouble> X(L);
  for (std::size_t j = 0; j < n; ++j) X[j] = o.scale * record.accel[j];
  const FftPlan plan(L);
  plan.transform(X, +1);
  if (o.input == InputMotion::WITHIN) {
    const ResponseGrid g = response(profile, freqs, std::vector<double>{o.input_depth}, o.setup);
    for (std::size_t k = 0; k < nf; ++k) X[k] *= std::conj(g.u[k]) / std::max(std::norm(g.u[k]), WITHIN_FLOOR);
  } else {
    const double factor = o.input == InputMotion::OUTCROP ? 0.5 : 1.0;
    for (std::size_t k = 0; k < nf; ++k) X[k] *= factor;
  }
  // Strain and stress come from the displacement: divide by -w^2, in SI.
  const double to_si = acceleration_unit(record.units);
  std::vector<cdouble> Xd(nf);
  for (std::size_t k = 1; k < nf; ++k) {
    const double w = 2.0 * std::numbers::pi * freqs[k];
    Xd[k] = X[k] * (to_si / (-w * w));
  }
  std::vector<cdouble> Y(L);
  for (std::size_t d0 = 0; d0 < nd; d0 += DEPTHS_PER_PASS) {
    const std::size_t m = std::min(DEPTHS_PER_PASS, nd - d0);
    const std::span<const double> depths(pp.depth.data() + d0, m);
    const ResponseGrid g = response(profile, freqs, depths, o.setup);
    for (std::size_t d = 0; d < m; ++d) {
      const std::size_t off = d * nf;
      const auto run = [&](const std::vector<cdouble>& h, const std::vector<cdouble>& x) {
        std::fill(Y.begin(), Y.end(), cdouble{});
        for (std::size_t k = 0; k < nf; ++k) Y[k] = h[off + k] * x[k];
        return peak_of(Y, plan, n);
      };
      pp.accel[d0 + d] = run(g.u, X);
      pp.strain[d0 + d] = run(g.strain, Xd);
      pp.stress[d0 + d] = run(g.stress, Xd);
    }
  }
  return pp;
}

}  // namespace velmar
