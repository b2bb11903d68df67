// batch.cpp: realisations x records on a pool of threads, and column
// statistics of the results (layout in velmar/batch.hpp).
#include "velmar/batch.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <numbers>
#include <thread>

#include "site/measures_detail.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"
#include "velmar/measures.hpp"
#include "velmar/record_filter.hpp"
#include "velmar/rvt_site.hpp"

namespace velmar {

using detail::check_oscillator_periods;
using detail::number;
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
  if (records.empty() && o.motions.empty()) {
    throw InvalidArgument("records must hold at least one record or RVT motion, got none");
  }
  for (const Record& r : records) {
    check_record(r);
    check_oscillator_periods(periods, r.dt);
  }
  for (std::size_t i = 0; i < o.motions.size(); ++i) {
    try {
      check_rvt_motion(o.motions[i]);
    } catch (const InvalidArgument& e) {
      throw InvalidArgument("motions[" + std::to_string(i) + "]: " + e.what());
    }
  }
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
  for (std::size_t i = 0; i < nc; ++i) check_curve(o.curves[i], i);
  check_randomize_options(base, o.randomize);
  // The settings every run would otherwise refuse one by one (its curves
  // apart, which each run fills).
  check_equivalent_linear_options(o.el);
}

// How often the calling thread polls the interrupt check while the workers run.
constexpr auto INTERRUPT_POLL = std::chrono::milliseconds(20);

// What every worker shares.
struct RunContext {
  const BatchOptions* options;
  std::span<const double> periods;
  std::span<const Curve> curves;  // one per base layer (empty for linear runs without curves)
  std::span<const RecordFilter> spectra;  // per record: its padded spectrum (read only)
};

// Scratch of one worker, reused from run to run.
struct RunScratch {
  RecordFilter::Scratch work;
  std::vector<cdouble> a, b;
  std::vector<double> ya, yb;
};

