// batch.cpp: realisations x records on a pool of threads, and column
// statistics of the results (layout in velmar/batch.hpp).
#include "velmar/batch.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <thread>

#include "signal/fft_double.hpp"
#include "signal/split_fft.hpp"
#include "site/padded_grid.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/measures.hpp"

namespace velmar {

using detail::FftPlan;
using detail::PaddedGrid;
using detail::UnitRoots;
using detail::number;
using detail::padded_grid;
namespace {

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
// Strain grid of a varied curve: ratios 1e-6 to 1e-1, this many points per decade.
constexpr double CURVE_STRAIN_MIN = 1.0e-6;
constexpr int CURVE_DECADES = 5;
constexpr int CURVE_POINTS_PER_DECADE = 10;

// The curve `c` tabulated at `mean_stress` and moved by the deviates; G/Gmax
// kept non-increasing and damping non-decreasing with strain.
CurveTable varied_table(const Curve& c, double mean_stress, double eps_g, double eps_d) {
  CurveTable t;
  const int n = CURVE_DECADES * CURVE_POINTS_PER_DECADE + 1;
  for (int j = 0; j < n; ++j) {
    const double strain = CURVE_STRAIN_MIN * std::pow(10.0, static_cast<double>(j) / CURVE_POINTS_PER_DECADE);
    const CurvePoint mean = evaluate_curve(c, strain, mean_stress);
    VariedPoint v = vary_curve_point(mean.g_ratio, mean.damping, eps_g, eps_d);
    if (j > 0) {
      v.g_ratio = std::min(v.g_ratio, t.g_ratio.back());
      v.damping = std::max(v.damping, t.damping.back());
    }
    t.strain.push_back(strain);
    t.g_ratio.push_back(v.g_ratio);
    t.damping.push_back(v.damping);
  }
  return t;
}

double peak_abs(std::span<const double> x) {
  double m = 0.0;
  for (double v : x) m = std::max(m, std::abs(v));
  return m;
}

void check_batch(const Profile& base, std::span<const Record> records, const BatchOptions& o,
                 std::span<const double> periods) {
  if (records.empty()) throw InvalidArgument("records must hold at least one record, got none");
  for (const Record& r : records) check_record(r);
  for (std::size_t k = 0; k < periods.size(); ++k) {
    if (!(std::isfinite(periods[k]) && periods[k] > 0.0)) {
      throw InvalidArgument("periods[" + std::to_string(k) + "] must be finite and above 0 s, got " +
                            number(periods[k]));
    }
  }
  for (std::size_t d = 0; d < o.strain_depths.size(); ++d) {
    if (!(std::isfinite(o.strain_depths[d]) && o.strain_depths[d] >= 0.0)) {
      throw InvalidArgument("strain_depths[" + std::to_string(d) + "] must be finite and at least 0 m, got " +
                            number(o.strain_depths[d]));
    }
  }
  if (!(std::isfinite(o.output_depth) && o.output_depth >= 0.0)) {
    throw InvalidArgument("output_depth must be finite and at least 0 m, got " + number(o.output_depth));
  }
  if (!(o.spectral_damping >= 0.0 && o.spectral_damping < 1.0)) {
    throw InvalidArgument("spectral damping must lie in [0, 1), got " + number(o.spectral_damping));
  }
  const std::size_t nc = o.curves.size();
  if (nc != 0 && nc != 1 && nc != base.layers()) {
    throw InvalidArgument("curves must hold one curve or one per layer of the base profile (" +
                          std::to_string(base.layers()) + "), got " + std::to_string(nc));
  }
  if (o.analysis == Analysis::EQUIVALENT_LINEAR && nc == 0) {
    throw InvalidArgument("an equivalent-linear batch needs curves");
  }
}

// A record's spectrum, computed once per batch and shared by every run (read
// only): the record times the scale, padded with zeros as propagate pads it
// (padded_grid.hpp), transformed with exp(+i w t) as propagate does.
struct RecordSpectrum {
  std::size_t n = 0;            // samples of the record
  std::vector<double> freqs;    // k / (L dt), k = 0 .. L/2
  std::vector<cdouble> X;       // L/2 + 1 values
  double to_si = 1.0;           // m/s2 per unit of the record
  double dt = 0.0;
  std::unique_ptr<FftPlan> plan;       // length L
  std::unique_ptr<FftPlan> half_plan;  // length L/2, for one real history
  std::vector<cdouble> w;              // exp(+2 pi i k / L), k < L/2
};

RecordSpectrum record_spectrum(const Record& rec, double scale) {
  RecordSpectrum s;
  s.n = rec.accel.size();
  s.dt = rec.dt;
  s.to_si = acceleration_unit(rec.units);
  PaddedGrid grid = padded_grid(s.n, rec.dt);
  const std::size_t L = grid.L;
  s.freqs = std::move(grid.freqs);
  s.plan = std::make_unique<FftPlan>(L);
  s.half_plan = std::make_unique<FftPlan>(L / 2);
  s.w.resize(L / 2);
  const UnitRoots roots(L);
  for (std::size_t k = 0; k < L / 2; ++k) {
    double re = 0.0, im = 0.0;
    roots.get(k, re, im);
    s.w[k] = {re, im};
  }
  std::vector<cdouble> x(L);
  for (std::size_t j = 0; j < s.n; ++j) x[j] = scale * rec.accel[j];
  s.plan->transform(x, +1);
  s.X.assign(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(L / 2 + 1));
  return s;
}

// The deconvolution floor on |H|^2 of a within input, as propagate uses.
constexpr double WITHIN_FLOOR = 1.0e-7;

// Spectrum (k = 0 .. L/2) of the history of a transfer function `h` under
// the record: acceleration (record units) or, with `strain`, the strain
// (ratio) from the displacement, h X to_si / (-w^2). `h_in` (within input)
// divides, else an outcrop input halves.
void history_spectrum(const RecordSpectrum& s, std::span<const cdouble> h, std::span<const cdouble> h_in,
                      InputMotion input, bool strain, std::span<cdouble> out) {
  for (std::size_t k = 0; k < s.X.size(); ++k) {
    cdouble ratio = h[k];
    if (input == InputMotion::WITHIN) {
      ratio = h[k] * std::conj(h_in[k]) / std::max(std::norm(h_in[k]), WITHIN_FLOOR);
    } else if (input == InputMotion::OUTCROP) {
      ratio *= 0.5;
    }
    cdouble y = ratio * s.X[k];
    if (strain) {
      const double w = 2.0 * std::numbers::pi * s.freqs[k];
      y = k == 0 ? cdouble{} : y * s.to_si / (-w * w);
    }
    out[k] = y;
  }
}

// Throws when sample j of a filtered history is not finite (a record whose
// values are too large).
void check_finite(double v, std::size_t j) {
  if (!std::isfinite(v)) {
    throw std::runtime_error("the filtered history is not finite at sample " + std::to_string(j) +
                             " (the record's values are too large)");
  }
}

// Value k (0 .. L/2) of a half spectrum with its ends made real, as the
// spectrum of a real history of even length L has them.
cdouble hermitian_half(std::span<const cdouble> v, std::size_t k, std::size_t L) {
  return (k == 0 || 2 * k == L) ? cdouble{v[k].real(), 0.0} : v[k];
}

// Two real histories from their half spectra a and b (L/2 + 1 values each)
// with one complex inverse transform of length L: z = a + i b, extended to
// the whole circle with the conjugate symmetry of each. Writes n samples of
// each.
void history_pair(const RecordSpectrum& s, std::span<const cdouble> a, std::span<const cdouble> b,
                  std::vector<cdouble>& work, std::span<double> ya, std::span<double> yb) {
  const std::size_t L = s.plan->size();
  work.assign(L, cdouble{});
  const cdouble i{0.0, 1.0};
  for (std::size_t k = 0; k <= L / 2; ++k) {
    const cdouble ak = hermitian_half(a, k, L), bk = hermitian_half(b, k, L);
    work[k] = ak + i * bk;
    if (k > 0 && 2 * k < L) work[L - k] = std::conj(ak) + i * std::conj(bk);
  }
  s.plan->transform(work, -1);
  const double inv = 1.0 / static_cast<double>(L);
  for (std::size_t j = 0; j < s.n; ++j) {
    ya[j] = work[j].real() * inv;
    yb[j] = work[j].imag() * inv;
    check_finite(ya[j], j);
    check_finite(yb[j], j);
  }
}

// One real history from its half spectrum Y (L/2 + 1 values) with a complex
// transform of length M = L/2: the even and odd samples e, o have spectra
// E_k = (Y_k + conj Y_(M-k)) / 2 and O_k = (Y_k - conj Y_(M-k)) conj(w_k) / 2,
// and z = e + i o is the inverse transform of E + i O over M.
void history_single(const RecordSpectrum& s, std::span<const cdouble> y_half, std::vector<cdouble>& work,
                    std::span<double> y) {
  const std::size_t L = s.plan->size(), M = L / 2;
  work.assign(M, cdouble{});
  const cdouble i{0.0, 1.0};
  for (std::size_t k = 0; k < M; ++k) {
    const cdouble yk = hermitian_half(y_half, k, L), ym = std::conj(hermitian_half(y_half, M - k, L));
    work[k] = 0.5 * (yk + ym) + i * (0.5 * (yk - ym) * std::conj(s.w[k]));
  }
  s.half_plan->transform(work, -1);
  const double inv = 1.0 / static_cast<double>(M);
  for (std::size_t j = 0; j < s.n; ++j) {
    const cdouble z = work[j / 2] * inv;
    y[j] = j % 2 ? z.imag() : z.real();
    check_finite(y[j], j);
  }
}

// What every worker shares.
struct RunContext {
  const BatchOptions* options;
  std::span<const double> periods;
  std::span<const Curve> curves;  // one per base layer (empty for linear runs without curves)
  std::span<const RecordSpectrum> spectra;
};

// Scratch of one worker, reused from run to run.
struct RunScratch {
  std::vector<cdouble> work;
  std::vector<cdouble> a, b;
  std::vector<double> ya, yb;
};

// The surface (output-depth) acceleration of `profile` under record m in
// s.ya and, for a linear batch, the peak strains at the strain depths.
void linear_run(const RunContext& cx, const Profile& profile, DampingLaw law, std::size_t m, RunScratch& w,
                std::span<double> strain) {
  const BatchOptions& o = *cx.options;
  const RecordSpectrum& s = cx.spectra[m];
  const WaveSetup setup{Wave::SH, o.el.angle, law};
  const std::size_t nf = s.freqs.size();
  const std::vector<cdouble> h = transfer(profile, s.freqs, setup, o.output_depth);
  std::vector<cdouble> h_in;
  if (o.el.input == InputMotion::WITHIN) h_in = transfer(profile, s.freqs, setup, o.el.input_depth);
  ResponseGrid g;
  const bool strains = o.analysis == Analysis::LINEAR && !strain.empty();
  if (strains) g = response(profile, s.freqs, o.strain_depths, setup);
  // Histories in pairs: the acceleration with the first strain, then the
  // remaining strains two by two.
  const std::size_t total = 1 + (strains ? strain.size() : 0);
  w.a.resize(nf), w.b.resize(nf), w.ya.resize(s.n), w.yb.resize(s.n);
  std::vector<double> acc;
  for (std::size_t q = 0; q < total; q += 2) {
    const auto spectrum_of = [&](std::size_t item, std::vector<cdouble>& out) {
      if (item == 0) {
        history_spectrum(s, h, h_in, o.el.input, false, out);
      } else {
        const std::span<const cdouble> hs(g.strain.data() + (item - 1) * nf, nf);
        history_spectrum(s, hs, h_in, o.el.input, true, out);
      }
    };
    spectrum_of(q, w.a);
    const bool pair = q + 1 < total;
    if (pair) spectrum_of(q + 1, w.b);
    if (pair) {
      history_pair(s, w.a, w.b, w.work, w.ya, w.yb);
    } else {
      history_single(s, w.a, w.work, w.ya);
    }
    if (q == 0) {
      acc = w.ya;
    } else {
      strain[q - 1] = peak_abs(w.ya);
    }
    if (pair) strain[q] = peak_abs(w.yb);
  }
  w.ya = std::move(acc);
}

// One record through one realisation; writes psa (periods), pga and strains.
void run_one(const RunContext& cx, const Realisation& real, std::size_t m, const Record& rec, RunScratch& w,
             std::span<double> psa, double& pga, std::span<double> strain) {
  const BatchOptions& o = *cx.options;
  if (o.analysis == Analysis::EQUIVALENT_LINEAR) {
    EquivalentLinearOptions eo = o.el;
    eo.curves = realisation_curves(real, cx.curves, o.el.water_table);
    const EquivalentLinearResult el = equivalent_linear(rec, real.profile, eo);
    if (!el.converged) {
      throw std::runtime_error("did not converge in " + std::to_string(el.iterations) + " iterations (last change " +
                               number(el.change.empty() ? NOT_A_NUMBER : el.change.back()) + ")");
    }
    for (std::size_t d = 0; d < strain.size(); ++d) {
      const std::size_t i = real.profile.entry_at(o.strain_depths[d]);
      strain[d] = i < el.max_strain.size() ? el.max_strain[i] : NOT_A_NUMBER;
    }
    linear_run(cx, el.profile, el.law, m, w, strain);
  } else {
    linear_run(cx, real.profile, o.el.law, m, w, strain);
  }
  const ResponseSpectrum rs = response_spectrum(w.ya, rec.dt, cx.periods, o.spectral_damping);
  std::copy(rs.psa.begin(), rs.psa.end(), psa.begin());
  pga = peak_abs(w.ya);
}

}  // namespace

Analysis analysis_from_name(std::string_view name) {
  if (name == "linear") return Analysis::LINEAR;
  if (name == "equivalent_linear") return Analysis::EQUIVALENT_LINEAR;
  throw InvalidArgument("analysis must be 'linear' or 'equivalent_linear', got '" + std::string(name) + "'");
}

std::vector<Curve> realisation_curves(const Realisation& r, std::span<const Curve> base_curves,
                                      std::optional<double> water_table) {
  std::vector<Curve> out;
  if (base_curves.empty()) return out;
  const std::size_t n = r.profile.layers();
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Curve& c = base_curves.size() == 1 ? base_curves[0] : base_curves[r.base_layer.at(i)];
    if (r.eps_g.empty() || std::holds_alternative<LinearLayer>(c)) {
      out.push_back(c);
    } else {
      const double mid = r.profile.top_depth(i) + 0.5 * r.profile.thickness()[i];
      const double sm = mean_effective_stress(vertical_effective_stress(r.profile, mid, water_table), curve_k0(c));
      out.emplace_back(varied_table(c, sm, r.eps_g[i], r.eps_d[i]));
    }
  }
  return out;
}

