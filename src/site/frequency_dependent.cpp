// frequency_dependent.cpp: the column of a frequency-dependent
// equivalent-linear analysis (see frequency_dependent.hpp): its curve
// tables, the variants' strain spectra, the properties per frequency and
// the sweep that gives the mid-layer strains with them.
#include "site/frequency_dependent.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>

#include "layers/complex_ops.hpp"
#include "common/platform.hpp"
#include "layers/poly_math.hpp"
#include "site/sh_response.hpp"
#include "site/text.hpp"
#include "velmar/errors.hpp"

namespace velmar::detail {
namespace {

using poly::EXP_FLOOR;
using poly::half_exp_poly;
using poly::SinCos;
using poly::sincos_poly;

constexpr std::size_t GRID = FdColumn::GRID_PER_DECADE * FdColumn::GRID_DECADES + 1;
constexpr std::size_t BLOCK = 64;
// Konno-Ohmachi: bins of this width in the window's argument x = b log10 f
// (the main lobe spans |x| < pi), and the window cut at |x| = KO_REACH
// (the weight beyond, under 1/x^4, is below 2e-4 of the whole).
constexpr double KO_BIN = 0.25;
constexpr double KO_REACH = 4.0 * std::numbers::pi;

double ko_window(double x) {
  if (std::abs(x) < 1e-2) {
    const double x2 = x * x;
    const double s = 1.0 - x2 / 6.0 + x2 * x2 / 120.0;
    return (s * s) * (s * s);
  }
  const double s = std::sin(x) / x;
  return (s * s) * (s * s);
}

// M*/M of a damping ratio under `law` (as complex_modulus), and the
// slowness factor sqrt(M/M*) (Re > 0, Im >= 0).
struct LawFactors {
  double mr, mi, sr, si;
};
inline LawFactors law_factors(double d, DampingLaw law) {
  double mr = 1.0, mi = -2.0 * d;
  switch (law) {
    case DampingLaw::SEED: break;
    case DampingLaw::KRAMER: mr = 1.0 - d * d; break;
    case DampingLaw::DORMIEUX: mr = std::sqrt(std::max(0.0, 1.0 - 4.0 * d * d)); break;
    case DampingLaw::VELMAR: {
      // 1/(1 + i d)^2, and slowness factor 1 + i d.
      const double q = 1.0 / (1.0 + d * d);
      return {(1.0 - d * d) * q * q, -2.0 * d * q * q, 1.0, d};
    }
  }
  // 1/sqrt(m) = conj(sqrt(m)) / |m|, sqrt(m) = (r, mi / (2 r)), r = sqrt((|m| + mr) / 2).
  const double a = std::sqrt(mr * mr + mi * mi);
  const double r = std::sqrt(0.5 * (a + mr));
  return {mr, mi, r / a, -(mi / (2.0 * r)) / a};
}

#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__)
#define VELMAR_FD_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define VELMAR_FD_CLONES
#endif
// Clang does not multiversion function templates: there they are built
// for the baseline only.
#if defined(__x86_64__) && defined(__ELF__) && defined(__GNUC__) && !defined(__clang__)
#define VELMAR_FD_TEMPLATE_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define VELMAR_FD_TEMPLATE_CLONES
#endif

// The forward step across one row for `count` lanes of a block: rho updated
// in place, the strain factor S (strain over B of the row below) and
// F = E / G written. c, mc: the row's; nr, ni: M c of the row below.
VELMAR_FD_CLONES void forward_row(std::size_t count, const double* VELMAR_RESTRICT om, double hh, const double* VELMAR_RESTRICT c_r,
                                  const double* VELMAR_RESTRICT c_i, const double* VELMAR_RESTRICT m_r,
                                  const double* VELMAR_RESTRICT m_i, const double* VELMAR_RESTRICT n_r,
                                  const double* VELMAR_RESTRICT n_i, double* VELMAR_RESTRICT rr,
                                  double* VELMAR_RESTRICT ri, double* VELMAR_RESTRICT sr, double* VELMAR_RESTRICT si,
                                  double* VELMAR_RESTRICT fr, double* VELMAR_RESTRICT fi) {
  for (std::size_t i = 0; i < count; ++i) {
    const double w = om[i];
    const double br_ = n_r[i], bi_ = n_i[i];
    const double inv_b = 1.0 / (br_ * br_ + bi_ * bi_);
    const double alr = (m_r[i] * br_ + m_i[i] * bi_) * inv_b, ali = (m_i[i] * br_ - m_r[i] * bi_) * inv_b;
    // e^{i phi}, phi = w c h / 2
    const double decay = 2.0 * half_exp_poly(std::max(EXP_FLOOR, -w * c_i[i] * hh));
    const SinCos sc = sincos_poly(w * c_r[i] * hh);
    const double ehr = decay * sc.c, ehi = decay * sc.s;
    const double er = ehr * ehr - ehi * ehi, ei = 2.0 * ehr * ehi;
    const double xr = rr[i] * er - ri[i] * ei, xi = rr[i] * ei + ri[i] * er;  // rho E
    const double yr = xr * er - xi * ei, yi = xr * ei + xi * er;              // rho E^2
    const double ar = 1.0 + alr, ai = ali, bre = 1.0 - alr, bim = -ali;
    const double gr = 0.5 * (bre * yr - bim * yi + ar), gi = 0.5 * (bre * yi + bim * yr + ai);
    const double inv = 1.0 / (gr * gr + gi * gi);
    const double qr = gr * inv, qi = -gi * inv;
    const double nr = ar * yr - ai * yi + bre, ni = ar * yi + ai * yr + bim;
    rr[i] = 0.5 * (nr * qr - ni * qi);
    ri[i] = 0.5 * (nr * qi + ni * qr);
    const double t0r = (xr - 1.0) * ehr - xi * ehi, t0i = (xr - 1.0) * ehi + xi * ehr;
    const double t_r = t0r * qr - t0i * qi, t_i = t0r * qi + t0i * qr;
    sr[i] = w * (-c_i[i] * t_r - c_r[i] * t_i);
    si[i] = w * (c_r[i] * t_r - c_i[i] * t_i);
    fr[i] = er * qr - ei * qi;
    fi[i] = er * qi + ei * qr;
  }
}

// Row j's c and M c at every frequency from its G/Gmax and damping, under
// one law (the switch outside the loop, so it vectorises).
template <DampingLaw LAW>
VELMAR_FD_TEMPLATE_CLONES void row_constants(std::size_t nf, double gmax, double vs0, const double* VELMAR_RESTRICT g,
                                    const double* VELMAR_RESTRICT d, double* VELMAR_RESTRICT cr,
                                    double* VELMAR_RESTRICT ci, double* VELMAR_RESTRICT mr,
                                    double* VELMAR_RESTRICT mi) {
  for (std::size_t k = 0; k < nf; ++k) {
    const LawFactors f = law_factors(d[k], LAW);
    const double sq = std::sqrt(g[k]);
    cr[k] = f.sr / (vs0 * sq), ci[k] = f.si / (vs0 * sq);
    mr[k] = gmax * g[k] * f.mr, mi[k] = gmax * g[k] * f.mi;
  }
}

}  // namespace

FdColumn::FdColumn(std::vector<FdRow> rows, cdouble half_modulus, cdouble half_slowness, DampingLaw law,
                   double angle_deg, std::size_t nf, double df, FrequencyDependent variant, double bandwidth)
    : rows_(std::move(rows)), half_modulus_(half_modulus), half_slowness_(half_slowness), law_(law),
      angle_(angle_deg), nf_(nf), df_(df), variant_(variant), bandwidth_(bandwidth) {
  const std::size_t M = rows_.size();
  table_g_.assign(M * GRID, 1.0);
  table_d_.assign(M * GRID, 0.0);
  for (std::size_t j = 0; j < M; ++j) {
    const FdRow& r = rows_[j];
    for (std::size_t q = 0; q < GRID; ++q) {
      if (r.curve == nullptr || std::holds_alternative<LinearLayer>(*r.curve)) {
        table_d_[j * GRID + q] = r.xi0;
        continue;
      }
      const double strain =
          GRID_LOW * std::pow(10.0, static_cast<double>(q) / static_cast<double>(GRID_PER_DECADE));
      const CurvePoint pt = evaluate_curve(*r.curve, strain, r.sigma_m);
      table_g_[j * GRID + q] = pt.g_ratio, table_d_[j * GRID + q] = std::max(0.0, pt.damping + r.d_shift);
    }
  }
  exact_g_.assign(M, 1.0), exact_d_.assign(M, 0.0), log_effective_.assign(M, 0.0);
  log_f_.assign(nf_, 0.0);
  omega_.resize(nf_);
  for (std::size_t k = 0; k < nf_; ++k) omega_[k] = 2.0 * std::numbers::pi * df_ * static_cast<double>(k);
  for (std::size_t k = 1; k < nf_; ++k) log_f_[k] = std::log(static_cast<double>(k) * df_);
  if (variant_ == FrequencyDependent::KO && nf_ > 1) {
    // Bins in x = b log10 f over k >= 1, their mean x, and per frequency
    // the two bins it is interpolated between.
    const double x1 = bandwidth_ * log_f_[1] / std::numbers::ln10;
    std::size_t last = std::numeric_limits<std::size_t>::max();
    for (std::size_t k = 1; k < nf_; ++k) {
      const double x = bandwidth_ * log_f_[k] / std::numbers::ln10;
      const auto bin = static_cast<std::size_t>((x - x1) / KO_BIN);
      if (bin != last) bin_first_.push_back(k), bin_x_.push_back(0.0), bin_count_.push_back(0.0), last = bin;
      bin_x_.back() += x, bin_count_.back() += 1.0;
    }
    for (std::size_t i = 0; i < bin_x_.size(); ++i) bin_x_[i] /= bin_count_[i];
    const std::size_t nb = bin_x_.size();
    bin_sum_.assign(nb, 0.0), bin_value_.assign(nb, 0.0);
    // The window weights of the bins near each centre (by position), and
    // their sum over the frequencies they hold: the same in every pass.
    ko_lo_.resize(nb), ko_off_.resize(nb + 1), ko_den_.resize(nb);
    std::size_t lo = 0, hi = 0;
    for (std::size_t i = 0; i < nb; ++i) {
      const double xc = bin_x_[i];
      while (lo < nb && bin_x_[lo] < xc - KO_REACH) ++lo;
      while (hi < nb && bin_x_[hi] <= xc + KO_REACH) ++hi;
      ko_lo_[i] = lo, ko_off_[i] = ko_w_.size();
      double den = 0.0;
      for (std::size_t m = lo; m < hi; ++m) {
        ko_w_.push_back(ko_window(bin_x_[m] - xc));
        den += ko_w_.back() * bin_count_[m];
      }
      ko_den_[i] = den;
    }
    ko_off_[nb] = ko_w_.size();
  }
}

void FdColumn::shape(std::size_t j, const double* amp, double effective, double* lg) {
  (void)j;
  const double le = std::log(effective);
  const std::size_t nf = nf_;
  if (nf < 2 || !(effective > 0.0)) {
    std::fill(lg, lg + nf, le);
    return;
  }
  switch (variant_) {
    case FrequencyDependent::NONE: std::fill(lg, lg + nf, le); return;
    case FrequencyDependent::ZR15: {
      double mx = 0.0;
      for (std::size_t k = 1; k < nf; ++k) mx = std::max(mx, amp[k]);
      if (!(mx > 0.0)) break;
      const double lm = std::log(mx);
      for (std::size_t k = 1; k < nf; ++k) lg[k] = amp[k] == mx ? le : le + (std::log(amp[k]) - lm);
      lg[0] = lg[1];
      return;
    }
    case FrequencyDependent::KA02: {
      // Trapezoid integrals over the grid (uniform step df).
      double num = 0.0, den = 0.0;
      for (std::size_t k = 0; k + 1 < nf; ++k) {
        num += 0.5 * df_ * (static_cast<double>(k) * df_ * amp[k] + static_cast<double>(k + 1) * df_ * amp[k + 1]);
        den += 0.5 * df_ * (amp[k] + amp[k + 1]);
      }
      if (!(den > 0.0)) break;
      const double fbar = num / den;
      std::size_t kb = 0;  // first frequency at or above fbar
      double below = 0.0;
      while (kb < nf && static_cast<double>(kb) * df_ < fbar) ++kb;
      for (std::size_t k = 0; k + 1 < kb; ++k) below += 0.5 * df_ * (amp[k] + amp[k + 1]);
      const double sbar = below / fbar;
      const double lfbar = std::log(fbar);
      // Least squares of ln(S / Sbar) = a u + b v, u = -x, v = -ln x.
      double suu = 0.0, suv = 0.0, svv = 0.0, suy = 0.0, svy = 0.0;
      if (sbar > 0.0) {
        const double ls = std::log(sbar);
        for (std::size_t k = std::max<std::size_t>(kb, 1); k < nf; ++k) {
          if (!(amp[k] > 0.0)) continue;
          const double u = -static_cast<double>(k) * df_ / fbar, v = -(log_f_[k] - lfbar);
          const double y = std::log(amp[k]) - ls;
          suu += u * u, suv += u * v, svv += v * v, suy += u * y, svy += v * y;
        }
      }
      const double det = suu * svv - suv * suv;
      double a = 0.0, b = 0.0;
      if (det > 1e-12 * suu * svv && std::isfinite(det)) a = (suy * svv - svy * suv) / det, b = (svy * suu - suy * suv) / det;
      for (std::size_t k = 1; k < nf; ++k) {
        const double x = static_cast<double>(k) * df_ / fbar;
        lg[k] = le + std::min(0.0, -a * x - b * (log_f_[k] - lfbar));
      }
      lg[0] = lg[1];
      return;
    }
    case FrequencyDependent::KO: {
      const std::size_t nb = bin_x_.size();
      for (std::size_t i = 0; i < nb; ++i) {
        const std::size_t end = i + 1 < nb ? bin_first_[i + 1] : nf;
        double s = 0.0;
        for (std::size_t k = bin_first_[i]; k < end; ++k) s += amp[k];
        bin_sum_[i] = s;
      }
      for (std::size_t i = 0; i < nb; ++i) {
        const double* w = &ko_w_[ko_off_[i]];
        const double* a = &bin_sum_[ko_lo_[i]];
        const std::size_t count = ko_off_[i + 1] - ko_off_[i];
        double swa = 0.0;
        for (std::size_t m = 0; m < count; ++m) swa += w[m] * a[m];
        bin_value_[i] = ko_den_[i] > 0.0 ? swa / ko_den_[i] : 0.0;
      }
      // Back onto the grid, linear in x between bin centres; then the
      // running maximum from the top down, over its largest value.
      std::size_t i = 0;
      for (std::size_t k = 1; k < nf; ++k) {
        const double x = bandwidth_ * log_f_[k] / std::numbers::ln10;
        while (i + 1 < nb && bin_x_[i + 1] <= x) ++i;
        double v = bin_value_[i];
        if (i + 1 < nb && x > bin_x_[i]) {
          const double w = (x - bin_x_[i]) / (bin_x_[i + 1] - bin_x_[i]);
          v = (1.0 - w) * bin_value_[i] + w * bin_value_[i + 1];
        }
        work_[k] = v;
      }
      for (std::size_t k = nf - 1; k-- > 1;) work_[k] = std::max(work_[k], work_[k + 1]);
      const double mx = work_[1];
      if (!(mx > 0.0)) break;
      const double lm = std::log(mx);
      for (std::size_t k = 1; k < nf; ++k) lg[k] = work_[k] == mx ? le : le + (std::log(work_[k]) - lm);
      lg[0] = lg[1];
      return;
    }
  }
  std::fill(lg, lg + nf, le);
}

namespace {

// The arrays a thread's last column left (see ~FdColumn).
struct KeptArrays {
  std::vector<double> g, d, gam, cr, ci, mr, mi, next;
};
thread_local KeptArrays kept_arrays;

}  // namespace

FdColumn::~FdColumn() {
  if (g_.capacity() > KEPT_VALUES) return;
  KeptArrays& k = kept_arrays;
  k.g.swap(g_), k.d.swap(d_), k.gam.swap(gam_), k.cr.swap(cr_), k.ci.swap(ci_), k.mr.swap(mr_), k.mi.swap(mi_);
  k.next.swap(next_);
}

void FdColumn::size_arrays() {
  const std::size_t M = rows_.size(), nf = nf_;
  if (g_.empty()) {
    KeptArrays& k = kept_arrays;
    g_.swap(k.g), d_.swap(k.d), gam_.swap(k.gam), cr_.swap(k.cr), ci_.swap(k.ci), mr_.swap(k.mr), mi_.swap(k.mi);
    next_.swap(k.next);
  }
  // Every value is written before it is read: start or set fill g and d,
  // advance gam and (through properties) c and M c, measure next.
  g_.resize(M * nf), d_.resize(M * nf), gam_.resize(M * nf), next_.resize(M * nf);
  cr_.resize(M * nf), ci_.resize(M * nf), mr_.resize((M + 1) * nf), mi_.resize((M + 1) * nf);
  amp_.resize(nf), work_.resize(nf);
  const double theta = angle_ * std::numbers::pi / 180.0;
  const cdouble mcN = half_modulus_ * (std::cos(theta) * half_slowness_);
  std::fill_n(mr_.begin() + static_cast<std::ptrdiff_t>(M * nf), nf, mcN.real());
  std::fill_n(mi_.begin() + static_cast<std::ptrdiff_t>(M * nf), nf, mcN.imag());
}

void FdColumn::start(std::span<const double> g, std::span<const double> d) {
  size_arrays();
  std::fill(gam_.begin(), gam_.end(), 0.0);
  for (std::size_t j = 0; j < rows_.size(); ++j) {
    std::fill_n(g_.begin() + static_cast<std::ptrdiff_t>(j * nf_), nf_, g[j]);
    std::fill_n(d_.begin() + static_cast<std::ptrdiff_t>(j * nf_), nf_, d[j]);
  }
}

double FdColumn::lookup(std::size_t j, const double* lg, double* g, double* d, bool compare) const {
  const FdRow& r = rows_[j];
  const std::size_t nf = nf_;
  const bool linear = r.curve == nullptr || std::holds_alternative<LinearLayer>(*r.curve);
  const double scale = static_cast<double>(GRID_PER_DECADE) / std::numbers::ln10;
  const double low = std::log(GRID_LOW);
  const double le = log_effective_[j], eg = exact_g_[j], ed = exact_d_[j];
  const double* tg = &table_g_[j * GRID];
  const double* td = &table_d_[j * GRID];
  double gmin = 1.0, dmax = 0.0, change = 0.0;
  for (std::size_t k = 0; k < nf; ++k) {
    double ng = eg, nd = ed;
    if (lg[k] != le) {
      const double t = std::clamp((lg[k] - low) * scale, 0.0, static_cast<double>(GRID - 1));
      const auto q = std::min(static_cast<std::size_t>(t), GRID - 2);
      const double w = t - static_cast<double>(q);
      ng = tg[q] + w * (tg[q + 1] - tg[q]);
      nd = td[q] + w * (td[q + 1] - td[q]);
    }
    gmin = std::min(gmin, ng), dmax = std::max(dmax, nd);
    if (compare) {
      change = std::max(change, std::abs(ng - g[k]) / ng);
      if (nd > 0.0) change = std::max(change, std::abs(nd - d[k]) / nd);
    } else {
      g[k] = ng, d[k] = nd;
    }
  }
  const double ceiling = law_ == DampingLaw::DORMIEUX ? 0.5 : 1.0;
  if (!linear && (!(dmax <= ceiling) || !(gmin > 0.0))) {
    throw AnalysisError(layer_name(r.parent) + " (" + curve_name(*r.curve) + "): the curve gives G/Gmax " +
                        number(gmin) + " and damping " + number(dmax) + " at some frequency, outside what the '" +
                        damping_law_name(law_) + "' law accepts");
  }
  return linear ? 0.0 : change;
}

double FdColumn::measure(const double* re, const double* im, std::span<const double> effective) {
  const std::size_t M = rows_.size(), nf = nf_;
  if (g_.size() != M * nf) size_arrays();
  const double floor = std::log(GRID_LOW);
  double change = 0.0;
  for (std::size_t j = 0; j < M; ++j) {
    const FdRow& r = rows_[j];
    const double* sr = re + j * nf;
    const double* si = im + j * nf;
    for (std::size_t k = 0; k < nf; ++k) amp_[k] = std::sqrt(sr[k] * sr[k] + si[k] * si[k]);
    double* lg = &next_[j * nf];
    shape(j, amp_.data(), effective[j], lg);
    // Below the grid every strain reads the same values.
    for (std::size_t k = 0; k < nf; ++k) lg[k] = std::max(lg[k], floor);
    const bool linear = r.curve == nullptr || std::holds_alternative<LinearLayer>(*r.curve);
    double eg = 1.0, ed = r.xi0;
    if (!linear) {
      const CurvePoint pt = evaluate_curve(*r.curve, effective[j], r.sigma_m);
      eg = pt.g_ratio, ed = std::max(0.0, pt.damping + r.d_shift);
    }
    exact_g_[j] = eg, exact_d_[j] = ed, log_effective_[j] = std::log(effective[j]);
    change = std::max(change, lookup(j, lg, &g_[j * nf], &d_[j * nf], true));
  }
  return change;
}

void FdColumn::advance() {
  const std::size_t M = rows_.size(), nf = nf_;
  std::copy(next_.begin(), next_.end(), gam_.begin());
  for (std::size_t j = 0; j < M; ++j) {
    lookup(j, &gam_[j * nf], &g_[j * nf], &d_[j * nf], false);
    properties(j);
  }
}

void FdColumn::properties(std::size_t j) {
  const std::size_t nf = nf_;
  const FdRow& r = rows_[j];
  const double gmax = r.density * r.vs0 * r.vs0;
  const double* g = &g_[j * nf];
  const double* d = &d_[j * nf];
  double* cr = &cr_[j * nf];
  double* ci = &ci_[j * nf];
  double* mr = &mr_[j * nf];
  double* mi = &mi_[j * nf];
  const double theta = angle_ * std::numbers::pi / 180.0;
  const cdouble p = std::sin(theta) * half_slowness_;
  switch (law_) {
    case DampingLaw::SEED: row_constants<DampingLaw::SEED>(nf, gmax, r.vs0, g, d, cr, ci, mr, mi); break;
    case DampingLaw::KRAMER: row_constants<DampingLaw::KRAMER>(nf, gmax, r.vs0, g, d, cr, ci, mr, mi); break;
    case DampingLaw::DORMIEUX: row_constants<DampingLaw::DORMIEUX>(nf, gmax, r.vs0, g, d, cr, ci, mr, mi); break;
    case DampingLaw::VELMAR: row_constants<DampingLaw::VELMAR>(nf, gmax, r.vs0, g, d, cr, ci, mr, mi); break;
  }
  if (angle_ != 0.0) {
    for (std::size_t k = 0; k < nf; ++k) {
      const cdouble s{cr[k], ci[k]};
      const cdouble c = csqrt_decaying(s * s - p * p);
      cr[k] = c.real(), ci[k] = c.imag();
    }
  }
  for (std::size_t k = 0; k < nf; ++k) {
    const double a = mr[k] * cr[k] - mi[k] * ci[k], b = mr[k] * ci[k] + mi[k] * cr[k];
    mr[k] = a, mi[k] = b;  // M c
  }
}

void FdColumn::set(std::span<const double> g, std::span<const double> d) {
  size_arrays();
  std::copy(g.begin(), g.end(), g_.begin());
  std::copy(d.begin(), d.end(), d_.begin());
}

void FdColumn::strain_spectra(const double* y_re, const double* y_im, const double* within_depth, double floor,
                              double* re, double* im) {
  const std::size_t M = rows_.size(), nf = nf_;
  const double theta = angle_ * std::numbers::pi / 180.0;
  const cdouble cN = std::cos(theta) * half_slowness_;
  // The row holding the depth of a within input and the distance below its top.
  std::size_t jd = M;
  double zeta = 0.0;
  if (within_depth) {
    double top = 0.0;
    for (jd = 0; jd < M && !(*within_depth < top + rows_[jd].thickness); ++jd) top += rows_[jd].thickness;
    zeta = *within_depth - top;
  }
  // Lanes: rho (2), per row F (2), the depth row's rho (2), T (2), factors (2).
  sweep_.resize((2 * M + 8) * BLOCK);
  double* rr = sweep_.data();
  double* ri = rr + BLOCK;
  double* fbase = ri + BLOCK;
  double* dr = fbase + 2 * M * BLOCK;
  double* di = dr + BLOCK;
  double* tr = di + BLOCK;
  double* ti = tr + BLOCK;
  double* ur = ti + BLOCK;
  double* ui = ur + BLOCK;
  const double two_pi_df = 2.0 * std::numbers::pi * df_;
  for (std::size_t start = 0; start < nf; start += BLOCK) {
    const std::size_t count = std::min(BLOCK, nf - start);
    for (std::size_t i = 0; i < BLOCK; ++i) rr[i] = 1.0, ri[i] = 0.0;
    for (std::size_t n = 0; n < M; ++n) {
      const std::size_t at = n * nf + start;
      const double* c_r = &cr_[at];
      const double* c_i = &ci_[at];
      const double* m_r = &mr_[at];
      const double* m_i = &mi_[at];
      const double* n_r = &mr_[at + nf];  // row M: the half-space's
      const double* n_i = &mi_[at + nf];
      double* sr = re + at;
      double* si = im + at;
      double* fr = fbase + 2 * n * BLOCK;
      double* fi = fr + BLOCK;
      if (n == jd) {
        for (std::size_t i = 0; i < count; ++i) dr[i] = rr[i], di[i] = ri[i];
      }
      const double hh = 0.5 * rows_[n].thickness;
      forward_row(count, &omega_[start], hh, c_r, c_i, m_r, m_i, n_r, n_i, rr,
                  ri, sr, si, fr, fi);
    }
    // Backward: T = B_{n+1} per unit B_M; strain = S T; T *= F_n.
    for (std::size_t i = 0; i < BLOCK; ++i) tr[i] = 1.0, ti[i] = 0.0;
    if (within_depth && jd == M) {
      for (std::size_t i = 0; i < count; ++i) {
        const double w = two_pi_df * static_cast<double>(start + i);
        const cdouble ph = cdouble{0.0, w} * cN * zeta;
        const cdouble u = cdouble{rr[i], ri[i]} * std::exp(ph) + std::exp(-ph);
        ur[i] = u.real(), ui[i] = u.imag();
      }
    }
    for (std::size_t n = M; n-- > 0;) {
      const std::size_t at = n * nf + start;
      double* sr = re + at;
      double* si = im + at;
      const double* fr = fbase + 2 * n * BLOCK;
      const double* fi = fr + BLOCK;
      for (std::size_t i = 0; i < count; ++i) {
        const double a = sr[i] * tr[i] - si[i] * ti[i];
        si[i] = sr[i] * ti[i] + si[i] * tr[i];
        sr[i] = a;
        const double t2 = tr[i] * fr[i] - ti[i] * fi[i];
        ti[i] = tr[i] * fi[i] + ti[i] * fr[i];
        tr[i] = t2;
      }
      if (within_depth && n == jd) {
        for (std::size_t i = 0; i < count; ++i) {
          const double w = two_pi_df * static_cast<double>(start + i);
          const cdouble ph = cdouble{0.0, w} * cdouble{cr_[at + i], ci_[at + i]} * zeta;
          const cdouble u = cdouble{tr[i], ti[i]} * (cdouble{dr[i], di[i]} * std::exp(ph) + std::exp(-ph));
          ur[i] = u.real(), ui[i] = u.imag();
        }
      }
    }
    // The scale of every lane, then every row's strains times it.
    double* xr = tr;
    double* xi = ti;
    for (std::size_t i = 0; i < count; ++i) {
      cdouble f{y_re[start + i], y_im[start + i]};
      if (within_depth) {
        const cdouble u{ur[i], ui[i]};
        if (!std::isfinite(u.real()) || !std::isfinite(u.imag())) {
          throw AnalysisError("the motion at the input depth " + number(*within_depth) +
                              " m leaves the range of numbers at " + number(static_cast<double>(start + i) * df_) +
                              " Hz: give the record at a shallower depth");
        }
        f *= std::conj(u) / std::max(std::norm(u), floor);
      }
      xr[i] = f.real(), xi[i] = f.imag();
    }
    for (std::size_t n = 0; n < M; ++n) {
      double* sr = re + n * nf + start;
      double* si = im + n * nf + start;
      for (std::size_t i = 0; i < count; ++i) {
        const double a = sr[i] * xr[i] - si[i] * xi[i];
        si[i] = sr[i] * xi[i] + si[i] * xr[i];
        sr[i] = a;
      }
    }
  }
}

void FdColumn::response_at(double depth, std::span<cdouble> u, std::span<cdouble> strain,
                           std::span<cdouble> stress) const {
  const std::size_t M = rows_.size(), nf = nf_;
  ShMedium medium;
  medium.thickness.resize(M);
  medium.modulus.resize(M + 1);
  medium.slowness.resize(M + 1);
  for (std::size_t j = 0; j < M; ++j) medium.thickness[j] = rows_[j].thickness;
  medium.modulus[M] = half_modulus_, medium.slowness[M] = half_slowness_;
  ShResponseWork work;
  const double z[1] = {depth};
  for (std::size_t k = 0; k < nf; ++k) {
    for (std::size_t j = 0; j < M; ++j) {
      const FdRow& r = rows_[j];
      const double g = g_[j * nf + k], d = d_[j * nf + k];
      const LawFactors f = law_factors(d, law_);
      const double sq = std::sqrt(g);
      const double gm = r.density * r.vs0 * r.vs0 * g;
      medium.modulus[j] = {gm * f.mr, gm * f.mi};
      medium.slowness[j] = {f.sr / (r.vs0 * sq), f.si / (r.vs0 * sq)};
    }
    const double f[1] = {static_cast<double>(k) * df_};
    const auto one = [k](std::span<cdouble> s) { return s.empty() ? s : s.subspan(k, 1); };
    cdouble u1;
    sh_response(medium, angle_, f, z, u.empty() ? std::span<cdouble>(&u1, 1) : one(u), one(strain), one(stress), work);
  }
}

}  // namespace velmar::detail