// The surface (output-depth) acceleration of `profile` under record m in
// s.ya and, for a linear batch, the peak strains at the strain depths.
void linear_run(const RunContext& cx, const Profile& profile, DampingLaw law, std::size_t m, RunScratch& w,
                std::span<double> strain) {
  const BatchOptions& o = *cx.options;
  const RecordFilter& s = cx.spectra[m];
  const WaveSetup setup{Wave::SH, o.el.angle, law};
  const std::span<const double> freqs = s.frequencies();
  const std::size_t nf = freqs.size();
  const std::vector<cdouble> h = transfer(profile, freqs, setup, o.output_depth);
  std::vector<cdouble> h_in;
  if (o.el.input == InputMotion::WITHIN) h_in = transfer(profile, freqs, setup, o.el.input_depth);
  ResponseGrid g;
  const bool strains = o.analysis == Analysis::LINEAR && !strain.empty();
  if (strains) g = response(profile, freqs, o.strain_depths, setup);
  // Histories in pairs: the acceleration with the first strain, then the
  // remaining strains two by two.
  const std::size_t total = 1 + (strains ? strain.size() : 0);
  w.a.resize(nf), w.b.resize(nf), w.ya.resize(s.samples()), w.yb.resize(s.samples());
  std::vector<double> acc;
  for (std::size_t q = 0; q < total; q += 2) {
    const auto spectrum_of = [&](std::size_t item, std::vector<cdouble>& out) {
      if (item == 0) {
        s.filtered_spectrum(h, o.el.input, h_in, 0, 1.0, out);
      } else {
        const std::span<const cdouble> hs(g.strain.data() + (item - 1) * nf, nf);
        s.filtered_spectrum(hs, o.el.input, h_in, 2, s.to_si(), out);
      }
    };
    spectrum_of(q, w.a);
    const bool pair = q + 1 < total;
    if (pair) spectrum_of(q + 1, w.b);
    if (pair) {
      s.history_pair(w.a, w.b, w.ya, w.yb, w.work);
    } else {
      s.history(w.a, w.ya, w.work);
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

// The equivalent-linear run of one realisation under `input` (a record or an
// RVT motion) with the batch's options and the realisation's curves: a run
// that did not converge fails, and the peak strains at the strain depths are
// written to `strain`.
template <class Input>
EquivalentLinearResult converged_run(const RunContext& cx, const Realisation& real, const Input& input,
                                     std::span<double> strain, const InterruptCheck& stop) {
  const BatchOptions& o = *cx.options;
  EquivalentLinearOptions eo = o.el;
  eo.interrupt = stop;
  eo.curves = realisation_curves(real, cx.curves, o.el.water_table);
  EquivalentLinearResult el = equivalent_linear(input, real.profile, eo);
  if (!el.converged) {
    throw std::runtime_error("did not converge in " + std::to_string(el.iterations) + " iterations (last change " +
                             number(el.change.empty() ? NOT_A_NUMBER : el.change.back()) + ")");
  }
  for (std::size_t d = 0; d < strain.size(); ++d) {
    const std::size_t i = real.profile.entry_at(o.strain_depths[d]);
    strain[d] = i < el.max_strain.size() ? el.max_strain[i] : NOT_A_NUMBER;
  }
  return el;
}

// One RVT motion through one realisation (linear, or the iteration driven
// by random vibration theory); writes psa (periods), pga and strains.
void run_motion(const RunContext& cx, const Realisation& real, const RvtMotion& motion, std::span<double> psa,
                double& pga, std::span<double> strain, const InterruptCheck& stop) {
  const BatchOptions& o = *cx.options;
  PropagateOptions po;
  po.setup = {Wave::SH, o.el.angle, o.el.law};
  po.input = o.el.input;
  po.input_depth = o.el.input_depth;
  po.depth = o.output_depth;
  po.scale = o.el.scale;
  RvtMotion surface;
  if (o.analysis == Analysis::EQUIVALENT_LINEAR) {
    const EquivalentLinearResult el = converged_run(cx, real, motion, strain, stop);
    po.setup.law = el.law;
    surface = rvt_propagate(motion, el.profile, po);
  } else {
    if (!strain.empty()) {
      const std::vector<double> s = rvt_peak_strains(motion, real.profile, po, o.strain_depths);
      std::copy(s.begin(), s.end(), strain.begin());
    }
    surface = rvt_propagate(motion, real.profile, po);
  }
  rvt_response_spectrum(surface, cx.periods, o.spectral_damping, psa);
  for (std::size_t k = 0; k < psa.size(); ++k) {
    if (!std::isfinite(psa[k])) throw std::runtime_error("the PSA at period " + number(cx.periods[k]) + " s is not finite");
  }
  pga = rvt_peak(surface);
  if (!std::isfinite(pga)) throw std::runtime_error("the peak acceleration is not finite");
}

// One record through one realisation; writes psa (periods), pga and strains.
// An equivalent-linear run polls `stop` between its passes.
void run_one(const RunContext& cx, const Realisation& real, std::size_t m, const Record& rec, RunScratch& w,
             std::span<double> psa, double& pga, std::span<double> strain, const InterruptCheck& stop) {
  const BatchOptions& o = *cx.options;
  if (o.analysis == Analysis::EQUIVALENT_LINEAR) {
    const EquivalentLinearResult el = converged_run(cx, real, rec, strain, stop);
    linear_run(cx, el.profile, el.law, m, w, strain);
  } else {
    linear_run(cx, real.profile, o.el.law, m, w, strain);
  }
  const ResponseSpectrum rs = response_spectrum(w.ya, rec.dt, cx.periods, o.spectral_damping);
  // A value that is not finite is a failed run, listed as such, never a
  // result.
  for (std::size_t k = 0; k < rs.psa.size(); ++k) {
    if (!std::isfinite(rs.psa[k])) {
      throw std::runtime_error("the PSA at period " + number(cx.periods[k]) + " s is not finite");
    }
  }
  std::copy(rs.psa.begin(), rs.psa.end(), psa.begin());
  pga = peak_abs(w.ya);
  if (!std::isfinite(pga)) throw std::runtime_error("the peak acceleration is not finite");
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

  // The stop of every loop below. The caller's check runs on this thread
  // only (caller_check); a worker thread reads `stop`. An exception thrown
  // by the caller's check is kept and rethrown once the workers are done.
  std::atomic<bool> stop{false};
  std::exception_ptr stop_reason;
  const InterruptCheck caller_check = [&]() {
    try {
      if (o.interrupt && o.interrupt()) stop = true;
    } catch (...) {
      stop_reason = std::current_exception();
      stop = true;
    }
    return stop.load();
  };
  const InterruptCheck worker_check = [&stop]() { return stop.load(); };
  const auto throw_stopped = [&]() {
    if (stop_reason) std::rethrow_exception(stop_reason);
    throw Interrupted();
  };

  BatchResult res;
  res.first = first;
  res.count = count;
  res.records = records.size() + o.motions.size();
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
  std::vector<RecordFilter> spectra;
  for (const Record& r : recs) spectra.emplace_back(r, o.el.scale);
  const RunContext cx{&o, periods, curves, spectra};
  res.input_psa.resize(nm * nk);
  const std::size_t nrec = recs.size();
  for (std::size_t i = 0; i < o.motions.size(); ++i) {
    RvtMotion scaled = o.motions[i];
    for (double& a : scaled.fas) a *= std::abs(o.el.scale);
    rvt_response_spectrum(scaled, periods, o.spectral_damping,
                          std::span<double>(res.input_psa.data() + (nrec + i) * nk, nk));
  }
  for (std::size_t m = 0; m < nrec; ++m) {
    if (caller_check()) throw_stopped();
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
  // A worker on the calling thread polls the caller's check (which throws
  // Interrupted out of it); one on a thread of the pool stops at the flag.
  const auto worker = [&](bool on_caller) {
    const InterruptCheck& check = on_caller ? caller_check : worker_check;
    RunScratch scratch;
    for (std::size_t j = next++; j < count; j = next++) {
      if (on_caller) poll_interrupt(check);
      if (stop) return;
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
        if (on_caller) poll_interrupt(check);
        if (stop) return;
        try {
          if (m < nrec) {
            run_one(cx, real, m, recs[m], scratch, psa, res.pga[run], strain, check);
          } else {
            run_motion(cx, real, o.motions[m - nrec], psa, res.pga[run], strain, check);
          }
        } catch (const Interrupted&) {
          if (on_caller) throw;
          return;
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
    try {
      worker(true);
    } catch (const Interrupted&) {
      throw_stopped();
    }
  } else {
    // The workers run on the pool; this thread polls the caller's check
    // until they are done (or told to stop, after their current pass or run).
    std::mutex mutex;
    std::condition_variable done;
    std::size_t running = nthreads;
    {
      std::vector<std::jthread> pool;
      for (std::size_t t = 0; t < nthreads; ++t) {
        pool.emplace_back([&]() {
          worker(false);
          const std::lock_guard lock(mutex);
          --running;
          done.notify_all();
        });
      }
      std::unique_lock lock(mutex);
      while (running > 0) {
        if (!o.interrupt || stop) {  // nothing to poll, or already told to stop
          done.wait(lock);
          continue;
        }
        done.wait_for(lock, INTERRUPT_POLL);
        if (running == 0) break;
        lock.unlock();
        caller_check();
        lock.lock();
      }
    }  // the pool joins here
    if (stop) throw_stopped();
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