BatchResult run_batch(const Profile& base, std::span<const Record> records, const BatchOptions& o,
                      std::uint64_t first, std::size_t count) {
  const std::vector<double> default_list = o.periods.empty() ? default_periods() : std::vector<double>{};
  const std::span<const double> periods = o.periods.empty() ? std::span<const double>(default_list)
                                                            : std::span<const double>(o.periods);
  check_batch(base, records, o, periods);
  if (count > 0) realise(base, o.randomize, o.seed, first);  // bad randomisation options throw here

  BatchResult res;
  res.first = first;
  res.count = count;
  res.records = records.size();
  res.periods = periods.size();
  res.depths = o.strain_depths.size();
  const std::size_t nm = res.records, nk = res.periods, nd = res.depths;
  res.psa.assign(count * nm * nk, NOT_A_NUMBER);
  res.pga.assign(count * nm, NOT_A_NUMBER);
  res.max_strain.assign(count * nm * nd, NOT_A_NUMBER);
  res.layers.assign(count, 0);

  std::vector<Curve> curves;  // one per base layer
  if (o.curves.size() == 1) curves.assign(base.layers(), o.curves[0]);
  else curves = o.curves;
  const std::vector<Record> recs(records.begin(), records.end());
  std::vector<RecordSpectrum> spectra;
  for (const Record& r : recs) spectra.push_back(record_spectrum(r, o.el.scale));
  const RunContext cx{&o, periods, curves, spectra};
  res.input_psa.resize(nm * nk);
  for (std::size_t m = 0; m < nm; ++m) {
    std::vector<double> scaled = recs[m].accel;
    for (double& v : scaled) v *= o.el.scale;
    try {
      const ResponseSpectrum rs = response_spectrum(scaled, recs[m].dt, periods, o.spectral_damping);
      std::copy(rs.psa.begin(), rs.psa.end(), res.input_psa.begin() + static_cast<std::ptrdiff_t>(m * nk));
    } catch (const std::exception&) {
      // Left NaN: the runs of this record fail with their own message.
      std::fill_n(res.input_psa.begin() + static_cast<std::ptrdiff_t>(m * nk), nk, NOT_A_NUMBER);
    }
  }

  // Failures per realisation, gathered in order after the threads finish.
  std::vector<std::vector<RunFailure>> failed(count);
  std::atomic<std::size_t> next{0};
  const auto worker = [&]() {
    RunScratch scratch;
    for (std::size_t j = next++; j < count; j = next++) {
      const std::uint64_t r = first + j;
      Realisation real;
      try {
        real = realise(base, o.randomize, o.seed, r);
      } catch (const std::exception& e) {
        for (std::size_t m = 0; m < nm; ++m) failed[j].push_back({r, m, e.what()});
        continue;
      }
      res.layers[j] = static_cast<int>(real.profile.layers());
      for (std::size_t m = 0; m < nm; ++m) {
        const std::size_t run = j * nm + m;
        const std::span<double> psa(res.psa.data() + run * nk, nk);
        const std::span<double> strain(res.max_strain.data() + run * nd, nd);
        try {
          run_one(cx, real, m, recs[m], scratch, psa, res.pga[run], strain);
        } catch (const std::exception& e) {
          std::fill(psa.begin(), psa.end(), NOT_A_NUMBER);
          std::fill(strain.begin(), strain.end(), NOT_A_NUMBER);
          res.pga[run] = NOT_A_NUMBER;
          failed[j].push_back({r, m, e.what()});
        }
      }
    }
  };
  const unsigned hw = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t nthreads = std::min<std::size_t>(o.threads == 0 ? hw : o.threads, std::max<std::size_t>(count, 1));
  if (nthreads <= 1) {
    worker();
  } else {
    std::vector<std::jthread> pool;
    for (std::size_t t = 0; t < nthreads; ++t) pool.emplace_back(worker);
  }
  for (auto& f : failed) res.failures.insert(res.failures.end(), f.begin(), f.end());
  return res;
}

