// record_filter.cpp: a record's padded spectrum and the histories filtered
// from it (see velmar/record_filter.hpp).
//
// Glossary (0-based):
//   n      samples of the record; L the padded length, M = L/2
//   X      the record's spectrum (times its factor), k = 0 .. M
//   Y      the half spectrum of a filtered history, k = 0 .. M
//   w_k    exp(+2 pi i k / L), k < M: the twiddles that split a real
//          history's spectrum into those of its even and odd samples
#include "velmar/record_filter.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "signal/fft_double.hpp"
#include "signal/split_fft.hpp"
#include "site/record_filter_cache.hpp"
#include "site/response_work.hpp"
#include "site/sh_response.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"

namespace velmar {

using detail::psv_response_into;
using detail::FftPlan;
using detail::check_setup;
using detail::UnitRoots;
using detail::fft_fast_length;
using detail::number;
using detail::sh_medium;
using detail::sh_response;

std::size_t padded_length(std::size_t n) { return fft_fast_length(2 * n); }

RecordFilter& detail::kept_record_filter(std::size_t samples, RecordFilter& own) {
  // About 120 L bytes per filter: 32 MB at this length.
  constexpr std::size_t KEPT_LENGTH = std::size_t{1} << 18;
  thread_local RecordFilter kept;
  return velmar::padded_length(samples) <= KEPT_LENGTH ? kept : own;
}

struct RecordFilter::Impl {
  std::size_t n = 0, L = 0;
  double dt = 0.0, to_si = 1.0;
  std::vector<double> freqs;
  std::vector<cdouble> X;
  std::unique_ptr<FftPlan> plan;       // length L
  std::unique_ptr<FftPlan> half_plan;  // length M, for one real history
  std::vector<cdouble> roots;          // w_k
  Scratch scratch;                     // the filter's own
  // The members that filter through a profile: responses and spectra.
  detail::ResponseWork response;
  std::vector<double> depths;
  std::vector<cdouble> u, other, h, h_in, ya, yb;
  std::vector<double> out_a, out_b;
};

namespace {

// Throws when sample j of a filtered history is not finite.
void check_finite(double v, std::size_t j) {
  if (!std::isfinite(v)) {
    throw InvalidArgument("the filtered history is not finite at sample " + std::to_string(j) +
                          " (the record's values are too large)");
  }
}

// Value k (0 .. M) of a half spectrum with its ends made real, as the
// spectrum of a real history of even length L has them.
cdouble hermitian_half(std::span<const cdouble> v, std::size_t k, std::size_t L) {
  return (k == 0 || 2 * k == L) ? cdouble{v[k].real(), 0.0} : v[k];
}

double peak_abs(std::span<const double> v) {
  double p = 0.0;
  for (double x : v) p = std::max(p, std::abs(x));
  return p;
}

void check_depth(const char* name, double z) {
  if (!(std::isfinite(z) && z >= 0.0)) {
    throw InvalidArgument(std::string(name) + " must be a finite value of at least 0 m, got " + number(z));
  }
}

}  // namespace

RecordFilter::RecordFilter() = default;
RecordFilter::RecordFilter(const Record& record, double scale) { assign(record, scale); }
RecordFilter::RecordFilter(std::span<const double> samples, double dt, double factor) {
  assign(samples, dt, factor);
}
RecordFilter::RecordFilter(RecordFilter&&) noexcept = default;
RecordFilter& RecordFilter::operator=(RecordFilter&&) noexcept = default;
RecordFilter::~RecordFilter() = default;

RecordFilter::Impl& RecordFilter::impl() {
  if (!impl_) impl_ = std::make_unique<Impl>();
  return *impl_;
}

void RecordFilter::assign(const Record& record, double scale) {
  check_record(record);
  assign(record.accel, record.dt, scale);
  impl_->to_si = acceleration_unit(record.units);
}

void RecordFilter::assign(std::span<const double> samples, double dt, double factor) {
  if (samples.empty()) throw InvalidArgument("the record has no samples");
  if (!(std::isfinite(dt) && dt > 0.0)) throw InvalidArgument("dt must be a finite value above 0 s, got " + number(dt));
  if (!std::isfinite(factor)) throw InvalidArgument("scale must be finite, got " + number(factor));
  for (std::size_t j = 0; j < samples.size(); ++j) {
    if (!std::isfinite(samples[j])) {
      throw InvalidArgument("sample " + std::to_string(j) + " must be finite, got " + number(samples[j]));
    }
  }
  Impl& m = impl();
  const std::size_t n = samples.size(), L = velmar::padded_length(n);
  if (L != m.L) {
    m.plan = std::make_unique<FftPlan>(L);
    m.half_plan = std::make_unique<FftPlan>(L / 2);
    m.roots.resize(L / 2);
    const UnitRoots roots(L);
    for (std::size_t k = 0; k < L / 2; ++k) {
      double re = 0.0, im = 0.0;
      roots.get(k, re, im);
      m.roots[k] = {re, im};
    }
    m.freqs.resize(L / 2 + 1);
    m.X.resize(L / 2 + 1);
  }
  if (L != m.L || dt != m.dt) {
    const double df = 1.0 / (static_cast<double>(L) * dt);
    for (std::size_t k = 0; k <= L / 2; ++k) m.freqs[k] = static_cast<double>(k) * df;
    if (!std::isfinite(m.freqs.back())) {
      m.L = 0;  // the grid is not usable
      throw InvalidArgument("dt is so small that the frequencies overflow: " + number(dt));
    }
  }
  m.n = n, m.L = L, m.dt = dt, m.to_si = 1.0;
  std::vector<cdouble>& x = m.scratch.work;
  x.assign(L, cdouble{});
  for (std::size_t j = 0; j < n; ++j) x[j] = factor * samples[j];
  m.scratch.fft.resize(std::max(m.scratch.fft.size(), 4 * L));
  m.plan->transform(x, +1, m.scratch.fft);
  std::copy(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(L / 2 + 1), m.X.begin());
}

std::size_t RecordFilter::samples() const { return impl_ ? impl_->n : 0; }
double RecordFilter::dt() const { return impl_ ? impl_->dt : 0.0; }
std::size_t RecordFilter::padded_length() const { return impl_ ? impl_->L : 0; }
double RecordFilter::to_si() const { return impl_ ? impl_->to_si : 1.0; }
std::span<const double> RecordFilter::frequencies() const {
  return impl_ ? std::span<const double>(impl_->freqs) : std::span<const double>{};
}
std::span<const cdouble> RecordFilter::spectrum() const {
  return impl_ ? std::span<const cdouble>(impl_->X) : std::span<const cdouble>{};
}

cdouble RecordFilter::input_factor(InputMotion input, cdouble h_in) {
  switch (input) {
    case InputMotion::WITHIN: return std::conj(h_in) / std::max(std::norm(h_in), WITHIN_FLOOR);
    case InputMotion::OUTCROP: return 0.5;
    default: return 1.0;
  }
}

void RecordFilter::filtered_spectrum(std::span<const cdouble> h, InputMotion input, std::span<const cdouble> h_in,
                                     int integrations, double factor, std::span<cdouble> Y) const {
  if (!impl_ || impl_->L == 0) throw InvalidArgument("the record filter holds no record");
  const std::span<const cdouble> X = impl_->X;
  const std::vector<double>& freqs = impl_->freqs;
  const std::size_t nf = X.size();
  if (Y.size() != nf || (!h.empty() && h.size() != nf) || (input == InputMotion::WITHIN && h_in.size() != nf)) {
    throw InvalidArgument("a filtered spectrum needs " + std::to_string(nf) +
                          " values per transfer function (one per frequency of the padded grid)");
  }
  for (std::size_t k = 0; k < nf; ++k) {
    cdouble ratio = h.empty() ? cdouble{1.0} : h[k];
    if (input == InputMotion::WITHIN) {
      ratio = ratio * std::conj(h_in[k]) / std::max(std::norm(h_in[k]), WITHIN_FLOOR);
    } else if (input == InputMotion::OUTCROP) {
      ratio *= 0.5;
    }
    cdouble y = ratio * X[k] * factor;
    if (integrations > 0) {
      const double w = 2.0 * std::numbers::pi * freqs[k];
      y = k == 0 ? cdouble{} : integrations == 1 ? y / cdouble{0.0, -w} : y / (-w * w);
    }
    Y[k] = y;
  }
}

// One real history from its half spectrum Y with a complex transform of
// length M = L/2: the even and odd samples e, o have spectra
// E_k = (Y_k + conj Y_(M-k)) / 2 and O_k = (Y_k - conj Y_(M-k)) conj(w_k) / 2,
// and z = e + i o is the inverse transform of E + i O over M.
void RecordFilter::history(std::span<const cdouble> Y, std::span<double> out, Scratch& scratch) const {
  if (!impl_ || impl_->L == 0) throw InvalidArgument("the record filter holds no record");
  const Impl& m = *impl_;
  const std::size_t L = m.L, M = L / 2;
  if (Y.size() != M + 1 || out.size() != m.n) {
    throw InvalidArgument("a history needs " + std::to_string(M + 1) + " spectrum values and room for " +
                          std::to_string(m.n) + " samples");
  }
  scratch.work.resize(std::max(scratch.work.size(), M));
  scratch.fft.resize(std::max(scratch.fft.size(), 4 * M));
  const std::span<cdouble> work(scratch.work.data(), M);
  const cdouble i{0.0, 1.0};
  for (std::size_t k = 0; k < M; ++k) {
    const cdouble yk = hermitian_half(Y, k, L), ym = std::conj(hermitian_half(Y, M - k, L));
    work[k] = 0.5 * (yk + ym) + i * (0.5 * (yk - ym) * std::conj(m.roots[k]));
  }
  m.half_plan->transform(work, -1, scratch.fft);
  const double inv = 1.0 / static_cast<double>(M);
  for (std::size_t j = 0; j < m.n; ++j) {
    const cdouble z = work[j / 2] * inv;
    out[j] = j % 2 ? z.imag() : z.real();
    check_finite(out[j], j);
  }
}

// Two real histories from their half spectra a and b with one complex
// inverse transform of length L: z = a + i b, extended to the whole circle
// with the conjugate symmetry of each.
void RecordFilter::history_pair(std::span<const cdouble> A, std::span<const cdouble> B, std::span<double> a,
                                std::span<double> b, Scratch& scratch) const {
  if (!impl_ || impl_->L == 0) throw InvalidArgument("the record filter holds no record");
  const Impl& m = *impl_;
  const std::size_t L = m.L;
  if (A.size() != L / 2 + 1 || B.size() != L / 2 + 1 || a.size() != m.n || b.size() != m.n) {
    throw InvalidArgument("a pair of histories needs " + std::to_string(L / 2 + 1) +
                          " spectrum values each and room for " + std::to_string(m.n) + " samples each");
  }
  scratch.work.resize(std::max(scratch.work.size(), L));
  scratch.fft.resize(std::max(scratch.fft.size(), 4 * L));
  const std::span<cdouble> work(scratch.work.data(), L);
  std::fill(work.begin(), work.end(), cdouble{});
  const cdouble i{0.0, 1.0};
  for (std::size_t k = 0; k <= L / 2; ++k) {
    const cdouble ak = hermitian_half(A, k, L), bk = hermitian_half(B, k, L);
    work[k] = ak + i * bk;
    if (k > 0 && 2 * k < L) work[L - k] = std::conj(ak) + i * std::conj(bk);
  }
  m.plan->transform(work, -1, scratch.fft);
  const double inv = 1.0 / static_cast<double>(L);
  for (std::size_t j = 0; j < m.n; ++j) {
    a[j] = work[j].real() * inv;
    b[j] = work[j].imag() * inv;
    check_finite(a[j], j);
    check_finite(b[j], j);
  }
}

void RecordFilter::history(std::span<const cdouble> Y, std::span<double> out) { history(Y, out, impl().scratch); }

void RecordFilter::history_pair(std::span<const cdouble> A, std::span<const cdouble> B, std::span<double> a,
                                std::span<double> b) {
  history_pair(A, B, a, b, impl().scratch);
}

void RecordFilter::propagate(const Profile& profile, const PropagateOptions& o, std::span<double> out) {
  if (!impl_ || impl_->L == 0) throw InvalidArgument("the record filter holds no record");
  Impl& m = *impl_;
  if (out.size() != m.n) {
    throw InvalidArgument("out holds " + std::to_string(out.size()) + " values where the record has " +
                          std::to_string(m.n) + " samples");
  }
  if (!std::isfinite(o.scale)) throw InvalidArgument("scale must be finite, got " + number(o.scale));
  check_setup(o.setup);
  check_depth("depth", o.depth);
  check_depth("input_depth", o.input_depth);
  const bool strain_or_stress = o.quantity == Quantity::STRAIN || o.quantity == Quantity::STRESS;
  if (o.setup.wave != Wave::SH && strain_or_stress) {
    throw InvalidArgument("strain and stress are computed for SH waves only");
  }
  if (o.setup.wave == Wave::SH && o.component == Component::VERTICAL) {
    throw InvalidArgument("an SH wave has no vertical component");
  }
  const std::size_t nf = m.freqs.size();
  const bool within = o.input == InputMotion::WITHIN;
  m.h.resize(nf), m.h_in.resize(within ? nf : 0), m.ya.resize(nf);
  // One sweep serves the output depth and the input's.
  const double depths[2] = {o.depth, o.input_depth};
  const std::size_t nd = within ? 2 : 1;
  const std::span<const double> at(depths, nd);
  std::span<cdouble> in_motion;  // the response at the input's depth
  if (o.setup.wave == Wave::SH) {
    // Only the series asked for is computed.
    sh_medium(profile, o.setup.law, m.response.medium);
    std::span<cdouble> u = m.h, other;
    if (within || strain_or_stress) m.u.resize(nd * nf), u = m.u;
    if (strain_or_stress) m.other.resize(nd * nf), other = m.other;
    const std::span<cdouble> none;
    sh_response(m.response.medium, o.setup.angle, m.freqs, at, u, o.quantity == Quantity::STRAIN ? other : none,
                o.quantity == Quantity::STRESS ? other : none, m.response.sh);
    if (strain_or_stress) {
      std::copy(other.begin(), other.begin() + static_cast<std::ptrdiff_t>(nf), m.h.begin());
    } else if (within) {
      std::copy(u.begin(), u.begin() + static_cast<std::ptrdiff_t>(nf), m.h.begin());
    }
    if (within) in_motion = u.subspan(nf);
  } else {
    m.u.resize(nd * nf), m.other.resize(nd * nf);
    psv_response_into(profile, m.freqs, at, o.setup, m.response, m.u, m.other);
    const Component c = o.component.value_or(o.setup.wave == Wave::P ? Component::VERTICAL : Component::HORIZONTAL);
    const std::span<cdouble> motion = c == Component::VERTICAL ? std::span<cdouble>(m.other) : std::span<cdouble>(m.u);
    std::copy(motion.begin(), motion.begin() + static_cast<std::ptrdiff_t>(nf), m.h.begin());
    if (within) in_motion = motion.subspan(nf);
  }
  if (within) std::copy(in_motion.begin(), in_motion.end(), m.h_in.begin());
  // Acceleration stays in the record's units; the rest are in SI (kPa for stress).
  const int integrations = o.quantity == Quantity::ACCELERATION ? 0 : o.quantity == Quantity::VELOCITY ? 1 : 2;
  const double factor = o.scale * (o.quantity == Quantity::ACCELERATION ? 1.0 : m.to_si);
  filtered_spectrum(m.h, o.input, m.h_in, integrations, factor, m.ya);
  history(m.ya, out, m.scratch);
}

std::vector<double> RecordFilter::propagate(const Profile& profile, const PropagateOptions& options) {
  std::vector<double> y(samples());
  propagate(profile, options, y);
  return y;
}

PeakProfile RecordFilter::peak_profile(const Profile& profile, const PropagateOptions& o) {
  if (!impl_ || impl_->L == 0) throw InvalidArgument("the record filter holds no record");
  Impl& m = *impl_;
  if (o.setup.wave != Wave::SH) throw InvalidArgument("peak profiles are computed for SH waves only");
  check_setup(o.setup);
  if (!std::isfinite(o.scale)) throw InvalidArgument("scale must be finite, got " + number(o.scale));
  if (o.input == InputMotion::WITHIN) check_depth("input_depth", o.input_depth);
  // Depths whose responses are held at once: bounds the memory to a few
  // spectra's worth whatever the number of layers.
  constexpr std::size_t DEPTHS_PER_PASS = 16;
  PeakProfile pp;
  pp.depth.push_back(0.0);
  for (std::size_t i = 0; i < profile.layers(); ++i) {
    const double top = profile.top_depth(i), bottom = profile.top_depth(i + 1);
    pp.depth.push_back(0.5 * (top + bottom));
    pp.depth.push_back(bottom);
  }
  const std::size_t nd = pp.depth.size(), nf = m.freqs.size();
  pp.accel.assign(nd, 0.0);
  pp.strain.assign(nd, 0.0);
  pp.stress.assign(nd, 0.0);
  m.h_in.resize(o.input == InputMotion::WITHIN ? nf : 0);
  if (o.input == InputMotion::WITHIN) {
    const ResponseGrid g = response(profile, m.freqs, std::vector<double>{o.input_depth}, o.setup);
    std::copy(g.u.begin(), g.u.end(), m.h_in.begin());
  }
  // Strain and stress come from the displacement, in SI.
  const double to_si = o.scale * m.to_si;
  m.ya.resize(nf), m.yb.resize(nf), m.out_a.resize(m.n), m.out_b.resize(m.n);
  for (std::size_t d0 = 0; d0 < nd; d0 += DEPTHS_PER_PASS) {
    const std::size_t count = std::min(DEPTHS_PER_PASS, nd - d0);
    const ResponseGrid g = response(profile, m.freqs, std::span<const double>(pp.depth.data() + d0, count), o.setup);
    for (std::size_t d = 0; d < count; ++d) {
      const auto at = [&](const std::vector<cdouble>& v) { return std::span<const cdouble>(v.data() + d * nf, nf); };
      filtered_spectrum(at(g.u), o.input, m.h_in, 0, o.scale, m.ya);
      history(m.ya, m.out_a, m.scratch);
      pp.accel[d0 + d] = peak_abs(m.out_a);
      filtered_spectrum(at(g.strain), o.input, m.h_in, 2, to_si, m.ya);
      filtered_spectrum(at(g.stress), o.input, m.h_in, 2, to_si, m.yb);
      history_pair(m.ya, m.yb, m.out_a, m.out_b, m.scratch);
      pp.strain[d0 + d] = peak_abs(m.out_a);
      pp.stress[d0 + d] = peak_abs(m.out_b);
    }
  }
  return pp;
}

}  // namespace velmar