ColumnStatistics column_statistics(std::span<const double> values, std::size_t rows, std::size_t cols,
                                   std::span<const double> percentiles) {
  if (values.size() != rows * cols) {
    throw InvalidArgument("values must hold rows x cols = " + std::to_string(rows * cols) + " entries, got " +
                          std::to_string(values.size()));
  }
  for (std::size_t q = 0; q < percentiles.size(); ++q) {
    if (!(percentiles[q] >= 0.0 && percentiles[q] <= 100.0)) {
      throw InvalidArgument("percentiles[" + std::to_string(q) + "] must lie in [0, 100], got " +
                            number(percentiles[q]));
    }
  }
  ColumnStatistics s;
  s.median.assign(cols, NOT_A_NUMBER);
  s.log_std.assign(cols, NOT_A_NUMBER);
  s.percentiles.assign(percentiles.size() * cols, NOT_A_NUMBER);
  s.count.assign(cols, 0);
  std::vector<double> a;
  a.reserve(rows);
  const auto quantile = [&a](double p) {
    const double pos = p / 100.0 * static_cast<double>(a.size() - 1);
    const std::size_t lo = static_cast<std::size_t>(std::floor(pos));
    const std::size_t hi = std::min(lo + 1, a.size() - 1);
    return a[lo] + (pos - static_cast<double>(lo)) * (a[hi] - a[lo]);
  };
  for (std::size_t c = 0; c < cols; ++c) {
    a.clear();
    for (std::size_t r = 0; r < rows; ++r) {
      const double v = values[r * cols + c];
      if (!std::isnan(v)) a.push_back(v);
    }
    s.count[c] = a.size();
    if (a.empty()) continue;
    std::sort(a.begin(), a.end());
    s.median[c] = quantile(50.0);
    for (std::size_t q = 0; q < percentiles.size(); ++q) s.percentiles[q * cols + c] = quantile(percentiles[q]);
    if (a.size() >= 2 && a.front() > 0.0) {
      double mean = 0.0;
      for (double v : a) mean += std::log(v);
      mean /= static_cast<double>(a.size());
      double ss = 0.0;
      for (double v : a) ss += (std::log(v) - mean) * (std::log(v) - mean);
      s.log_std[c] = std::sqrt(ss / static_cast<double>(a.size() - 1));
    }
  }
  return s;
}

}  // namespace velmar
